// The registered scripts: one ScriptEntry per script, held in the user's order by the one
// plug-in-wide ScriptList.
#pragma once

#include <wx/string.h>

#include <cstdint>

struct ScriptEntry {
    ScriptEntry(); // draws a fresh menuId
    ~ScriptEntry();

    ScriptEntry(const ScriptEntry&) = delete;
    ScriptEntry& operator=(const ScriptEntry&) = delete;

    bool autoRun = false;    // run once when the Python Script submenu is first built
    bool autoReload = false; // reload the module on every run from the menu
    wxString name;
    wxString location;
    wxString description;
    wxString shortcut;   // the key combination that runs it, as "Ctrl+Alt+1"; empty for none
    std::int32_t menuId; // never stored; every construction draws a new one
};

// The list holds at most MaxScriptNum entries and owns every entry it holds.
constexpr unsigned MaxScriptNum = 31;

struct ScriptList {
    ScriptList();
    ~ScriptList();

    ScriptList(const ScriptList&) = delete;
    ScriptList& operator=(const ScriptList&) = delete;

    // Appends the entry and takes ownership of it; false (the caller keeps the entry) when full.
    bool Add(ScriptEntry* entry);
    // The entry at that index, or null when the index is not below the count. The list keeps
    // ownership.
    ScriptEntry* Get(unsigned index) const;
    unsigned GetCount() const { return count; }
    // Deletes the entry at that index and closes the gap; false when out of range.
    bool Remove(unsigned index);
    void DeleteAll();

    bool modified = false; // set by the management dialog; nothing here touches it
    unsigned count = 0;
    ScriptEntry* entries[MaxScriptNum] = {};
};

// The one list of the plug-in: null until the plug-in is attached with Python running.
extern ScriptList* scriptList;

// The folder of the settings file; a script's relative location is read from there, so that a
// plug-ins folder with its scripts inside can move. Empty until the list is opened.
extern wxString scriptSettingsFolder;
// The file a location names: an absolute one as it is, a relative one in scriptSettingsFolder.
wxString ResolveScriptLocation(const wxString& location);

// What the user sees a script called: its name, or for a script without one its file's name
// without extension, or "(unnamed)" when it has no location either.
wxString ShownScriptName(const ScriptEntry& entry);
