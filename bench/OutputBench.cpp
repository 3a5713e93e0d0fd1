// output: a script whose MpMain prints 100,000 lines (or --lines N), run through the plug-in,
// against the same loop printing into io.StringIO, in the same run. In the window (the
// default) a sample ends when the editor's Output pane shows the last line and has painted
// it; with --batch the output goes as in the editor's batch mode, to a file, and a sample ends
// when the file holds all of it. Each mode also tells how much the process grew in its first
// run, against the text that the output and the pane keep. Beside them, python3.11 runs the
// same loop with its standard output a pipe (read and dropped by a thread of the bench), as
// Python buffers it there (by blocks; by lines for the pane's figure, as the pane is read like a
// terminal), PYTHONUNBUFFERED as the bench's own environment has it: its loop and flush alone.
#include "bench/Bench.h"

#include "engine/Coilhatch.h"
#include "host/app/App.h"
#include "host/app/OutputPane.h"
#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/evtloop.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/frame.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace bench {
namespace {

// The editor's side: named items and a main frame whose Output pane shows message output 0.
class PaneEditor {
public:
    PaneEditor(const wxString& pluginsPath, bool withPane)
        : frame(new wxFrame(nullptr, wxID_ANY, "Marrowpad", wxDefaultPosition, wxSize(900, 640))),
          pane(withPane ? new COutputPane(frame, host::GetMessageOutput(0)) : nullptr) {
        host::SetAppWindow(frame);
        host::GetNameItem("PluginsPath")->SetAttribute(0, pluginsPath);
        host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
        // Without the pane the editor runs as in batch mode: Python buffers its standard output
        // as for the editor's own, here the bench's (by blocks unless it is a terminal).
        host::GetNameItem("BatchMode")->SetAttribute(0, withPane ? "0" : "1");
        frame->Show();
    }
    ~PaneEditor() {
        host::SetAppWindow(nullptr);
        frame->Destroy();
    }
    PaneEditor(const PaneEditor&) = delete;
    PaneEditor& operator=(const PaneEditor&) = delete;

    COutputPane* Pane() const { return pane; }

private:
    wxFrame* frame;
    COutputPane* pane;
};

// The process's resident memory, in bytes.
long ResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6) * 1024;
    return 0;
}

wxString TempFolder() {
    std::string templ = (wxFileName::GetTempDir() + "/coilhatch-bench-XXXXXX").utf8_string();
    return mkdtemp(templ.data()) ? wxString::FromUTF8(templ) : wxString();
}

void WriteFile(const wxString& path, const wxString& text) {
    wxFFile file(path, "w");
    file.Write(text);
}

void ProcessEvents(wxEventLoopBase& loop) {
    wxTheApp->ProcessPendingEvents();
    while (loop.Pending())
        loop.Dispatch();
    wxTheApp->ProcessIdle();
}

// Runs the event loop as the editor would until the pane holds `last` as its last line, shows
// it and has painted it; false when it does not within a minute.
bool WaitForPane(wxEventLoopBase& loop, COutputPane* pane, const wxString& last) {
    const std::string ending = (last + "\n").utf8_string();
    auto shown = [&] {
        const int end = pane->GetLength();
        const auto length = static_cast<int>(ending.size());
        return end >= length && pane->GetTextRangeRaw(end - length, end).data() == ending &&
               pane->GetFirstVisibleLine() + pane->LinesOnScreen() >= pane->GetLineCount() - 1;
    };
    bool painted = false;
    auto onPainted = [&painted](wxStyledTextEvent& event) {
        event.Skip();
        painted = true;
    };
    pane->Bind(wxEVT_STC_PAINTED, onPainted);
    bool waitingForPaint = false;
    bool done = false;
    const auto deadline = Clock::now() + std::chrono::minutes(1);
    while (!done && Clock::now() < deadline) {
        wxTheApp->ProcessPendingEvents();
        while (loop.Pending() && !shown())
            loop.Dispatch();
        if (!shown()) {
            wxTheApp->ProcessIdle();
            continue;
        }
        if (!waitingForPaint) {
            waitingForPaint = true;
            painted = false;
            pane->Refresh();
        }
        pane->Update();
        while (loop.Pending() && !painted)
            loop.Dispatch();
        done = painted;
    }
    pane->Unbind(wxEVT_STC_PAINTED, onPainted);
    return done;
}

