#include "registry/ScriptsFolder.h"

#include "plugin/EditorServices.h"
#include "registry/ScriptList.h"

#include <wx/dir.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/log.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

wxString ScriptsFolderPath() {
    wxFileName folder =
        wxFileName::DirName(CNameService::Get()->GetNameItem("PluginsPath")->GetAttribute(0));
    folder.AppendDir("python");
    folder.AppendDir("scripts");
    return folder.GetPath();
}

bool MakeScriptsFolder(const wxString& folder, wxString* error) {
    if (wxDirExists(folder))
        return true;
    // The toolkit would log its own complaint; the caller tells the user in its own words.
    const wxLogNull quiet;
    errno = 0;
    if (wxFileName::Mkdir(folder, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL) && wxDirExists(folder))
        return true;
    if (error)
        *error = errno != 0 ? wxString(std::strerror(errno)) : wxString("it could not be made");
    return false;
}

bool SameScriptFile(const wxString& a, const wxString& b) {
    if (a.empty() || b.empty())
        return false;
    // A relative location is read where the runner reads it: in the settings file's folder.
    wxFileName first(ResolveScriptLocation(a));
    wxFileName second(ResolveScriptLocation(b));
    first.MakeAbsolute();
    second.MakeAbsolute();
    return first.SameAs(second);
}

std::vector<FolderScript> ListFolderScripts(const wxString& folder, const ScriptList* registered) {
    std::vector<FolderScript> scripts;
    if (!wxDirExists(folder))
        return scripts;
    const wxLogNull quiet; // an unreadable folder holds no scripts
    wxDir dir(folder);
    if (!dir.IsOpened())
        return scripts;
    wxString name;
    // wxDIR_FILES without wxDIR_HIDDEN: editors' lock and backup files (".#x.py") stay out.
    for (bool more = dir.GetFirst(&name, "*.py", wxDIR_FILES); more; more = dir.GetNext(&name)) {
        if (!name.EndsWith(".py") || name.length() <= 3)
            continue;
        const wxString path = wxFileName(folder, name).GetFullPath();
        bool isRegistered = false;
        for (unsigned i = 0; registered && i < registered->GetCount() && !isRegistered; ++i) {
            const ScriptEntry* entry = registered->Get(i);
            isRegistered = entry && SameScriptFile(entry->location, path);
        }
        if (!isRegistered)
            scripts.push_back(FolderScript{name.Left(name.length() - 3), path});
    }
    std::sort(scripts.begin(), scripts.end(), [](const FolderScript& a, const FolderScript& b) {
        const int caseless = a.label.CmpNoCase(b.label);
        return caseless != 0 ? caseless < 0 : a.label.Cmp(b.label) < 0;
    });
    return scripts;
}
