// The editor's Python console: wxPython's shell in a window of the editor, whose commands see
// MpAPI, wx, `editor` (the current editor, bound afresh before each command) and `frame` (the
// editor's main window). There is one console; its Python side is engine/console.py, compiled
// into the library.
#pragma once

#include "engine/PyRef.h"

class wxWindow;

namespace console {

// Opens the console, or brings it forward when it is open. A failure is reported in the message
// output. PRECONDITION: the engine runs (the calling thread need not hold the interpreter lock).
bool Show();

// The console's window while it is open, else null.
wxWindow* Window();

// The console's Python module, made at the first call and kept for the rest of the process.
// Null with a Python error pending on failure. PRECONDITION: the calling thread holds the
// interpreter lock.
PyRef Module();

} // namespace console
