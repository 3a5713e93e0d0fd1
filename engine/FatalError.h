// A fatal error (a crash in C code, an abort) must not take its report with it. Python's
// faulthandler writes the report ("Fatal Python error: ..." and the stack of every Python
// thread) to a file in memory; a handler of the engine's own, which faulthandler calls after
// it, copies that report and whatever the output pipe still holds to the editor's own standard
// error and to the file "Coilhatch.crash" in the plug-ins folder, then lets the signal end the
// process as before. The next start shows that file's report in the message output, once.
#pragma once

#include <wx/string.h>

namespace fatalerror {

// The name of the report's file in the plug-ins folder.
extern const char reportFileName[];

// Installs the handlers and enables faulthandler. Errors are reported in the message output.
// PRECONDITION: the calling thread holds the interpreter lock; the engine's streams are set up.
void Watch(const wxString& pluginsFolder);

// The report the last run left in the plug-ins folder, shown in message output 0 with a line
// that says what it is; the file is removed. Nothing when there is none.
void ShowLastReport(const wxString& pluginsFolder);

} // namespace fatalerror
