#include "completion/CompletionHook.h"

#include "plugin/Extensions.h"

#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/stc/stc.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

// A file of the completion's folder below the plug-ins folder.
wxString CompletionFilePath(const wxString& name) {
    const wxString pluginsPath = CNameService::Get()->GetNameItem("PluginsPath")->GetAttribute(0);
    const wxString sep = wxFileName::GetPathSeparator();
    return pluginsPath + sep + "python" + sep + "autocomplete" + sep + name;
}

bool IsPythonEditor(const CSyntaxEditor* editor) {
    return editor != nullptr && editor->GetLexer() == wxSTC_LEX_PYTHON;
}

// Text that only lengthens the word being typed.
bool IsWordText(const wxString& text) {
    for (const wxUniChar c : text)
        if (!(c == '_' || (c.IsAscii() ? wxIsalnum(c) != 0 : true)))
            return false;
    return !text.empty();
}

// Text that stays inside a call whose call tip was asked for.
bool StaysInCall(const wxString& text) {
    return text.find_first_of(")\r\n") == wxString::npos;
}

std::string Utf8(const wxString& text) {
    const wxScopedCharBuffer buffer = text.utf8_str();
    return std::string(buffer.data(), buffer.length());
}

} // namespace

CompletionHook::CompletionHook(RunScriptFunction runScript, wxString python,
                               Insight::SayFunction say)
    : runScript(std::move(runScript)), python(std::move(python)), say(say),
      server(
          [this](unsigned generation, nlohmann::json answer) {
              mailbox.CallAfter(
                  [this, generation, answer = std::move(answer)] { OnAnswer(generation, answer); });
          },
          [this](unsigned generation) {
              mailbox.CallAfter([this, generation] { OnServerEnd(generation); });
          }),
      insight(
          [this](nlohmann::json message) -> unsigned {
              server.EnsureRunning();
              return server.Send(std::move(message)) ? server.Generation() : 0;
          },
          [this] { return nextId++; }, std::move(say)) {}

CompletionHook::~CompletionHook() {
    StopServer();
}

