// Completion: a request in a Python document (the editor's completion event through the
// plug-in, the completion script reloaded and run, the request sent to the completion server,
// the list shown when the answer comes) against jedi's own Script(...).complete() on the same
// text and caret in a plain /usr/bin/python3.11 process, with the two lists compared name by
// name; the first request after attach; the first request of a 20,000-line unsaved document.
//
//   coilhatch_bench completion [--requests N] [--busy N]
//   coilhatch_bench completion --stall
//   coilhatch_bench completion --insight
//
// --busy N keeps N processes busy (python3 -c 'while True: pass') for the whole run, jedi's
// included. --stall measures instead how long the editor's thread stalls at most while a
// request waits on a server held stopped (SIGSTOP) for 2 s: a wx timer of a script ticks every
// 5 ms, and the longest gap between its ticks is the stall. --insight measures the diagnostics,
// go-to and hover (completion/Insight.h): pyflakes' findings in 25 documents against
// `python3 -m pyflakes`, and the time from the last keystroke to the markers shown against
// pyflakes' own time; 20 go-to carets against jedi's goto(follow_imports=True); and, when
// Debian's python3-pylsp is installed (apt-get install python3-pylsp), the same against pylsp.
#include "bench/Bench.h"
#include "engine/Coilhatch.h"
#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/arrstr.h>
#include <wx/dir.h>
#include <wx/evtloop.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/utils.h>

#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace bench {
namespace {

bool WriteText(const wxString& path, const wxString& text) {
    wxFileName::Mkdir(wxFileName(path).GetPath(), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    wxFFile file(path, "wb");
    return file.IsOpened() && file.Write(text, wxConvUTF8);
}

wxString ReadText(const wxString& path) {
    wxFFile file(path, "rb");
    wxString text;
    if (file.IsOpened())
        file.ReadAll(&text, wxConvUTF8);
    return text;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One caret: a document (a file of the standard library, or a text of our own) and where the
// caret stands in it.
struct Caret {
    const char* label;
    const char* file; // below /usr/lib/python3.11, or null
    const char* text; // without a file
    int line;         // from 1
    int column;       // characters from 0
    bool wx;
};

// Fifteen carets in the standard library: thirteen where its own code names an attribute (one
// with nothing typed after the dot, one with "_" alone) and two at a bare name; three in wx and
// one in MpAPI, where users of the editor write most.
const Caret carets[] = {
    {"json/decoder.py self.sc", "json/decoder.py", nullptr, 329, 15, false},
    {"subprocess.py os.wa", "subprocess.py", nullptr, 106, 24, false},
    {"argparse.py _os.pa", "argparse.py", nullptr, 1765, 25, false},
    {"logging sys.st", "logging/__init__.py", nullptr, 1028, 37, false},
    {"http/client.py self.so", "http/client.py", nullptr, 974, 19, false},
    {"textwrap.py re.co", "textwrap.py", nullptr, 102, 29, false},
    {"shutil.py os.path.ex", "shutil.py", nullptr, 283, 33, false},
    {"shutil.py os.path.", "shutil.py", nullptr, 283, 31, false},
    {"configparser self.opt", "configparser.py", nullptr, 238, 16, false},
    {"tarfile self.fileobj.re", "tarfile.py", nullptr, 540, 37, false},
    {"email/message self._he", "email/message.py", nullptr, 152, 16, false},
    {"zipfile.py self.fp.se", "zipfile.py", nullptr, 1357, 34, false},
    {"pathlib.py self._", "pathlib.py", nullptr, 154, 33, false},
    {"shutil.py copyf", "shutil.py", nullptr, 279, 25, false},
    {"shutil.py _check_u", "shutil.py", nullptr, 1191, 12, false},
    {"wx.Fra", nullptr, "import wx\nwx.Fra", 2, 6, true},
    {"wx.Frame(None).SetTi", nullptr, "import wx\nwx.Frame(None).SetTi", 2, 20, true},
    {"wx.stc...GetLin", nullptr, "import wx.stc\nwx.stc.StyledTextCtrl().GetLin", 2, 30, true},
    {"MpAPI ed.GetLin", nullptr,
     "import MpAPI\ned = MpAPI.CEditorManagement_Get().GetCurrentEditor()\ned.GetLin", 3, 8, true},
};

// jedi alone in a plain interpreter: reads one case a line (a JSON object) and answers each with
// jedi's completions there and the seconds complete() took, one JSON object a line.
const char* const baselineScript = R"(import json, os, sys, time, warnings
import jedi

for line in sys.stdin:
    case = json.loads(line)
    project = None
    if case["stubs"]:
        folder = os.path.dirname(case["path"]) if case["path"] else os.getcwd()
        project = jedi.Project(folder, sys_path=[case["stubs"]] + sys.path)
    start = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        script = jedi.Script(code=case["text"], path=case["path"],
                             environment=jedi.InterpreterEnvironment(), project=project)
        names = [c.name for c in script.complete(case["line"], case["column"])]
    seconds = time.perf_counter() - start
    print(json.dumps({"names": names, "seconds": seconds}), flush=True)
)";

// Ticks every 5 ms and keeps the longest gap between ticks: the first run starts the timer,
// every later run appends the longest gap since the run before to stalls.txt.
const char* const stallScript = R"(import os, time, wx

class Watch:
    def __init__(self):
        self.last = time.perf_counter()
        self.longest = 0.0
        self.timer = wx.Timer()
        self.timer.Bind(wx.EVT_TIMER, self.tick)
        self.timer.Start(5)

    def tick(self, event):
        now = time.perf_counter()
        self.longest = max(self.longest, now - self.last)
        self.last = now

watch = None

def MpMain():
    global watch
    if watch is None:
        watch = Watch()
        return
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "stalls.txt"), "a") as f:
        f.write(repr(watch.longest) + "\n")
    watch.longest = 0.0
    watch.last = time.perf_counter()
)";

struct Options {
    int requests = 10;
    int busy = 0;
    bool stall = false;
    bool insight = false;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stall") == 0) {
            options.stall = true;
        } else if (std::strcmp(argv[i], "--insight") == 0) {
            options.insight = true;
        } else if (i + 1 < argc && std::strcmp(argv[i], "--requests") == 0) {
            options.requests = std::atoi(argv[++i]);
        } else if (i + 1 < argc && std::strcmp(argv[i], "--busy") == 0) {
            options.busy = std::atoi(argv[++i]);
        } else {
            return false;
        }
    }
    return options.requests >= 1 && options.busy >= 0;
}

