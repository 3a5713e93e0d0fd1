// The editor program with the built plug-in, run in batch mode twice: once as the stand-in is,
// and once with --strict-interface, as an editor that offers its interface alone and none of the
// stand-in's extensions. The core of every feature works both ways.
#include "tests/support/PluginsFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wx/ffile.h>

using testing_support::Describe;
using testing_support::ProcessResult;
using testing_support::RunProcess;
using Plugins = testing_support::PluginsFolder;
using Script = testing_support::ScriptFile;

namespace {

class E2EStrictInterface : public ::testing::TestWithParam<bool> {
protected:
    // The editor in batch mode on the plug-ins folder, strict or not as the test's parameter.
    ProcessResult Run(const Plugins& plugins, std::vector<wxString> args) const {
        args.insert(args.begin(),
                    {COILHATCH_BIN_DIR "/marrowpad", "--batch", "--plugins-dir", plugins.Path()});
        if (GetParam())
            args.insert(args.begin() + 2, "--strict-interface");
        return RunProcess(args);
    }
};

// Adds what a new user's first start registers: the examples, by locations relative to the
// plug-ins folder.
void RegisterExamples(const Plugins& plugins) {
    wxString settings = plugins.Settings();
    settings.Replace("<!--Unsaved-->", "");
    settings.Replace("<Counts>1</Counts>", "<Counts>3</Counts>");
    int index = 1;
    for (const char* name : {"hello", "wordcount"}) {
        settings.Replace("</Coilhatch>",
                         wxString::Format("<Script%d><autoRun>0</autoRun><autoReload>1</autoReload>"
                                          "<name>%s</name><location>python/examples/%s.py"
                                          "</location><description>example</description>"
                                          "</Script%d></Coilhatch>",
                                          index, name, name, index));
        ++index;
    }
    wxFFile(plugins.Path() + "/Coilhatch.xml", "w").Write(settings, wxConvUTF8);
}

TEST_P(E2EStrictInterface, ScriptsRunAtStartAndFromTheMenuAndPrint) {
    const Plugins plugins(
        {Script{"starter", "def MpMain():\n    print('started at start-up')\n", true}});
    RegisterExamples(plugins);
    const wxString document = plugins.Document("notes.py", "import os\nprint(os.sep)\n");
    const ProcessResult result = Run(plugins, {"--select", "Tools/Python Script/hello", "--select",
                                               "Tools/Python Script/wordcount", document});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(result.out.StartsWith("started at start-up\nHello from Python"))
        << Describe(result);
    EXPECT_TRUE(result.out.Contains("wordcount: the document has 2 lines, 3 words"))
        << Describe(result);
    EXPECT_FALSE(result.out.Contains("[message box]")) << Describe(result);
    EXPECT_TRUE(plugins.Settings().Contains("<name>wordcount</name>")) << plugins.Settings();
}

// The plug-in knows a saved document's file only through the stand-in's extension: completion
// works on the text alone where the editor does not tell it.
TEST_P(E2EStrictInterface, CompletionShowsAListInASavedAndInAnUnsavedDocument) {
    const Plugins plugins({Script{"fill", "import MpAPI, wx.stc\n"
                                          "def MpMain():\n"
                                          "    editor = MpAPI.CEditorManagement_Get()"
                                          ".GetCurrentEditor()\n"
                                          "    editor.SetLexer(wx.stc.STC_LEX_PYTHON)\n"
                                          "    editor.SetText('import os\\nos.pa')\n"}});
    const wxString saved = plugins.Document("saved.py", "import os\nos.pa");
    const ProcessResult inSaved = Run(plugins, {"--complete", "2:6", saved});
    EXPECT_EQ(inSaved.status, 0) << Describe(inSaved);
    EXPECT_TRUE(inSaved.out.Contains("[completion] pa")) << Describe(inSaved);

    const ProcessResult inUnsaved = Run(plugins, {"--select", "File/New", "--select",
                                                  "Tools/Python Script/fill", "--complete", "2:6"});
    EXPECT_EQ(inUnsaved.status, 0) << Describe(inUnsaved);
    EXPECT_TRUE(inUnsaved.out.Contains("[completion] pa")) << Describe(inUnsaved);
    EXPECT_FALSE(inUnsaved.out.Contains("[message box]")) << Describe(inUnsaved);
}

// A saved document that imports a module beside it runs where the editor tells its file; where
// it does not, it runs as an unsaved text, and the user is told why, once per document.
TEST_P(E2EStrictInterface, RunCurrentDocumentFindsTheModulesBesideItOrSaysWhyNot) {
    const Plugins plugins({});
    plugins.Document("helper.py", "WORD = 'beside'\n");
    const wxString document = plugins.Document("main.py", "import helper\nprint(helper.WORD)\n");
    const wxString run = "Tools/Python Script/Run Current Document";
    const ProcessResult result = Run(plugins, {"--select", run, "--select", run, document});
    // Batch mode tells a failed run by its status.
    EXPECT_EQ(result.status, GetParam() ? 1 : 0) << Describe(result);
    const wxString told = "The current document runs as an unsaved text: the editor does not say "
                          "which file it is; modules beside it are not found.\n";
    if (GetParam()) {
        wxString rest = result.out;
        EXPECT_EQ(rest.Replace(told, ""), 1u) << Describe(result);
        EXPECT_EQ(rest.Replace("ModuleNotFoundError: No module named 'helper'", ""), 2u)
            << Describe(result);
    } else {
        EXPECT_EQ(result.out, "beside\nbeside\n") << Describe(result);
    }
}

// An editor may unload the plug-in's module once it has released and destroyed the plug-in.
// What scripts left behind in the editor (a timer, a queued call, a bound handler, a thread, an
// atexit function) must not run into an unmapped module: the editor ends cleanly.
TEST_P(E2EStrictInterface, TheModuleUnloadedAfterTheReleaseLeavesTheEditorWhole) {
    const Plugins plugins(
        {Script{"leaver", "import atexit, threading, time, wx, MpAPI\n"
                          "def tick():\n"
                          "    while True:\n"
                          "        print('thread', flush=True)\n"
                          "        time.sleep(0.01)\n"
                          "def MpMain():\n"
                          "    frame = MpAPI.CAppManagement_Get().GetAppWindow()\n"
                          "    frame.Bind(wx.EVT_IDLE, lambda e: e.Skip())\n"
                          "    wx.CallLater(300, print, 'late')\n"
                          "    wx.CallAfter(print, 'after')\n"
                          "    threading.Thread(target=tick, daemon=True)"
                          ".start()\n"
                          "    atexit.register(print, 'at exit')\n"
                          "    print('left work behind')\n"}});
    const ProcessResult result =
        Run(plugins, {"--unload-plugins", "--select", "Tools/Python Script/leaver"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(result.out.Contains("left work behind\n")) << Describe(result);
    EXPECT_TRUE(result.out.Contains("at exit")) << Describe(result);
    EXPECT_FALSE(result.err.Contains("could not be unloaded")) << Describe(result);
}

INSTANTIATE_TEST_SUITE_P(Interface, E2EStrictInterface, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Strict" : "WithExtensions";
                         });

} // namespace
