// Completion: a request in a Python document (the editor's completion event through the
// plug-in, the completion script reloaded and run, the request sent to the completion server,
// the list shown when the answer comes) against jedi's own Script(...).complete() on the same
// text and caret in a plain /usr/bin/python3.11 process, with the two lists compared name by
// name; the first request after attach; the first request of a 20,000-line unsaved document.
//
//   coilhatch_bench completion [--requests N] [--busy N]
//   coilhatch_bench completion --stall
//
// --busy N keeps N processes busy (python3 -c 'while True: pass') for the whole run, jedi's
// included. --stall measures instead how long the editor's thread stalls at most while a
// request waits on a server held stopped (SIGSTOP) for 2 s: a wx timer of a script ticks every
// 5 ms, and the longest gap between its ticks is the stall.
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

// Six carets in the standard library, where its own code names an attribute; three in wx and
// one in MpAPI, where users of the editor write most.
const Caret carets[] = {
    {"json/decoder.py self.sc", "json/decoder.py", nullptr, 329, 15, false},
    {"subprocess.py os.wa", "subprocess.py", nullptr, 106, 24, false},
    {"argparse.py _os.pa", "argparse.py", nullptr, 1765, 25, false},
    {"logging sys.st", "logging/__init__.py", nullptr, 1028, 37, false},
    {"http/client.py self.so", "http/client.py", nullptr, 974, 19, false},
    {"textwrap.py re.co", "textwrap.py", nullptr, 102, 29, false},
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
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stall") == 0) {
            options.stall = true;
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

// jedi in a plain /usr/bin/python3.11 of its own, asked case by case, so that its calls and the
// editor's requests take turns under the same load.
class Jedi {
public:
    explicit Jedi(const wxString& work) : stubs(work + "/stubs") {
        // MpAPI's stub alone in a folder, as an IDE is told to read it.
        WriteText(stubs + "/MpAPI.pyi", ReadText(wxString(COILHATCH_BIN_DIR) + "/MpAPI.pyi"));
        const wxString script = work + "/jedi_baseline.py";
        int in[2];
        int out[2];
        if (!WriteText(script, baselineScript) || pipe(in) != 0 || pipe(out) != 0)
            return;
        const std::string path(script.utf8_str());
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
        toJedi = fdopen(in[1], "w");
        fromJedi = fdopen(out[0], "r");
    }
    ~Jedi() {
        if (toJedi)
            std::fclose(toJedi);
        if (fromJedi)
            std::fclose(fromJedi);
        if (child > 0)
            waitpid(child, nullptr, 0);
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
        if (!toJedi || !fromJedi)
            return answer;
        const bool mpapi = std::strstr(caret.label, "MpAPI") != nullptr;
        const wxString path = CaretPath(caret);
        const nlohmann::json request = {
            {"text", std::string(CaretText(caret).utf8_str())},
            {"path", path.empty() ? nlohmann::json() : nlohmann::json(path.utf8_string())},
            {"line", caret.line},
            {"column", caret.column},
            {"stubs", mpapi ? nlohmann::json(stubs.utf8_string()) : nlohmann::json()}};
        std::fputs((request.dump() + "\n").c_str(), toJedi);
        std::fflush(toJedi);
        std::string line;
        char buffer[1 << 16];
        while (std::fgets(buffer, sizeof buffer, fromJedi)) {
            line += buffer;
            if (!line.empty() && line.back() == '\n')
                break;
        }
        const nlohmann::json result = nlohmann::json::parse(line, nullptr, false);
        if (!result.is_object())
            return answer;
        answer.ok = true;
        answer.names = result.value("names", std::vector<std::string>());
        answer.seconds = result.value("seconds", 0.0);
        return answer;
    }

private:
    wxString stubs;
    pid_t child = -1;
    FILE* toJedi = nullptr;
    FILE* fromJedi = nullptr;
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

} // namespace

int Completion(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: coilhatch_bench completion [--requests N>=1] [--busy N] [--stall]\n");
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
