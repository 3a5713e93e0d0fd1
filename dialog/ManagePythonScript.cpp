#include "dialog/ManagePythonScript.h"

#include "dialog/Shortcut.h"
#include "plugin/EditorServices.h"
#include "registry/ScriptList.h"
#include "registry/ScriptsFolder.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/filename.h>
#include <wx/filepicker.h>
#include <wx/frame.h>
#include <wx/intl.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/wxcrt.h>

#include <algorithm>
#include <initializer_list>

namespace {

void ShowMessage(const wxString& text) {
    wxMessageBox(wxGetTranslation(text), wxMessageBoxCaptionStr, wxOK | wxCENTRE);
}

// The Location field shows a path of this length whole.
const char* const typicalPath = "/home/ann/.marrowpad/plugins/python/scripts/wordcount.py";

// A word longer than that many characters (none of them a space).
bool HasWordLongerThan(const wxString& text, size_t limit) {
    size_t run = 0;
    for (const wxUniChar c : text) {
        run = wxIsspace(c) ? 0 : run + 1;
        if (run > limit)
            return true;
    }
    return false;
}

} // namespace

wxIMPLEMENT_DYNAMIC_CLASS(ManagePythonScript, wxDialog);

ManagePythonScript::ManagePythonScript() {
    InitMembers();
}

ManagePythonScript::ManagePythonScript(wxWindow* parent, wxWindowID id, const wxString& caption,
                                       const wxPoint& pos, const wxSize& size, long style) {
    InitMembers();
    Create(parent, id, caption, pos, size, style);
    FillNameList();
    // The first script is shown, so that what the user types at once goes somewhere.
    if (nameListBox->GetCount() > 0) {
        nameListBox->SetSelection(0);
        if (const ScriptEntry* entry = CurrentEntry())
            ShowEntry(*entry);
        shownIndex = 0;
    }
    UpdateEnabling();
}

void ManagePythonScript::InitMembers() {
    nameListBox = nullptr;
    nameText = nullptr;
    nameWarning = nullptr;
    locationPicker = nullptr;
    descriptionText = nullptr;
    autoReloadBox = nullptr;
    autoRunBox = nullptr;
    shortcutText = nullptr;
    shownIndex = -1;
}

bool ManagePythonScript::Create(wxWindow* parent, wxWindowID id, const wxString& caption,
                                const wxPoint& pos, const wxSize& size, long style) {
    // Command events of the controls stop here and never reach the editor's frame.
    SetExtraStyle(wxWS_EX_BLOCK_EVENTS);
    wxDialog::Create(parent, id, caption, pos, size, style, wxDialogNameStr);
    BuildControls();
    if (GetSizer())
        GetSizer()->SetSizeHints(this);
    // Not resizable, so not to be maximised either: window managers offer that only to windows
    // that may grow.
    SetMaxSize(GetSize());
    Centre(wxBOTH);
    return true;
}

