#include <Python.h>

#include "engine/Interpreter.h"

#include "engine/Assertions.h"
#include "engine/Gil.h"
#include "engine/OutputPipe.h"
#include "engine/Report.h"

#include <wx/modalhook.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cassert>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

namespace interpreter {

const char startupScriptName[] = "coilhatch/startup.py";

namespace {

// The start-up script, engine/startup.py, embedded when the library is built.
const char startupScript[] =
#include "startup_script.inc"
    ;

// wxPython's clean-up function, taken when the engine starts: a script may take wx._core out of
// sys.modules, and a lookup at release would then miss it. Never destroyed (no lock at exit).
PyRef* wxCleanup = nullptr;

// wxPython registers wx._core._wxPyCleanup with atexit; it would shut the toolkit down under the
// running editor, which owns it.
void UnregisterWxCleanup() {
    PyRef pycleanup;
    if (wxCleanup) {
        pycleanup = *wxCleanup;
    } else {
        PyRef pyname = PyRef::Steal(PyUnicode_FromString("wx._core"));
        PyRef pycore = pyname ? PyRef::Steal(PyImport_GetModule(pyname.Get())) : PyRef();
        if (!pycore) {
            report::PrintPythonError(); // nothing pending when wx was simply never imported
            return;
        }
        pycleanup = PyRef::Steal(PyObject_GetAttrString(pycore.Get(), "_wxPyCleanup"));
    }
    PyRef pyatexit = PyRef::Steal(PyImport_ImportModule("atexit"));
    if (pycleanup && pyatexit) {
        PyRef pyresult =
            PyRef::Steal(PyObject_CallMethod(pyatexit.Get(), "unregister", "O", pycleanup.Get()));
    }
    report::PrintPythonError();
}

// What the start-up script set up, kept until the process ends like the interpreter itself:
// never destroyed, since a destructor at exit would run without the interpreter lock.
struct EngineState {
    PyRef loader;         // the scriptLoader
    PyRef loadScript;     // the bound method scriptLoader.load
    PyRef restoreStreams; // the bound method scriptStreams.restore
    PyRef flushStreams;   // the bound method scriptStreams.flush
    PyRef byLines;        // the bound method scriptStreams.byLines
    PyRef placeEntries;   // placeLinelessEntries
};
EngineState* engineState = nullptr;

PyRef Method(PyObject* globals, const char* object, const char* name) {
    PyObject* found = PyDict_GetItemString(globals, object); // borrowed
    return found ? PyRef::Steal(PyObject_GetAttrString(found, name)) : PyRef();
}

// Takes what the start-up script left in the main module. Keeps the pending error.
void KeepEngineState(PyObject* globals) {
    const report::PendingErrorKeeper keep;
    if (!engineState)
        engineState = new EngineState;
    PyObject* loader = PyDict_GetItemString(globals, "coilhatchScripts"); // borrowed
    if (loader) {
        engineState->loader = PyRef::Borrow(loader);
        engineState->loadScript = Method(globals, "coilhatchScripts", "load");
    }
    engineState->placeEntries =
        PyRef::Borrow(PyDict_GetItemString(globals, "placeLinelessEntries"));
    PyRef pyrestore = Method(globals, "coilhatchStreams", "restore");
    if (pyrestore) {
        engineState->restoreStreams = pyrestore;
        engineState->flushStreams = Method(globals, "coilhatchStreams", "flush");
        engineState->byLines = Method(globals, "coilhatchStreams", "byLines");
    }
    PyErr_Clear();
}

// coilhatchDrainPipe(): hands what the output pipe holds to the message output.
PyObject* DrainPipe(PyObject*, PyObject*) {
    outputpipe::Drain();
    Py_RETURN_NONE;
}

// coilhatchUnfinishedLine(): the text on the output's current line.
PyObject* UnfinishedLine(PyObject*, PyObject*) {
    const wxString line = outputpipe::UnfinishedLine();
    const wxScopedCharBuffer utf8 = line.utf8_str();
    return PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.length()), "replace");
}

// coilhatchOutputIsTerminal(): whether the output is read as on a terminal.
PyObject* OutputIsTerminal(PyObject*, PyObject*) {
    return PyBool_FromLong(outputpipe::ShownAsOnATerminal());
}

// coilhatchOutputDescriptor(): the output pipe's own write end, or -1.
PyObject* OutputDescriptor(PyObject*, PyObject*) {
    return PyLong_FromLong(outputpipe::WriteEnd());
}

