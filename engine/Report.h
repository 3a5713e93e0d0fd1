// The one place where Python errors become reports. Once the start-up script has run, the
// interpreter's sys.stderr is the editor's message output, so a report lands there.
//
// PRECONDITION for both: the calling thread holds the interpreter lock.
#pragma once

#include "engine/PyRef.h"

#include <wx/string.h>

namespace report {

// Prints the pending Python error, if any, with its traceback to sys.stderr and clears it.
// SystemExit is printed like any other error: the interpreter never ends the editor.
void PrintPythonError();

// A normal end of a script: when the pending error is SystemExit without a code or with code 0
// (sys.exit(), sys.exit(0), sys.exit(None), raise SystemExit), clears it and returns true. Any
// other error stays pending, and the result is false.
bool EndedQuietly();

// Closes the report of a failed run: prints the pending Python error (if any), then runs
// "sys.stderr.showmsg()", which adds a time stamp and a separator line.
void ReportFailure();
// The same, with the traceback printed as the traceback module prints it: it also shows the
// lines of code that has no file of its own, from linecache (a document never saved).
void ReportFailureWithCachedLines();

// The pending Python error taken out of the interpreter: its type, value and traceback, owned.
// Restore() makes it pending again; otherwise it is dropped with the object.
// PRECONDITION: the calling thread holds the interpreter lock.
struct FetchedError {
    PyRef type;
    PyRef value;
    PyRef traceback;

    // Takes the pending error (none: three empty references); normalized, value is an exception
    // instance.
    static FetchedError Take(bool normalize) {
        PyObject* rawType = nullptr;
        PyObject* rawValue = nullptr;
        PyObject* rawTraceback = nullptr;
        PyErr_Fetch(&rawType, &rawValue, &rawTraceback);
        if (normalize && rawType)
            PyErr_NormalizeException(&rawType, &rawValue, &rawTraceback);
        return {PyRef::Steal(rawType), PyRef::Steal(rawValue), PyRef::Steal(rawTraceback)};
    }

    void Restore() {
        if (type)
            PyErr_Restore(type.Release(), value.Release(), traceback.Release());
    }
};

// Keeps the pending Python error aside for its lifetime and puts it back at the end. A message
// box runs an event loop, which may run Python code (handlers and wx.CallAfter callbacks that
// scripts set up); that code would otherwise clear the error before it is reported.
// PRECONDITION: the calling thread holds the interpreter lock throughout.
class PendingErrorKeeper {
public:
    PendingErrorKeeper() : error(FetchedError::Take(false)) {}
    ~PendingErrorKeeper() { error.Restore(); }

    PendingErrorKeeper(const PendingErrorKeeper&) = delete;
    PendingErrorKeeper& operator=(const PendingErrorKeeper&) = delete;

private:
    FetchedError error;
};

// Takes the pending Python error out and says it in one line, as the last line of its traceback
// reads ("ValueError: bad value"); empty when none is pending.
wxString TakeErrorLine();

} // namespace report
