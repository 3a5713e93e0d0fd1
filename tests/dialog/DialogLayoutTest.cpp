#include "tests/dialog/DialogFixture.h"

#include "dialog/Shortcut.h"

#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/tooltip.h>

#include <chrono>

namespace {

class DialogLayout : public DialogTestBase {};

// Whether the detail fields, Delete and Load take input.
std::vector<bool> Enabled(ManagePythonScript* dialog) {
    std::vector<bool> enabled;
    for (wxWindow* control :
         {static_cast<wxWindow*>(dialog->nameText), static_cast<wxWindow*>(dialog->shortcutText),
          static_cast<wxWindow*>(dialog->locationPicker),
          static_cast<wxWindow*>(dialog->descriptionText),
          static_cast<wxWindow*>(dialog->autoReloadBox), static_cast<wxWindow*>(dialog->autoRunBox),
          dialog->FindWindow(10008), dialog->FindWindow(10009)})
        enabled.push_back(control->IsEnabled());
    return enabled;
}

TEST_F(DialogLayout, EmptyListGivesEmptyRowsAndDisabledDetails) {
    Open();
    EXPECT_EQ(dialog->nameListBox->GetCount(), 0u);
    EXPECT_EQ(dialog->nameListBox->GetSelection(), wxNOT_FOUND);
    EXPECT_EQ(dialog->shownIndex, -1);
    ExpectDetails("", "", "", false, false);
    EXPECT_EQ(dialog->CurrentEntry(), nullptr);
    EXPECT_EQ(Enabled(dialog), std::vector<bool>(8, false));
    EXPECT_TRUE(dialog->FindWindow(10007)->IsEnabled()); // Add
}

TEST_F(DialogLayout, RowsFollowTheListInOrderAndTheFirstIsShown) {
    for (unsigned i = 0; i < MaxScriptNum; ++i)
        AddEntry(i == 3 || i == 4 ? wxString("same") : wxString::Format("script %u", i),
                 wxString::Format("/scripts/s%u.py", i), "the first");
    scriptList->Get(7)->name.clear();
    scriptList->Get(8)->name.clear();
    scriptList->Get(8)->location.clear();
    Open();
    std::vector<wxString> shown = EntryNames();
    shown[7] = "s7"; // a script without a name is listed under its file's name
    shown[8] = "(unnamed)";
    EXPECT_EQ(Rows(), shown);
    EXPECT_EQ(dialog->nameListBox->GetSelection(), 0);
    EXPECT_EQ(dialog->shownIndex, 0);
    ExpectDetails("script 0", "/scripts/s0.py", "the first", false, false);
    EXPECT_EQ(Enabled(dialog), std::vector<bool>(8, true));
    EXPECT_FALSE(scriptList->modified);

    // Emptying a name lists the script under its file's name; the entry keeps no name.
    Select(7);
    ExpectDetails("", "/scripts/s7.py", "the first", false, false);
    Type(dialog->nameText, "x");
    EXPECT_EQ(Rows()[7], "x");
    dialog->nameText->SetValue("");
    EXPECT_EQ(Rows()[7], "s7");
    EXPECT_EQ(scriptList->Get(7)->name, "");
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
    // The last, empty while no other script has the name, is the warning under the name.
    EXPECT_EQ(labels, (std::vector<wxString>{"Name Lists", "Detail", "Name :", "Shortcut:",
                                             "Location:", "Description:", ""}));
}

// In the usual font and in one half as large again (a desktop's larger text), every label,
// button and check box is as wide as its text needs.
TEST_F(DialogLayout, LabelsAndButtonsAreNeverCutOffAndLabelsShareOneWidth) {
    AddEntry("one");
    for (const double scale : {1.0, 1.5}) {
        dialog = new ManagePythonScript;
        wxFont font = env.Frame()->GetFont();
        font.SetFractionalPointSize(font.GetFractionalPointSize() * scale);
        dialog->SetFont(font); // inherited by the controls made next
        dialog->Create(env.Frame(), 10000, "Python Script Management", wxDefaultPosition,
                       wxSize(500, 330), wxDEFAULT_DIALOG_STYLE | wxTAB_TRAVERSAL);
        dialog->FillNameList();
        std::vector<int> widths;
        for (wxWindow* child : dialog->GetChildren()) {
            if (auto* box = dynamic_cast<wxStaticBox*>(child)) {
                EXPECT_GT(box->GetSize().x, box->GetTextExtent(box->GetLabel()).x)
                    << box->GetLabel() << " at " << scale;
                continue;
            }
            const bool labelled = dynamic_cast<wxStaticText*>(child) ||
                                  dynamic_cast<wxButton*>(child) ||
                                  dynamic_cast<wxCheckBox*>(child);
            if (labelled) {
                EXPECT_GE(child->GetSize().x, child->GetBestSize().x)
                    << child->GetLabel() << " at " << scale;
            }
            auto* label = dynamic_cast<wxStaticText*>(child);
            if (label && label->GetName() != "nameWarning") {
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
        delete dialog;
        dialog = nullptr;
    }
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
    AddEntry("one"); // without a script the fields take no input, nor the keyboard
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
    // No larger either: nothing to maximise.
    EXPECT_EQ(dialog->GetMaxSize(), dialog->GetMinSize());
    EXPECT_FALSE(dialog->HasFlag(wxMAXIMIZE_BOX));
    EXPECT_EQ(dialog->nameListBox->GetSize().y, 200);

    dialog->Show();
    testing_support::ProcessEventsUntil([&] { return dialog->IsShownOnScreen(); });
    EXPECT_EQ(dialog->GetClientSize(), dialog->GetSizer()->GetMinSize());
}

} // namespace

namespace {

wxString Repeated(const wxString& text, int times) {
    wxString all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

// A description with a word of 100,000 characters: the toolkit would take minutes to wrap it.
// Shown (each time a script is selected, and once pasted in) within seconds, whole, unwrapped;
// typed into, kept whole. Descriptions of ordinary words still wrap.
TEST_F(DialogLayout, LongDescriptionsShowWholeWithoutHanging) {
    const wxString longWord(wxUniChar('x'), 100000);
    const struct {
        const char* what;
        wxString description;
        bool wraps;
    } cases[] = {
        {"one word", longWord, false},
        {"a word among words", "see " + longWord + " and more", false},
        {"a word wider than the field", "see " + wxString(wxUniChar('y'), 300) + " end", false},
        {"words that fit", Repeated("supercalifragilistic ", 30), true},
        {"many words", Repeated("lorem ipsum ", 10000), true},
    };
    for (const auto& c : cases) {
        AddEntry("short", "/s/short.py", "plain words");
        AddEntry(c.what, "/s/long.py", c.description);
        const auto start = std::chrono::steady_clock::now();
        Open();
        Select(1);
        dialog->Show();
        testing_support::ProcessEventsUntil([&] { return dialog->IsShownOnScreen(); });
        wxYield();
        Select(0);
        Select(1);
        wxYield();
        const auto shown = std::chrono::steady_clock::now() - start;
        EXPECT_LT(shown, std::chrono::seconds(10)) << c.what;
        EXPECT_EQ(dialog->descriptionText->GetValue(), c.description) << c.what;
        EXPECT_EQ(!dialog->descriptionText->HasFlag(wxTE_DONTWRAP), c.wraps) << c.what;

        dialog->descriptionText->SetInsertionPoint(4);
        dialog->descriptionText->WriteText("!");
        EXPECT_EQ(scriptList->Get(1)->description,
                  c.description.Left(4) + "!" + c.description.Mid(4))
            << c.what;

        // Pasted into the script of plain words.
        Select(0);
        EXPECT_FALSE(dialog->descriptionText->HasFlag(wxTE_DONTWRAP)) << c.what;
        dialog->descriptionText->SetValue(c.description);
        wxYield();
        EXPECT_EQ(scriptList->Get(0)->description, c.description) << c.what;
        EXPECT_EQ(!dialog->descriptionText->HasFlag(wxTE_DONTWRAP), c.wraps) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.what;

        delete dialog;
        dialog = nullptr;
        scriptList->DeleteAll();
    }
}

} // namespace