// Processes that keep the processor busy while they live.
class BusyProcesses {
public:
    explicit BusyProcesses(int count) {
        for (int i = 0; i < count; ++i) {
            const pid_t child = fork();
            if (child == 0) {
                execl("/usr/bin/python3.11", "python3", "-c", "while True: pass",
                      static_cast<char*>(nullptr));
                _exit(127);
            }
            if (child > 0)
                children.push_back(child);
        }
    }
    ~BusyProcesses() {
        for (const pid_t child : children) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
    }
    BusyProcesses(const BusyProcesses&) = delete;
    BusyProcesses& operator=(const BusyProcesses&) = delete;

private:
    std::vector<pid_t> children;
};

// The bench's editor: a frame, an editor in it, the plug-in, and an event loop that runs while
// answers are awaited.
class Editor {
public:
    explicit Editor(const wxString& plugins) {
        frame = new wxFrame(nullptr, wxID_ANY, "Marrowpad");
        host::SetAppWindow(frame);
        host::GetNameItem("PluginsPath")->SetAttribute(0, plugins);
        host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
        editor = new host::SyntaxEditor(frame);
        host::SetCurrentEditorProvider([this] { return editor; });
        frame->Show(); // the list is a popup of the shown editor, as in the editor program
    }
    ~Editor() {
        if (plugin.IsEngineRunning())
            plugin.OnRelease();
        host::SetCurrentEditorProvider(nullptr);
        host::SetAppWindow(nullptr);
        frame->Destroy();
        wxTheApp->ProcessIdle();
    }
    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    void Open(const wxString& path, const wxString& text, int line, int column) {
        editor->SetLexer(wxSTC_LEX_PYTHON);
        editor->SetFilePath(path);
        editor->SetText(text);
        const int start = editor->PositionFromLine(line - 1);
        const int end = editor->GetLineEndPosition(line - 1);
        int caret = start;
        for (int i = 0; i < column && caret < end; ++i)
            caret = editor->PositionAfter(caret);
        editor->GotoPos(caret);
    }

    // Runs the loop for a while, or until the condition holds.
    bool RunUntil(const std::function<bool()>& condition, double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (!condition()) {
            if (Clock::now() >= deadline)
                return false;
            loop.DispatchTimeout(5);
            wxTheApp->ProcessPendingEvents();
        }
        return true;
    }

    struct Request {
        double seconds = 0; // until the answer was shown (or dropped)
        double ui = 0;      // of them, the editor's thread's own work on the request
        double show = 0;    // the list shown again alone
        bool listed = false;
        std::vector<std::string> items;
    };

    // A completion as Ctrl+Space starts it, and its answer shown.
    Request Complete() {
        Request request;
        editor->AutoCompCancel();
        editor->CallTipCancel();
        const auto start = Clock::now();
        wxCommandEvent event(wxEVT_EDITOR_COMPLETEBEGIN);
        plugin.ProcessEvent(event);
        request.ui = std::chrono::duration<double>(Clock::now() - start).count();
        RunUntil([this] { return plugin.completion.PendingCount() == 0; }, 60);
        request.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        request.listed = editor->AutoCompActive();
        if (request.listed)
            request.items = plugin.completion.ShownItems();
        editor->AutoCompCancel();
        if (request.listed) {
            // The same list shown again alone: what the editor's showing costs.
            wxString items;
            for (const std::string& item : request.items)
                items += (items.empty() ? "" : " ") + wxString::FromUTF8(item);
            const auto shown = Clock::now();
            editor->AutoCompShow(0, items);
            request.show = std::chrono::duration<double>(Clock::now() - shown).count();
            editor->AutoCompCancel();
        }
        return request;
    }

    wxFrame* frame;
    host::SyntaxEditor* editor;
    CCoilhatch plugin;
    wxEventLoop loop;
    wxEventLoopActivator activator{&loop};
};

// Copies the shipped completion folder (the script, the server and its engine) below `plugins`.
bool CopyCompletionFiles(const wxString& plugins) {
    const wxString sep = wxFileName::GetPathSeparator();
    const wxString relative = "python" + sep + "autocomplete";
    const wxString shipped = wxString(COILHATCH_PLUGINS_DIR) + sep + relative;
    wxArrayString files;
    wxDir::GetAllFiles(shipped, &files, "*.py", wxDIR_FILES);
    bool copied = false;
    for (const wxString& file : files) {
        const wxString text = ReadText(file);
        if (text.empty() ||
            !WriteText(plugins + sep + relative + sep + wxFileName(file).GetFullName(), text))
            return false;
        copied = copied || wxFileName(file).GetFullName() == "autocomp.py";
    }
    return copied;
}

// How the editor's list differs from jedi's, in a few words; empty when they are the same.
std::string Difference(const std::vector<std::string>& editor,
                       const std::vector<std::string>& jedi) {
    if (editor == jedi)
        return std::string();
    std::vector<std::string> a = editor;
    std::vector<std::string> b = jedi;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::vector<std::string> onlyEditor;
    std::vector<std::string> onlyJedi;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(onlyEditor));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(onlyJedi));
    const auto some = [](const std::vector<std::string>& names) {
        std::string text;
        for (size_t i = 0; i < names.size() && i < 4; ++i)
            text += (i ? ", " : "") + names[i];
        return text + (names.size() > 4 ? ", ..." : "");
    };
    if (onlyEditor.empty() && onlyJedi.empty())
        return "same names, another order";
    std::string text;
    if (!onlyEditor.empty())
        text +=
            std::to_string(onlyEditor.size()) + " only in the editor (" + some(onlyEditor) + ")";
    if (!onlyJedi.empty())
        text += std::string(text.empty() ? "" : "; ") + std::to_string(onlyJedi.size()) +
                " only in jedi (" + some(onlyJedi) + ")";
    return text;
}

// The document text of a caret.
wxString CaretText(const Caret& caret) {
    return caret.file ? ReadText(wxString("/usr/lib/python3.11/") + caret.file)
                      : wxString(caret.text);
}
wxString CaretPath(const Caret& caret) {
    return caret.file ? wxString("/usr/lib/python3.11/") + caret.file : wxString();
}

