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
    // The engine's own names in the main module leave what CPython's tests complete there
    // alone (test_rlcompleter asks for "di" and "st").
    EXPECT_TRUE(
        Exec("import builtins, rlcompleter\n"
             "completer = rlcompleter.Completer()\n"
             "completer.complete('', 0)\n"
             "completions = [sorted(completer.global_matches(p)) == "
             "[x + '(' for x in dir(builtins) if x.startswith(p)] for p in ('di', 'st')]\n"));
    EXPECT_EQ(Eval("completions"), "[True, True]");
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

// The locale is a wxPython program's: only LC_CTYPE follows the environment, so what scripts
// save and restore round-trips (numpy's tests do it for LC_NUMERIC when they are collected).
TEST_F(PythonWorld, TheLocaleIsAWxPythonProgramsAndItsRoundTripsWork) {
    EXPECT_TRUE(Exec("import locale, subprocess\n"
                     "outside = subprocess.run([sys.executable, '-c', 'import locale; print("
                     "locale.setlocale(locale.LC_CTYPE))'], capture_output=True, text=True)"
                     ".stdout.strip()\n"));
    EXPECT_EQ(Eval("locale.setlocale(locale.LC_CTYPE) == outside"), "True");
    EXPECT_EQ(Eval("[locale.setlocale(c) for c in (locale.LC_NUMERIC, locale.LC_TIME, "
                   "locale.LC_COLLATE, locale.LC_MONETARY, locale.LC_MESSAGES)]"),
              "['C', 'C', 'C', 'C', 'C']");
    EXPECT_TRUE(plugin->RunScript(Script("roundtrip.py",
                                         "import locale\n"
                                         "def MpMain():\n"
                                         "    for c in (locale.LC_NUMERIC, locale.LC_TIME, "
                                         "locale.LC_COLLATE, locale.LC_MONETARY):\n"
                                         "        locale.setlocale(c, locale.getlocale(c))\n"
                                         "    print(locale.localeconv()['decimal_point'], 1.5)\n"),
                                  false));
    EXPECT_EQ(Output(), ". 1.5\n");
}

// SIGINT is Python's while a script runs, as in a Python program, and the editor's otherwise.
TEST_F(PythonWorld, SigintRaisesKeyboardInterruptInTheRunningScriptOnly) {
    struct sigaction editors;
    ASSERT_EQ(sigaction(SIGINT, nullptr, &editors), 0);
    EXPECT_TRUE(plugin->RunScript(
        Script("selfsignal.py", "import os, signal, time\n"
                                "def MpMain():\n"
                                "    print(signal.getsignal(signal.SIGINT) is "
                                "signal.default_int_handler)\n"
                                "    try:\n"
                                "        os.kill(os.getpid(), signal.SIGINT)\n"
                                "        time.sleep(5)\n"
                                "    except KeyboardInterrupt:\n"
                                "        print('interrupted')\n"
                                "    # SIG_DFL would end a Python program; it ends this run's\n"
                                "    # SIGINT handling only.\n"
                                "    signal.signal(signal.SIGINT, signal.SIG_DFL)\n"),
        false));
    EXPECT_EQ(Output(), "True\ninterrupted\n");
    struct sigaction after;
    ASSERT_EQ(sigaction(SIGINT, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, editors.sa_handler);

    // Uncaught, it is reported like any error; the next run has Python's handler again, and a
    // handler of the script's own stays its.
    ClearOutput();
    EXPECT_FALSE(
        plugin->RunScript(Script("uncaught.py", "import signal\n"
                                                "def MpMain():\n"
                                                "    signal.raise_signal(signal.SIGINT)\n"),
                          false));
    EXPECT_TRUE(Output().Contains("KeyboardInterrupt")) << Output();
    ClearOutput();
    const wxString own = Script("own.py", "import os, signal\n"
                                          "def handler(number, frame):\n"
                                          "    print('handled', number == signal.SIGINT)\n"
                                          "def MpMain():\n"
                                          "    if signal.getsignal(signal.SIGINT) is not handler:\n"
                                          "        signal.signal(signal.SIGINT, handler)\n"
                                          "    os.kill(os.getpid(), signal.SIGINT)\n");
    EXPECT_TRUE(plugin->RunScript(own, false));
    EXPECT_TRUE(plugin->RunScript(own, false));
    EXPECT_EQ(Output(), "handled True\nhandled True\n");
    ASSERT_EQ(sigaction(SIGINT, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, editors.sa_handler);
}

// An editor started with SIGINT ignored (in the background, under nohup) runs its scripts as
// Python started so runs a program: SIGINT stays ignored, and getsignal says so.
TEST_F(PythonWorld, SigintIgnoredByTheEditorStaysIgnoredInItsScripts) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGINT, &ignore, nullptr), 0);
    // Not ignored, the signal would end the run with KeyboardInterrupt.
    const wxString script = Script("ignored.py", "import os, signal\n"
                                                 "def MpMain():\n"
                                                 "    print(signal.getsignal(signal.SIGINT) == "
                                                 "signal.SIG_IGN)\n"
                                                 "    os.kill(os.getpid(), signal.SIGINT)\n");
    EXPECT_TRUE(plugin->RunScript(script, false));
    EXPECT_TRUE(plugin->RunScript(script, false));
    EXPECT_EQ(Output(), "True\nTrue\n");
    ASSERT_EQ(sigaction(SIGINT, nullptr, &ignore), 0);
    EXPECT_EQ(ignore.sa_handler, SIG_IGN);
}

