// The embedded interpreter's life: started once per process by the plug-in's attach, and at
// release given its shutdown work (atexit functions, flushing) and then left running until the
// process ends. It is never finalized once wxPython has been loaded: wxPython leaves Python
// callbacks in the editor's own objects (handlers bound to windows or to the application,
// wx.CallAfter, wx.CallLater), windows made from Python may outlive the plug-in, and threads
// that scripts started may never end; each of those would crash or hang the editor after
// Py_Finalize.
//
// Every function here but StartInterpreter needs the interpreter lock (FinalizeInterpreter only
// when an interpreter runs).
#pragma once

#include "engine/PyRef.h"

#include <wx/string.h>

namespace interpreter {

// The name tracebacks give the start-up script.
extern const char startupScriptName[];

// Makes the libpython this library is linked against global, so that extension modules loaded
// later (wx, MpAPI) find its symbols however the editor loaded this library, then starts the
// interpreter. Python's SystemExit never ends the process: it is reported like any other error.
// Python installs no signal handler: SIGINT stays the editor's, also once a script imports
// signal, but while a script runs (process_guards::ScriptInterrupts). SIGPIPE and SIGXFSZ are
// ignored as Python ignores them, unless the editor handles them. The readline module is loaded
// bound to GNU readline, ahead of any import. The locale is a wxPython program's: LC_CTYPE as the
// environment says, every other category "C" (the editor's is put back by RestoreEditorsLocale). An
// interpreter that an earlier release left running is taken over as it is. On success the calling
// thread holds the interpreter lock. On failure the reason has been written to the process's
// standard error and no interpreter runs.
bool StartInterpreter();

// Drops the wxPython atexit handler that would shut the editor's toolkit down, then finalizes the
// interpreter. Used only when wxPython could not be loaded. Harmless when no interpreter runs.
void FinalizeInterpreter();

// Keeps a reference to the application's wxPython wrapper for the rest of the process, so that
// every wx.GetApp() returns the same wrapper (wx.CallAfter connects its handler once).
void KeepApplicationWrapper();

// A file-system text (folder or file name) as Python's str, decoded the way Python decodes
// names it reads from the file system. Null with a Python error pending on failure.
PyRef FileSystemText(const wxString& text);

// Appends the folder to sys.path unless an equal entry is already there. False with a Python
// error pending on failure.
bool AddToSysPath(const wxString& folder);

// Runs the start-up script in the main module, compiled under its own file name, and keeps what
// it set up for the rest of the process: the script loader and the engine's standard streams.
// False with the Python error pending on failure.
bool RunStartupScript();

// Puts the engine's own sys.stdin, sys.stdout and sys.stderr back in place (new ones where a
// script closed them), and descriptors 1 and 2 back to the output pipe, whatever a script or a
// tool left there. The streams are left alone before the start-up script has set them up.
void RestoreStreams();

// Flushes the engine's streams (and sys.stdout, when a script replaced it) and hands what the
// output pipe holds to the message output: what was written so far is there when it returns.
void FlushStreams();

// Gives the pending error's traceback entries that have no line (a script stopped at a loop's
// jump back: "line -1", no source, nothing to go to) the line of the script where it stopped.
// PRECONDITION: the calling thread holds the interpreter lock.
void PlaceLinelessEntries();

// The module of the script at `path` (absolute), loaded from that file under `name` (see
// scriptLoader in engine/startup.py): its top level runs at the first load and, with `reload`,
// on every later call. Null with a Python error pending on failure.
PyRef LoadScript(const wxString& path, const wxString& name, bool reload);

// While the object lives, the folder of a script that runs is first on sys.path, as python3
// puts the folder of the script it runs, so that modules beside the script win over any other
// of the same name; it is taken away at the end (an equal entry of sys.path stays).
// PRECONDITION: the calling thread holds the interpreter lock throughout.
class FolderFirst {
public:
    explicit FolderFirst(const wxString& folder);
    ~FolderFirst();

    FolderFirst(const FolderFirst&) = delete;
    FolderFirst& operator=(const FolderFirst&) = delete;

private:
    PyRef pyentry; // the entry put on sys.path
};

// While the plug-in is attached, the process's locale is as in a wxPython program: the
// categories Python leaves at "C" (all but LC_CTYPE) are "C", so that what scripts save and
// restore of them round-trips as it does outside. The editor's own is kept and put back.
void UsePythonsLocale();
void RestoreEditorsLocale();

// While on: before a modal dialog shows (a message box, an input box, a script's own), what was
// written before it, in Python's buffers or in the output pipe, is put in the message output,
// where the editor may tell of the dialog (batch mode writes a line). The editor's thread takes
// the interpreter lock for it.
void FlushBeforeDialogs(bool on);

// What a run wrote, its report included, is in the message output when the object goes.
// PRECONDITION: the calling thread holds the interpreter lock throughout.
class OutputDelivered {
public:
    OutputDelivered() = default;
    ~OutputDelivered() { FlushStreams(); }

    OutputDelivered(const OutputDelivered&) = delete;
    OutputDelivered& operator=(const OutputDelivered&) = delete;
};

// Python's own shutdown work short of finalizing: the atexit functions of scripts and modules
// (without wxPython's toolkit clean-up) and the flushing of sys.stdout and sys.stderr. Errors
// are reported. Among the atexit functions is sip's: from then on C++ objects made from Python
// no longer call their Python overrides (a wx.CallLater timer falls silent), and destroying
// them no longer touches Python. Handlers bound with Bind or wx.CallAfter still run.
void RunShutdownWork();

} // namespace interpreter
