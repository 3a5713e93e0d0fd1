#include "engine/Gil.h"

#include "engine/OutputPipe.h"

#include "engine/Report.h"
#include "plugin/Extensions.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <thread>

namespace outputpipe {
namespace {

// The pipe lives as long as the process, like the interpreter: never destroyed, since its two
// threads wait on it until the end. The module that holds this code pins itself in memory for
// the same reason (see plugin/Entry.cpp).
//
// Two threads of the engine's own (no Python threads: test tools would count them as a
// script's) carry the text. The reader takes whatever arrives in the pipe at once and queues
// it, decoded; it never waits for the interpreter, so a writer never blocks on it, whoever
// holds the interpreter lock. The deliverer hands the queued text to the message output through
// the editor's Python module, holding the interpreter lock with a thread state of its own.
struct Pipe {
    int readEnd = -1;
    int writeEnd = -1; // what descriptors 1 and 2 become
    dev_t device = 0;  // the pipe, told apart from whatever a script puts at 1 or 2
    ino_t inode = 0;
    pid_t owner = 0; // a process forked from the editor reads nothing: the bytes are the editor's

    // Reading the pipe and the queue. Held for short moments only, never while waiting for the
    // interpreter lock.
    std::mutex inMutex;
    std::condition_variable arrived;
    Utf8Decoder decoder;
    // Bytes read and not yet decoded: kept when memory runs short (a script under an
    // address-space limit), so that nothing read is lost.
    char held[65536];
    size_t heldLength = 0;
    std::deque<wxString> queued; // decoded, not yet delivered, oldest first
    size_t queuedLength = 0;
    size_t droppedLength = 0;         // older text left out when more than the queue keeps arrived
    wxString lastLine;                // the text after the last line feed read
    std::uint64_t readCount = 0;      // pieces queued so far
    std::uint64_t deliveredCount = 0; // pieces delivered so far
    std::condition_variable delivered;