// A toolkit assertion that fails in a script's call raises wx.wxAssertionError there, as in a
// wxPython program, in the mode the application says; never a dialog (the tests' own handler
// would fail the test).
TEST_F(PythonWorld, ToolkitAssertionsRaiseInTheScriptWhoseCallFailed) {
    EXPECT_FALSE(plugin->RunScript(Script("asserts.py",
                                          "import wx\n"
                                          "def MpMain():\n"
                                          "    try:\n"
                                          "        wx.Bitmap().ConvertToImage()\n"
                                          "    except wx.wxAssertionError as error:\n"
                                          "        print('caught:', 'IsOk()' in str(error))\n"
                                          "    app = wx.GetApp()\n"
                                          "    app.SetAssertMode(wx.APP_ASSERT_SUPPRESS)\n"
                                          "    try:\n"
                                          "        wx.Bitmap().ConvertToImage()\n"
                                          "        print('suppressed')\n"
                                          "    finally:\n"
                                          "        app.SetAssertMode(wx.APP_ASSERT_EXCEPTION)\n"
                                          "    wx.Bitmap().ConvertToImage()\n"),
                                   false));
    const wxString text = Output();
    EXPECT_TRUE(text.StartsWith("caught: True\nsuppressed\nTraceback")) << text;
    EXPECT_TRUE(text.Contains("asserts.py\", line 14, in MpMain")) << text;
    EXPECT_TRUE(text.Contains("wx._core.wxAssertionError: C++ assertion")) << text;
    EXPECT_EQ(modal.DialogsShown(), 0);
}

