// The editor's own side of tracebacks and of the plug-in's menu: a double-click on a traceback's
// `File "PATH", line N` in the output pane opens that file at that line, the open event carries
// the line, the editor's menus leave the plug-in's shortcut free, and menu images are asked for.
#include "host/app/OutputPane.h"
#include "host/app/MainFrame.h"
#include "host/lib/PluginManager.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/app.h>
#include <wx/menu.h>

#include <dlfcn.h>

#include <memory>

using testing_support::ProcessEventsUntil;
using testing_support::TempDir;

namespace {

class OutputPane : public testing_support::WxTest {
protected:
    void SetUp() override {
        frame = new CMainFrame;
        frame->Show();
        output = CMessageOutputManagement::Get()->GetMessageOutput(0);
        output->Clear();
    }
    void TearDown() override {
        frame->ReleasePlugins();
        frame->Destroy();
        wxTheApp->ProcessIdle(); // deletes the frame
        WxTest::TearDown();
    }

    // Double-clicks the pane's first line that contains `text`, as the control tells it.
    void DoubleClickLineWith(const wxString& text) {
        frame->GetOutputText(); // what waits reaches the pane
        COutputPane* pane = frame->GetOutputPane();
        int found = -1;
        for (int line = 0; line < pane->GetLineCount() && found < 0; ++line)
            if (pane->GetLineText(line).Contains(text))
                found = line;
        ASSERT_GE(found, 0) << "no line with " << text.utf8_str();
        wxStyledTextEvent click(wxEVT_STC_DOUBLECLICK, pane->GetId());
        click.SetLine(found);
        click.SetPosition(pane->PositionFromLine(found) + 4);
        click.SetEventObject(pane);
        pane->GetEventHandler()->ProcessEvent(click);
    }

    // The current document's file and caret line (from 1), once something has opened.
    bool WaitForDocument() {
        return ProcessEventsUntil([this] { return frame->GetDocumentCount() > 0; }, 2000);
    }
    int CaretLine() const {
        CSyntaxEditor* editor = frame->GetCurrentEditor();
        return editor ? editor->LineFromPosition(editor->GetCurrentPos()) + 1 : 0;
    }

    CMainFrame* frame = nullptr;
    CMessageOutput* output = nullptr;
    TempDir dir;
};

} // namespace

TEST_F(OutputPane, DoubleClickOnATracebackFrameOpensItsFileAtItsLine) {
    const wxString path = dir.Write("tool.py", "a = 1\nb = 2\nc = 3\nd = 4\nraise E\n");
    output->Append("Traceback (most recent call last):\n");
    output->Append("  File \"" + path + "\", line 5, in <module>\n");
    output->Append("    raise E\nNameError: name 'E' is not defined\n");

    DoubleClickLineWith("line 5");
    ASSERT_TRUE(WaitForDocument());
    EXPECT_EQ(frame->GetCurrentEditor()->GetFilePath(), path);
    EXPECT_EQ(CaretLine(), 5);

    // Another place in the open file moves the caret there; the file is not opened twice.
    output->Append("  File \"" + path + "\", line 2, in MpMain\n");
    DoubleClickLineWith("line 2, in MpMain");
    EXPECT_TRUE(ProcessEventsUntil([this] { return CaretLine() == 2; }, 2000));
    EXPECT_EQ(frame->GetDocumentCount(), 1u);
}

TEST_F(OutputPane, ASyntaxErrorsPlaceOpensToo) {
    // A path with blanks and a quote in a folder name, and a line past the file's end.
    const wxString path = dir.Write("my \"odd\" dir/broken.py", "if True\n    pass\n");
    output->Append("  File \"" + path + "\", line 1\n    if True\n           ^\n");
    output->Append("SyntaxError: expected ':'\n");
    output->Append("  File \"" + path + "\", line 40\n");

    DoubleClickLineWith("line 1");
    ASSERT_TRUE(WaitForDocument());
    EXPECT_EQ(frame->GetCurrentEditor()->GetFilePath(), path);
    EXPECT_EQ(CaretLine(), 1);

    DoubleClickLineWith("line 40");
    EXPECT_TRUE(ProcessEventsUntil([this] { return CaretLine() == 3; }, 2000)); // the last line
}

