// Running the current document as a script: saved or not, with and without MpMain, failing at
// the top level, in MpMain or at compiling, through the submenu's command, and stopped by the
// user. Nothing is registered, and the engine's own main module stays in its place.
#include "tests/engine/EngineFixture.h"

#include "engine/DocumentRunner.h"

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/timer.h>

using namespace engine_test;

namespace {

const wxString reportEnd = wxString(50, '-') + "\n";

// A timer that presses the Stop button of the running window whenever it is shown (ticks come
// while a running script lets the editor handle its events).
class StopPresser : public wxTimer {
public:
    StopPresser() { Start(20); }
    ~StopPresser() override { Stop(); }
    void Notify() override {
        for (wxWindow* window : wxTopLevelWindows) {
            auto* dialog = dynamic_cast<wxDialog*>(window);
            if (!dialog || !dialog->IsShown() || dialog->IsBeingDeleted())
                continue;
            for (wxWindow* child : dialog->GetChildren()) {
                if (dynamic_cast<wxButton*>(child) && child->GetLabel() == "Stop") {
                    wxCommandEvent click(wxEVT_BUTTON, child->GetId());
                    click.SetEventObject(child);
                    child->GetEventHandler()->ProcessEvent(click);
                    ++presses;
                    return;
                }
            }
        }
    }
    int presses = 0;
};

} // namespace

class DocumentRun : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        document = new host::SyntaxEditor(editor->Frame());
        host::SetCurrentEditorProvider([this] { return current; });
        current = document;
    }
    void TearDown() override {
        host::SetCurrentEditorProvider(nullptr);
        EngineTest::TearDown();
    }

    // The document shows `text`; its file (when `path` is not empty) may hold something else.
    void Show(const wxString& text, const wxString& path = {}) {
        document->SetText(text);
        document->SetFilePath(path);
    }

    // The menu's command, as the editor forwards it to the plug-in object.
    bool ChooseRun() {
        wxCommandEvent event(wxEVT_MENU, plugin->menu.runDocumentId);
        return plugin->ProcessEvent(event);
    }

    host::SyntaxEditor* document = nullptr;
    host::SyntaxEditor* current = nullptr;
};

TEST_F(DocumentRun, SavedDocumentRunsAsMainFromItsBufferWithItsFolderAndFile) {
    // The file on disk is older than the buffer: the buffer is what runs.
    const wxString path = Script("work/doc.py", "print('the saved text')\n");
    Script("work/helper.py", "value = 'helper imported'\n");
    Show("import helper, sys\n"
         "print(__name__, __file__ == '" +
             path +
             "')\n"
             "print(helper.value)\n"
             "import __main__\n"
             "print('main is me', __main__.__dict__ is globals())\n"
             "def MpMain():\n"
             "    print('MpMain ran')\n",
         path);

    EXPECT_TRUE(ChooseRun());
    EXPECT_EQ(Output(), "__main__ True\nhelper imported\nmain is me True\nMpMain ran\n");

    // The folder is on sys.path once however often the document runs; the engine's main module
    // is back, and nothing of the document was left in it or registered.
    EXPECT_TRUE(document::RunCurrent());
    const wxString folder = wxFileName(path).GetPath();
    EXPECT_EQ(Eval(("sys.path.count('" + folder + "')").utf8_str()), "1");
    EXPECT_EQ(Eval("hasattr(sys.modules['__main__'], 'coilhatchStreams')"), "True");
    EXPECT_EQ(Eval("'MpMain' in globals() or 'helper' in globals()"), "False");
    const wxString registered = "[n for n, m in sys.modules.items() "
                                "if getattr(m, '__file__', None) == '" +
                                path + "']";
    EXPECT_EQ(Eval(registered.utf8_str()), "[]");
    EXPECT_EQ(modal.PendingCount(), 0u);
}

TEST_F(DocumentRun, UnsavedDocumentWithoutMpMainRunsItsTopLevelOnly) {
    const wxString pathBefore = Eval("list(sys.path)");
    Show("print('top level', __name__, '__file__' in globals())\n");

    EXPECT_TRUE(ChooseRun());
    EXPECT_EQ(Output(), "top level __main__ False\n");
    EXPECT_EQ(Eval("list(sys.path)"), pathBefore); // no folder for an unsaved document

    // Each run has a namespace of its own.
    ClearOutput();
    Show("print('seen' in globals())\nseen = 1\n");
    EXPECT_TRUE(document::RunCurrent());
    EXPECT_TRUE(document::RunCurrent());
    EXPECT_EQ(Output(), "False\nFalse\n");
}

// sys.argv is the document's path, as `python3 FILE` makes it, so that argparse names the
// program; the engine's own is back afterwards.
TEST_F(DocumentRun, ArgvHoldsTheDocumentsPathWhileItRuns) {
    const wxString before = Eval("repr(sys.argv)");
    const wxString path = Script("tool.py", "");
    const char* const text = "import argparse, sys\n"
                             "print(sys.argv)\n"
                             "print(argparse.ArgumentParser().format_usage().strip())\n";
    for (const wxString& file : {path, wxString()}) {
        SCOPED_TRACE(file.utf8_string());
        ClearOutput();
        Show(text, file);
        EXPECT_TRUE(ChooseRun());
        const wxString shown = file.empty() ? wxString("<untitled>") : file;
        const wxString program = file.empty() ? wxString("<untitled>") : wxString("tool.py");
        EXPECT_EQ(Output(), "['" + shown + "']\nusage: " + program + " [-h]\n");
        EXPECT_EQ(Eval("repr(sys.argv)"), before);
    }
}

