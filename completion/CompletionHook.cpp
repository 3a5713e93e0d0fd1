#include "completion/CompletionHook.h"

#include "host/lib/Services.h"

#include <wx/filename.h>
#include <wx/stc/stc.h>

#include <utility>

namespace {

// A file of the completion's folder below the plug-ins folder.
wxString CompletionFilePath(const wxString& name) {
    const wxString pluginsPath = CNameService::Get()->GetNameItem("PluginsPath")->GetAttribute(0);
    const wxString sep = wxFileName::GetPathSeparator();
    return pluginsPath + sep + "python" + sep + "autocomplete" + sep + name;
}

} // namespace

CompletionHook::CompletionHook(RunScriptFunction runScript) : runScript(std::move(runScript)) {}

void CompletionHook::OnCompleteBegin(wxCommandEvent& event) {
    CSyntaxEditor* editor = CEditorManagement::Get()->GetCurrentEditor();
    if (editor == nullptr)
        return;
    if (editor->GetLexer() == wxSTC_LEX_PYTHON) {
        // Python documents are ours: the editor's own word completion does not run.
        RunCompletionScript();
        return;
    }
    event.Skip(true);
}

void CompletionHook::OnCompleteEnd(wxCommandEvent&) {
    CSyntaxEditor* editor = CEditorManagement::Get()->GetCurrentEditor();
    if (editor != nullptr)
        editor->CallTipCancel();
}

void CompletionHook::RunCompletionScript() {
    // Without an engine the runner drops the request quietly: no message box on every
    // keystroke. Built anew for every request, so a moved plug-ins folder is followed at once.
    runScript(CompletionFilePath("autocomp.py"), true);
}

void CompletionHook::Warm() {
    // The warm-up is an optimisation: without its script the first request does the work.
    const wxString path = CompletionFilePath("warmup.py");
    if (wxFileName::FileExists(path))
        runScript(path, false);
}
