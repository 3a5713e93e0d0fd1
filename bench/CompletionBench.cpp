// Completion latency: one completion request in a Python document (the editor's completion
// event through the plug-in, the completion script reloaded and run, the completion server
// asked, the list or call tip shown), against jedi's own Script(...).complete() on the same
// text, caret and file in one interpreter; and the first request after attach against a warm
// one.
//
//   coilhatch_bench completion [--file F] [--caret L:C] [--lines N] [--requests N]
//   coilhatch_bench completion --api [--requests N]
//
// --file opens F (its path is the document's, as in the editor); without it the document is a
// generated one of --lines lines ending in "os.pa". --caret puts the caret on line L (from 1)
// after C characters (from 0); the default is the end of the document. --api measures, one after
// the other, documents that end at the editor's own API: wx.Fra, wx.Frame(None).SetTi,
// wx.stc.StyledTextCtrl().GetLin and ed.GetLin after ed = MpAPI...GetCurrentEditor().
#include "bench/Bench.h"
#include "engine/Coilhatch.h"
#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/arrstr.h>
#include <wx/dir.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/utils.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace bench {
namespace {

// A Python document of `lines` lines whose last line asks for os.path's attributes.
wxString Document(int lines) {
    wxString text = "import os\nimport sys\n\n";
    for (int i = 0; text.Freq('\n') < lines - 6; ++i)
        text += wxString::Format("class Thing%d(object):\n"
                                 "    def method_%d(self, value, count=3):\n"
                                 "        total = value * count  # scaled\n"
                                 "        return os.path.join(str(total), sys.prefix)\n\n",
                                 i, i);
    while (text.Freq('\n') < lines - 1)
        text += "\n";
    return text + "os.pa";
}

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

// Times one jedi complete() at the current editor's caret, with the document's file as the
// completion script gives it, and appends the seconds to times.txt beside itself.
const char* const baselineScript = R"(import os, time, warnings
import jedi, MpAPI

def MpMain():
    management = MpAPI.CEditorManagement_Get()
    editor = management.GetCurrentEditor()
    caret = editor.GetCurrentPos()
    line = editor.LineFromPosition(caret)
    column = len(editor.GetTextRange(editor.PositionFromLine(line), caret))
    text = editor.GetText()
    path = management.GetCurrentFilePath() or None
    start = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        script = jedi.Script(code=text, path=path, environment=jedi.InterpreterEnvironment())
        script.complete(line + 1, column)
    seconds = time.perf_counter() - start
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "times.txt"), "a") as f:
        f.write(repr(seconds) + "\n")
)";

// Asks the completion server what the completion script would show at the current editor's
// caret, shows it, and appends the seconds the editor takes to show it (the list's or call
// tip's popup alone) to shows.txt.
const char* const showScript = R"(import os, sys, time
import MpAPI

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "python", "autocomplete"))
import autocomp
del sys.path[0]

def MpMain():
    management = MpAPI.CEditorManagement_Get()
    editor = management.GetCurrentEditor()
    text, line, column, caret, before = autocomp.request_from_editor(editor)
    answer = autocomp.ask({"text": text, "line": line, "column": column,
                           "path": management.GetCurrentFilePath() or None,
                           "sys_path": sys.path}, 60) or {}
    start = time.perf_counter()
    autocomp.show(editor, caret, before, answer.get("prefix_len", 0), answer.get("items", []),
                  answer.get("calltip"))
    seconds = time.perf_counter() - start
    editor.AutoCompCancel()
    editor.CallTipCancel()
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "shows.txt"), "a") as f:
        f.write(repr(seconds) + "\n")
)";

// Writes "1" to ready.txt beside itself once the completion server says it is warm.
const char* const probeScript = R"(import json, os, socket

def MpMain():
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
            connection.settimeout(5)
            connection.connect("\0coilhatch-completion-%d" % os.getpid())
            connection.sendall(b'{"status": true}')
            connection.shutdown(socket.SHUT_WR)
            warm = json.loads(connection.recv(1000))["warm"]
    except (OSError, ValueError):
        warm = False
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "ready.txt"), "w") as f:
        f.write("1" if warm else "0")
)";

