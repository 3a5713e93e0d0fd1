#include "completion/CompletionHook.h"

#include "host/lib/Services.h"

#include <wx/filename.h>
#include <wx/stc/stc.h>

#include <utility>

namespace {

// The completion script, relative to the plug-ins folder.
wxString CompletionScriptPath(const wxString& pluginsPath) {
    const wxString sep = wxFileName::GetPathSeparator();
    return pluginsPath + sep + "python" + sep + "autocomplete" + sep + "autocomp.py";
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
    const wxString pluginsPath = CNameService::Get()->GetNameItem("PluginsPath")->GetAttribute(0);
    runScript(CompletionScriptPath(pluginsPath), true);
}