void ManagePythonScript::BuildControls() {
    // The controls are created in their keyboard tab order.
    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    SetSizer(topSizer, true);

    auto* mainRow = new wxBoxSizer(wxHORIZONTAL);
    topSizer->Add(mainRow, 0, wxGROW | wxALL, 2);

    auto* nameListsBox = new wxStaticBox(this, wxID_ANY, wxGetTranslation("Name Lists"));
    auto* nameListsSizer = new wxStaticBoxSizer(nameListsBox, wxVERTICAL);
    mainRow->Add(nameListsSizer, 0, wxGROW, 2);

    nameListBox = new wxListBox(this, ID_NAME_LISTBOX, wxDefaultPosition, wxSize(-1, 200),
                                wxArrayString(), wxLB_SINGLE);
    nameListsSizer->Add(nameListBox, 1, wxGROW | wxALL | wxFIXED_MINSIZE, 2);

    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    nameListsSizer->Add(buttonRow, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 2);

    auto* addButton = new wxButton(this, ID_ADD_BUTTON, wxGetTranslation("Add"), wxDefaultPosition,
                                   wxSize(50, -1));
    addButton->SetName("addButton");
    buttonRow->Add(addButton, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 5);

    auto* deleteButton = new wxButton(this, ID_DELETE_BUTTON, wxGetTranslation("Delete"),
                                      wxDefaultPosition, wxSize(50, -1));
    deleteButton->SetName("delButton");
    buttonRow->Add(deleteButton, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 0);

    auto* loadButton = new wxButton(this, ID_LOAD_BUTTON, wxGetTranslation("Load"),
                                    wxDefaultPosition, wxSize(50, -1));
    loadButton->SetToolTip(wxGetTranslation("View in Marrowpad"));
    loadButton->SetName("viewButton");
    buttonRow->Add(loadButton, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 5);
    // 50 pixels, or as wide as a label needs in a larger font or another language.
    for (wxButton* button : {addButton, deleteButton, loadButton})
        button->SetMinSize(wxSize(std::max(50, button->GetBestSize().x), -1));

    auto* detailHolder = new wxBoxSizer(wxHORIZONTAL);
    mainRow->Add(detailHolder, 0, wxGROW, 0);

    auto* detailBox = new wxStaticBox(this, wxID_ANY, wxGetTranslation("Detail"));
    auto* detailSizer = new wxStaticBoxSizer(detailBox, wxVERTICAL);
    detailHolder->Add(detailSizer, 1, wxGROW | wxALL, 2);

    auto* detailColumn = new wxBoxSizer(wxVERTICAL);
    detailSizer->Add(detailColumn, 1, wxGROW | wxALL, 5);

    auto* nameRow = new wxBoxSizer(wxHORIZONTAL);
    detailColumn->Add(nameRow, 0, wxGROW | wxALL, 0);
    auto* nameLabel = new wxStaticText(this, wxID_STATIC, wxGetTranslation("Name :"),
                                       wxDefaultPosition, wxSize(70, -1));
    nameRow->Add(nameLabel, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    nameText = new wxTextCtrl(this, ID_NAME_TEXT, wxEmptyString);
    nameRow->Add(nameText, 1, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    // The shortcut shares the name's row, so that the description keeps its height.
    auto* shortcutLabel = new wxStaticText(this, wxID_STATIC, wxGetTranslation("Shortcut:"),
                                           wxDefaultPosition, wxSize(70, -1));
    nameRow->Add(shortcutLabel, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    shortcutText = new ShortcutCtrl(this, ID_SHORTCUT_TEXT);
    shortcutText->SetMinSize(wxSize(shortcutText->GetTextExtent("Ctrl+Alt+Shift+F12").x + 24, -1));
    shortcutText->accept = [this](const wxString& shortcut) { return AcceptShortcut(shortcut); };
    nameRow->Add(shortcutText, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);

    auto* locationRow = new wxBoxSizer(wxHORIZONTAL);
    detailColumn->Add(locationRow, 0, wxGROW | wxALL, 0);
    auto* locationLabel = new wxStaticText(this, wxID_STATIC, wxGetTranslation("Location:"),
                                           wxDefaultPosition, wxSize(70, -1));
    locationRow->Add(locationLabel, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    // Python files are offered first; every other file can still be picked.
    locationPicker = new wxFilePickerCtrl(this, ID_LOCATION_PICKER, wxEmptyString,
                                          wxGetTranslation("Choose the script's Python file"),
                                          wxGetTranslation("Python files (*.py)") + "|*.py|" +
                                              wxGetTranslation("All files (*)") + "|*",
                                          wxDefaultPosition, wxDefaultSize,
                                          wxFLP_USE_TEXTCTRL | wxFLP_OPEN | wxFLP_FILE_MUST_EXIST);
    if (wxTextCtrl* pathField = locationPicker->GetTextCtrl())
        pathField->SetMinSize(wxSize(pathField->GetTextExtent(typicalPath).x + 40, -1));
    locationRow->Add(locationPicker, 1, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    SetBrowseFolder(wxEmptyString);

    // The only row that takes extra height.
    auto* descriptionRow = new wxBoxSizer(wxHORIZONTAL);
    detailColumn->Add(descriptionRow, 1, wxGROW | wxALL, 0);
    auto* descriptionLabel = new wxStaticText(this, wxID_STATIC, wxGetTranslation("Description:"),
                                              wxDefaultPosition, wxSize(70, -1));
    descriptionRow->Add(descriptionLabel, 0, wxALL, 5);
    descriptionText = new wxTextCtrl(this, ID_DESCRIPTION_TEXT, wxEmptyString, wxDefaultPosition,
                                     wxDefaultSize, wxTE_MULTILINE | wxTE_WORDWRAP);
    descriptionRow->Add(descriptionText, 1, wxGROW | wxALL, 5);

    // The labels share one width of at least 70 pixels, wide enough for the longest of them in
    // the current font and language, so that none is cut off; the check boxes line up with it.
    int labelWidth = 70;
    for (const wxStaticText* label : {nameLabel, locationLabel, descriptionLabel, shortcutLabel})
        labelWidth = std::max(labelWidth, label->GetBestSize().x);
    for (wxStaticText* label : {nameLabel, locationLabel, descriptionLabel, shortcutLabel})
        label->SetMinSize(wxSize(labelWidth, -1));

    // Under the name, where the fields start: two scripts may share a name, but the user should
    // know that the menu shows it twice.
    auto* warningRow = new wxBoxSizer(wxHORIZONTAL);
    detailColumn->Insert(1, warningRow, 0, wxGROW | wxALL, 0);
    warningRow->Add(labelWidth, 1, 0, wxLEFT | wxRIGHT, 5);
    nameWarning = new wxStaticText(this, wxID_ANY, wxEmptyString);
    nameWarning->SetName("nameWarning");
    nameWarning->SetForegroundColour(wxColour(0xB0, 0x30, 0x00));
    warningRow->Add(nameWarning, 1, wxLEFT | wxRIGHT, 5);

    auto* autoReloadRow = new wxBoxSizer(wxHORIZONTAL);
    detailColumn->Add(autoReloadRow, 0, wxGROW | wxALL, 0);
    autoReloadRow->Add(labelWidth, 5, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    autoReloadBox =
        new wxCheckBox(this, ID_AUTORELOAD_CHECKBOX, wxGetTranslation("Auto reload when running"));
    autoReloadBox->SetValue(false);
    autoReloadRow->Add(autoReloadBox, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);

    auto* autoRunRow = new wxBoxSizer(wxHORIZONTAL);
    detailColumn->Add(autoRunRow, 0, wxGROW | wxALL, 0);
    autoRunRow->Add(labelWidth, 5, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    autoRunBox = new wxCheckBox(this, ID_AUTORUN_CHECKBOX,
                                wxGetTranslation("Auto run when marrowpad start"));
    autoRunBox->SetValue(false);
    autoRunRow->Add(autoRunBox, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);

    auto* okRow = new wxBoxSizer(wxHORIZONTAL);
    topSizer->Add(okRow, 0, wxGROW | wxALL, 2);
    okRow->Add(5, 5, 1, wxALIGN_CENTER_VERTICAL | wxALL, 5); // pushes OK to the right edge
    auto* okButton = new wxButton(this, wxID_OK, wxGetTranslation("OK"));
    okButton->SetDefault();
    okRow->Add(okButton, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
}

void ManagePythonScript::FillNameList() {
    if (!scriptList)
        return;
    // Row i stands for entry i: no client data, the row number is the list index. A script
    // without a name is listed under its file's name.
    for (unsigned i = 0; i < scriptList->GetCount(); ++i)
        nameListBox->Append(ShownScriptName(*scriptList->Get(i)));
}

void ManagePythonScript::UpdateEnabling() {
    // Without a selected script there is nothing to edit, delete or load.
    const bool selected = nameListBox->GetSelection() != wxNOT_FOUND;
    for (wxWindow* control : std::initializer_list<wxWindow*>{
             nameText, shortcutText, locationPicker, descriptionText, autoReloadBox, autoRunBox,
             FindWindow(ID_DELETE_BUTTON), FindWindow(ID_LOAD_BUTTON)})
        if (control)
            control->Enable(selected);
}

void ManagePythonScript::ShowLocation(const wxString& location) {
    // A long path shows its end, the file's name; the whole of it is in the tool tip.
    locationPicker->SetToolTip(location);
    if (wxTextCtrl* pathField = locationPicker->GetTextCtrl()) {
        pathField->SetToolTip(location);
        pathField->SetInsertionPointEnd();
    }
}

void ManagePythonScript::UpdateRow() {
    const int row = nameListBox->GetSelection();
    if (const ScriptEntry* entry = CurrentEntry())
        nameListBox->SetString(static_cast<unsigned>(row), ShownScriptName(*entry));
}

void ManagePythonScript::UpdateNameWarning() {
    wxString warning;
    const ScriptEntry* entry = CurrentEntry();
    const wxString name = entry ? entry->name.Strip(wxString::both) : wxString();
    for (unsigned i = 0; !name.empty() && scriptList && i < scriptList->GetCount(); ++i) {
        const ScriptEntry* other = scriptList->Get(i);
        if (other && other != entry && other->name.Strip(wxString::both) == name) {
            warning = wxString::Format(wxGetTranslation("Another script is named \"%s\": the "
                                                        "menu will show both."),
                                       name);
            break;
        }
    }
    if (nameWarning->GetLabel() != warning) {
        nameWarning->SetLabel(warning);
        nameWarning->SetToolTip(warning);
    }
}

ScriptEntry* ManagePythonScript::CurrentEntry() const {
    const int selection = nameListBox->GetSelection();
    if (selection == wxNOT_FOUND || !scriptList)
        return nullptr;
    return scriptList->Get(static_cast<unsigned>(selection));
}

// The detail controls are set without raising their change events, so showing an entry never
// counts as an edit.
void ManagePythonScript::ShowEntry(const ScriptEntry& entry) {
    autoRunBox->SetValue(entry.autoRun);
    autoReloadBox->SetValue(entry.autoReload);
    nameText->ChangeValue(entry.name);
    locationPicker->SetPath(entry.location);
    ShowLocation(entry.location);
    FitWrapping(entry.description);
    descriptionText->ChangeValue(entry.description);
    shortcutText->ChangeValue(entry.shortcut);
    SetBrowseFolder(entry.location);
    UpdateNameWarning();
}

// The toolkit's own choice (wrapping at words, else anywhere) measures what is left of a word
// again at every break: a word of 100,000 characters takes it minutes. So the description wraps
// at words alone, and one with a word wider than the field is not wrapped at all: it scrolls
// sideways, so that the whole of the word can be seen.
void ManagePythonScript::FitWrapping(const wxString& description) {
    const int width = descriptionText->GetClientSize().x;
    const int perCharacter = descriptionText->GetCharWidth();
    const size_t fits =
        width > 0 && perCharacter > 0 ? static_cast<size_t>(width / perCharacter) : 40;
    const long wrapping = wxTE_CHARWRAP | wxTE_WORDWRAP | wxTE_DONTWRAP;
    const long wanted = HasWordLongerThan(description, fits) ? wxTE_DONTWRAP : wxTE_WORDWRAP;
    const long style = descriptionText->GetWindowStyleFlag();
    if ((style & wrapping) != wanted)
        descriptionText->SetWindowStyleFlag((style & ~wrapping) | wanted);
}

void ManagePythonScript::ClearDetails() {
    autoRunBox->SetValue(false);
    autoReloadBox->SetValue(false);
    nameText->ChangeValue(wxEmptyString);
    locationPicker->SetPath(wxEmptyString);
    ShowLocation(wxEmptyString);
    descriptionText->ChangeValue(wxEmptyString);
    shortcutText->ChangeValue(wxEmptyString);
    SetBrowseFolder(wxEmptyString);
    nameWarning->SetLabel(wxEmptyString);
}

void ManagePythonScript::SetBrowseFolder(const wxString& location) {
    wxString folder =
        location.empty() ? wxString() : wxFileName(ResolveScriptLocation(location)).GetPath();
    if (folder.empty() || !wxDirExists(folder))
        folder = ScriptsFolderPath();
    locationPicker->SetInitialDirectory(wxDirExists(folder) ? folder : wxString());
}

void ManagePythonScript::OnNameListSelected(wxCommandEvent& event) {
    const int selection = nameListBox->GetSelection();
    event.Skip();
    if (selection == shownIndex)
        return; // keeps what the user has typed

    if (selection == wxNOT_FOUND) {
        ClearDetails();
    } else if (const ScriptEntry* entry = CurrentEntry()) {
        ShowEntry(*entry);
    } else {
        ClearDetails();
        ShowMessage("Can't find the info of this script!");
    }
    shownIndex = selection;
    UpdateEnabling();
}

void ManagePythonScript::OnAddClicked(wxCommandEvent&) {
    auto* entry = new ScriptEntry;
    entry->autoRun = false;
    entry->name = "PyScript";
    entry->location = wxEmptyString;
    entry->description = "python script";
    if (!scriptList || !scriptList->Add(entry)) {
        delete entry; // the full list refused it: still ours
        if (scriptList)
            ShowMessage("Out of the range! It should be less than MaxScriptNum.");
        return;
    }
    const int row = nameListBox->Append(entry->name);
    scriptList->modified = true;
    nameListBox->SetSelection(row);
    ShowEntry(*entry);
    shownIndex = row;
    UpdateEnabling();
    // The new script's name is the first thing to change.
    nameText->SetFocus();
    nameText->SelectAll();
}

void ManagePythonScript::OnDeleteClicked(wxCommandEvent& event) {
    int selection = nameListBox->GetSelection();
    if (selection == wxNOT_FOUND || !scriptList)
        return;
    // Changes apply at once and there is no undo: one slip must not lose a script.
    const ScriptEntry* doomed = CurrentEntry();
    const wxString name = doomed ? ShownScriptName(*doomed)
                                 : nameListBox->GetString(static_cast<unsigned>(selection));
    if (wxMessageBox(wxString::Format(wxGetTranslation("Delete the script \"%s\"?\nIts menu item "
                                                       "and its shortcut go with it; its file "
                                                       "stays."),
                                      name),
                     wxGetTranslation("Python Script Management"),
                     wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION, this) != wxYES)
        return;

    nameListBox->Delete(static_cast<unsigned>(selection));
    if (const ScriptEntry* entry = scriptList->Get(static_cast<unsigned>(selection)))
        deletedIds.push_back(entry->menuId); // its item keeps its shortcut until the rebuild
    scriptList->Remove(static_cast<unsigned>(selection));
    scriptList->modified = true;
    shownIndex = -1;

    // The row that took the deleted one's place, or the new last row, is selected and shown.
    if (selection >= static_cast<int>(nameListBox->GetCount()))
        --selection;
    if (selection >= 0) {
        nameListBox->SetSelection(selection);
        OnNameListSelected(event);
    } else {
        ClearDetails(); // nothing left to show
    }
    UpdateEnabling();
}

void ManagePythonScript::OnLoadClicked(wxCommandEvent&) {
    if (nameListBox->GetSelection() == wxNOT_FOUND) {
        ShowMessage("No script be selected!");
        return;
    }
    const ScriptEntry* entry = CurrentEntry();
    if (!entry) {
        ShowMessage("Can't find the info of this script!");
        return;
    }

    // The editor opens the file in one of its views; the dialog stays open meanwhile.
    wxCommandEvent open(wxEVT_EDITOR_OPEN, 0);
    open.SetString(ResolveScriptLocation(entry->location));
    open.SetInt(-1);
    // Through the frame's handler chain, as the toolkit delivers window events.
    if (wxFrame* frame = CAppManagement::Get()->GetAppWindow())
        frame->ProcessWindowEvent(open);
}

void ManagePythonScript::OnNameUpdated(wxCommandEvent& event) {
    if (ScriptEntry* entry = CurrentEntry()) {
        entry->name = nameText->GetValue();
        // The row follows every keystroke.
        UpdateRow();
        UpdateNameWarning();
        scriptList->modified = true;
    }
    event.Skip();
}

void ManagePythonScript::OnLocationChanged(wxFileDirPickerEvent& event) {
    if (ScriptEntry* entry = CurrentEntry()) {
        entry->location = locationPicker->GetPath();
        UpdateRow(); // a script without a name is listed under its file's name
        scriptList->modified = true;
    }
    ShowLocation(locationPicker->GetPath());
    SetBrowseFolder(locationPicker->GetPath());
    event.Skip();
}

void ManagePythonScript::OnDescriptionUpdated(wxCommandEvent& event) {
    if (ScriptEntry* entry = CurrentEntry()) {
        entry->description = descriptionText->GetValue();
        FitWrapping(entry->description); // a long word pasted in
        scriptList->modified = true;
    }
    event.Skip();
}

void ManagePythonScript::OnAutoReloadClicked(wxCommandEvent& event) {
    if (ScriptEntry* entry = CurrentEntry()) {
        entry->autoReload = autoReloadBox->GetValue();
        scriptList->modified = true;
    }
    event.Skip();
}

void ManagePythonScript::OnAutoRunClicked(wxCommandEvent& event) {
    if (ScriptEntry* entry = CurrentEntry()) {
        entry->autoRun = autoRunBox->GetValue();
        scriptList->modified = true;
    }
    event.Skip();
}

void ManagePythonScript::OnShortcutUpdated(wxCommandEvent& event) {
    if (ScriptEntry* entry = CurrentEntry()) {
        entry->shortcut = shortcutText->GetValue();
        scriptList->modified = true;
    }
    event.Skip();
}

bool ManagePythonScript::AcceptShortcut(const wxString& shortcut) {
    const ScriptEntry* current = CurrentEntry();
    if (shortcut.empty() || !current || !scriptList)
        return true; // clearing is always allowed; without a script nothing is stored
    wxString holder;
    for (unsigned i = 0; holder.empty() && i < scriptList->GetCount(); ++i) {
        const ScriptEntry* other = scriptList->Get(i);
        if (other && other != current && NormalizedShortcut(other->shortcut) == shortcut)
            holder = wxString::Format(wxGetTranslation("the script \"%s\""), other->name);
    }
    if (holder.empty()) {
        // The scripts' own items are judged by the list above, as it is now.
        const auto isScriptItem = [this](int id) {
            for (unsigned i = 0; i < scriptList->GetCount(); ++i)
                if (scriptList->Get(i) && scriptList->Get(i)->menuId == id)
                    return true;
            return std::find(deletedIds.begin(), deletedIds.end(), id) != deletedIds.end();
        };
        const wxFrame* frame = CAppManagement::Get()->GetAppWindow();
        holder = ShortcutHolder(frame ? frame->GetMenuBar() : nullptr, shortcut, isScriptItem);
    }
    if (holder.empty())
        return true;
    wxMessageBox(
        wxString::Format(wxGetTranslation("%s is already the shortcut of %s."), shortcut, holder),
        wxGetTranslation("Python Script Management"), wxOK | wxICON_INFORMATION);
    return false;
}

// The table stays as written: the macros end without semicolons.
// clang-format off
wxBEGIN_EVENT_TABLE(ManagePythonScript, wxDialog)
    EVT_LISTBOX(ID_NAME_LISTBOX, ManagePythonScript::OnNameListSelected)
    EVT_BUTTON(ID_ADD_BUTTON, ManagePythonScript::OnAddClicked)
    EVT_BUTTON(ID_DELETE_BUTTON, ManagePythonScript::OnDeleteClicked)
    EVT_BUTTON(ID_LOAD_BUTTON, ManagePythonScript::OnLoadClicked)
    EVT_TEXT(ID_NAME_TEXT, ManagePythonScript::OnNameUpdated)
    EVT_FILEPICKER_CHANGED(ID_LOCATION_PICKER, ManagePythonScript::OnLocationChanged)
    EVT_TEXT(ID_DESCRIPTION_TEXT, ManagePythonScript::OnDescriptionUpdated)
    EVT_CHECKBOX(ID_AUTORELOAD_CHECKBOX, ManagePythonScript::OnAutoReloadClicked)
    EVT_CHECKBOX(ID_AUTORUN_CHECKBOX, ManagePythonScript::OnAutoRunClicked)
    EVT_TEXT(ID_SHORTCUT_TEXT, ManagePythonScript::OnShortcutUpdated)
wxEND_EVENT_TABLE()