    // Held by whoever delivers, from taking text off the queue until it has been handed over,
    // so that text reaches the output in the order it was read.
    std::mutex orderMutex;
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

// The editor's Append of message output 0, as MpAPI gives it, taken before any script could
// wrap or replace it; null when the module could not give it (the text then goes to the
// editor's standard error). Set on the editor's thread holding the interpreter lock before the
// deliverer starts, and kept for the process's life.
PyObject* editorsAppend = nullptr;

// The longest unfinished line kept: a prompt is short; a line that never ends is not one.
constexpr size_t lastLineLimit = 4096;
// The most text queued. Past it the reader waits for the deliverer, and so the writers for the
// pipe, as for a terminal that is slow to show: nothing is lost. Only when the deliverer has
// handed nothing over for `stallLimit` (a thread that holds the interpreter lock writes to the
// full pipe, and waits for the reader that waits for it) does the reader take more, and the
// oldest queued text is left out: the newest, all that the message output keeps, is there.
constexpr size_t queueLimit = 8 * 1024 * 1024;
constexpr auto stallLimit = std::chrono::seconds(2);
// Less than this in the pipe is a trickle.
constexpr int trickle = 16 * 1024;

void ToEditorStandardError(const wxString& text) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    WriteAll(editorStandardError, utf8.data(), utf8.length());
}

void RememberLastLine(Pipe& pipe, const wxString& text) {
    const size_t end = text.rfind('\n');
    if (end == wxString::npos)
        pipe.lastLine += text;
    else
        pipe.lastLine = text.substr(end + 1);
    if (pipe.lastLine.length() > lastLineLimit)
        pipe.lastLine.erase(0, pipe.lastLine.length() - lastLineLimit);
}

// Reads what the pipe holds now, at most `rounds` reads of it, and queues it decoded; it stops
// once the queue is full, unless `dropOldest`, when the oldest text makes room. False when
// memory ran short (what was read is held for the next call).
// PRECONDITION: pipe.inMutex is held.
bool ReadIntoQueue(Pipe& pipe, int rounds, bool dropOldest = false) {
    for (int round = 0; round < rounds && !readingStopped; ++round) {
        if (pipe.queuedLength > queueLimit && !dropOldest)
            return true;
        try {
            if (pipe.heldLength == 0) {
                const ssize_t got = read(pipe.readEnd, pipe.held, sizeof pipe.held);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    return true;
                pipe.heldLength = static_cast<size_t>(got);
            }
            wxString text = pipe.decoder.Decode(pipe.held, pipe.heldLength);
            pipe.heldLength = 0;
            if (text.empty())
                continue;
            RememberLastLine(pipe, text);
            pipe.queuedLength += text.length();
            pipe.queued.push_back(std::move(text));
            ++pipe.readCount;
            while (dropOldest && pipe.queuedLength > queueLimit && pipe.queued.size() > 1) {
                pipe.queuedLength -= pipe.queued.front().length();
                pipe.droppedLength += pipe.queued.front().length();
                pipe.queued.pop_front();
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return true;
}

// Takes everything queued, joined, with a note of what was left out before it.
// PRECONDITION: pipe.inMutex is held.
wxString TakeQueued(Pipe& pipe, std::uint64_t& upTo) {
    wxString text;
    if (pipe.droppedLength > 0)
        text =
            wxString::Format("[... %zu characters of output left out ...]\n", pipe.droppedLength);
    text.reserve(text.length() + pipe.queuedLength);
    for (const wxString& piece : pipe.queued)
        text += piece;
    pipe.queued.clear();
    pipe.queuedLength = 0;
    pipe.droppedLength = 0;
    upTo = pipe.readCount;
    return text;
}

// Hands the text to the message output. A failure of the editor's Append is said on the
// editor's standard error, and the next text goes on.
// PRECONDITION: the calling thread holds the interpreter lock.
void Deliver(const wxString& text) {
    assert(PyGILState_Check());
    if (text.empty())
        return;
    if (!editorsAppend) {
        ToEditorStandardError(text);
        return;
    }
    const report::PendingErrorKeeper keep; // a script's own error stays as it was
    PyRef pytext = PyRef::Steal(PyUnicode_FromWideChar(text.wc_str(), text.length()));
    PyRef pyresult =
        pytext ? PyRef::Steal(PyObject_CallOneArg(editorsAppend, pytext.Get())) : PyRef();
    if (!pyresult)
        ToEditorStandardError("Coilhatch: output lost: " + report::TakeErrorLine() + "\n");
}

void MarkDelivered(Pipe& pipe, std::uint64_t upTo) {
    {
        const std::lock_guard<std::mutex> lock(pipe.inMutex);
        pipe.deliveredCount = std::max(pipe.deliveredCount, upTo);
    }
    pipe.delivered.notify_all();
}

void ReadForever(Pipe* pipe) {
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
        {
            std::unique_lock<std::mutex> lock(pipe->inMutex);
            bool stalled = false;
            if (pipe->queuedLength > queueLimit) {
                pipe->arrived.notify_one();
                stalled = !pipe->delivered.wait_for(
                    lock, stallLimit, [pipe] { return pipe->queuedLength <= queueLimit; });
            }
            waitForMemory = !ReadIntoQueue(*pipe, 64, stalled);
        }
        pipe->arrived.notify_one();
    }
}

void DeliverForever(Pipe* pipe, OwnThreadState& own) {
    for (;;) {
        std::unique_lock<std::mutex> order(pipe->orderMutex);
        wxString text;
        std::uint64_t upTo = 0;
        {
            std::unique_lock<std::mutex> in(pipe->inMutex);
            if (pipe->queued.empty() && pipe->droppedLength == 0) {
                // Waiting for text, the order is not held: a drain may deliver meanwhile.
                order.unlock();
                pipe->arrived.wait(in, [pipe] { return !pipe->queued.empty() || readingStopped; });
                if (readingStopped)
                    return;
                in.unlock();
                continue;
            }
            try {
                text = TakeQueued(*pipe, upTo);
            } catch (const std::bad_alloc&) {
                in.unlock();
                order.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
        }
        {
            const OwnThreadState::Hold gil(own);
            Deliver(text);
        }
        MarkDelivered(*pipe, upTo);
    }
}

// The editor's Append of output 0, looked up in MpAPI; null, with the reason said on the
// editor's standard error, when it cannot be had.
// PRECONDITION: the calling thread holds the interpreter lock.
PyObject* FindEditorsAppend() {
    assert(PyGILState_Check());
    const report::PendingErrorKeeper keep;
    PyRef pymodule = PyRef::Steal(PyImport_ImportModule("MpAPI"));
    PyRef pymanagement = pymodule ? PyRef::Steal(PyObject_CallMethod(
                                        pymodule.Get(), "CMessageOutputManagement_Get", nullptr))
                                  : PyRef();
    PyRef pyoutput =
        pymanagement
            ? PyRef::Steal(PyObject_CallMethod(pymanagement.Get(), "GetMessageOutput", "i", 0))
            : PyRef();
    PyRef pyappend =
        pyoutput ? PyRef::Steal(PyObject_GetAttrString(pyoutput.Get(), "Append")) : PyRef();
    if (!pyappend || !PyCallable_Check(pyappend.Get())) {
        const wxString why = report::TakeErrorLine();
        ToEditorStandardError("Coilhatch: the editor's message output cannot be reached through "
                              "its Python module MpAPI (" +
                              (why.empty() ? wxString("Append is not callable") : why) +
                              "): Python's output goes to the standard error stream.\n");
        return nullptr;
    }
    return pyappend.Release();
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
        std::thread(ReadForever, pipe).detach();
    } catch (const std::exception&) {
        close(fds[0]);
        close(fds[1]);
        delete pipe;
        errno = EAGAIN;
        return false;
    }
    try {
        StartOwnThread([pipe](OwnThreadState& own) { DeliverForever(pipe, own); });
    } catch (const std::exception&) {
        // The reader runs on; what it queues is delivered by drains alone.
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

// A lock waited for without the interpreter lock when the caller holds it: the deliverer holds
// the order while it waits for the interpreter lock.
std::unique_lock<std::mutex> LockLendingTheInterpreter(std::mutex& mutex) {
    std::unique_lock<std::mutex> lock(mutex, std::defer_lock);
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
    if (!thePipe) {
        assert(PyGILState_Check());
        editorsAppend = FindEditorsAppend();
    }
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
    Pipe& pipe = *thePipe;
    if (Py_IsInitialized() && ThisThreadHoldsTheLock()) {
        // Delivered here, in order after whatever the deliverer has taken already.
        const auto order = LockLendingTheInterpreter(pipe.orderMutex);
        wxString text;
        std::uint64_t upTo = 0;
        {
            const std::lock_guard<std::mutex> in(pipe.inMutex);
            ReadIntoQueue(pipe, 1024);
            try {
                text = TakeQueued(pipe, upTo);
            } catch (const std::bad_alloc&) {
                return; // the deliverer hands it over once memory is back
            }
        }
        Deliver(text);
        MarkDelivered(pipe, upTo);
        return;
    }
    // Another thread (one without Python, or the interpreter is gone): the deliverer hands
    // over what the pipe holds now, and this thread waits until it has, or the interpreter lock
    // is kept by a thread that never gives it back (the plug-in was released).
    std::unique_lock<std::mutex> in(pipe.inMutex);
    ReadIntoQueue(pipe, 1024);
    const std::uint64_t upTo = pipe.readCount;
    in.unlock();
    pipe.arrived.notify_one();
    in.lock();
    pipe.delivered.wait_for(in, std::chrono::seconds(1),
                            [&pipe, upTo] { return pipe.deliveredCount >= upTo; });
}

void WriteAll(int fd, const char* data, size_t length) {
    while (fd >= 0 && length > 0) {
        const ssize_t put = write(fd, data, length);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        data += put;
        length -= static_cast<size_t>(put);
    }
}

bool ShownAsOnATerminal() {
    if (!EditorInBatchMode())
        return true;
    const int editors = attached ? editorOut : STDOUT_FILENO;
    return editors >= 0 && isatty(editors);
}

void Say(const wxString& text) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    const int pipe = attached ? writeEndForReports.load() : -1;
    WriteAll(pipe >= 0 ? pipe : editorStandardError.load(), utf8.data(), utf8.length());
    // Shown before whatever the caller shows next.
    if (pipe >= 0)
        Drain();
}

wxString UnfinishedLine() {
    if (!thePipe)
        return wxString();
    const std::lock_guard<std::mutex> in(thePipe->inMutex);
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
