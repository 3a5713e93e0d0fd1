// The registry's life: the one script list, read from the settings file "Coilhatch.xml" in the
// plug-ins folder when the plug-in is attached and written back when it is released.
//
// No script section present in the file is lost by a load and a save: the sections that exist
// are loaded in the order of their numbers (however large), whatever "Counts" says, and a file
// that disagrees with itself (a wrong or unreadable "Counts", gaps in the numbers, a number used
// twice or written with leading zeros, anything else beside the sections, more scripts than fit,
// an unreadable flag) or cannot be parsed is kept as a backup before the save replaces it; the
// user is told where.
#pragma once

#include <wx/string.h>

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

    // The list to and from the settings file. Both do nothing while no list exists. A save that
    // fails is told to the user in a message box naming the file and the reason.
    void Load();
    void Save();

    wxString settingsPath;               // full path of the settings file
    ScriptEntry* currentEntry = nullptr; // the entry Load or Save is working on; null between them

private:
    bool backupDue = false; // the last load found the file inconsistent: keep it at the next save
};
