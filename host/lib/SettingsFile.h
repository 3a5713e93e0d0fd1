// The settings store's file operations: a bounded read, the atomic replace, the backup of a
// damaged file and the clean-up after a killed save. Failures come back as one line naming
// the file and the system's reason, fit to show to the user.
#pragma once

#include <wx/string.h>

#include <cstddef>
#include <string>

namespace settings_file {

enum class Found {
    Missing,    // nothing there: no settings yet
    Read,       // the bytes were read
    Unreadable, // something is there that cannot be read: it must never be overwritten
    TooLarge,   // larger than the limit: damaged, kept as it is
};

// Reads the whole file if it has at most `limit` bytes. Never blocks on a pipe or a device.
Found Read(const wxString& path, size_t limit, std::string& bytes, wxString& reason);

// The file that a save replaces: the path with its symbolic links followed, so that a link
// stays a link and its target gets the new contents.
bool ResolveTarget(const wxString& path, wxString& target, wxString& error);

// Whether the settings may replace the file at `target`: it is missing, or a regular file
// that we may write. A write-protected file is left alone.
bool CheckReplaceable(const wxString& target, wxString& error);

// Writes the bytes to a temporary file beside the target, flushes it, gives it the old file's
// mode, owner and group, and renames it over the target: a crash leaves the old file or the
// new one, whole. A new file gets the mode the umask leaves, and always the owner's reading and
// writing. A write beyond the process's file size limit fails the save with a message.
bool ReplaceAtomically(const wxString& target, const std::string& bytes, wxString& error);

// The first free name of "<path>.bak", "<path>.bak1", "<path>.bak2"...
wxString FreeBackupName(const wxString& path);

// Copies the file to FreeBackupName(path). The copy gets its name only once it is complete,
// so a failed copy never leaves a partial or empty backup.
bool KeepBackup(const wxString& path, wxString& backup, wxString& error);

// Removes the temporary files that a save killed half-way left beside the file (and beside
// its link target): regular files named ".<file name>.saving-<pid>-" and six letters or digits,
// whose process has ended and which no save holds locked. Nothing else is touched.
void RemoveLeftoverTemporaries(const wxString& path);

} // namespace settings_file
