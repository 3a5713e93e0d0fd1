#include "engine/Gil.h"

#include "engine/Console.h"

#include "engine/CoreApi.h"
#include "engine/Interpreter.h"
#include "engine/Report.h"

#include <wx/log.h>

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

// Held until the process ends, like the interpreter itself: never destroyed, since a destructor
// at exit would run without the interpreter lock.
PyRef* consoleModule = nullptr;

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
