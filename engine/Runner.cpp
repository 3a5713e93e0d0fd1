// The script runner: the only way a script file is run.
#include "engine/Gil.h"

#include "engine/Coilhatch.h"

#include "engine/Interpreter.h"
#include "engine/PyRef.h"
#include "engine/Report.h"
#include "engine/Watchdog.h"

#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/msgdlg.h>

#include <exception>

namespace {

void ShowRunnerMessage(const wxString& text) {
    wxMessageBox(text, wxMessageBoxCaptionStr, wxOK | wxCENTRE);
}

// PRECONDITION: the engine runs and the calling thread does not hold the interpreter lock.
bool RunModule(const wxString& moduleName, const wxString& folder, bool reload) {
    GilGuard gil(GetCoreApi());
    // The run can be stopped (engine/Watchdog.h); one that starts while another runs on this
    // thread (a command handled while a script lets the editor run) is refused quietly.
    watchdog::Run run(moduleName);
    if (run.Refused())
        return false;

    // The folder goes on sys.path once; a failure is reported and the run goes on.
    if (!interpreter::AddToSysPath(folder))
        report::PrintPythonError();

    PyRef pymodule;
    {
        const watchdog::Watched watched(run);
        PyRef pyname = interpreter::FileSystemText(moduleName);
        if (pyname)
            pymodule = PyRef::Steal(PyImport_Import(pyname.Get()));
        // A failed reload counts as a failed import.
        if (pymodule && reload)
            pymodule = PyRef::Steal(PyImport_ReloadModule(pymodule.Get()));
    }

    bool failed = true;
    if (pymodule) {
        // sys.modules may hold any object under the name; only a module has a dictionary.
        PyObject* dict =
            PyModule_Check(pymodule.Get()) ? PyModule_GetDict(pymodule.Get()) : nullptr;
        // Our own reference: MpMain may rebind its module's names while it runs.
        PyRef pymain = dict ? PyRef::Borrow(PyDict_GetItemString(dict, "MpMain")) : PyRef();
        if (pymain && PyCallable_Check(pymain.Get())) {
            const watchdog::Watched watched(run);
            PyRef pyresult = PyRef::Steal(PyObject_CallNoArgs(pymain.Get()));
            failed = !pyresult || PyErr_Occurred();
        } else {
            const report::PendingErrorKeeper keep;
            ShowRunnerMessage(wxGetTranslation("There is no MpMain function on module."));
        }
    } else if (run.EndQuietly()) {
        return false; // stopped quietly: no message, no report
    } else {
        const report::PendingErrorKeeper keep; // the import error, reported below
        ShowRunnerMessage(wxGetTranslation("There is no module:") + moduleName);
    }

    if (failed && !run.EndQuietly())
        report::ReportFailure();
    return !failed;
}

} // namespace

bool CCoilhatch::RunScript(const wxString& path, bool reload) {
    // Without an engine (attaching failed) no Python code can run.
    if (!IsEngineRunning())
        return false;
    try {
        const wxFileName file(path);
        if (!file.FileExists()) {
            ShowRunnerMessage(wxGetTranslation("Python script does not exist:") + path);
            return false;
        }
        return RunModule(file.GetName(), file.GetPath(wxPATH_GET_VOLUME), reload);
    } catch (const std::exception& error) {
        // Nothing escapes into the editor's event loop.
        wxLogError("Coilhatch: running %s failed: %s", path, error.what());
        return false;
    }
}
