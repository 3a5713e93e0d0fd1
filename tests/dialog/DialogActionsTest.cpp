#include "tests/dialog/DialogFixture.h"

#include "host/lib/Services.h"

#include <wx/msgdlg.h>

#include <functional>

namespace {

class DialogActions : public DialogTestBase {
protected:
    void OpenWithThree() {
        AddEntry("zero", "/s/zero.py", "first", true, false);
        AddEntry("one", "/s/one.py", "second", false, true);
        AddEntry("two", "/s/two.py", "third", true, true);
        Open();
    }

    // Every wxEVT_EDITOR_OPEN that reaches the editor's frame.
    struct OpenRequest {
        int id;
        wxString path;
        int flag;
    };
    void CatchOpenRequests() {
        env.Frame()->Bind(wxEVT_EDITOR_OPEN, [this](wxCommandEvent& event) {
            openRequests.push_back({event.GetId(), event.GetString(), event.GetInt()});
        });
    }
    std::vector<OpenRequest> openRequests;

    // Delete asks once, naming the script; the answer is the recorder's.
    void ExpectDeleteQuestion(const wxString& name) {
        const auto boxes = modal.TakeMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Delete the script \"" + name +
                                     "\"?\nIts menu item and its shortcut go with it; its file "
                                     "stays.");
        EXPECT_EQ(boxes[0].caption, "Python Script Management");
        EXPECT_TRUE(boxes[0].style & wxYES_NO);
        EXPECT_TRUE(boxes[0].style & wxNO_DEFAULT);
    }
};

TEST_F(DialogActions, AddOnEmptyListSelectsAndShowsTheNewScript) {
    Open();
    Click(ID_ADD_BUTTON);
    EXPECT_EQ(Rows(), std::vector<wxString>{"PyScript"});
    EXPECT_EQ(dialog->nameListBox->GetSelection(), 0);
    EXPECT_EQ(dialog->shownIndex, 0);
    ExpectDetails("PyScript", "", "python script", false, false);
    EXPECT_TRUE(scriptList->modified);

    ASSERT_EQ(scriptList->GetCount(), 1u);
    const ScriptEntry* entry = scriptList->Get(0);
    EXPECT_EQ(entry->name, "PyScript");
    EXPECT_EQ(entry->location, "");
    EXPECT_EQ(entry->description, "python script");
    EXPECT_FALSE(entry->autoRun);
    EXPECT_FALSE(entry->autoReload);
}

TEST_F(DialogActions, AddTwiceGivesTwoScriptsWithTheirOwnIds) {
    Open();
    Click(ID_ADD_BUTTON);
    Click(ID_ADD_BUTTON);
    EXPECT_EQ(Rows(), (std::vector<wxString>{"PyScript", "PyScript"}));
    EXPECT_EQ(dialog->nameListBox->GetSelection(), 1);
    EXPECT_EQ(dialog->shownIndex, 1);
    EXPECT_NE(scriptList->Get(0)->menuId, scriptList->Get(1)->menuId);
}

TEST_F(DialogActions, AddAfterAnotherRowThenBackToIt) {
    OpenWithThree();
    Select(1);
    Click(ID_ADD_BUTTON);
    EXPECT_EQ(dialog->nameListBox->GetSelection(), 3);
    ExpectDetails("PyScript", "", "python script", false, false);
    Select(1);
    ExpectDetails("one", "/s/one.py", "second", false, true);
    EXPECT_EQ(EntryNames(), (std::vector<wxString>{"zero", "one", "two", "PyScript"}));
    EXPECT_EQ(Rows(), EntryNames());
}

TEST_F(DialogActions, AddOnFullListChangesNothingAndSaysWhy) {
    for (unsigned i = 0; i < MaxScriptNum; ++i)
        AddEntry(wxString::Format("s%u", i), "/s/x.py", "d");
    Open();
    Select(4);
    Click(ID_ADD_BUTTON);
    EXPECT_EQ(scriptList->GetCount(), 31u);
    EXPECT_EQ(dialog->nameListBox->GetCount(), 31u);
    EXPECT_EQ(dialog->nameListBox->GetSelection(), 4);
    EXPECT_EQ(dialog->shownIndex, 4);
    ExpectDetails("s4", "/s/x.py", "d", false, false);
    EXPECT_FALSE(scriptList->modified);
    EXPECT_EQ(modal.TakeTexts(),
              std::vector<wxString>{"Out of the range! It should be less than MaxScriptNum."});
}

