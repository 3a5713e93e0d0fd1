#include "registry/ScriptList.h"

#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/utils.h>

ScriptList* scriptList = nullptr;
wxString scriptSettingsFolder;

wxString ResolveScriptLocation(const wxString& location) {
    if (location.empty() || scriptSettingsFolder.empty() || wxFileName(location).IsAbsolute())
        return location;
    return scriptSettingsFolder + wxFILE_SEP_PATH + location;
}

wxString ShownScriptName(const ScriptEntry& entry) {
    if (!entry.name.empty())
        return entry.name;
    const wxString file = wxFileName(entry.location).GetName();
    return file.empty() ? wxGetTranslation("(unnamed)") : file;
}

ScriptEntry::ScriptEntry() : menuId(wxNewId()) {}

ScriptEntry::~ScriptEntry() = default;

ScriptList::ScriptList() = default;

ScriptList::~ScriptList() {
    DeleteAll();
}

bool ScriptList::Add(ScriptEntry* entry) {
    if (count >= MaxScriptNum)
        return false;
    entries[count] = entry;
    ++count;
    return true;
}

ScriptEntry* ScriptList::Get(unsigned index) const {
    // Unsigned on purpose: a list control's "no selection" (-1) lands far beyond the count.
    if (index >= count)
        return nullptr;
    return entries[index];
}

bool ScriptList::Remove(unsigned index) {
    if (index >= count)
        return false;
    delete entries[index];
    for (unsigned i = index; i + 1 < count; ++i)
        entries[i] = entries[i + 1];
    --count;
    entries[count] = nullptr;
    return true;
}

void ScriptList::DeleteAll() {
    for (unsigned i = 0; i < count; ++i) {
        delete entries[i];
        entries[i] = nullptr;
    }
    count = 0;
}
