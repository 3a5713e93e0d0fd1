#include "engine/Gil.h"

#include "engine/OutputPipe.h"

#include "plugin/EditorServices.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>

namespace outputpipe {
namespace {

// The pipe lives as long as the process, like the interpreter: never destroyed, since the
// reading thread waits on it until the end.
struct Pipe {
    int readEnd = -1;
    int writeEnd = -1; // what descriptors 1 and 2 become
    dev_t device = 0;  // the pipe, told apart from whatever a script puts at 1 or 2
    ino_t inode = 0;
    pid_t owner = 0; // a process forked from the editor reads nothing: the bytes are the editor's
    // One reader at a time: the reading thread, or a caller that wants everything handed over.
    std::mutex mutex;
    Utf8Decoder decoder;
    // Bytes read and not yet decoded, and text decoded and not yet appended: kept when memory
    // runs short (a script under an address-space limit), so that nothing read is lost.
    char held[65536];
    size_t heldLength = 0;
    wxString waiting;
    wxString lastLine; // the text after the last line feed appended
};

Pipe* thePipe = nullptr;
std::atomic<int> readEndForHandler{-1};
std::atomic<int> writeEndForReports{-1};
volatile sig_atomic_t readingStopped = 0;

// Attach and Detach run on the editor's thread only.
bool attached = false;
int editorOut = -1; // the editor's own descriptors 1 and 2 while attached (-1: was closed)
int editorErr = -1;
std::atomic<int> editorStandardError{STDERR_FILENO};

// The longest unfinished line kept: a prompt is short; a line that never ends is not one.
constexpr size_t lastLineLimit = 4096;

void RememberLastLine(Pipe& pipe, const wxString& text) {
    const size_t end = text.rfind('\n');
    if (end == wxString::npos)
        pipe.lastLine += text;
    else
        pipe.lastLine = text.substr(end + 1);
    if (pipe.lastLine.length() > lastLineLimit)
        pipe.lastLine.erase(0, pipe.lastLine.length() - lastLineLimit);
}

enum class Forwarded { all, more, memoryShort };

// Less than this in the pipe is a trickle.
constexpr int trickle = 16 * 1024;

// Hands what the pipe holds to the message output, at most `rounds` reads of it, so that a
// writer that never pauses cannot hold the caller here. PRECONDITION: pipe.mutex is held.
Forwarded Forward(Pipe& pipe, int rounds) {
    CMessageOutput* output = CMessageOutputManagement::Get()->GetMessageOutput(0);
    for (int round = 0; round < rounds && !readingStopped; ++round) {
        try {
            if (pipe.waiting.empty()) {
                if (pipe.heldLength == 0) {
                    const ssize_t got = read(pipe.readEnd, pipe.held, sizeof pipe.held);
                    if (got < 0 && errno == EINTR)
                        continue;
                    if (got <= 0)
                        return Forwarded::all;
                    pipe.heldLength = static_cast<size_t>(got);
                }
                pipe.waiting = pipe.decoder.Decode(pipe.held, pipe.heldLength);
                pipe.heldLength = 0;
            }
            if (!pipe.waiting.empty() && output)
                output->Append(pipe.waiting);
            RememberLastLine(pipe, pipe.waiting);
            pipe.waiting.clear();
        } catch (const std::bad_alloc&) {
            return Forwarded::memoryShort;
        } catch (const std::exception& error) {
            // The editor's Append failed otherwise: the text cannot be shown; the next goes on.
            const std::string what = error.what();
            const int err = editorStandardError;
            if (err >= 0)
                dprintf(err, "Coilhatch: output lost: %s\n", what.c_str());
            pipe.waiting.clear();
        }
    }
    return Forwarded::more;
}

void ForwardForever(Pipe* pipe) {
    pollfd readable = {pipe->readEnd, POLLIN, 0};
    bool waitForMemory = false;
    for (;;) {
        if (waitForMemory) {
            // Memory is short: the script that took it lets it go once its error unwinds.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else {
            const int ready = poll(&readable, 1, -1);
            if (ready < 0 && errno != EINTR)
                return;
            if (ready > 0 && (readable.revents & POLLNVAL))
                return; // a script closed the read end: nothing more can come
            // A trickle of small writes (a print per line) is taken in one piece a moment later
            // rather than one wake-up each; whoever needs it at once drains the pipe.
            int waiting = 0;
            if (ioctl(pipe->readEnd, FIONREAD, &waiting) == 0 && waiting < trickle)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (readingStopped)
            return;
        const std::lock_guard<std::mutex> lock(pipe->mutex);
        waitForMemory = Forward(*pipe, 64) == Forwarded::memoryShort;
    }
}

bool MakePipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    struct stat status;
    if (fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0 || fstat(fds[1], &status) != 0) {
        const int error = errno;
        close(fds[0]);
        close(fds[1]);
        errno = error;
        return false;
    }
    // Room for a burst, so that a writer rarely waits for the reading thread; the system's
    // default where a larger pipe is not allowed.
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    auto* pipe = new Pipe;
    pipe->readEnd = fds[0];
    pipe->writeEnd = fds[1];
    pipe->device = status.st_dev;
    pipe->inode = status.st_ino;
    pipe->owner = getpid();
    try {
        std::thread(ForwardForever, pipe).detach();
    } catch (const std::exception&) {
        close(fds[0]);
        close(fds[1]);
        delete pipe;
        errno = EAGAIN;
        return false;
    }
    thePipe = pipe;
    readEndForHandler = pipe->readEnd;
    writeEndForReports = pipe->writeEnd;
    return true;
}

// Whether the descriptor is the pipe's write end.
bool IsPipe(int fd) {
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode) || status.st_dev != thePipe->device ||
        status.st_ino != thePipe->inode)
        return false;
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) == O_WRONLY;
}