TEST_F(DialogActions, SelectingShowsTheEntryWithoutMarkingAChange) {
    OpenWithThree();
    Select(1);
    ExpectDetails("one", "/s/one.py", "second", false, true);
    EXPECT_EQ(dialog->shownIndex, 1);
    Select(2);
    ExpectDetails("two", "/s/two.py", "third", true, true);
    Select(wxNOT_FOUND);
    ExpectDetails("", "", "", false, false);
    EXPECT_EQ(dialog->shownIndex, -1);
    EXPECT_FALSE(scriptList->modified);
    EXPECT_EQ(scriptList->Get(1)->name, "one");
    EXPECT_EQ(scriptList->Get(2)->location, "/s/two.py");
}

TEST_F(DialogActions, ReselectingTheShownRowKeepsTheFields) {
    OpenWithThree();
    Select(1);
    dialog->descriptionText->ChangeValue("not stored");
    Select(1);
    EXPECT_EQ(dialog->descriptionText->GetValue(), "not stored");
}

TEST_F(DialogActions, TypingANameMovesTheRowWithEveryKeystroke) {
    OpenWithThree();
    Select(2);
    dialog->nameText->SelectAll();
    dialog->nameText->Remove(0, dialog->nameText->GetLastPosition());
    EXPECT_EQ(scriptList->Get(2)->name, "");
    EXPECT_EQ(Rows()[2], "two"); // listed under its file's name meanwhile
    scriptList->Get(2)->location = "/s/other.py";

    wxString typed;
    for (const wxString& key : std::vector<wxString>{"n", wxString::FromUTF8("ü"), "&"}) {
        Type(dialog->nameText, key);
        typed += key;
        EXPECT_EQ(scriptList->Get(2)->name, typed);
        EXPECT_EQ(Rows()[2], typed);
    }
    EXPECT_EQ(dialog->nameListBox->GetSelection(), 2);
    EXPECT_EQ(EntryNames(), Rows());
    EXPECT_TRUE(scriptList->modified);
}

// A name that another script has is kept (the menu shows both), with a warning under it while
// it stays the same, whether typed or met on selecting.
TEST_F(DialogActions, ANameAnotherScriptHasIsKeptWithAWarning) {
    OpenWithThree();
    const wxWindow* warning = dialog->FindWindow("nameWarning");
    ASSERT_NE(warning, nullptr);
    const wxString sameAsZero =
        "Another script is named \"" + scriptList->Get(0)->name + "\": the menu will show both.";
    Select(2);
    EXPECT_EQ(warning->GetLabel(), "");
    dialog->nameText->Clear();
    Type(dialog->nameText, scriptList->Get(0)->name);
    EXPECT_EQ(warning->GetLabel(), sameAsZero);
    EXPECT_EQ(scriptList->Get(2)->name, scriptList->Get(0)->name);
    Type(dialog->nameText, "x");
    EXPECT_EQ(warning->GetLabel(), "");
    dialog->nameText->Remove(dialog->nameText->GetLastPosition() - 1,
                             dialog->nameText->GetLastPosition());
    Select(0);
    EXPECT_TRUE(warning->GetLabel().StartsWith("Another script is named")) << warning->GetLabel();
    Select(1);
    EXPECT_EQ(warning->GetLabel(), "");
    EXPECT_EQ(Rows()[0], Rows()[2]);
}

