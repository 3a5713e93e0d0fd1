// The editor's main window closed by a script's timer while the Script Management dialog is open
// (the frame destroys its children, the dialog among them): the editor ends cleanly, the list
// is saved whole.
#include "host/app/MainFrame.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <unistd.h>

using testing_support::ProcessEventsUntil;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

class E2EMainWindowClosed : public testing_support::WxTest {};

TEST_F(E2EMainWindowClosed, WhileScriptManagementIsOpenTheEditorEndsCleanly) {
    TempDir plugins;
    const wxString module = wxString(COILHATCH_PLUGINS_DIR) + "/Coilhatch.so";
    ASSERT_EQ(symlink(module.fn_str(), plugins.File("Coilhatch.so").fn_str()), 0);
    TempDir scripts;
    const wxString closer =
        scripts.Write("closer.py", "import MpAPI, wx\n"
                                   "def MpMain():\n"
                                   "    frame = MpAPI.CAppManagement_Get().GetAppWindow()\n"
                                   "    wx.CallLater(100, frame.Close)\n");
    plugins.Write("Coilhatch.xml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config><Coilhatch>"
                  "<Counts>1</Counts><Script0><autoRun>0</autoRun><autoReload>0</autoReload>"
                  "<name>closer</name><location>" +
                      closer +
                      "</location><description>d</description></Script0>"
                      "</Coilhatch></config>\n");
    host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
    host::GetNameItem("PluginsPath")->SetAttribute(0, plugins.Path());
    auto* frame = new CMainFrame;
    const wxWeakRef<CMainFrame> alive(frame);
    frame->LoadPlugins(plugins.Path());

    wxString error;
    ASSERT_TRUE(frame->SelectMenuPath("Tools/Python Script/closer", error)) << error.utf8_str();
    // The dialog is shown for real: its modal loop runs until the script's timer closes the
    // main window. Should it not, the dialog is ended after a few seconds, and the test fails.
    wxWeakRef<wxDialog> shown;
    modal.SetDialogHandler([&](wxDialog* dialog) {
        shown = dialog;
        return wxID_NONE;
    });
    wxTimer safety;
    bool ranOut = false;
    safety.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        ranOut = true;
        if (shown && shown->IsModal())
            shown->EndModal(wxID_CANCEL);
    });
    safety.StartOnce(10000);
    ASSERT_TRUE(frame->SelectMenuPath("Tools/Python Script/Script Management", error))
        << error.utf8_str();
    safety.Stop();
    EXPECT_FALSE(ranOut) << "the timer never closed the main window";
    EXPECT_EQ(modal.DialogsShown(), 1);
    EXPECT_TRUE(ProcessEventsUntil([&] { return !alive && !shown; }));
    const wxString settings = ReadFile(plugins.Path() + "/Coilhatch.xml");
    EXPECT_TRUE(settings.Contains("<name>closer</name>")) << settings.utf8_str();
    if (alive) {
        alive->ReleasePlugins();
        alive->Destroy();
    }
}

} // namespace
