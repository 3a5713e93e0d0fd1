// Replays the damaged settings files through the script list's load and save (Open and Close
// with the settings store). Each file runs in a child process, so that a crash or a hang is
// counted against its file instead of ending the run. Nothing may be lost: every section with a
// name that could be read before the save is in the file after it, or, beyond the list's
// capacity, in the backup, which holds the file exactly as it was.
#include "corpus/SettingsCorpus.h"
#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "registry/ScriptRegistry.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>
#include <wx/log.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using testing_support::TempDir;

namespace {

// A child still working after this long counts as hung.
constexpr unsigned hangSeconds = 60;

// The names of the sections the file holds, in the order of their numbers.
std::vector<wxString> SectionNames(const wxString& path) {
    const CConfigManagement config(path);
    std::vector<wxString> names;
    for (unsigned i = 0; i < ScriptRegistry::SectionSearchLimit; ++i) {
        const wxString key = wxString::Format("/Coilhatch/Script%u/name", i);
        if (config.HasKey(key))
            names.push_back(config.Read(key, wxString()));
    }
    return names;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

enum Outcome { Fine, SectionsLost, BackupWrong, Outcomes };
const char* const outcomeNames[Outcomes] = {"ok", "sections lost", "backup differs"};

// The child's work for one file; its result is the exit status.
int Replay(const std::string& folder, const std::string& bytes) {
    alarm(hangSeconds);
    wxLogNull quiet;
    const std::string path = folder + "/Coilhatch.xml";
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    const std::vector<wxString> before = SectionNames(path);

    ScriptRegistry registry;
    registry.Open(path);
    registry.Close();

    const bool kept = wxFileName::FileExists(path + ".bak");
    if (kept && ReadBytes(path + ".bak") != bytes)
        return BackupWrong;
    const std::vector<wxString> after = SectionNames(path);
    size_t lost = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        const bool saved = std::find(after.begin(), after.end(), before[i]) != after.end();
        // Past the list's capacity a section can only live on in the backup.
        const bool fits = i < MaxScriptNum;
        lost += (fits && !saved && ReadBytes(path) != bytes) || (!fits && !kept) ? 1 : 0;
    }
    std::ofstream(folder + "/counts") << before.size() << ' ' << lost << ' ' << kept;
    return lost ? SectionsLost : Fine;
}

// The corpus runs in parts, so that each part stays well within a test's time limit (every save
// is flushed to disk, twice).
constexpr int parts = 4;

class ScriptListReplay : public testing_support::WxTest,
                         public ::testing::WithParamInterface<int> {};

TEST(ScriptListReplayCorpus, IsLargeEnough) {
    EXPECT_GT(settings_corpus::DamagedSettingsFiles().size(), 300u);
}

TEST_P(ScriptListReplay, DamagedFilesNeitherCrashNorHangNorLoseSections) {
    const auto all = settings_corpus::DamagedSettingsFiles();
    std::vector<settings_corpus::Sample> samples;
    for (size_t i = static_cast<size_t>(GetParam()); i < all.size(); i += parts)
        samples.push_back(all[i]);
    int crashes = 0;
    int hangs = 0;
    int outcomes[Outcomes] = {};
    size_t sectionsRead = 0;
    size_t sectionsLost = 0;
    size_t backups = 0;
    for (const auto& sample : samples) {
        TempDir folder;
        const std::string local(folder.Path().fn_str());
        std::fflush(nullptr);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            _exit(Replay(local, sample.bytes));
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (WIFSIGNALED(status)) {
            const bool hung = WTERMSIG(status) == SIGALRM;
            ++(hung ? hangs : crashes);
            ADD_FAILURE() << sample.name << (hung ? ": hung" : ": signal ") << WTERMSIG(status);
            continue;
        }
        const int outcome = std::min(WEXITSTATUS(status), int(Outcomes) - 1);
        ++outcomes[outcome];
        std::ifstream counts(local + "/counts");
        size_t read = 0;
        size_t lost = 0;
        int kept = 0;
        if (counts >> read >> lost >> kept) {
            sectionsRead += read;
            sectionsLost += lost;
            backups += kept ? 1 : 0;
        }
        EXPECT_EQ(outcome, Fine) << sample.name << ": " << outcomeNames[outcome];
    }
    std::printf("script list replay, part %d of %d: %zu files, %d crashes, %d hangs, %zu sections "
                "read, %zu "
                "lost, %d backups differing, %zu files kept as backups\n",
                GetParam() + 1, parts, samples.size(), crashes, hangs, sectionsRead, sectionsLost,
                outcomes[BackupWrong], backups);
}

INSTANTIATE_TEST_SUITE_P(Parts, ScriptListReplay, ::testing::Range(0, parts));

} // namespace
