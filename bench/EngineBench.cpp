// The engine's figures, each a ratio against a baseline measured in the same run.
//
// attach: the plug-in's OnAttach against what it cannot avoid, Py_Initialize and import wx. The
// interpreter starts once per process, so every sample is a child process (this program again,
// with a hidden sub-mode) that measures one start and prints its seconds.
//
// runscript: RunScript(path, false) on a trivial script, per call around run 100 and around run
// 10,000 of the same process: what runs leave behind must not make later runs slower.
//
// runscript --reload: RunScript(path, true) on a small script of the usual kind, against what
// any run of that file must cost at least: reading, compiling and executing it and calling its
// MpMain, in the same interpreter, taking the interpreter lock as a run does.
#include "engine/Gil.h"

#include "bench/Bench.h"

#include "engine/Coilhatch.h"
#include "engine/PyRef.h"
#include "host/lib/Services.h"

#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/frame.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace bench {
namespace {

// The editor's side as the plug-in sees it: named items and a main frame.
class Editor {
public:
    explicit Editor(const wxString& pluginsPath)
        : frame(new wxFrame(nullptr, wxID_ANY, "Marrowpad")) {
        host::SetAppWindow(frame);
        host::GetNameItem("PluginsPath")->SetAttribute(0, pluginsPath);
        host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
    }
    ~Editor() {
        host::SetAppWindow(nullptr);
        frame->Destroy();
    }
    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

private:
    wxFrame* frame;
};

// A folder of its own for the plug-in's files, removed at the end.
class ScratchDir {
public:
    ScratchDir() {
        std::string templ = (wxFileName::GetTempDir() + "/coilhatch-bench-XXXXXX").utf8_string();
        if (mkdtemp(templ.data()))
            path = wxString::FromUTF8(templ);
    }
    ~ScratchDir() {
        if (!path.empty())
            wxFileName::Rmdir(path, wxPATH_RMDIR_RECURSIVE);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    wxString path;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Child: one OnAttach of a fresh plug-in object, timed.
int AttachOnce() {
    ScratchDir plugins;
    Editor editor(plugins.path);
    CCoilhatch plugin;
    const double seconds = Seconds([&] { plugin.OnAttach(); });
    if (!plugin.IsEngineRunning())
        return 1;
    std::printf("%.9f\n", seconds);
    plugin.OnRelease();
    return 0;
}

// Child: Py_Initialize and import wx, timed: the least any attach must do.
int BaselineOnce() {
    double seconds = 0;
    bool imported = false;
    seconds = Seconds([&] {
        Py_Initialize();
        PyRef pywx = PyRef::Steal(PyImport_ImportModule("wx"));
        imported = static_cast<bool>(pywx);
    });
    if (!imported)
        return 1;
    std::printf("%.9f\n", seconds);
    return 0;
}

// Runs this program in a sub-mode and reads the seconds it prints; negative on failure.
double Sample(const char* mode) {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return -1;
    self[length] = '\0';
    const std::string command = std::string("'") + self + "' attach --child " + mode;
    FILE* child = popen(command.c_str(), "r");
    if (!child)
        return -1;
    double seconds = -1;
    if (std::fscanf(child, "%lf", &seconds) != 1)
        seconds = -1;
    return pclose(child) == 0 ? seconds : -1;
}

} // namespace

int EngineAttach(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return std::strcmp(argv[2], "plugin") == 0 ? AttachOnce() : BaselineOnce();

    const int samples = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 7;
    std::vector<double> attach;
    std::vector<double> baseline;
    for (int i = 0; i < samples; ++i) {
        // Interleaved, so that a slow moment of the machine hits both alike.
        const double b = Sample("baseline");
        const double a = Sample("plugin");
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "a child process failed\n");
            return 1;
        }
        baseline.push_back(b);
        attach.push_back(a);
    }
    const double a = Median(attach);
    const double b = Median(baseline);
    std::printf("attach: %d child processes each\n", samples);
    std::printf("  Py_Initialize + import wx (median): %.1f ms\n", b * 1e3);
    std::printf("  OnAttach (median):                  %.1f ms\n", a * 1e3);
    std::printf("  ratio OnAttach / baseline:          %.2f\n", a / b);
    return 0;
}

namespace {

// A small script of the usual kind: a few imports (loaded already), a class, some functions, a
// table, and an MpMain that does a little work.
const char reloadedScript[] = R"PY(import os, re, sys, time
import MpAPI

WORD = re.compile(r"\w+")
LIMITS = {"short": 10, "medium": 100, "long": 1000}


class Counter:
    """Counts the words of a text."""

    def __init__(self, text):
        self.text = text

    def words(self):
        return WORD.findall(self.text)

    def count(self):
        return len(self.words())

    def kind(self):
        n = self.count()
        for name, limit in LIMITS.items():
            if n <= limit:
                return name
        return "huge"


def describe(counter):
    return "%d words (%s)" % (counter.count(), counter.kind())


def folder_of(path):
    return os.path.dirname(os.path.abspath(path))


def MpMain():
    counter = Counter("one two three four")
    return describe(counter)
)PY";

