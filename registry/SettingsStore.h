// The editor's settings store as the registry uses it. The typed keys of the store are all that
// every editor offers; where the editor also offers its settings extension, the registry learns
// the file's sections as they stand, whether the file was read whole, and why a save failed,
// and (version 2) edits the file in place, so that what it does not know stays as it is.
// Without it (an editor that offers the interface alone):
//   - the sections are found by asking for "Script0", "Script1" ... up to what "Counts" says
//     and on while a section was found among the last 64 numbers asked for;
//   - a file that holds more than the registry reads is recognised by trying what was read out
//     in stores of its own (HoldsOnly); a damaged file is the store's to recognise;
//   - whether a save succeeded is found by reading the file back;
//   - a save rewrites the file from its keys (Clear, then Write), so what else the file holds
//     (HoldsOnly again, at the save) is kept in a backup first.
// Backups are the registry's own: a copy of the file's bytes beside it, made with plain file
// operations.
#pragma once

#include "plugin/EditorServices.h"
#include "registry/EditorSettings.h"

#include <wx/arrstr.h>
#include <wx/string.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct MpSettingsExtension;
struct MpSettingsExtension2;

class SettingsStore {
public:
    explicit SettingsStore(const wxString& path);

    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The editor's store: its reads are not const, whatever this object is.
    CConfigManagement& Config() const { return *config; }
    const wxString& Path() const { return path; }

    bool HasKey(const wxString& key) const;
    // The names of the elements directly below the key, in the file's order where the editor
    // tells it, otherwise the numbered names found (see above).
    wxArrayString ChildNames(const wxString& key) const;
    // The key of the index-th of ChildNames(key).
    wxString ChildKey(const wxString& key, size_t index) const;
    bool IsDamaged() const;
    bool IsWhole(const wxString& key) const;
    // Where the store keeps the damaged file; empty when it is not known to keep one.
    wxString DamagedFileCopy() const;

    // Whether the editor offers its settings extension.
    bool Extended() const { return extension != nullptr; }
    // Whether the store edits the file in place (it keeps what it is not asked about); only
    // then do the three below work.
    bool EditsInPlace() const { return edits != nullptr; }
    bool RemoveChildren(const wxString& key, const std::vector<size_t>& indexes);
    bool RenameChild(const wxString& key, size_t index, const wxString& name);
    // True when writing the key replaces nothing but its text (or the key is absent).
    bool HoldsTextAlone(const wxString& key) const;

    // Whether the file holds nothing but what `write` writes (keys it leaves out included):
    // the file's content with `write`'s keys written over it must be what `write` makes alone,
    // in stores of the editor's on copies in a temporary folder. True when there is no file or
    // nothing can be tried.
    bool HoldsOnly(const std::function<void(CConfigManagement&)>& write) const;

    // Saves; false, with LastError() set, when the file does not hold what was written.
    bool Save();
    const wxString& LastError() const { return lastError; }

    // Without the extension: how far beyond "Counts" and beyond the last section found the
    // numbered sections are asked for, and the number no section is asked for beyond.
    static constexpr unsigned probeMargin = 64;
    static constexpr unsigned probeLimit = 4096;

private:
    bool ReadsBackAsWritten() const;

    wxString path;
    EditorSettings config;
    const MpSettingsExtension2* edits;
    const MpSettingsExtension* extension;
    wxString lastError;
};

// An exclusive lock on a file beside the settings file (".<name>.lock"), held from the moment
// a save reads the file again to the moment it has replaced it, so that two editors' saves never
// interleave. The system lets go of it when its process ends: a lock left by a process that died
// never blocks, and a lock that is held has a live holder (perhaps stopped: a debugger, a
// suspended session), whose save would replace whatever was written meanwhile. So it is never
// broken: waits at most `patience` for another holder, then tells who holds it.
class SettingsLock {
public:
    static constexpr int patienceMs = 5000;

    explicit SettingsLock(const wxString& settingsPath, int patience = patienceMs);
    ~SettingsLock();

    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;

    // False when another process held it for longer than the patience allowed, or the lock file
    // could not be made (Why() says which).
    bool Held() const { return fd >= 0 && held; }
    // Another process holds it (rather than: there is no lock to take).
    bool HeldElsewhere() const { return busy; }
    const wxString& Why() const { return why; }
    static wxString LockPath(const wxString& settingsPath);
    // The process holding an flock on that open file as the system lists it ("process 4242
    // (marrowpad), stopped"); empty when none is listed.
    static wxString HolderOf(int lockFd);

private:
    int fd = -1;
    bool held = false;
    bool busy = false;
    wxString why;
};

// Backups and copies the registry writes are its owner's alone: 0600, whatever the umask.
constexpr unsigned keptFileMode = 0600;

// Copies the file's bytes to a free name beside it ("<file>.bak", "<file>.bak1", ...), readable
// and writable by the owner alone. False, with a sentence that names the file and the reason, when
// it cannot.
bool KeepFileCopy(const wxString& path, wxString& copy, wxString& error);
// The name KeepFileCopy would take now.
wxString FreeCopyName(const wxString& path);
