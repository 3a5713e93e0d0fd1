// The editor program's frame with the built plug-in module, used as a person meets it every day:
// New Script leaves the caret where the script's code goes, and the submenu's shortcuts work from
// the Python Console as from a document (some cases type through the display server).
#include "host/app/MainFrame.h"
#include "host/app/OutputPane.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/stc/stc.h>
#include <wx/textdlg.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>

#include <unistd.h>

using testing_support::ProcessEventsUntil;
using testing_support::TempDir;

namespace {

// The editor with the plug-in and one registered script, "first" (Ctrl+Alt+1), printing
// "ran first".
class E2EEveryday : public testing_support::WxTest {
protected:
    void Start() {
        const wxString module = wxString(COILHATCH_PLUGINS_DIR) + "/Coilhatch.so";
        ASSERT_EQ(symlink(module.fn_str(), plugins.File("Coilhatch.so").fn_str()), 0);
        const wxString path = scripts.Write("first.py", "def MpMain():\n    print('ran first')\n");
        plugins.Write("Coilhatch.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>"
                                       "<Coilhatch><Counts>1</Counts><Script0><name>first</name>"
                                       "<location>" +
                                           path +
                                           "</location><shortcut>Ctrl+Alt+1</shortcut>"
                                           "</Script0></Coilhatch></config>\n");
        host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
        host::GetNameItem("PluginsPath")->SetAttribute(0, plugins.Path());
        frame = new CMainFrame;
        frame->LoadPlugins(plugins.Path());
    }

    void TearDown() override {
        if (frame) {
            frame->ReleasePlugins();
            frame->Destroy();
            wxTheApp->ProcessIdle();
        }
        host::SetStrictInterface(false);
        WxTest::TearDown();
    }

    // Opens the console from the menu; its shell, or null.
    wxStyledTextCtrl* OpenConsole() {
        wxString error;
        EXPECT_TRUE(frame->SelectMenuPath("Tools/Python Script/Python Console", error))
            << error.utf8_str();
        console = wxWindow::FindWindowByName("coilhatchConsole");
        if (!console)
            return nullptr;
        for (wxWindow* child : console->GetChildren())
            if (auto* shell = dynamic_cast<wxStyledTextCtrl*>(child))
                return shell;
        return nullptr;
    }

    TempDir plugins;
    TempDir scripts;
    CMainFrame* frame = nullptr;
    wxWindow* console = nullptr;
};

// A key as the toolkit first reports it: to the window with the keyboard, then up to its frame.
bool Hook(wxWindow* window, int key, int modifiers) {
    wxKeyEvent hook(wxEVT_CHAR_HOOK);
    hook.m_keyCode = key;
    hook.m_controlDown = (modifiers & wxMOD_CONTROL) != 0;
    hook.m_altDown = (modifiers & wxMOD_ALT) != 0;
    hook.m_shiftDown = (modifiers & wxMOD_SHIFT) != 0;
    hook.SetEventObject(window);
    window->GetEventHandler()->ProcessEvent(hook);
    return !hook.GetSkipped(); // taken
}

// New Script opens the new file with the caret at the start of MpMain's body and nothing
// selected, so that the first key typed adds to the script; also in an editor that offers the
// interface alone (it does not say which file a document shows).
TEST_F(E2EEveryday, NewScriptLeavesTheCaretInMpMainsBodyWithNothingSelected) {
    ASSERT_NO_FATAL_FAILURE(Start());
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict);
        host::SetStrictInterface(strict);
        const wxString name = strict ? "strict_tool" : "tool";
        modal.SetDialogHandler([&](wxDialog* dialog) {
            auto* entry = dynamic_cast<wxTextEntryDialog*>(dialog);
            if (entry)
                entry->SetValue(name);
            return entry ? wxID_OK : wxID_CANCEL;
        });
        wxString error;
        ASSERT_TRUE(frame->SelectMenuPath(
            "Tools/Python Script/" + wxString::FromUTF8("New Script\xE2\x80\xA6"), error))
            << error.utf8_str();
        host::SyntaxEditor* editor = frame->GetCurrentEditor();
        ASSERT_NE(editor, nullptr);
        EXPECT_TRUE(editor->GetFilePath().EndsWith("/" + name + ".py")) << editor->GetFilePath();
        EXPECT_EQ(editor->GetSelectionStart(), editor->GetSelectionEnd());
        const int line = editor->LineFromPosition(editor->GetCurrentPos());
        EXPECT_TRUE(editor->GetLine(line - 1).StartsWith("def MpMain():"))
            << editor->GetLine(line - 1);
        EXPECT_EQ(editor->GetColumn(editor->GetCurrentPos()), 4);
        // The first key typed goes in; nothing of the template is lost.
        const wxString body = editor->GetLine(line);
        editor->ReplaceSelection("x");
        EXPECT_EQ(editor->GetLine(line), "    x" + body.Mid(4));
    }
}

// In the console the submenu's shortcuts do what they do in a document: a script's runs the
// script, Ctrl+Alt+R runs the current document; other keys stay the console's.
TEST_F(E2EEveryday, TheSubmenusShortcutsWorkInTheConsole) {
    ASSERT_NO_FATAL_FAILURE(Start());
    host::SyntaxEditor* document = frame->NewDocument();
    document->SetText("print('document ran')\n");
    wxStyledTextCtrl* shell = OpenConsole();
    ASSERT_NE(shell, nullptr);
    const wxString before = shell->GetText();

    EXPECT_TRUE(Hook(shell, '1', wxMOD_CONTROL | wxMOD_ALT));
    EXPECT_TRUE(Hook(shell, 'R', wxMOD_CONTROL | wxMOD_ALT));
    EXPECT_FALSE(Hook(shell, 'A', wxMOD_NONE));
    EXPECT_FALSE(Hook(shell, '2', wxMOD_CONTROL | wxMOD_ALT)); // nobody's
    EXPECT_EQ(frame->GetOutputText(), "ran first\ndocument ran\n");
    EXPECT_EQ(shell->GetText(), before);
}

// Keystrokes through the display server, as a person types them into the console: skipped where
// the console cannot get the keyboard.
TEST_F(E2EEveryday, RealKeystrokesInTheConsoleRunAScript) {
    ASSERT_NO_FATAL_FAILURE(Start());
    frame->Show();
    wxStyledTextCtrl* shell = OpenConsole();
    ASSERT_NE(shell, nullptr);
    auto* window = dynamic_cast<wxTopLevelWindow*>(console);
    ASSERT_NE(window, nullptr);
    window->Raise();
    shell->SetFocus();
    if (!ProcessEventsUntil([&] { return window->IsActive() && wxWindow::FindFocus() == shell; }))
        GTEST_SKIP() << "the console does not get the keyboard here";
    const wxString before = shell->GetText();
    wxUIActionSimulator keyboard;
    keyboard.Char('1', wxMOD_CONTROL | wxMOD_ALT);
    EXPECT_TRUE(ProcessEventsUntil([&] { return frame->GetOutputText() == "ran first\n"; }))
        << frame->GetOutputText();
    // The key was handled whole before the script ran: it typed nothing.
    EXPECT_EQ(shell->GetText(), before);
}

} // namespace
