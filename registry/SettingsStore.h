// The editor's settings store as the registry uses it. The typed keys of the store are all that
// every editor offers; where the editor also offers its settings extension, the registry learns
// the file's sections as they stand, whether the file was read whole, and why a save failed.
// Without it (an editor that offers the interface alone):
//   - the sections are found by asking for "Script0", "Script1" ... up to what "Counts" says
//     and on while a section was found among the last 64 numbers asked for;
//   - a file that holds more than the registry reads is recognised by trying what was read out
//     in stores of its own (HoldsOnly); a damaged file is the store's to recognise;
//   - whether a save succeeded is found by reading the file back.
// Backups are the registry's own: a copy of the file's bytes beside it, made with plain file
// operations.
#pragma once

#include "plugin/EditorServices.h"

#include <wx/arrstr.h>
#include <wx/string.h>

#include <cstddef>
#include <functional>

struct MpSettingsExtension;

class SettingsStore {
public:
    explicit SettingsStore(const wxString& path);

    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    CConfigManagement& Config() { return config; }
    const CConfigManagement& Config() const { return config; }
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
    CConfigManagement config;
    const MpSettingsExtension* extension;
    wxString lastError;
};

// Copies the file's bytes to a free name beside it ("<file>.bak", "<file>.bak1", ...), with the
// file's mode. False, with a sentence that names the file and the reason, when it cannot.
bool KeepFileCopy(const wxString& path, wxString& copy, wxString& error);
// The name KeepFileCopy would take now.
wxString FreeCopyName(const wxString& path);
