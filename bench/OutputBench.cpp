// output: a script whose MpMain prints 100,000 lines, run through the plug-in in a frame with a
// real output pane, against the same loop printing into io.StringIO, in the same run. A sample
// ends when the pane shows the last line, so the pane's cost is counted.
#include "bench/Bench.h"

#include "engine/Coilhatch.h"
#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/evtloop.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/textctrl.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace bench {
namespace {

const int lineCount = 100000;

// The editor's side: named items and a main frame whose pane shows message output 0.
class PaneEditor {
public:
    explicit PaneEditor(const wxString& pluginsPath)
        : frame(new wxFrame(nullptr, wxID_ANY, "Marrowpad", wxDefaultPosition, wxSize(900, 640))),
          pane(new wxTextCtrl(frame, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                              wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP)) {
        CAppManagement::Get()->SetAppWindow(frame);
        CNameService::Get()->GetNameItem("PluginsPath")->SetAttribute(0, pluginsPath);
        CNameService::Get()->GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
        CMessageOutputPane::Attach(pane, CMessageOutputManagement::Get()->GetMessageOutput(0));
        frame->Show();
    }
    ~PaneEditor() {
        CAppManagement::Get()->SetAppWindow(nullptr);
        frame->Destroy();
    }
    PaneEditor(const PaneEditor&) = delete;
    PaneEditor& operator=(const PaneEditor&) = delete;

    wxTextCtrl* Pane() const { return pane; }

private:
    wxFrame* frame;
    wxTextCtrl* pane;
};

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

// Runs the event loop as the editor would until the pane holds `last` as its last line; false
// when it does not within a minute. The toolkit's layout of the lines out of sight, which it
// goes on with in the background, is not waited for.
bool WaitForPane(wxEventLoopBase& loop, wxTextCtrl* pane, const wxString& last) {
    const wxString ending = last + "\n";
    auto shown = [&] {
        const long end = pane->GetLastPosition();
        return end >= static_cast<long>(ending.length()) &&
               pane->GetRange(end - static_cast<long>(ending.length()), end) == ending;
    };
    const auto deadline = Clock::now() + std::chrono::minutes(1);
    while (Clock::now() < deadline) {
        wxTheApp->ProcessPendingEvents();
        while (loop.Pending() && !shown())
            loop.Dispatch();
        if (!shown())
            wxTheApp->ProcessIdle();
        if (shown())
            return true;
    }
    return false;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int Output(int argc, char** argv) {
    const int samples = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 3;
    const wxString plugins = TempFolder();
    const wxString scripts = TempFolder();
    const wxString printing = scripts + "/printing.py";
    const wxString buffered = scripts + "/buffered.py";
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
    {
        PaneEditor editor(plugins);
        ProcessEvents(*loop); // the frame is up
        CCoilhatch plugin;
        plugin.OnAttach();
        if (!plugin.IsEngineRunning()) {
            std::fprintf(stderr, "the engine did not start\n");
            return 1;
        }
        auto* output = CMessageOutputManagement::Get()->GetMessageOutput(0);
        const wxString last = wxString::Format("line %d", lineCount - 1);
        std::vector<double> script;
        std::vector<double> baseline;
        std::vector<double> run; // the script alone, before the pane shows its output
        bool ok = true;
        for (int i = 0; i < samples; ++i) {
            // Interleaved, so that a slow moment of the machine hits both alike.
            baseline.push_back(Seconds([&] { ok = plugin.RunScript(buffered, false) && ok; }));
            output->Clear();
            editor.Pane()->Clear();
            const auto start = Clock::now();
            ok = plugin.RunScript(printing, false) && ok;
            const auto ran = Clock::now();
            ok = WaitForPane(*loop, editor.Pane(), last) && ok;
            const auto shown = Clock::now();
            script.push_back(std::chrono::duration<double>(shown - start).count());
            run.push_back(std::chrono::duration<double>(ran - start).count());
        }
        plugin.OnRelease();
        if (!ok || !output->GetText().EndsWith(last + "\n")) {
            std::fprintf(stderr, "a run failed\n");
            status = 1;
        } else {
            const double s = Median(script);
            const double b = Median(baseline);
            std::printf("output: MpMain printing %d lines, %d samples each\n", lineCount, samples);
            std::printf("  into io.StringIO (median):           %.1f ms\n", b * 1e3);
            std::printf("  into the message output (median):    %.1f ms\n", s * 1e3);
            std::printf("    of which the script's run (median): %.1f ms\n", Median(run) * 1e3);
            std::printf("  ratio script / StringIO: %.2f\n", s / b);
        }
    }
    wxFileName::Rmdir(plugins, wxPATH_RMDIR_RECURSIVE);
    wxFileName::Rmdir(scripts, wxPATH_RMDIR_RECURSIVE);
    return status;
}

} // namespace bench
