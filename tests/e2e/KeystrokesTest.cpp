// The editor program's frame with the built plug-in module, typed at through the display server
// as a person types: a script written, saved with Ctrl+S and run from its menu item; F12 to a
// definition, and the next key typed there. Skipped where the frame cannot get the keyboard.
#include "host/app/MainFrame.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/app.h>
#include <wx/statusbr.h>
#include <wx/uiaction.h>

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

using testing_support::ProcessEventsUntil;
using testing_support::TempDir;

namespace {

std::string Bytes(const wxString& path) {
    std::ifstream in(std::string(path.fn_str()), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// The editor with the plug-in and one registered script, "mine", whose file is empty.
class E2EKeystrokes : public testing_support::WxTest {
protected:
    void SetUp() override {
        const wxString module = wxString(COILHATCH_PLUGINS_DIR) + "/Coilhatch.so";
        ASSERT_EQ(symlink(module.fn_str(), plugins.File("Coilhatch.so").fn_str()), 0);
        // The shipped Python files: the completion server goes to definitions.
        const wxString python = wxString(COILHATCH_PLUGINS_DIR) + "/python";
        ASSERT_EQ(symlink(python.fn_str(), plugins.File("python").fn_str()), 0);
        script = scripts.Write("mine.py", "");
        plugins.Write("Coilhatch.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>"
                                       "<Coilhatch><Counts>1</Counts><Script0><name>mine</name>"
                                       "<location>" +
                                           script + "</location></Script0></Coilhatch></config>\n");
        host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
        host::GetNameItem("PluginsPath")->SetAttribute(0, plugins.Path());
        frame = new CMainFrame;
        frame->LoadPlugins(plugins.Path());
        frame->Show();
        frame->Raise();
    }

    void TearDown() override {
        frame->ReleasePlugins();
        frame->Destroy();
        wxTheApp->ProcessIdle();
        WxTest::TearDown();
    }

    // Whether the document has the keyboard (after asking for it).
    bool Focus(host::SyntaxEditor* editor) {
        editor->SetFocus();
        return ProcessEventsUntil(
            [&] { return frame->IsActive() && wxWindow::FindFocus() == editor; });
    }

    TempDir plugins;
    TempDir scripts;
    wxString script;
    CMainFrame* frame = nullptr;
    wxUIActionSimulator keyboard;
};

TEST_F(E2EKeystrokes, AScriptTypedSavedWithCtrlSRunsFromItsMenuItem) {
    host::SyntaxEditor* editor = frame->OpenFile(script);
    ASSERT_NE(editor, nullptr);
    if (!Focus(editor))
        GTEST_SKIP() << "the frame does not get the keyboard here";
    const std::string typed = "def MpMain():\n    print('typed, saved and run')\n";
    for (const char* line : {"def MpMain():", "    print('typed, saved and run')"}) {
        keyboard.Text(line);
        keyboard.Char(WXK_RETURN);
    }
    ASSERT_TRUE(ProcessEventsUntil([&] { return editor->GetText() == typed; }))
        << editor->GetText();
    keyboard.Char('s', wxMOD_CONTROL);
    ASSERT_TRUE(ProcessEventsUntil([&] { return !editor->GetModify(); }));
    EXPECT_EQ(Bytes(script), typed);

    wxString error;
    ASSERT_TRUE(frame->SelectMenuPath("Tools/Python Script/mine", error)) << error;
    EXPECT_EQ(frame->GetOutputText(), "typed, saved and run\n");
    EXPECT_TRUE(modal.TakeMessageBoxes().empty());
}

// F12 puts the caret on the definition's name with nothing selected, so the next key adds to
// the user's own file; a file of the standard library opens read-only, and says so.
TEST_F(E2EKeystrokes, F12ThenAKeyLeavesTheDefinitionsFileAsItWas) {
    const std::string helperText = "import os\n\n\ndef work():\n    return 1\n";
    const wxString helper = scripts.Write("helper.py", helperText);
    const wxString document = scripts.Write("doc.py", "import helper\nimport os.path\n"
                                                      "helper.work()\nos.path.join('a')\n");
    host::SyntaxEditor* start = frame->OpenFile(document);
    ASSERT_NE(start, nullptr);
    if (!Focus(start))
        GTEST_SKIP() << "the frame does not get the keyboard here";

    struct Case {
        const char* name; // in the document, the caret before its last letter
        wxString file;    // where its definition is
        bool readOnly;
    };
    const Case cases[] = {
        {"work", helper, false},
        {"join", "/usr/lib/python3.11/posixpath.py", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        frame->ShowDocument(start);
        ASSERT_TRUE(Focus(start));
        start->GotoPos(start->FindText(0, start->GetLength(), c.name) + 3);
        const std::string before = Bytes(c.file);
        keyboard.Char(WXK_F12);
        ASSERT_TRUE(ProcessEventsUntil(
            [&] {
                host::SyntaxEditor* current = frame->GetCurrentEditor();
                return current != start && current->GetFilePath() == c.file &&
                       wxWindow::FindFocus() == current;
            },
            60000))
            << frame->GetStatusBar()->GetStatusText() << "\n"
            << frame->GetCurrentEditor()->GetFilePath() << "\n"
            << frame->GetOutputText();
        host::SyntaxEditor* target = frame->GetCurrentEditor();
        const int caret = target->GetCurrentPos();
        EXPECT_EQ(target->GetSelectionStart(), target->GetSelectionEnd());
        EXPECT_EQ(target->GetTextRange(caret, caret + 4), c.name);
        const int line = target->LineFromPosition(caret);
        EXPECT_GE(line, target->GetFirstVisibleLine());
        EXPECT_LT(line, target->GetFirstVisibleLine() + target->LinesOnScreen());
        EXPECT_EQ(target->GetReadOnly(), c.readOnly);
        EXPECT_EQ(frame->GetStatusBar()->GetStatusText().Contains("read-only"), c.readOnly)
            << frame->GetStatusBar()->GetStatusText();

        const wxString lineBefore = target->GetLine(line);
        keyboard.Char('x');
        if (c.readOnly) {
            // The caret moves on a key after it: by then the letter has come, and changed
            // nothing.
            keyboard.Char(WXK_RIGHT);
            EXPECT_TRUE(ProcessEventsUntil([&] { return target->GetCurrentPos() == caret + 1; }));
            EXPECT_FALSE(target->GetModify());
            EXPECT_EQ(target->GetLine(line), lineBefore);
        } else {
            EXPECT_TRUE(ProcessEventsUntil([&] { return target->GetModify(); }));
            const int column = caret - target->PositionFromLine(line);
            EXPECT_EQ(target->GetLine(line),
                      lineBefore.Left(column) + "x" + lineBefore.Mid(column));
        }
        EXPECT_EQ(Bytes(c.file), before);
    }
    EXPECT_TRUE(modal.TakeMessageBoxes().empty());
}

} // namespace
