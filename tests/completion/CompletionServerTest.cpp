// The completion server as the editor meets it: answers that come later than asked (a server
// held stopped) and whether they still fit, a socket someone else bound before the editor
// started, wx's modules at any depth and the call tips of their methods, a "(" typed, and
// nothing left behind however the server ends.
#include "tests/completion/CompletionFixture.h"

#include <wx/weakref.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

using testing_support::TempDir;

namespace {

// Holds the server stopped (SIGSTOP) while it lives, so that answers come only afterwards.
class ServerStopped {
public:
    explicit ServerStopped(pid_t pid) : pid(pid) { EXPECT_EQ(kill(pid, SIGSTOP), 0); }
    ~ServerStopped() { kill(pid, SIGCONT); }
    ServerStopped(const ServerStopped&) = delete;
    ServerStopped& operator=(const ServerStopped&) = delete;

private:
    pid_t pid;
};

bool IsFolder(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

class CompletionServerTest : public CompletionFixture {
protected:
    void SetUp() override {
        CompletionFixture::SetUp();
        CopyShippedCompletion();
    }

    // Attached, with a server that has answered once.
    void AttachWarm() {
        Attach();
        Open("warm.py", "import os\nos.pa");
        ASSERT_TRUE(Complete());
        editor->AutoCompCancel();
        ASSERT_GT(plugin.completion.Server().Pid(), 0);
    }

    // A new document, current from now on.
    void NewDocument(const wxString& fileName, const wxString& text) {
        editor = new host::SyntaxEditor(env->Frame());
        current = editor;
        Open(fileName, text);
    }
};

// What happens between the request and its answer decides what shows: the answer is shown
// where the document and caret are as they were, or only more of the word has been typed.
TEST_F(CompletionServerTest, AnAnswerThatComesLaterShowsOnlyWhereItStillFits) {
    AttachWarm();
    struct Case {
        const char* what;
        std::function<void()> meanwhile;
        bool listed;
    };
    const Case cases[] = {
        {"nothing", [] {}, true},
        {"more of the word typed", [this] { editor->AddText("t"); }, true},
        {"the caret moved", [this] { editor->GotoPos(0); }, false},
        {"text changed before the caret", [this] { editor->InsertText(0, "# note\n"); }, false},
        {"the word shortened", [this] { editor->DeleteBack(); }, false},
        {"a space typed", [this] { editor->AddText(" "); }, false},
        {"another document made current",
         [this] { current = new host::SyntaxEditor(env->Frame()); }, false},
        {"the document closed",
         [this] {
             editor->Destroy();
             editor = current = nullptr;
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NewDocument("tool.py", "import os\nos.pa");
        const wxWeakRef<host::SyntaxEditor> asked = editor;
        {
            const ServerStopped stopped(plugin.completion.Server().Pid());
            // The editor does not wait for the stopped server.
            EXPECT_TRUE(Begin());
            EXPECT_EQ(plugin.completion.PendingCount(), 1u);
            EXPECT_FALSE(asked->AutoCompActive());
            c.meanwhile();
        }
        ASSERT_TRUE(WaitForAnswers());
        if (c.listed) {
            ASSERT_TRUE(editor->AutoCompActive());
            EXPECT_EQ(Pick("path"), "path");
            editor->AutoCompComplete();
            EXPECT_EQ(editor->GetText(), "import os\nos.path");
        } else if (asked) {
            EXPECT_FALSE(asked->AutoCompActive());
        } else {
            // The document's answer is dropped on arrival, before the next one is shown.
            NewDocument("next.py", "import os\nos.ge");
            ASSERT_TRUE(Complete());
            EXPECT_EQ(Pick("getcwd"), "getcwd");
        }
    }
    EXPECT_EQ(modal.PendingCount(), 0u);
}

// A request asked again before the server took the first one: the first is dropped, and only
// the second's list shows.
TEST_F(CompletionServerTest, ALaterRequestReplacesOneStillWaiting) {
    AttachWarm();
    NewDocument("tool.py", "import os\nos.pa");
    {
        const ServerStopped stopped(plugin.completion.Server().Pid());
        EXPECT_TRUE(Begin());
        editor->SetText("import os\nos.getc");
        editor->GotoPos(editor->GetLength());
        EXPECT_TRUE(Begin());
        EXPECT_EQ(plugin.completion.PendingCount(), 1u);
    }
    ASSERT_TRUE(WaitForAnswers());
    EXPECT_EQ(Pick("getcwd"), "getcwd");
}

// A server that dies with a request on its way is started again and asked again: the list
// shows without a later request. A request that a second server dies on too is not asked a
// third time, and nothing waits for it.
TEST_F(CompletionServerTest, ARequestOfAServerThatDiedIsAskedAgainOnce) {
    AttachWarm();
    for (const int deaths : {1, 2}) {
        SCOPED_TRACE(deaths);
        NewDocument("tool.py", "import os\nos.pa");
        pid_t server = plugin.completion.Server().Pid();
        ASSERT_GT(server, 0); // kill(-1) would signal every process of the user
        {
            const ServerStopped stopped(server);
            EXPECT_TRUE(Begin());
            ASSERT_EQ(kill(server, SIGKILL), 0);
        }
        if (deaths == 2) {
            // The next server starts once the death is heard; it has the request at once.
            ASSERT_TRUE(testing_support::ProcessEventsUntil(
                [&] { return plugin.completion.Server().Pid() != server; }, 30000));
            server = plugin.completion.Server().Pid();
            ASSERT_GT(server, 0);
            ASSERT_EQ(kill(server, SIGKILL), 0);
        }
        ASSERT_TRUE(WaitForAnswers());
        EXPECT_EQ(editor->AutoCompActive(), deaths == 1);
        if (deaths == 1) {
            EXPECT_EQ(Pick("path"), "path");
        }
        editor->AutoCompCancel();
    }
    // And the server after them answers as ever.
    NewDocument("next.py", "import os\nos.ge");
    ASSERT_TRUE(Complete());
    EXPECT_EQ(Pick("getcwd"), "getcwd");
}

// The completion shortcut through jedi as it would be over a jedi whose internals it leans on
// have changed since it went in: its first completion fails.
constexpr const char* shortcutThatFails = R"(

_install_jedi = install_jedi


def install_jedi(jedi):
    installed = _install_jedi(jedi)
    if installed:
        from jedi.inference import filters

        values = filters._AbstractUsedNamesFilter.values
        cell = values.__closure__[values.__code__.co_freevars.index("definition_names")]

        def changed(*args):
            raise TypeError("changed")

        cell.cell_contents = changed
    return installed
)";

// A fault of the shortcut through jedi: the lists still show, jedi's own, and the message
// output says once that the shortcut is out.
TEST_F(CompletionServerTest, AFaultOfTheShortcutIsToldOnceAndTheListsStillShow) {
    const wxString shortcuts = CompletionFile("autocomp_shortcuts.py");
    plugins.Write(shortcuts,
                  testing_support::ReadFile(plugins.File(shortcuts)) + shortcutThatFails);
    Attach();
    for (const char* name : {"one.py", "two.py", "three.py"}) {
        NewDocument(name, "import os\nos.pa");
        ASSERT_TRUE(Complete());
        EXPECT_EQ(Pick("path"), "path");
        editor->AutoCompCancel();
    }
    wxString output = testing_support::EditorEnvironment::OutputText();
    EXPECT_EQ(output.Replace("the shortcut through jedi failed (TypeError: changed)", ""), 1u)
        << output;
}

// Nobody else can take the server's place: a socket bound under the name an earlier editor
// listened on, before this editor started, never gets a request; the server's folder is the
// user's alone.
TEST_F(CompletionServerTest, ASocketBoundBeforeTheEditorStartsNeverHearsFromIt) {
    const int squatter = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(squatter, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name =
        std::string(1, '\0') + "coilhatch-completion-" + std::to_string(getpid());
    std::memcpy(address.sun_path, name.data(), name.size());
    ASSERT_EQ(bind(squatter, reinterpret_cast<const sockaddr*>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())),
              0);
    ASSERT_EQ(listen(squatter, 16), 0);

    Attach();
    Open("tool.py", "import os\nos.pa");
    ASSERT_TRUE(Complete());
    EXPECT_EQ(Pick("path"), "path");
    EXPECT_EQ(accept(squatter, nullptr, nullptr), -1);
    EXPECT_EQ(errno, EAGAIN);
    close(squatter);

    const std::string folder = plugin.completion.Server().Folder();
    const std::string expected =
        CompletionServer::FolderBase() + "/coilhatch-completion-" + std::to_string(getpid()) + "-";
    EXPECT_EQ(folder.compare(0, expected.size(), expected), 0) << folder;
    struct stat info;
    ASSERT_EQ(lstat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, getuid());
}

// wx's modules are read live at any depth, and the call tips of live methods come from their
// docstrings; typing "(" in a Python document asks for the call tip.
TEST_F(CompletionServerTest, WxAtAnyDepthAndCallTipsWhenACallIsOpened) {
    Attach();
    for (const char* text : {"import wx\nwx.lib.agw.aui.AuiManager().Add",
                             "import wx\nm = wx.lib.agw.aui.AuiManager()\nm.Add"}) {
        SCOPED_TRACE(text);
        Open("tool.py", text);
        ASSERT_TRUE(Complete());
        EXPECT_EQ(Pick("AddPane"), "AddPane");
        editor->AutoCompCancel();
    }
    for (const char* text :
         {"import wx\nwx.Frame(None).SetTitle",
          "import MpAPI\ned = MpAPI.CEditorManagement_Get().GetCurrentEditor()\ned.GetLineCount",
          "import os\nos.path.join"}) {
        SCOPED_TRACE(text);
        Open("tool.py", text);
        Type('(');
        ASSERT_TRUE(WaitForAnswers());
        EXPECT_TRUE(editor->CallTipActive());
        EXPECT_FALSE(editor->AutoCompActive());
        editor->CallTipCancel();
    }
    // A "(" in a string shows nothing; in a document of another language nothing is asked.
    Open("tool.py", "x = 'print");
    Type('(');
    ASSERT_TRUE(WaitForAnswers());
    EXPECT_FALSE(editor->CallTipActive());
    Open("notes.txt", "print");
    Type('(');
    EXPECT_EQ(plugin.completion.PendingCount(), 0u);
}

// The server's folder goes when the plug-in is released, also after the server was killed;
// the start removes the folders of editors that have ended, and nothing else.
TEST_F(CompletionServerTest, NothingIsLeftBehind) {
    const std::string base = CompletionServer::FolderBase();
    const pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    const std::string left = base + "/coilhatch-completion-" + std::to_string(ended) + "-left";
    const std::string mine = base + "/coilhatch-completion-" + std::to_string(getpid()) + "-mine";
    const std::string link = base + "/coilhatch-completion-" + std::to_string(ended) + "-link";
    TempDir elsewhere;
    elsewhere.Write("keep.txt", "kept");
    ASSERT_EQ(mkdir(left.c_str(), 0700), 0);
    ASSERT_TRUE(std::ofstream(left + "/importing").good());
    ASSERT_EQ(mkdir(mine.c_str(), 0700), 0);
    ASSERT_EQ(symlink(elsewhere.Path().utf8_str().data(), link.c_str()), 0);

    Attach();
    EXPECT_FALSE(IsFolder(left));
    EXPECT_TRUE(IsFolder(mine));
    EXPECT_TRUE(wxFileExists(elsewhere.File("keep.txt")));
    rmdir(mine.c_str());
    unlink(link.c_str());

    const std::string folder = plugin.completion.Server().Folder();
    const pid_t server = plugin.completion.Server().Pid();
    EXPECT_TRUE(IsFolder(folder));
    ASSERT_GT(server, 0); // kill(-1) would signal every process of the user
    ASSERT_EQ(kill(server, SIGKILL), 0);
    ASSERT_TRUE(testing_support::ProcessEventsUntil(
        [server] { return testing_support::ProcessEnded(server); }, 30000));
    plugin.OnRelease();
    attached = false;
    EXPECT_FALSE(IsFolder(folder));
}

// CPU time the process has used, in clock ticks; -1 once it has gone.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long user = 0;
    long system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            user = std::stol(field);
        if (i == 15)
            system = std::stol(field);
    }
    return user + system;
}

bool Execed(pid_t pid) {
    std::ifstream command("/proc/" + std::to_string(pid) + "/cmdline");
    const std::string text((std::istreambuf_iterator<char>(command)),
                           std::istreambuf_iterator<char>());
    return text.find("autocomp_server.py") != std::string::npos;
}

// SIGTERM at any moment of the server's start ends it by that signal, never by a crash, and
// its folder goes with the plug-in's end of it.
TEST(CompletionServerProcess, SigtermWhileItStartsEndsItCleanly) {
    const std::string script = COILHATCH_PLUGINS_DIR "/python/autocomplete/autocomp_server.py";
    // Moments of the start: before exec, at exec, then as its imports use the processor (jedi
    // is loaded by its workers: the server itself takes some 50 ms).
    const std::function<bool(pid_t)> moments[] = {
        [](pid_t) { return true; },
        [](pid_t pid) { return Execed(pid); },
        [](pid_t pid) { return Execed(pid) && CpuTicks(pid) >= 1; },
        [](pid_t pid) { return Execed(pid) && CpuTicks(pid) >= 2; },
        [](pid_t pid) { return Execed(pid) && CpuTicks(pid) >= 4; },
    };
    int moment = 0;
    for (const auto& reached : moments) {
        SCOPED_TRACE(moment++);
        CompletionServer server([](unsigned, nlohmann::json) {}, [](unsigned) {});
        ASSERT_TRUE(server.Start(COILHATCH_PYTHON_EXECUTABLE, script, COILHATCH_BIN_DIR));
        const pid_t pid = server.Pid();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!reached(pid) && CpuTicks(pid) >= 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        ASSERT_EQ(kill(pid, SIGTERM), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        const std::string folder = server.Folder();
        server.Stop();
        EXPECT_FALSE(IsFolder(folder));
    }
}

} // namespace