void CompletionHook::OnCompleteBegin(wxCommandEvent& event) {
    CSyntaxEditor* editor = CEditorManagement::Get()->GetCurrentEditor();
    if (editor == nullptr)
        return;
    if (IsPythonEditor(editor)) {
        // Python documents are ours: the editor's own word completion does not run.
        Ask(editor, false);
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
    if (CSyntaxEditor* editor = CEditorManagement::Get()->GetCurrentEditor())
        Ask(editor, false);
    else
        runScript(CompletionFilePath("autocomp.py"), true, nullptr);
}

void CompletionHook::Ask(CSyntaxEditor* editor, bool calltipOnly) {
    if (!calltipOnly)
        insight.TellFileUnknown(editor);
    server.EnsureRunning();
    // Without an engine the runner drops the request quietly: no message box on every
    // keystroke. Built anew for every request, so a moved plug-ins folder is followed at once.
    std::string request;
    runScript(CompletionFilePath("autocomp.py"), true, &request);
    // The script may have closed the document, or made another one current.
    if (request.empty() || CEditorManagement::Get()->GetCurrentEditor() != editor)
        return;
    Watch(editor);
    const std::uint64_t id = nextId++;
    nlohmann::json message = {{"id", id}, {"kind", "complete"}, {"calltip_only", calltipOnly}};
    if (!server.Send(std::move(message), std::move(request), true))
        return;
    // The server answers only the latest completion: earlier ones are of no use any more.
    DropPending([](const Pending&) { return true; });
    const int caret = editor->GetCurrentPos();
    pending[id] = {editor, server.Generation(), caret, caret, calltipOnly, true};
    TellWorkBegins(editor);
}

void CompletionHook::DropPending(const std::function<bool(const Pending&)>& which) {
    for (auto it = pending.begin(); it != pending.end();) {
        if (!which(it->second)) {
            ++it;
            continue;
        }
        CSyntaxEditor* editor = it->second.editor;
        it = pending.erase(it);
        if (watched.count(editor) != 0)
            TellWorkEnds(editor);
    }
}

void CompletionHook::OnAnswer(unsigned, const nlohmann::json& answer) {
    const auto id = answer.find("id");
    if (id == answer.end() || !id->is_number_unsigned())
        return;
    const auto found = pending.find(id->get<std::uint64_t>());
    if (found == pending.end()) {
        insight.OnAnswer(answer);
        return; // or dropped meanwhile
    }
    const Pending asked = found->second;
    pending.erase(found);
    if (watched.count(asked.editor) == 0)
        return; // the editor has gone
    if (asked.valid && CEditorManagement::Get()->GetCurrentEditor() == asked.editor &&
        asked.editor->GetCurrentPos() == asked.typedEnd)
        Show(asked, answer);
    TellWorkEnds(asked.editor);
}

void CompletionHook::OnServerEnd(unsigned generation) {
    // The server died: a new one is asked what it left unanswered.
    if (server.Recover(generation))
        return;
    // Or no server could be started: what was sent will not be answered. The next request
    // starts it again.
    DropPending([generation](const Pending& asked) { return asked.generation == generation; });
    insight.OnServerEnd(generation);
}

void CompletionHook::Show(const Pending& asked, const nlohmann::json& answer) {
    CSyntaxEditor* editor = asked.editor;
    std::vector<std::string> names;
    if (const auto list = answer.find("items"); list != answer.end() && list->is_array())
        for (const auto& item : *list)
            if (item.is_string())
                names.push_back(item.get<std::string>());
    std::string items;
    for (const std::string& name : names)
        items += (items.empty() ? "" : " ") + name;
    std::string calltip;
    if (const auto tip = answer.find("calltip"); tip != answer.end() && tip->is_string())
        calltip = tip->get<std::string>();
    int prefixLength = 0;
    if (const auto prefix = answer.find("prefix_len");
        prefix != answer.end() && prefix->is_number_integer())
        prefixLength = prefix->get<int>();
    const bool typedAfter = asked.typedEnd != asked.caret;

    // The editor shows one or the other: the list once a word is typed, else the call tip.
    if (!asked.calltipOnly && !items.empty() &&
        (prefixLength > 0 || typedAfter || calltip.empty())) {
        int start = asked.caret;
        for (int i = 0; i < prefixLength && start > 0; ++i)
            start = editor->PositionBefore(start);
        editor->AutoCompSetSeparator(' ');
        editor->AutoCompSetIgnoreCase(true);
        // The items come in jedi's order; the control keeps it and searches a sorted index of
        // its own.
        editor->AutoCompSetOrder(wxSTC_ORDER_CUSTOM);
        editor->AutoCompSetDropRestOfWord(true);
        // The control counts the typed part in bytes of its UTF-8 text.
        editor->AutoCompShow(asked.typedEnd - start, wxString::FromUTF8(items));
        shownItems = std::move(names);
    } else if (!calltip.empty()) {
        editor->CallTipShow(asked.caret, wxString::FromUTF8(calltip));
    }
}

// ---------------------------------------------------------------------------------------------
// The editors: what they do while an answer is on its way.

void CompletionHook::Watch(CSyntaxEditor* editor) {
    if (editor == nullptr || !watched.insert(editor).second)
        return;
    editor->Bind(wxEVT_STC_MODIFIED, &CompletionHook::OnModified, this);
    editor->Bind(wxEVT_STC_CHARADDED, &CompletionHook::OnCharAdded, this);
    editor->Bind(wxEVT_DESTROY, &CompletionHook::OnEditorDestroyed, this);
    insight.Watch(editor);
}

void CompletionHook::UnwatchAll() {
    for (CSyntaxEditor* editor : watched) {
        editor->Unbind(wxEVT_STC_MODIFIED, &CompletionHook::OnModified, this);
        editor->Unbind(wxEVT_STC_CHARADDED, &CompletionHook::OnCharAdded, this);
        editor->Unbind(wxEVT_DESTROY, &CompletionHook::OnEditorDestroyed, this);
        insight.Unwatch(editor);
    }
    watched.clear();
    if (frame)
        frame->Unbind(wxEVT_IDLE, &CompletionHook::OnFrameIdle, this);
    frame = nullptr;
}

void CompletionHook::OnModified(wxStyledTextEvent& event) {
    event.Skip();
    const int type = event.GetModificationType();
    if ((type & (wxSTC_MOD_INSERTTEXT | wxSTC_MOD_DELETETEXT)) == 0)
        return;
    auto* editor = static_cast<CSyntaxEditor*>(event.GetEventObject());
    insight.OnModified(editor, type);
    for (auto& [id, asked] : pending) {
        if (asked.editor != editor || !asked.valid)
            continue;
        // Typing on at the caret narrows the word (or fills in the call's arguments): the
        // answer still fits. Anything else makes it stale.
        const bool typedOn =
            (type & wxSTC_MOD_INSERTTEXT) != 0 && event.GetPosition() == asked.typedEnd &&
            (asked.calltipOnly ? StaysInCall(event.GetText()) : IsWordText(event.GetText()));
        if (typedOn)
            asked.typedEnd += event.GetLength();
        else
            asked.valid = false;
    }
}

void CompletionHook::OnCharAdded(wxStyledTextEvent& event) {
    event.Skip();
    auto* editor = static_cast<CSyntaxEditor*>(event.GetEventObject());
    // A call tip when a call is opened, in the current Python document; a completion script
    // that is missing is told of at Ctrl+Space, not at every "(".
    if (event.GetKey() == '(' && editor == CEditorManagement::Get()->GetCurrentEditor() &&
        IsPythonEditor(editor) && wxFileName::FileExists(CompletionFilePath("autocomp.py")))
        Ask(editor, true);
}

void CompletionHook::OnEditorDestroyed(wxWindowDestroyEvent& event) {
    event.Skip();
    // Also sent for the windows inside the editor (its list's popup, say): only the editor's
    // own end counts.
    const auto found =
        std::find_if(watched.begin(), watched.end(), [&event](CSyntaxEditor* editor) {
            return static_cast<wxObject*>(editor) == event.GetEventObject();
        });
    if (found == watched.end())
        return;
    CSyntaxEditor* editor = *found;
    watched.erase(found);
    insight.Forget(editor);
    for (auto it = pending.begin(); it != pending.end();)
        it = it->second.editor == editor ? pending.erase(it) : std::next(it);
}

void CompletionHook::OnFrameIdle(wxIdleEvent& event) {
    event.Skip();
    CSyntaxEditor* editor = CEditorManagement::Get()->GetCurrentEditor();
    if (IsPythonEditor(editor))
        Watch(editor);
}

// ---------------------------------------------------------------------------------------------

void CompletionHook::StartServer() {
    const wxString script = CompletionFilePath("autocomp_server.py");
    if (!wxFileName::FileExists(script))
        return;
    const wxString execPath = CNameService::Get()->GetNameItem("ExecPath")->GetAttribute(0);
    const auto fileName = [](const wxString& path) { return std::string(path.fn_str()); };
    if (!server.Start(fileName(python), fileName(script), fileName(execPath))) {
        // Said once, at the start: completion then shows nothing.
        say("Python completion is not available: its server could not be started (" +
            wxString::FromUTF8(server.Error()) + ").\n");
        return;
    }
    // New Python documents are looked for when the editor is idle: a "(" typed there asks for
    // the call tip.
    frame = CAppManagement::Get()->GetAppWindow();
    if (frame)
        frame->Bind(wxEVT_IDLE, &CompletionHook::OnFrameIdle, this);
    // The Python document open at start is read while the server warms up: its first
    // completion then costs what a later one does.
    CSyntaxEditor* editor = CEditorManagement::Get()->GetCurrentEditor();
    if (IsPythonEditor(editor)) {
        const wxCharBuffer text = editor->GetTextRaw();
        const wxString path = DocumentFilePath(editor);
        server.Send({{"id", nextId++},
                     {"kind", "prepare"},
                     {"text", std::string(text.data(), text.length())},
                     {"path", path.empty() ? nlohmann::json() : nlohmann::json(Utf8(path))}},
                    std::string(), true);
    }
}

void CompletionHook::StopServer() {
    DropPending([](const Pending&) { return true; });
    UnwatchAll();
    server.Stop();
}
