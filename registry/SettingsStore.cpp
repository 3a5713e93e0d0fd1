#include "registry/SettingsStore.h"

#include "plugin/Extensions.h"

#include <wx/filename.h>
#include <wx/intl.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Two defaults no settings file holds: a key that reads as both is absent.
const wxString absentA = wxString::FromUTF8("\x01\x02 absent");
const wxString absentB = wxString::FromUTF8("\x01\x03 absent");

// The fields a script section may hold, in the order the registry writes them: a section is
// there when one of them is.
const char* const sectionFields[] = {"autoRun",  "autoReload",  "name",
                                     "location", "description", "shortcut"};

} // namespace

SettingsStore::SettingsStore(const wxString& filePath)
    : path(filePath), config(filePath), edits(FindExtension<MpSettingsExtension2>()),
      extension(edits ? &edits->first : FindExtension<MpSettingsExtension>()) {}

bool SettingsStore::HasKey(const wxString& key) const {
    if (extension)
        return extension->hasKey(*config, key);
    return config->Read(key, absentA) != absentA || config->Read(key, absentB) != absentB;
}

wxArrayString SettingsStore::ChildNames(const wxString& key) const {
    if (extension)
        return extension->childNames(*config, key);
    // Asked for name by name: "Counts", then the numbered sections up to what "Counts" says and
    // on as long as a section was found within a gap's reach.
    wxArrayString names;
    const wxString counts = key + "/Counts";
    unsigned end = probeMargin;
    if (HasKey(counts)) {
        names.push_back("Counts");
        const int claimed = config->ReadInt(counts, 0);
        if (claimed > 0 && claimed < static_cast<int>(probeLimit))
            end += static_cast<unsigned>(claimed);
    }
    for (unsigned n = 0; n < end && n < probeLimit; ++n) {
        const wxString section = wxString::Format("Script%u", n);
        for (const char* field : sectionFields) {
            if (HasKey(key + "/" + section + "/" + field)) {
                names.push_back(section);
                end = std::max(end, n + 1 + probeMargin);
                break;
            }
        }
    }
    return names;
}

wxString SettingsStore::ChildKey(const wxString& key, size_t index) const {
    if (extension)
        return extension->childKey(*config, key, index);
    const wxArrayString names = ChildNames(key);
    return index < names.size() ? key + "/" + names[index] : wxString();
}

bool SettingsStore::IsDamaged() const {
    return extension && extension->isDamaged(*config);
}

bool SettingsStore::IsWhole(const wxString& key) const {
    return !extension || extension->isWhole(*config, key);
}

wxString SettingsStore::DamagedFileCopy() const {
    return extension ? extension->backupPath(*config) : wxString();
}

bool SettingsStore::RemoveChildren(const wxString& key, const std::vector<size_t>& indexes) {
    return edits &&
           edits->removeChildren(*config, key, indexes.data(), indexes.size()) == indexes.size();
}

bool SettingsStore::RenameChild(const wxString& key, size_t index, const wxString& name) {
    return edits && edits->renameChild(*config, key, index, name);
}

bool SettingsStore::HoldsTextAlone(const wxString& key) const {
    return !edits || edits->holdsTextAlone(*config, key);
}

bool SettingsStore::Save() {
    config->Save();
    lastError = extension ? extension->lastError(*config) : wxString();
    if (lastError.empty() && !extension && !ReadsBackAsWritten())
        lastError = wxString::Format(
            wxGetTranslation("\"%s\" does not hold what was written to it."), path);
    return lastError.empty();
}

// Without the editor's word on it, a save succeeded when a store made anew from the file reads
// every key as this one holds it. Only the keys the registry writes are compared.
bool SettingsStore::ReadsBackAsWritten() const {
    const EditorSettings reread(path);
    const wxString counts = "/Coilhatch/Counts";
    const int count = config->ReadInt(counts, -1);
    if (reread->ReadInt(counts, -1) != count)
        return false;
    for (int i = 0; i < count; ++i) {
        for (const char* field : sectionFields) {
            const wxString key = wxString::Format("/Coilhatch/Script%d/%s", i, field);
            if (reread->Read(key, absentA) != config->Read(key, absentA))
                return false;
        }
    }
    return true;
}

