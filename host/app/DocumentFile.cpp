#include "host/app/DocumentFile.h"

#include <wx/stc/stc.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace document_file {

namespace {

const char bom[] = "\xEF\xBB\xBF";
constexpr size_t bomLength = 3;

std::string Local(const wxString& path) {
    return std::string(path.fn_str());
}

wxString SystemReason(int code) {
    return wxString(std::strerror(code), wxConvLocal);
}

int EolModeOf(const std::string& bytes) {
    const size_t newline = bytes.find_first_of("\r\n");
    if (newline == std::string::npos || bytes[newline] == '\n')
        return wxSTC_EOL_LF;
    return newline + 1 < bytes.size() && bytes[newline + 1] == '\n' ? wxSTC_EOL_CRLF : wxSTC_EOL_CR;
}

// Writes everything, through interruptions; errno is the reason when it returns false.
bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// The file a save replaces: a symbolic link's target, so that the link stays.
std::string SaveTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

} // namespace

bool Read(const wxString& path, wxString& text, Format& format, wxString& error) {
    const int fd = ::open(Local(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = SystemReason(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? wxString("it is a folder") : SystemReason(errno);
        ::close(fd);
        return false;
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = SystemReason(errno);
            ::close(fd);
            return false;
        }
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    if (bytes.find('\0') != std::string::npos) {
        error = "it is a binary file";
        return false;
    }
    format = Format();
    format.eolMode = EolModeOf(bytes);
    size_t start = 0;
    if (bytes.compare(0, bomLength, bom) == 0) {
        format.encoding = Encoding::Utf8WithBom;
        start = bomLength;
    }
    text = wxString::FromUTF8(bytes.data() + start, bytes.size() - start);
    if (text.empty() && bytes.size() > start) {
        format.encoding = Encoding::Latin1;
        text = wxString(bytes.data(), wxConvISO8859_1, bytes.size());
    }
    return true;
}

bool Encode(const std::string& utf8, const Format& format, std::string& bytes, wxString& error) {
    switch (format.encoding) {
    case Encoding::Utf8:
        bytes = utf8;
        return true;
    case Encoding::Utf8WithBom:
        bytes.assign(bom, bomLength);
        bytes += utf8;
        return true;
    case Encoding::Latin1:
        break;
    }
    // The control's text is valid UTF-8: characters up to U+00FF have one or two bytes.
    bytes.clear();
    bytes.reserve(utf8.size());
    int line = 1;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            bytes += static_cast<char>(lead);
            line += lead == '\n';
            ++i;
            continue;
        }
        if ((lead == 0xC2 || lead == 0xC3) && i + 1 < utf8.size()) {
            const auto next = static_cast<unsigned char>(utf8[i + 1]);
            bytes += static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F));
            i += 2;
            continue;
        }
        size_t length = 1;
        while (i + length < utf8.size() && (utf8[i + length] & 0xC0) == 0x80)
            ++length;
        error = wxString::Format("line %d holds \"%s\", which its encoding (Latin-1, as the file "
                                 "was read) cannot hold",
                                 line, wxString::FromUTF8(utf8.data() + i, length));
        return false;
    }
    return true;
}

bool Write(const wxString& path, const std::string& bytes, wxString& error) {
    const std::string target = SaveTarget(Local(path));
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : target.substr(0, slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = folder + "/." + name + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = SystemReason(errno);
        return false;
    }
    // The old file's permissions and owner; a new file's as the process would create it.
    struct stat old {};
    mode_t mode = 0;
    if (::stat(target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Another user's file: it becomes ours, as any editor's save would make it.
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    const bool written =
        ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    const int closeError = errno;
    if (!written || !closed || ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = SystemReason(!written ? writeError : !closed ? closeError : errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace document_file
