// The document runner: a document's text run as the main program, without registering it.
#include "engine/Gil.h"

#include "engine/DocumentRunner.h"

#include "engine/CoreApi.h"
#include "engine/Interpreter.h"
#include "engine/OutputPipe.h"
#include "engine/ProcessGuards.h"
#include "engine/PyRef.h"
#include "engine/Report.h"
#include "engine/Watchdog.h"
#include "plugin/Extensions.h"

#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/msgdlg.h>

#include <cassert>
#include <cstring>
#include <exception>
#include <memory>
#include <set>

namespace document {
namespace {

// What tracebacks call a document that was never saved.
const char untitledName[] = "<untitled>";

// While the document's code runs, sys.modules holds its module as "__main__", so that
// `import __main__` (and whatever looks a class's module up by name) finds it. The engine's main
// module is back in its place when the object goes: the engine runs its own statements there.
// PRECONDITION: the calling thread holds the interpreter lock throughout.
class MainModuleScope {
public:
    explicit MainModuleScope(const PyRef& pymodule)
        : pymodules(PyRef::Borrow(PyImport_GetModuleDict())),
          pyengineMain(PyRef::Borrow(PyDict_GetItemString(pymodules.Get(), "__main__"))) {
        swapped = PyDict_SetItemString(pymodules.Get(), "__main__", pymodule.Get()) == 0;
        if (!swapped)
            report::PrintPythonError(); // the code runs all the same
    }
    ~MainModuleScope() {
        if (!swapped)
            return;
        const report::PendingErrorKeeper keep; // the document's own error, reported later
        const int result =
            pyengineMain ? PyDict_SetItemString(pymodules.Get(), "__main__", pyengineMain.Get())
                         : PyDict_DelItemString(pymodules.Get(), "__main__");
        if (result != 0)
            report::PrintPythonError();
    }

    MainModuleScope(const MainModuleScope&) = delete;
    MainModuleScope& operator=(const MainModuleScope&) = delete;

private:
    PyRef pymodules;
    PyRef pyengineMain;
    bool swapped = false;
};

// While the document runs, sys.argv is [its path] ("<untitled>" for a document never saved),
// as `python3 FILE` makes it; what it was is back when the object goes.
// PRECONDITION: the calling thread holds the interpreter lock throughout.
class ArgvScope {
public:
    explicit ArgvScope(const PyRef& pyfilename)
        : pyengineArgv(PyRef::Borrow(PySys_GetObject("argv"))) {
        PyRef pyargv = PyRef::Steal(PyList_New(1));
        if (pyargv)
            PyList_SET_ITEM(pyargv.Get(), 0, PyRef::Borrow(pyfilename.Get()).Release());
        swapped = pyargv && PySys_SetObject("argv", pyargv.Get()) == 0;
        if (!swapped)
            report::PrintPythonError(); // the code runs all the same
    }
    ~ArgvScope() {
        if (!swapped)
            return;
        const report::PendingErrorKeeper keep; // the document's own error, reported later
        if (PySys_SetObject("argv", pyengineArgv.Get()) != 0)
            report::PrintPythonError();
    }

