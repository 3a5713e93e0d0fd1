#include "tests/dialog/DialogFixture.h"

#include "dialog/Shortcut.h"

#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/tooltip.h>

namespace {

class DialogLayout : public DialogTestBase {};

TEST_F(DialogLayout, EmptyListGivesEmptyRowsAndDetails) {
    Open();
    EXPECT_EQ(dialog->nameListBox->GetCount(), 0u);
    EXPECT_EQ(dialog->nameListBox->GetSelection(), wxNOT_FOUND);
    EXPECT_EQ(dialog->shownIndex, -1);
    ExpectDetails("", "", "", false, false);
    EXPECT_EQ(dialog->CurrentEntry(), nullptr);
}

TEST_F(DialogLayout, RowsFollowTheListInOrder) {
    for (unsigned i = 0; i < MaxScriptNum; ++i)
        AddEntry(i == 3 || i == 4 ? wxString("same") : wxString::Format("script %u", i));
    scriptList->Get(7)->name.clear();
    Open();
    EXPECT_EQ(Rows(), EntryNames());
    EXPECT_EQ(Rows().size(), 31u);
    EXPECT_EQ(Rows()[7], "");
    EXPECT_EQ(dialog->nameListBox->GetSelection(), wxNOT_FOUND);
    EXPECT_EQ(dialog->shownIndex, -1);
    ExpectDetails("", "", "", false, false);
    EXPECT_FALSE(scriptList->modified);
}

TEST_F(DialogLayout, ControlsCarryTheirNamesLabelsAndStyles) {
    Open();
    EXPECT_EQ(dialog->GetTitle(), "Python Script Management");
    EXPECT_TRUE(dialog->GetExtraStyle() & wxWS_EX_BLOCK_EVENTS);
    EXPECT_TRUE(dialog->descriptionText->IsMultiLine());
    EXPECT_TRUE(dialog->locationPicker->HasTextCtrl());
    // One script at a time; the browse dialog opens existing files only.
    EXPECT_TRUE(dialog->nameListBox->HasFlag(wxLB_SINGLE));
    EXPECT_FALSE(dialog->nameListBox->HasFlag(wxLB_MULTIPLE));
    EXPECT_FALSE(dialog->nameListBox->HasFlag(wxLB_EXTENDED));
    EXPECT_TRUE(dialog->locationPicker->HasFlag(wxFLP_OPEN));
    EXPECT_TRUE(dialog->locationPicker->HasFlag(wxFLP_FILE_MUST_EXIST));
    EXPECT_FALSE(dialog->locationPicker->HasFlag(wxFLP_SAVE));

    const struct {
        int id;
        const char* name;
        const char* label;
    } buttons[] = {{10007, "addButton", "Add"},
                   {10008, "delButton", "Delete"},
                   {10009, "viewButton", "Load"},
                   {wxID_OK, "button", "OK"}};
    for (const auto& expected : buttons) {
        auto* button = dynamic_cast<wxButton*>(dialog->FindWindow(expected.id));
        ASSERT_NE(button, nullptr) << expected.id;
        EXPECT_EQ(button->GetName(), expected.name);
        EXPECT_EQ(button->GetLabel(), expected.label);
    }
    EXPECT_EQ(dialog->FindWindow(10009)->GetToolTipText(), "View in Marrowpad");
    EXPECT_EQ(dialog->GetDefaultItem(), dialog->FindWindow(wxID_OK));

    std::vector<wxString> labels;
    for (wxWindow* child : dialog->GetChildren())
        if (auto* text = dynamic_cast<wxStaticText*>(child))
            labels.push_back(text->GetLabel());
        else if (auto* box = dynamic_cast<wxStaticBox*>(child))
            labels.push_back(box->GetLabel());
    EXPECT_EQ(labels, (std::vector<wxString>{"Name Lists", "Detail",
                                             "Name :", "Shortcut:", "Location:", "Description:"}));
}

TEST_F(DialogLayout, LabelsAreNeverCutOffAndShareOneWidth) {
    Open();
    std::vector<int> widths;
    for (wxWindow* child : dialog->GetChildren()) {
        if (auto* label = dynamic_cast<wxStaticText*>(child)) {
            EXPECT_GE(label->GetSize().x, label->GetBestSize().x) << label->GetLabel();
            EXPECT_GE(label->GetSize().x, 70);
            widths.push_back(label->GetSize().x);
        }
    }
    ASSERT_EQ(widths.size(), 4u);
    EXPECT_EQ(widths[0], widths[1]);
    EXPECT_EQ(widths[0], widths[2]);
    EXPECT_EQ(widths[0], widths[3]);
    // The check boxes start where the fields do.
    EXPECT_EQ(dialog->autoRunBox->GetPosition().x, dialog->nameText->GetPosition().x);
    EXPECT_EQ(dialog->autoReloadBox->GetPosition().x, dialog->descriptionText->GetPosition().x);
}

TEST_F(DialogLayout, DefaultConstructorMakesNoWindow) {
    std::unique_ptr<wxObject> made(wxCreateDynamicObject("ManagePythonScript"));
    auto* empty = dynamic_cast<ManagePythonScript*>(made.get());
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetHandle(), nullptr);
    EXPECT_EQ(empty->nameListBox, nullptr);
    EXPECT_EQ(empty->autoRunBox, nullptr);
    EXPECT_EQ(empty->shownIndex, -1);
}

TEST_F(DialogLayout, TabOrderIsTheCreationOrder) {
    Open();
    // The picker takes the focus twice: its path field, then its browse button.
    const std::vector<wxWindow*> order = {
        dialog->nameListBox,
        dialog->FindWindow(10007),
        dialog->FindWindow(10008),
        dialog->FindWindow(10009),
        dialog->nameText,
        dialog->shortcutText,
        dialog->locationPicker->GetTextCtrl(),
        dialog->locationPicker->GetPickerCtrl(),
        dialog->descriptionText,
        dialog->autoReloadBox,
        dialog->autoRunBox,
        dialog->FindWindow(wxID_OK),
        dialog->nameListBox,
    };
    dialog->Show();
    dialog->Raise(); // without a window manager this also gives the dialog the input focus
    ASSERT_TRUE(testing_support::ProcessEventsUntil([&] { return dialog->IsActive(); }));
    dialog->nameListBox->SetFocus();
    ASSERT_TRUE(testing_support::ProcessEventsUntil(
        [&] { return wxWindow::FindFocus() == dialog->nameListBox; }));
    for (size_t step = 1; step < order.size(); ++step) {
        wxWindow::FindFocus()->Navigate(wxNavigationKeyEvent::IsForward);
        ASSERT_TRUE(testing_support::ProcessEventsUntil(
            [&] { return wxWindow::FindFocus() == order[step]; }, 2000))
            << "step " << step << ": " << wxWindow::FindFocus()->GetName();
    }
}

TEST_F(DialogLayout, FittedToItsSizersAndNotResizable) {
    AddEntry("one");
    Open();
    EXPECT_FALSE(dialog->HasFlag(wxRESIZE_BORDER));
    EXPECT_NE(dialog->GetSize(), wxSize(500, 330));
    EXPECT_EQ(dialog->GetClientSize(), dialog->GetSizer()->GetMinSize());
    EXPECT_EQ(dialog->GetSize(), dialog->GetMinSize());
    EXPECT_EQ(dialog->nameListBox->GetSize().y, 200);

    dialog->Show();
    testing_support::ProcessEventsUntil([&] { return dialog->IsShownOnScreen(); });
    EXPECT_EQ(dialog->GetClientSize(), dialog->GetSizer()->GetMinSize());
}

} // namespace