TEST_F(DialogActions, EveryDetailEditIsStoredAndMarksTheListChanged) {
    OpenWithThree();
    Select(0);
    const auto edit = [this](const char* what, const std::function<void()>& action) {
        scriptList->modified = false;
        action();
        EXPECT_TRUE(scriptList->modified) << what;
    };
    edit("description", [&] { Type(dialog->descriptionText, "!"); });
    EXPECT_EQ(scriptList->Get(0)->description, "first!");
    // A path typed into the picker's own field, and one chosen with its browse button.
    edit("typed path", [&] { dialog->locationPicker->GetTextCtrl()->SetValue("/tmp/other.py"); });
    EXPECT_EQ(scriptList->Get(0)->location, "/tmp/other.py");
    edit("browsed path", [&] {
        dialog->locationPicker->SetPath("/tmp/browsed.py");
        wxFileDirPickerEvent picked(wxEVT_FILEPICKER_CHANGED, dialog->locationPicker,
                                    ID_LOCATION_PICKER, "/tmp/browsed.py");
        dialog->locationPicker->ProcessWindowEvent(picked);
    });
    EXPECT_EQ(scriptList->Get(0)->location, "/tmp/browsed.py");
    edit("auto run", [&] { Toggle(dialog->autoRunBox); });
    EXPECT_FALSE(scriptList->Get(0)->autoRun);
    edit("auto reload", [&] { Toggle(dialog->autoReloadBox); });
    EXPECT_TRUE(scriptList->Get(0)->autoReload);

    // Nothing else changed.
    EXPECT_EQ(scriptList->Get(0)->name, "zero");
    EXPECT_EQ(scriptList->Get(1)->description, "second");
    EXPECT_EQ(scriptList->Get(1)->location, "/s/one.py");
    EXPECT_TRUE(scriptList->Get(1)->autoReload);
}

TEST_F(DialogActions, EditsWithoutASelectionChangeNoEntry) {
    OpenWithThree();
    Select(wxNOT_FOUND);
    EXPECT_FALSE(dialog->nameText->IsEnabled());
    EXPECT_FALSE(dialog->FindWindow(ID_DELETE_BUTTON)->IsEnabled());
    EXPECT_FALSE(dialog->FindWindow(ID_LOAD_BUTTON)->IsEnabled());
    Type(dialog->nameText, "abc");
    Type(dialog->descriptionText, "abc");
    dialog->locationPicker->GetTextCtrl()->SetValue("/tmp/nowhere.py");
    Toggle(dialog->autoRunBox);
    Toggle(dialog->autoReloadBox);

    EXPECT_FALSE(scriptList->modified);
    EXPECT_EQ(EntryNames(), (std::vector<wxString>{"zero", "one", "two"}));
    EXPECT_EQ(Rows(), EntryNames());
    EXPECT_EQ(scriptList->Get(0)->description, "first");
    EXPECT_EQ(scriptList->Get(0)->location, "/s/zero.py");
    EXPECT_TRUE(scriptList->Get(0)->autoRun);
    EXPECT_FALSE(scriptList->Get(0)->autoReload);
}

TEST_F(DialogActions, DeleteShowsTheRowThatTookItsPlaceOrTheNewLastRow) {
    const struct {
        int deleted;
        std::vector<wxString> left;
        int shown;
    } cases[] = {{0, {"one", "two"}, 0}, {1, {"zero", "two"}, 1}, {2, {"zero", "one"}, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deleted);
        scriptList->DeleteAll();
        delete dialog;
        OpenWithThree();
        Select(c.deleted);
        Click(ID_DELETE_BUTTON);
        ExpectDeleteQuestion(c.deleted == 0 ? "zero" : c.deleted == 1 ? "one" : "two");
        EXPECT_EQ(EntryNames(), c.left);
        EXPECT_EQ(Rows(), EntryNames());
        EXPECT_EQ(dialog->nameListBox->GetSelection(), c.shown);
        EXPECT_EQ(dialog->shownIndex, c.shown);
        EXPECT_EQ(dialog->nameText->GetValue(), c.left[c.shown]);
        EXPECT_TRUE(scriptList->modified);

        // Edits now go to the shown entry, not to the deleted one.
        Type(dialog->nameText, "!");
        EXPECT_EQ(scriptList->Get(c.shown)->name, c.left[c.shown] + "!");
        EXPECT_EQ(Rows(), EntryNames());
    }
}

TEST_F(DialogActions, DeleteAnsweredNoKeepsTheScript) {
    OpenWithThree();
    Select(1);
    modal.SetMessageBoxAnswer(wxID_NO);
    Click(ID_DELETE_BUTTON);
    ExpectDeleteQuestion("one");
    EXPECT_EQ(EntryNames(), (std::vector<wxString>{"zero", "one", "two"}));
    EXPECT_EQ(Rows(), EntryNames());
    EXPECT_EQ(dialog->nameListBox->GetSelection(), 1);
    EXPECT_FALSE(scriptList->modified);
}

