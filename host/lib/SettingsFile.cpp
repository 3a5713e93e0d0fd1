// The settings store's file operations, in POSIX calls: the store must know exactly which
// step failed and why, and must never leave a half-written file under a name it uses.
#include "host/lib/SettingsFile.h"

#include <wx/filename.h>
#include <wx/log.h>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
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

// A temporary file of a save is named ".<file name>.saving-<pid>-XXXXXX": hidden, and in a
// form no user picks. The pid is the saving process's: the file is in use while that process
// lives, and the save holds a lock on it besides (the pid may be another machine's, or
// another namespace's).
const char TempInfix[] = ".saving-";

std::string TempTemplate(const std::string& path) {
    return FolderOf(path) + "/." + NameOf(path) + TempInfix + std::to_string(::getpid()) + '-' +
           std::string(TempSuffixLength, 'X');
}

bool IsAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The pid in the name of one of our temporary files of `name`, or 0 when it is none of them.
pid_t TempOwner(const char* entry, const std::string& name) {
    const std::string prefix = '.' + name + TempInfix;
    if (std::strncmp(entry, prefix.c_str(), prefix.size()) != 0)
        return 0;
    const char* rest = entry + prefix.size();
    long long pid = 0;
    size_t digits = 0;
    for (; rest[digits] >= '0' && rest[digits] <= '9' && digits < 10; ++digits)
        pid = pid * 10 + (rest[digits] - '0');
    if (digits == 0 || pid <= 0 || pid > INT_MAX || rest[digits] != '-')
        return 0;
    const char* suffix = rest + digits + 1;
    for (size_t i = 0; i < TempSuffixLength; ++i) {
        if (!IsAlnum(suffix[i]))
            return 0;
    }
    return suffix[TempSuffixLength] == '\0' ? static_cast<pid_t>(pid) : 0;
}

bool ProcessExists(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

// Creates a temporary file beside the file at `path`, locked for as long as it is open.
int CreateTemporary(const std::string& path, std::string& temp) {
    temp = TempTemplate(path);
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd >= 0)
        ::flock(fd, LOCK_EX | LOCK_NB);
    return fd;
}

void RemoveTemporariesOf(const std::string& path) {
    const std::string name = NameOf(path);
    DIR* folder = ::opendir(FolderOf(path).c_str());
    if (!folder)
        return;
    const int folderFd = ::dirfd(folder);
    while (const dirent* entry = ::readdir(folder)) {
        const pid_t owner = TempOwner(entry->d_name, name);
        if (owner == 0 || ProcessExists(owner))
            continue;
        // Left alone unless it is a regular file that no save holds, still under that name.
        const int fd = ::openat(folderFd, entry->d_name,
                                O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat opened {};
        struct stat named {};
        const bool ours = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                          ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                          ::fstatat(folderFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                          named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
        if (ours && ::unlinkat(folderFd, entry->d_name, 0) == 0)
            wxLogVerbose("Removed \"%s\", left over by an interrupted save of the settings.",
                         FromLocal(FolderOf(path) + '/' + entry->d_name));
        ::close(fd);
    }
    ::closedir(folder);
}

// While it lives, a write beyond the process's file size limit (one a script may have set)
// fails with EFBIG instead of ending the editor with SIGXFSZ. The signal is blocked in this
// thread alone, and one that the writes raised is taken before the mask is restored.
class FileSizeSignalHeld {
public:
    FileSizeSignalHeld() {
        sigemptyset(&only);
        sigaddset(&only, SIGXFSZ);
        held = ::pthread_sigmask(SIG_BLOCK, &only, &previous) == 0;
    }
    ~FileSizeSignalHeld() {
        if (!held)
            return;
        const timespec now{0, 0};
        while (::sigtimedwait(&only, nullptr, &now) == SIGXFSZ) {
        }
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    FileSizeSignalHeld(const FileSizeSignalHeld&) = delete;
    FileSizeSignalHeld& operator=(const FileSizeSignalHeld&) = delete;

private:
    sigset_t only{};
    sigset_t previous{};
    bool held = false;
};

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
    const FileSizeSignalHeld sizeLimitFails;
    std::string temp;
    const int fd = CreateTemporary(local, temp);
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
        // The umask decides what others may do; the owner always reads and writes its settings
        // (a script's os.umask(0o777) must not lock the next start out of them).
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = (mode & ~mask) | S_IRUSR | S_IWUSR;
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
    const FileSizeSignalHeld sizeLimitFails;
    std::string temp;
    const int fd = CreateTemporary(local, temp);
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
