#include <Python.h>

#include "engine/Report.h"

#include <cassert>
#include <cstring>

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
    FetchedError error = FetchedError::Take(true);
    PyRef pycode =
        error.value ? PyRef::Steal(PyObject_GetAttrString(error.value.Get(), "code")) : PyRef();
    bool quiet = false;
    if (pycode) {
        // The exit status the interpreter itself would give: None and 0 mean success.
        quiet = pycode.Get() == Py_None || (PyLong_Check(pycode.Get()) &&
                                            PyLong_AsLong(pycode.Get()) == 0 && !PyErr_Occurred());
    }
    PyErr_Clear();
    if (!quiet)
        error.Restore();
    return quiet;
}

namespace {

// What the script wrote to a block-buffered sys.stdout goes out before its report, so that the
// traceback follows the output that came before it. Keeps the pending error as it is.
void FlushStandardOutput() {
    const PendingErrorKeeper keep;
    PyObject* stdout = PySys_GetObject("stdout"); // borrowed
    PyRef pyresult = stdout ? PyRef::Steal(PyObject_CallMethod(stdout, "flush", nullptr)) : PyRef();
    PyErr_Clear();
}

} // namespace

void ReportFailureWithCachedLines() {
    assert(PyGILState_Check());
    FlushStandardOutput();
    if (PyErr_Occurred()) {
        FetchedError error = FetchedError::Take(true);
        if (error.value && error.traceback)
            PyException_SetTraceback(error.value.Get(), error.traceback.Get());
        PyRef pymodule = PyRef::Steal(PyImport_ImportModule("traceback"));
        PyRef pyresult = pymodule && error.value
                             ? PyRef::Steal(PyObject_CallMethod(pymodule.Get(), "print_exception",
                                                                "O", error.value.Get()))
                             : PyRef();
        if (!pyresult) {
            // The interpreter's own printing, without the cached lines.
            PyErr_Clear();
            error.Restore();
            PyErr_Print();
        }
    }
    PyRun_SimpleStringFlags("sys.stderr.showmsg()\n", nullptr);
}

void ReportFailure() {
    assert(PyGILState_Check());
    FlushStandardOutput();
    PrintPythonError();
    // A failure of this line (sys.stderr replaced by a script, say) prints its own error.
    PyRun_SimpleStringFlags("sys.stderr.showmsg()\n", nullptr);
}

wxString TakeErrorLine() {
    assert(PyGILState_Check());
    FetchedError error = FetchedError::Take(true);
    if (!error.type)
        return wxString();
    const char* typeName = PyExceptionClass_Check(error.type.Get())
                               ? PyExceptionClass_Name(error.type.Get())
                               : "error";
    const char* dot = std::strrchr(typeName, '.');
    wxString line = wxString::FromUTF8(dot ? dot + 1 : typeName);
    PyRef pytext = error.value ? PyRef::Steal(PyObject_Str(error.value.Get())) : PyRef();
    const char* text = pytext ? PyUnicode_AsUTF8(pytext.Get()) : nullptr;
    if (!text)
        PyErr_Clear();
    else if (*text)
        line += ": " + wxString::FromUTF8(text);
    return line;
}

} // namespace report
