// The plug-in object's core: its description, its event table, and the start and stop of the
// embedded Python engine.
#include "engine/Gil.h"

#include "engine/Coilhatch.h"

#include "engine/Assertions.h"
#include "engine/Console.h"
#include "engine/DocumentRunner.h"
#include "engine/FatalError.h"
#include "engine/Interpreter.h"
#include "engine/OutputPipe.h"
#include "engine/ProcessGuards.h"
#include "engine/Report.h"
#include "engine/Runner.h"
#include "engine/Watchdog.h"
#include "plugin/EditorServices.h"

#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>

#include <dlfcn.h>

#include <cassert>
#include <chrono>
#include <thread>

const wchar_t* const pluginNameText = L"Coilhatch";

// Drawn while the library is loaded, before the event table below is built from it.
const int scriptManagementId = wxNewId();

CCoilhatch::CCoilhatch()
    : threadState(nullptr), wxPythonLoaded(false),
      menu(*this, scriptManagementId,
           {[this] { return IsEngineRunning(); },
            [this](const wxString& path, bool reload, const wxString& title) {
                return RunScript(path, reload, title);
            },
            [this]() -> wxWindow* {
                return IsEngineRunning() && console::Show() ? console::Window() : nullptr;
            },
            [this] { return IsEngineRunning() && document::RunCurrent(); },
            [this] { registry.SaveChanges(); }, outputpipe::Say}),
      completion(
          [this](const wxString& path, bool reload, std::string* returned) {
              // A completion request runs for about 2 s at most; a longer one ends without a
              // word.
              const watchdog::LimitsScope limits({std::chrono::seconds(2), true});
              return IsEngineRunning() && runner::RunScriptFile(path, reload, wxString(), returned);
          },
          COILHATCH_PYTHON_EXECUTABLE, outputpipe::Say) {
    info.pluginName = pluginNameText;
    info.caption = "Python Script";
    info.version = "0.1";
    info.summary = "python script plugin";
    info.authors = "Ann Coil, Ben Hatch";
    info.emails = "ann.coil@coilhatch.example, ben.hatch@coilhatch.example";
    info.webSite = "https://coilhatch.example";
    info.licence = "Private";
}

// Touches neither the interpreter, nor the script list, nor the submenu.
CCoilhatch::~CCoilhatch() = default;

void CCoilhatch::HostHook() {}

bool CCoilhatch::BuildToolBar(wxToolBar*) {
    return false;
}

void CCoilhatch::BuildMenu(wxMenuBar* menuBar) {
    menu.Build(menuBar);
}

bool CCoilhatch::RunScript(const wxString& path, bool reload, const wxString& title) {
    // Without an engine (attaching failed) no Python code can run.
    return IsEngineRunning() && runner::RunScriptFile(path, reload, title);
}

bool CCoilhatch::StartEngine() {
    // The interpreter starts with its lock held by this thread.
    const bool started = interpreter::StartInterpreter();
    if (started && ImportCoreApi()) {
        wxPythonLoaded = true;
        interpreter::KeepApplicationWrapper();
        threadState = wxPyBeginAllowThreads();
        return true;
    }
    wxMessageBox(
        wxGetTranslation("***** Load wxPython API failed, Python Plugin is unavaible. *****"),
        wxMessageBoxCaptionStr, wxOK | wxCENTRE);
    if (started) {
        // The import error goes to the process's standard error: nothing is redirected yet.
        report::PrintPythonError();
        interpreter::FinalizeInterpreter();
    }
    return false;
}

namespace {

// The interpreter outlives the plug-in (it is never finalized, see engine/Interpreter.h), and
// keeps code of this module: its built-in functions, the output pipe's threads, signal and
// fatal-error handlers, the toolkit hooks of scripts' calls. An editor may unload the plug-in's
// library after the release; so that unloading is harmless, the module pins itself in memory
// once the engine starts (the loader then keeps it mapped for the rest of the process).
void PinThisModule() {
    static bool pinned = false;
    Dl_info self;
    if (pinned || !dladdr(reinterpret_cast<const void*>(&PinThisModule), &self) || !self.dli_fname)
        return;
    if (void* module = dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) {
        // The pin is the flag; the extra reference goes, and with it nothing.
        dlclose(module);
        pinned = true;
    }
}

} // namespace