namespace {

// The file's bytes; false when it cannot be read.
bool ReadBytes(const wxString& path, std::string& bytes) {
    const int in = ::open(std::string(path.fn_str()).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0)
        return false;
    bytes.clear();
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::read(in, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        bytes.append(buffer, static_cast<size_t>(got > 0 ? got : 0));
    ::close(in);
    return got == 0;
}

bool WriteBytes(const wxString& path, const std::string& bytes) {
    const int out =
        ::open(std::string(path.fn_str()).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(out, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        done += static_cast<size_t>(put);
    }
    return ::close(out) == 0 && done == bytes.size();
}

// A folder of this process's own for trying out stores, removed with whatever the stores left
// in it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string name = std::string(wxFileName::GetTempDir().fn_str()) + "/coilhatch-XXXXXX";
        if (::mkdtemp(name.data()))
            folder = wxString(name.c_str(), wxConvFile);
    }
    ~ScratchFolder() {
        if (!folder.empty())
            wxFileName::Rmdir(folder, wxPATH_RMDIR_RECURSIVE);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Made() const { return !folder.empty(); }
    wxString File(const char* name) const { return folder + "/" + name; }

private:
    wxString folder;
};

// What a store on that path holds once `write` has written into it and it has been saved.
bool Written(const wxString& path, const std::function<void(CConfigManagement&)>& write,
             std::string& bytes) {
    {
        const EditorSettings store(path);
        write(*store);
        store->Save();
    }
    return ReadBytes(path, bytes);
}

// The lines of a text, each without its indentation, in sorted order: a store may put keys
// written into an existing element in another order than into a new one.
std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const size_t first = text.find_first_not_of(" \t\r", start);
        lines.push_back(first < end ? text.substr(first, end - first) : std::string());
        start = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace

bool SettingsStore::HoldsOnly(const std::function<void(CConfigManagement&)>& write) const {
    std::string original;
    if (!wxFileName::FileExists(path) || !ReadBytes(path, original))
        return true;
    // The file's content with `write`'s keys written over it, against `write`'s keys alone: the
    // two agree exactly when the file holds nothing else. The editor's store decides both.
    const ScratchFolder scratch;
    std::string over;
    std::string alone;
    if (!scratch.Made() || !WriteBytes(scratch.File("over.xml"), original) ||
        !Written(scratch.File("over.xml"), write, over) ||
        !Written(scratch.File("alone.xml"), write, alone))
        return true;
    if (SortedLines(over) != SortedLines(alone))
        return false;
    if (extension)
        return true;
    // Without the editor's word on what a value holds: a value with more inside it than its
    // text (a comment, an element) loses it when it is written. Each value the registry reads
    // written back as read must leave the file as the store saves it untouched.
    std::string untouched;
    std::string rewritten;
    if (!WriteBytes(scratch.File("untouched.xml"), original) ||
        !WriteBytes(scratch.File("rewritten.xml"), original) ||
        !Written(
            scratch.File("untouched.xml"), [](CConfigManagement&) {}, untouched))
        return true;
    std::vector<wxString> keys = {"/Coilhatch/Counts"};
    for (const wxString& section : ChildNames("/Coilhatch")) {
        for (const char* field : sectionFields)
            keys.push_back("/Coilhatch/" + section + "/" + field);
    }
    const SettingsStore reading(path);
    std::vector<std::pair<wxString, wxString>> values;
    for (const wxString& key : keys) {
        if (reading.HasKey(key))
            values.emplace_back(key, reading.Config().Read(key, wxString()));
    }
    if (!Written(
            scratch.File("rewritten.xml"),
            [&values](CConfigManagement& store) {
                for (const auto& [key, value] : values)
                    store.Write(key, value, false);
            },
            rewritten))
        return true;
    return SortedLines(untouched) == SortedLines(rewritten);
}

wxString SettingsLock::LockPath(const wxString& settingsPath) {
    const wxFileName file(settingsPath);
    return wxFileName(file.GetPath(), "." + file.GetFullName() + ".lock").GetFullPath();
}

SettingsLock::SettingsLock(const wxString& settingsPath, int patience) {
    const wxString lockPath = LockPath(settingsPath);
    const std::string local(lockPath.fn_str());
    fd = ::open(local.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0666);
    // A lock file another user made may be ours to read only: that locks as well.
    if (fd < 0 && errno == EACCES)
        fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        why = wxString::Format(wxGetTranslation("the lock file \"%s\" cannot be opened (%s)"),
                               lockPath, wxString(std::strerror(errno)));
        return;
    }
    // Made under a script's umask of 0777, the next editor could not open it.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() &&
        (st.st_mode & (S_IRUSR | S_IWUSR)) != (S_IRUSR | S_IWUSR))
        ::fchmod(fd, (st.st_mode & 07777) | S_IRUSR | S_IWUSR);
    // Another save holds it for milliseconds; a little wait, growing, until it is free.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patience);
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            held = true;
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(10000));
    }
    busy = errno == EWOULDBLOCK;
    if (busy) {
        wxString holder = HolderOf(fd);
        if (holder.empty())
            holder = wxGetTranslation("another process");
        why = wxString::Format(wxGetTranslation("%s has held the lock file \"%s\" for more than "
                                                "%d seconds"),
                               holder, lockPath, patience / 1000);
    } else {
        why = wxString::Format(wxGetTranslation("the lock file \"%s\" cannot be locked (%s)"),
                               lockPath, wxString(std::strerror(errno)));
    }
}

