// The script runner through the plug-in object: its failure cases with their message boxes,
// their order against the error report and their results; reload; module names; folders that
// could not stand inside Python source text; SystemExit; threads; what a run leaves behind.
#include "tests/engine/EngineFixture.h"

#include <wx/app.h>

#include <wx/filefn.h>
#include <wx/msgdlg.h>

using namespace engine_test;

class EngineRunner : public EngineTest {};

namespace {

const wxString separator = wxString(50, '-') + "\n";

// The message box the runner shows, with the toolkit's default caption and OK | CENTRE.
void ExpectRunnerBox(const testing_support::MessageBoxRecord& box, const wxString& text) {
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, wxString(wxMessageBoxCaptionStr));
    EXPECT_EQ(box.style & (wxOK | wxCENTRE), wxOK | wxCENTRE);
}

// The end of a failure report: a time stamp as time.ctime() writes it, then the separator
// line. Returns what came before them.
wxString ExpectReportEnd(const wxString& text) {
    constexpr size_t stampLength = 25; // "Mon Dec  7 20:03:32 2026\n"
    if (!text.EndsWith(separator) || text.length() < separator.length() + stampLength) {
        ADD_FAILURE() << "no report end: " << text;
        return text;
    }
    const size_t stampAt = text.length() - separator.length() - stampLength;
    const wxString stamp = text.Mid(stampAt, stampLength);
    EXPECT_TRUE(stampAt == 0 || text[stampAt - 1] == '\n') << text;
    EXPECT_EQ(stamp[13], ':') << stamp;
    EXPECT_EQ(stamp.Last(), '\n') << stamp;
    return text.Left(stampAt);
}

const char* const printingScript = "print('top')\n"
                                   "def MpMain():\n"
                                   "    print('main')\n";

} // namespace

TEST_F(EngineRunner, MissingFileFolderOrEmptyPathShowTheMessageAndTouchNothing) {
    const wxString pathBefore = Eval("repr(sys.path)");
    const wxString missing = scripts.Path() + "/missing.py";
    for (const wxString& path : {missing, scripts.Path()}) {
        EXPECT_FALSE(plugin->RunScript(path, false));
        auto boxes = modal.TakeMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        ExpectRunnerBox(boxes[0], "Python script does not exist:" + path);
    }
    // A script without a location is named, in a box with a caption.
    for (const wxString& title : {wxString("Loop"), wxString()}) {
        EXPECT_FALSE(plugin->RunScript(wxString(), false, title));
        auto boxes = modal.TakeMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Python Script");
        EXPECT_EQ(boxes[0].text, title.empty() ? wxString("The script has no location: choose its "
                                                          "file in Script Management.")
                                               : wxString("The script \"Loop\" has no location: "
                                                          "choose its file in Script Management."));
    }
    EXPECT_TRUE(Output().empty());
    EXPECT_EQ(Eval("repr(sys.path)"), pathBefore);
}

// The box names the module, then on its own line the error as the traceback's last line says
// it, under a caption.
TEST_F(EngineRunner, FailedImportShowsTheModuleAndWhyThenTheTracebackThenTheStamp) {
    struct Case {
        wxString file;
        wxString text;
        wxString module;
        wxString error;
    };
    const Case cases[] = {
        {"syntax.py", "def MpMain(:\n", "syntax", "SyntaxError: "},
        {"raising.py", "raise ValueError('at import')\ndef MpMain(): pass\n", "raising",
         "ValueError: at import"},
        {"badcoding.py", "# -*- coding: no-such-codec -*-\ndef MpMain(): pass\n", "badcoding",
         "SyntaxError: unknown encoding: no-such-codec"},
        {"nulls.py", wxString("def MpMain(): pass\n#") + wxUniChar(0) + "\n", "nulls",
         "ValueError: source code string cannot contain null bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.utf8_string());
        ClearOutput();
        modal.piecesAtBox.clear();
        EXPECT_FALSE(plugin->RunScript(Script(c.file, c.text), false));
        auto boxes = modal.TakeMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes[0].text.StartsWith("There is no module:" + c.module + "\n" + c.error))
            << boxes[0].text;
        EXPECT_EQ(boxes[0].text.Freq('\n'), 1u) << boxes[0].text;
        EXPECT_EQ(boxes[0].caption, "Python Script");
        // The box came before anything of the report reached the output.
        EXPECT_EQ(modal.piecesAtBox, std::vector<size_t>{0});
        const wxString report = ExpectReportEnd(Output());
        EXPECT_NE(report.Find(c.error), wxNOT_FOUND) << Output();
    }
}

