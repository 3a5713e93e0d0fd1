// Python and wxPython as their users know them from programs of their own: wx's stock objects
// and application, an import path without the working folder, standard streams that keep their
// order and offer what files offer, the signals and forks of Python, and built-in names as
// Python has them.
#include "tests/engine/EngineFixture.h"

#include "engine/DocumentRunner.h"

#include <wx/filename.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace engine_test;
using testing_support::ProcessEventsUntil;
using testing_support::TempDir;

class PythonWorld : public EngineTest {};

TEST_F(PythonWorld, WxStockObjectsAndTheApplicationAreAsInAWxPythonProgram) {
    // Valid before any script ran, as wx.App makes them before a program's OnInit.
    EXPECT_EQ(Eval("[n for n in ('BLACK', 'WHITE', 'RED', 'NORMAL_FONT', 'SMALL_FONT', "
                   "'BLACK_PEN', 'WHITE_PEN', 'BLACK_BRUSH', 'WHITE_BRUSH', 'STANDARD_CURSOR', "
                   "'CROSS_CURSOR', 'LIGHT_GREY', 'BLUE_PEN') if not getattr(wx, n).IsOk()]"),
              "[]");
    // The editor's application, one object, with wx.App's interface.
    EXPECT_EQ(Eval("(isinstance(wx.GetApp(), wx.App), wx.GetApp() is wx.App.Get(), "
                   "wx.GetApp().GetTopWindow() is MpAPI.CAppManagement_Get().GetAppWindow(), "
                   "wx.GetApp().TopWindow is wx.GetApp().GetTopWindow())"),
              "(True, True, True, True)");
    EXPECT_EQ(Eval("(type(wx.GetApp().IsActive()), wx.GetApp().GetAssertMode() == "
                   "wx.APP_ASSERT_EXCEPTION, wx.GetApp().MainLoop(), wx.App.IsDisplayAvailable())"),
              "(<class 'bool'>, True, 0, True)");
    EXPECT_TRUE(Exec("app = wx.GetApp()\n"
                     "app.SetAssertMode(wx.APP_ASSERT_SUPPRESS)\n"
                     "assert app.AssertMode == wx.APP_ASSERT_SUPPRESS\n"
                     "app.SetAssertMode(wx.APP_ASSERT_EXCEPTION)\n"));
    // No second application can be made: wx.App() gives this one.
    EXPECT_EQ(Eval("(type(wx.GetApp())() is wx.GetApp(), wx.App() is wx.GetApp())"),
              "(True, True)");

    // wx.lib.inspection asks the application for its top window; wx.CallAfter still works.
    EXPECT_TRUE(
        plugin->RunScript(Script("inspector.py", "import wx, wx.lib.inspection\n"
                                                 "def MpMain():\n"
                                                 "    wx.lib.inspection.InspectionTool().Show()\n"
                                                 "    wx.CallAfter(print, 'after')\n"),
                          false));
    wxWindow* inspection = nullptr;
    for (wxWindow* window : wxTopLevelWindows)
        if (window->GetLabel() == "wxPython Widget Inspection Tool")
            inspection = window;
    ASSERT_NE(inspection, nullptr) << Output();
    EXPECT_EQ(inspection->GetParent(), editor->Frame());
    EXPECT_TRUE(ProcessEventsUntil([] { return Output().Contains("after\n"); })) << Output();
    inspection->Destroy();
    EXPECT_TRUE(ProcessEventsUntil([] { return true; }));
    EXPECT_FALSE(Output().Contains("Error")) << Output();
}

