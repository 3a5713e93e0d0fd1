// How a script's module is loaded: always from the script's own file, under the file's name,
// whatever sys.modules or the module path hold under that name; what sys.modules holds
// afterwards; what reload executes; and how a script ends quietly with sys.exit().
#include "tests/engine/EngineFixture.h"

#include <wx/filefn.h>
#include <wx/filename.h>

using namespace engine_test;

class EngineLoading : public EngineTest {};

TEST_F(EngineLoading, ScriptsNamedLikeStandardModulesRunTheirOwnFilesAndLeaveThoseModules) {
    // Some of these are imported already (abc, string), some are not yet (code, test).
    const wxString before = Eval("[id(sys.modules.get(n)) for n in ('abc', 'string')]");
    for (const wxString name : {"abc", "string", "code", "test"}) {
        SCOPED_TRACE(name.utf8_string());
        const wxString path =
            Script(name + ".py", "print('top of', __name__)\n"
                                 "def MpMain():\n"
                                 "    print('main of', __name__, __file__ == " +
                                     wxString("r'") + scripts.Path() + "/" + name + ".py')\n");
        // The first run loads the file; each run with reload executes it again.
        for (const bool reload : {false, true, true}) {
            ClearOutput();
            EXPECT_TRUE(plugin->RunScript(path, reload));
            EXPECT_EQ(Output(), "top of " + name + "\nmain of " + name + " True\n");
        }
    }
    // The standard modules were neither replaced nor executed again.
    EXPECT_EQ(Eval("[id(sys.modules.get(n)) for n in ('abc', 'string')]"), before);
    EXPECT_EQ(Eval("hasattr(sys.modules['abc'], 'ABCMeta')"), "True");
    // Modules imported later still are the standard library's.
    EXPECT_EQ(Eval("__import__('code').__file__.startswith(sys.prefix)"), "True");
    EXPECT_EQ(Eval("__import__('test').__file__.startswith(sys.prefix)"), "True");
}

TEST_F(EngineLoading, TwoScriptsOfTheSameNameInDifferentFoldersEachRunTheirOwn) {
    const wxString first = Script("one/tool.py", "def MpMain(): print('first tool')\n");
    const wxString second = Script("two/tool.py", "def MpMain(): print('second tool')\n");
    for (const bool reload : {false, true}) {
        EXPECT_TRUE(plugin->RunScript(first, reload));
        EXPECT_TRUE(plugin->RunScript(second, reload));
        EXPECT_TRUE(plugin->RunScript(first, reload));
    }
    EXPECT_EQ(Output(), "first tool\nsecond tool\nfirst tool\n"
                        "first tool\nsecond tool\nfirst tool\n");
    // The name belongs to the first: an import statement finds that one.
    EXPECT_EQ(Eval("sys.modules['tool'].__file__"), first);
}

TEST_F(EngineLoading, TheModuleIsInSysModulesWhenTheNameIsFreeAndModulesBesideItImport) {
    Script("tools/helper.py", "value = 'from the helper'\n");
    const wxString path = Script("tools/mine.py", "import helper\n"
                                                  "def MpMain(): print(helper.value)\n");
    EXPECT_TRUE(plugin->RunScript(path, true));
    EXPECT_EQ(Output(), "from the helper\n");
    EXPECT_EQ(Eval("sys.modules['mine'].__file__"), path);
    EXPECT_EQ(Eval("sys.modules['mine'].__name__"), "mine");
    // Reloading keeps the one module, as importlib.reload would.
    EXPECT_TRUE(Exec("kept = sys.modules['mine']\n"));
    EXPECT_TRUE(plugin->RunScript(path, true));
    EXPECT_EQ(Eval("sys.modules['mine'] is kept"), "True");
}

TEST_F(EngineLoading, AModuleThatAnImportMadeOfTheSameFileBecomesTheScriptsModule) {
    const wxString shared = Script("lib/shared.py", "print('shared top')\n"
                                                    "count = 0\n"
                                                    "def MpMain():\n"
                                                    "    global count\n"
                                                    "    count += 1\n"
                                                    "    print('shared main', count)\n");
    const wxString user = Script("lib/user.py", "import shared\n"
                                                "def MpMain(): print('user', shared.count)\n");
    EXPECT_TRUE(plugin->RunScript(user, false));
    EXPECT_TRUE(plugin->RunScript(shared, false)); // the imported module, not executed again
    EXPECT_TRUE(plugin->RunScript(user, false));
    EXPECT_EQ(Output(), "shared top\nuser 0\nshared main 1\nuser 1\n");
}