TEST_F(OutputPane, LinesThatNameNoReadableFileDoNothing) {
    output->Append("  File \"<untitled>\", line 2, in MpMain\n");
    output->Append("  File \"<string>\", line 1, in <module>\n");
    output->Append("  File \"" + dir.Path() + "/gone.py\", line 3, in <module>\n");
    output->Append("  File \"" + dir.Path() + "\", line 3, in <module>\n");
    output->Append("ValueError: File \"nowhere\"\n");
    for (const wxString& text : {wxString("<untitled>"), wxString("<string>"), wxString("gone.py"),
                                 dir.Path() + "\"", wxString("ValueError")})
        DoubleClickLineWith(text);
    ProcessEventsUntil([] { return false; }, 200); // what was queued has been handled
    EXPECT_EQ(frame->GetDocumentCount(), 0u);
    EXPECT_EQ(modal.PendingCount(), 0u);
}

TEST_F(OutputPane, OpenEventWithoutALineLeavesTheCaretAtTheStart) {
    const wxString path = dir.Write("plain.txt", "one\ntwo\nthree\n");
    wxCommandEvent open(wxEVT_EDITOR_OPEN, 0);
    open.SetString(path);
    open.SetInt(-1); // as the management dialog sends it
    static_cast<wxEvtHandler*>(frame)->ProcessEvent(open);
    ASSERT_EQ(frame->GetDocumentCount(), 1u);
    EXPECT_EQ(CaretLine(), 1);

    open.SetInt(3);
    static_cast<wxEvtHandler*>(frame)->ProcessEvent(open);
    EXPECT_EQ(frame->GetDocumentCount(), 1u);
    EXPECT_EQ(CaretLine(), 3);
}

TEST_F(OutputPane, TheEditorsMenusLeaveCtrlAltRFree) {
    wxMenuBar* bar = frame->GetMenuBar();
    for (size_t i = 0; i < bar->GetMenuCount(); ++i) {
        for (const wxMenuItem* item : bar->GetMenu(i)->GetMenuItems()) {
            std::unique_ptr<wxAcceleratorEntry> accel(item->GetAccel());
            if (!accel)
                continue;
            EXPECT_FALSE(accel->GetFlags() == (wxACCEL_CTRL | wxACCEL_ALT) &&
                         accel->GetKeyCode() == 'R')
                << item->GetItemLabelText().utf8_str();
        }
    }
}

TEST_F(OutputPane, ACtrlAltShortcutTypedInADocumentReachesItsMenuItemNotTheText) {
    // An item in a submenu added later, as a plug-in adds its own.
    wxMenu* tools = frame->GetMenuBar()->GetMenu(frame->GetMenuBar()->FindMenu("Tools"));
    auto* submenu = new wxMenu;
    const int runId = wxID_HIGHEST + 700;
    submenu->Append(runId, "Run Current Document\tCtrl+Alt+R");
    tools->AppendSubMenu(submenu, "Python Script");
    int chosen = 0;
    frame->Bind(
        wxEVT_MENU, [&](wxCommandEvent&) { ++chosen; }, runId);

    CSyntaxEditor* editor = frame->NewDocument();
    auto press = [editor](int key, bool alt) {
        wxKeyEvent down(wxEVT_KEY_DOWN);
        down.m_keyCode = key;
        down.m_controlDown = true;
        down.m_altDown = alt;
        down.SetEventObject(editor);
        editor->GetEventHandler()->ProcessEvent(down);
    };
    press('R', true);
    EXPECT_EQ(chosen, 1);
    EXPECT_TRUE(editor->GetText().empty());

    // A disabled item is not chosen, and Ctrl+Alt with a key no item has goes on to the editor.
    submenu->Enable(runId, false);
    press('R', true);
    press('Q', true);
    EXPECT_EQ(chosen, 1);
}

TEST_F(OutputPane, TheEditorAsksTheToolkitToShowMenuImages) {
    using GetSettings = void* (*)();
    using GetProperties = void (*)(void*, const char*, ...);
    const auto getSettings =
        reinterpret_cast<GetSettings>(dlsym(RTLD_DEFAULT, "gtk_settings_get_default"));
    const auto getProperties = reinterpret_cast<GetProperties>(dlsym(RTLD_DEFAULT, "g_object_get"));
    ASSERT_TRUE(getSettings && getProperties);
    int shown = 0;
    getProperties(getSettings(), "gtk-menu-images", &shown, static_cast<void*>(nullptr));
    EXPECT_EQ(shown, 1);
}
