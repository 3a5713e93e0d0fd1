// Two editors saving one settings file at the same moment, as two processes: the lock beside the
// file keeps their saves apart, and the merge keeps what each added.
#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "registry/ScriptRegistry.h"
#include "registry/SettingsStore.h"
#include "tests/support/ScriptEntries.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>
#include <wx/stdpaths.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
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

// Another editor's process holding the lock until told: on "w" it writes a script of its own
// into the file (its save) and lets go; on "q" it lets go without writing.
class Holder {
public:
    explicit Holder(const wxString& path) {
        EXPECT_EQ(pipe(toChild), 0);
        EXPECT_EQ(pipe(fromChild), 0);
        pid = Editor([this, path] {
            const SettingsLock lock(path);
            char byte = lock.Held() ? 'y' : 'n';
            if (write(fromChild[1], &byte, 1) != 1 || read(toChild[0], &byte, 1) != 1)
                return 1;
            if (byte == 'w') {
                host::Settings theirs(path);
                theirs.Write("/Coilhatch/Counts", 1);
                theirs.Write("/Coilhatch/Script0/name", wxString("theirs"), false);
                theirs.Write("/Coilhatch/Script0/location", wxString("/s/theirs.py"), false);
                theirs.Save();
            }
            return 0;
        });
        char held = 0;
        EXPECT_EQ(read(fromChild[0], &held, 1), 1);
        EXPECT_EQ(held, 'y');
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    ~Holder() {
        Finish('q');
        for (const int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
            close(fd);
    }
    void Finish(char how) {
        if (pid <= 0)
            return;
        EXPECT_EQ(write(toChild[1], &how, 1), 1);
        EXPECT_EQ(ExitStatus(pid), 0);
        pid = 0;
    }
    pid_t pid = 0;

private:
    int toChild[2];
    int fromChild[2];
};

// A live holder's lock is never broken, however long it is held (it may be stopped in a
// debugger): its save, once it goes on, would replace this one. The save waits as long as it
// may, tells who holds the lock, keeps the list and saves it, merged with what the holder wrote,
// once the lock is free.
TEST_P(ConcurrentSaves, ALockHeldByALiveEditorIsNeverBroken) {
    const wxString before = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config/>\n";
    dir.Write("Coilhatch.xml", before);
    scriptList = new ScriptList;
    ScriptRegistry registry;
    registry.lockPatienceMs = 20;
    registry.retryMs = 5;
    registry.Open(path);
    Holder holder(path);
    testing_support::AddScriptEntry("mine", "/s/mine.py", "", false, false);

    // Twice, as the dialog's OK would: told once, and the second does not wait again (its
    // patience would outlast the test).
    for (int attempt = 0; attempt < 2; ++attempt) {
        registry.SaveChanges();
        registry.lockPatienceMs = 600000;
        EXPECT_TRUE(registry.SavePending());
        EXPECT_EQ(ReadFile(path), before);
        EXPECT_FALSE(wxFileName::Exists(path + ".bak"));
    }
    const std::vector<wxString> texts = modal.TakeTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].Contains("not saved yet")) << texts[0];
    EXPECT_TRUE(texts[0].Contains(wxString::Format("process %d", holder.pid))) << texts[0];
    EXPECT_TRUE(texts[0].Contains(SettingsLock::LockPath(path))) << texts[0];

    holder.Finish('w');
    EXPECT_TRUE(testing_support::ProcessEventsUntil([&] { return !registry.SavePending(); }));
    EXPECT_EQ(SavedNames(path), (std::set<wxString>{"theirs", "mine"}));
    EXPECT_EQ(modal.PendingCount(), 0u);
    registry.Close();
    EXPECT_EQ(SavedNames(path), (std::set<wxString>{"theirs", "mine"}));
    EXPECT_FALSE(wxFileName::Exists(path + ".bak"));
}

// Still held at the release: the file is left to its holder, and the list is written to a
// settings file of its own beside it, which the message names.
TEST_P(ConcurrentSaves, AtTheReleaseAHeldLockLeavesTheListBesideTheFile) {
    scriptList = new ScriptList;
    ScriptRegistry registry;
    registry.lockPatienceMs = 20;
    registry.Open(path);
    const Holder holder(path);
    testing_support::AddScriptEntry("mine", "/s/mine.py", "", false, false);
    const mode_t mask = umask(0777);
    registry.Close();
    umask(mask);
    EXPECT_FALSE(wxFileName::Exists(path));
    const wxString aside = path + ".bak";
    EXPECT_EQ(SavedNames(aside), std::set<wxString>{"mine"});
    struct stat st {};
    ASSERT_EQ(stat(aside.fn_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    const std::vector<wxString> texts = modal.TakeTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].Contains("\"" + aside + "\"")) << texts[0];
    EXPECT_TRUE(texts[0].Contains(wxString::Format("process %d", holder.pid))) << texts[0];
}

// Who holds the lock, as told: its process, its name, and whether it is stopped.
TEST_P(ConcurrentSaves, TheHolderIsNamedAndAStoppedOneSaidToBe) {
    const Holder holder(path);
    const wxString name = wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetFullName();
    EXPECT_TRUE(SettingsLock(path, 0).Why().Contains(
        wxString::Format("process %d (%s) has held", holder.pid, name.Left(15))))
        << SettingsLock(path, 0).Why();
    ASSERT_EQ(kill(holder.pid, SIGSTOP), 0);
    int status = 0;
    ASSERT_EQ(waitpid(holder.pid, &status, WUNTRACED), holder.pid);
    const wxString why = SettingsLock(path, 0).Why();
    kill(holder.pid, SIGCONT);
    EXPECT_TRUE(why.Contains("which is stopped")) << why;
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
