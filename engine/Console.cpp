#include "engine/Gil.h"

#include "engine/Console.h"

#include "engine/CoreApi.h"
#include "engine/Interpreter.h"
#include "engine/Report.h"
#include "engine/Watchdog.h"

#include <wx/log.h>
#include <wx/toplevel.h>

#include <cassert>
#include <exception>

namespace console {
namespace {

// engine/console.py, embedded when the library is built.
const char consoleScript[] =
#include "console_script.inc"
    ;
// The name tracebacks give it.
const char consoleScriptName[] = "coilhatch/console.py";

// The name console.py gives the console's window.
const char consoleWindowName[] = "coilhatchConsole";

// Held until the process ends, like the interpreter itself: never destroyed, since a destructor
// at exit would run without the interpreter lock.
PyRef* consoleModule = nullptr;

// watched(function): calls the function, a command typed into the console, under the same watch
// as a script's run: after a second a window offers Stop, which raises KeyboardInterrupt in the
// command. PRECONDITION (as for any built-in function): the interpreter lock is held.
PyObject* CallWatched(PyObject*, PyObject* pyfunction) {
    assert(PyGILState_Check());
    watchdog::Run run("console");
    if (run.Refused()) // a command typed while a script runs: it gets that run's watch
        return PyObject_CallNoArgs(pyfunction);
    PyRef pyresult;
    {
        const watchdog::Watched watched(run);
        pyresult = PyRef::Steal(PyObject_CallNoArgs(pyfunction));
    }
    return pyresult.Release(); // a new reference, or null with the command's error pending
}

PyMethodDef watchedDef = {"watched", CallWatched, METH_O,
                          "watched(function): calls it; after a second a window offers Stop."};

PyRef MakeModule() {
    PyRef pycode = PyRef::Steal(Py_CompileString(consoleScript, consoleScriptName, Py_file_input));
    if (!pycode)
        return PyRef();
    PyRef pymodule = PyRef::Steal(PyModule_New("coilhatch_console"));
    if (!pymodule)
        return PyRef();
    PyObject* dict = PyModule_GetDict(pymodule.Get()); // borrowed
    if (PyDict_SetItemString(dict, "__builtins__", PyEval_GetBuiltins()) != 0)
        return PyRef();
    PyRef pywatched = PyRef::Steal(PyCFunction_New(&watchedDef, nullptr));
    if (!pywatched || PyDict_SetItemString(dict, "watched", pywatched.Get()) != 0)
        return PyRef();
    PyRef pyresult = PyRef::Steal(PyEval_EvalCode(pycode.Get(), dict, dict));
    if (!pyresult)
        return PyRef();
    return pymodule;
}

} // namespace

PyRef Module() {
    assert(PyGILState_Check());
    if (consoleModule)
        return *consoleModule;
    PyRef pymodule = MakeModule();
    if (pymodule)
        consoleModule = new PyRef(pymodule);
    return pymodule;
}

wxWindow* Window() {
    for (wxWindow* window : wxTopLevelWindows)
        if (window->GetName() == consoleWindowName && !window->IsBeingDeleted())
            return window;
    return nullptr;
}

bool Show() {
    try {
        GilGuard gil(GetCoreApi());
        // The console takes the streams that the engine gives every run as its own to restore.
        interpreter::RestoreStreams();
        PyRef pymodule = Module();
        PyRef pyresult =
            pymodule ? PyRef::Steal(PyObject_CallMethod(pymodule.Get(), "show", nullptr)) : PyRef();
        if (!pyresult) {
            report::ReportFailure();
            return false;
        }
        return true;
    } catch (const std::exception& error) {
        // Nothing escapes into the editor's event loop.
        wxLogError("Coilhatch: the Python console failed: %s", error.what());
        return false;
    }
}

} // namespace console
