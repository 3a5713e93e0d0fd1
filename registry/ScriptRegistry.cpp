// The script list to and from the settings file "Coilhatch.xml" in the plug-ins folder.
#include "registry/ScriptRegistry.h"

#include "host/lib/Services.h"
#include "registry/ScriptList.h"

#include <wx/intl.h>
#include <wx/msgdlg.h>

#include <algorithm>
#include <vector>

namespace {

const char* const listKey = "/Coilhatch";
const char* const countsName = "Counts";
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

// A script section found below the list's key: an element named "Script" and decimal digits.
struct Section {
    wxString number; // its digits without leading zeros ("0" for zero)
    size_t position; // among the elements below the list's key
};

// Numbers of any length compare without overflow: a longer one (without leading zeros) is
// larger.
bool NumberLess(const wxString& a, const wxString& b) {
    return a.length() != b.length() ? a.length() < b.length() : a < b;
}

// Sets `number` and `written` (the plug-in writes no leading zeros) for a section's name.
bool IsSectionName(const wxString& name, wxString& number, bool& written) {
    wxString digits;
    if (!name.StartsWith("Script", &digits) || digits.empty() ||
        !std::all_of(digits.begin(), digits.end(),
                     [](wxUniChar c) { return c >= '0' && c <= '9'; }))
        return false;
    const size_t significant = std::min(digits.find_first_not_of('0'), digits.length() - 1);
    number = digits.Mid(significant);
    written = significant == 0;
    return true;
}

wxString Joined(const wxArrayString& parts) {
    wxString text;
    for (const wxString& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}

// What the elements below the list's key hold: the sections in the order of their numbers (those
// of one number in the file's order), and what of them no file the plug-in writes has.
struct SectionScan {
    std::vector<Section> sections;
    bool numbered = true;    // the numbers are 0, 1, 2 ... without gaps
    wxString repeatedNumber; // the first number used twice
    wxString oddName;        // the first section numbered with leading zeros
    wxString foreignName;    // the first element that is neither a section nor "Counts"
    unsigned countsSeen = 0;
};

SectionScan ScanSections(const CConfigManagement& config) {
    SectionScan scan;
    const wxArrayString children = config.GetChildNames(listKey);
    for (size_t i = 0; i < children.size(); ++i) {
        wxString number;
        bool written = true;
        if (IsSectionName(children[i], number, written))
            scan.sections.push_back(Section{number, i});
        else if (children[i] == countsName)
            ++scan.countsSeen;
        else if (scan.foreignName.empty())
            scan.foreignName = children[i];
        if (!written && scan.oddName.empty())
            scan.oddName = children[i];
    }
    std::vector<Section>& sections = scan.sections;
    std::stable_sort(sections.begin(), sections.end(), [](const Section& a, const Section& b) {
        return NumberLess(a.number, b.number);
    });
    unsigned distinct = 0;
    for (size_t k = 0; k < sections.size(); ++k) {
        if (k > 0 && sections[k].number == sections[k - 1].number) {
            if (scan.repeatedNumber.empty())
                scan.repeatedNumber = sections[k].number;
            continue;
        }
        scan.numbered = scan.numbered && sections[k].number == wxString::Format("%u", distinct);
        ++distinct;
    }
    return scan;
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

    const SectionScan scan = ScanSections(config);
    const std::vector<Section>& sections = scan.sections;
    const unsigned found = static_cast<unsigned>(sections.size());

    bool overflow = false;
    for (const Section& section : sections) {
        if (scriptList->GetCount() >= MaxScriptNum) {
            // The user hears about the overflow once, however many sections are left.
            wxMessageBox(wxGetTranslation("Out of the range! It should be less than MaxScriptNum."),
                         wxMessageBoxCaptionStr, wxOK | wxCENTRE);
            overflow = true;
            break;
        }
        const wxString prefix = config.GetChildKey(listKey, section.position);
        for (const char* flag : {"/autoRun", "/autoReload"}) {
            if (Unreadable(config, prefix + flag, false))
                disagreements.push_back(
                    wxString::Format(wxGetTranslation("\"%s\" of section %s is neither 1 nor 0"),
                                     flag + 1, section.number));
        }
        currentEntry = new ScriptEntry;
        currentEntry->autoRun = config.ReadBool(prefix + "/autoRun", false);
        currentEntry->autoReload = config.ReadBool(prefix + "/autoReload", false);
        currentEntry->name = config.Read(prefix + "/name", wxString());
        currentEntry->location = config.Read(prefix + "/location", wxString());
        currentEntry->description = config.Read(prefix + "/description", wxString());
        currentEntry->shortcut = config.Read(prefix + "/shortcut", wxString());
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
    if (!scan.numbered && !overflow)
        disagreements.push_back(
            wxGetTranslation("the sections are not numbered from 0 without gaps"));
    if (!scan.repeatedNumber.empty())
        disagreements.push_back(wxString::Format(
            wxGetTranslation("more than one section is numbered %s"), scan.repeatedNumber));
    if (!scan.oddName.empty())
        disagreements.push_back(wxString::Format(
            wxGetTranslation("section \"%s\" is numbered with leading zeros"), scan.oddName));
    if (scan.countsSeen > 1)
        disagreements.push_back(wxGetTranslation("\"Counts\" is there more than once"));
    if (!scan.foreignName.empty())
        disagreements.push_back(
            wxString::Format(wxGetTranslation("\"%s\" is not a script section"), scan.foreignName));

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
        // Written only when set: a file without shortcuts stays as editors before them wrote it.
        if (!currentEntry->shortcut.empty())
            config.Write(prefix + "/shortcut", currentEntry->shortcut, false);
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