    ArgvScope(const ArgvScope&) = delete;
    ArgvScope& operator=(const ArgvScope&) = delete;

private:
    PyRef pyengineArgv;
    bool swapped = false;
};

// The document's code, compiled from the text as the editor holds it: UTF-8, whatever coding
// line it has. Null with a Python error pending on failure.
PyRef Compile(const wxString& text, const PyRef& pyfilename) {
    const wxScopedCharBuffer source = text.utf8_str();
    if (std::strlen(source.data()) != source.length()) {
        PyErr_SetString(PyExc_SyntaxError, "source code cannot contain null bytes");
        return PyRef();
    }
    PyCompilerFlags flags;
    flags.cf_flags = PyCF_IGNORE_COOKIE | PyCF_SOURCE_IS_UTF8;
    flags.cf_feature_version = PY_MINOR_VERSION;
    return PyRef::Steal(
        Py_CompileStringObject(source.data(), pyfilename.Get(), Py_file_input, &flags, -1));
}

// Tracebacks read a file's lines from the file; a document that was never saved has none, so its
// text is kept where they look first (linecache's cache, as for code a loader gives), until the
// next unsaved document runs. Nothing is lost when that fails: the lines are only not shown.
// PRECONDITION: the calling thread holds the interpreter lock.
void RememberSource(const wxString& text, const PyRef& pyfilename) {
    const wxScopedCharBuffer source = text.utf8_str();
    PyRef pylinecache = PyRef::Steal(PyImport_ImportModule("linecache"));
    PyRef pycache =
        pylinecache ? PyRef::Steal(PyObject_GetAttrString(pylinecache.Get(), "cache")) : PyRef();
    PyRef pysource = pycache
                         ? PyRef::Steal(PyUnicode_DecodeUTF8(
                               source.data(), static_cast<Py_ssize_t>(source.length()), "replace"))
                         : PyRef();
    PyRef pylines =
        pysource ? PyRef::Steal(PyObject_CallMethod(pysource.Get(), "splitlines", "O", Py_True))
                 : PyRef();
    // (size, mtime, lines, name): no mtime, so that checking the cache keeps the entry.
    PyRef pyentry =
        pylines ? PyRef::Steal(Py_BuildValue("(nOOO)", static_cast<Py_ssize_t>(source.length()),
                                             Py_None, pylines.Get(), pyfilename.Get()))
                : PyRef();
    if (!pyentry || PyObject_SetItem(pycache.Get(), pyfilename.Get(), pyentry.Get()) != 0)
        report::PrintPythonError();
}

// A fresh module named "__main__", with `__file__` when the document has a file.
PyRef MainModule(const PyRef& pyfilename, bool hasFile) {
    PyRef pymodule = PyRef::Steal(PyModule_New("__main__"));
    if (!pymodule)
        return PyRef();
    PyObject* dict = PyModule_GetDict(pymodule.Get()); // borrowed
    if (PyDict_SetItemString(dict, "__builtins__", PyEval_GetBuiltins()) != 0 ||
        (hasFile && PyDict_SetItemString(dict, "__file__", pyfilename.Get()) != 0))
        return PyRef();
    return pymodule;
}

// The top level, then MpMain when the module defines one. False with the Python error pending
// when either raised.
bool Execute(watchdog::Run& run, const PyRef& pycode, const PyRef& pymodule) {
    PyObject* dict = PyModule_GetDict(pymodule.Get()); // borrowed
    {
        const watchdog::Watched watched(run);
        const process_guards::ForkedChildEnds forked;
        PyRef pyresult = PyRef::Steal(PyEval_EvalCode(pycode.Get(), dict, dict));
        forked.EndIfChild(pyresult ? 0 : 1);
        if (!pyresult)
            return false;
    }
    // Our own reference: MpMain may rebind its module's names while it runs.
    PyRef pymain = PyRef::Borrow(PyDict_GetItemString(dict, "MpMain"));
    if (!pymain || !PyCallable_Check(pymain.Get()))
        return true;
    const watchdog::Watched watched(run);
    const process_guards::ForkedChildEnds forked;
    PyRef pyresult = PyRef::Steal(PyObject_CallNoArgs(pymain.Get()));
    forked.EndIfChild(pyresult ? 0 : 1);
    return pyresult && !PyErr_Occurred();
}

} // namespace

bool RunText(const wxString& text, const wxString& path) {
    const wxFileName file(path);
    GilGuard gil(GetCoreApi());
    // A run started while another runs (from an event handled meanwhile) does not start.
    watchdog::Run run(path.empty() ? wxString("untitled") : file.GetName());
    if (run.Refused()) {
        run.SayRefused();
        return false;
    }
    // Whatever an earlier script or the console did with the standard streams, this run gets
    // the engine's; what it writes is in the output when it returns, and SIGINT is its own.
    interpreter::RestoreStreams();
    const interpreter::OutputDelivered delivered;
    const process_guards::ScriptInterrupts interrupts;

    // The folder goes on sys.path once, so that modules beside the document import; a failure
    // is reported and the run goes on.
    if (!path.empty() && !interpreter::AddToSysPath(file.GetPath(wxPATH_GET_VOLUME)))
        report::PrintPythonError();
    // And first while it runs, as python3 puts the folder of the script it runs.
    std::unique_ptr<interpreter::FolderFirst> first;
    if (!path.empty())
        first = std::make_unique<interpreter::FolderFirst>(file.GetPath(wxPATH_GET_VOLUME));

    PyRef pyfilename = path.empty() ? PyRef::Steal(PyUnicode_FromString(untitledName))
                                    : interpreter::FileSystemText(path);
    if (pyfilename && path.empty())
        RememberSource(text, pyfilename);
    PyRef pycode = pyfilename ? Compile(text, pyfilename) : PyRef();
    PyRef pymodule = pycode ? MainModule(pyfilename, !path.empty()) : PyRef();
    bool failed = true;
    if (pymodule) {
        const MainModuleScope scope(pymodule);
        const ArgvScope argv(pyfilename);
        failed = !Execute(run, pycode, pymodule);
    }
    // sys.exit() with no code or code 0 is a normal end; a run stopped quietly has no report.
    if (failed && report::EndedQuietly())
        failed = false;
    if (failed && !run.EndQuietly()) {
        interpreter::RestoreStreams(); // the report is the engine's
        interpreter::PlaceLinelessEntries();
        if (path.empty())
            report::ReportFailureWithCachedLines();
        else
            report::ReportFailure();
    }
    return !failed;
}

bool RunCurrent() {
    try {
        CSyntaxEditor* editor = CEditorManagement::Get()->GetCurrentEditor();
        if (!editor) {
            wxMessageBox(wxGetTranslation("There is no document to run."),
                         wxGetTranslation("Run Current Document"), wxOK | wxCENTRE);
            return false;
        }
        wxString path = DocumentFilePath(editor);
        // Said once per document: the editor lacks the call, not the document its file.
        static std::set<const CSyntaxEditor*> told;
        if (!EditorTellsDocumentFiles() && told.insert(editor).second)
            outputpipe::Say(wxGetTranslation(
                "The current document runs as an unsaved text: the editor does not say which "
                "file it is; modules beside it are not found.\n"));
        if (!path.empty()) {
            wxFileName file(path);
            file.MakeAbsolute();
            path = file.GetFullPath();
        }
        return RunText(editor->GetText(), path);
    } catch (const std::exception& error) {
        // Nothing escapes into the editor's event loop.
        wxLogError("Coilhatch: running the current document failed: %s", error.what());
        return false;
    }
}

} // namespace document
