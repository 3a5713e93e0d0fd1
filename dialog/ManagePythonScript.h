// The "Python Script Management" dialog: the registered scripts and their details, edited in
// place in the plug-in's ScriptList.
#pragma once

#include <wx/dialog.h>

#include <vector>

class wxCheckBox;
class wxFileDirPickerEvent;
class wxFilePickerCtrl;
class wxListBox;
class wxStaticText;
class wxTextCtrl;
class ShortcutCtrl;
struct ScriptEntry;

class ManagePythonScript : public wxDialog {
    wxDECLARE_DYNAMIC_CLASS(ManagePythonScript);
    wxDECLARE_EVENT_TABLE();

public:
    ManagePythonScript();
    ManagePythonScript(wxWindow* parent, wxWindowID id, const wxString& caption, const wxPoint& pos,
                       const wxSize& size, long style);

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
    void OnShortcutUpdated(wxCommandEvent& event);

    // Whether the shortcut may go to the selected script: false, after telling the user who
    // holds it, when the editor's menus or another script use it already.
    bool AcceptShortcut(const wxString& shortcut);

    wxListBox* nameListBox;
    wxTextCtrl* nameText;
    wxFilePickerCtrl* locationPicker;
    wxTextCtrl* descriptionText;
    wxCheckBox* autoReloadBox;
    wxCheckBox* autoRunBox;
    ShortcutCtrl* shortcutText;
    // Under the name: a warning while another script has the same name (both show in the menu).
    wxStaticText* nameWarning;
    int shownIndex; // row whose entry the detail controls show, or -1

private:
    void ShowEntry(const ScriptEntry& entry);
    // The description wraps at words, unless a word in it is wider than the field: then it is
    // not wrapped (the whole value is shown either way).
    void FitWrapping(const wxString& description);
    void ClearDetails();
    // The browse dialog opens in the folder of that location, or in the scripts folder.
    void SetBrowseFolder(const wxString& location);
    // The detail fields, Delete and Load are enabled only while a script is selected.
    void UpdateEnabling();
    // The location's field shows the end of the path, the whole of it in the tool tip.
    void ShowLocation(const wxString& location);
    // The selected row shows its script's name as it now is.
    void UpdateRow();
    // Warns, under the name, when another script has the selected script's name.
    void UpdateNameWarning();

    std::vector<int> deletedIds; // menu ids of the scripts deleted while the dialog is open
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
    ID_SHORTCUT_TEXT = 10023,
};