// Reads, compiles and executes the file in a fresh module dictionary, then calls its MpMain.
const char compileAndExecSource[] = R"PY(def compile_and_exec(path):
    with open(path, 'rb') as f:
        source = f.read()
    code = compile(source, path, 'exec')
    module = {'__name__': 'reloaded', '__file__': path, '__builtins__': __builtins__}
    exec(code, module)
    return module['MpMain']()
)PY";

int EngineRunScriptReload(int argc, char** argv) {
    const int rounds = argc >= 3 ? std::max(3, std::atoi(argv[2])) : 15;
    const int perRound = 200;

    ScratchDir plugins;
    ScratchDir scripts;
    const wxString script = scripts.path + "/reloaded.py";
    {
        wxFFile file(script, "w");
        file.Write(reloadedScript);
    }
    Editor editor(plugins.path);
    CCoilhatch plugin;
    plugin.OnAttach();
    if (!plugin.IsEngineRunning()) {
        std::fprintf(stderr, "the engine did not start\n");
        return 1;
    }

    PyRef pybaseline;
    PyRef pypath;
    {
        GilGuard gil(GetCoreApi());
        PyRef pyglobals = PyRef::Steal(PyDict_New());
        if (pyglobals &&
            PyDict_SetItemString(pyglobals.Get(), "__builtins__", PyEval_GetBuiltins()) == 0) {
            PyRef pyresult = PyRef::Steal(PyRun_String(compileAndExecSource, Py_file_input,
                                                       pyglobals.Get(), pyglobals.Get()));
            if (pyresult)
                pybaseline =
                    PyRef::Borrow(PyDict_GetItemString(pyglobals.Get(), "compile_and_exec"));
        }
        pypath = PyRef::Steal(PyUnicode_FromString(script.utf8_str()));
        if (!pybaseline || !pypath) {
            PyErr_Print();
            return 1;
        }
    }

    bool ok = true;
    // One call of the baseline as a run makes it: the lock taken, the file run, the lock given.
    auto baselineOnce = [&] {
        GilGuard gil(GetCoreApi());
        PyRef pyresult = PyRef::Steal(PyObject_CallOneArg(pybaseline.Get(), pypath.Get()));
        if (!pyresult) {
            PyErr_Print();
            ok = false;
        }
    };
    std::vector<double> reloads;
    std::vector<double> baselines;
    for (int i = 0; i < 20; ++i) { // warm both
        ok = plugin.RunScript(script, true) && ok;
        baselineOnce();
    }
    for (int round = 0; round < rounds; ++round) {
        // Interleaved, so that a slow moment of the machine hits both alike.
        reloads.push_back(Seconds([&] {
                              for (int i = 0; i < perRound; ++i)
                                  ok = plugin.RunScript(script, true) && ok;
                          }) /
                          perRound);
        baselines.push_back(Seconds([&] {
                                for (int i = 0; i < perRound; ++i)
                                    baselineOnce();
                            }) /
                            perRound);
    }
    {
        GilGuard gil(GetCoreApi());
        pybaseline.Reset();
        pypath.Reset();
    }
    plugin.OnRelease();
    if (!ok) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }
    const double reload = Median(reloads);
    const double baseline = Median(baselines);
    std::printf("runscript --reload: RunScript(path, true) on a %zu-byte script, %d rounds of %d\n",
                std::strlen(reloadedScript), rounds, perRound);
    std::printf("  read + compile + exec + MpMain (median): %.1f us\n", baseline * 1e6);
    std::printf("  reload run (median):                     %.1f us\n", reload * 1e6);
    std::printf("ratio reload run / compile+exec: %.2f\n", reload / baseline);
    return 0;
}

} // namespace

int EngineRunScript(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--reload") == 0)
        return EngineRunScriptReload(argc, argv);
    const int total = argc >= 2 ? std::max(300, std::atoi(argv[1])) : 10000;
    const int window = 100; // calls timed at each mark

    ScratchDir plugins;
    ScratchDir scripts;
    const wxString script = scripts.path + "/trivial.py";
    {
        wxFFile file(script, "w");
        file.Write("def MpMain():\n    pass\n");
    }
    Editor editor(plugins.path);
    CCoilhatch plugin;
    plugin.OnAttach();
    if (!plugin.IsEngineRunning()) {
        std::fprintf(stderr, "the engine did not start\n");
        return 1;
    }

    // Per-call seconds of runs first..last (the run counter continues across calls).
    int run = 0;
    bool ok = true;
    auto runTo = [&](int last) {
        const int first = run + 1;
        const double seconds = Seconds([&] {
            for (; run < last; ++run)
                ok = plugin.RunScript(script, false) && ok;
        });
        return seconds / (last - first + 1);
    };
    runTo(100 - window / 2);
    const double early = runTo(100 + window / 2);
    runTo(total - window);
    const double late = runTo(total);
    plugin.OnRelease();
    if (!ok) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }
    std::printf("runscript: RunScript(path, false) on a trivial script\n");
    std::printf("  per call around run 100:    %.1f us\n", early * 1e6);
    std::printf("  per call around run %d: %.1f us\n", total, late * 1e6);
    std::printf("  ratio late / early:         %.2f\n", late / early);
    return 0;
}

} // namespace bench