// A plain /usr/bin/python3.11 of its own running a script of ours, asked one JSON line at a time
// on its standard input; each answer is one JSON line on its standard output.
class PlainPython {
public:
    PlainPython(const wxString& scriptPath, const char* source) {
        int in[2];
        int out[2];
        if (!WriteText(scriptPath, source) || pipe(in) != 0 || pipe(out) != 0)
            return;
        const std::string path(scriptPath.utf8_str());
        child = fork();
        if (child == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            close(in[1]);
            close(out[0]);
            execl("/usr/bin/python3.11", "python3", path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to = fdopen(in[1], "w");
        from = fdopen(out[0], "r");
    }
    ~PlainPython() {
        if (to)
            std::fclose(to);
        if (from)
            std::fclose(from);
        if (child > 0) {
            kill(child, SIGTERM);
            waitpid(child, nullptr, 0);
        }
    }
    PlainPython(const PlainPython&) = delete;
    PlainPython& operator=(const PlainPython&) = delete;

    // The answer: null when the interpreter did not start, discarded when it answers no JSON.
    nlohmann::json Ask(const nlohmann::json& command) {
        if (!to || !from)
            return nlohmann::json();
        std::fputs((command.dump() + "\n").c_str(), to);
        std::fflush(to);
        std::string line;
        char buffer[1 << 16];
        while (std::fgets(buffer, sizeof buffer, from)) {
            line += buffer;
            if (line.back() == '\n')
                break;
        }
        return nlohmann::json::parse(line, nullptr, false);
    }

private:
    pid_t child = -1;
    FILE* to = nullptr;
    FILE* from = nullptr;
};

// jedi in a plain /usr/bin/python3.11 of its own, asked case by case, so that its calls and the
// editor's requests take turns under the same load.
class Jedi {
public:
    explicit Jedi(const wxString& work)
        : stubs(work + "/stubs"), python(work + "/jedi_baseline.py", baselineScript) {
        // MpAPI's stub alone in a folder, as an IDE is told to read it.
        WriteText(stubs + "/MpAPI.pyi", ReadText(wxString(COILHATCH_BIN_DIR) + "/MpAPI.pyi"));
    }
    Jedi(const Jedi&) = delete;
    Jedi& operator=(const Jedi&) = delete;

    struct Answer {
        bool ok = false;
        std::vector<std::string> names;
        double seconds = 0;
    };

    Answer Complete(const Caret& caret) {
        Answer answer;
        const bool mpapi = std::strstr(caret.label, "MpAPI") != nullptr;
        const wxString path = CaretPath(caret);
        const nlohmann::json request = {
            {"text", std::string(CaretText(caret).utf8_str())},
            {"path", path.empty() ? nlohmann::json() : nlohmann::json(path.utf8_string())},
            {"line", caret.line},
            {"column", caret.column},
            {"stubs", mpapi ? nlohmann::json(stubs.utf8_string()) : nlohmann::json()}};
        const nlohmann::json result = python.Ask(request);
        if (!result.is_object())
            return answer;
        answer.ok = true;
        answer.names = result.value("names", std::vector<std::string>());
        answer.seconds = result.value("seconds", 0.0);
        return answer;
    }

private:
    wxString stubs;
    PlainPython python;
};

// A Python document of `lines` lines whose last line asks for os's attributes.
wxString LongDocument(int lines) {
    wxString text = "import os\n";
    for (int i = 0; text.Freq('\n') < lines - 1; ++i)
        text += wxString::Format("value_%d = os.path.join('a', str(%d))\n", i, i);
    return text + "os.pa";
}

int Stall(Editor& bench, const wxString& plugins) {
    const wxString script = plugins + "/stall_watch.py";
    WriteText(script, stallScript);
    bench.Open(wxString(), "import os\nos.pa", 2, 5);
    bench.Complete(); // the server is up and warm for this text
    bench.plugin.RunScript(script, false);
    bench.RunUntil([] { return false; }, 0.5);
    bench.plugin.RunScript(script, false); // the timer's own jitter, no request
    const pid_t server = bench.plugin.completion.Server().Pid();
    kill(server, SIGSTOP);
    const auto start = Clock::now();
    wxCommandEvent event(wxEVT_EDITOR_COMPLETEBEGIN);
    bench.plugin.ProcessEvent(event);
    bench.RunUntil([] { return false; }, 2.0);
    kill(server, SIGCONT);
    bench.RunUntil([&bench] { return bench.plugin.completion.PendingCount() == 0; }, 60);
    const double answered = std::chrono::duration<double>(Clock::now() - start).count();
    const bool listed = bench.editor->AutoCompActive();
    bench.plugin.RunScript(script, false);
    std::vector<double> stalls;
    for (const wxString& line : wxSplit(ReadText(plugins + "/stalls.txt"), '\n')) {
        double value = 0;
        if (line.ToCDouble(&value))
            stalls.push_back(value);
    }
    if (stalls.size() != 2) {
        std::fprintf(stderr, "the timer script did not report\n");
        return 1;
    }
    std::printf("longest gap between 5 ms timer ticks, no request:                  %6.1f ms\n",
                stalls[0] * 1e3);
    std::printf("longest gap while a request waits on a server stopped for 2 s:     %6.1f ms\n",
                stalls[1] * 1e3);
    std::printf("the answer came %.2f s after the request (%s shown)\n", answered,
                listed ? "list" : "nothing");
    return 0;
}

// -- --insight ---------------------------------------------------------------------------------

// The baselines of --insight, in plain interpreters: one command a line (a JSON object), one
// answer a line. "cli": `python3 -m pyflakes` on a file; "pyflakes": pyflakes' own check of a
// text, timed; "goto": jedi's goto(follow_imports=True); "lsp-*": the same asked of pylsp, the
// language server IDEs use, over its own protocol.
const char* const insightScript = R"(import json, os, subprocess, sys, threading, time, warnings
import jedi

def cli(path):
    run = subprocess.run(["/usr/bin/python3.11", "-m", "pyflakes", path],
                         capture_output=True, text=True)
    lines = (run.stdout + run.stderr).splitlines()
    return [line[len(path) + 1:] for line in lines if line.startswith(path + ":")]

def pyflakes_time(text, path):
    from pyflakes import api

    class Quiet:
        def unexpectedError(self, *args): pass
        def syntaxError(self, *args): pass
        def flake(self, message): pass

    start = time.perf_counter()
    api.check(text, path, Quiet())
    return time.perf_counter() - start

def goto(case):
    project = None
    if case.get("stubs"):
        project = jedi.Project(os.path.dirname(case["path"]), sys_path=[case["stubs"]] + sys.path)
    start = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        names = jedi.Script(code=case["text"], path=case["path"],
                            environment=jedi.InterpreterEnvironment(),
                            project=project).goto(case["line"], case["column"],
                                                  follow_imports=True)
    seconds = time.perf_counter() - start
    first = next((n for n in names if n.line is not None), names[0] if names else None)
    path = str(first.module_path) if first is not None and first.module_path else None
    return {"path": path, "line": first.line if first else None, "seconds": seconds}

class Lsp:
    """pylsp with its pyflakes plug-in alone for diagnostics, jedi for the rest."""

    def __init__(self, root, stubs):
        self.process = subprocess.Popen(["pylsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.next_id = 0
        self.responses = {}
        self.diagnostics = {}
        self.changed = threading.Condition()
        threading.Thread(target=self.read, daemon=True).start()
        self.request("initialize", {"processId": os.getpid(), "rootUri": "file://" + root,
                                    "capabilities": {}})
        self.notify("initialized", {})
        off = {"enabled": False}
        self.notify("workspace/didChangeConfiguration", {"settings": {"pylsp": {"plugins": {
            "pycodestyle": off, "mccabe": off, "pydocstyle": off, "autopep8": off, "yapf": off,
            "pylint": off, "flake8": off, "rope_autoimport": off, "rope_completion": off,
            "pyflakes": {"enabled": True},
            "jedi": {"extra_paths": [stubs]}}}}})
        self.versions = {}

    def read(self):
        stream = self.process.stdout
        while True:
            length = 0
            while True:
                line = stream.readline()
                if not line:
                    return
                if not line.strip():
                    break
                if line.lower().startswith(b"content-length:"):
                    length = int(line.split(b":")[1])
            message = json.loads(stream.read(length))
            with self.changed:
                if "id" in message and "method" not in message:
                    self.responses[message["id"]] = message
                elif message.get("method") == "textDocument/publishDiagnostics":
                    params = message["params"]
                    self.diagnostics[params["uri"]] = (time.perf_counter(), params["diagnostics"])
                self.changed.notify_all()

    def send(self, message):
        data = json.dumps(message).encode()
        self.process.stdin.write(b"Content-Length: %d\r\n\r\n" % len(data) + data)
        self.process.stdin.flush()

    def notify(self, method, params):
        self.send({"jsonrpc": "2.0", "method": method, "params": params})

    def request(self, method, params):
        self.next_id += 1
        number = self.next_id
        start = time.perf_counter()
        self.send({"jsonrpc": "2.0", "id": number, "method": method, "params": params})
        with self.changed:
            self.changed.wait_for(lambda: number in self.responses, 120)
        return self.responses.pop(number, {}).get("result"), time.perf_counter() - start

    def check(self, uri, text):
        """Its findings as LINE:COLUMN: MESSAGE, and the seconds from the text sent to them."""
        version = self.versions.get(uri, 0) + 1
        self.versions[uri] = version
        with self.changed:
            self.diagnostics.pop(uri, None)
        start = time.perf_counter()
        if version == 1:
            self.notify("textDocument/didOpen", {"textDocument": {
                "uri": uri, "languageId": "python", "version": version, "text": text}})
        else:
            self.notify("textDocument/didChange", {
                "textDocument": {"uri": uri, "version": version},
                "contentChanges": [{"text": text}]})
        with self.changed:
            self.changed.wait_for(lambda: uri in self.diagnostics, 120)
        when, found = self.diagnostics.get(uri, (time.perf_counter(), []))
        lines = ["%d:%d: %s" % (d["range"]["start"]["line"] + 1,
                                d["range"]["start"]["character"] + 1, d["message"])
                 for d in found]
        return lines, when - start

    def at(self, method, uri, line, column):
        return self.request(method, {"textDocument": {"uri": uri},
                                     "position": {"line": line - 1, "character": column}})

lsp = None
for line in sys.stdin:
    case = json.loads(line)
    command = case["command"]
    if command == "cli":
        answer = {"findings": cli(case["path"])}
    elif command == "pyflakes":
        answer = {"seconds": pyflakes_time(case["text"], case["path"])}
    elif command == "goto":
        answer = goto(case)
    elif command.startswith("lsp"):
        if lsp is None:
            try:
                lsp = Lsp(case["root"], case["stubs"])
            except OSError as error:
                lsp = error
        if isinstance(lsp, Exception):
            answer = {"unavailable": str(lsp)}
        elif command == "lsp-check":
            findings, seconds = lsp.check("file://" + case["path"], case["text"])
            answer = {"findings": findings, "seconds": seconds}
        else:
            uri = "file://" + case["path"]
            if uri not in lsp.versions:
                lsp.check(uri, case["text"])
            method = "textDocument/hover" if command == "lsp-hover" else "textDocument/definition"
            result, seconds = lsp.at(method, uri, case["line"], case["column"])
            if command == "lsp-hover":
                contents = (result or {}).get("contents") or ""
                if isinstance(contents, dict):
                    contents = contents.get("value", "")
                elif isinstance(contents, list):
                    contents = "\n".join(c if isinstance(c, str) else c.get("value", "")
                                         for c in contents)
                first = next((l for l in contents.splitlines() if l.strip() and
                              not l.startswith("```")), "")
                answer = {"text": first, "seconds": seconds}
            else:
                where = result[0] if isinstance(result, list) and result else result
                if where:
                    answer = {"path": where["uri"][len("file://"):],
                              "line": where["range"]["start"]["line"] + 1, "seconds": seconds}
                else:
                    answer = {"path": None, "line": None, "seconds": seconds}
    else:
        answer = {"error": command}
    print(json.dumps(answer), flush=True)
)";

// Five wx scripts of our own, each with the three mistakes we make in it.
const char* const wxScripts[] = {
    R"(import wx
import os


class Window(wx.Frame):
    def __init__(self):
        super().__init__(None, title="Notes")
        self.text = wx.TextCtrl(self, style=wx.TE_MULTILINE)
        self.Bind(wx.EVT_CLOSE, self.OnClose)

    def OnClose(self, event):
        if self.text.IsModified():
            wx.MessageBox("Unsaved notes", "Notes")
        event.Skip()

    def OnClose(self, event):
        evnt.Skip()


def MpMain():
    Window().Show()
    frmae.Raise()
)",
    R"(import wx
import wx.stc
import MpAPI


def MpMain():
    editor = MpAPI.CEditorManagement_Get().GetCurrentEditor()
    count = editor.GetLineCount()
    for line in range(count):
        text = editor.GetLine(line)
        if text.strip().startswith("#"):
            editor.MarkerAdd(line, 1)
    print("%d lines" % count)
    print(lenght)
)",
    R"(import wx
import sys
import json


def load(path):
    with open(path) as source:
        return json.load(source)


def show(values):
    dialog = wx.SingleChoiceDialog(None, "Pick one", "Values", values)
    if dialog.ShowModal() == wx.ID_OK:
        return dialog.GetStringSelection()
    return selection


def load(path):
    return []


def MpMain():
    print(show(load("values.json")))
)",
    R"(import wx
import time


class Ticker(wx.Timer):
    def __init__(self, label):
        super().__init__()
        self.label = label
        self.count = 0