TEST_F(DocumentRun, FailuresAreReportedWithTheDocumentsNameAndLines) {
    const wxString path = Script("fails.py", "");

    // At the top level of a saved document.
    Show("x = 1\n\nraise ValueError('top')\n", path);
    EXPECT_TRUE(ChooseRun());
    EXPECT_TRUE(Output().Contains("File \"" + path + "\", line 3, in <module>")) << Output();
    EXPECT_TRUE(Output().Contains("ValueError: top")) << Output();
    EXPECT_TRUE(Output().EndsWith(reportEnd)) << Output();
    EXPECT_EQ(Eval("hasattr(sys.modules['__main__'], 'coilhatchStreams')"), "True");

    // In MpMain of an unsaved one.
    ClearOutput();
    Show("def MpMain():\n    print('before')\n    raise KeyError('inner')\n");
    EXPECT_FALSE(document::RunCurrent());
    EXPECT_TRUE(Output().StartsWith("before\n")) << Output();
    // With its source line, as a saved file's traceback has it.
    EXPECT_TRUE(Output().Contains("File \"<untitled>\", line 3, in MpMain\n"
                                  "    raise KeyError('inner')\n"))
        << Output();
    EXPECT_TRUE(Output().Contains("KeyError: 'inner'")) << Output();

    // The next unsaved document's lines are its own.
    ClearOutput();
    Show("x = 1\ny = 2\nassert x == y, 'differ'\n");
    EXPECT_FALSE(document::RunCurrent());
    EXPECT_TRUE(Output().Contains("File \"<untitled>\", line 3, in <module>\n"
                                  "    assert x == y, 'differ'\n"))
        << Output();
    EXPECT_TRUE(Output().EndsWith(reportEnd)) << Output();

    // At compiling: the top level never runs.
    ClearOutput();
    Show("print('never')\nif True\n    pass\n", path);
    EXPECT_FALSE(document::RunCurrent());
    EXPECT_FALSE(Output().Contains("never\n")) << Output();
    EXPECT_TRUE(Output().Contains("File \"" + path + "\", line 2")) << Output();
    EXPECT_TRUE(Output().Contains("SyntaxError")) << Output();
    EXPECT_TRUE(Output().EndsWith(reportEnd)) << Output();

    // A failure shows no message box: the report says it all.
    EXPECT_EQ(modal.PendingCount(), 0u);

    // A later run goes on as usual.
    ClearOutput();
    Show("print('fine')\n");
    EXPECT_TRUE(document::RunCurrent());
    EXPECT_EQ(Output(), "fine\n");
}

TEST_F(DocumentRun, ExitEndsTheRunNormallyOrWithAReport) {
    Show("import sys\nprint('leaving')\nsys.exit()\ndef MpMain():\n    print('not called')\n");
    EXPECT_TRUE(document::RunCurrent());
    EXPECT_EQ(Output(), "leaving\n");

    ClearOutput();
    Show("import sys\ndef MpMain():\n    sys.exit(3)\n");
    EXPECT_FALSE(document::RunCurrent());
    EXPECT_TRUE(Output().Contains("SystemExit: 3")) << Output();
    EXPECT_TRUE(Output().EndsWith(reportEnd)) << Output();
}

TEST_F(DocumentRun, TheEditorsTextIsTheSourceWhateverItsCodingLineSays) {
    Show(wxString::FromUTF8("# -*- coding: latin-1 -*-\nprint('caf\xc3\xa9 \xe2\x82\xac')\n"));
    EXPECT_TRUE(document::RunCurrent());
    EXPECT_EQ(Output(), wxString::FromUTF8("caf\xc3\xa9 \xe2\x82\xac\n"));

    // A NUL in the text is refused, not silently cut short.
    ClearOutput();
    const wxString withNul = "print('cut')\n" + wxString(wxUniChar(0)) + "print('after')\n";
    EXPECT_FALSE(document::RunText(withNul, wxString()));
    EXPECT_FALSE(Output().Contains("cut\n")) << Output();
    EXPECT_TRUE(Output().Contains("null bytes")) << Output();
}

TEST_F(DocumentRun, WithoutADocumentTheUserIsTold) {
    current = nullptr;
    EXPECT_TRUE(ChooseRun());
    const auto boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "There is no document to run.");
    EXPECT_EQ(boxes[0].caption, "Run Current Document");
    EXPECT_TRUE(Output().empty()) << Output();
}

TEST_F(DocumentRun, ALongRunCanBeStopped) {
    editor->Frame()->Show();
    Show("print('started')\nwhile True:\n    pass\n");
    StopPresser presser;
    EXPECT_FALSE(document::RunCurrent());
    presser.Stop();
    EXPECT_GE(presser.presses, 1);
    EXPECT_TRUE(Output().Contains("File \"<untitled>\", line 2")) << Output();
    EXPECT_TRUE(Output().Contains("KeyboardInterrupt")) << Output();
    EXPECT_TRUE(Output().EndsWith(reportEnd)) << Output();
    EXPECT_EQ(Eval("hasattr(sys.modules['__main__'], 'coilhatchStreams')"), "True");
}

TEST_F(DocumentRun, WithoutPythonNothingRuns) {
    plugin->OnRelease();
    Show("print('ran')\n");
    EXPECT_TRUE(ChooseRun());
    const auto boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.Contains("Python could not be started")) << boxes[0].text;
    EXPECT_FALSE(Output().Contains("ran")) << Output();
    plugin.reset();
}
