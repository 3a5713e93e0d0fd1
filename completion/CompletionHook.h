// The completion hook: a completion started in a Python document runs the completion script
// below the plug-ins folder (reloaded on every request); completions in other documents are left
// to the editor. When a completion ends, the current editor's call tip is closed.
//
// The completion script reads the document and its caret and returns the request; this hook
// sends it to the completion server (a process of its own that the hook starts once the engine
// runs, and starts again whenever it has died) and returns to the editor at once. The answer is
// shown when it comes, on the editor's thread, if the document and caret are still as they were
// or only more of the word has been typed; otherwise it is dropped. Typing "(" in a Python
// document asks for the call's call tip the same way. The same server checks the documents and
// finds definitions and help (completion/Insight.h).
#pragma once

#include "completion/CompletionServer.h"
#include "completion/Insight.h"
#include "plugin/EditorServices.h"

#include <wx/event.h>
#include <wx/string.h>
#include <wx/weakref.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

class wxStyledTextEvent;
class wxWindowDestroyEvent;
class wxIdleEvent;

class CompletionHook {
public:
    // Runs a script file (path, reload); when its MpMain returns a str and `returned` is given,
    // the text goes there in UTF-8. Without an engine it does nothing, quietly.
    using RunScriptFunction =
        std::function<bool(const wxString& path, bool reload, std::string* returned)>;

    // python: the interpreter that runs the completion server, the one the engine embeds; say:
    // how the plug-in's messages reach the message output.
    CompletionHook(RunScriptFunction runScript, wxString python, Insight::SayFunction say);
    ~CompletionHook();

    CompletionHook(const CompletionHook&) = delete;
    CompletionHook& operator=(const CompletionHook&) = delete;

    void OnCompleteBegin(wxCommandEvent& event);
    void OnCompleteEnd(wxCommandEvent& event);
    // Runs the completion script for the current editor and sends the request it returns.
    void RunCompletionScript();

    // Starts the completion server beside the completion script, if it is there, and listens
    // to the Python documents' editors. Quiet when the server's file is missing.
    void StartServer();
    // Ends the server and the listening: no process is left when the engine is released, and
    // answers still on their way are dropped.
    void StopServer();
    const CompletionServer& Server() const { return server; }

    // Requests sent whose answers have not come yet.
    size_t PendingCount() const { return pending.size(); }
    // The items of the last list shown, in its order.
    const std::vector<std::string>& ShownItems() const { return shownItems; }
    // Findings, definitions and help in the Python documents.
    Insight& Insights() { return insight; }
    const Insight& Insights() const { return insight; }

private:
    struct Pending {
        CSyntaxEditor* editor;
        unsigned generation; // of the server's connection it was sent on
        int caret;           // where it was asked
        int typedEnd;        // the caret once more of the word has been typed after it
        bool calltipOnly;
        bool valid; // the document has changed in another way: the answer is dropped
    };

    void Ask(CSyntaxEditor* editor, bool calltipOnly);
    void DropPending(const std::function<bool(const Pending&)>& which);
    void OnAnswer(unsigned generation, const nlohmann::json& answer);
    void OnServerEnd(unsigned generation);
    void Show(const Pending& asked, const nlohmann::json& answer);

    void Watch(CSyntaxEditor* editor);
    void UnwatchAll();
    void OnModified(wxStyledTextEvent& event);
    void OnCharAdded(wxStyledTextEvent& event);
    void OnEditorDestroyed(wxWindowDestroyEvent& event);
    void OnFrameIdle(wxIdleEvent& event);

    RunScriptFunction runScript;
    wxString python;
    Insight::SayFunction say;
    // The server's answers reach the editor's thread through it. Declared before the server,
    // which goes first: its thread ends before the handler's queued calls are deleted.
    wxEvtHandler mailbox;
    CompletionServer server;
    Insight insight;
    std::map<std::uint64_t, Pending> pending;
    std::uint64_t nextId = 1;
    std::vector<std::string> shownItems;
    std::set<CSyntaxEditor*> watched; // editors this hook has bound handlers to
    wxWeakRef<wxWindow> frame;        // the main frame, whose idle time finds new editors
};
