// The registry's life: the one script list, read from the settings file "Coilhatch.xml" in the
// plug-ins folder when the plug-in is attached and written back when it is released.
//
// No script section present in the file is lost by a load and a save: the sections that exist
// are loaded in the order of their numbers (however large), whatever "Counts" says, and a file
// that disagrees with itself (a wrong or unreadable "Counts", gaps in the numbers, a number used
// twice or written with leading zeros, anything else beside the sections, more scripts than fit,
// an unreadable flag) or cannot be parsed is kept as a backup before the save replaces it; the
// user is told where. A damaged file (a stray byte, a truncated tail) gives every section read
// whole before the damage.
//
// What the file holds beyond the list (elements, attributes and comments the plug-in does not
// know, inside a section, beside the sections, beside "Coilhatch") is written back as it was
// where the editor's store edits its file in place; where it cannot be (the store only rewrites
// the file from its keys, or a changed field held more than text), the file as it was is kept as
// a backup and a message says what was not carried over.
//
// Two editors may share the file. A save holds a lock beside the file from reading it again to
// replacing it, and merges three ways against the list as this editor last read or wrote it:
// scripts added, changed or deleted there are taken over where this editor left them alone, a
// script leaves the file only when this editor deleted it, and where both changed one script
// this later save wins and the file as the other editor left it is kept as a backup, with a
// message. An editor that changed nothing saves nothing.
//
// The lock is never broken: one that is held has a live holder (the system lets go of the lock
// of a process that ends), perhaps stopped in a debugger or a suspended session, and its save,
// once it goes on, would replace whatever was written meanwhile. A save that waited its patience
// in vain tells the user who holds the lock and keeps the list in memory; it is saved, merged as
// ever, as soon as the lock is free (tried every second) or at the release. Should the lock still
// be held then, the list is written to a settings file of its own beside the file, and the user
// told where.
#pragma once

#include <wx/arrstr.h>
#include <wx/string.h>

#include <cstdint>
#include <memory>
#include <vector>

class wxTimer;
struct ScriptEntry;
struct ScriptList;

class ScriptRegistry {
public:
    // Touches no list: the list's life is Open to Close.
    ScriptRegistry();
    ~ScriptRegistry();

    ScriptRegistry(const ScriptRegistry&) = delete;
    ScriptRegistry& operator=(const ScriptRegistry&) = delete;

    // Creates the plug-in's script list (unless one exists) and fills it from the settings file
    // at that path.
    void Open(const wxString& path);
    // Saves the list as SaveChanges does, and destroys it. Does nothing when no list is open.
    void Close();
    // Saves the list when it differs from what this editor last read or wrote (the management
    // dialog changed it), when the file as loaded needs repair (it disagreed with itself or was
    // damaged: the load said it would be kept as a backup and saved), or when the file is gone
    // or damaged since (a script deleted or overwrote it).
    void SaveChanges();

    // The list to and from the settings file. Both do nothing while no list exists. A save that
    // fails is told to the user in a message box naming the file and the reason.
    void Load();
    void Save();

    wxString settingsPath;     // full path of the settings file
    int lockPatienceMs = 5000; // how long a save waits for another editor's save
    int retryMs = 1000;        // how often a save that found the lock held is tried again
    // A save found the lock held: the list waits in memory for it to be free.
    bool SavePending() const { return pending; }
    ScriptEntry* currentEntry = nullptr; // the entry Load or Save is working on; null between them

    // What the settings file stores of one script.
    struct Fields {
        bool autoRun = false;
        bool autoReload = false;
        wxString name;
        wxString location;
        wxString description;
        wxString shortcut;
        bool operator==(const Fields& other) const;
        bool operator!=(const Fields& other) const { return !(*this == other); }
    };

private:
    // A script as this editor last read or wrote it, and the entry it became (menuId 0: none).
    struct Known {
        std::int32_t menuId;
        Fields fields;
    };

    struct MergeOutcome;
    // Takes over what another editor saved since `base` was read (`theirs`: the scripts of the
    // file now, in its order).
    void Merge(const std::vector<Fields>& theirs, MergeOutcome& outcome);
    bool ListChanged() const;
    // The file is gone, or damaged, since this editor read or wrote it.
    bool FileLost() const;
    void RememberList();
    enum class Occasion { Asked, Retry, Release };
    void SaveNow(Occasion occasion);
    // At the release, with the lock still held: the list in a settings file of its own beside
    // the file; its path, or empty (with `error`) when it could not be written.
    wxString KeepListAside(wxString& error) const;

    bool backupDue = false;  // the last load found the file inconsistent: keep it at the next save
    bool repairDue = false;  // the last load found the file inconsistent or damaged
    std::vector<Known> base; // the scripts of the file as this editor last read or wrote it
    bool baseRead = false;   // `base` holds what a load read: saves merge from then on
    bool pending = false;    // a save found the lock held; the user has been told
    std::unique_ptr<wxTimer> retry;
};
