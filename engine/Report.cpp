#include <Python.h>

#include "engine/Report.h"

namespace report {

void PrintPythonError() {
    if (PyErr_Occurred())
        PyErr_Print();
}

void ReportFailure() {
    PrintPythonError();
    // A failure of this line (sys.stderr replaced by a script, say) prints its own error.
    PyRun_SimpleStringFlags("sys.stderr.showmsg()\n", nullptr);
}

} // namespace report
