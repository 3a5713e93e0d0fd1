// Completion latency: one completion request in a Python document (the editor's completion
// event through the plug-in, the completion script reloaded and run, the list shown), against
// jedi's own complete() on the same text and caret in the same interpreter.
//
//   coilhatch_bench completion [--lines N] [--requests N]
#include "bench/Bench.h"
#include "engine/Coilhatch.h"
#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/arrstr.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/frame.h>

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

// Times one jedi complete() at the current editor's caret and appends the seconds to
// times.txt beside itself.
const char* const baselineScript = R"(import os, time, warnings
import jedi, MpAPI

def MpMain():
    editor = MpAPI.CEditorManagement_Get().GetCurrentEditor()
    caret = editor.GetCurrentPos()
    line = editor.LineFromPosition(caret)
    column = len(editor.GetTextRange(editor.PositionFromLine(line), caret))
    text = editor.GetText()
    start = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        script = jedi.Script(code=text, path=None, environment=jedi.InterpreterEnvironment())
        found = script.complete(line + 1, column)
    seconds = time.perf_counter() - start
    assert any(c.name == "path" for c in found)
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "times.txt"), "a") as f:
        f.write(repr(seconds) + "\n")
)";

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

const int warmUp = 3;

} // namespace

int Completion(int argc, char** argv) {
    int documentLines = 2000;
    int requests = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--lines") == 0)
            documentLines = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--requests") == 0)
            requests = std::atoi(argv[i + 1]);
    }
    if (documentLines < 10 || requests < 1) {
        std::fprintf(stderr,
                     "usage: coilhatch_bench completion [--lines N>=10] [--requests N>=1]\n");
        return 2;
    }

    // A plug-ins folder of its own with the shipped completion script.
    char dirTemplate[] = "/tmp/coilhatch-bench-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr)
        return 1;
    const wxString plugins = dirTemplate;
    const wxString sep = wxFileName::GetPathSeparator();
    const wxString relative = "python" + sep + "autocomplete" + sep + "autocomp.py";
    const wxString shipped = ReadText(wxString(COILHATCH_PLUGINS_DIR) + sep + relative);
    const wxString baseline = plugins + sep + "jedi_baseline.py";
    const wxString baselineText = baselineScript;
    if (shipped.empty() || !WriteText(plugins + sep + relative, shipped) ||
        !WriteText(baseline, baselineText)) {
        std::fprintf(stderr, "cannot set up %s (is the completion script built?)\n", dirTemplate);
        return 1;
    }

    auto* frame = new wxFrame(nullptr, wxID_ANY, "Marrowpad");
    CAppManagement::Get()->SetAppWindow(frame);
    CNameService::Get()->GetNameItem("PluginsPath")->SetAttribute(0, plugins);
    CNameService::Get()->GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
    auto* editor = new CSyntaxEditor(frame);
    editor->SetLexerForFile("bench.py");
    editor->SetText(Document(documentLines));
    editor->GotoPos(editor->GetLength());
    CEditorManagement::Get()->SetCurrentEditorProvider([editor] { return editor; });
    frame->Show(); // the list is a popup of the shown editor, as in the editor program

    int status = 0;
    CCoilhatch plugin;
    plugin.OnAttach();
    if (!plugin.IsEngineRunning()) {
        std::fprintf(stderr, "the plug-in's engine did not start\n");
        status = 1;
    } else {
        auto request = [&] {
            wxCommandEvent event(wxEVT_EDITOR_COMPLETEBEGIN);
            plugin.ProcessEvent(event);
        };
        // Requests and baseline calls alternate, so that load on the machine hits both alike.
        std::vector<double> requestTimes;
        int shown = 0;
        for (int i = 0; i < warmUp + requests; ++i) {
            const double seconds = Seconds(request);
            if (i >= warmUp) {
                requestTimes.push_back(seconds);
                shown += editor->AutoCompActive() ? 1 : 0;
            }
            editor->AutoCompCancel();
            plugin.RunScript(baseline, false);
        }
        std::vector<double> jediTimes;
        const wxArrayString lines = wxSplit(ReadText(plugins + sep + "times.txt"), '\n');
        for (size_t i = warmUp; i < lines.size(); ++i) {
            double value = 0;
            if (lines[i].ToCDouble(&value))
                jediTimes.push_back(value);
        }
        if (jediTimes.size() != static_cast<size_t>(requests)) {
            std::fprintf(stderr, "the baseline ran %zu times of %d\n", jediTimes.size(), requests);
            status = 1;
        } else {
            const double perRequest = Median(requestTimes);
            const double jedi = Median(jediTimes);
            std::printf("completion, %d-line document, caret after \"os.pa\", median of %d "
                        "requests after %d warm-up\n",
                        documentLines, requests, warmUp);
            std::printf("  completion request (event -> script reloaded -> list shown): %8.2f ms\n",
                        perRequest * 1e3);
            std::printf("  jedi Script(...).complete() alone, same interpreter:         %8.2f ms\n",
                        jedi * 1e3);
            std::printf("  ratio request / jedi: %.2f\n", perRequest / jedi);
            std::printf("  lists shown: %d of %d\n", shown, requests);
            if (shown != requests)
                status = 1;
        }
    }
    plugin.OnRelease();
    CEditorManagement::Get()->SetCurrentEditorProvider(nullptr);
    CAppManagement::Get()->SetAppWindow(nullptr);
    frame->Destroy();
    wxTheApp->ProcessIdle();
    wxFileName::Rmdir(plugins, wxPATH_RMDIR_RECURSIVE);
    return status;
}

} // namespace bench
