// Replays the damaged settings files through the store: each is loaded, every key the script
// list reads is read, the store saves and loads again, and every value that could be read
// before must read the same after. Each file runs in a child process, so that a crash is
// counted against its file instead of ending the run; a hang is caught by the test's timeout.
#include "corpus/SettingsCorpus.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/log.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

using testing_support::TempDir;

namespace {

// What the script list reads: the count and five values of each of its 31 sections (one
// more, to see a section past the end).
std::map<wxString, wxString> ReadEverything(const host::Settings& config) {
    std::map<wxString, wxString> values;
    auto read = [&](const wxString& key) {
        if (config.HasKey(key))
            values[key] = config.Read(key, wxString()) + "|" +
                          wxString::Format("%d", config.ReadInt(key, -7)) + "|" +
                          (config.ReadBool(key, false) ? "t" : "f") +
                          (config.ReadBool(key, true) ? "t" : "f");
    };
    read("/Coilhatch/Counts");
    for (int i = 0; i < 32; ++i) {
        const wxString prefix = wxString::Format("/Coilhatch/Script%d/", i);
        for (const char* field : {"autoRun", "autoReload", "name", "location", "description"})
            read(prefix + field);
    }
    return values;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

enum Outcome { Fine, ValuesLost, SaveFailed, BackupWrong, SaveRefused, Outcomes };
const char* const outcomeNames[Outcomes] = {"ok", "values lost", "save failed",
                                            "damaged file not kept",
                                            "save refused (over 16 MB), file kept"};

// The child's work for one file; its result is the exit status.
int Replay(const std::string& folder, const std::string& bytes) {
    wxLogNull quiet;
    const std::string path = folder + "/Coilhatch.xml";
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    std::map<wxString, wxString> before;
    bool damaged = false;
    bool refused = false;
    {
        host::Settings config(path);
        before = ReadEverything(config);
        damaged = !config.GetBackupPath().empty();
        // Settings that would exceed the size limit once written are refused and the file is
        // left as it was: a file close to the limit can load and yet not be saved again.
        refused = !config.Save();
        if (refused && (!config.GetLastError().Contains("16 MB") || ReadBytes(path) != bytes))
            return SaveFailed;
    }
    if (damaged && !refused && ReadBytes(path + ".bak") != bytes)
        return BackupWrong;
    const std::map<wxString, wxString> after = ReadEverything(host::Settings(path));
    size_t lost = 0;
    for (const auto& [key, value] : before) {
        const auto found = after.find(key);
        lost += found == after.end() || found->second != value ? 1 : 0;
    }
    std::ofstream(folder + "/counts") << before.size() << ' ' << lost;
    return lost ? ValuesLost : refused ? SaveRefused : Fine;
}

TEST(HostConfigReplay, DamagedFilesNeitherCrashNorLoseReadableValues) {
    const auto samples = settings_corpus::DamagedSettingsFiles();
    ASSERT_GT(samples.size(), 300u);
    int crashes = 0;
    int outcomes[Outcomes] = {};
    size_t valuesRead = 0;
    size_t valuesLost = 0;
    for (const auto& sample : samples) {
        TempDir folder;
        const std::string local(folder.Path().fn_str());
        const int status =
            testing_support::WaitStatusOfChild([&] { return Replay(local, sample.bytes); });
        ASSERT_NE(status, -1);
        if (WIFSIGNALED(status)) {
            ++crashes;
            ADD_FAILURE() << sample.name << ": signal " << WTERMSIG(status);
            continue;
        }
        const int outcome = std::min(WEXITSTATUS(status), int(Outcomes) - 1);
        ++outcomes[outcome];
        std::printf("  %-32s %s\n", sample.name.c_str(), outcomeNames[outcome]);
        std::ifstream counts(local + "/counts");
        size_t read = 0;
        size_t lost = 0;
        if (counts >> read >> lost) {
            valuesRead += read;
            valuesLost += lost;
        }
        EXPECT_TRUE(outcome == Fine || outcome == SaveRefused)
            << sample.name << ": " << outcomeNames[outcome];
    }
    std::printf("settings replay: %zu files, %d crashes, %zu values read, %zu lost (in %d "
                "files), %d saves failed, %d damaged files not kept, %d saves refused\n",
                samples.size(), crashes, valuesRead, valuesLost, outcomes[ValuesLost],
                outcomes[SaveFailed], outcomes[BackupWrong], outcomes[SaveRefused]);
}

TEST(HostConfigReplay, TheCorpusIsTheSameForTheSameSeed) {
    const auto first = settings_corpus::DamagedSettingsFiles(7);
    const auto again = settings_corpus::DamagedSettingsFiles(7);
    const auto other = settings_corpus::DamagedSettingsFiles(8);
    ASSERT_EQ(first.size(), again.size());
    bool differs = false;
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].name, again[i].name);
        EXPECT_TRUE(first[i].bytes == again[i].bytes) << first[i].name;
        differs = differs || first[i].bytes != other[i].bytes;
    }
    EXPECT_TRUE(differs) << "the seed changes the random damage";
}

} // namespace
