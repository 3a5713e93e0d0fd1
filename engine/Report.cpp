#include <Python.h>

#include "engine/Report.h"

#include <cassert>

namespace report {

void PrintPythonError() {
    assert(PyGILState_Check());
    if (PyErr_Occurred())
        PyErr_Print();
}

void ReportFailure() {
    assert(PyGILState_Check());
    PrintPythonError();
    // A failure of this line (sys.stderr replaced by a script, say) prints its own error.
    PyRun_SimpleStringFlags("sys.stderr.showmsg()\n", nullptr);
}

} // namespace report