TEST_F(PythonWorld, TheWorkingFolderIsNeverOnThePathAndAScriptsFolderComesFirstWhileItRuns) {
    // The folder the editor was started from holds modules of the same names as the script's.
    TempDir working;
    working.Write("helper.py", "where = 'working folder'\n");
    working.Write("only_in_working.py", "where = 'working folder'\n");
    const wxString before = wxGetCwd();
    ASSERT_TRUE(wxSetWorkingDirectory(working.Path()));
    const wxString body = "import os, sys\n"
                          "import helper\n"
                          "def MpMain():\n"
                          "    print(helper.where)\n"
                          "    print(sys.path[0] == os.path.dirname(__file__))\n"
                          "    try:\n"
                          "        import only_in_working\n"
                          "    except ImportError:\n"
                          "        print('not found')\n";
    // A registered script, and a document run as the main program.
    Script("tool/helper.py", "where = 'beside the script'\n");
    const wxString script = Script("tool/uses.py", body);
    const bool ran = plugin->RunScript(script, false);
    const wxString scriptOutput = Output();
    ClearOutput();
    Script("doc/helper.py", "where = 'beside the document'\n");
    EXPECT_TRUE(Exec("sys.modules.pop('helper', None)\n"));
    const bool documentRan = document::RunText(body, Script("doc/d.py", ""));
    wxSetWorkingDirectory(before);
    EXPECT_TRUE(ran);
    EXPECT_EQ(scriptOutput, "beside the script\nTrue\nnot found\n");
    EXPECT_TRUE(documentRan);
    EXPECT_EQ(Output(), "beside the document\nTrue\nnot found\n");

    // After the runs: no entry for the working folder, the script's folder no longer first, and
    // nobody's folder before the standard library but what the user named (PYTHONPATH).
    EXPECT_EQ(Eval("[p for p in sys.path if p in ('', '.')]"), "[]");
    EXPECT_EQ(Eval("sys.path[0] == '" + wxFileName(script).GetPath() + "'"), "False");
    EXPECT_EQ(Eval("sys.path.count('" + wxFileName(script).GetPath() + "')"), "1");
    EXPECT_EQ(Eval("sys.path.index(os.path.dirname(os.__file__)) < "
                   "sys.path.index('" COILHATCH_BIN_DIR "')"),
              "True");
}

TEST_F(PythonWorld, StandardInputHasABufferOfBytes) {
    InputAnswers answers(modal, {wxString::FromUTF8("h\xc3\xa9llo"), "two", "three"});
    EXPECT_TRUE(Exec("import argparse\n"
                     "stream = argparse.FileType('rb')('-')\n"
                     "got = [stream is sys.stdin.buffer, stream.readline(), stream.read(2), "
                     "stream.read()]\n"));
    EXPECT_EQ(Eval("got"), "[True, b'h\\xc3\\xa9llo\\n', b'tw', b'o\\nthree\\n']");
    EXPECT_EQ(answers.boxes.size(), 4u); // the last one cancelled: the end of the input
}

TEST_F(PythonWorld, BothStreamsAndTheirDescriptorsKeepTheOrderOfTheWrites) {
    EXPECT_TRUE(plugin->RunScript(
        Script("order.py", "import faulthandler, os, sys, threading\n"
                           "def MpMain():\n"
                           "    print('one')\n"
                           "    faulthandler.dump_traceback(sys.stderr, all_threads=False)\n"
                           "    print('two')\n"
                           "    os.write(sys.stdout.fileno(), b'three\\n')\n"
                           "    os.write(sys.stderr.fileno(), b'four\\n')\n"
                           "    sys.stderr.write('five\\n')\n"
                           "    os.write(sys.stdout.fileno(), b'six\\n')\n"
                           "    t = threading.Thread(target=os.write,\n"
                           "                         args=(sys.stderr.fileno(), b'seven\\n'))\n"
                           "    t.start(); t.join()\n"
                           "    print('eight')\n"),
        false));
    wxString text = Output();
    const int traceback = text.Find("in MpMain");
    ASSERT_NE(traceback, wxNOT_FOUND) << text;
    EXPECT_LT(traceback, text.Find("two\n")) << text;
    EXPECT_TRUE(text.StartsWith("one\n")) << text;
    EXPECT_TRUE(text.EndsWith("two\nthree\nfour\nfive\nsix\nseven\neight\n")) << text;
}

TEST_F(PythonWorld, TheDescriptorsNeedNoThreadOfTheScripts) {
    // Test tools count the threads that a test leaves running.
    EXPECT_TRUE(Exec("import _thread, threading\n"
                     "counts = (threading.active_count(), _thread._count())\n"
                     "sys.stdout.fileno(); sys.stderr.buffer\n"
                     "assert (threading.active_count(), _thread._count()) == counts\n"));
}

