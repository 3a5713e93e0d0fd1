// The editor program's frame with the built plug-in module, used as a person would: open the
// Script Management dialog from the Tools menu, add a script, pick its file, close the dialog,
// choose the script's new menu item, and find the script registered and in the submenu at the
// next start. (CTest runs it again with the editor's interface alone.)
#include "host/app/MainFrame.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/filepicker.h>
#include <wx/textctrl.h>

#include <unistd.h>

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

class E2EPerson : public testing_support::WxTest {};

// Clicks a button of the dialog, found by its window name, as a mouse click would.
void Click(wxWindow* dialog, const wxString& name) {
    auto* button = wxDynamicCast(dialog->FindWindow(name), wxButton);
    ASSERT_NE(button, nullptr) << name.utf8_str();
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->ProcessWindowEvent(click);
}

TEST_F(E2EPerson, AddsAScriptInTheDialogAndRunsItFromItsNewMenuItem) {
    TempDir plugins;
    const wxString module = wxString(COILHATCH_PLUGINS_DIR) + "/Coilhatch.so";
    ASSERT_EQ(symlink(module.fn_str(), plugins.File("Coilhatch.so").fn_str()), 0);
    TempDir scripts;
    const wxString script = scripts.Write("greet.py", "def MpMain():\n"
                                                      "    print('greetings from greet.py')\n");

    // The named items, as the program sets them from its command line.
    host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
    host::GetNameItem("PluginsPath")->SetAttribute(0, plugins.Path());
    auto* frame = new CMainFrame;
    frame->LoadPlugins(plugins.Path());

    bool dialogSeen = false;
    modal.SetDialogHandler([&](wxDialog* dialog) {
        dialogSeen = true;
        EXPECT_EQ(dialog->GetTitle(), "Python Script Management");
        Click(dialog, "addButton");
        // The new script's details: a name typed into the name field, a file picked.
        auto* name = wxDynamicCast(dialog->FindWindow(10005), wxTextCtrl);
        auto* picker = wxDynamicCast(dialog->FindWindow(10019), wxFilePickerCtrl);
        if (!name || !picker) {
            ADD_FAILURE() << "the dialog lacks its name field or file picker";
            return wxID_OK;
        }
        name->SelectAll();
        name->WriteText("greet");
        picker->SetPath(script);
        wxFileDirPickerEvent picked(wxEVT_FILEPICKER_CHANGED, picker, picker->GetId(), script);
        picker->ProcessWindowEvent(picked);
        return wxID_OK; // the OK button
    });

    wxString error;
    ASSERT_TRUE(frame->SelectMenuPath("Tools/Python Script/Script Management", error))
        << error.utf8_str();
    EXPECT_TRUE(dialogSeen);
    ASSERT_TRUE(frame->SelectMenuPath("Tools/Python Script/greet", error)) << error.utf8_str();
    EXPECT_TRUE(frame->GetOutputText().Contains("greetings from greet.py"))
        << frame->GetOutputText().utf8_str();

    // Closing the editor releases the plug-in, which writes the registry.
    frame->ReleasePlugins();
    frame->Destroy();
    wxTheApp->ProcessIdle();
    const wxString settings = ReadFile(plugins.Path() + "/Coilhatch.xml");
    EXPECT_TRUE(settings.Contains("<name>greet</name>")) << settings.utf8_str();
    EXPECT_TRUE(settings.Contains("<location>" + script + "</location>")) << settings.utf8_str();

    // The next start: the script has its item again, and nothing is asked or told.
    auto* next = new CMainFrame;
    next->LoadPlugins(plugins.Path());
    ASSERT_TRUE(next->SelectMenuPath("Tools/Python Script/greet", error)) << error.utf8_str();
    EXPECT_TRUE(next->GetOutputText().Contains("greetings from greet.py"))
        << next->GetOutputText().utf8_str();
    EXPECT_TRUE(modal.TakeMessageBoxes().empty());
    next->ReleasePlugins();
    next->Destroy();
    wxTheApp->ProcessIdle();
}

} // namespace
