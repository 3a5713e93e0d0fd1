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

// A section of the file and its place in the order the list loads them: by number, however
// large, then in the file's order. Within the list's capacity only sections with a name that
// can be read are followed; past it every section counts, named or not, as it can only live on
// in the backup. (Each read by position walks the sections before it: names past the capacity
// would make a file of a hundred thousand sections take minutes.)
struct NamedSection {
    size_t place;
    wxString name;
};

std::vector<NamedSection> SectionNames(const wxString& path) {
    const host::Settings config(path);
    const wxArrayString children = config.GetChildNames("/Coilhatch");
    std::vector<std::pair<wxString, size_t>> sections; // number without leading zeros, position
    for (size_t i = 0; i < children.size(); ++i) {
        wxString digits;
        if (!children[i].StartsWith("Script", &digits) || digits.empty() ||
            digits.find_first_not_of("0123456789") != wxString::npos)
            continue;
        while (digits.length() > 1 && digits[0] == '0')
            digits.Remove(0, 1);
        sections.emplace_back(digits, i);
    }
    std::stable_sort(sections.begin(), sections.end(), [](const auto& a, const auto& b) {
        return a.first.length() != b.first.length() ? a.first.length() < b.first.length()
                                                    : a.first < b.first;
    });
    std::vector<NamedSection> named;
    for (size_t place = 0; place < sections.size(); ++place) {
        if (place >= MaxScriptNum) {
            named.push_back(NamedSection{place, wxString()});
            continue;
        }
        // A section that the damage cut short is not read whole: it lives on in the backup.
        const wxString section = config.GetChildKey("/Coilhatch", sections[place].second);
        if (!config.IsWhole(section))
            continue;
        const wxString key = section + "/name";
        if (config.HasKey(key))
            named.push_back(NamedSection{place, config.Read(key, wxString())});
    }
    return named;
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
    const std::vector<NamedSection> before = SectionNames(path);

    // How many sections the file holds (as far as a list could take them) and whether the store
    // could parse it: what a damaged file's load leaves out.
    size_t present = 0;
    for (size_t at = bytes.find("<Script"); at != std::string::npos && present < MaxScriptNum;
         at = bytes.find("<Script", at + 1))
        ++present;
    const bool unparsed = !host::Settings(path).GetBackupPath().empty();

    ScriptRegistry registry;
    registry.Open(path);
    const unsigned loaded = scriptList->GetCount();
    registry.Close();

    const bool kept = wxFileName::FileExists(path + ".bak");
    if (kept && ReadBytes(path + ".bak") != bytes)
        return BackupWrong;
    // Each saved name stands for one section: two sections of one name need it twice.
    std::vector<wxString> after;
    for (const NamedSection& section : SectionNames(path))
        after.push_back(section.name);
    const bool rewritten = ReadBytes(path) != bytes;
    size_t lost = 0;
    for (const NamedSection& section : before) {
        const auto match = std::find(after.begin(), after.end(), section.name);
        const bool saved = match != after.end();
        if (saved)
            after.erase(match);
        // Past the list's capacity a section can only live on in the backup.
        const bool fits = section.place < MaxScriptNum;
        lost += (fits && !saved && rewritten) || (!fits && !kept) ? 1 : 0;
    }
    std::ofstream(folder + "/counts") << before.size() << ' ' << lost << ' ' << kept << ' '
                                      << loaded << ' ' << present << ' ' << unparsed;
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
    size_t loadedTotal = 0;
    size_t unparsedFiles = 0;
    size_t unparsedSections = 0;
    size_t unparsedLoaded = 0;
    for (const auto& sample : samples) {
        TempDir folder;
        const std::string local(folder.Path().fn_str());
        const int status =
            testing_support::WaitStatusOfChild([&] { return Replay(local, sample.bytes); });
        ASSERT_NE(status, -1);
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
        size_t loaded = 0;
        size_t present = 0;
        int unparsed = 0;
        if (counts >> read >> lost >> kept >> loaded >> present >> unparsed) {
            loadedTotal += loaded;
            if (unparsed) {
                ++unparsedFiles;
                unparsedSections += present;
                unparsedLoaded += std::min(loaded, present);
            }
            sectionsRead += read;
            sectionsLost += lost;
            backups += kept ? 1 : 0;
        }
        EXPECT_EQ(outcome, Fine) << sample.name << ": " << outcomeNames[outcome];
    }
    std::printf("script list replay, part %d of %d: %zu files, %d crashes, %d hangs, %zu sections "
                "read, %zu lost, %zu scripts loaded, %d backups differing, %zu files kept as "
                "backups\n",
                GetParam() + 1, parts, samples.size(), crashes, hangs, sectionsRead, sectionsLost,
                loadedTotal, outcomes[BackupWrong], backups);
    std::printf("  files the store could not parse: %zu, with %zu sections (31 at most a file); "
                "%zu of them loaded, %zu left out\n",
                unparsedFiles, unparsedSections, unparsedLoaded, unparsedSections - unparsedLoaded);
}

INSTANTIATE_TEST_SUITE_P(Parts, ScriptListReplay, ::testing::Range(0, parts));

} // namespace
