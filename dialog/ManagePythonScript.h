// The "Python Script Management" dialog: the registered scripts and their details, edited in
// place in the plug-in's ScriptList.
#pragma once

#include <wx/dialog.h>

class wxCheckBox;
class wxFileDirPickerEvent;
class wxFilePickerCtrl;
class wxListBox;
class wxTextCtrl;
struct ScriptEntry;

class ManagePythonScript : public wxDialog {
    wxDECLARE_DYNAMIC_CLASS(ManagePythonScript);
    wxDECLARE_EVENT_TABLE();

public:
    ManagePythonScript();
    ManagePythonScript(wxWindow* parent, wxWindowID id, const wxString& caption,
                       const wxPoint& pos, const wxSize& size, long style);

    bool Create(wxWindow* parent, wxWindowID id, const wxString& caption, const wxPoint& pos,
                const wxSize& size, long style);

    void InitMembers();
    void BuildControls();
    void FillNameList();

    // The entry of the selected row, or null when no row is selected.
    ScriptEntry* CurrentEntry() const;

    void OnNameListSelected(wxCommandEvent& event);
    void OnAddClicked(wxCommandEvent& event);
    void OnDeleteClicked(wxCommandEvent& event);
    void OnLoadClicked(wxCommandEvent& event);
    void OnNameUpdated(wxCommandEvent& event);
    void OnLocationChanged(wxFileDirPickerEvent& event);
    void OnDescriptionUpdated(wxCommandEvent& event);
    void OnAutoReloadClicked(wxCommandEvent& event);
    void OnAutoRunClicked(wxCommandEvent& event);

    wxListBox* nameListBox;
    wxTextCtrl* nameText;
    wxFilePickerCtrl* locationPicker;
    wxTextCtrl* descriptionText;
    wxCheckBox* autoReloadBox;
    wxCheckBox* autoRunBox;
    int shownIndex; // row whose entry the detail controls show, or -1

private:
    void ShowEntry(const ScriptEntry& entry);
    void ClearDetails();
};

// Window ids of the dialog and its controls.
enum {
    ID_MANAGEPYTHONSCRIPT = 10000,
    ID_NAME_LISTBOX = 10001,
    ID_AUTORELOAD_CHECKBOX = 10003,
    ID_NAME_TEXT = 10005,
    ID_ADD_BUTTON = 10007,
    ID_DELETE_BUTTON = 10008,
    ID_LOAD_BUTTON = 10009,
    ID_LOCATION_PICKER = 10019,
    ID_AUTORUN_CHECKBOX = 10021,
    ID_DESCRIPTION_TEXT = 10022,
};
