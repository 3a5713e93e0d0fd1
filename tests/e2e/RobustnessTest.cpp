// The editor program with the built plug-in, run in batch mode against scripts that try to take
// it down: what they do must neither crash nor hang the editor, nor cost the user's settings.
#include "tests/support/PluginsFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wx/utils.h>

#include <unistd.h>

using testing_support::ProcessResult;
using testing_support::ReadFile;
using testing_support::RunProcess;
using testing_support::TempDir;

namespace {

using Plugins = testing_support::PluginsFolder;
using Script = testing_support::ScriptFile;
using testing_support::Describe;

const wxString program = COILHATCH_BIN_DIR "/marrowpad";
// A run that has not ended after this long is killed and counts as hung (status 128 + 9).
const wxString timeLimit = "60";

ProcessResult RunEditor(std::vector<wxString> args) {
    // These scripts leave threads stopped for good at the end of the process. The sanitizer
    // build's leak checker cannot suspend such threads at exit (its tracer faults), so the editor
    // runs here without it; leaks are checked by the in-process tests.
    wxString sanitizer;
    wxGetEnv("ASAN_OPTIONS", &sanitizer);
    args.insert(args.begin(), {"/usr/bin/env", "ASAN_OPTIONS=" + sanitizer + ":detect_leaks=0",
                               "/usr/bin/timeout", "-s", "KILL", timeLimit, program, "--batch"});
    return RunProcess(args);
}

ProcessResult RunWith(const Plugins& plugins, const std::vector<wxString>& selections,
                      const std::vector<wxString>& more = {}) {
    std::vector<wxString> args{"--plugins-dir", plugins.Path()};
    for (const wxString& selection : selections) {
        args.push_back("--select");
        args.push_back(selection.Contains("/") ? selection : "Tools/Python Script/" + selection);
    }
    args.insert(args.end(), more.begin(), more.end());
    return RunEditor(args);
}

} // namespace

