// The editor program's frame with the built plug-in module: a person gives two scripts their
// shortcuts in the Script Management dialog and runs them with those keys while typing in a
// document.
#include "host/app/MainFrame.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>

#include <unistd.h>

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

class E2EShortcut : public testing_support::WxTest {};

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
    TempDir plugins;
    const wxString module = wxString(COILHATCH_PLUGINS_DIR) + "/Coilhatch.so";
    ASSERT_EQ(symlink(module.fn_str(), plugins.File("Coilhatch.so").fn_str()), 0);
    TempDir scripts;
    wxString sections;
    for (const char* name : {"first", "second"}) {
        const wxString path = scripts.Write(
            wxString(name) + ".py", wxString("def MpMain():\n    print('ran ") + name + "')\n");
        sections +=
            wxString::Format("<Script%d><name>%s</name><location>%s</location>"
                             "</Script%d>",
                             sections.empty() ? 0 : 1, name, path, sections.empty() ? 0 : 1);
    }
    plugins.Write("Coilhatch.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>"
                                   "<Coilhatch><Counts>2</Counts>" +
                                       sections + "</Coilhatch></config>\n");

    CNameService::Get()->GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
    CNameService::Get()->GetNameItem("PluginsPath")->SetAttribute(0, plugins.Path());
    auto* frame = new CMainFrame;
    frame->LoadPlugins(plugins.Path());

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
    CSyntaxEditor* document = frame->NewDocument();
    ASSERT_NE(document, nullptr);
    Press(document, '1', wxMOD_CONTROL | wxMOD_ALT);
    Press(document, WXK_F6, wxMOD_NONE);
    Press(document, '1', wxMOD_CONTROL | wxMOD_ALT);
    const wxString output = frame->GetOutputText();
    EXPECT_EQ(output, "ran first\nran second\nran first\n") << output.utf8_str();
    EXPECT_TRUE(document->GetText().empty());

    frame->ReleasePlugins();
    frame->Destroy();
    wxTheApp->ProcessIdle();
    const wxString settings = ReadFile(plugins.Path() + "/Coilhatch.xml");
    EXPECT_TRUE(settings.Contains("<shortcut>Ctrl+Alt+1</shortcut>")) << settings.utf8_str();
    EXPECT_TRUE(settings.Contains("<shortcut>F6</shortcut>")) << settings.utf8_str();
}

} // namespace
