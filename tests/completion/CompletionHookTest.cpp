// The completion hook through real editor events on a real editor: which documents run the
// completion script, how often its module runs, the call tip at the end, and what the shipped
// completion script shows in the editor when the server's answer comes, with jedi and without
// it.
#include "tests/completion/CompletionFixture.h"

#include <wx/utils.h>

#include <signal.h>

#include <cerrno>
#include <cstdlib>

using testing_support::EditorEnvironment;
using testing_support::TempDir;

const wxString sep = wxFileName::GetPathSeparator();

namespace {

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

class CompletionHookTest : public CompletionFixture {
protected:
    void UseCountingScript() { plugins.Write(ScriptRelative(), countingScript); }
    wxString Calls() const {
        return testing_support::ReadFile(plugins.File("python/autocomplete/calls.log"));
    }
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

// A request at once after attach is answered once the server has started, and its list shows
// then: no answer is given up on.
TEST_F(CompletionHookTest, FirstRequestAfterAttachShowsItsListWhenTheAnswerComes) {
    CopyShippedCompletion();
    Attach();
    Open("tool.py", "import os\nos.pa");
    EXPECT_TRUE(Begin());
    ASSERT_TRUE(WaitForAnswers());
    EXPECT_EQ(Pick("path"), "path");
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
    EXPECT_TRUE(Complete());
    EXPECT_TRUE(editor->AutoCompActive());
    ASSERT_TRUE(plugin.RunScript(look, false));
    wxString output = EditorEnvironment::OutputText();
    EXPECT_EQ(output.Freq('\n'), 2u) << output;
    EXPECT_EQ(output.Replace("seen [] 1000 True\n", ""), 2u) << output;
}

// A server that dies is started again by the next request, which is answered; the editor's
// release ends it.
TEST_F(CompletionHookTest, TheServerIsStartedAgainAfterItsDeathAndEndsAtRelease) {
    CopyShippedCompletion();
    Attach();
    Open("tool.py", "import os\nos.pa");
    EXPECT_TRUE(Complete());
    const pid_t first = plugin.completion.Server().Pid();
    ASSERT_GT(first, 0);
    ASSERT_EQ(kill(first, SIGKILL), 0);
    // Dead (a zombie until the plug-in, its parent, reaps it).
    ASSERT_TRUE(testing_support::ProcessEventsUntil(
        [first] { return testing_support::ProcessEnded(first); }, 30000));

    editor->AutoCompCancel();
    EXPECT_TRUE(Complete());
    EXPECT_TRUE(editor->AutoCompActive());
    const pid_t second = plugin.completion.Server().Pid();
    EXPECT_NE(second, first);

    plugin.OnRelease();
    attached = false;
    // Ended and reaped: no process of that number is left.
    EXPECT_EQ(kill(second, 0), -1);
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
    }

    void TearDown() override {
        EXPECT_FALSE(EnvironmentOutputHasTraceback()) << EditorEnvironment::OutputText();
        CompletionHookTest::TearDown();
    }
};

TEST_P(CompletionScriptTest, ModuleAttributesAndModuleNames) {
    Open("tool.py", "import os\nos.pa");
    EXPECT_TRUE(Complete());
    ASSERT_TRUE(editor->AutoCompActive());
    EXPECT_EQ(Pick("path"), "path");
    // The typed "pa" is what the chosen item replaces.
    editor->AutoCompComplete();
    EXPECT_EQ(editor->GetText(), "import os\nos.path");

    Open("tool.py", "import o");
    EXPECT_TRUE(Complete());
    EXPECT_EQ(Pick("os"), "os");
}

TEST_P(CompletionScriptTest, NonAsciiPrefixIsReplacedWhole) {
    Open("tool.py", wxString::FromUTF8("\xC3\xB1"
                                       "ame_long = 1\n"
                                       "\xC3\xB1"
                                       "am"));
    EXPECT_TRUE(Complete());
    ASSERT_TRUE(editor->AutoCompActive());
    editor->AutoCompComplete();
    EXPECT_EQ(editor->GetText(), wxString::FromUTF8("\xC3\xB1"
                                                    "ame_long = 1\n"
                                                    "\xC3\xB1"
                                                    "ame_long"));
}

TEST_P(CompletionScriptTest, CallTipInsideACall) {
    Open("tool.py", "print(");
    EXPECT_TRUE(Complete());
    EXPECT_TRUE(editor->CallTipActive());
    EXPECT_FALSE(editor->AutoCompActive());
    EXPECT_TRUE(End());
    EXPECT_FALSE(editor->CallTipActive());
}

TEST_P(CompletionScriptTest, SyntaxErrorElsewhereStillCompletes) {
    Open("tool.py", "def broken(:\n    pass\nimport os\nos.pa");
    EXPECT_TRUE(Complete());
    EXPECT_EQ(Pick("path"), "path");
}

TEST_P(CompletionScriptTest, EmptyDocumentStringsAndComments) {
    Open("tool.py", "");
    EXPECT_TRUE(Complete());
    EXPECT_EQ(Pick("print"), "print");
    editor->AutoCompCancel();

    for (const wxString text : {"x = 'os.pa", "# os.pa", "s = \"\"\"\nos.pa"}) {
        SCOPED_TRACE(text.utf8_string());
        Open("tool.py", text);
        EXPECT_TRUE(Complete());
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
    // jedi's first parse of it takes a while: the list shows when it is done.
    EXPECT_TRUE(Complete());
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