// wx.App() and wx.App subclasses give the editor's application, as wx.GetApp() does: frames
// made show, OnInit runs once, MainLoop returns at once; the editor's top window stays.
TEST_F(PythonWorld, WxAppGivesTheEditorsApplication) {
    EXPECT_TRUE(plugin->RunScript(
        Script("app.py", "import wx\n"
                         "class MyApp(wx.App):\n"
                         "    inits = 0\n"
                         "    def OnInit(self):\n"
                         "        MyApp.inits += 1\n"
                         "        self.frame = wx.Frame(None, title='from OnInit')\n"
                         "        self.frame.Show()\n"
                         "        self.SetTopWindow(self.frame)\n"
                         "        return True\n"
                         "def MpMain():\n"
                         "    app = wx.App()\n"
                         "    frame = wx.Frame(None, title='plain')\n"
                         "    frame.Show()\n"
                         "    print(app is wx.GetApp(), app.MainLoop(), frame.IsShown())\n"
                         "    mine = MyApp(redirect=False)\n"
                         "    print(mine is wx.GetApp(), isinstance(wx.GetApp(), MyApp), "
                         "MyApp.inits, mine.frame.IsShown(), mine.MainLoop())\n"
                         "    print(wx.GetApp().GetTopWindow().GetTitle())\n"
                         "    for window in (frame, mine.frame):\n"
                         "        window.Destroy()\n"),
        false));
    EXPECT_EQ(Output(), "True 0 True\nTrue True 1 True 0\nMarrowpad\n");

    // OnInit returning False ends the script as it ends a program, with wxPython's words.
    ClearOutput();
    EXPECT_FALSE(plugin->RunScript(Script("refuses.py", "import wx\n"
                                                        "class No(wx.App):\n"
                                                        "    def OnInit(self):\n"
                                                        "        return False\n"
                                                        "def MpMain():\n"
                                                        "    No()\n"),
                                   false));
    EXPECT_TRUE(Output().Contains("SystemExit: OnInit returned false, exiting...")) << Output();
    EXPECT_EQ(Eval("wx.GetApp().MainLoop()"), "0");
}

// A failed load is told from the script's own code on: no frame of the engine's loader or of
// importlib comes before it.
TEST_F(PythonWorld, TracebacksStartAtTheScriptsOwnCode) {
    const struct {
        const char* file;
        const char* text;
        const char* first; // the first place the traceback names
    } cases[] = {
        {"atimport.py", "import os\n\nraise ValueError('at import')\n", "atimport.py\", line 3"},
        {"deeper.py", "def f():\n    1 / 0\nf()\n", "deeper.py\", line 3"},
        {"broken.py", "def MpMain(:\n    pass\n", "broken.py\", line 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ClearOutput();
        EXPECT_FALSE(plugin->RunScript(Script(c.file, c.text), false));
        EXPECT_EQ(modal.TakeMessageBoxes().size(), 1u);
        const wxString text = Output();
        const int at = text.Find("  File \"");
        ASSERT_NE(at, wxNOT_FOUND) << text;
        EXPECT_TRUE(text.Mid(at).BeforeFirst('\n').Contains(c.first)) << text;
        EXPECT_FALSE(text.Contains("startup.py")) << text;
        EXPECT_FALSE(text.Contains("importlib")) << text;
    }
}

// A thread's failure is reported in the output even where Python's own report cannot be
// written: the script set sys.stderr to None, or to something that fails.
TEST_F(PythonWorld, AThreadsFailureAlwaysReachesTheOutput) {
    EXPECT_TRUE(plugin->RunScript(
        Script("threads.py",
               "import sys, threading\n"
               "class Broken:\n"
               "    def write(self, text):\n"
               "        raise OSError('broken stream')\n"
               "    def flush(self):\n"
               "        pass\n"
               "def fail(what):\n"
               "    raise RuntimeError(what)\n"
               "def MpMain():\n"
               "    for stderr, what in ((None, 'no stream'), (Broken(), 'broken')):\n"
               "        sys.stderr = stderr\n"
               "        t = threading.Thread(target=fail, args=(what,), name=what)\n"
               "        t.start()\n"
               "        t.join()\n"),
        false));
    const wxString text = Output();
    EXPECT_TRUE(text.Contains("Exception in thread no stream:\nTraceback")) << text;
    EXPECT_TRUE(text.Contains("RuntimeError: no stream\n")) << text;
    EXPECT_TRUE(text.Contains("Exception in thread broken:\nTraceback")) << text;
    EXPECT_TRUE(text.Contains("RuntimeError: broken\n")) << text;
}
