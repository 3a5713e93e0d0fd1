#include "engine/OutputPipe.h"

#include "engine/Gil.h"
#include "plugin/EditorServices.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cassert>
#include <cerrno>
#include <mutex>
#include <string>
#include <thread>

namespace outputpipe {
namespace {

// The pipe lives as long as the process, like the interpreter: never destroyed, since the
// reading thread waits on it until the end.
struct Pipe {
    int readEnd = -1;
    int outEnd = -1; // standard output's descriptor
    int errEnd = -1; // standard error's: a second descriptor of the same pipe
    // One reader at a time, and a text written through a stream goes in between two reads.
    std::mutex mutex;
    Utf8Decoder decoder;
};

Pipe* thePipe = nullptr;
std::atomic<int> readEndForHandler{-1};
volatile sig_atomic_t readingStopped = 0;

// Hands what the pipe holds to the message output. Bounded, so that a writer that never pauses
// cannot hold the caller here. PRECONDITION: pipe.mutex is held.
void Forward(Pipe& pipe) {
    CMessageOutput* output = CMessageOutputManagement::Get()->GetMessageOutput(0);
    char buffer[65536];
    for (int round = 0; round < 64 && !readingStopped; ++round) {
        const ssize_t got = read(pipe.readEnd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
        const wxString text = pipe.decoder.Decode(buffer, static_cast<size_t>(got));
        if (!text.empty() && output)
            output->Append(text);
    }
}

void ForwardForever(Pipe* pipe) {
    pollfd readable = {pipe->readEnd, POLLIN, 0};
    for (;;) {
        if (poll(&readable, 1, -1) < 0 && errno != EINTR)
            return;
        if (readingStopped)
            return;
        const std::lock_guard<std::mutex> lock(pipe->mutex);
        Forward(*pipe);
    }
}

bool MakePipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        PyErr_SetFromErrno(PyExc_OSError);
        return false;
    }
    const int errEnd = fcntl(fds[1], F_DUPFD_CLOEXEC, 3);
    if (errEnd < 0 || fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0) {
        PyErr_SetFromErrno(PyExc_OSError);
        close(fds[0]);
        close(fds[1]);
        if (errEnd >= 0)
            close(errEnd);
        return false;
    }
    auto* pipe = new Pipe;
    pipe->readEnd = fds[0];
    pipe->outEnd = fds[1];
    pipe->errEnd = errEnd;
    try {
        std::thread(ForwardForever, pipe).detach();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
        close(fds[0]);
        close(fds[1]);
        close(errEnd);
        delete pipe;
        return false;
    }
    thePipe = pipe;
    readEndForHandler = pipe->readEnd;
    return true;
}

} // namespace

int Descriptor(int stream) {
    assert(PyGILState_Check());
    // Made under the interpreter lock, which every caller holds.
    if (!thePipe && !MakePipe())
        return -1;
    return stream == 2 ? thePipe->errEnd : thePipe->outEnd;
}

bool Made() {
    return thePipe != nullptr;
}

namespace {

// The pipe's lock, waited for without the interpreter lock: the reading thread holds the pipe's
// lock while it appends, and never waits for the interpreter lock.
std::unique_lock<std::mutex> LockPipe() {
    std::unique_lock<std::mutex> lock(thePipe->mutex, std::defer_lock);
    if (!lock.try_lock()) {
        const GilRelease lend;
        lock.lock();
    }
    return lock;
}

} // namespace

PyObject* AppendAfterPipe(PyObject* append, PyObject* text) {
    assert(PyGILState_Check());
    if (!thePipe)
        return PyObject_CallOneArg(append, text);
    const auto lock = LockPipe();
    Forward(*thePipe);
    return PyObject_CallOneArg(append, text);
}

void Drain() {
    assert(PyGILState_Check());
    if (!thePipe)
        return;
    const auto lock = LockPipe();
    Forward(*thePipe);
}

void StopReading() {
    readingStopped = 1;
}

int ReadEnd() {
    return readEndForHandler;
}

wxString Utf8Decoder::Decode(const char* bytes, size_t length) {
    wxString text;
    text.reserve(length);
    // The bytes of a sequence cut at the end of the last part come first.
    std::string data(reinterpret_cast<const char*>(pending), pendingLength);
    data.append(bytes, length);
    pendingLength = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    const size_t size = data.size();
    size_t i = 0;
    while (i < size) {
        const unsigned char lead = in[i];
        if (lead < 0x80) {
            text += wxUniChar(lead);
            ++i;
            continue;
        }
        size_t need = 0;
        unsigned char low = 0x80, high = 0xBF; // the range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            text += wxUniChar(0xFFFD);
            ++i;
            continue;
        }
        // The valid continuation bytes that follow the lead byte.
        size_t valid = 0;
        while (valid < need && i + 1 + valid < size) {
            const unsigned char next = in[i + 1 + valid];
            const bool inRange =
                valid == 0 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
            if (!inRange)
                break;
            ++valid;
        }
        if (valid == need) {
            unsigned long code = lead & (need == 1 ? 0x1F : need == 2 ? 0x0F : 0x07);
            for (size_t k = 1; k <= need; ++k)
                code = (code << 6) | (in[i + k] & 0x3F);
            text += wxUniChar(static_cast<wxUint32>(code));
            i += need + 1;
        } else if (i + 1 + valid == size) {
            // Cut at the end: the rest comes with the next part.
            pendingLength = size - i;
            for (size_t k = 0; k < pendingLength; ++k)
                pending[k] = in[i + k];
            break;
        } else {
            text += wxUniChar(0xFFFD);
            i += valid + 1;
        }
    }
    return text;
}

} // namespace outputpipe