TEST_F(PythonWorld, AWritePastTheFileSizeLimitFailsAsInPython) {
    struct sigaction interruptBefore;
    ASSERT_EQ(sigaction(SIGINT, nullptr, &interruptBefore), 0);
    TempDir files;
    EXPECT_TRUE(plugin->RunScript(
        Script("fsize.py", "import resource, signal\n"
                           "def MpMain():\n"
                           "    print(signal.getsignal(signal.SIGXFSZ) == signal.SIG_IGN)\n"
                           "    soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)\n"
                           "    resource.setrlimit(resource.RLIMIT_FSIZE, (1024, hard))\n"
                           "    try:\n"
                           "        with open('" +
                               files.File("big") +
                               "', 'wb', buffering=0) as f:\n"
                               "            f.write(b'x' * 1024)\n"
                               "            f.write(b'y')\n"
                               "    except OSError as error:\n"
                               "        print('errno', error.errno)\n"
                               "    finally:\n"
                               "        resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))\n"),
        false));
    EXPECT_EQ(Output(), "True\nerrno 27\n");
    // The editor's interrupt signal stays as it was.
    struct sigaction interruptAfter;
    ASSERT_EQ(sigaction(SIGINT, nullptr, &interruptAfter), 0);
    EXPECT_EQ(interruptAfter.sa_handler, interruptBefore.sa_handler);
}

TEST_F(PythonWorld, AForkedChildHasTheProcesssOwnStandardStreams) {
    TempDir files;
    const wxString report = files.File("child.txt");
    EXPECT_TRUE(plugin->RunScript(
        Script("forks.py", "import os, pty, sys\n"
                           "def MpMain():\n"
                           "    pid = os.fork()\n"
                           "    if pid == 0:\n"
                           "        with open('" +
                               report +
                               "', 'w') as f:\n"
                               "            f.write(repr((sys.stdin is sys.__stdin__,\n"
                               "                sys.stdout.fileno(), sys.stderr.fileno())))\n"
                               "        os._exit(0)\n"
                               "    os.waitpid(pid, 0)\n"
                               "    pid, master = pty.fork()\n"
                               "    if pid == 0:\n"
                               "        print(sys.stdin.isatty(), sys.stdout.isatty(), "
                               "flush=True)\n"
                               "        os._exit(0)\n"
                               "    got = b''\n"
                               "    while True:\n"
                               "        try:\n"
                               "            part = os.read(master, 100)\n"
                               "        except OSError:\n"
                               "            break\n"
                               "        if not part:\n"
                               "            break\n"
                               "        got += part\n"
                               "    os.waitpid(pid, 0)\n"
                               "    print(got.decode().strip())\n"),
        false));
    EXPECT_EQ(testing_support::ReadFile(report), "(True, 1, 2)");
    EXPECT_EQ(Output(), "True True\n");
    // The parent's streams are the engine's still.
    EXPECT_EQ(Eval("(type(sys.stdout).__name__, sys.stdout is sys.__stdout__, "
                   "sys.stdin.name)"),
              "('TextIOWrapper', True, '<stdin>')");
}

TEST_F(PythonWorld, TheBindingsKeepNoCapsuleInTheBuiltInNames) {
    EXPECT_EQ(Eval("[k for k in vars(__import__('builtins')) if 'pybind11' in k]"), "[]");
    // What test_getpath does: a namespace that exec() filled can be copied.
    EXPECT_TRUE(Exec("import copy\n"
                     "ns = {}\n"
                     "exec('x = 1', ns)\n"
                     "copy.deepcopy(ns)\n"));
    // The bindings still work.
    EXPECT_EQ(Eval("MpAPI.CNameService_Get().GetNameItem('ExecPath').GetAttribute(0)"),
              COILHATCH_BIN_DIR);
    EXPECT_TRUE(Exec("MpAPI.CMessageOutputManagement_Get().GetMessageOutput(0).Append('ok')\n"));
    EXPECT_EQ(Output(), "ok");
}

// The editor's shown window loads the toolkit's GL driver, and with it libedit, which defines
// readline's functions too, into the process's global scope. readline must still be GNU
// readline, with its history.
TEST_F(PythonWorld, ReadlineIsGnuReadlineThoughLibeditIsLoaded) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer builds keep the ordinary import";
#endif
    if (Eval("__import__('ctypes.util').util.find_library('edit')") == "None")
        GTEST_SKIP() << "no libedit on this system";
    EXPECT_TRUE(Exec("import ctypes, ctypes.util\n"
                     "ctypes.CDLL(ctypes.util.find_library('edit'), mode=ctypes.RTLD_GLOBAL)\n"
                     "import readline\n"
                     "readline.clear_history()\n"
                     "readline.add_history('first')\n"
                     "readline.add_history('second')\n"));
    EXPECT_EQ(Eval("('libedit' in readline.__doc__, readline.get_current_history_length(), "
                   "readline.get_history_item(1))"),
              "(False, 2, 'first')");
}
