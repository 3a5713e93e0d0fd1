// The editor program's frame with the built plug-in module: a person gives scripts their
// shortcuts in the Script Management dialog and runs them with those keys from anywhere in the
// editor, a document included.
#include "host/app/MainFrame.h"
#include "host/app/OutputPane.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <unistd.h>

#include <vector>

using testing_support::ProcessEventsUntil;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

// The editor with the plug-in and two registered scripts, "first" and "second", each printing
// "ran NAME"; the first has the shortcut given, if any.
class E2EShortcut : public testing_support::WxTest {
protected:
    void Start(const wxString& firstShortcut) {
        const wxString module = wxString(COILHATCH_PLUGINS_DIR) + "/Coilhatch.so";
        ASSERT_EQ(symlink(module.fn_str(), plugins.File("Coilhatch.so").fn_str()), 0);
        wxString sections;
        int index = 0;
        for (const char* name : {"first", "second"}) {
            const wxString path = scripts.Write(
                wxString(name) + ".py", wxString("def MpMain():\n    print('ran ") + name + "')\n");
            const wxString shortcut = index == 0 && !firstShortcut.empty()
                                          ? "<shortcut>" + firstShortcut + "</shortcut>"
                                          : wxString();
            sections += wxString::Format("<Script%d><name>%s</name><location>%s</location>%s"
                                         "</Script%d>",
                                         index, name, path, shortcut, index);
            ++index;
        }
        plugins.Write("Coilhatch.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>"
                                       "<Coilhatch><Counts>2</Counts>" +
                                           sections + "</Coilhatch></config>\n");
        host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
        host::GetNameItem("PluginsPath")->SetAttribute(0, plugins.Path());
        frame = new CMainFrame;
        frame->LoadPlugins(plugins.Path());
    }

    void Close() {
        frame->ReleasePlugins();
        frame->Destroy();
        frame = nullptr;
        wxTheApp->ProcessIdle();
    }

    void TearDown() override {
        if (frame)
            Close();
        WxTest::TearDown();
    }

    TempDir plugins;
    TempDir scripts;
    CMainFrame* frame = nullptr;
};

// A key pressed while the window has the keyboard.
void Press(wxWindow* window, int key, int modifiers) {
    wxKeyEvent down(wxEVT_KEY_DOWN);
    down.m_keyCode = key;
    down.m_controlDown = (modifiers & wxMOD_CONTROL) != 0;
    down.m_altDown = (modifiers & wxMOD_ALT) != 0;
    down.m_shiftDown = (modifiers & wxMOD_SHIFT) != 0;
    down.SetEventObject(window);
    window->GetEventHandler()->ProcessEvent(down);
}

void SelectRow(wxWindow* dialog, int row) {
    auto* list = wxDynamicCast(dialog->FindWindow(10001), wxListBox);
    ASSERT_NE(list, nullptr);
    list->SetSelection(row);
    wxCommandEvent event(wxEVT_LISTBOX, list->GetId());
    event.SetEventObject(list);
    event.SetInt(row);
    list->ProcessWindowEvent(event);
}

TEST_F(E2EShortcut, ShortcutsGivenInTheDialogRunTheirScriptsFromADocument) {
    ASSERT_NO_FATAL_FAILURE(Start(""));
    std::vector<wxString> refused;
    modal.SetDialogHandler([&](wxDialog* dialog) {
        wxWindow* shortcut = dialog->FindWindow(10023);
        if (!shortcut) {
            ADD_FAILURE() << "the dialog has no Shortcut field";
            return wxID_OK;
        }
        SelectRow(dialog, 0);
        Press(shortcut, 'S', wxMOD_CONTROL); // the editor's Save
        refused = modal.TakeTexts();
        Press(shortcut, '1', wxMOD_CONTROL | wxMOD_ALT);
        SelectRow(dialog, 1);
        Press(shortcut, WXK_F6, wxMOD_NONE);
        return wxID_OK;
    });
    wxString error;
    ASSERT_TRUE(frame->SelectMenuPath("Tools/Python Script/Script Management", error))
        << error.utf8_str();
    EXPECT_EQ(refused, std::vector<wxString>{"Ctrl+S is already the shortcut of \"File > Save\"."});

    // Typing in a document: the keys reach the scripts, not the text.
    host::SyntaxEditor* document = frame->NewDocument();
    ASSERT_NE(document, nullptr);
    Press(document, '1', wxMOD_CONTROL | wxMOD_ALT);
    Press(document, WXK_F6, wxMOD_NONE);
    Press(document, '1', wxMOD_CONTROL | wxMOD_ALT);
    const wxString output = frame->GetOutputText();
    EXPECT_EQ(output, "ran first\nran second\nran first\n") << output.utf8_str();
    EXPECT_TRUE(document->GetText().empty());

    Close();
    const wxString settings = ReadFile(plugins.Path() + "/Coilhatch.xml");
    EXPECT_TRUE(settings.Contains("<shortcut>Ctrl+Alt+1</shortcut>")) << settings.utf8_str();
    EXPECT_TRUE(settings.Contains("<shortcut>F6</shortcut>")) << settings.utf8_str();
}

// Keystrokes through the display server, as a person types them: skipped where the frame
// cannot get the keyboard.
TEST_F(E2EShortcut, RealKeystrokesRunAScriptFromADocumentAndFromTheOutputPane) {
    ASSERT_NO_FATAL_FAILURE(Start("Ctrl+Alt+1"));
    host::SyntaxEditor* document = frame->NewDocument();
    frame->Show();
    frame->Raise();
    if (!ProcessEventsUntil([&] { return frame->IsActive(); }))
        GTEST_SKIP() << "the frame does not get the keyboard here";
    wxUIActionSimulator keyboard;
    for (wxWindow* focus :
         {static_cast<wxWindow*>(document), static_cast<wxWindow*>(frame->GetOutputPane())}) {
        focus->SetFocus();
        if (!ProcessEventsUntil([&] { return wxWindow::FindFocus() == focus; }))
            GTEST_SKIP() << "the keyboard does not move here";
        const wxString before = frame->GetOutputText();
        keyboard.Char('1', wxMOD_CONTROL | wxMOD_ALT);
        EXPECT_TRUE(ProcessEventsUntil([&] { return frame->GetOutputText() != before; }))
            << focus->GetName().utf8_str();
        EXPECT_EQ(frame->GetOutputText(), before + "ran first\n");
    }
    EXPECT_TRUE(document->GetText().empty());
}

} // namespace