// python3.11 printing `lines` lines to a pipe: the seconds of its loop and final flush, as it
// measures them itself; negative when it cannot be run.
double PythonToPipe(int lines, bool byLines) {
    const std::string code = std::string("import sys, time\n") +
                             (byLines ? "sys.stdout.reconfigure(line_buffering=True)\n" : "") +
                             "start = time.perf_counter()\n"
                             "for i in range(" +
                             std::to_string(lines) +
                             "):\n"
                             "    print('line', i)\n"
                             "sys.stdout.flush()\n"
                             "sys.stderr.write(repr(time.perf_counter() - start))\n";
    int out[2];
    int err[2];
    if (pipe(out) != 0)
        return -1;
    if (pipe(err) != 0) {
        close(out[0]);
        close(out[1]);
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (const int fd : {out[0], out[1], err[0], err[1]})
            close(fd);
        execl(COILHATCH_PYTHON_EXECUTABLE, COILHATCH_PYTHON_EXECUTABLE, "-c", code.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    std::thread drain([fd = out[0]] {
        char buffer[65536];
        while (read(fd, buffer, sizeof buffer) > 0) {
        }
    });
    std::string said;
    char buffer[256];
    ssize_t got = 0;
    while ((got = read(err[0], buffer, sizeof buffer)) > 0)
        said.append(buffer, static_cast<size_t>(got));
    drain.join();
    close(out[0]);
    close(err[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || status != 0)
        return -1;
    return std::atof(said.c_str());
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int Output(int argc, char** argv) {
    int samples = 3;
    int lineCount = 100000;
    bool batch = false;
    int memoryRounds = 0; // --memory N: N runs of 1M lines, the resident memory after each
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--lines") == 0 && i + 1 < argc)
            lineCount = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--batch") == 0)
            batch = true;
        else if (std::strcmp(argv[i], "--memory") == 0 && i + 1 < argc)
            memoryRounds = std::max(1, std::atoi(argv[++i]));
        else
            samples = std::max(1, std::atoi(argv[i]));
    }
    const wxString plugins = TempFolder();
    const wxString scripts = TempFolder();
    const wxString printing = scripts + "/printing.py";
    const wxString buffered = scripts + "/buffered.py";
    const wxString outFile = scripts + "/stdout.txt";
    WriteFile(printing, wxString::Format("def MpMain():\n"
                                         "    for i in range(%d):\n"
                                         "        print('line', i)\n",
                                         lineCount));
    WriteFile(buffered, wxString::Format("import io\n"
                                         "def MpMain():\n"
                                         "    out = io.StringIO()\n"
                                         "    for i in range(%d):\n"
                                         "        print('line', i, file=out)\n",
                                         lineCount));

    std::unique_ptr<wxEventLoopBase> loop(wxTheApp->GetTraits()->CreateEventLoop());
    wxEventLoopActivator activator(loop.get());
    int status = 0;
    std::vector<long> rounds; // the memory figures of --memory
    {
        PaneEditor editor(plugins, !batch);
        ProcessEvents(*loop); // the frame is up
        auto* output = host::GetMessageOutput(0);
        // Batch mode: standard output, written as the editor writes it, is a file here.
        const int fd = open(outFile.utf8_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::unique_ptr<CConsoleWriter> console;
        if (batch) {
            console = std::make_unique<CConsoleWriter>(fd);
            output->AddSink(
                [&console](const char* text, size_t length) { console->Write(text, length); });
        }
        CCoilhatch plugin;
        plugin.OnAttach();
        if (!plugin.IsEngineRunning()) {
            std::fprintf(stderr, "the engine did not start\n");
            return 1;
        }
        const wxString last = wxString::Format("line %d", lineCount - 1);
        const long expectedBytes = [&] {
            long bytes = 0;
            for (int i = 0; i < lineCount; ++i)
                bytes += static_cast<long>(wxString::Format("line %d\n", i).length());
            return bytes;
        }();
        bool ok = true;
        // One sample: the script's run until its output is where the mode puts it.
        auto printed = [&](double& ran) {
            output->Clear();
            if (batch && ftruncate(fd, 0) == 0)
                lseek(fd, 0, SEEK_SET);
            const auto start = Clock::now();
            ok = plugin.RunScript(printing, false) && ok;
            ran = std::chrono::duration<double>(Clock::now() - start).count();
            if (batch) {
                console->Flush();
                struct stat written {};
                ok = fstat(fd, &written) == 0 && written.st_size == expectedBytes && ok;
            } else {
                ok = WaitForPane(*loop, editor.Pane(), last) && ok;
            }
            return std::chrono::duration<double>(Clock::now() - start).count();
        };

        // The first run of each, right after attach (the completion server warms up meanwhile),
        // and what the process grew by in it.
        const double firstBaseline = Seconds([&] { ok = plugin.RunScript(buffered, false) && ok; });
        ProcessEvents(*loop);
        const long before = ResidentBytes();
        double ran = 0;
        const double firstScript = printed(ran);
        const long grown = ResidentBytes() - before;
        const size_t keptOutput = output->GetText().utf8_string().size();
        const size_t keptPane = batch ? 0 : static_cast<size_t>(editor.Pane()->GetLength());

        std::vector<double> script;
        std::vector<double> baseline;
        std::vector<double> run;    // the script alone, before its output is all out
        std::vector<double> python; // python3.11 to a pipe
        for (int i = 0; i < samples; ++i) {
            // Interleaved, so that a slow moment of the machine hits all alike.
            baseline.push_back(Seconds([&] { ok = plugin.RunScript(buffered, false) && ok; }));
            script.push_back(printed(ran));
            run.push_back(ran);
            python.push_back(PythonToPipe(lineCount, !batch));
        }
        // Rounds of a million lines each: what the process holds over its size before the
        // first, after each, against what the output and the pane keep.
        const bool endedWithTheLastLine = output->GetText().EndsWith(last + "\n");
        if (memoryRounds > 0) {
            const wxString million = scripts + "/million.py";
            WriteFile(million, "def MpMain():\n"
                               "    for i in range(1000000):\n"
                               "        print('line', i)\n");
            ProcessEvents(*loop);
            const long start = ResidentBytes();
            for (int round = 0; round < memoryRounds && ok; ++round) {
                ok = plugin.RunScript(million, false) && ok;
                if (!batch)
                    ok = WaitForPane(*loop, editor.Pane(), "line 999999") && ok;
                ProcessEvents(*loop);
                rounds.push_back(ResidentBytes() - start);
            }
        }
        plugin.OnRelease();
        if (batch) {
            output->ClearSinks();
            console.reset();
        }
        close(fd);
        if (!ok || !endedWithTheLastLine) {
            std::fprintf(stderr, "a run failed\n");
            status = 1;
        } else {
            const double s = Median(script);
            const double b = Median(baseline);
            const double mb = 1024.0 * 1024.0;
            std::printf("output%s: MpMain printing %d lines, %d samples each%s\n",
                        batch ? " --batch (to a file)" : " (into the Output pane)", lineCount,
                        samples,
                        batch && isatty(STDOUT_FILENO)
                            ? " (the bench's standard output is a terminal: Python buffers by "
                              "lines, as for an editor in batch mode on a terminal)"
                            : "");
            std::printf("  into io.StringIO (median):           %.1f ms\n", b * 1e3);
            std::printf("  %s (median): %.1f ms\n",
                        batch ? "to the file, all written        "
                              : "into the pane, shown and painted",
                        s * 1e3);
            std::printf("    of which the script's run (median): %.1f ms\n", Median(run) * 1e3);
            std::printf("  ratio script / StringIO: %.2f\n", s / b);
            const double p = Median(python);
            const char* unbuffered = std::getenv("PYTHONUNBUFFERED");
            std::printf("  python3.11 to a pipe, %s (median): %.1f ms; ratio script / python3.11: "
                        "%.2f (PYTHONUNBUFFERED %s)\n",
                        batch ? "buffered as Python does" : "line-buffered", p * 1e3,
                        p > 0 ? s / p : 0.0, unbuffered && *unbuffered ? unbuffered : "unset");
            std::printf("  the first run, right after attach: ratio %.2f (%.0f%% of the later "
                        "runs')\n",
                        firstScript / firstBaseline,
                        100.0 * (firstScript / firstBaseline) / (s / b));
            std::printf("  resident memory grown in the first run: %.1f MB; text kept: %.1f MB "
                        "(output %.1f MB, pane %.1f MB); kept x 2 + 10 MB = %.1f MB\n",
                        static_cast<double>(grown) / mb,
                        static_cast<double>(keptOutput + keptPane) / mb,
                        static_cast<double>(keptOutput) / mb, static_cast<double>(keptPane) / mb,
                        static_cast<double>(2 * (keptOutput + keptPane)) / mb + 10);
        }
    }
    if (!rounds.empty()) {
        std::printf("  %zu rounds of 1,000,000 lines: resident memory over its size before them, "
                    "after each:",
                    rounds.size());
        for (const long grown : rounds)
            std::printf(" %.1f MB", static_cast<double>(grown) / (1024.0 * 1024.0));
        std::printf("\n");
    }
    wxFileName::Rmdir(plugins, wxPATH_RMDIR_RECURSIVE);
    wxFileName::Rmdir(scripts, wxPATH_RMDIR_RECURSIVE);
    return status;
}

} // namespace bench