// The seconds written one a line to a file, without the first `skip`.
std::vector<double> ReadTimes(const wxString& path, size_t skip) {
    std::vector<double> times;
    const wxArrayString lines = wxSplit(ReadText(path), '\n');
    for (size_t i = skip; i < lines.size(); ++i) {
        double value = 0;
        if (lines[i].ToCDouble(&value))
            times.push_back(value);
    }
    return times;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

const int warmUp = 3;
const double warmUpAllowance = 10.0; // seconds the server is given to warm up

struct Options {
    wxString file;
    long line = 0; // from 1; 0: the end of the document
    long column = 0;
    int lines = 2000;
    int requests = 30;
    bool api = false;
};

// The documents of --api: the editor's own API, where users write most.
const char* const apiDocuments[] = {
    "import wx\nwx.Fra",
    "import wx\nwx.Frame(None).SetTi",
    "import wx.stc\nwx.stc.StyledTextCtrl().GetLin",
    "import MpAPI\ned = MpAPI.CEditorManagement_Get().GetCurrentEditor()\ned.GetLin",
};

bool ParseCaret(const char* text, Options& options) {
    char* end = nullptr;
    options.line = std::strtol(text, &end, 10);
    if (end == text || *end != ':' || options.line < 1)
        return false;
    const char* columnText = end + 1;
    options.column = std::strtol(columnText, &end, 10);
    return end != columnText && *end == '\0' && options.column >= 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; i += 2) {
        if (std::strcmp(argv[i], "--api") == 0) {
            options.api = true;
            --i;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const char* value = argv[i + 1];
        if (std::strcmp(argv[i], "--lines") == 0)
            options.lines = std::atoi(value);
        else if (std::strcmp(argv[i], "--requests") == 0)
            options.requests = std::atoi(value);
        else if (std::strcmp(argv[i], "--file") == 0)
            options.file = wxString::FromUTF8(value);
        else if (std::strcmp(argv[i], "--caret") == 0) {
            if (!ParseCaret(value, options))
                return false;
        } else
            return false;
    }
    return options.lines >= 10 && options.requests >= 1;
}

// What a request left in the editor.
enum class Shown { List, CallTip, Nothing };

const char* ShownName(Shown shown) {
    switch (shown) {
    case Shown::List:
        return "list";
    case Shown::CallTip:
        return "call tip";
    default:
        return "nothing";
    }
}

Shown TakeShown(host::SyntaxEditor* editor) {
    const Shown shown = editor->AutoCompActive()  ? Shown::List
                        : editor->CallTipActive() ? Shown::CallTip
                                                  : Shown::Nothing;
    editor->AutoCompCancel();
    editor->CallTipCancel();
    return shown;
}

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

} // namespace

