// The settings store's file operations, in POSIX calls: the store must know exactly which
// step failed and why, and must never leave a half-written file under a name it uses.
#include "host/lib/SettingsFile.h"

#include <wx/filename.h>
#include <wx/log.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace settings_file {
namespace {

// Symbolic links followed before giving up, as the kernel does.
constexpr int MaxLinks = 40;
// The length of mkstemp's "XXXXXX".
constexpr size_t TempSuffixLength = 6;

std::string LocalPath(const wxString& path) {
    return std::string(path.fn_str());
}

wxString FromLocal(const std::string& path) {
    return wxString(path.c_str(), *wxConvFileName);
}

wxString Reason(int error) {
    return wxString(std::strerror(error), wxConvLibc);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A rename or link is on disk only once its folder is.
void SyncFolder(const std::string& path) {
    const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Reads until the end or until more than `limit` bytes are there.
bool ReadAll(int fd, size_t limit, std::string& bytes) {
    char chunk[65536];
    while (bytes.size() <= limit) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            break;
        bytes.append(chunk, static_cast<size_t>(got));
    }
    return true;
}

// Copies everything from one descriptor to the other.
bool CopyAll(int from, int to) {
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(from, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        if (!WriteAll(to, chunk, static_cast<size_t>(got)))
            return false;
    }
}

bool IsTempSuffix(const char* suffix) {
    for (size_t i = 0; i < TempSuffixLength; ++i) {
        const char c = suffix[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return suffix[TempSuffixLength] == '\0';
}

void RemoveTemporariesOf(const std::string& path) {
    const std::string name = NameOf(path) + '.';
    DIR* folder = ::opendir(FolderOf(path).c_str());
    if (!folder)
        return;
    const int folderFd = ::dirfd(folder);
    while (const dirent* entry = ::readdir(folder)) {
        if (std::strncmp(entry->d_name, name.c_str(), name.size()) != 0 ||
            !IsTempSuffix(entry->d_name + name.size()))
            continue;
        struct stat st {};
        if (::fstatat(folderFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            continue;
        if (::unlinkat(folderFd, entry->d_name, 0) == 0)
            wxLogVerbose("Removed \"%s\", left over by an interrupted save of the settings.",
                         FromLocal(FolderOf(path) + '/' + entry->d_name));
    }
    ::closedir(folder);
}

} // namespace

Found Read(const wxString& path, size_t limit, std::string& bytes, wxString& reason) {
    bytes.clear();
    const std::string local = LocalPath(path);
    struct stat st {};
    if (::stat(local.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return Found::Missing;
        reason = Reason(errno);
        return Found::Unreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        reason = "not a regular file";
        return Found::Unreadable;
    }
    // Non-blocking, in case a pipe took the file's place since the check.
    const int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        reason = Reason(errno);
        return Found::Unreadable;
    }
    Found found = Found::Read;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = "not a regular file";
        found = Found::Unreadable;
    } else if (static_cast<unsigned long long>(st.st_size) > limit) {
        found = Found::TooLarge;
    } else if (!ReadAll(fd, limit, bytes)) {
        reason = Reason(errno);
        found = Found::Unreadable;
    } else if (bytes.size() > limit) {
        found = Found::TooLarge;
    }
    ::close(fd);
    if (found != Found::Read)
        bytes.clear();
    return found;
}

bool ResolveTarget(const wxString& path, wxString& target, wxString& error) {
    std::string current = LocalPath(path);
    for (int hop = 0; hop <= MaxLinks; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            target = FromLocal(current);
            return true;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
        if (length < 0 || static_cast<size_t>(length) >= link.size()) {
            error = wxString::Format("The settings cannot be saved: the link \"%s\" cannot be "
                                     "read (%s).",
                                     FromLocal(current), Reason(length < 0 ? errno : ENAMETOOLONG));
            return false;
        }
        link.resize(static_cast<size_t>(length));
        current = link[0] == '/' ? link : FolderOf(current) + '/' + link;
    }
    error = wxString::Format("The settings cannot be saved to \"%s\": %s.", path, Reason(ELOOP));
    return false;
}

bool CheckReplaceable(const wxString& target, wxString& error) {
    const std::string local = LocalPath(target);
    struct stat st {};
    if (::stat(local.c_str(), &st) != 0)
        return true; // a new file; creating it will tell
    if (!S_ISREG(st.st_mode)) {
        error =
            wxString::Format("The settings cannot be saved: \"%s\" is not a regular file.", target);
        return false;
    }
    // The superuser may write anything, but a file without write permission is still meant to
    // stay as it is.
    int denied = 0;
    if (::geteuid() == 0)
        denied = (st.st_mode & 0222) ? 0 : EACCES;
    else if (::faccessat(AT_FDCWD, local.c_str(), W_OK, AT_EACCESS) != 0)
        denied = errno;
    if (denied == EACCES || denied == EPERM || denied == EROFS) {
        error = wxString::Format("The settings cannot be saved: \"%s\" is write-protected (%s).",
                                 target, Reason(denied));
        return false;
    }
    return true;
}

bool ReplaceAtomically(const wxString& target, const std::string& bytes, wxString& error) {
    const std::string local = LocalPath(target);
    std::string temp = local + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = wxString::Format("The settings cannot be saved: no temporary file can be created "
                                 "beside \"%s\" (%s).",
                                 target, Reason(errno));
        return false;
    }
    struct stat old {};
    mode_t mode = 0666;
    bool ok = true;
    if (::stat(local.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
        // Keep the owner and group where the system lets us; an ordinary user mostly cannot.
        struct stat fresh {};
        if (::fstat(fd, &fresh) == 0 && (fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid))
            ok = ::fchown(fd, old.st_uid, old.st_gid) == 0 || errno == EPERM;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    // The mode after the owner: changing the owner clears the set-user-ID and set-group-ID bits.
    ok = ok && ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes.data(), bytes.size()) &&
         ::fsync(fd) == 0;
    int failure = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok && ::rename(temp.c_str(), local.c_str()) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        error = wxString::Format("The settings cannot be saved to \"%s\": %s.", target,
                                 Reason(failure));
        return false;
    }
    SyncFolder(local);
    return true;
}

wxString FreeBackupName(const wxString& path) {
    wxString candidate = path + ".bak";
    for (int i = 1; wxFileName::Exists(candidate, wxFILE_EXISTS_ANY | wxFILE_EXISTS_NO_FOLLOW); ++i)
        candidate = wxString::Format("%s.bak%d", path, i);
    return candidate;
}

bool KeepBackup(const wxString& path, wxString& backup, wxString& error) {
    const std::string local = LocalPath(path);
    int failure = 0;
    const int source = ::open(local.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (source < 0 || ::fstat(source, &st) != 0) {
        failure = errno;
        if (source >= 0)
            ::close(source);
        error = wxString::Format("The settings cannot be saved: the damaged \"%s\" cannot be "
                                 "read to keep it as a backup (%s).",
                                 path, Reason(failure));
        return false;
    }
    // The copy is made under a temporary name (one that the next start removes if we are
    // killed) and linked to the backup's name once it is whole.
    std::string temp = local + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    bool ok = fd >= 0;
    if (!ok)
        failure = errno;
    ok = ok && ::fchmod(fd, st.st_mode & 0777) == 0 && CopyAll(source, fd) && ::fsync(fd) == 0;
    if (!ok && !failure)
        failure = errno;
    ::close(source);
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    bool placed = false;
    for (int attempt = 0; ok && !placed && attempt < 1000; ++attempt) {
        backup = FreeBackupName(path);
        const std::string name = LocalPath(backup);
        placed = ::link(temp.c_str(), name.c_str()) == 0;
        if (placed || errno == EEXIST)
            continue; // an EEXIST: the name was taken since we looked
        // Some file systems have no hard links: rename, the name having been free a moment ago.
        placed = ::rename(temp.c_str(), name.c_str()) == 0;
        if (!placed) {
            ok = false;
            failure = errno;
        }
    }
    if (ok && !placed) {
        ok = false;
        failure = EEXIST;
    }
    if (fd >= 0)
        ::unlink(temp.c_str());
    if (!ok) {
        backup.clear();
        error = wxString::Format("The settings cannot be saved: the damaged \"%s\" could not be "
                                 "kept as a backup (%s).",
                                 path, Reason(failure));
        return false;
    }
    SyncFolder(local);
    return true;
}

void RemoveLeftoverTemporaries(const wxString& path) {
    const std::string local = LocalPath(path);
    RemoveTemporariesOf(local);
    wxString target, ignored;
    if (ResolveTarget(path, target, ignored) && LocalPath(target) != local)
        RemoveTemporariesOf(LocalPath(target));
}

} // namespace settings_file
