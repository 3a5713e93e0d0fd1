// The completion hook through real editor events on a real editor: which documents run the
// completion script, how often its module runs, the call tip at the end, and what the shipped
// completion script shows in the editor, with jedi and without it.
#include "engine/Coilhatch.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/stc/stc.h>
#include <wx/utils.h>

#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

using testing_support::EditorEnvironment;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

const wxString sep = wxFileName::GetPathSeparator();

wxString CompletionFile(const wxString& name) {
    return "python" + sep + "autocomplete" + sep + name;
}

wxString ScriptRelative() {
    return CompletionFile("autocomp.py");
}

// Waits up to a minute for the completion server to be warm and writes its process id to
// server.txt beside itself ("0" when none answered).
wxString ServerProbe() {
    return wxString(testing_support::completionServerWait) + R"(
import os

def MpMain():
    pid = completion_server()
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "server.txt"), "w") as f:
        f.write(str(pid))
)";
}

// A completion script that records each run of its top level and of MpMain in calls.log.
const char* const countingScript = R"(import os
_log = os.path.join(os.path.dirname(os.path.abspath(__file__)), "calls.log")
with open(_log, "a") as f:
    f.write("top\n")

def MpMain():
    with open(_log, "a") as f:
        f.write("main\n")
)";

bool EnvironmentOutputHasTraceback() {
    return EditorEnvironment::OutputText().Contains("Traceback");
}

class CompletionHookTest : public testing_support::WxTest {
protected:
    void SetUp() override {
        env = std::make_unique<EditorEnvironment>(plugins.Path());
        editor = new host::SyntaxEditor(env->Frame());
        current = editor;
        host::SetCurrentEditorProvider([this] { return current; });
    }

    void TearDown() override {
        if (attached)
            plugin.OnRelease();
        host::SetCurrentEditorProvider(nullptr);
        env.reset();
        WxTest::TearDown();
    }

    void Attach() {
        plugin.OnAttach();
        attached = true;
        ASSERT_TRUE(plugin.IsEngineRunning());
    }

    void UseCountingScript() { plugins.Write(ScriptRelative(), countingScript); }
    wxString Calls() const { return ReadFile(plugins.File("python/autocomplete/calls.log")); }

    // Sends the event as the editor does; true when the plug-in kept it (did not pass it on).
    bool Send(wxEventType type) {
        wxCommandEvent event(type);
        return plugin.ProcessEvent(event);
    }
    bool Begin() { return Send(wxEVT_EDITOR_COMPLETEBEGIN); }
    bool End() { return Send(wxEVT_EDITOR_COMPLETEEND); }

    void Open(const wxString& fileName, const wxString& text) {
        editor->SetLexerForFile(fileName);
        editor->SetText(text);
        editor->GotoPos(editor->GetLength());
    }

    // Copies shipped files of the completion's folder to the test's plug-ins folder.
    void CopyShipped(const std::vector<wxString>& names) {
        for (const wxString& name : names) {
            const wxString shipped = wxString(COILHATCH_PLUGINS_DIR) + sep + CompletionFile(name);
            const wxString text = ReadFile(shipped);
            ASSERT_FALSE(text.empty()) << shipped;
            plugins.Write(CompletionFile(name), text);
        }
    }

    // Waits until the completion server answers (a minute at most); its process id.
    long WaitForServer() {
        const wxString probe = plugins.Write("server_probe.py", ServerProbe());
        EXPECT_TRUE(plugin.RunScript(probe, false));
        long pid = 0;
        EXPECT_TRUE(ReadFile(plugins.File("server.txt")).ToLong(&pid));
        EXPECT_GT(pid, 0) << "the completion server did not answer";
        return pid;
    }

    void CopyShippedCompletion() {
        CopyShipped({"autocomp.py", "autocomp_core.py", "autocomp_server.py"});
    }

    TempDir plugins;
    std::unique_ptr<EditorEnvironment> env;
    CCoilhatch plugin;
    bool attached = false;
    host::SyntaxEditor* editor = nullptr;  // owned by the frame
    host::SyntaxEditor* current = nullptr; // what the editor management reports as current
};

