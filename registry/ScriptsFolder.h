// The scripts folder: "python/scripts" in the plug-ins folder. Every "*.py" file in it is a
// script of its own, run from the Python Script submenu without being registered.
#pragma once

#include <wx/string.h>

#include <vector>

struct ScriptList;

// One file of the scripts folder.
struct FolderScript {
    wxString label; // the file's name without ".py"
    wxString path;  // its full path
};

// The scripts folder of the editor's plug-ins folder (the "PluginsPath" item).
wxString ScriptsFolderPath();

// Makes the folder (and the folders above it) when it is missing. False, with the system's
// reason in `error`, when it cannot be made.
bool MakeScriptsFolder(const wxString& folder, wxString* error = nullptr);

// The "*.py" files of the folder, sorted by name (letter case second), without hidden files and
// without the files that are registered in `registered` (null: none is). A missing folder holds
// none.
std::vector<FolderScript> ListFolderScripts(const wxString& folder, const ScriptList* registered);

// Whether the two locations name the same file (a relative one read as ResolveScriptLocation
// reads it).
bool SameScriptFile(const wxString& a, const wxString& b);
