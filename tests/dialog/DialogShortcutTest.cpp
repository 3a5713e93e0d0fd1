// The dialog's Shortcut field, the focus after Add and the browse dialog's folder and files.
#include "tests/dialog/DialogFixture.h"

#include "dialog/Shortcut.h"

#include <wx/filedlg.h>
#include <wx/menu.h>

#include <string>

namespace {

class DialogShortcut : public DialogTestBase {
protected:
    // A key pressed while the Shortcut field has the keyboard.
    void Press(int key, int modifiers) {
        wxKeyEvent down(wxEVT_KEY_DOWN);
        down.m_keyCode = key;
        down.m_controlDown = (modifiers & wxMOD_CONTROL) != 0;
        down.m_altDown = (modifiers & wxMOD_ALT) != 0;
        down.m_shiftDown = (modifiers & wxMOD_SHIFT) != 0;
        down.SetEventObject(dialog->shortcutText);
        dialog->shortcutText->GetEventHandler()->ProcessEvent(down);
    }

    // Clicks the picker's browse button; the file dialog it opens is recorded and cancelled.
    void Browse(wxString& directory, wxString& wildcard) {
        modal.SetDialogHandler([&](wxDialog* shown) {
            auto* files = dynamic_cast<wxFileDialog*>(shown);
            EXPECT_NE(files, nullptr);
            if (files) {
                directory = files->GetDirectory();
                wildcard = files->GetWildcard();
                browseTitle = files->GetMessage();
            }
            return wxID_CANCEL;
        });
        wxWindow* button = dialog->locationPicker->GetPickerCtrl();
        wxCommandEvent click(wxEVT_BUTTON, button->GetId());
        click.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(click);
        modal.SetDialogHandler(nullptr);
    }
    wxString browseTitle;
};

TEST(ShortcutText, KeysThatCanBeShortcutsAndTheirText) {
    const struct {
        int modifiers;
        int key;
        const char* text;
    } cases[] = {
        {wxMOD_CONTROL | wxMOD_ALT, '1', "Ctrl+Alt+1"},
        {wxMOD_CONTROL | wxMOD_SHIFT, 'k', "Ctrl+Shift+K"},
        {wxMOD_ALT | wxMOD_SHIFT | wxMOD_CONTROL, 'R', "Ctrl+Alt+Shift+R"},
        {wxMOD_NONE, WXK_F5, "F5"},
        {wxMOD_SHIFT, WXK_F12, "Shift+F12"},
        {wxMOD_NONE, 'A', ""},            // typed text
        {wxMOD_SHIFT, '1', ""},           // typed text
        {wxMOD_CONTROL, WXK_CONTROL, ""}, // a modifier on its own
        {wxMOD_ALT | wxMOD_CONTROL, WXK_SHIFT, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShortcutText(c.modifiers, c.key), c.text) << c.text;
    EXPECT_EQ(NormalizedShortcut("alt+ctrl+1"), "Ctrl+Alt+1");
    EXPECT_EQ(NormalizedShortcut("Ctrl+Alt+F3"), "Ctrl+Alt+F3");
    EXPECT_EQ(NormalizedShortcut("Ctrl+Nonsense"), "");
    EXPECT_EQ(NormalizedShortcut("Q"), "");
    EXPECT_EQ(NormalizedShortcut(""), "");
}

TEST_F(DialogShortcut, APressedCombinationIsStoredAndBackspaceClearsIt) {
    AddEntry("one")->shortcut = "Ctrl+Alt+1";
    AddEntry("two");
    Open();
    Select(0);
    EXPECT_EQ(dialog->shortcutText->GetValue(), "Ctrl+Alt+1");
    EXPECT_FALSE(scriptList->modified); // showing is no edit

    Select(1);
    EXPECT_EQ(dialog->shortcutText->GetValue(), "");
    Press('A', wxMOD_NONE); // typed text is no shortcut
    Press(WXK_CONTROL, wxMOD_CONTROL);
    EXPECT_EQ(dialog->shortcutText->GetValue(), "");
    EXPECT_FALSE(scriptList->modified);
    Press('2', wxMOD_CONTROL | wxMOD_ALT);
    EXPECT_EQ(dialog->shortcutText->GetValue(), "Ctrl+Alt+2");
    EXPECT_EQ(scriptList->Get(1)->shortcut, "Ctrl+Alt+2");
    EXPECT_TRUE(scriptList->modified);
    EXPECT_EQ(scriptList->Get(0)->shortcut, "Ctrl+Alt+1");

    Press(WXK_BACK, wxMOD_NONE);
    EXPECT_EQ(dialog->shortcutText->GetValue(), "");
    EXPECT_TRUE(scriptList->Get(1)->shortcut.empty());

    // Without a selected script nothing is stored.
    Select(wxNOT_FOUND);
    Press('3', wxMOD_CONTROL | wxMOD_ALT);
    EXPECT_TRUE(scriptList->Get(0)->shortcut == "Ctrl+Alt+1" &&
                scriptList->Get(1)->shortcut.empty());
}

TEST_F(DialogShortcut, ACombinationInUseIsRefusedWithItsHolder) {
    wxMenuBar* bar = env.MenuBar();
    bar->GetMenu(0)->Append(wxID_SAVE, "&Save\tCtrl+S");
    auto* scripts = new wxMenu;
    scripts->Append(wxID_ANY, "Run Current Document\tCtrl+Alt+R");
    bar->GetMenu(2)->AppendSubMenu(scripts, "Python Script");
    AddEntry("first")->shortcut = "Ctrl+Alt+2";
    ScriptEntry* gone = AddEntry("gone");
    gone->shortcut = "Ctrl+Alt+3";
    // The submenu still shows the script deleted below, with its shortcut, until it is rebuilt.
    scripts->Append(gone->menuId, "gone\tCtrl+Alt+3");
    AddEntry("second");
    Open();
    Select(1);
    Click(ID_DELETE_BUTTON);
    ASSERT_EQ(modal.TakeMessageBoxes().size(), 1u); // the question, answered Yes
    Select(1);
    ASSERT_EQ(scriptList->Get(1)->name, "second");

    const struct {
        int modifiers;
        int key;
        const char* holder; // empty: taken
    } cases[] = {
        {wxMOD_CONTROL, 'S', "\"File > Save\""},
        {wxMOD_CONTROL | wxMOD_ALT, 'R', "\"Tools > Python Script > Run Current Document\""},
        {wxMOD_CONTROL | wxMOD_ALT, '2', "the script \"first\""},
        {wxMOD_ALT, 'F', "\"File\""},
        {wxMOD_CONTROL, ' ', "the editor's completion"},
        {wxMOD_CONTROL | wxMOD_ALT, '3', ""},
    };
    wxString expected;
    for (const auto& c : cases) {
        const wxString shortcut = ShortcutText(c.modifiers, c.key);
        Press(c.key, c.modifiers);
        const auto boxes = modal.TakeMessageBoxes();
        if (*c.holder) {
            ASSERT_EQ(boxes.size(), 1u) << shortcut;
            EXPECT_EQ(boxes[0].text, shortcut + " is already the shortcut of " + c.holder + ".");
            EXPECT_EQ(boxes[0].caption, "Python Script Management");
        } else {
            EXPECT_TRUE(boxes.empty()) << shortcut;
            expected = shortcut;
        }
        EXPECT_EQ(dialog->shortcutText->GetValue(), expected) << shortcut;
        EXPECT_EQ(scriptList->Get(1)->shortcut, expected) << shortcut;
    }
    EXPECT_EQ(expected, "Ctrl+Alt+3");
    // A script keeps a combination of its own: choosing it again changes nothing.
    Select(0);
    Press('2', wxMOD_CONTROL | wxMOD_ALT);
    EXPECT_EQ(modal.PendingCount(), 0u);
}

TEST_F(DialogShortcut, AfterAddTheNameIsSelectedWithTheKeyboardInIt) {
    AddEntry("one");
    Open();
    dialog->Show();
    dialog->Raise();
    // Without a window manager another test's window, shown meanwhile, may keep the keyboard.
    if (!testing_support::ProcessEventsUntil([&] { return dialog->IsActive(); }))
        GTEST_SKIP() << "the dialog does not get the keyboard here";
    Select(0);
    dialog->nameListBox->SetFocus();
    Click(ID_ADD_BUTTON);
    ASSERT_TRUE(testing_support::ProcessEventsUntil(
        [&] { return wxWindow::FindFocus() == dialog->nameText; }));
    long from = -1;
    long to = -1;
    dialog->nameText->GetSelection(&from, &to);
    EXPECT_EQ(from, 0);
    EXPECT_EQ(to, static_cast<long>(wxString("PyScript").length()));
    // Typing replaces the whole name.
    dialog->nameText->WriteText("tally");
    EXPECT_EQ(scriptList->Get(1)->name, "tally");
}

TEST_F(DialogShortcut, BrowseOpensInTheScriptsFolderOrTheSelectedScriptsAndOffersPythonFirst) {
    const wxString scriptsFolder = dir.Path() + "/python/scripts";
    const wxString elsewhere = dir.Write("elsewhere/tool.py", "");
    dir.Write("python/scripts/kept.py", "");
    AddEntry("tool", elsewhere);
    AddEntry("new");
    Open();

    wxString directory;
    wxString wildcard;
    Select(wxNOT_FOUND);
    Browse(directory, wildcard); // nothing selected
    EXPECT_EQ(directory, scriptsFolder);
    EXPECT_TRUE(wildcard.StartsWith("Python files (*.py)|*.py|")) << wildcard;
    EXPECT_EQ(browseTitle, "Choose the script's Python file");

    Select(0);
    Browse(directory, wildcard);
    EXPECT_EQ(directory, dir.Path() + "/elsewhere");

    Select(1); // no location yet
    Browse(directory, wildcard);
    EXPECT_EQ(directory, scriptsFolder);
}

TEST_F(DialogShortcut, LocationShowsATypicalPathWholeAndALongOneByItsEnd) {
    const wxString longPath = "/home/ann/" + wxString('x', 200) + "/tools/wordcount.py";
    AddEntry("short", "python/examples/hello.py");
    AddEntry("long", longPath);
    Open();
    wxTextCtrl* field = dialog->locationPicker->GetTextCtrl();
    ASSERT_NE(field, nullptr);
    const int typical =
        field->GetTextExtent("/home/ann/.marrowpad/plugins/python/scripts/wordcount.py").x;
    EXPECT_GE(field->GetSize().x, typical);
    EXPECT_LE(dialog->GetSize().x, 1000); // still fits a small screen

    // The caret at the end keeps the file's name in view; the whole path is the tool tip.
    for (int row : {0, 1}) {
        Select(row);
        const wxString path = scriptList->Get(static_cast<unsigned>(row))->location;
        EXPECT_EQ(field->GetInsertionPoint(), static_cast<long>(path.length()));
        EXPECT_EQ(field->GetToolTipText(), path);
    }
}

} // namespace
