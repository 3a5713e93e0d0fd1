#include "completion/CompletionHook.h"

#include "plugin/Extensions.h"

#include <wx/filename.h>
#include <wx/stc/stc.h>

#include <cstdio>
#include <string>
#include <utility>

namespace {

// A file of the completion's folder below the plug-ins folder.
wxString CompletionFilePath(const wxString& name) {
    const wxString pluginsPath = CNameService::Get()->GetNameItem("PluginsPath")->GetAttribute(0);
    const wxString sep = wxFileName::GetPathSeparator();
    return pluginsPath + sep + "python" + sep + "autocomplete" + sep + name;
}

// A JSON string of the text.
std::string JsonString(const wxString& text) {
    std::string json = "\"";
    for (const char c : text.utf8_string()) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            json += escaped;
        } else {
            json += c; // UTF-8 as it is
        }
    }
    return json + "\"";
}

} // namespace

CompletionHook::CompletionHook(RunScriptFunction runScript, wxString python)
    : runScript(std::move(runScript)), python(std::move(python)) {}

void CompletionHook::OnCompleteBegin(wxCommandEvent& event) {
    CSyntaxEditor* editor = CEditorManagement::Get()->GetCurrentEditor();
    if (editor == nullptr)
        return;
    if (editor->GetLexer() == wxSTC_LEX_PYTHON) {
        // Python documents are ours: the editor's own word completion does not run.
        server.EnsureRunning();
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

void CompletionHook::StartServer() {
    const wxString script = CompletionFilePath("autocomp_server.py");
    if (!wxFileName::FileExists(script))
        return;
    const wxString execPath = CNameService::Get()->GetNameItem("ExecPath")->GetAttribute(0);
    const auto fileName = [](const wxString& path) { return std::string(path.fn_str()); };
    if (!server.Start(fileName(python), fileName(script), fileName(execPath)))
        return;
    // The Python document open at start is read while the server warms up: its first
    // completion then costs what a later one does.
    CSyntaxEditor* editor = CEditorManagement::Get()->GetCurrentEditor();
    if (editor != nullptr && editor->GetLexer() == wxSTC_LEX_PYTHON &&
        static_cast<size_t>(editor->GetLength()) < CompletionServer::maxToldRequest) {
        const wxString path = DocumentFilePath(editor);
        server.Tell("{\"prepare\": true, \"text\": " + JsonString(editor->GetText()) +
                    ", \"line\": " + std::to_string(editor->GetLineCount()) +
                    ", \"column\": 0, \"path\": " + (path.empty() ? "null" : JsonString(path)) +
                    "}");
    }
}
