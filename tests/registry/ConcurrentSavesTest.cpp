// Two editors saving one settings file at the same moment, as two processes: the lock beside the
// file keeps their saves apart, and the merge keeps what each added.
#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "registry/ScriptRegistry.h"
#include "registry/SettingsStore.h"
#include "tests/support/ScriptEntries.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <vector>

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

std::set<wxString> SavedNames(const wxString& path) {
    std::set<wxString> names;
    const host::Settings saved(path);
    for (int i = 0; i < saved.ReadInt("/Coilhatch/Counts", 0); ++i)
        names.insert(saved.Read(wxString::Format("/Coilhatch/Script%d/name", i), ""));
    return names;
}

// Runs the body in a child process (one editor); its result is the child's exit status.
pid_t Editor(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body()); // nothing of the parent's toolkit is torn down here
    return pid;
}

int ExitStatus(pid_t pid) {
    int status = -1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// With the editor's settings extension and without it (the interface alone).
class ConcurrentSaves : public testing_support::WxTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { host::SetStrictInterface(GetParam()); }
    void TearDown() override {
        delete scriptList;
        scriptList = nullptr;
        host::SetStrictInterface(false);
        WxTest::TearDown();
    }
    TempDir dir;
    const wxString path = dir.File("Coilhatch.xml");
};

// Each editor, fifteen times over: starts, adds a script in the dialog, closes the dialog (a
// save) and the editor (a release). Each then checks that all it added is in the file; at the
// end the file holds all thirty.
TEST_P(ConcurrentSaves, TwoProcessesAddingScriptsAtOnceLoseNone) {
    constexpr int rounds = 15;
    std::vector<pid_t> editors;
    for (int who = 0; who < 2; ++who) {
        editors.push_back(Editor([&, who] {
            int missing = 0;
            for (int round = 0; round < rounds; ++round) {
                ScriptRegistry registry;
                registry.Open(path);
                testing_support::AddScriptEntry(wxString::Format("e%d-%d", who, round), "/s/x.py",
                                                "", false, false);
                registry.SaveChanges();
                registry.Close();
                const std::set<wxString> saved = SavedNames(path);
                for (int mine = 0; mine <= round; ++mine)
                    missing += saved.count(wxString::Format("e%d-%d", who, mine)) ? 0 : 1;
            }
            // A message box (a conflict, a failed save) would have been a failure too.
            return missing + static_cast<int>(modal.PendingCount()) * 100;
        }));
    }
    for (const pid_t editor : editors)
        EXPECT_EQ(ExitStatus(editor), 0);
    const std::set<wxString> saved = SavedNames(path);
    EXPECT_EQ(saved.size(), 2u * rounds) << ReadFile(path);
    EXPECT_FALSE(wxFileName::Exists(path + ".bak"));
}

// The lock is held by a live process: a save waits for it as long as it may, then saves all the
// same, keeping the file as it was and saying why.
TEST_P(ConcurrentSaves, ALockHeldTooLongIsToldAndTheFileKept) {
    int toChild[2];
    int fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    const pid_t holder = Editor([&] {
        const SettingsLock lock(path);
        char byte = lock.Held() ? 'y' : 'n';
        if (write(fromChild[1], &byte, 1) != 1 || read(toChild[0], &byte, 1) != 1)
            return 1;
        return 0;
    });
    char held = 0;
    ASSERT_EQ(read(fromChild[0], &held, 1), 1);
    ASSERT_EQ(held, 'y');

    const SettingsLock waited(path, 20);
    EXPECT_FALSE(waited.Held());
    EXPECT_TRUE(waited.Why().Contains(SettingsLock::LockPath(path))) << waited.Why();

    dir.Write("Coilhatch.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config/>\n");
    scriptList = new ScriptList;
    ScriptRegistry registry;
    registry.lockPatienceMs = 20;
    registry.Open(path);
    testing_support::AddScriptEntry("mine", "/s/mine.py", "", false, false);
    registry.Close();
    EXPECT_EQ(SavedNames(path), std::set<wxString>{"mine"});
    EXPECT_TRUE(wxFileName::Exists(path + ".bak"));
    const std::vector<wxString> texts = modal.TakeTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].Contains("without waiting for another editor's save")) << texts[0];

    // Once it ends, the lock is free at once.
    const char byte = 'x';
    ASSERT_EQ(write(toChild[1], &byte, 1), 1);
    EXPECT_EQ(ExitStatus(holder), 0);
    EXPECT_TRUE(SettingsLock(path, 0).Held());
    for (const int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
        close(fd);
}

// A process killed while it held the lock leaves the lock file behind, never the lock; a lock
// file a script's umask made unreadable is made the owner's again.
TEST_P(ConcurrentSaves, ALockLeftByADeadProcessNeverBlocks) {
    const pid_t killed = Editor([&] {
        const SettingsLock lock(path);
        kill(getpid(), SIGKILL);
        return 0;
    });
    EXPECT_EQ(ExitStatus(killed), 128 + SIGKILL);
    ASSERT_TRUE(wxFileName::Exists(SettingsLock::LockPath(path)));
    EXPECT_TRUE(SettingsLock(path, 0).Held());

    ASSERT_EQ(chmod(SettingsLock::LockPath(path).fn_str(), 0), 0);
    EXPECT_TRUE(SettingsLock(path, 0).Held());
    struct stat st {};
    ASSERT_EQ(stat(SettingsLock::LockPath(path).fn_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0600, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Extension, ConcurrentSaves, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "InterfaceAlone" : "WithTheExtension";
                         });

} // namespace
