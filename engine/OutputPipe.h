// The output pipe: while the plug-in is attached, descriptors 1 and 2 of the process are the
// write ends of one pipe, so that everything written to them (Python's sys.stdout and
// sys.stderr, os.write(1, ...), C libraries, child processes that inherit them) reaches message
// output 0 in the order it was written. Threads of the engine's own read the pipe and hand what
// arrives, decoded as UTF-8 (invalid bytes become U+FFFD; a character cut between two reads
// survives), to the message output through the editor's Python module (MpAPI's Append, under
// the interpreter lock), the one way the editor offers plug-ins to its message output. Where
// MpAPI cannot give it, the text goes to the editor's standard error. The editor's own standard
// output and error are kept as private duplicates and put back when the plug-in is released.
//
// None of these needs the interpreter lock; those that may wait give it away meanwhile when the
// calling thread holds it.
#pragma once

#include <wx/string.h>

#include <iconv.h>

#include <cstddef>

namespace outputpipe {

// Makes descriptors 1 and 2 the pipe (made, with its threads, at the first call), after keeping
// duplicates of what they were. False, with the reason written to the editor's standard error,
// when the pipe cannot be made; the descriptors are then left as they are. The first call looks
// up MpAPI's Append of message output 0, before any script can wrap it.
// PRECONDITION: the calling thread holds the interpreter lock, and the editor's program folder
// is on sys.path.
bool Attach();

// Hands what the pipe holds to the message output, then puts the editor's own descriptors 1
// and 2 back. Nothing when not attached.
void Detach();

// While attached: descriptors 1 and 2 that a script closed or replaced (dup2) are the pipe
// again, and writes to it block again where a script made them non-blocking.
void Reclaim();

// Whether descriptors 1 and 2 are the pipe's (Attach succeeded and Detach has not run).
bool Attached();

// The editor's own standard error: its private duplicate while attached, 2 otherwise.
// Async-signal-safe.
int EditorStandardError();

// Hands what the pipe holds now to the message output before it returns. Nothing in a process
// forked from the editor.
void Drain();

// Writes all of it to the descriptor, going on after interruptions and partial writes; gives up
// at an error. Nothing for a negative descriptor. Async-signal-safe.
void WriteAll(int fd, const char* data, size_t length);

// Whether what reaches the message output is read as on a terminal: a person watches the
// editor, or the editor (in batch mode, when it says so) writes it to a terminal. Python's
// standard output is line-buffered then, block-buffered otherwise, as python3's own.
bool ShownAsOnATerminal();

// The plug-in's own message (UTF-8, whole lines): to the message output through the pipe, after
// what was written before it, while attached; to the editor's standard error otherwise (before
// Python is up, after the release). Any thread.
void Say(const wxString& text);

// The text after the last line feed that reached the message output through the pipe (what a
// terminal shows on its current line: the prompt that input() wrote). At most a few thousand
// characters, its end.
wxString UnfinishedLine();

// From now on the reading thread takes no more bytes (a fatal error's handler copies them).
// Async-signal-safe.
void StopReading();

// The pipe's read end, for the fatal-error handler; -1 while there is no pipe.
int ReadEnd();

// The pipe's own write end (not 1 or 2, which a script may take): a report that must reach the
// output whatever a script did goes there. -1 while there is no pipe. Async-signal-safe.
int WriteEnd();

// Decodes UTF-8 that arrives in parts, with the C library's converter (iconv): each stretch of
// invalid bytes becomes U+FFFD, and a sequence cut at the end of a part waits for the next.
// Strong guarantee: when Decode throws (out of memory), nothing has changed.
class Utf8Decoder {
public:
    Utf8Decoder();
    ~Utf8Decoder();
    Utf8Decoder(const Utf8Decoder&) = delete;
    Utf8Decoder& operator=(const Utf8Decoder&) = delete;

    wxString Decode(const char* bytes, size_t length);

private:
    iconv_t converter;
    char pending[4] = {};
    size_t pendingLength = 0;
};

} // namespace outputpipe
