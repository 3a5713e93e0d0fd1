// The one place where Python errors become reports. Once the start-up script has run, the
// interpreter's sys.stderr is the editor's message output, so a report lands there.
//
// PRECONDITION for both: the calling thread holds the interpreter lock.
#pragma once

namespace report {

// Prints the pending Python error, if any, with its traceback to sys.stderr and clears it.
// SystemExit is printed like any other error: the interpreter never ends the editor.
void PrintPythonError();

// Closes the report of a failed run: prints the pending Python error (if any), then runs
// "sys.stderr.showmsg()", which adds a time stamp and a separator line.
void ReportFailure();

} // namespace report