int Completion(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: coilhatch_bench completion [--api] [--file F] "
                             "[--caret L:C] [--lines N>=10] [--requests N>=1]\n");
        return 2;
    }
    wxString text;
    if (!options.file.empty()) {
        options.file = wxFileName(options.file).GetAbsolutePath();
        text = ReadText(options.file);
        if (text.empty()) {
            std::fprintf(stderr, "cannot read %s as UTF-8 text\n", options.file.utf8_str().data());
            return 1;
        }
    } else {
        text = Document(options.lines);
    }

    // A plug-ins folder of its own with the shipped completion files.
    char dirTemplate[] = "/tmp/coilhatch-bench-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr)
        return 1;
    const wxString plugins = dirTemplate;
    const wxString sep = wxFileName::GetPathSeparator();
    const wxString baseline = plugins + sep + "jedi_baseline.py";
    const wxString probe = plugins + sep + "warm_probe.py";
    const wxString showOnly = plugins + sep + "show_only.py";
    if (!CopyCompletionFiles(plugins) || !WriteText(baseline, baselineScript) ||
        !WriteText(probe, probeScript) || !WriteText(showOnly, showScript)) {
        std::fprintf(stderr, "cannot set up %s (is the completion script built?)\n", dirTemplate);
        wxFileName::Rmdir(plugins, wxPATH_RMDIR_RECURSIVE);
        return 1;
    }

    auto* frame = new wxFrame(nullptr, wxID_ANY, "Marrowpad");
    host::SetAppWindow(frame);
    host::GetNameItem("PluginsPath")->SetAttribute(0, plugins);
    host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
    auto* editor = new host::SyntaxEditor(frame);
    editor->SetLexerForFile(options.file.empty() ? wxString("bench.py") : options.file);
    editor->SetFilePath(options.file);
    editor->SetText(text);
    int status = 0;
    if (options.line == 0) {
        editor->GotoPos(editor->GetLength());
    } else if (options.line > editor->GetLineCount()) {
        std::fprintf(stderr, "the document has %d lines\n", editor->GetLineCount());
        status = 2;
    } else {
        const int line = static_cast<int>(options.line - 1);
        const int start = editor->PositionFromLine(line);
        const int end = editor->GetLineEndPosition(line);
        int caret = start;
        for (long i = 0; i < options.column && caret < end; ++i)
            caret = editor->PositionAfter(caret);
        editor->GotoPos(caret);
    }
    host::SetCurrentEditorProvider([editor] { return editor; });
    frame->Show(); // the list is a popup of the shown editor, as in the editor program

    CCoilhatch plugin;
    if (status == 0) {
        plugin.OnAttach();
        if (!plugin.IsEngineRunning()) {
            std::fprintf(stderr, "the plug-in's engine did not start\n");
            status = 1;
        }
    }
    if (status == 0) {
        auto request = [&] {
            wxCommandEvent event(wxEVT_EDITOR_COMPLETEBEGIN);
            plugin.ProcessEvent(event);
        };
        // At once after attach, as a user who types before the server is warm.
        const auto attached = Clock::now();
        const double atOnce = Seconds(request);
        const Shown atOnceShown = TakeShown(editor);

        // The server warms up at low priority; it is given a while, as a user would after start.
        const wxString readyFile = plugins + sep + "ready.txt";
        double warmUpSeconds = -1;
        for (;;) {
            plugin.RunScript(probe, false);
            const double since = std::chrono::duration<double>(Clock::now() - attached).count();
            if (ReadText(readyFile) == "1") {
                warmUpSeconds = since;
                break;
            }
            if (since >= warmUpAllowance)
                break;
            wxMilliSleep(20); // the server runs meanwhile
        }
        if (warmUpSeconds >= 0)
            std::printf("completion server warm %.0f ms after attach\n", warmUpSeconds * 1e3);
        else
            std::printf("completion server still warming up %.0f s after attach\n",
                        warmUpAllowance);
        std::printf("first request at once after attach (%s shown): %.2f ms\n",
                    ShownName(atOnceShown), atOnce * 1e3);

        std::vector<wxString> documents;
        if (options.api) {
            for (const char* document : apiDocuments)
                documents.push_back(document);
        } else {
            documents.push_back(text);
        }
        for (const wxString& document : documents) {
            if (options.api) {
                editor->SetText(document);
                editor->GotoPos(editor->GetLength());
            }
            for (const char* name : {"times.txt", "shows.txt"})
                if (wxFileExists(plugins + sep + name))
                    wxRemoveFile(plugins + sep + name); // a missing file would be logged
            const double first = Seconds(request);
            const Shown firstShown = TakeShown(editor);

            // Requests and baseline calls alternate, so that load on the machine hits both alike.
            std::vector<double> requestTimes;
            int shownCounts[3] = {0, 0, 0};
            for (int i = 0; i < warmUp + options.requests; ++i) {
                const double seconds = Seconds(request);
                const Shown shown = TakeShown(editor);
                if (i >= warmUp) {
                    requestTimes.push_back(seconds);
                    ++shownCounts[static_cast<int>(shown)];
                }
                plugin.RunScript(baseline, false);
                plugin.RunScript(showOnly, false);
            }
            const std::vector<double> jediTimes = ReadTimes(plugins + sep + "times.txt", warmUp);
            const std::vector<double> showTimes = ReadTimes(plugins + sep + "shows.txt", warmUp);
            if (jediTimes.size() != static_cast<size_t>(options.requests) ||
                showTimes.size() != jediTimes.size()) {
                std::fprintf(stderr, "the baseline ran %zu times and the show %zu times of %d\n",
                             jediTimes.size(), showTimes.size(), options.requests);
                status = 1;
                break;
            }
            const int caret = editor->GetCurrentPos();
            const int line = editor->LineFromPosition(caret);
            const wxString before = editor->GetTextRange(editor->PositionFromLine(line), caret);
            const double perRequest = Median(requestTimes);
            const double jedi = Median(jediTimes);
            const double showing = Median(showTimes);
            std::printf("completion, %s (%d lines), caret %d:%zu after \"%s\"\n",
                        options.api            ? "API document"
                        : options.file.empty() ? "generated document"
                                               : options.file.utf8_str().data(),
                        editor->GetLineCount(), line + 1, before.length(),
                        before.Strip(wxString::both).Right(40).utf8_str().data());
            std::printf("  median of %d requests after %d warm-up; shown: list %d, call tip %d, "
                        "nothing %d\n",
                        options.requests, warmUp, shownCounts[0], shownCounts[1], shownCounts[2]);
            std::printf("  completion request (event -> script reloaded -> server -> shown): "
                        "%8.2f ms\n",
                        perRequest * 1e3);
            std::printf("  jedi Script(...).complete() alone, one interpreter:               "
                        "%8.2f ms\n",
                        jedi * 1e3);
            std::printf("  the editor showing the same list or call tip alone:               "
                        "%8.2f ms\n",
                        showing * 1e3);
            std::printf("  first request of this document, server warm (%s shown): %8.2f ms\n",
                        ShownName(firstShown), first * 1e3);
            std::printf("  ratio request / jedi: %.2f\n", perRequest / jedi);
            std::printf("  ratio request without the editor's showing / jedi: %.2f\n",
                        (perRequest - showing) / jedi);
            std::printf("  ratio first / warm: %.2f\n", first / perRequest);
        }
    }
    if (plugin.IsEngineRunning())
        plugin.OnRelease();
    host::SetCurrentEditorProvider(nullptr);
    host::SetAppWindow(nullptr);
    frame->Destroy();
    wxTheApp->ProcessIdle();
    wxFileName::Rmdir(plugins, wxPATH_RMDIR_RECURSIVE);
    return status;
}

} // namespace bench