// The pipe's lock. Waited for without the interpreter lock when the caller holds it: the
// reading thread holds the pipe's lock while it appends, and never waits for the interpreter.
std::unique_lock<std::mutex> LockPipe() {
    std::unique_lock<std::mutex> lock(thePipe->mutex, std::defer_lock);
    if (!lock.try_lock()) {
        if (Py_IsInitialized() && ThisThreadHoldsTheLock()) {
            const GilRelease lend;
            lock.lock();
        } else {
            lock.lock();
        }
    }
    return lock;
}

} // namespace

bool Attach() {
    if (attached)
        return true;
    if (!thePipe && !MakePipe()) {
        std::fprintf(stderr, "Coilhatch: cannot make the output pipe: %s\n", std::strerror(errno));
        return false;
    }
    // A descriptor the editor had closed stays closed at Detach.
    editorOut = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    editorErr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    std::fflush(stdout);
    std::fflush(stderr);
    if (dup2(thePipe->writeEnd, STDOUT_FILENO) < 0 || dup2(thePipe->writeEnd, STDERR_FILENO) < 0) {
        const int error = errno;
        if (editorOut >= 0)
            dup2(editorOut, STDOUT_FILENO);
        if (editorErr >= 0)
            dup2(editorErr, STDERR_FILENO);
        for (int* fd : {&editorOut, &editorErr}) {
            if (*fd >= 0)
                close(*fd);
            *fd = -1;
        }
        std::fprintf(stderr, "Coilhatch: cannot redirect the standard output: %s\n",
                     std::strerror(error));
        return false;
    }
    editorStandardError = editorErr;
    attached = true;
    return true;
}

void Detach() {
    if (!attached)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    Drain();
    for (const auto& [fd, editors] :
         {std::make_pair(STDOUT_FILENO, &editorOut), std::make_pair(STDERR_FILENO, &editorErr)}) {
        if (*editors >= 0) {
            dup2(*editors, fd);
            close(*editors);
        } else {
            close(fd);
        }
        *editors = -1;
    }
    editorStandardError = STDERR_FILENO;
    attached = false;
}

void Reclaim() {
    if (!attached)
        return;
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        if (!IsPipe(fd))
            dup2(thePipe->writeEnd, fd);
    }
    // A script that made its standard output non-blocking made the pipe's writes so for good:
    // the descriptors share one open file.
    const int flags = fcntl(thePipe->writeEnd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK))
        fcntl(thePipe->writeEnd, F_SETFL, flags & ~O_NONBLOCK);
}

bool Attached() {
    return attached;
}

int EditorStandardError() {
    return editorStandardError;
}

void Drain() {
    if (!thePipe || getpid() != thePipe->owner)
        return;
    const auto lock = LockPipe();
    Forward(*thePipe, 1024);
}

wxString UnfinishedLine() {
    if (!thePipe)
        return wxString();
    const auto lock = LockPipe();
    return thePipe->lastLine;
}

void StopReading() {
    readingStopped = 1;
}

int ReadEnd() {
    return readEndForHandler;
}

int WriteEnd() {
    return writeEndForReports;
}

Utf8Decoder::Utf8Decoder() : converter(iconv_open("WCHAR_T", "UTF-8")) {}

Utf8Decoder::~Utf8Decoder() {
    if (converter != reinterpret_cast<iconv_t>(-1))
        iconv_close(converter);
}

wxString Utf8Decoder::Decode(const char* bytes, size_t length) {
    // The bytes of a sequence cut at the end of the last part come first.
    std::string data(pending, pendingLength);
    data.append(bytes, length);
    // A character takes at least one byte.
    std::wstring text(data.size(), L'\0');
    char* in = data.data();
    size_t inLeft = data.size();
    char* out = reinterpret_cast<char*>(text.data());
    size_t outLeft = text.size() * sizeof(wchar_t);
    const bool usable = converter != reinterpret_cast<iconv_t>(-1);
    if (usable)
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
    size_t cut = 0;
    while (inLeft > 0) {
        if (usable && iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1))
            break;
        // A sequence cut at the end, when its lead byte can start one at all: the rest comes
        // with the next part.
        const auto lead = static_cast<unsigned char>(*in);
        if (usable && errno == EINVAL && inLeft <= sizeof pending && lead >= 0xC2 && lead <= 0xF4) {
            cut = inLeft;
            break;
        }
        if (usable && errno == E2BIG)
            break; // cannot happen: there is room for a character per byte
        // An invalid sequence: one U+FFFD for its first byte and the continuation bytes after it.
        // (Without a converter, only ASCII passes.)
        const bool ascii = lead < 0x80;
        const wchar_t replacement = ascii ? static_cast<wchar_t>(lead) : L'\xFFFD';
        std::memcpy(out, &replacement, sizeof replacement);
        out += sizeof replacement;
        outLeft -= sizeof replacement;
        ++in;
        --inLeft;
        while (!ascii && inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80) {
            ++in;
            --inLeft;
        }
    }
    const size_t count = text.size() - outLeft / sizeof(wchar_t);
    // The C library takes the old, longer UTF-8 sequences too: what lies beyond Unicode is
    // invalid.
    for (size_t i = 0; i < count; ++i) {
        if (static_cast<unsigned long>(text[i]) > 0x10FFFF)
            text[i] = L'\xFFFD';
    }
    wxString result(text.data(), count);
    // Nothing below throws.
    std::memcpy(pending, in, cut);
    pendingLength = cut;
    return result;
}

} // namespace outputpipe