TEST_F(CompletionHookTest, OtherDocumentsArePassedOnAndRunNoPython) {
    Attach();
    UseCountingScript();
    Open("notes.txt", "import os\nos.pa");
    ASSERT_NE(editor->GetLexer(), wxSTC_LEX_PYTHON);

    wxCommandEvent event(wxEVT_EDITOR_COMPLETEBEGIN);
    EXPECT_FALSE(plugin.ProcessEvent(event));
    EXPECT_TRUE(event.GetSkipped());
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(modal.PendingCount(), 0u);
}

TEST_F(CompletionHookTest, PythonDocumentRunsTheScriptReloadedOnEveryRequest) {
    Attach();
    UseCountingScript();
    Open("tool.py", "import os\n");

    EXPECT_TRUE(Begin());
    // Every request runs the script's top level once, then MpMain; the first too.
    EXPECT_EQ(Calls(), "top\nmain\n");
    EXPECT_TRUE(Begin());
    EXPECT_EQ(Calls(), "top\nmain\ntop\nmain\n");
    EXPECT_FALSE(EnvironmentOutputHasTraceback());
}

TEST_F(CompletionHookTest, ScriptPathFollowsThePluginsFolderOnEveryRequest) {
    Attach();
    UseCountingScript();
    Open("tool.py", "");
    EXPECT_TRUE(Begin());
    EXPECT_EQ(Calls(), "top\nmain\n");

    TempDir other;
    host::GetNameItem("PluginsPath")->SetAttribute(0, other.Path());
    EXPECT_TRUE(Begin());
    EXPECT_EQ(modal.TakeTexts(), std::vector<wxString>{"Python script does not exist:" +
                                                       other.Path() + sep + ScriptRelative()});
    EXPECT_EQ(Calls(), "top\nmain\n");
}

TEST_F(CompletionHookTest, EndCancelsTheCallTipWhateverTheLexer) {
    Attach();
    for (const wxString name : {"tool.py", "notes.txt"}) {
        SCOPED_TRACE(name.utf8_string());
        Open(name, "print(");
        editor->CallTipShow(editor->GetCurrentPos(), "print(value)");
        ASSERT_TRUE(editor->CallTipActive());
        EXPECT_TRUE(End());
        EXPECT_FALSE(editor->CallTipActive());
    }
}

TEST_F(CompletionHookTest, WithoutAnEditorNeitherEventDoesAnything) {
    Attach();
    UseCountingScript();
    current = nullptr;

    EXPECT_TRUE(Begin());
    EXPECT_TRUE(End());
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(modal.PendingCount(), 0u);
}

TEST_F(CompletionHookTest, MissingScriptShowsTheRunnerMessageOnEveryRequest) {
    Attach();
    Open("tool.py", "import os\n");
    const wxString expected =
        "Python script does not exist:" + plugins.Path() + sep + ScriptRelative();

    EXPECT_TRUE(Begin());
    EXPECT_TRUE(Begin());
    const auto texts = modal.TakeTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], expected);
    EXPECT_EQ(texts[1], expected);
}

// A request at once after attach waits for the server's start, within the request's budget: on
// a busy machine it may show nothing, never a guess and never a report.
TEST_F(CompletionHookTest, FirstRequestAfterAttachWaitsForTheServer) {
    CopyShippedCompletion();
    Attach();
    Open("tool.py", "import os\nos.pa");
    EXPECT_TRUE(Begin());
    if (editor->AutoCompActive()) {
        editor->AutoCompSelect("path");
        EXPECT_EQ(editor->AutoCompGetCurrentText(), "path");
    }
    EXPECT_FALSE(EnvironmentOutputHasTraceback()) << EditorEnvironment::OutputText();
    EXPECT_EQ(modal.PendingCount(), 0u);
}

TEST_F(CompletionHookTest, WithoutTheServerFileAttachIsQuiet) {
    UseCountingScript();
    Attach();
    EXPECT_EQ(plugin.completion.Server().Pid(), -1);
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(modal.PendingCount(), 0u);
    EXPECT_FALSE(EnvironmentOutputHasTraceback());
}