// A message box runs an event loop, and with it Python code that scripts queued; the failure
// being reported must survive it.
TEST_F(EngineRunner, PythonRunWhileTheBoxIsUpKeepsTheErrorToReport) {
    modal.whileShown = [] { wxTheApp->ProcessPendingEvents(); };
    EXPECT_FALSE(plugin->RunScript(Script("queued.py", "import wx\n"
                                                       "wx.CallAfter(print, 'queued')\n"
                                                       "raise ValueError('at import')\n"),
                                   false));
    ASSERT_EQ(modal.TakeMessageBoxes().size(), 1u);
    EXPECT_TRUE(Output().Contains("queued")) << Output();
    EXPECT_TRUE(Output().Contains("ValueError: at import")) << Output();
}

TEST_F(EngineRunner, MissingOrNonCallableMpMainReportsOnlyTheStamp) {
    const wxString scriptsText[] = {"x = 1\n", "MpMain = 42\n"};
    const wxString names[] = {"nomain.py", "noncallable.py"};
    for (int i = 0; i < 2; ++i) {
        ClearOutput();
        EXPECT_FALSE(plugin->RunScript(Script(names[i], scriptsText[i]), false));
        auto boxes = modal.TakeMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        ExpectRunnerBox(boxes[0], "There is no MpMain function on module.");
        EXPECT_EQ(ExpectReportEnd(Output()), "") << Output();
    }
}

TEST_F(EngineRunner, ScriptNamedLikeAStandardModuleRunsItsOwnFile) {
    // The folder goes at the end of sys.path, where the standard library's string comes first;
    // the script is loaded from its own file all the same, and the standard module stays.
    EXPECT_TRUE(plugin->RunScript(Script("string.py", "def MpMain(): print('mine')\n"), false));
    EXPECT_EQ(Output(), "mine\n");
    EXPECT_EQ(Eval("hasattr(__import__('string'), 'ascii_letters')"), "True");
}

TEST_F(EngineRunner, FileNameWithAFurtherDotRunsUnderTheWholeName) {
    EXPECT_TRUE(plugin->RunScript(Script("a.b.py", "def MpMain(): print(__name__)\n"), false));
    EXPECT_EQ(Output(), "a.b\n");
    // Not a module b of a package a: import statements do not see it.
    EXPECT_EQ(Eval("'a.b' in sys.modules or 'a' in sys.modules"), "False");
}

TEST_F(EngineRunner, RaisingMpMainReportsWithoutAMessageBox) {
    EXPECT_FALSE(plugin->RunScript(
        Script("raises.py", "def MpMain():\n    raise RuntimeError('boom')\n"), false));
    EXPECT_EQ(modal.PendingCount(), 0u);
    ExpectReportEnd(Output());
    EXPECT_NE(Output().Find("Traceback (most recent call last):"), wxNOT_FOUND) << Output();
    EXPECT_NE(Output().Find("RuntimeError: boom"), wxNOT_FOUND) << Output();
}

TEST_F(EngineRunner, SuccessfulRunPrintsThroughTheMessageOutput) {
    EXPECT_TRUE(
        plugin->RunScript(Script("hello.py", "def MpMain():\n    print('hello')\n"), false));
    EXPECT_EQ(Output(), "hello\n");
}

TEST_F(EngineRunner, ReloadRunsTheTopLevelOnceOnEveryRunAndMpMainOnce) {
    const wxString path = Script("reloaded.py", printingScript);
    EXPECT_TRUE(plugin->RunScript(path, true));
    EXPECT_EQ(Output(), "top\nmain\n");
    ClearOutput();
    EXPECT_TRUE(plugin->RunScript(path, true));
    EXPECT_EQ(Output(), "top\nmain\n");
}

TEST_F(EngineRunner, WithoutReloadTheTopLevelRunsOnceAcrossRuns) {
    const wxString path = Script("kept.py", printingScript);
    EXPECT_TRUE(plugin->RunScript(path, false));
    EXPECT_TRUE(plugin->RunScript(path, false));
    EXPECT_EQ(Output(), "top\nmain\nmain\n");
}

TEST_F(EngineRunner, RelativePathIsTakenFromTheCurrentFolderAndKeptRelative) {
    Script("sub/relative.py", "def MpMain():\n    print('relative')\n");
    const wxString before = wxGetCwd();
    ASSERT_TRUE(wxSetWorkingDirectory(scripts.Path()));
    const bool ran = plugin->RunScript("sub/relative.py", false);
    wxSetWorkingDirectory(before);
    EXPECT_TRUE(ran);
    EXPECT_EQ(Output(), "relative\n");
    EXPECT_EQ(Eval("sys.path[-1]"), "sub");
}

TEST_F(EngineRunner, FolderWithQuoteBackslashAndNonAsciiLettersRunsAndIsOnThePathExactly) {
    const wxString folder = wxString::FromUTF8("we\"ird\\tfolder \xc3\xb6\xc3\xa5\xe6\x97\xa5");
    const wxString path = Script(folder + "/" + wxString::FromUTF8("gr\xc3\xbc\xc3\x9f.py"),
                                 "def MpMain():\n    print('ran', __name__)\n");
    EXPECT_TRUE(plugin->RunScript(path, false));
    EXPECT_EQ(Output(), wxString::FromUTF8("ran gr\xc3\xbc\xc3\x9f\n"));
    EXPECT_EQ(Eval("sys.path[-1]"), scripts.Path() + "/" + folder);
}

