// The completion hook: a completion started in a Python document runs the completion script
// below the plug-ins folder (reloaded on every request); completions in other documents are left
// to the editor. When a completion ends, the current editor's call tip is closed. The completion
// script asks the completion server, a process of its own that this hook starts once the engine
// runs and starts again whenever it has died.
#pragma once

#include "completion/CompletionServer.h"

#include <wx/string.h>

#include <functional>

class wxCommandEvent;

class CompletionHook {
public:
    // Runs a script file (path, reload); without an engine it does nothing, quietly.
    using RunScriptFunction = std::function<bool(const wxString& path, bool reload)>;

    // python: the interpreter that runs the completion server, the one the engine embeds.
    CompletionHook(RunScriptFunction runScript, wxString python);

    void OnCompleteBegin(wxCommandEvent& event);
    void OnCompleteEnd(wxCommandEvent& event);
    void RunCompletionScript();

    // Starts the completion server beside the completion script, if it is there; it warms up
    // at a low priority while the editor starts. Quiet when the server's file is missing.
    void StartServer();
    // Ends the server: no process is left when the engine is released.
    void StopServer() { server.Stop(); }
    const CompletionServer& Server() const { return server; }

private:
    RunScriptFunction runScript;
    wxString python;
    CompletionServer server;
};
