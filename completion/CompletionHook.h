// The completion hook: a completion started in a Python document runs the completion script
// below the plug-ins folder (reloaded on every request); completions in other documents are left
// to the editor. When a completion ends, the current editor's call tip is closed. Once the engine
// runs, the warm-up script beside the completion script readies the completion's own imports in
// the background, so that the first request does not pay for them.
#pragma once

#include <wx/string.h>

#include <functional>

class wxCommandEvent;

class CompletionHook {
public:
    // Runs a script file (path, reload); without an engine it does nothing, quietly.
    using RunScriptFunction = std::function<bool(const wxString& path, bool reload)>;

    explicit CompletionHook(RunScriptFunction runScript);

    void OnCompleteBegin(wxCommandEvent& event);
    void OnCompleteEnd(wxCommandEvent& event);
    void RunCompletionScript();
    // Runs the warm-up script beside the completion script, if it is there; it returns at once
    // and works on in a thread of its own. Quiet when the script is missing.
    void Warm();

private:
    RunScriptFunction runScript;
};