// A script's atexit function runs after the settings are saved: one that ends the process, or
// one that looks at the file, finds the settings already written.
TEST(E2ERobustness, SettingsAreSavedBeforeTheScriptsShutdownWork) {
    const Plugins exits({Script{"bye", "import atexit, os\n"
                                       "def MpMain():\n"
                                       "    atexit.register(os._exit, 0)\n"}});
    exits.AskForASave();
    ProcessResult result = RunWith(exits, {"bye"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(exits.Saved()) << exits.Settings();

    const Plugins looks({Script{"look", "import atexit, MpAPI\n"
                                        "def check():\n"
                                        "    folder = MpAPI.CNameService_Get()"
                                        ".GetNameItem('PluginsPath').GetAttribute(0)\n"
                                        "    text = open(folder + '/Coilhatch.xml').read()\n"
                                        "    print('saved first:', '<Counts>1<' in text)\n"
                                        "def MpMain():\n"
                                        "    atexit.register(check)\n"}});
    looks.AskForASave();
    result = RunWith(looks, {"look"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(result.out.Contains("saved first: True")) << Describe(result);
}

namespace {

const char* const callAfterFlood = "import threading, wx\n"
                                   "def flood():\n"
                                   "    while True:\n"
                                   "        wx.CallAfter(lambda: None)\n"
                                   "def MpMain():\n"
                                   "    threading.Thread(target=flood, daemon=True).start()\n"
                                   "    print('flooding')\n";

} // namespace

// The thread once queued events into the application being destroyed: closes hung or crashed.
TEST(E2ERobustness, AThreadFloodingCallAfterNeverHoldsUpTheClose) {
    const Plugins plugins({Script{"flood", callAfterFlood}});
    for (int run = 0; run < 10; ++run) {
        const ProcessResult result = RunWith(plugins, {"flood"});
        ASSERT_EQ(result.status, 0) << "run " << run << "\n" << Describe(result);
        EXPECT_TRUE(result.out.StartsWith("flooding\n")) << Describe(result);
    }
    EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
}

TEST(E2ERobustness, FileQuitWorksWhileAThreadFloodsCallAfter) {
    const Plugins plugins({Script{"flood", callAfterFlood}});
    const ProcessResult result = RunWith(plugins, {"flood", "File/Quit"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
}

// Once the plug-in is released no script thread runs Python again, even when Python code runs
// on the editor's thread afterwards and gives the lock away: neither a thread of the threading
// module nor one that _thread started (which threading does not list), and not the handlers a
// thread has for the exception that stops it.
TEST(E2ERobustness, ScriptThreadsRunNoPythonAfterTheRelease) {
    const Plugins plugins({Script{"count", "import MpAPI, _thread, threading, time, wx\n"
                                           "ticks = [0]\n"
                                           "def count():\n"
                                           "    while True:\n"
                                           "        ticks[0] += 1\n"
                                           "        time.sleep(0.001)\n"
                                           "def count_and_catch():\n"
                                           "    try:\n"
                                           "        count()\n"
                                           "    except BaseException:\n"
                                           "        ticks[0] += 1000\n"
                                           "    finally:\n"
                                           "        ticks[0] += 1000\n"
                                           "def late():\n"
                                           "    seen = ticks[0]\n"
                                           "    time.sleep(0.3)\n"
                                           "    print('ticks after release:', ticks[0] - seen)\n"
                                           "def MpMain():\n"
                                           "    threading.Thread(target=count, daemon=True)"
                                           ".start()\n"
                                           "    _thread.start_new_thread(count_and_catch, ())\n"
                                           "    frame = MpAPI.CAppManagement_Get()"
                                           ".GetAppWindow()\n"
                                           "    frame.Bind(wx.EVT_WINDOW_DESTROY, "
                                           "lambda e: (late(), e.Skip()))\n"}});
    const ProcessResult result = RunWith(plugins, {"count"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(result.err.Contains("ticks after release: 0") ||
                result.out.Contains("ticks after release: 0"))
        << Describe(result);
}

// An auto-run script that closes the main window runs while the plug-in builds its submenu: the
// plug-in was released under its own handler, and every start crashed.
TEST(E2ERobustness, AnAutoRunScriptClosingTheMainWindowEndsTheEditorCleanly) {
    const Plugins plugins({Script{"closer",
                                  "import MpAPI\n"
                                  "def MpMain():\n"
                                  "    MpAPI.CAppManagement_Get().GetAppWindow().Close()\n"
                                  "    print('closed')\n",
                                  true},
                           Script{"next", "def MpMain():\n    print('next ran')\n", true}});
    for (int start = 0; start < 2; ++start) {
        const ProcessResult result = RunWith(plugins, {});
        EXPECT_EQ(result.status, 0) << "start " << start << "\n" << Describe(result);
        EXPECT_EQ(result.out, "closed\n") << Describe(result);
        EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
        EXPECT_TRUE(plugins.Settings().Contains("<name>next</name>")) << plugins.Settings();
    }
}

// A subinterpreter that a script made and left (CPython's own tests do) turns CPython's check of
// who holds the interpreter lock off; a script's handler that then closes the main window still
// ends the editor, rather than waiting for ever for a lock its own thread kept.
TEST(E2ERobustness, AWindowClosedAfterASubinterpreterWasMadeEndsTheEditor) {
    const Plugins plugins({Script{"sub", "import _xxsubinterpreters as sub, wx, MpAPI\n"
                                         "def MpMain():\n"
                                         "    sub.run_string(sub.create(), 'pass')\n"
                                         "    wx.CallAfter(MpAPI.CAppManagement_Get()"
                                         ".GetAppWindow().Close)\n"
                                         "    print('made')\n"}});
    const ProcessResult result = RunWith(plugins, {"sub"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "made\n") << Describe(result);
}

// The release finds wxPython's clean-up through a reference taken at the start: looked up at
// the end, it was missed, ran at the shutdown work and tore the toolkit out from under the
// editor at every close.
TEST(E2ERobustness, TakingWxOutOfSysModulesDoesNotCrashTheClose) {
    const Plugins plugins({Script{"forget", "import sys\n"
                                            "def MpMain():\n"
                                            "    del sys.modules['wx._core']\n"
                                            "    print('forgotten')\n"}});
    const ProcessResult result = RunWith(plugins, {"forget"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "forgotten\n") << Describe(result);
    EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
}

// The settings are saved before the atexit functions run; one that never returns holds the
// close a few seconds at most.
TEST(E2ERobustness, AtexitFunctionsThatNeverReturnDoNotHoldTheClose) {
    const char* const hangs[] = {"import atexit, time\n"
                                 "def MpMain():\n"
                                 "    atexit.register(lambda: time.sleep(3600))\n",
                                 "import atexit\n"
                                 "def spin():\n"
                                 "    while True:\n"
                                 "        pass\n"
                                 "def MpMain():\n"
                                 "    atexit.register(spin)\n"};
    for (const char* source : hangs) {
        SCOPED_TRACE(source);
        const Plugins plugins({Script{"hang", source}});
        plugins.AskForASave();
        const ProcessResult result = RunWith(plugins, {"hang"});
        EXPECT_EQ(result.status, 0) << Describe(result);
        EXPECT_TRUE(result.err.Contains("atexit functions did not end within 3 s"))
            << Describe(result);
        EXPECT_TRUE(plugins.Saved()) << plugins.Settings();
    }
}

// A script that forks: the child ends when the script returns in it, and only the editor runs
// the next selection.
TEST(E2ERobustness, AChildForkedByAScriptEndsWhenTheScriptReturns) {
    const Plugins plugins({Script{"fork", "import os\n"
                                          "def MpMain():\n"
                                          "    if os.fork() == 0:\n"
                                          "        print('in the child')\n"},
                           Script{"next", "def MpMain():\n"
                                          "    print('next ran')\n"}});
    const ProcessResult result = RunWith(plugins, {"fork", "next"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    wxString out = result.out;
    EXPECT_EQ(out.Replace("next ran", ""), 1u) << Describe(result);
    EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
}

// A script that destroys the documents' notebook: the editor goes on, makes a new one for the
// next document, and ends cleanly.
TEST(E2ERobustness, AScriptDestroyingTheNotebookNeitherCrashesNorStopsTheEditor) {
    const Plugins plugins(
        {Script{"destroy", "import MpAPI\n"
                           "def MpMain():\n"
                           "    MpAPI.CEditorManagement_Get().GetCurrentEditor()"
                           ".GetParent().Destroy()\n"},
         Script{"look", "import MpAPI\n"
                        "def MpMain():\n"
                        "    editor = MpAPI.CEditorManagement_Get().GetCurrentEditor()\n"
                        "    print('a document:', editor is not None)\n"}});
    const wxString document = plugins.Document("notes.txt", "some text\n");
    const ProcessResult result =
        RunWith(plugins, {"destroy", "look", "File/New", "look"}, {document});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(result.out.Contains("a document: False\n")) << Describe(result);
    EXPECT_TRUE(result.out.Contains("a document: True\n")) << Describe(result);
    EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
}

// A script that chooses another script's menu item while it runs does not run that one inside
// itself; the user is told, and both can be chosen again afterwards.
TEST(E2ERobustness, AScriptChosenWhileAnotherRunsIsRefusedWithAWord) {
    const Plugins plugins(
        {Script{"inner", "def MpMain():\n    print('inner ran')\n"},
         Script{"outer", "import MpAPI, wx\n"
                         "def MpMain():\n"
                         "    frame = MpAPI.CAppManagement_Get().GetAppWindow()\n"
                         "    item = frame.GetMenuBar().FindMenuItem('Tools', 'inner')\n"
                         "    frame.ProcessEvent(wx.CommandEvent(wx.wxEVT_MENU, item))\n"
                         "    print('outer ran')\n"}});
    const ProcessResult result = RunWith(plugins, {"outer", "inner"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "\"inner\" was not run: \"outer\" is still running.\nouter ran\n"
                          "inner ran\n")
        << Describe(result);
}
