// Toolkit assertions that fail in calls made from Python code are told to that code as a
// wxPython program tells them: wx.wxAssertionError is raised where the call returns (its
// traceback in the output), never a modal "An assertion failed!" dialog that a script's run
// cannot answer. The application's assert mode (wx.GetApp().SetAssertMode) chooses, as in
// wxPython: exception (the default), suppress, log, or the editor's own handling (dialog).
// Assertions that fail in the editor's own code, with no Python code running on the thread,
// keep the editor's handling.
#pragma once

namespace assertions {

// Puts the engine's assertion handler in front of the editor's (unless the editor turned
// assertions off). PRECONDITION: the calling thread holds the interpreter lock; wx is imported.
void Install();

// Gives the editor its own handler back.
void Uninstall();

// The application's assert mode, a combination of wxPython's wx.APP_ASSERT_* flags.
void SetMode(int mode);

} // namespace assertions