TEST_F(EngineRunner, SystemExitIsReportedAndTheEditorLivesOn) {
    EXPECT_FALSE(plugin->RunScript(Script("exitsatimport.py", "import sys\nsys.exit(3)\n"), false));
    auto boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "There is no module:exitsatimport\nSystemExit: 3");
    EXPECT_NE(Output().Find("SystemExit: 3"), wxNOT_FOUND) << Output();
    ExpectReportEnd(Output());

    ClearOutput();
    EXPECT_FALSE(plugin->RunScript(
        Script("exitsinmain.py", "import sys\ndef MpMain():\n    sys.exit(3)\n"), false));
    EXPECT_EQ(modal.PendingCount(), 0u);
    EXPECT_NE(Output().Find("SystemExit: 3"), wxNOT_FOUND) << Output();
    ExpectReportEnd(Output());

    // wxPython prints the error of a handler itself; SystemExit there does not end the editor
    // either.
    ClearOutput();
    EXPECT_TRUE(plugin->RunScript(
        Script("exitslater.py", "import sys, wx\ndef MpMain():\n    wx.CallAfter(sys.exit, 4)\n"),
        false));
    EXPECT_TRUE(testing_support::ProcessEventsUntil([] {
        return Output().Find("SystemExit: 4") != wxNOT_FOUND;
    })) << Output();

    // Still here, and the engine still runs scripts.
    ClearOutput();
    EXPECT_TRUE(
        plugin->RunScript(Script("after.py", "def MpMain():\n    print('alive')\n"), false));
    EXPECT_EQ(Output(), "alive\n");
}

TEST_F(EngineRunner, PythonThreadPrintsToTheMessageOutput) {
    EXPECT_TRUE(plugin->RunScript(Script("threaded.py", "import threading\n"
                                                        "def MpMain():\n"
                                                        "    threading.Thread(target=lambda: "
                                                        "print('from the thread')).start()\n"),
                                  false));
    EXPECT_TRUE(testing_support::ProcessEventsUntil([] {
        return Output().Find("from the thread\n") != wxNOT_FOUND;
    })) << Output();
    EXPECT_TRUE(Exec("import threading\n"
                     "for t in threading.enumerate():\n"
                     "    if t is not threading.main_thread(): t.join()\n"));
}

TEST_F(EngineRunner, RepeatedRunsNeitherGrowSysPathNorLeakReferences) {
    // MpMain's result is released: the module's weak reference to it dies with the run.
    const wxString path = Script("refs.py", "import sys, weakref\n"
                                            "class Result: pass\n"
                                            "ref = None\n"
                                            "def MpMain():\n"
                                            "    global ref\n"
                                            "    result = Result()\n"
                                            "    ref = weakref.ref(result)\n"
                                            "    return result\n");
    EXPECT_TRUE(plugin->RunScript(path, false));
    const wxString length = Eval("len(sys.path)");
    const wxString moduleRefs = Eval("sys.getrefcount(sys.modules['refs'])");
    const wxString functionRefs = Eval("sys.getrefcount(sys.modules['refs'].MpMain)");
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(plugin->RunScript(path, false));
    EXPECT_EQ(Eval("len(sys.path)"), length);
    EXPECT_EQ(Eval("sys.path.count(" + wxString("'") + scripts.Path() + "')"), "1");
    EXPECT_EQ(Eval("sys.getrefcount(sys.modules['refs'])"), moduleRefs);
    EXPECT_EQ(Eval("sys.getrefcount(sys.modules['refs'].MpMain)"), functionRefs);
    EXPECT_EQ(Eval("sys.modules['refs'].ref() is None"), "True");
    EXPECT_TRUE(Output().empty()) << Output();
}

TEST_F(EngineRunner, PyRefCountsEveryReferenceItOwns) {
    GilGuard gil(GetCoreApi());
    PyObject* object = PyList_New(0); // one reference, ours
    const Py_ssize_t base = Py_REFCNT(object);
    {
        PyRef owner = PyRef::Steal(object);
        EXPECT_EQ(Py_REFCNT(object), base);
        {
            PyRef borrowed = PyRef::Borrow(object);
            PyRef copy = borrowed;
            EXPECT_EQ(Py_REFCNT(object), base + 2);
            PyRef moved = std::move(copy);
            EXPECT_FALSE(copy);
            EXPECT_EQ(Py_REFCNT(object), base + 2);
        }
        EXPECT_EQ(Py_REFCNT(object), base);
        PyRef keeper = PyRef::Borrow(object);
        owner.Reset();
        EXPECT_EQ(Py_REFCNT(object), base);
    }
}