// coilhatchLastWord(type): a thread's failure told when memory is too short for its traceback:
// one line from static text, in the output, or on the editor's standard error when that fails.
PyObject* LastWord(PyObject*, PyObject* pytype) {
    static char head[] = "Exception in a thread: ";
    static char tail[] = " (its traceback could not be written)\n";
    static char unknown[] = "an exception";
    char* name = PyType_Check(pytype)
                     ? const_cast<char*>(reinterpret_cast<PyTypeObject*>(pytype)->tp_name)
                     : unknown;
    iovec parts[3] = {{head, sizeof head - 1}, {name, std::strlen(name)}, {tail, sizeof tail - 1}};
    if (writev(outputpipe::WriteEnd(), parts, 3) < 0)
        writev(outputpipe::EditorStandardError(), parts, 3);
    Py_RETURN_NONE;
}

// coilhatchSetAssertMode(mode): what a toolkit assertion that fails in Python's call does.
PyObject* SetAssertMode(PyObject*, PyObject* pymode) {
    const long mode = PyLong_AsLong(pymode);
    if (mode == -1 && PyErr_Occurred())
        return nullptr;
    assertions::SetMode(static_cast<int>(mode));
    Py_RETURN_NONE;
}

PyMethodDef engineFunctions[] = {
    {"coilhatchDrainPipe", DrainPipe, METH_NOARGS,
     "coilhatchDrainPipe(): hands what the output pipe holds to the message output."},
    {"coilhatchUnfinishedLine", UnfinishedLine, METH_NOARGS,
     "coilhatchUnfinishedLine(): the text after the last line feed of the output."},
    {"coilhatchOutputIsTerminal", OutputIsTerminal, METH_NOARGS,
     "coilhatchOutputIsTerminal(): whether the output is read as on a terminal."},
    {"coilhatchOutputDescriptor", OutputDescriptor, METH_NOARGS,
     "coilhatchOutputDescriptor(): the output pipe's own write end, or -1."},
    {"coilhatchLastWord", LastWord, METH_O,
     "coilhatchLastWord(type): one line naming a thread's exception, without memory."},
    {"coilhatchSetAssertMode", SetAssertMode, METH_O,
     "coilhatchSetAssertMode(mode): how failed toolkit assertions are told to Python."},
};

// Puts the engine's functions into the main module's names, for the start-up script.
bool AddEngineFunctions(PyObject* globals) {
    for (PyMethodDef& def : engineFunctions) {
        PyRef pyfunction = PyRef::Steal(PyCFunction_New(&def, nullptr));
        if (!pyfunction || PyDict_SetItemString(globals, def.ml_name, pyfunction.Get()) != 0)
            return false;
    }
    return true;
}

void IgnoreUnlessHandled(int signal) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
        current.sa_handler == SIG_DFL)
        ::signal(signal, SIG_IGN);
}

// Python's signal module, when first imported, handles SIGINT (to raise KeyboardInterrupt):
// imported now, and SIGINT given back to whatever the editor had, a script's `import signal`
// takes nothing from the editor. signal.signal() still sets what a script asks for.
void KeepInterruptTheEditors() {
    struct sigaction editors;
    const bool known = sigaction(SIGINT, nullptr, &editors) == 0;
    PyRef pysignal = PyRef::Steal(PyImport_ImportModule("_signal"));
    PyErr_Clear(); // without the module nothing takes the signal
    if (known)
        sigaction(SIGINT, &editors, nullptr);
}

// The readline module is bound to GNU readline before anything imports it. The toolkit's GL
// driver has loaded libedit, which defines readline's functions too, into the process's global
// scope: an ordinary import would bind the module to libedit's (and break its history). Loaded
// here with its own libraries searched first, the later import finds it ready.
// (AddressSanitizer cannot load libraries that way: such builds keep the ordinary import.)
void PreloadReadline() {
#if !defined(__SANITIZE_ADDRESS__)
    PyRef pyutil = PyRef::Steal(PyImport_ImportModule("importlib.util"));
    PyRef pyspec =
        pyutil ? PyRef::Steal(PyObject_CallMethod(pyutil.Get(), "find_spec", "s", "readline"))
               : PyRef();
    PyRef pyorigin = pyspec && pyspec.Get() != Py_None
                         ? PyRef::Steal(PyObject_GetAttrString(pyspec.Get(), "origin"))
                         : PyRef();
    PyRef pybytes = pyorigin && PyUnicode_Check(pyorigin.Get())
                        ? PyRef::Steal(PyUnicode_EncodeFSDefault(pyorigin.Get()))
                        : PyRef();
    PyErr_Clear(); // no readline module: nothing to bind
    if (!pybytes)
        return;
    // Deliberately never closed: the module stays loaded for the import to find.
    if (!dlopen(PyBytes_AsString(pybytes.Get()), RTLD_NOW | RTLD_DEEPBIND))
        std::fprintf(stderr, "Coilhatch: cannot load the readline module: %s\n", dlerror());
#endif
}