    def Notify(self):
        self.count += 1
        self.label.SetLabel(str(self.count))
        if self.count >= limit:
            self.Stop()


def MpMain():
    frame = wx.Frame(None, title="Ticker")
    label = wx.StaticText(frame, label="0")
    ticker = Ticker(labl)
    ticker.Start(1000)
    frame.Show()
)",
    R"(import wx
import wx.adv
import re
import re


def MpMain():
    info = wx.adv.AboutDialogInfo()
    info.SetName("Coilhatch")
    info.SetVersion(__version__)
    info.SetDescription("Scripts for Marrowpad")
    wx.adv.AboutBox(info)
    return f"shown"
)",
};

const char* const stdlibFiles[] = {
    "json/decoder.py", "json/encoder.py", "textwrap.py", "shlex.py",  "fnmatch.py",
    "glob.py",         "bisect.py",       "heapq.py",    "string.py", "getopt.py",
    "colorsys.py",     "base64.py",       "csv.py",      "queue.py",  "sched.py",
    "secrets.py",      "statistics.py",   "tempfile.py", "uuid.py",   "zipapp.py",
};

// A standard-library file with three mistakes of ours: an import never used, a name misspelt,
// a function defined twice.
wxString WithMistakes(const wxString& text) {
    wxString result = text;
    const int at = result.Find("\nimport ");
    const wxString unused = "\nimport netrc as unused_netrc";
    if (at != wxNOT_FOUND)
        result.insert(static_cast<size_t>(at), unused);
    else
        result = unused.Mid(1) + "\n" + result;
    return result + "\n\ndef added_helper(values):\n    return sorted(valeus)\n"
                    "\n\ndef added_helper(values):\n    return list(values)\n";
}

