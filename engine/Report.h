// The one place where Python errors become reports. Once the start-up script has run, the
// interpreter's sys.stderr is the editor's message output, so a report lands there.
//
// PRECONDITION for both: the calling thread holds the interpreter lock.
#pragma once

#include "engine/PyRef.h"

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

// Keeps the pending Python error aside for its lifetime and puts it back at the end. A message
// box runs an event loop, which may run Python code (handlers and wx.CallAfter callbacks that
// scripts set up); that code would otherwise clear the error before it is reported.
// PRECONDITION: the calling thread holds the interpreter lock throughout.
class PendingErrorKeeper {
public:
    PendingErrorKeeper() {
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        pytype = PyRef::Steal(type);
        pyvalue = PyRef::Steal(value);
        pytraceback = PyRef::Steal(traceback);
    }
    ~PendingErrorKeeper() {
        if (pytype)
            PyErr_Restore(pytype.Release(), pyvalue.Release(), pytraceback.Release());
    }

    PendingErrorKeeper(const PendingErrorKeeper&) = delete;
    PendingErrorKeeper& operator=(const PendingErrorKeeper&) = delete;

private:
    PyRef pytype;
    PyRef pyvalue;
    PyRef pytraceback;
};

} // namespace report