// wxPython's extension modules (and MpAPI, built on them) keep the one interpreter they were
// loaded into, its types and its thread states, for the whole process: initialized again inside
// a subinterpreter (_xxsubinterpreters, _testcapi.run_in_subinterp) they would take the editor
// down. A subinterpreter has a sys.modules, import machinery and builtins of its own, none of
// them set up by the plug-in, so the refusal is an audit hook: those are the runtime's, heard in
// every interpreter, and the import event comes before a module is looked for.
int RefuseWxInSubinterpreters(const char* event, PyObject* args, void*) {
    if (std::strcmp(event, "import") != 0 || PyInterpreterState_Get() == PyInterpreterState_Main())
        return 0;
    if (!PyTuple_Check(args) || PyTuple_GET_SIZE(args) < 1)
        return 0;
    PyObject* name = PyTuple_GET_ITEM(args, 0); // borrowed
    if (!PyUnicode_Check(name))
        return 0;
    const char* text = PyUnicode_AsUTF8(name);
    if (!text) {
        PyErr_Clear();
        return 0;
    }
    // The editor's module hands out wxPython's objects, and waits for the main interpreter's
    // lock.
    if (std::strcmp(text, "wx") != 0 && std::strncmp(text, "wx.", 3) != 0 &&
        std::strcmp(text, "MpAPI") != 0)
        return 0;
    PyErr_Format(PyExc_ImportError,
                 "%s cannot be imported in a subinterpreter: wxPython and MpAPI run only in the "
                 "editor's main interpreter",
                 text);
    return -1;
}

} // namespace

bool StartInterpreter() {
    // Deliberately never closed: libpython must stay loaded, and global, for as long as the
    // process may call into the interpreter.
    static void* const globalPython =
        dlopen(COILHATCH_PYTHON_SONAME, RTLD_LAZY | RTLD_NOLOAD | RTLD_GLOBAL);
    if (!globalPython)
        std::fprintf(stderr, "Coilhatch: cannot make %s global: %s\n", COILHATCH_PYTHON_SONAME,
                     dlerror());

    if (Py_IsInitialized()) {
        // A later attach in the same process finds the interpreter that an earlier release left
        // running: its lock is taken back for good, as a fresh start would hold it.
        PyGILState_Ensure();
        UsePythonsLocale();
        return true;
    }

    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    // The interpreter the plug-in was built for, by its absolute path: its prefix, module path
    // and sys.executable follow from it, whatever PATH or an activated virtual environment
    // say. PYTHONPATH and the user's site folder still count, as for python3 itself.
    PyStatus status =
        PyConfig_SetBytesString(&config, &config.program_name, COILHATCH_PYTHON_EXECUTABLE);
    if (!PyStatus_Exception(status))
        status = PyConfig_SetBytesString(&config, &config.executable, COILHATCH_PYTHON_EXECUTABLE);
    // With inspect set, SystemExit reaching PyErr_Print (ours, or wxPython's event dispatch) is
    // printed as a traceback instead of calling exit(): a script can never close the editor.
    config.inspect = 1;
    // The editor owns the process's signal handlers: Python installs none (SIGINT stays the
    // editor's). The dispositions Python sets are set, unless the editor handles the signal:
    // SIGPIPE and SIGXFSZ ignored, so that a write past a pipe's end or past the file-size
    // limit fails with an error (EPIPE, EFBIG) instead of ending the editor.
    config.install_signal_handlers = 0;
    IgnoreUnlessHandled(SIGPIPE);
    IgnoreUnlessHandled(SIGXFSZ);
    // Hooks added before the start stay for the interpreter's life (a finalized one drops them).
    if (!PyStatus_Exception(status) && PySys_AddAuditHook(RefuseWxInSubinterpreters, nullptr) != 0)
        std::fprintf(stderr, "Coilhatch: wxPython stays importable in subinterpreters\n");
    if (!PyStatus_Exception(status))
        status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    if (PyStatus_Exception(status)) {
        std::fprintf(stderr, "Coilhatch: cannot start Python: %s%s%s\n",
                     status.func ? status.func : "", status.func ? ": " : "",
                     status.err_msg ? status.err_msg : "");
        return false;
    }
    KeepInterruptTheEditors();
    UsePythonsLocale();
    PreloadReadline();
    return true;
}

