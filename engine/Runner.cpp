#include "engine/Gil.h"

#include "engine/Runner.h"

#include "engine/CoreApi.h"
#include "engine/Interpreter.h"
#include "engine/ProcessGuards.h"
#include "engine/PyRef.h"
#include "engine/Report.h"
#include "engine/Watchdog.h"

#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/msgdlg.h>

#include <cstring>
#include <exception>
#include <string>

namespace {

// Whether a traceback entry is the engine's loader's or importlib's (which compiles the file).
bool IsLoaderEntry(PyObject* traceback) {
    PyRef pyframe = PyRef::Steal(PyObject_GetAttrString(traceback, "tb_frame"));
    PyRef pycode =
        pyframe ? PyRef::Steal(PyObject_GetAttrString(pyframe.Get(), "f_code")) : PyRef();
    PyRef pyfile =
        pycode ? PyRef::Steal(PyObject_GetAttrString(pycode.Get(), "co_filename")) : PyRef();
    const char* file =
        pyfile && PyUnicode_Check(pyfile.Get()) ? PyUnicode_AsUTF8(pyfile.Get()) : nullptr;
    PyErr_Clear();
    static const char importlib[] = "<frozen importlib.";
    return file && (std::strcmp(file, interpreter::startupScriptName) == 0 ||
                    std::strncmp(file, importlib, sizeof importlib - 1) == 0);
}

// A script's failed load is told from the script's own code on, as Python tells a failed
// import: the loader's and importlib's entries come off the front of the pending error's
// traceback (a syntax error keeps only its own place in the file).
// PRECONDITION: the calling thread holds the interpreter lock.
void DropLoaderEntries() {
    if (!PyErr_Occurred())
        return;
    report::FetchedError error = report::FetchedError::Take(true);
    PyRef& pytraceback = error.traceback;
    while (pytraceback && pytraceback.Get() != Py_None && IsLoaderEntry(pytraceback.Get()))
        pytraceback = PyRef::Steal(PyObject_GetAttrString(pytraceback.Get(), "tb_next"));
    PyErr_Clear();
    if (pytraceback.Get() == Py_None)
        pytraceback.Reset();
    if (error.value)
        PyException_SetTraceback(error.value.Get(), pytraceback ? pytraceback.Get() : Py_None);
    error.Restore();
}

void ShowRunnerMessage(const wxString& text) {
    wxMessageBox(text, wxMessageBoxCaptionStr, wxOK | wxCENTRE);
}

// The pending error in one line, as its traceback's last line reads; the error stays pending.
// PRECONDITION: the calling thread holds the interpreter lock.
wxString PendingErrorLine() {
    report::FetchedError error = report::FetchedError::Take(true);
    if (!error.type)
        return wxString();
    PyErr_Restore(PyRef::Borrow(error.type.Get()).Release(),
                  error.value ? PyRef::Borrow(error.value.Get()).Release() : nullptr,
                  error.traceback ? PyRef::Borrow(error.traceback.Get()).Release() : nullptr);
    const wxString line = report::TakeErrorLine();
    error.Restore();
    return line;
}

// The one place where a script's entry function is called.
// PRECONDITION: the calling thread holds the interpreter lock.
PyRef CallMpMain(const PyRef& pymain) {
    const process_guards::ForkedChildEnds forked;
    PyRef pyresult = PyRef::Steal(PyObject_CallNoArgs(pymain.Get()));
    forked.EndIfChild(pyresult ? 0 : 1);
    return pyresult;
}

// PRECONDITION: the engine runs and the calling thread does not hold the interpreter lock.
bool RunModule(const wxString& path, const wxString& moduleName, const wxString& folder,
               bool reload, const wxString& title, std::string* returned) {
    GilGuard gil(GetCoreApi());
    // The run can be stopped (engine/Watchdog.h); one that starts while another runs on this
    // thread (a command handled while a script lets the editor run) is refused, and the user
    // told why.
    watchdog::Run run(title.empty() ? moduleName : title);
    if (run.Refused()) {
        run.SayRefused();
        return false;
    }
    // Whatever an earlier script or tool did with the standard streams, this run gets ours.
    interpreter::RestoreStreams();
    const interpreter::OutputDelivered delivered;
    // SIGINT is the script's while it runs.
    const process_guards::ScriptInterrupts interrupts;

    // The folder goes on sys.path once, so that modules beside the script import later too (from
    // its handlers and threads), and first while the script runs; a failure is reported and the
    // run goes on.
    if (!interpreter::AddToSysPath(folder))
        report::PrintPythonError();
    const interpreter::FolderFirst first(folder);

    // Loaded from its own file, never from whatever the module path finds first under its name.
    // A failed reload counts as a failed import.
    PyRef pymodule;
    {
        const watchdog::Watched watched(run);
        const process_guards::ForkedChildEnds forked;
        pymodule = interpreter::LoadScript(path, moduleName, reload);
        forked.EndIfChild(pymodule ? 0 : 1);
    }
    if (!pymodule)
        DropLoaderEntries();

    bool failed = true;
    if (pymodule) {
        // The loader may hand back a module that an import statement made; only a module has a
        // dictionary.
        PyObject* dict =
            PyModule_Check(pymodule.Get()) ? PyModule_GetDict(pymodule.Get()) : nullptr;
        // Our own reference: MpMain may rebind its module's names while it runs.
        PyRef pymain = dict ? PyRef::Borrow(PyDict_GetItemString(dict, "MpMain")) : PyRef();
        if (pymain && PyCallable_Check(pymain.Get())) {
            const watchdog::Watched watched(run);
            PyRef pyresult = CallMpMain(pymain);
            failed = !pyresult || PyErr_Occurred();
            if (!failed && returned && PyUnicode_Check(pyresult.Get())) {
                Py_ssize_t size = 0;
                const char* text = PyUnicode_AsUTF8AndSize(pyresult.Get(), &size);
                if (text)
                    returned->assign(text, static_cast<size_t>(size));
                else
                    PyErr_Clear(); // a lone surrogate: not text to hand on
            }
            // sys.exit() with no code or code 0 is a normal end.
            if (failed && report::EndedQuietly())
                failed = false;
        } else {
            const report::PendingErrorKeeper keep;
            ShowRunnerMessage(wxGetTranslation("There is no MpMain function on module."));
        }
    } else if (run.EndQuietly()) {
        return false; // stopped quietly: no message, no report
    } else if (report::EndedQuietly()) {
        // The top level ended the script normally: nothing to call, nothing to report.
        return true;
    } else {
        // The box says why, the import error's traceback follows in the output.
        const wxString cause = PendingErrorLine();
        const report::PendingErrorKeeper keep;
        wxMessageBox(wxGetTranslation("There is no module:") + moduleName +
                         (cause.empty() ? wxString() : "\n" + cause),
                     wxGetTranslation("Python Script"), wxOK | wxCENTRE | wxICON_ERROR);
    }

    if (failed && !run.EndQuietly()) {
        // The report is the engine's: it reaches the output whatever the script did with the
        // streams or their descriptors.
        interpreter::RestoreStreams();
        interpreter::PlaceLinelessEntries();
        report::ReportFailure();
    }
    return !failed;
}

} // namespace

namespace runner {

bool RunScriptFile(const wxString& path, bool reload, const wxString& title,
                   std::string* returned) {
    try {
        if (path.empty()) {
            // A script registered without a file: "does not exist:" would name nothing.
            const wxString text =
                title.empty() || title.Strip(wxString::both).empty()
                    ? wxGetTranslation("The script has no location: choose its file in Script "
                                       "Management.")
                    : wxString::Format(wxGetTranslation("The script \"%s\" has no location: "
                                                        "choose its file in Script Management."),
                                       title);
            wxMessageBox(text, wxGetTranslation("Python Script"), wxOK | wxCENTRE);
            return false;
        }
        const wxFileName file(path);
        if (!file.FileExists()) {
            ShowRunnerMessage(wxGetTranslation("Python script does not exist:") + path);
            return false;
        }
        wxFileName absolute(file);
        absolute.MakeAbsolute();
        return RunModule(absolute.GetFullPath(), file.GetName(), file.GetPath(wxPATH_GET_VOLUME),
                         reload, title, returned);
    } catch (const std::exception& error) {
        // Nothing escapes into the editor's event loop.
        wxLogError("Coilhatch: running %s failed: %s", path, error.what());
        return false;
    }
}

} // namespace runner