// A caret of --insight's go-to: a line (from 1) and the text before the caret on it.
struct GoToCaret {
    int line;
    const char* before;
};

const char* const goToDocument = R"(import os
import json
import wx
import wx.stc
import MpAPI
import helper


def scale(value, factor=2):
    return value * factor


class Box:
    def area(self):
        return 1


box = Box()
print(scale(3), box.area(), helper.helper_function(), helper.HELPER_LIMIT)
print(os.path.join("a", "b"), os.getcwd(), json.dumps({}), json.loads("1"), os.sep)
frame = wx.Frame(None)
frame.SetTitle("x")
wx.MessageBox("hi")
wx.stc.StyledTextCtrl
ed = MpAPI.CEditorManagement_Get().GetCurrentEditor()
MpAPI.CAppManagement_Get().GetAppWindow()
MpAPI.CMessageOutputManagement_Get().GetMessageOutput(0)
MpAPI.CNameService_Get()
)";

const char* const goToHelper = "\"\"\"Helpers.\"\"\"\n\nHELPER_LIMIT = 3\n\n\n"
                               "def helper_function():\n    return HELPER_LIMIT\n";

// Twenty carets: our own names (here and in helper.py), the standard library's, wx's and
// MpAPI's.
const GoToCaret goToCarets[] = {
    {19, "print(sc"},
    {19, "print(scale(3), box.ar"},
    {18, "box = Bo"},
    {19, "print(scale(3), box.area(), helper.helper_f"},
    {19, "print(scale(3), box.area(), helper.helper_function(), helper.HELPER_L"},
    {19, "print(scale(3), box.area(), hel"},
    {20, "print(os.path.jo"},
    {20, "print(os.path.join(\"a\", \"b\"), os.getc"},
    {20, "print(os.path.join(\"a\", \"b\"), os.getcwd(), json.du"},
    {20, "print(os.path.join(\"a\", \"b\"), os.getcwd(), json.dumps({}), json.lo"},
    {20, "print(os.path.join(\"a\", \"b\"), os.getcwd(), json.dumps({}), json.loads(\"1\"), os.s"},
    {21, "frame = wx.Fr"},
    {22, "frame.SetTi"},
    {23, "wx.Message"},
    {24, "wx.stc.Styled"},
    {25, "ed = MpAPI.CEditorMan"},
    {25, "ed = MpAPI.CEditorManagement_Get().GetCurrentE"},
    {26, "MpAPI.CAppManagement_Get().GetAppW"},
    {27, "MpAPI.CMessageOutputManagement_Get().GetMessageO"},
    {28, "MpAPI.CNameService_G"},
};

std::vector<std::string> EditorFindings(Editor& bench) {
    std::vector<std::string> lines;
    if (const auto* findings = bench.plugin.completion.Insights().FindingsOf(bench.editor))
        for (const auto& finding : *findings)
            lines.push_back(std::to_string(finding.line) + ":" + std::to_string(finding.column) +
                            ": " + finding.message);
    return lines;
}

bool Checked(Editor& bench) {
    const Insight& insight = bench.plugin.completion.Insights();
    return insight.DueCount() == 0 && insight.PendingCount() == 0 &&
           insight.FindingsOf(bench.editor) != nullptr;
}