TEST_F(DialogActions, DeleteTheOnlyRowLeavesAnEmptyList) {
    AddEntry("", "/s/only.py", "its description");
    Open();
    Select(0);
    Click(ID_DELETE_BUTTON);
    ExpectDeleteQuestion("only"); // a nameless script is named by its file
    EXPECT_EQ(scriptList->GetCount(), 0u);
    EXPECT_EQ(dialog->nameListBox->GetCount(), 0u);
    EXPECT_EQ(dialog->nameListBox->GetSelection(), wxNOT_FOUND);
    EXPECT_EQ(dialog->shownIndex, -1);
    EXPECT_TRUE(scriptList->modified);
    // The fields show nothing and take nothing; Delete and Load are off.
    ExpectDetails("", "", "", false, false);
    EXPECT_FALSE(dialog->nameText->IsEnabled());
    EXPECT_FALSE(dialog->FindWindow(ID_DELETE_BUTTON)->IsEnabled());

    // With nothing selected, typing changes no entry (there is none) and adds nothing.
    Type(dialog->nameText, "x");
    EXPECT_EQ(scriptList->GetCount(), 0u);
    Click(ID_ADD_BUTTON);
    EXPECT_EQ(EntryNames(), std::vector<wxString>{"PyScript"});
}

TEST_F(DialogActions, DeleteWithoutSelectionDoesNothing) {
    OpenWithThree();
    Select(wxNOT_FOUND);
    Click(ID_DELETE_BUTTON);
    EXPECT_EQ(scriptList->GetCount(), 3u);
    EXPECT_EQ(Rows(), EntryNames());
    EXPECT_FALSE(scriptList->modified);
}

TEST_F(DialogActions, LoadWithoutSelectionOnlyTellsTheUser) {
    CatchOpenRequests();
    OpenWithThree();
    Select(wxNOT_FOUND);
    Click(ID_LOAD_BUTTON);
    const auto boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "No script be selected!");
    EXPECT_EQ(boxes[0].caption, wxString(wxMessageBoxCaptionStr));
    EXPECT_EQ(boxes[0].style & (wxOK | wxCENTRE), wxOK | wxCENTRE);
    EXPECT_TRUE(openRequests.empty());
    EXPECT_FALSE(scriptList->modified);
}

TEST_F(DialogActions, LoadHandsTheFrameOneOpenRequest) {
    CatchOpenRequests();
    int buttonEventsAtFrame = 0;
    env.Frame()->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { ++buttonEventsAtFrame; });
    OpenWithThree();
    scriptList->Get(1)->location = wxString::FromUTF8("/home/ann/skripte/zähler & co.py");
    Select(1);
    Click(ID_LOAD_BUTTON);

    ASSERT_EQ(openRequests.size(), 1u);
    EXPECT_EQ(openRequests[0].id, 0);
    EXPECT_EQ(openRequests[0].path, wxString::FromUTF8("/home/ann/skripte/zähler & co.py"));
    EXPECT_EQ(openRequests[0].flag, -1);
    // The dialog's own button events stop at the dialog.
    EXPECT_EQ(buttonEventsAtFrame, 0);
    EXPECT_FALSE(scriptList->modified);
    EXPECT_EQ(dialog->nameListBox->GetSelection(), 1);
}

TEST_F(DialogActions, RowWithoutEntryIsReportedAndShowsNothing) {
    CatchOpenRequests();
    OpenWithThree();
    Select(0);
    // A row that no entry stands behind (the dialog itself never makes one).
    dialog->nameListBox->Append("stray");
    Select(3);
    EXPECT_EQ(modal.TakeTexts(), std::vector<wxString>{"Can't find the info of this script!"});
    ExpectDetails("", "", "", false, false);
    EXPECT_EQ(dialog->shownIndex, 3);

    Click(ID_LOAD_BUTTON);
    EXPECT_EQ(modal.TakeTexts(), std::vector<wxString>{"Can't find the info of this script!"});
    EXPECT_TRUE(openRequests.empty());

    Type(dialog->nameText, "x");
    EXPECT_EQ(EntryNames(), (std::vector<wxString>{"zero", "one", "two"}));
    EXPECT_FALSE(scriptList->modified);
}

} // namespace