void CCoilhatch::OnAttach() {
    PinThisModule();
    if (!StartEngine()) {
        wxMessageBox(wxGetTranslation("Init Python Plugin failed."), wxGetTranslation("Info"),
                     wxICON_INFORMATION);
        return;
    }

    const wxString pluginsPath = CNameService::Get()->GetNameItem("PluginsPath")->GetAttribute(0);
    registry.Open(pluginsPath + wxFILE_SEP_PATH + "Coilhatch.xml");

    GilGuard gil(GetCoreApi());
    // The editor's program folder holds MpAPI, through which the output reaches the message
    // output. A failure here is reported and the engine runs on.
    if (!interpreter::AddToSysPath(CNameService::Get()->GetNameItem("ExecPath")->GetAttribute(0)))
        report::PrintPythonError();
    // Descriptors 1 and 2 are the output pipe from now on: what children and C code write
    // reaches the message output too. Without the pipe they stay the editor's.
    outputpipe::Attach();
    // A fatal error of the last run is told once; one of this run leaves its report.
    fatalerror::ShowLastReport(pluginsPath);
    fatalerror::Watch(pluginsPath);
    const bool started = interpreter::RunStartupScript();
    if (!started) {
        {
            const report::PendingErrorKeeper keep; // the script's error, reported below
            wxMessageBox(wxGetTranslation("Load the log code failed."), "Marrowpad Python",
                         wxOK | wxCENTRE);
        }
        report::ReportFailure();
    }
    // Toolkit assertions that fail in scripts' calls raise in the scripts.
    assertions::Install();
    interpreter::FlushBeforeDialogs(true);
    interpreter::FlushStreams();
    // The completion server warms up in a process of its own from now on.
    completion.StartServer();
}

namespace {

// Raised in every other thread of the interpreter once the plug-in is released. Its
// construction happens before any handler of the thread's code runs (the interpreter normalizes
// an exception before it enters a handler), and it waits for good, without the lock.
//
// No public call stops a thread for good: an exception that the thread may catch would let its
// handlers and `finally` blocks run Python in an editor that is closing, and the lock, kept by
// the editor's thread from then on, stops only threads that ask for it again. The constructor
// that never returns is what keeps a stopped thread's own code from running; a test pins it.
//
// `others` lists every other thread that has run Python: those with a Python frame now, and
// those the threading module knows (one may be between two frames).
const char threadStopSource[] = R"(import _thread
import sys
import threading

stopped = 0
_mine = threading.get_ident()
others = [ident for ident in set(sys._current_frames()) |
          {thread.ident for thread in threading.enumerate()}
          if ident is not None and ident != _mine]


class ScriptThreadStopped(BaseException):
    """The editor has released the plug-in: this thread runs no more Python."""

    def __init__(self, *args):
        global stopped
        stopped += 1
        lock = _thread.allocate_lock()
        lock.acquire()
        lock.acquire()
)";

// How long the release waits for the other threads to stop. A thread in the middle of a toolkit
// call (wx.CallAfter from a thread, say) finishes it and stops at once; one that sleeps or waits
// for input stops later, harmlessly, or never.
constexpr auto threadStopWait = std::chrono::milliseconds(300);