void FinalizeInterpreter() {
    if (!Py_IsInitialized())
        return;
    assert(PyGILState_Check());
    UnregisterWxCleanup();
    Py_Finalize();
    RestoreEditorsLocale();
}

void KeepApplicationWrapper() {
    assert(PyGILState_Check());
    // Held until the process ends, like the interpreter itself: never destroyed, since a
    // destructor at exit would run without the interpreter lock.
    static PyRef* applicationWrapper = nullptr;
    if (applicationWrapper)
        return;
    PyRef pywx = PyRef::Steal(PyImport_ImportModule("wx"));
    PyRef pyapp = pywx ? PyRef::Steal(PyObject_CallMethod(pywx.Get(), "GetApp", nullptr)) : PyRef();
    report::PrintPythonError();
    if (pyapp)
        applicationWrapper = new PyRef(std::move(pyapp));
    PyRef pycore = PyRef::Steal(PyImport_ImportModule("wx._core"));
    PyRef pycleanup =
        pycore ? PyRef::Steal(PyObject_GetAttrString(pycore.Get(), "_wxPyCleanup")) : PyRef();
    report::PrintPythonError();
    if (pycleanup)
        wxCleanup = new PyRef(std::move(pycleanup));
}

PyRef FileSystemText(const wxString& text) {
    assert(PyGILState_Check());
    if (text.empty())
        return PyRef::Steal(PyUnicode_FromStringAndSize("", 0));
    // The bytes the toolkit uses for this name on disk, decoded as Python decodes names it reads
    // from the file system (os.fsdecode), so that both mean the same file.
    const wxScopedCharBuffer bytes = text.mb_str(*wxConvFileName);
    if (bytes.length() == 0) {
        PyErr_SetString(PyExc_UnicodeError,
                        "a name cannot be converted to the file-system encoding");
        return PyRef();
    }
    return PyRef::Steal(
        PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.length())));
}

bool AddToSysPath(const wxString& folder) {
    assert(PyGILState_Check());
    PyRef pyfolder = FileSystemText(folder);
    if (!pyfolder)
        return false;
    PyObject* path = PySys_GetObject("path"); // borrowed
    if (!path || !PyList_Check(path)) {
        PyErr_SetString(PyExc_RuntimeError, "sys.path is not a list");
        return false;
    }
    // Comparing entries may run Python code that rebinds sys.path; keep this list alive.
    PyRef pypath = PyRef::Borrow(path);
    const int found = PySequence_Contains(pypath.Get(), pyfolder.Get());
    if (found < 0)
        return false;
    return found == 1 || PyList_Append(pypath.Get(), pyfolder.Get()) == 0;
}

bool RunStartupScript() {
    assert(PyGILState_Check());
    PyRef pycode = PyRef::Steal(Py_CompileString(startupScript, startupScriptName, Py_file_input));
    if (!pycode)
        return false;
    PyObject* main = PyImport_AddModule("__main__"); // borrowed
    if (!main)
        return false;
    PyObject* globals = PyModule_GetDict(main); // borrowed
    if (!AddEngineFunctions(globals))
        return false;
    PyRef pyresult = PyRef::Steal(PyEval_EvalCode(pycode.Get(), globals, globals));
    // The loader and the streams are set up before anything that may fail for want of the
    // editor's module, so that scripts run, and their output shows, even then.
    KeepEngineState(globals);
    return static_cast<bool>(pyresult);
}

void RestoreStreams() {
    assert(PyGILState_Check());
    outputpipe::Reclaim();
    if (!engineState || !engineState->restoreStreams)
        return;
    const report::PendingErrorKeeper keep;
    PyRef pyresult = PyRef::Steal(PyObject_CallNoArgs(engineState->restoreStreams.Get()));
    report::PrintPythonError();
}

namespace {

class FlushBeforeDialog : public wxModalDialogHook {
protected:
    int Enter(wxDialog*) override {
        if (Py_IsInitialized() && PyGILState_GetThisThreadState()) {
            const GilStateGuard gil;
            FlushStreams();
        } else {
            outputpipe::Drain();
        }
        return wxID_NONE;
    }
    void Exit(wxDialog*) override {}
};

FlushBeforeDialog* dialogHook = nullptr;

} // namespace

void FlushBeforeDialogs(bool on) {
    if (on && !dialogHook) {
        // Registered last, so asked first.
        dialogHook = new FlushBeforeDialog;
        dialogHook->Register();
    } else if (!on && dialogHook) {
        dialogHook->Unregister();
        delete dialogHook;
        dialogHook = nullptr;
    }
}