int InsightFigures(Editor& bench, const wxString& work) {
    PlainPython baselines(work + "/insight_baseline.py", insightScript);
    const wxString stallScriptPath = work + "/stall_watch.py";
    WriteText(stallScriptPath, stallScript);
    const bool pylsp = std::system("/usr/bin/python3.11 -c 'import pylsp' 2>/dev/null") == 0;
    if (!pylsp)
        std::printf("(pylsp is not installed: apt-get install python3-pylsp for the comparison)\n");

    // The documents: twenty files of the standard library and five wx scripts, each with three
    // mistakes, saved where `python3 -m pyflakes` reads them.
    std::vector<std::pair<wxString, wxString>> documents; // (label, path)
    for (const char* file : stdlibFiles) {
        const wxString path = work + "/docs/" + wxString(file).BeforeLast('.') + ".py";
        wxString flat = path;
        flat.Replace("/docs/json/", "/docs/json_");
        WriteText(flat, WithMistakes(ReadText(wxString("/usr/lib/python3.11/") + file)));
        documents.emplace_back(file, flat);
    }
    for (size_t i = 0; i < std::size(wxScripts); ++i) {
        const wxString path = work + wxString::Format("/docs/wx_script_%zu.py", i + 1);
        WriteText(path, wxScripts[i]);
        documents.emplace_back(wxString::Format("wx script %zu", i + 1), path);
    }

    std::printf("\ndiagnostics: the editor's findings against `python3 -m pyflakes` on the same "
                "text; time from the last keystroke to the markers shown, less the %d ms pause, "
                "against pyflakes' own time\n",
                Insight::pauseMilliseconds);
    std::printf("%-22s %8s %8s %8s %6s %6s  %s\n", "document", "findings", "pyflakes", "markers",
                "ratio", "same", pylsp ? "pylsp: findings, ms less its 500 ms debounce" : "");
    bench.plugin.RunScript(stallScriptPath, false); // the stall timer starts
    int sameCount = 0;
    int pylspSame = 0;
    std::vector<double> ratios;
    std::vector<double> pylspTimes;
    std::vector<double> ownTimes;
    for (const auto& [label, path] : documents) {
        const wxString text = ReadText(path);
        bench.editor->SetFilePath(path);
        bench.editor->SetLexer(wxSTC_LEX_PYTHON);
        bench.editor->SetText(text);
        bench.RunUntil([&bench] { return Checked(bench); }, 60);
        const std::vector<std::string> found = EditorFindings(bench);
        const nlohmann::json cli =
            baselines.Ask({{"command", "cli"}, {"path", path.utf8_string()}});
        const std::vector<std::string> expected =
            cli.is_object() ? cli.value("findings", std::vector<std::string>())
                            : std::vector<std::string>();
        const bool same = found == expected;
        sameCount += same ? 1 : 0;
        // The last keystroke: a line end at the document's end.
        std::vector<double> latencies;
        std::vector<double> pyflakesTimes;
        for (int r = 0; r < 5; ++r) {
            bench.editor->DocumentEnd();
            // The stall timer's longest gap is taken over this keystroke's wait alone: the
            // bench's own calls of its baselines hold the editor's thread too.
            bench.plugin.RunScript(stallScriptPath, false);
            const auto typed = Clock::now();
            bench.editor->AddText("\n");
            bench.RunUntil([&bench] { return Checked(bench); }, 60);
            latencies.push_back(std::chrono::duration<double>(Clock::now() - typed).count() -
                                Insight::pauseMilliseconds / 1e3);
            bench.plugin.RunScript(stallScriptPath, false);
            const nlohmann::json own =
                baselines.Ask({{"command", "pyflakes"},
                               {"text", std::string(bench.editor->GetText().utf8_str())},
                               {"path", path.utf8_string()}});
            pyflakesTimes.push_back(own.value("seconds", 0.0));
        }
        const double ratio = Median(latencies) / Median(pyflakesTimes);
        ratios.push_back(ratio);
        ownTimes.push_back(Median(latencies));
        std::string lsp;
        if (pylsp) {
            const nlohmann::json answer =
                baselines.Ask({{"command", "lsp-check"},
                               {"path", path.utf8_string()},
                               {"text", std::string(text.utf8_str())},
                               {"root", work.utf8_string()},
                               {"stubs", (work + "/stubs").utf8_string()}});
            const std::vector<std::string> lspFound =
                answer.value("findings", std::vector<std::string>());
            const double seconds = answer.value("seconds", 0.0) - 0.5;
            pylspTimes.push_back(seconds);
            pylspSame += lspFound == expected ? 1 : 0;
            lsp = (lspFound == expected ? "same, " : Difference(lspFound, expected) + ", ") +
                  std::to_string(static_cast<int>(seconds * 1e3)) + " ms";
        }
        std::printf("%-22s %8zu %8.1f %8.1f %6.2f %6s  %s\n", label.utf8_str().data(), found.size(),
                    Median(pyflakesTimes) * 1e3, Median(latencies) * 1e3, ratio,
                    same ? "yes" : "NO", lsp.c_str());
        if (!same)
            std::printf("    differs: %s\n", Difference(found, expected).c_str());
    }
    // As many waits as long with nothing typed: the timer's own longest gap, which the machine
    // makes.
    const size_t keystrokes = documents.size() * 5;
    for (size_t i = 0; i < keystrokes; ++i) {
        bench.plugin.RunScript(stallScriptPath, false);
        bench.RunUntil([] { return false; }, Insight::pauseMilliseconds / 1e3 + 0.02);
        bench.plugin.RunScript(stallScriptPath, false);
    }
    // Every other line of stalls.txt is a wait: the keystrokes', then the idle ones.
    double stall = 0;
    double idleStall = 0;
    const wxArrayString stalls = wxSplit(ReadText(work + "/stalls.txt"), '\n');
    for (size_t i = 1; i < stalls.size(); i += 2) {
        double value = 0;
        if (stalls[i].ToCDouble(&value))
            (i < 2 * keystrokes ? stall : idleStall) =
                std::max(i < 2 * keystrokes ? stall : idleStall, value);
    }
    std::printf("findings equal to pyflakes' own in %d of %zu documents; markers / pyflakes "
                "median %.2f, largest %.2f; the editor's longest stall meanwhile %.1f ms (%.1f ms "
                "over as many waits with nothing typed)\n",
                sameCount, documents.size(), Median(ratios),
                *std::max_element(ratios.begin(), ratios.end()), stall * 1e3, idleStall * 1e3);
    if (pylsp)
        std::printf("pylsp: findings equal to pyflakes' own in %d of %zu documents; median time "
                    "%.0f ms (less its debounce) against the editor's %.0f ms (less its pause)\n",
                    pylspSame, documents.size(), Median(pylspTimes) * 1e3, Median(ownTimes) * 1e3);

    // Go to definition and hover at twenty carets of a document of our own.
    const wxString project = work + "/project";
    const wxString document = project + "/tool.py";
    WriteText(document, goToDocument);
    WriteText(project + "/helper.py", goToHelper);
    const wxString stubs = work + "/stubs";
    WriteText(stubs + "/MpAPI.pyi", ReadText(wxString(COILHATCH_BIN_DIR) + "/MpAPI.pyi"));
    wxString opened;
    bench.frame->Bind(wxEVT_EDITOR_OPEN, [&opened](wxCommandEvent& event) {
        opened = event.GetString() + wxString::Format(":%d", event.GetInt());
    });
    bench.editor->SetFilePath(document);
    bench.editor->SetText(goToDocument);
    bench.RunUntil([&bench] { return Checked(bench); }, 60);
    std::printf("\ngo to definition: the editor's place against jedi's goto(follow_imports=True)"
                "%s\n",
                pylsp ? " and pylsp's definition; the editor's hover's first line" : "");
    int goToSame = 0;
    int lspGoToSame = 0;
    std::vector<double> ownGoTo;
    std::vector<double> jediGoTo;
    std::vector<double> lspGoTo;
    std::vector<double> ownHover;
    std::vector<double> lspHover;
    for (const GoToCaret& caret : goToCarets) {
        const int column = static_cast<int>(wxString::FromUTF8(caret.before).length());
        bench.Open(document, goToDocument, caret.line, column);
        opened.clear();
        bench.plugin.completion.Insights(); // the document is watched
        const auto start = Clock::now();
        bench.plugin.completion.Insights().GoToDefinition(bench.editor,
                                                          bench.editor->GetCurrentPos());
        bench.RunUntil([&bench] { return bench.plugin.completion.Insights().PendingCount() == 0; },
                       60);
        ownGoTo.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        wxString own = opened;
        if (own.empty()) {
            const int line = bench.editor->LineFromPosition(bench.editor->GetCurrentPos()) + 1;
            own = line == caret.line ? wxString("none") : wxString::Format("tool.py:%d", line);
        }
        const nlohmann::json jedi = baselines.Ask({{"command", "goto"},
                                                   {"text", goToDocument},
                                                   {"path", document.utf8_string()},
                                                   {"line", caret.line},
                                                   {"column", column},
                                                   {"stubs", stubs.utf8_string()}});
        jediGoTo.push_back(jedi.value("seconds", 0.0));
        const auto place = [&document](const nlohmann::json& where) {
            if (!where.is_object() || !where["line"].is_number())
                return wxString("none");
            const wxString path = where["path"].is_string()
                                      ? wxString::FromUTF8(where["path"].get<std::string>())
                                      : document;
            return (path == document ? wxString("tool.py") : wxFileName(path).GetFullName()) +
                   wxString::Format(":%d", where["line"].get<int>());
        };
        const wxString ownPlace =
            own == "none" || own.StartsWith("tool.py")
                ? own
                : wxFileName(own.BeforeLast(':')).GetFullName() + ":" + own.AfterLast(':');
        const wxString jediPlace = place(jedi);
        goToSame += ownPlace == jediPlace ? 1 : 0;
        // Hover at the same caret.
        bench.editor->SetShown("hover", wxString());
        const auto hovered = Clock::now();
        bench.plugin.completion.Insights().Hover(bench.editor, bench.editor->GetCurrentPos());
        bench.RunUntil([&bench] { return bench.plugin.completion.Insights().PendingCount() == 0; },
                       60);
        ownHover.push_back(std::chrono::duration<double>(Clock::now() - hovered).count());
        const wxString hover = bench.editor->GetShown("hover").BeforeFirst('\n');
        std::string lsp;
        if (pylsp) {
            const nlohmann::json where = {{"path", document.utf8_string()},
                                          {"text", goToDocument},
                                          {"line", caret.line},
                                          {"column", column},
                                          {"root", work.utf8_string()},
                                          {"stubs", stubs.utf8_string()}};
            nlohmann::json definition = where;
            definition["command"] = "lsp-goto";
            const nlohmann::json lspWhere = baselines.Ask(definition);
            lspGoTo.push_back(lspWhere.value("seconds", 0.0));
            const wxString lspPlace = place(lspWhere);
            lspGoToSame += lspPlace == ownPlace ? 1 : 0;
            nlohmann::json help = where;
            help["command"] = "lsp-hover";
            const nlohmann::json lspHelp = baselines.Ask(help);
            lspHover.push_back(lspHelp.value("seconds", 0.0));
            lsp = "pylsp " + std::string(lspPlace.utf8_str()) + ", \"" +
                  lspHelp.value("text", std::string()).substr(0, 40) + "\"";
        }
        std::printf(
            "  %-30s editor %-22s jedi %-22s %s hover \"%s\"  %s\n",
            (wxString::Format("%d:", caret.line) + caret.before).Right(30).utf8_str().data(),
            ownPlace.utf8_str().data(), jediPlace.utf8_str().data(),
            ownPlace == jediPlace ? "=" : "!", hover.Left(40).utf8_str().data(), lsp.c_str());
    }
    std::printf("the editor's place is jedi's at %d of %zu carets; median time: editor go-to "
                "%.1f ms, jedi %.1f ms; editor hover %.1f ms\n",
                goToSame, std::size(goToCarets), Median(ownGoTo) * 1e3, Median(jediGoTo) * 1e3,
                Median(ownHover) * 1e3);
    if (pylsp)
        std::printf("pylsp: the same place as the editor's at %d of %zu carets; median time: "
                    "definition %.1f ms, hover %.1f ms\n",
                    lspGoToSame, std::size(goToCarets), Median(lspGoTo) * 1e3,
                    Median(lspHover) * 1e3);
    return 0;
}