wxString SettingsLock::HolderOf(int lockFd) {
    struct stat st {};
    if (::fstat(lockFd, &st) != 0)
        return wxString();
    // Lines of /proc/locks: "1: FLOCK  ADVISORY  WRITE 4242 08:01:131090 0 EOF"; a waiter's
    // line has "->" after the number.
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    long pid = 0;
    for (std::string line; pid == 0 && std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, process, file;
        if (fields >> number >> kind >> mode >> access >> process >> file && kind == "FLOCK" &&
            file == device)
            pid = std::atol(process.c_str());
    }
    if (pid <= 0)
        return wxString();
    std::string name;
    std::ifstream(wxString::Format("/proc/%ld/comm", pid).ToStdString()) >> name;
    // The state follows the name in parentheses: T stopped by a signal, t by a debugger.
    std::string stat;
    std::getline(std::ifstream(wxString::Format("/proc/%ld/stat", pid).ToStdString()), stat);
    const size_t close = stat.rfind(')');
    const char state = close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
    wxString text = name.empty() ? wxString::Format(wxGetTranslation("process %ld"), pid)
                                 : wxString::Format(wxGetTranslation("process %ld (%s)"), pid,
                                                    wxString::FromUTF8(name));
    if (state == 'T' || state == 't')
        text += wxGetTranslation(", which is stopped,");
    return text;
}

SettingsLock::~SettingsLock() {
    if (fd >= 0)
        ::close(fd); // lets go of the lock
}

wxString FreeCopyName(const wxString& path) {
    wxString candidate = path + ".bak";
    for (int i = 1; wxFileName::Exists(candidate, wxFILE_EXISTS_ANY | wxFILE_EXISTS_NO_FOLLOW); ++i)
        candidate = wxString::Format("%s.bak%d", path, i);
    return candidate;
}

bool KeepFileCopy(const wxString& path, wxString& copy, wxString& error) {
    const std::string source = std::string(path.fn_str());
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st {};
    int failure = 0;
    int out = -1;
    if (in < 0 || ::fstat(in, &st) != 0) {
        failure = errno;
    } else {
        // A name taken meanwhile is passed over: O_EXCL never replaces a file.
        for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
            copy = FreeCopyName(path);
            out = ::open(std::string(copy.fn_str()).c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, keptFileMode);
            if (out < 0 && errno != EEXIST)
                break;
        }
        if (out < 0)
            failure = errno;
        // The umask may have taken the owner's own bits away (a script's os.umask(0o777)).
        else if (::fchmod(out, keptFileMode) != 0)
            failure = errno;
    }
    bool ok = out >= 0 && failure == 0;
    char buffer[65536];
    while (ok) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            ok = put > 0;
            done += put > 0 ? put : 0;
        }
    }
    if (!ok && failure == 0)
        failure = errno;
    if (out >= 0 && ::fsync(out) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (out >= 0 && ::close(out) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (in >= 0)
        ::close(in);
    if (!ok) {
        if (out >= 0)
            ::unlink(std::string(copy.fn_str()).c_str());
        copy.clear();
        error = wxString::Format(wxGetTranslation("\"%s\" could not be kept as a backup (%s)."),
                                 path, wxString(std::strerror(failure ? failure : EIO)));
    }
    return ok;
}