// The scripts' interpreter is the scripts' alone: completion imports nothing there that a
// script would see, and changes neither its recursion limit nor its module path.
TEST_F(CompletionHookTest, ScriptsSeeNothingOfTheCompletion) {
    CopyShippedCompletion();
    Attach();
    WaitForServer();
    const wxString look = plugins.Write(
        "look.py",
        "import os, sys\n"
        "def MpMain():\n"
        "    if '/my/own/folder' not in sys.path:\n"
        "        sys.path.insert(0, '/my/own/folder')\n"
        "    seen = [m for m in ('jedi', 'parso', 'autocomp_core') if m in sys.modules]\n"
        "    print('seen', seen, sys.getrecursionlimit(), '/my/own/folder' in sys.path)\n");
    ASSERT_TRUE(plugin.RunScript(look, false));
    Open("tool.py", "import os\nos.pa");
    EXPECT_TRUE(Begin());
    EXPECT_TRUE(editor->AutoCompActive());
    ASSERT_TRUE(plugin.RunScript(look, false));
    wxString output = EditorEnvironment::OutputText();
    EXPECT_EQ(output.Freq('\n'), 2u) << output;
    EXPECT_EQ(output.Replace("seen [] 1000 True\n", ""), 2u) << output;
}

// A server that dies is started again at the next request; the editor's release ends it.
TEST_F(CompletionHookTest, TheServerIsStartedAgainAfterItsDeathAndEndsAtRelease) {
    CopyShippedCompletion();
    Attach();
    const long first = WaitForServer();
    EXPECT_EQ(plugin.completion.Server().Pid(), first);
    ASSERT_EQ(kill(static_cast<pid_t>(first), SIGKILL), 0);
    // Dead (a zombie until the plug-in, its parent, reaps it).
    ASSERT_TRUE(testing_support::ProcessEventsUntil(
        [first] { return testing_support::ProcessEnded(first); }, 30000));

    Open("tool.py", "import os\nos.pa");
    EXPECT_TRUE(Begin()); // the request that finds it dead may show nothing
    const long second = WaitForServer();
    EXPECT_NE(second, first);
    EXPECT_EQ(plugin.completion.Server().Pid(), second);
    EXPECT_TRUE(Begin());
    EXPECT_TRUE(editor->AutoCompActive());

    plugin.OnRelease();
    attached = false;
    // Ended and reaped: no process of that number is left.
    EXPECT_EQ(kill(static_cast<pid_t>(second), 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST_F(CompletionHookTest, WithoutAnEngineNothingRunsAndNothingIsShown) {
    // Not attached: the engine-less state. Neither the script nor the runner's message appears.
    Open("tool.py", "import os\n");
    EXPECT_TRUE(Begin());
    UseCountingScript();
    EXPECT_TRUE(Begin());
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(modal.PendingCount(), 0u);
    EXPECT_TRUE(End());
}

// The shipped completion script, with jedi importable and with `import jedi` failing.
class CompletionScriptTest : public CompletionHookTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        CompletionHookTest::SetUp();
        CopyShippedCompletion();
        if (!GetParam()) {
            // The server (and, harmlessly, the scripts' interpreter) finds a jedi that cannot
            // be imported first on its path.
            plugins.Write("nojedi/jedi.py", "raise ImportError('no jedi here')\n");
            setenv("PYTHONPATH", plugins.File("nojedi").utf8_str(), 1);
        }
        Attach();
        WaitForServer();
    }

    void TearDown() override {
        EXPECT_FALSE(EnvironmentOutputHasTraceback()) << EditorEnvironment::OutputText();
        CompletionHookTest::TearDown();
    }

    // Selects the item that starts with `name` in the list shown; its text, or empty.
    wxString Pick(const wxString& name) {
        if (!editor->AutoCompActive())
            return wxString();
        editor->AutoCompSelect(name);
        return editor->AutoCompGetCurrentText();
    }
};

TEST_P(CompletionScriptTest, ModuleAttributesAndModuleNames) {
    Open("tool.py", "import os\nos.pa");
    EXPECT_TRUE(Begin());
    ASSERT_TRUE(editor->AutoCompActive());
    EXPECT_EQ(Pick("path"), "path");
    // The typed "pa" is what the chosen item replaces.
    editor->AutoCompComplete();
    EXPECT_EQ(editor->GetText(), "import os\nos.path");

    Open("tool.py", "import o");
    EXPECT_TRUE(Begin());
    EXPECT_EQ(Pick("os"), "os");
}

TEST_P(CompletionScriptTest, NonAsciiPrefixIsReplacedWhole) {
    Open("tool.py", wxString::FromUTF8("\xC3\xB1"
                                       "ame_long = 1\n"
                                       "\xC3\xB1"
                                       "am"));
    EXPECT_TRUE(Begin());
    ASSERT_TRUE(editor->AutoCompActive());
    editor->AutoCompComplete();
    EXPECT_EQ(editor->GetText(), wxString::FromUTF8("\xC3\xB1"
                                                    "ame_long = 1\n"
                                                    "\xC3\xB1"
                                                    "ame_long"));
}

TEST_P(CompletionScriptTest, CallTipInsideACall) {
    Open("tool.py", "print(");
    EXPECT_TRUE(Begin());
    EXPECT_TRUE(editor->CallTipActive());
    EXPECT_FALSE(editor->AutoCompActive());
    EXPECT_TRUE(End());
    EXPECT_FALSE(editor->CallTipActive());
}

TEST_P(CompletionScriptTest, SyntaxErrorElsewhereStillCompletes) {
    Open("tool.py", "def broken(:\n    pass\nimport os\nos.pa");
    EXPECT_TRUE(Begin());
    EXPECT_EQ(Pick("path"), "path");
}

TEST_P(CompletionScriptTest, EmptyDocumentStringsAndComments) {
    Open("tool.py", "");
    EXPECT_TRUE(Begin());
    EXPECT_EQ(Pick("print"), "print");
    editor->AutoCompCancel();

    for (const wxString text : {"x = 'os.pa", "# os.pa", "s = \"\"\"\nos.pa"}) {
        SCOPED_TRACE(text.utf8_string());
        Open("tool.py", text);
        EXPECT_TRUE(Begin());
        EXPECT_FALSE(editor->AutoCompActive());
    }
}

TEST_P(CompletionScriptTest, LongDocument) {
    wxString text = "import os\n";
    for (int i = 0; text.Freq('\n') < 4999; ++i)
        text +=
            wxString::Format("def helper_%d(value, count=3):\n    return os.path.join(str(value), "
                             "'(%%d)' %% count)  # %d\n\n",
                             i, i);
    text += "os.pa";
    Open("tool.py", text);
    ASSERT_EQ(editor->GetLineCount(), 5000);
    // A request has about 2 s; jedi's first parse of this document may take longer on a busy
    // machine. It is made beforehand, as an earlier request would have made it.
    const wxString prime =
        plugins.Write("prime.py", "import MpAPI, os, sys\n"
                                  "sys.path.insert(0, os.path.join(os.path.dirname(__file__), "
                                  "'python', 'autocomplete'))\n"
                                  "import autocomp\n"
                                  "def MpMain():\n"
                                  "    text = MpAPI.CEditorManagement_Get().GetCurrentEditor()"
                                  ".GetText()\n"
                                  "    autocomp.ask({'text': text, 'line': 1, 'column': 0}, 60)\n");
    ASSERT_TRUE(plugin.RunScript(prime, false));
    EXPECT_TRUE(Begin());
    EXPECT_EQ(Pick("path"), "path");
}

INSTANTIATE_TEST_SUITE_P(Completion, CompletionScriptTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "WithJedi" : "WithoutJedi";
                         });

} // namespace

// A completion script that never ends is stopped after about 2 s without a word: no report, no
// message box, no window left; the next request runs as usual.
TEST_F(CompletionHookTest, CompletionScriptPastItsBudgetIsStoppedQuietly) {
    plugins.Write(ScriptRelative(), "def MpMain():\n"
                                    "    while True:\n"
                                    "        pass\n");
    Attach();
    Open("doc.py", "import os\nos.");
    EXPECT_TRUE(Begin());
    EXPECT_FALSE(EnvironmentOutputHasTraceback()) << EditorEnvironment::OutputText();
    EXPECT_FALSE(EditorEnvironment::OutputText().Contains("KeyboardInterrupt"));
    EXPECT_EQ(modal.PendingCount(), 0u);
    for (wxWindow* window : wxTopLevelWindows)
        EXPECT_TRUE(window == env->Frame() || !window->IsShown() || window->IsBeingDeleted());

    UseCountingScript();
    EXPECT_TRUE(Begin());
    EXPECT_TRUE(Calls().Contains("main")) << Calls();
}
