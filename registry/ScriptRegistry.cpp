// The script list to and from the settings file "Coilhatch.xml" in the plug-ins folder.
#include "registry/ScriptRegistry.h"

#include "registry/ScriptList.h"
#include "registry/SettingsStore.h"

#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

// The caption of the messages about the settings file: the submenu where the user meets them.
wxString SettingsCaption() {
    return wxGetTranslation("Python Script");
}

const char* const listKey = "/Coilhatch";
const char* const countsName = "Counts";
const char* const countsKey = "/Coilhatch/Counts";

wxString SectionPrefix(unsigned index) {
    return wxString::Format("/Coilhatch/Script%u", index);
}

// A value present in the file that its type cannot read (the store then gives the default).
bool Unreadable(const SettingsStore& store, const wxString& key, bool isInt) {
    if (!store.HasKey(key))
        return false;
    const CConfigManagement& config = store.Config();
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

SectionScan ScanSections(const SettingsStore& store) {
    SectionScan scan;
    const wxArrayString children = store.ChildNames(listKey);
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

ScriptRegistry::Fields ReadFields(const CConfigManagement& config, const wxString& prefix) {
    ScriptRegistry::Fields fields;
    fields.autoRun = config.ReadBool(prefix + "/autoRun", false);
    fields.autoReload = config.ReadBool(prefix + "/autoReload", false);
    fields.name = config.Read(prefix + "/name", wxString());
    fields.location = config.Read(prefix + "/location", wxString());
    fields.description = config.Read(prefix + "/description", wxString());
    fields.shortcut = config.Read(prefix + "/shortcut", wxString());
    return fields;
}

ScriptRegistry::Fields FieldsOf(const ScriptEntry& entry) {
    return ScriptRegistry::Fields{entry.autoRun,  entry.autoReload,  entry.name,
                                  entry.location, entry.description, entry.shortcut};
}

// Writes one script's section, as every save does.
void WriteFields(CConfigManagement& config, unsigned index, const ScriptRegistry::Fields& fields) {
    const wxString prefix = SectionPrefix(index);
    config.Write(prefix + "/autoRun", fields.autoRun);
    config.Write(prefix + "/autoReload", fields.autoReload);
    config.Write(prefix + "/name", fields.name, false);
    config.Write(prefix + "/location", fields.location, false);
    config.Write(prefix + "/description", fields.description, false);
    // Written only when set: a file without shortcuts stays as editors before them wrote it.
    if (!fields.shortcut.empty())
        config.Write(prefix + "/shortcut", fields.shortcut, false);
}

void SetFields(ScriptEntry& entry, const ScriptRegistry::Fields& fields) {
    entry.autoRun = fields.autoRun;
    entry.autoReload = fields.autoReload;
    entry.name = fields.name;
    entry.location = fields.location;
    entry.description = fields.description;
    entry.shortcut = fields.shortcut;
}

// The sections of the file that the list would load, read whole, in the list's order: at most
// as many as the list holds.
std::vector<ScriptRegistry::Fields> ReadScripts(const SettingsStore& store) {
    std::vector<ScriptRegistry::Fields> scripts;
    for (const Section& section : ScanSections(store).sections) {
        if (scripts.size() >= MaxScriptNum)
            break;
        const wxString prefix = store.ChildKey(listKey, section.position);
        if (store.IsWhole(prefix))
            scripts.push_back(ReadFields(store.Config(), prefix));
    }
    return scripts;
}

wxString Plural(const char* one, const char* many, unsigned n) {
    return wxString::Format(wxGetTranslation(one, many, n), n);
}

wxString Quoted(const wxArrayString& names) {
    wxString text;
    for (const wxString& name : names)
        text += (text.empty() ? "\"" : ", \"") + name + "\"";
    return text;
}

} // namespace

bool ScriptRegistry::Fields::operator==(const Fields& other) const {
    return autoRun == other.autoRun && autoReload == other.autoReload && name == other.name &&
           location == other.location && description == other.description &&
           shortcut == other.shortcut;
}

void ScriptRegistry::Open(const wxString& path) {
    settingsPath = path;
    wxFileName folder(path);
    folder.MakeAbsolute();
    scriptSettingsFolder = folder.GetPath();
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
    base.clear();
    baseRead = false;
}

void ScriptRegistry::SaveChanges() {
    if (!scriptList)
        return;
    bool same = scriptList->GetCount() == base.size();
    for (unsigned i = 0; same && i < base.size(); ++i) {
        const ScriptEntry* entry = scriptList->Get(i);
        same = entry->menuId == base[i].menuId && FieldsOf(*entry) == base[i].fields;
    }
    if (!same)
        Save();
}

void ScriptRegistry::RememberList() {
    base.clear();
    for (unsigned i = 0; scriptList && i < scriptList->GetCount(); ++i)
        base.push_back(Known{scriptList->Get(i)->menuId, FieldsOf(*scriptList->Get(i))});
}

void ScriptRegistry::Load() {
    if (!scriptList)
        return;

    const SettingsStore store(settingsPath);
    const CConfigManagement& config = store.Config();
    // Whatever the file says it holds, every section in it is loaded: a wrong count must never
    // cost the user scripts. Where the file disagrees with itself it is kept as a backup.
    wxArrayString disagreements;
    const bool countsPresent = store.HasKey(countsKey);
    const bool countsReadable = countsPresent && !Unreadable(store, countsKey, true);
    const long long counts = countsReadable ? config.ReadInt(countsKey, 0) : 0;
    if (countsPresent && !countsReadable)
        disagreements.push_back(wxGetTranslation("\"Counts\" is not a number"));

    const SectionScan scan = ScanSections(store);
    const std::vector<Section>& sections = scan.sections;
    const unsigned found = static_cast<unsigned>(sections.size());

    base.clear();
    baseRead = true;
    bool overflow = false;
    unsigned loaded = 0;
    for (const Section& section : sections) {
        const wxString prefix = store.ChildKey(listKey, section.position);
        // A section that a damaged file cut short lives on in the backup alone.
        if (!store.IsWhole(prefix))
            continue;
        if (scriptList->GetCount() >= MaxScriptNum) {
            // The user hears about the overflow once, however many sections are left.
            wxMessageBox(wxGetTranslation("Out of the range! It should be less than MaxScriptNum."),
                         wxMessageBoxCaptionStr, wxOK | wxCENTRE);
            overflow = true;
            break;
        }
        for (const char* flag : {"/autoRun", "/autoReload"}) {
            if (Unreadable(store, prefix + flag, false))
                disagreements.push_back(
                    wxString::Format(wxGetTranslation("\"%s\" of section %s is neither 1 nor 0"),
                                     flag + 1, section.number));
        }
        currentEntry = new ScriptEntry;
        SetFields(*currentEntry, ReadFields(config, prefix));
        if (!scriptList->Add(currentEntry)) {
            delete currentEntry; // refused: still ours (cannot happen: the count was checked)
        } else {
            base.push_back(Known{currentEntry->menuId, FieldsOf(*currentEntry)});
            ++loaded;
        }
        currentEntry = nullptr;
    }

    if (overflow)
        disagreements.push_back(
            wxString::Format(wxGetTranslation("it holds more than %u scripts"), MaxScriptNum));
    else if (found > 0 && !countsPresent)
        disagreements.push_back(wxGetTranslation("\"Counts\" is missing"));
    else if (countsReadable && counts != found)
        disagreements.push_back(wxString::Format(
            wxGetTranslation("\"Counts\" says %lld, but %u script section was found",
                             "\"Counts\" says %lld, but %u script sections were found", found),
            counts, found));
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

    // Without the store's word on what the file holds, what was read from it is tried against
    // it: anything else in it is kept aside before the first save replaces it.
    if (disagreements.empty() && !overflow && !store.Extended() &&
        !store.HoldsOnly([this](CConfigManagement& written) {
            written.Write(countsKey, static_cast<int>(base.size()));
            for (unsigned i = 0; i < base.size(); ++i)
                WriteFields(written, i, base[i].fields);
        }))
        disagreements.push_back(wxGetTranslation("it holds more than the scripts read from it"));

    // A file the store could not read whole the store keeps itself; one that disagrees with
    // itself is copied aside by the first save.
    const bool damaged = store.IsDamaged();
    const wxString keptAt = damaged ? store.DamagedFileCopy() : FreeCopyName(settingsPath);
    backupDue = !damaged && !disagreements.empty();
    if (!damaged && disagreements.empty())
        return;
    wxString text;
    if (damaged && loaded == 0)
        text = wxString::Format(wxGetTranslation("The script settings file \"%s\" is damaged: "
                                                 "no script could be read from it."),
                                settingsPath);
    else if (damaged)
        text = wxString::Format(wxGetTranslation("The script settings file \"%s\" is damaged."),
                                settingsPath) +
               " " +
               Plural("%u script read whole before the damage has been loaded.",
                      "%u scripts read whole before the damage have been loaded.", loaded);
    else
        text = wxString::Format(wxGetTranslation("The script settings file \"%s\" does not "
                                                 "agree with itself: %s."),
                                settingsPath, Joined(disagreements));
    if (overflow)
        text += " " + wxString::Format(wxGetTranslation("%u of its %u scripts have been loaded; "
                                                        "the other %u are only in the backup."),
                                       loaded, found, found - loaded);
    else if (!damaged)
        text += " " + wxGetTranslation("Every script found in it has been loaded.");
    wxMessageBox(text + "\n" +
                     wxString::Format(wxGetTranslation("The file as it is now will be kept as "
                                                       "\"%s\" before the settings are saved."),
                                      keptAt),
                 SettingsCaption(), wxOK | wxICON_WARNING);
}

bool ScriptRegistry::Merge(const std::vector<Fields>& theirs, wxArrayString& conflicts,
                           unsigned& overflow) {
    bool unchanged = theirs.size() == base.size();
    for (size_t i = 0; unchanged && i < base.size(); ++i)
        unchanged = theirs[i] == base[i].fields;
    if (unchanged)
        return false;

    // Which script of the file now each script of the file as read became: the same script
    // unchanged, else one of the same name, else one of the same location.
    std::vector<int> theirOf(base.size(), -1);
    std::vector<bool> matched(theirs.size(), false);
    const std::function<bool(const Fields&, const Fields&)> sameness[] = {
        [](const Fields& a, const Fields& b) { return a == b; },
        [](const Fields& a, const Fields& b) { return a.name == b.name; },
        [](const Fields& a, const Fields& b) { return a.location == b.location; }};
    for (const auto& same : sameness) {
        for (size_t b = 0; b < base.size(); ++b) {
            for (size_t t = 0; theirOf[b] < 0 && t < theirs.size(); ++t) {
                if (!matched[t] && same(base[b].fields, theirs[t])) {
                    theirOf[b] = static_cast<int>(t);
                    matched[t] = true;
                }
            }
        }
    }

    for (size_t b = 0; b < base.size(); ++b) {
        const Known& known = base[b];
        const Fields* their = theirOf[b] >= 0 ? &theirs[static_cast<size_t>(theirOf[b])] : nullptr;
        const bool theyChanged = !their || *their != known.fields;
        if (!theyChanged)
            continue;
        unsigned index = 0;
        while (index < scriptList->GetCount() && scriptList->Get(index)->menuId != known.menuId)
            ++index;
        ScriptEntry* mine = scriptList->Get(index); // null: deleted here
        const bool iChanged = !mine || FieldsOf(*mine) != known.fields;
        if (!iChanged) {
            // Changed or deleted there alone: that is what stays.
            if (their)
                SetFields(*mine, *their);
            else
                scriptList->Remove(index);
            scriptList->modified = true;
        } else if (!mine ? their != nullptr : !their || FieldsOf(*mine) != *their) {
            // Changed on both sides: this later save wins; the other version is in the backup.
            conflicts.push_back(known.fields.name);
        }
    }
    // Scripts added there are added here too, as far as the list has room.
    for (size_t t = 0; t < theirs.size(); ++t) {
        if (matched[t])
            continue;
        auto* entry = new ScriptEntry;
        SetFields(*entry, theirs[t]);
        if (scriptList->Add(entry)) {
            scriptList->modified = true;
        } else {
            delete entry;
            ++overflow;
        }
    }
    return true;
}

void ScriptRegistry::Save() {
    if (!scriptList)
        return;

    SettingsStore store(settingsPath);
    CConfigManagement& config = store.Config();
    // Another editor may have saved the file since this one read it. A damaged file, or one
    // without the list, says nothing about what the other editor wanted.
    wxArrayString conflicts;
    unsigned overflow = 0;
    bool keepCopy = backupDue;
    if (baseRead && !store.IsDamaged() && store.HasKey(listKey) &&
        Merge(ReadScripts(store), conflicts, overflow) && (!conflicts.empty() || overflow > 0))
        keepCopy = true;
    // The file as it is now is copied aside before it is replaced.
    wxString copy;
    wxString copyError;
    if (keepCopy && wxFileName::FileExists(settingsPath) &&
        !KeepFileCopy(settingsPath, copy, copyError)) {
        wxMessageBox(
            wxString::Format(wxGetTranslation("The Python scripts were not saved: %s"), copyError),
            SettingsCaption(), wxOK | wxICON_ERROR);
        return;
    }
    config.Clear();
    const unsigned count = scriptList->GetCount();
    config.Write(countsKey, static_cast<int>(count));
    for (unsigned i = 0; i < count; ++i) {
        currentEntry = scriptList->Get(i);
        WriteFields(config, i, FieldsOf(*currentEntry));
    }
    currentEntry = nullptr;
    if (store.Save()) {
        backupDue = false; // the original is in its backup now
        RememberList();
        if (conflicts.empty() && overflow == 0)
            return;
        wxString text = wxString::Format(wxGetTranslation("Another editor saved the Python "
                                                          "scripts in \"%s\" after this one "
                                                          "read them; its changes were kept."),
                                         settingsPath);
        if (!conflicts.empty())
            text += " " + wxString::Format(wxGetTranslation("Both changed %s: this editor's "
                                                            "version was saved, the other one "
                                                            "is kept in \"%s\"."),
                                           Quoted(conflicts), copy);
        if (overflow > 0)
            text += " " + wxString::Format(wxGetTranslation("%u script added there does not fit "
                                                            "in the list; it is kept in \"%s\".",
                                                            "%u scripts added there do not fit "
                                                            "in the list; they are kept in "
                                                            "\"%s\".",
                                                            overflow),
                                           overflow, copy);
        wxMessageBox(text, SettingsCaption(), wxOK | wxICON_WARNING);
        return;
    }
    // The scripts registered in this run would silently be gone at the next start.
    wxMessageBox(wxString::Format(wxGetTranslation("The Python scripts could not be saved; "
                                                   "changes made since the editor started will "
                                                   "be lost.\n%s"),
                                  store.LastError()),
                 SettingsCaption(), wxOK | wxICON_ERROR);
}
