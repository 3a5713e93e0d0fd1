// A Script Management dialog on a real script list, in front of the editor's frame, with helpers
// that act as the user does: every change arrives as the event of the control concerned.
#pragma once

#include "dialog/ManagePythonScript.h"
#include "registry/ScriptList.h"
#include "tests/support/ScriptEntries.h"
#include "tests/support/TestSupport.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/filepicker.h>
#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>

#include <memory>
#include <vector>

class DialogTestBase : public testing_support::WxTest {
protected:
    void SetUp() override { scriptList = new ScriptList; }
    void TearDown() override {
        delete dialog;
        dialog = nullptr;
        delete scriptList;
        scriptList = nullptr;
        WxTest::TearDown();
    }

    ScriptEntry* AddEntry(const wxString& name, const wxString& location = {},
                          const wxString& description = {}, bool autoRun = false,
                          bool autoReload = false) {
        return testing_support::AddScriptEntry(name, location, description, autoRun, autoReload);
    }

    // Opens the dialog as the Script Management command does (without the modal loop).
    void Open() {
        dialog = new ManagePythonScript(env.Frame(), 10000, "Python Script Management",
                                        wxDefaultPosition, wxSize(500, 330),
                                        wxDEFAULT_DIALOG_STYLE | wxTAB_TRAVERSAL);
    }

    void Click(int id) {
        wxWindow* button = dialog->FindWindow(id);
        ASSERT_NE(button, nullptr);
        wxCommandEvent event(wxEVT_BUTTON, id);
        event.SetEventObject(button);
        button->ProcessWindowEvent(event);
    }

    void Select(int row) {
        wxListBox* list = dialog->nameListBox;
        if (row == wxNOT_FOUND)
            list->SetSelection(wxNOT_FOUND);
        else
            list->SetSelection(row);
        wxCommandEvent event(wxEVT_LISTBOX, list->GetId());
        event.SetEventObject(list);
        event.SetInt(row);
        list->ProcessWindowEvent(event);
    }

    void Toggle(wxCheckBox* box) {
        box->SetValue(!box->GetValue());
        wxCommandEvent event(wxEVT_CHECKBOX, box->GetId());
        event.SetEventObject(box);
        event.SetInt(box->GetValue());
        box->ProcessWindowEvent(event);
    }

    // One keystroke at a time at the end of the text, each raising the control's own text event.
    void Type(wxTextCtrl* text, const wxString& keys) {
        for (const auto& key : keys) {
            text->SetInsertionPointEnd();
            text->WriteText(wxString(key));
        }
    }

    std::vector<wxString> Rows() const {
        std::vector<wxString> rows;
        for (unsigned i = 0; i < dialog->nameListBox->GetCount(); ++i)
            rows.push_back(dialog->nameListBox->GetString(i));
        return rows;
    }

    std::vector<wxString> EntryNames() const {
        std::vector<wxString> names;
        for (unsigned i = 0; i < scriptList->GetCount(); ++i)
            names.push_back(scriptList->Get(i)->name);
        return names;
    }

    // The five detail controls show these values.
    void ExpectDetails(const wxString& name, const wxString& location, const wxString& description,
                       bool autoRun, bool autoReload) const {
        EXPECT_EQ(dialog->nameText->GetValue(), name);
        EXPECT_EQ(dialog->locationPicker->GetPath(), location);
        EXPECT_EQ(dialog->locationPicker->GetTextCtrlValue(), location);
        EXPECT_EQ(dialog->descriptionText->GetValue(), description);
        EXPECT_EQ(dialog->autoRunBox->GetValue(), autoRun);
        EXPECT_EQ(dialog->autoReloadBox->GetValue(), autoReload);
    }

    testing_support::TempDir dir;
    testing_support::EditorEnvironment env{dir.Path()};
    ManagePythonScript* dialog = nullptr;
};
