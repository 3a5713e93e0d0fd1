// The registry's life: the one script list, read from the settings file "Coilhatch.xml" in the
// plug-ins folder when the plug-in is attached and written back when it is released.
//
// No script section present in the file is lost by a load and a save: the sections that exist
// are loaded in the order of their numbers (however large), whatever "Counts" says, and a file
// that disagrees with itself (a wrong or unreadable "Counts", gaps in the numbers, a number used
// twice or written with leading zeros, anything else beside the sections, more scripts than fit,
// an unreadable flag) or cannot be parsed is kept as a backup before the save replaces it; the
// user is told where. A damaged file (a stray byte, a truncated tail) gives every section read
// whole before the damage.
//
// Two editors may share the file: every save first reads it again and keeps what another editor
// saved since this one read it (scripts added there stay, changes made there to scripts this one
// left alone are taken over); where both changed one script, this later save wins and the file
// as the other editor left it is kept as a backup, with a message.
#pragma once

#include <wx/arrstr.h>
#include <wx/string.h>

#include <cstdint>
#include <vector>

struct ScriptEntry;
struct ScriptList;

class ScriptRegistry {
public:
    // Touches no list: the list's life is Open to Close.
    ScriptRegistry() = default;

    ScriptRegistry(const ScriptRegistry&) = delete;
    ScriptRegistry& operator=(const ScriptRegistry&) = delete;

    // Creates the plug-in's script list (unless one exists) and fills it from the settings file
    // at that path.
    void Open(const wxString& path);
    // Writes the whole list to the settings file, whether or not it changed, and destroys it.
    // Does nothing when no list is open.
    void Close();
    // Saves the list when it differs from what this editor last read or wrote (the management
    // dialog changed it).
    void SaveChanges();

    // The list to and from the settings file. Both do nothing while no list exists. A save that
    // fails is told to the user in a message box naming the file and the reason.
    void Load();
    void Save();

    wxString settingsPath;               // full path of the settings file
    ScriptEntry* currentEntry = nullptr; // the entry Load or Save is working on; null between them

    // What the settings file stores of one script.
    struct Fields {
        bool autoRun = false;
        bool autoReload = false;
        wxString name;
        wxString location;
        wxString description;
        wxString shortcut;
        bool operator==(const Fields& other) const;
        bool operator!=(const Fields& other) const { return !(*this == other); }
    };

private:
    // A script as this editor last read or wrote it, and the entry it became (menuId 0: none).
    struct Known {
        std::int32_t menuId;
        Fields fields;
    };

    // Takes over what another editor saved since `base` was read; false when the file is as
    // this editor left it. `conflicts` names the scripts that both changed, `overflow` counts
    // the scripts added there that did not fit.
    bool Merge(const std::vector<Fields>& theirs, wxArrayString& conflicts, unsigned& overflow);
    void RememberList();

    bool backupDue = false;  // the last load found the file inconsistent: keep it at the next save
    std::vector<Known> base; // the scripts of the file as this editor last read or wrote it
    bool baseRead = false;   // `base` holds what a load read: saves merge from then on
};