TEST_F(EngineLoading, AFailedFirstLoadLeavesNothingAndTheFixedFileRuns) {
    const wxString path = Script("broken.py", "raise ValueError('not yet')\n");
    EXPECT_FALSE(plugin->RunScript(path, false));
    EXPECT_EQ(modal.TakeTexts(),
              std::vector<wxString>{"There is no module:broken\nValueError: not yet"});
    EXPECT_EQ(Eval("'broken' in sys.modules"), "False");
    ClearOutput();
    Script("broken.py", "def MpMain(): print('fixed now')\n");
    EXPECT_TRUE(plugin->RunScript(path, false));
    EXPECT_EQ(Output(), "fixed now\n");
}

TEST_F(EngineLoading, ReloadExecutesTheFileAsItIsNowAndOnlyThatFile) {
    const wxString path = Script("changing.py", "import string\n"
                                                "def MpMain(): print('first version')\n");
    EXPECT_TRUE(plugin->RunScript(path, true));
    // Another module of that name earlier on the module path is never what a reload runs.
    testing_support::TempDir front;
    front.Write("changing.py", "print('the impostor ran')\n");
    ASSERT_TRUE(Exec(("sys.path.insert(0, r'" + front.Path() + "')\n").utf8_str()));
    Script("changing.py", "def MpMain(): print('second, longer version')\n");
    EXPECT_TRUE(plugin->RunScript(path, true));
    EXPECT_TRUE(plugin->RunScript(path, false)); // without reload: the module as it is
    EXPECT_EQ(Output(), "first version\nsecond, longer version\nsecond, longer version\n");

    // A syntax error in the new version fails the run; the module keeps its last good state.
    ClearOutput();
    Script("changing.py", "def MpMain(:\n");
    EXPECT_FALSE(plugin->RunScript(path, true));
    const auto texts = modal.TakeTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].StartsWith("There is no module:changing\nSyntaxError: ")) << texts[0];
    EXPECT_TRUE(Output().Contains("SyntaxError")) << Output();
    ClearOutput();
    EXPECT_TRUE(plugin->RunScript(path, false));
    EXPECT_EQ(Output(), "second, longer version\n");
}

TEST_F(EngineLoading, ScriptsWithoutThePyExtensionAreSourceToo) {
    const wxString path = Script("plain-script", "def MpMain(): print(__name__)\n");
    EXPECT_TRUE(plugin->RunScript(path, true));
    EXPECT_EQ(Output(), "plain-script\n");
}

TEST_F(EngineLoading, SysExitWithoutACodeEndsTheScriptQuietly) {
    const wxString quiet[] = {"sys.exit()", "sys.exit(0)", "sys.exit(None)", "raise SystemExit",
                              "sys.exit(False)"};
    int n = 0;
    for (const wxString& exit : quiet) {
        SCOPED_TRACE(exit.utf8_string());
        // In MpMain: what it printed stays, nothing else is shown.
        const wxString inMain = Script(wxString::Format("inmain%d.py", n), "import sys\n"
                                                                           "def MpMain():\n"
                                                                           "    print('before')\n"
                                                                           "    " +
                                                                               exit + "\n");
        // At import: MpMain is never reached.
        const wxString atImport =
            Script(wxString::Format("atimport%d.py", n),
                   "import sys\nprint('top')\n" + exit + "\ndef MpMain(): print('not reached')\n");
        ++n;
        ClearOutput();
        EXPECT_TRUE(plugin->RunScript(inMain, false));
        EXPECT_TRUE(plugin->RunScript(atImport, true));
        EXPECT_EQ(modal.PendingCount(), 0u);
        EXPECT_EQ(Output(), "before\ntop\n");
    }
    // The quiet end leaves no error behind for the next run.
    ClearOutput();
    EXPECT_TRUE(plugin->RunScript(Script("next.py", "def MpMain(): print('next')\n"), false));
    EXPECT_EQ(Output(), "next\n");
}

TEST_F(EngineLoading, SysExitWithAnyOtherCodeIsStillReported) {
    for (const wxString exit : {"sys.exit(1)", "sys.exit('a message')", "sys.exit(0.0)"}) {
        SCOPED_TRACE(exit.utf8_string());
        ClearOutput();
        EXPECT_FALSE(plugin->RunScript(
            Script("exits.py", "import sys\ndef MpMain():\n    " + exit + "\n"), true));
        EXPECT_TRUE(Output().Contains("SystemExit")) << Output();
        EXPECT_TRUE(Output().EndsWith(wxString(50, '-') + "\n")) << Output();
    }
}
