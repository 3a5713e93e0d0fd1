// The completion hook: a completion started in a Python document runs the completion script
// below the plug-ins folder (reloaded on every request); completions in other documents are left
// to the editor. When a completion ends, the current editor's call tip is closed.
#include "engine/Coilhatch.h"
#include "host/lib/Services.h"

#include <wx/filename.h>
#include <wx/stc/stc.h>

namespace {

// The completion script, relative to the plug-ins folder.
wxString CompletionScriptPath(const wxString& pluginsPath) {
    const wxString sep = wxFileName::GetPathSeparator();
    return pluginsPath + sep + "python" + sep + "autocomplete" + sep + "autocomp.py";
}

} // namespace

void CCoilhatch::OnCompleteBegin(wxEvent& event) {
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

void CCoilhatch::OnCompleteEnd(wxEvent&) {
    CSyntaxEditor* editor = CEditorManagement::Get()->GetCurrentEditor();
    if (editor != nullptr)
        editor->CallTipCancel();
}

void CCoilhatch::RunCompletionScript() {
    // Without an engine the runner drops the request quietly: no message box on every
    // keystroke. Built anew for every request, so a moved plug-ins folder is followed at once.
    const wxString pluginsPath = CNameService::Get()->GetNameItem("PluginsPath")->GetAttribute(0);
    RunScript(CompletionScriptPath(pluginsPath), true);
}
