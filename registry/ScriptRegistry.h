// The registry's life: the one script list, read from the settings file "Coilhatch.xml" in the
// plug-ins folder when the plug-in is attached and written back when it is released.
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

    // The list to and from the settings file. Both do nothing while no list exists.
    void Load();
    void Save();

    wxString settingsPath;               // full path of the settings file
    ScriptEntry* currentEntry = nullptr; // the entry Load or Save is working on; null between them
};
