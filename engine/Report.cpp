#include <Python.h>

#include "engine/Report.h"

#include <cassert>

namespace report {

void PrintPythonError() {
    assert(PyGILState_Check());
    if (PyErr_Occurred())
        PyErr_Print();
}

bool EndedQuietly() {
    assert(PyGILState_Check());
    if (!PyErr_Occurred() || !PyErr_ExceptionMatches(PyExc_SystemExit))
        return false;
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef pytype = PyRef::Steal(type);
    PyRef pyvalue = PyRef::Steal(value);
    PyRef pytraceback = PyRef::Steal(traceback);
    PyRef pycode = pyvalue ? PyRef::Steal(PyObject_GetAttrString(pyvalue.Get(), "code")) : PyRef();
    bool quiet = false;
    if (pycode) {
        // The exit status the interpreter itself would give: None and 0 mean success.
        quiet = pycode.Get() == Py_None || (PyLong_Check(pycode.Get()) &&
                                            PyLong_AsLong(pycode.Get()) == 0 && !PyErr_Occurred());
    }
    PyErr_Clear();
    if (!quiet)
        PyErr_Restore(pytype.Release(), pyvalue.Release(), pytraceback.Release());
    return quiet;
}

void ReportFailureWithCachedLines() {
    assert(PyGILState_Check());
    if (PyErr_Occurred()) {
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        PyErr_NormalizeException(&type, &value, &traceback);
        PyRef pytype = PyRef::Steal(type);
        PyRef pyvalue = PyRef::Steal(value);
        PyRef pytraceback = PyRef::Steal(traceback);
        if (pyvalue && pytraceback)
            PyException_SetTraceback(pyvalue.Get(), pytraceback.Get());
        PyRef pymodule = PyRef::Steal(PyImport_ImportModule("traceback"));
        PyRef pyresult = pymodule && pyvalue
                             ? PyRef::Steal(PyObject_CallMethod(pymodule.Get(), "print_exception",
                                                                "O", pyvalue.Get()))
                             : PyRef();
        if (!pyresult) {
            // The interpreter's own printing, without the cached lines.
            PyErr_Clear();
            PyErr_Restore(pytype.Release(), pyvalue.Release(), pytraceback.Release());
            PyErr_Print();
        }
    }
    PyRun_SimpleStringFlags("sys.stderr.showmsg()\n", nullptr);
}

void ReportFailure() {
    assert(PyGILState_Check());
    PrintPythonError();
    // A failure of this line (sys.stderr replaced by a script, say) prints its own error.
    PyRun_SimpleStringFlags("sys.stderr.showmsg()\n", nullptr);
}

} // namespace report
