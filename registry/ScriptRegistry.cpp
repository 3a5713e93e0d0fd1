// The script list to and from the settings file "Coilhatch.xml" in the plug-ins folder.
#include "registry/ScriptRegistry.h"

#include "registry/ScriptList.h"
#include "registry/SettingsStore.h"

#include <wx/dialog.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/timer.h>

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace {

bool AModalDialogIsOpen() {
    for (const wxWindow* window : wxTopLevelWindows) {
        const auto* dialog = wxDynamicCast(window, wxDialog);
        if (dialog && dialog->IsModal())
            return true;
    }
    return false;
}

class CallbackTimer : public wxTimer {
public:
    explicit CallbackTimer(std::function<void()> call) : call(std::move(call)) {}
    void Notify() override { call(); }

private:
    std::function<void()> call;
};

// The caption of the messages about the settings file: the submenu where the user meets them.
wxString SettingsCaption() {
    return wxGetTranslation("Python Script");
}

const char* const listKey = "/Coilhatch";
const char* const countsKey = "/Coilhatch/Counts";

wxString SectionPrefix(unsigned index) {
    return wxString::Format("/Coilhatch/Script%u", index);
}

// A value present in the file that its type cannot read (the store then gives the default).
bool Unreadable(const SettingsStore& store, const wxString& key, bool isInt) {
    if (!store.HasKey(key))
        return false;
    CConfigManagement& config = store.Config();
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
// of one number in the file's order), and what of them no file the plug-in writes has. Other
// elements there are no concern of the list's: they are written back as they are.
struct SectionScan {
    std::vector<Section> sections;
    bool numbered = true;    // the numbers are 0, 1, 2 ... without gaps
    wxString repeatedNumber; // the first number used twice
    wxString oddName;        // the first section numbered with leading zeros
};

SectionScan ScanSections(const SettingsStore& store) {
    SectionScan scan;
    const wxArrayString children = store.ChildNames(listKey);
    for (size_t i = 0; i < children.size(); ++i) {
        wxString number;
        bool written = true;
        if (IsSectionName(children[i], number, written))
            scan.sections.push_back(Section{number, i});
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

ScriptRegistry::Fields ReadFields(CConfigManagement& config, const wxString& prefix) {
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

// A script of the file and where its section is among the elements below the list's key.
struct FileScript {
    ScriptRegistry::Fields fields;
    size_t position;
};

// The sections of the file that the list would load, read whole, in the list's order: at most
// as many as the list holds.
std::vector<FileScript> ReadScripts(const SettingsStore& store, const SectionScan& scan) {
    std::vector<FileScript> scripts;
    for (const Section& section : scan.sections) {
        if (scripts.size() >= MaxScriptNum)
            break;
        const wxString prefix = store.ChildKey(listKey, section.position);
        if (store.IsWhole(prefix))
            scripts.push_back(FileScript{ReadFields(store.Config(), prefix), section.position});
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

ScriptRegistry::ScriptRegistry() = default;

ScriptRegistry::~ScriptRegistry() = default;

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
    if (retry)
        retry->Stop();
    if (repairDue || ListChanged() || FileLost())
        SaveNow(Occasion::Release);
    delete scriptList;
    scriptList = nullptr;
    base.clear();
    baseRead = false;
    pending = false;
}

bool ScriptRegistry::ListChanged() const {
    bool same = scriptList->GetCount() == base.size();
    for (unsigned i = 0; same && i < base.size(); ++i) {
        const ScriptEntry* entry = scriptList->Get(i);
        same = entry->menuId == base[i].menuId && FieldsOf(*entry) == base[i].fields;
    }
    return !same;
}

bool ScriptRegistry::FileLost() const {
    if (!wxFileName::Exists(settingsPath))
        return !base.empty();
    // Every file a save writes says how many scripts it holds; without the extension that is
    // all that tells a spoilt file.
    const SettingsStore store(settingsPath);
    return store.IsDamaged() || (!base.empty() && !store.HasKey(countsKey));
}

void ScriptRegistry::SaveChanges() {
    // An editor that changed nothing writes nothing: a save it did not need could only take
    // something from another editor's. Unless the file is gone or damaged (a script deleted or
    // overwrote it): no editor saves a file so, and the list would be lost.
    if (scriptList && (repairDue || ListChanged() || FileLost()))
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

    // Another editor's save never comes between reading the file and trying it out (below); the
    // lock is let go before anything is shown.
    auto lock = std::make_unique<SettingsLock>(settingsPath, lockPatienceMs);
    const SettingsStore store(settingsPath);
    CConfigManagement& config = store.Config();
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
    backupDue = repairDue = false;
    bool overflow = false;
    unsigned loaded = 0;
    for (const Section& section : sections) {
        const wxString prefix = store.ChildKey(listKey, section.position);
        // A section that a damaged file cut short lives on in the backup alone.
        if (!store.IsWhole(prefix))
            continue;
        if (scriptList->GetCount() >= MaxScriptNum) {
            overflow = true; // told once below, however many sections are left
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
    repairDue = damaged || !disagreements.empty();
    lock.reset();
    if (overflow)
        wxMessageBox(wxGetTranslation("Out of the range! It should be less than MaxScriptNum."),
                     wxMessageBoxCaptionStr, wxOK | wxCENTRE);
    if (!repairDue)
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

// What a merge found, and where each script of the list is to be written.
struct ScriptRegistry::MergeOutcome {
    wxArrayString conflicts; // the scripts both editors changed (or one deleted)
    unsigned overflow = 0;   // scripts added there that do not fit in the list
    // The script of the file now (index in `theirs`) each entry of the list stands for.
    std::map<std::int32_t, size_t> scriptOf;
    // Per script of the file now, when no entry stands for it: why its section goes.
    enum Leaving : char { Stays, DeletedHere, Told };
    std::vector<Leaving> leaving;
    // The file now as this editor's list has taken it over: the base of the next merge should
    // this save not happen.
    std::vector<Known> merged;
};

void ScriptRegistry::Merge(const std::vector<Fields>& theirs, MergeOutcome& outcome) {
    outcome.leaving.assign(theirs.size(), MergeOutcome::Stays);

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
        const int t = theirOf[b];
        const Fields* their = t >= 0 ? &theirs[static_cast<size_t>(t)] : nullptr;
        unsigned index = 0;
        while (index < scriptList->GetCount() && scriptList->Get(index)->menuId != known.menuId)
            ++index;
        ScriptEntry* mine = scriptList->Get(index); // null: deleted here
        const bool theyChanged = !their || *their != known.fields;
        const bool iChanged = !mine || FieldsOf(*mine) != known.fields;
        if (mine && their)
            outcome.scriptOf[mine->menuId] = static_cast<size_t>(t);
        if (!theyChanged) {
            if (!mine)
                outcome.leaving[static_cast<size_t>(t)] = MergeOutcome::DeletedHere;
            continue;
        }
        if (!iChanged) {
            // Changed or deleted there alone: that is what stays.
            if (their)
                SetFields(*mine, *their);
            else
                scriptList->Remove(index);
            scriptList->modified = true;
        } else if (!mine ? their != nullptr : !their || FieldsOf(*mine) != *their) {
            // Changed on both sides: this later save wins; the other version is in the backup.
            outcome.conflicts.push_back(known.fields.name);
            if (!mine)
                outcome.leaving[static_cast<size_t>(t)] = MergeOutcome::Told;
        }
    }
    // Scripts added there are added here too, as far as the list has room.
    std::vector<bool> overflowed(theirs.size(), false);
    for (size_t t = 0; t < theirs.size(); ++t) {
        if (matched[t])
            continue;
        auto* entry = new ScriptEntry;
        SetFields(*entry, theirs[t]);
        const std::int32_t id = entry->menuId;
        if (scriptList->Add(entry)) {
            outcome.scriptOf[id] = t;
            scriptList->modified = true;
        } else {
            delete entry;
            overflowed[t] = true;
            outcome.leaving[t] = MergeOutcome::Told;
            ++outcome.overflow;
        }
    }
    // What this editor now holds of the file, as a base should the save not happen. A script
    // that did not fit stays out, so that the next save finds it added there again.
    std::vector<std::int32_t> entryOf(theirs.size(), 0);
    for (const auto& [id, t] : outcome.scriptOf)
        entryOf[t] = id;
    for (size_t t = 0; t < theirs.size(); ++t) {
        if (!overflowed[t])
            outcome.merged.push_back(Known{entryOf[t], theirs[t]});
    }
}

namespace {

// Writes the list's fields into the store's file in place: a key is written only where the file
// does not already hold its value, so that what it holds beside the value stays. `lost` gets a
// line for each value whose element held more than text (the rest of it goes with the write).
class InPlaceWriter {
public:
    InPlaceWriter(SettingsStore& store, wxArrayString& lost) : store(store), lost(lost) {}

    void Bool(const wxString& key, bool value, const wxString& script) {
        CConfigManagement& config = store.Config();
        if (store.HasKey(key) && !Unreadable(store, key, false) &&
            config.ReadBool(key, false) == value)
            return;
        Replacing(key, script);
        store.Config().Write(key, value);
    }

    void Int(const wxString& key, int value) {
        if (store.HasKey(key) && !Unreadable(store, key, true) &&
            store.Config().ReadInt(key, 0) == value)
            return;
        Replacing(key, wxString());
        store.Config().Write(key, value);
    }

    void Text(const wxString& key, const wxString& value, const wxString& script) {
        if (store.HasKey(key) && store.Config().Read(key, wxString()) == value)
            return;
        Replacing(key, script);
        store.Config().Write(key, value, false);
    }

    // Takes the first element of that name out of the section.
    void Remove(const wxString& section, const wxString& name, const wxString& script) {
        const wxArrayString names = store.ChildNames(section);
        const int at = names.Index(name);
        if (at == wxNOT_FOUND)
            return;
        Replacing(section + "/" + name, script);
        store.RemoveChildren(section, {static_cast<size_t>(at)});
    }

private:
    void Replacing(const wxString& key, const wxString& script) {
        if (store.HoldsTextAlone(key))
            return;
        const wxString field = key.AfterLast('/');
        lost.push_back(
            script.empty()
                ? wxString::Format(wxGetTranslation("what <%s> held besides its value"), field)
                : wxString::Format(wxGetTranslation("what <%s> of \"%s\" held besides "
                                                    "its value"),
                                   field, script));
    }

    SettingsStore& store;
    wxArrayString& lost;
};

} // namespace

void ScriptRegistry::Save() {
    SaveNow(Occasion::Asked);
}

wxString ScriptRegistry::KeepListAside(wxString& error) const {
    const wxString copy = FreeCopyName(settingsPath);
    bool written = false;
    {
        SettingsStore store(copy);
        store.Config().Write(countsKey, static_cast<int>(scriptList->GetCount()));
        for (unsigned i = 0; i < scriptList->GetCount(); ++i)
            WriteFields(store.Config(), i, FieldsOf(*scriptList->Get(i)));
        written = store.Save();
    }
    if (written && ::chmod(std::string(copy.fn_str()).c_str(), keptFileMode) == 0)
        return copy;
    error = wxString::Format(wxGetTranslation("\"%s\" could not be written either."), copy);
    return wxString();
}

void ScriptRegistry::SaveNow(Occasion occasion) {
    if (!scriptList)
        return;

    // From reading the file again to replacing it, no other editor's save comes between. Once
    // the user knows the lock is held, a save only looks whether it is free: the retries wait.
    const bool waitedAlready = pending && occasion != Occasion::Release;
    auto lock = std::make_unique<SettingsLock>(settingsPath, waitedAlready ? 0 : lockPatienceMs);
    if (!lock->Held() && lock->HeldElsewhere()) {
        const wxString why = lock->Why();
        lock.reset();
        if (occasion == Occasion::Release) {
            wxString error;
            const wxString aside = KeepListAside(error);
            wxMessageBox(
                wxString::Format(wxGetTranslation("The Python scripts could not be saved in "
                                                  "\"%s\": %s. Its lock is not taken from it: "
                                                  "its save, once it goes on, would replace "
                                                  "this one."),
                                 settingsPath, why) +
                    "\n" +
                    (aside.empty()
                         ? wxString::Format(wxGetTranslation("Changes made since the editor "
                                                             "started will be lost. %s"),
                                            error)
                         : wxString::Format(wxGetTranslation("This editor's scripts are kept "
                                                             "in \"%s\", a settings file of "
                                                             "their own."),
                                            aside)),
                SettingsCaption(), wxOK | wxICON_ERROR);
            return;
        }
        if (!retry)
            retry = std::make_unique<CallbackTimer>([this] {
                // Not while a dialog is open: Script Management edits the list in place, and the
                // merge would change it under the dialog.
                if (AModalDialogIsOpen())
                    return;
                retry->Stop(); // no second try while this one shows a message
                if (pending)
                    SaveNow(Occasion::Retry);
            });
        if (!retry->IsRunning())
            retry->Start(retryMs);
        if (pending)
            return; // told already
        pending = true;
        wxMessageBox(
            wxString::Format(wxGetTranslation("The Python scripts were not saved yet: %s. Its "
                                              "lock is not taken from it: its save, once it goes "
                                              "on, would replace this one."),
                             why) +
                "\n" +
                wxGetTranslation("This editor keeps its changes and saves them as soon as the "
                                 "lock is free, at the latest when it closes."),
            SettingsCaption(), wxOK | wxICON_WARNING);
        return;
    }
    pending = false;
    if (retry)
        retry->Stop();

    wxArrayString conflicts;
    unsigned overflow = 0;
    unsigned unloaded = 0; // sections of the file that could not be loaded and are not written
    wxArrayString lost;    // what else of the file is not carried over
    wxString copy;
    wxString copyError;
    wxString lockProblem;
    wxString saveError;
    bool saved = false;
    {
        // No lock to be had at all (a folder of another user's): the file is kept before the
        // save, as no other save is known to keep off.
        if (!lock->Held())
            lockProblem = lock->Why();
        SettingsStore store(settingsPath);
        CConfigManagement& config = store.Config();
        const SectionScan scan = ScanSections(store);
        const std::vector<FileScript> fileScripts = ReadScripts(store, scan);

        // Another editor may have saved the file since this one read it. A damaged file, or one
        // without the list, says nothing about what the other editor wanted.
        MergeOutcome merge;
        const bool merging = baseRead && !store.IsDamaged() && store.HasKey(listKey);
        if (merging) {
            std::vector<Fields> theirs;
            for (const FileScript& script : fileScripts)
                theirs.push_back(script.fields);
            Merge(theirs, merge);
            base = merge.merged;
            conflicts = merge.conflicts;
            overflow = merge.overflow;
        }

        const unsigned count = scriptList->GetCount();
        if (store.EditsInPlace()) {
            // The sections the list's scripts came from keep their place and whatever else they
            // hold; they are renamed to their new numbers, the others taken out.
            std::vector<bool> kept(store.ChildNames(listKey).size(), false);
            for (unsigned i = 0; i < count; ++i) {
                const auto found = merge.scriptOf.find(scriptList->Get(i)->menuId);
                if (found == merge.scriptOf.end())
                    continue;
                const size_t position = fileScripts[found->second].position;
                kept[position] = true;
                store.RenameChild(listKey, position, SectionPrefix(i).AfterLast('/'));
            }
            // A section goes silently only when this editor deleted its script; the merge tells
            // of those it drops; any other (one the list could not load) is counted.
            std::vector<bool> accounted(kept.size(), false);
            for (size_t t = 0; t < merge.leaving.size(); ++t)
                accounted[fileScripts[t].position] = merge.leaving[t] != MergeOutcome::Stays;
            std::vector<size_t> leaving;
            for (const Section& section : scan.sections) {
                if (!kept[section.position]) {
                    leaving.push_back(section.position);
                    unloaded += accounted[section.position] ? 0 : 1;
                }
            }
            store.RemoveChildren(listKey, leaving);
            // A damaged file the store keeps itself; what the load could not take (more sections
            // than fit) it announced with the backup this save makes.
            if (store.IsDamaged() || backupDue)
                unloaded = 0;

            InPlaceWriter write(store, lost);
            write.Int(countsKey, static_cast<int>(count));
            for (unsigned i = 0; i < count; ++i) {
                const wxString prefix = SectionPrefix(i);
                currentEntry = scriptList->Get(i);
                const wxString& name = currentEntry->name;
                write.Bool(prefix + "/autoRun", currentEntry->autoRun, name);
                write.Bool(prefix + "/autoReload", currentEntry->autoReload, name);
                write.Text(prefix + "/name", name, name);
                write.Text(prefix + "/location", currentEntry->location, name);
                write.Text(prefix + "/description", currentEntry->description, name);
                // Written only when set: a file without shortcuts stays as editors before them
                // wrote it.
                if (!currentEntry->shortcut.empty())
                    write.Text(prefix + "/shortcut", currentEntry->shortcut, name);
                else if (!config.Read(prefix + "/shortcut", wxString()).empty())
                    write.Remove(prefix, "shortcut", name);
            }
        } else {
            // The store rewrites the file from its keys: whatever else the file holds would go.
            // (A file the load found holding more is in the backup the load announced.)
            if (!backupDue && !store.HoldsOnly([&](CConfigManagement& written) {
                    written.Write(countsKey, static_cast<int>(fileScripts.size()));
                    for (unsigned i = 0; i < fileScripts.size(); ++i)
                        WriteFields(written, i, fileScripts[i].fields);
                }))
                lost.push_back(wxGetTranslation(
                    "anything it held besides the scripts' own settings (other elements, "
                    "attributes, comments; this editor's settings store writes the keys alone)"));
            config.Clear();
            config.Write(countsKey, static_cast<int>(count));
            for (unsigned i = 0; i < count; ++i) {
                currentEntry = scriptList->Get(i);
                WriteFields(config, i, FieldsOf(*currentEntry));
            }
        }
        currentEntry = nullptr;

        // The file as it is now is copied aside before it is replaced, when anything of it
        // would otherwise be gone.
        const bool keepCopy = backupDue || !conflicts.empty() || overflow > 0 || unloaded > 0 ||
                              !lost.empty() || !lockProblem.empty();
        if (keepCopy && wxFileName::FileExists(settingsPath) &&
            !KeepFileCopy(settingsPath, copy, copyError)) {
            // Nothing is saved: the file stays as it is.
        } else if (store.Save()) {
            saved = true;
            backupDue = repairDue = false; // the original is in its backup now
            RememberList();
        } else {
            saveError = store.LastError();
        }
        lock.reset();
    }

    if (!copyError.empty()) {
        wxMessageBox(
            wxString::Format(wxGetTranslation("The Python scripts were not saved: %s"), copyError),
            SettingsCaption(), wxOK | wxICON_ERROR);
        return;
    }
    if (!saved) {
        // The scripts registered in this run would silently be gone at the next start.
        wxMessageBox(wxString::Format(wxGetTranslation("The Python scripts could not be saved; "
                                                       "changes made since the editor started "
                                                       "will be lost.\n%s"),
                                      saveError),
                     SettingsCaption(), wxOK | wxICON_ERROR);
        return;
    }
    if (conflicts.empty() && overflow == 0 && unloaded == 0 && lost.empty() && lockProblem.empty())
        return;
    wxString text;
    if (!conflicts.empty() || overflow > 0)
        text = wxString::Format(wxGetTranslation("Another editor saved the Python scripts in "
                                                 "\"%s\" after this one read them; its changes "
                                                 "were kept."),
                                settingsPath);
    if (!conflicts.empty())
        text += " " + wxString::Format(wxGetTranslation("Both changed %s: this editor's version "
                                                        "was saved, the other one is kept in "
                                                        "\"%s\"."),
                                       Quoted(conflicts), copy);
    if (overflow > 0)
        text += " " + wxString::Format(wxGetTranslation("%u script added there does not fit in "
                                                        "the list; it is kept in \"%s\".",
                                                        "%u scripts added there do not fit in "
                                                        "the list; they are kept in \"%s\".",
                                                        overflow),
                                       overflow, copy);
    if (unloaded > 0 || !lost.empty()) {
        wxArrayString parts = lost;
        if (unloaded > 0)
            parts.insert(parts.begin(),
                         Plural("%u script section that could not be loaded",
                                "%u script sections that could not be loaded", unloaded));
        text += (text.empty() ? "" : " ") +
                wxString::Format(wxGetTranslation("The Python scripts were saved in \"%s\", "
                                                  "but without %s; the file as it was is kept "
                                                  "in \"%s\"."),
                                 settingsPath, Joined(parts), copy);
    }
    if (!lockProblem.empty())
        text += (text.empty() ? "" : " ") +
                wxString::Format(wxGetTranslation("The Python scripts were saved without the "
                                                  "lock that keeps editors' saves apart (%s); "
                                                  "the file as it was before is kept in \"%s\"."),
                                 lockProblem, copy);
    wxMessageBox(text, SettingsCaption(), wxOK | wxICON_WARNING);
}