// Whether the server's shortcuts through jedi and pyflakes go in with the versions installed
// (with others, each does its own work, and the figures are theirs).
void SayShortcuts(const wxString& plugins) {
    PlainPython python(plugins + "/shortcuts.py", R"(import json, sys
sys.path.insert(0, json.loads(sys.stdin.readline())["folder"])
import autocomp_shortcuts, jedi
from pyflakes import checker
print(json.dumps({"jedi": autocomp_shortcuts.install_jedi(jedi),
                  "pyflakes": autocomp_shortcuts.install_pyflakes(checker)}), flush=True)
)");
    const nlohmann::json in =
        python.Ask({{"folder", (plugins + "/python/autocomplete").utf8_string()}});
    const auto said = [&in](const char* name) { return in.is_object() && in.value(name, false); };
    std::printf("the server's shortcuts: jedi's %s, pyflakes' %s\n",
                said("jedi") ? "in" : "not in (another jedi)",
                said("pyflakes") ? "in" : "not in (another pyflakes)");
}

} // namespace

int Completion(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: coilhatch_bench completion [--requests N>=1] [--busy N] [--stall | "
                     "--insight]\n");
        return 2;
    }
    // A plug-ins folder of its own with the shipped completion files.
    char dirTemplate[] = "/tmp/coilhatch-bench-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr)
        return 1;
    const wxString plugins = dirTemplate;
    if (!CopyCompletionFiles(plugins)) {
        std::fprintf(stderr, "cannot set up %s (is the completion script built?)\n", dirTemplate);
        wxFileName::Rmdir(plugins, wxPATH_RMDIR_RECURSIVE);
        return 1;
    }
    SayShortcuts(plugins);
    const BusyProcesses busy(options.busy);
    if (options.busy > 0)
        std::printf("%d busy processes (python3 -c 'while True: pass') for the whole run\n",
                    options.busy);

    int status = 0;
    Jedi jedi(plugins);
    if (status == 0) {
        Editor bench(plugins);
        const Caret& firstCaret = carets[0];
        bench.Open(CaretPath(firstCaret), CaretText(firstCaret), firstCaret.line,
                   firstCaret.column);
        bench.plugin.OnAttach();
        if (!bench.plugin.IsEngineRunning()) {
            std::fprintf(stderr, "the plug-in's engine did not start\n");
            status = 1;
        } else if (options.stall) {
            status = Stall(bench, plugins);
        } else if (options.insight) {
            status = InsightFigures(bench, plugins);
        } else {
            // At once after attach, as a user who types before the server is warm.
            const Editor::Request atOnce = bench.Complete();
            std::printf("first request at once after attach: %.0f ms (%s shown)\n\n",
                        atOnce.seconds * 1e3, atOnce.listed ? "list" : "nothing");
            std::printf("%-24s %8s %8s %6s %7s %8s %6s %6s %6s %6s  %s\n", "caret", "jedi ms",
                        "warm ms", "ratio", "-show", "first ms", "ui ms", "show", "shown", "same",
                        "the editor's list");
            std::vector<double> ratiosStd;
            std::vector<double> ratiosWx;
            std::vector<double> unshownStd;
            std::vector<double> unshownWx;
            for (size_t i = 0; i < std::size(carets); ++i) {
                const Caret& caret = carets[i];
                const Jedi::Answer jediFirst = jedi.Complete(caret);
                if (!jediFirst.ok) {
                    std::fprintf(stderr, "jedi's baseline did not answer\n");
                    status = 1;
                    break;
                }
                const std::vector<std::string>& names = jediFirst.names;
                bench.Open(CaretPath(caret), CaretText(caret), caret.line, caret.column);
                const Editor::Request first = bench.Complete();
                int shown = first.listed ? 1 : 0;
                int same = first.items == names ? 1 : 0;
                std::string difference = Difference(first.items, names);
                std::vector<double> times;
                std::vector<double> uiTimes;
                std::vector<double> showTimes;
                std::vector<double> jediTimes;
                // The editor's requests and jedi's calls take turns, so that load on the machine
                // hits both alike.
                for (int r = 0; r < options.requests; ++r) {
                    const Editor::Request warm = bench.Complete();
                    times.push_back(warm.seconds);
                    uiTimes.push_back(warm.ui);
                    showTimes.push_back(warm.show);
                    shown += warm.listed ? 1 : 0;
                    same += warm.items == names ? 1 : 0;
                    if (difference.empty())
                        difference = Difference(warm.items, names);
                    jediTimes.push_back(jedi.Complete(caret).seconds);
                }
                const double jediTime = Median(jediTimes);
                const double ratio = Median(times) / jediTime;
                const double unshown = (Median(times) - Median(showTimes)) / jediTime;
                (caret.wx ? ratiosWx : ratiosStd).push_back(ratio);
                (caret.wx ? unshownWx : unshownStd).push_back(unshown);
                std::printf(
                    "%-24s %8.1f %8.1f %6.2f %7.2f %8.1f %6.1f %6.1f %3d/%-2d %3d/%-2d  %s\n",
                    caret.label, jediTime * 1e3, Median(times) * 1e3, ratio, unshown,
                    first.seconds * 1e3, Median(uiTimes) * 1e3, Median(showTimes) * 1e3, shown,
                    options.requests + 1, same, options.requests + 1,
                    difference.empty() ? "= jedi's" : difference.c_str());
            }
            std::printf("\nwarm request / jedi, median: standard library %.2f (%.2f without the "
                        "editor's showing), wx and MpAPI %.2f (%.2f)\n",
                        Median(ratiosStd), Median(unshownStd), Median(ratiosWx), Median(unshownWx));
            std::printf("(ratio: the request from the event to the list shown; -show: less the "
                        "list's showing alone; ui: the editor's thread's part before the answer; "
                        "shown, same: lists shown and equal to jedi's, of the first and the warm "
                        "requests)\n");
            // An unsaved document of 20,000 lines: jedi's first parse of it takes a while.
            bench.Open(wxString(), LongDocument(20000), 20000, 5);
            const Editor::Request longFirst = bench.Complete();
            std::printf("first request of a 20,000-line unsaved document: %.0f ms (%s shown)\n",
                        longFirst.seconds * 1e3, longFirst.listed ? "list" : "nothing");
        }
    }
    wxFileName::Rmdir(plugins, wxPATH_RMDIR_RECURSIVE);
    return status;
}

} // namespace bench
