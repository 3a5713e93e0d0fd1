// The descriptors behind sys.stdout.fileno() and sys.stderr.fileno(): two descriptors of one
// pipe, so that bytes written through either keep the order they were written in. A thread of
// the engine's own (no Python thread: test tools would count it as a script's) hands what
// arrives to message output 0, decoded as UTF-8 (an invalid sequence becomes U+FFFD; a
// character split between two writes survives). A text written through the Python streams first
// takes everything the pipe holds, so text written both ways keeps its order.
#pragma once

#include "engine/PyRef.h"

#include <wx/string.h>

#include <cstddef>

namespace outputpipe {

// The descriptor of the stream (1: standard output, 2: standard error), made with the pipe and
// its thread at the first call. -1 with a Python error pending on failure.
// PRECONDITION: the calling thread holds the interpreter lock.
int Descriptor(int stream);

// Whether the pipe exists yet.
bool Made();

// Appends `text` (a str) through `append` (a function of one argument that adds it to the
// message output) after everything the pipe holds. Null with a Python error pending on failure.
// PRECONDITION: the calling thread holds the interpreter lock.
PyObject* AppendAfterPipe(PyObject* append, PyObject* text);

// Hands what the pipe holds to the message output now.
// PRECONDITION: the calling thread holds the interpreter lock.
void Drain();

// From now on the reading thread takes no more bytes (a fatal error's handler copies them).
// Async-signal-safe.
void StopReading();

// The pipe's read end, for the fatal-error handler; -1 while there is no pipe.
int ReadEnd();

// Decodes UTF-8 bytes that arrive in parts as Python's decoder does with errors='replace': each
// maximal invalid sequence becomes one U+FFFD, and a sequence cut at the end of a part waits
// for the next.
class Utf8Decoder {
public:
    wxString Decode(const char* bytes, size_t length);

private:
    unsigned char pending[4] = {};
    size_t pendingLength = 0;
};

} // namespace outputpipe
