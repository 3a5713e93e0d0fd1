// The script list to and from the settings file "Coilhatch.xml" in the plug-ins folder.
#include "registry/ScriptRegistry.h"

#include "host/lib/Services.h"
#include "registry/ScriptList.h"

#include <wx/intl.h>
#include <wx/msgdlg.h>

#include <algorithm>

namespace {

const char* const countsKey = "/Coilhatch/Counts";

wxString SectionPrefix(unsigned index) {
    return wxString::Format("/Coilhatch/Script%u", index);
}

// A value present in the file that its type cannot read (the store then gives the default).
bool Unreadable(const CConfigManagement& config, const wxString& key, bool isInt) {
    if (!config.HasKey(key))
        return false;
    if (isInt)
        return config.ReadInt(key, 0) != config.ReadInt(key, 1);
    return config.ReadBool(key, false) != config.ReadBool(key, true);
}

wxString Joined(const wxArrayString& parts) {
    wxString text;
    for (const wxString& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}

} // namespace

void ScriptRegistry::Open(const wxString& path) {
    settingsPath = path;
    if (!scriptList)
        scriptList = new ScriptList;
    Load();
}

void ScriptRegistry::Close() {
    if (!scriptList)
        return;
    Save();
    delete scriptList;
    scriptList = nullptr;
}

void ScriptRegistry::Load() {
    if (!scriptList)
        return;

    CConfigManagement config(settingsPath);
    // Whatever the file says it holds, every section in it is loaded: a wrong count must never
    // cost the user scripts. Where the file disagrees with itself it is kept as a backup.
    wxArrayString disagreements;
    const bool countsPresent = config.HasKey(countsKey);
    const bool countsReadable = countsPresent && !Unreadable(config, countsKey, true);
    const long long counts = countsReadable ? config.ReadInt(countsKey, 0) : 0;
    if (countsPresent && !countsReadable)
        disagreements.push_back(wxGetTranslation("\"Counts\" is not a number"));

    unsigned found = 0;
    bool numbered = true; // the sections found are 0, 1, 2 ... without gaps
    bool overflow = false;
    long long searchEnd = std::max<long long>(counts, SectionGap);
    for (unsigned i = 0; i < SectionSearchLimit && i < searchEnd; ++i) {
        const wxString prefix = SectionPrefix(i);
        if (!config.HasKey(prefix))
            continue;
        searchEnd = std::max<long long>(searchEnd, i + 1ll + SectionGap);
        numbered = numbered && i == found;
        ++found;
        if (scriptList->GetCount() >= MaxScriptNum) {
            // The user hears about the overflow once, however many sections are left.
            wxMessageBox(wxGetTranslation("Out of the range! It should be less than MaxScriptNum."),
                         wxMessageBoxCaptionStr, wxOK | wxCENTRE);
            overflow = true;
            break;
        }
        for (const char* flag : {"/autoRun", "/autoReload"}) {
            if (Unreadable(config, prefix + flag, false))
                disagreements.push_back(wxString::Format(
                    wxGetTranslation("\"%s\" of section %u is neither 1 nor 0"), flag + 1, i));
        }
        currentEntry = new ScriptEntry;
        currentEntry->autoRun = config.ReadBool(prefix + "/autoRun", false);
        currentEntry->autoReload = config.ReadBool(prefix + "/autoReload", false);
        currentEntry->name = config.Read(prefix + "/name", wxString());
        currentEntry->location = config.Read(prefix + "/location", wxString());
        currentEntry->description = config.Read(prefix + "/description", wxString());
        if (!scriptList->Add(currentEntry))
            delete currentEntry; // refused: still ours (cannot happen: the count was checked)
        currentEntry = nullptr;
    }

    if (overflow)
        disagreements.push_back(
            wxString::Format(wxGetTranslation("it holds more than %u scripts"), MaxScriptNum));
    else if (found > 0 && !countsPresent)
        disagreements.push_back(wxGetTranslation("\"Counts\" is missing"));
    else if (countsReadable && counts != found)
        disagreements.push_back(wxString::Format(
            wxGetTranslation("\"Counts\" says %lld, but %u script sections were found"), counts,
            found));
    if (!numbered && !overflow)
        disagreements.push_back(
            wxGetTranslation("the sections are not numbered from 0 without gaps"));

    // A file the store could not parse is already due for a backup; one that disagrees with
    // itself is made due here, and at the save (a new store object) again.
    const bool damaged = !config.GetBackupPath().empty();
    if (!disagreements.empty())
        config.KeepBackupOnSave();
    backupDue = damaged || !disagreements.empty();
    if (!backupDue)
        return;
    const wxString text =
        damaged ? wxString::Format(wxGetTranslation("The script settings file \"%s\" is damaged: "
                                                    "no script could be read from it."),
                                   settingsPath)
                : wxString::Format(wxGetTranslation("The script settings file \"%s\" does not "
                                                    "agree with itself: %s. Every script found "
                                                    "in it has been loaded."),
                                   settingsPath, Joined(disagreements));
    wxMessageBox(text + "\n" +
                     wxString::Format(wxGetTranslation("The file as it is now will be kept as "
                                                       "\"%s\" before the settings are saved."),
                                      config.GetBackupPath()),
                 wxMessageBoxCaptionStr, wxOK | wxICON_WARNING);
}

void ScriptRegistry::Save() {
    if (!scriptList)
        return;

    CConfigManagement config(settingsPath);
    if (backupDue)
        config.KeepBackupOnSave();
    config.Clear();
    const unsigned count = scriptList->GetCount();
    config.Write(countsKey, static_cast<int>(count));
    for (unsigned i = 0; i < count; ++i) {
        const wxString prefix = SectionPrefix(i);
        currentEntry = scriptList->Get(i);
        config.Write(prefix + "/autoRun", currentEntry->autoRun);
        config.Write(prefix + "/autoReload", currentEntry->autoReload);
        config.Write(prefix + "/name", currentEntry->name, false);
        config.Write(prefix + "/location", currentEntry->location, false);
        config.Write(prefix + "/description", currentEntry->description, false);
    }
    currentEntry = nullptr;
    if (config.Save()) {
        backupDue = false; // the original is in its backup now
        return;
    }
    // The scripts registered in this run would silently be gone at the next start.
    wxMessageBox(wxString::Format(wxGetTranslation("The Python scripts could not be saved; "
                                                   "changes made since the editor started will "
                                                   "be lost.\n%s"),
                                  config.GetLastError()),
                 wxMessageBoxCaptionStr, wxOK | wxICON_ERROR);
}