// Stops every thread but the calling one at its next step of Python code: threads that scripts
// left running must never run Python again once the plug-in is released. A thread waiting for
// the lock stops as soon as it gets it.
// PRECONDITION: the calling thread holds the interpreter lock.
void StopScriptThreads() {
    assert(PyGILState_Check());
    PyRef pycode =
        PyRef::Steal(Py_CompileString(threadStopSource, "coilhatch/release.py", Py_file_input));
    PyRef pyglobals = PyRef::Steal(PyDict_New());
    PyRef pyname = PyRef::Steal(PyUnicode_FromString("coilhatch.release"));
    if (pycode && pyglobals && pyname &&
        PyDict_SetItemString(pyglobals.Get(), "__builtins__", PyEval_GetBuiltins()) == 0 &&
        PyDict_SetItemString(pyglobals.Get(), "__name__", pyname.Get()) == 0) {
        PyRef pyresult =
            PyRef::Steal(PyEval_EvalCode(pycode.Get(), pyglobals.Get(), pyglobals.Get()));
        PyObject* type = pyresult ? PyDict_GetItemString(pyglobals.Get(), "ScriptThreadStopped")
                                  : nullptr; // borrowed
        PyRef pytype = type ? PyRef::Borrow(type) : PyRef();
        PyObject* idents = PyDict_GetItemString(pyglobals.Get(), "others"); // borrowed
        long others = 0;
        for (Py_ssize_t i = 0;
             pytype && idents && PyList_Check(idents) && i < PyList_GET_SIZE(idents); ++i) {
            const unsigned long ident = PyLong_AsUnsignedLong(PyList_GET_ITEM(idents, i));
            if (!PyErr_Occurred())
                others += PyThreadState_SetAsyncExc(ident, pytype.Get());
        }
        // A thread inside a toolkit call runs without the lock; were the editor to end meanwhile,
        // the call would meet a toolkit torn down. The lock is lent until each such thread has
        // come back for it, and so stopped.
        const auto deadline = std::chrono::steady_clock::now() + threadStopWait;
        while (others > 0 && std::chrono::steady_clock::now() < deadline) {
            PyObject* stopped = PyDict_GetItemString(pyglobals.Get(), "stopped"); // borrowed
            if (!stopped || PyLong_AsLong(stopped) >= others)
                break;
            const GilRelease lend;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    report::PrintPythonError();
}

} // namespace

namespace {

// Whether Python code of this thread is further down its stack: a frame of this thread's state
// means a call into the toolkit that this code made is what released the plug-in.
// PRECONDITION: the calling thread holds the interpreter lock.
bool PythonBelow() {
    assert(PyGILState_Check());
    PyRef pyframe =
        PyRef::Steal(reinterpret_cast<PyObject*>(PyThreadState_GetFrame(PyThreadState_Get())));
    return static_cast<bool>(pyframe);
}

} // namespace

void CCoilhatch::OnRelease() {
    // The settings are saved before any script code runs again: a script's atexit function may
    // hang or end the process.
    registry.Close();
    completion.StopServer();

    if (wxPythonLoaded) {
        // The interpreter is not finalized (see engine/Interpreter.h). Its lock is taken for the
        // rest of the process and never given back: no thread a script left running gets to
        // queue work into an editor that is closing. Python code the editor still calls on this
        // thread (handlers that scripts bound) finds the lock held by its own thread.
        //
        // Unless Python code of this thread is waiting below us for the lock it lent to a
        // toolkit call (a script's timer callback closed the main window): it takes the lock
        // back when the call returns, and would wait for ever for a lock its own thread keeps.
        // Then the lock is given back; the stopped threads stay stopped all the same.
        const bool lockLent = !ThisThreadHoldsTheLock();
        GilGuard gil(GetCoreApi());
        const bool pythonBelow = lockLent && PythonBelow();
        {
            // An atexit function that never returns must not hold the editor's close.
            const process_guards::Deadline deadline(process_guards::shutdownLimit);
            interpreter::RunShutdownWork();
        }
        // That code may give the lock away for a moment (a wx call, a sleep): whichever thread
        // then takes it stops at once.
        StopScriptThreads();
        // The editor's own assertion handling, locale and standard output and error are back.
        assertions::Uninstall();
        interpreter::FlushBeforeDialogs(false);
        interpreter::RestoreEditorsLocale();
        outputpipe::Detach();
        if (!pythonBelow)
            gil.KeepForGood();
        threadState = nullptr;
        wxPythonLoaded = false;
    } else {
        // Attaching failed: the interpreter is already finalized, and this does nothing.
        interpreter::FinalizeInterpreter();
    }
}

// The table stays as written: the macros end without semicolons.
// clang-format off
wxBEGIN_EVENT_TABLE(CCoilhatch, CPlugin)
    EVT_MENU(scriptManagementId, CCoilhatch::OnScriptManagement)
    EVT_EDITOR_COMPLETEBEGIN(CCoilhatch::OnCompleteBegin)
    EVT_EDITOR_COMPLETEEND(CCoilhatch::OnCompleteEnd)
wxEND_EVENT_TABLE()
    // clang-format on