void FlushStreams() {
    assert(PyGILState_Check());
    if (engineState && engineState->flushStreams) {
        const report::PendingErrorKeeper keep;
        PyRef pyresult = PyRef::Steal(PyObject_CallNoArgs(engineState->flushStreams.Get()));
        report::PrintPythonError();
    }
    outputpipe::Drain();
}

void PlaceLinelessEntries() {
    assert(PyGILState_Check());
    if (!PyErr_Occurred() || !engineState || !engineState->placeEntries)
        return;
    report::FetchedError error = report::FetchedError::Take(true);
    if (error.value && error.traceback) {
        PyRef pyplaced = PyRef::Steal(
            PyObject_CallOneArg(engineState->placeEntries.Get(), error.traceback.Get()));
        if (pyplaced && PyTraceBack_Check(pyplaced.Get())) {
            PyException_SetTraceback(error.value.Get(), pyplaced.Get());
            error.traceback = pyplaced;
        }
        PyErr_Clear(); // the error is told as it came
    }
    error.Restore();
}

PyRef LoadScript(const wxString& path, const wxString& name, bool reload) {
    assert(PyGILState_Check());
    if (!engineState || !engineState->loadScript) {
        PyErr_SetString(PyExc_RuntimeError, "the start-up script did not set up the script loader");
        return PyRef();
    }
    PyRef pypath = FileSystemText(path);
    PyRef pyname = pypath ? FileSystemText(name) : PyRef();
    if (!pyname)
        return PyRef();
    return PyRef::Steal(PyObject_CallFunctionObjArgs(engineState->loadScript.Get(), pypath.Get(),
                                                     pyname.Get(), reload ? Py_True : Py_False,
                                                     nullptr));
}

FolderFirst::FolderFirst(const wxString& folder) {
    assert(PyGILState_Check());
    PyRef pyfolder = FileSystemText(folder);
    if (pyfolder && engineState && engineState->loader)
        pyentry = PyRef::Steal(
            PyObject_CallMethod(engineState->loader.Get(), "putFirst", "O", pyfolder.Get()));
    // The run goes on without it.
    report::PrintPythonError();
}

FolderFirst::~FolderFirst() {
    if (!pyentry)
        return;
    const report::PendingErrorKeeper keep; // the run's own error, reported later
    PyRef pyresult = PyRef::Steal(
        PyObject_CallMethod(engineState->loader.Get(), "takeAway", "O", pyentry.Get()));
    report::PrintPythonError();
}

void RunShutdownWork() {
    assert(PyGILState_Check());
    UnregisterWxCleanup();
    // Runs the scripts' atexit functions and forgets them; it reports their errors itself.
    PyRef pyatexit = PyRef::Steal(PyImport_ImportModule("atexit"));
    if (pyatexit) {
        PyRef pyresult =
            PyRef::Steal(PyObject_CallMethod(pyatexit.Get(), "_run_exitfuncs", nullptr));
    }
    report::PrintPythonError();
    FlushStreams();
    // Python code the editor still runs (handlers of its windows) prints with no run left to
    // flush it, into an interpreter that is never finalized: by lines from now on.
    if (engineState && engineState->byLines) {
        PyRef pyresult = PyRef::Steal(PyObject_CallNoArgs(engineState->byLines.Get()));
        report::PrintPythonError();
    }
}

namespace {

// The categories that Python and a wxPython program leave at "C": only LC_CTYPE follows the
// environment there.
const int pythonsCCategories[] = {LC_NUMERIC,   LC_TIME,        LC_COLLATE,       LC_MONETARY,
                                  LC_MESSAGES,  LC_PAPER,       LC_NAME,          LC_ADDRESS,
                                  LC_TELEPHONE, LC_MEASUREMENT, LC_IDENTIFICATION};

// The editor's locale, kept while Python's is in use.
std::string* editorsLocale = nullptr;

} // namespace

void UsePythonsLocale() {
    if (editorsLocale)
        return;
    const char* current = std::setlocale(LC_ALL, nullptr);
    editorsLocale = new std::string(current ? current : "C");
    for (const int category : pythonsCCategories)
        std::setlocale(category, "C");
}

void RestoreEditorsLocale() {
    if (!editorsLocale)
        return;
    std::setlocale(LC_ALL, editorsLocale->c_str());
    delete editorsLocale;
    editorsLocale = nullptr;
}

} // namespace interpreter
