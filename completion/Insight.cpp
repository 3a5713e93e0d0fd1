#include "completion/Insight.h"

#include "plugin/Extensions.h"

#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/stc/stc.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

namespace {

std::string Utf8(const wxString& text) {
    const wxScopedCharBuffer buffer = text.utf8_str();
    return std::string(buffer.data(), buffer.length());
}

std::string TextOf(CSyntaxEditor* editor) {
    const wxCharBuffer text = editor->GetTextRaw();
    return std::string(text.data(), text.length());
}

// Line (from 1) and column (characters from 0) of a position, as the server takes them.
std::pair<int, int> LineAndColumn(CSyntaxEditor* editor, int position) {
    const int line = editor->LineFromPosition(position);
    return {line + 1, editor->CountCharacters(editor->PositionFromLine(line), position)};
}

// The position of a line (from 1) and a column in characters (from 0), kept inside the line.
int PositionOf(CSyntaxEditor* editor, int line, int column) {
    const int index = std::clamp(line - 1, 0, std::max(editor->GetLineCount() - 1, 0));
    const int start = editor->PositionFromLine(index);
    const int end = editor->GetLineEndPosition(index);
    const int position = column > 0 ? editor->PositionRelative(start, column) : start;
    return position <= 0 && column > 0 ? end : std::min(std::max(position, start), end);
}

// Whether a menu item of the main frame has the key for its shortcut: the editor's menus come
// before the document's own keys.
bool IsMenuShortcut(int key, int modifiers) {
    wxFrame* frame = CAppManagement::Get()->GetAppWindow();
    wxMenuBar* menuBar = frame ? frame->GetMenuBar() : nullptr;
    std::function<bool(const wxMenu*)> holds = [&](const wxMenu* menu) {
        for (const wxMenuItem* item : menu->GetMenuItems()) {
            if (item->GetSubMenu() ? holds(item->GetSubMenu()) : false)
                return true;
            const std::unique_ptr<wxAcceleratorEntry> accel(item->GetAccel());
            if (accel && item->IsEnabled() && accel->GetKeyCode() == key &&
                accel->GetFlags() == modifiers)
                return true;
        }
        return false;
    };
    for (size_t i = 0; menuBar && i < menuBar->GetMenuCount(); ++i)
        if (holds(menuBar->GetMenu(i)))
            return true;
    return false;
}

void SayInStatusBar(const wxString& word) {
    wxFrame* frame = CAppManagement::Get()->GetAppWindow();
    if (frame && frame->GetStatusBar())
        frame->SetStatusText(word);
}

} // namespace

Insight::Insight(SendFunction send, IdFunction newId, SayFunction say)
    : send(std::move(send)), say(std::move(say)), newId(std::move(newId)) {}

Insight::~Insight() {
    pause.Stop();
}

Insight::Document* Insight::DocumentOf(const CSyntaxEditor* editor) {
    const auto found = documents.find(const_cast<CSyntaxEditor*>(editor));
    return found == documents.end() ? nullptr : &found->second;
}

const std::vector<Insight::Finding>* Insight::FindingsOf(const CSyntaxEditor* editor) const {
    const auto found = documents.find(const_cast<CSyntaxEditor*>(editor));
    return found == documents.end() ? nullptr : &found->second.findings;
}

size_t Insight::DueCount() const {
    return static_cast<size_t>(std::count_if(documents.begin(), documents.end(),
                                             [](const auto& entry) { return entry.second.due; }));
}

wxString Insight::MessagesOnLine(CSyntaxEditor* editor, int line) const {
    const auto* findings = FindingsOf(editor);
    wxString messages;
    for (size_t i = 0; findings && i < findings->size(); ++i) {
        const Finding& finding = (*findings)[i];
        if (editor->MarkerLineFromHandle(finding.handle) == line)
            messages += (messages.empty() ? "" : "\n") + wxString::FromUTF8(finding.message);
    }
    return messages;
}

// ---------------------------------------------------------------------------------------------
// The editors.

void Insight::Watch(CSyntaxEditor* editor) {
    if (!documents.emplace(editor, Document()).second)
        return;
    editor->IndicatorSetStyle(indicator, wxSTC_INDIC_SQUIGGLE);
    editor->IndicatorSetForeground(indicator, wxColour(0xD0, 0x20, 0x20));
    editor->MarkerDefine(marker, wxSTC_MARK_CIRCLE, wxColour(0xD0, 0x20, 0x20),
                         wxColour(0xF0, 0x80, 0x80));
    // The sign goes in a symbol margin: the editor's own if it shows one there, else one of
    // ours.
    if (editor->GetMarginWidth(markerMargin) == 0) {
        editor->SetMarginType(markerMargin, wxSTC_MARGIN_SYMBOL);
        editor->SetMarginWidth(markerMargin, 14);
        editor->SetMarginMask(markerMargin, 0);
    }
    editor->SetMarginMask(markerMargin, editor->GetMarginMask(markerMargin) | (1 << marker));
    // The mouse resting on a word: the editor may have its own time for that.
    if (editor->GetMouseDwellTime() >= wxSTC_TIME_FOREVER)
        editor->SetMouseDwellTime(dwellMilliseconds);
    editor->Bind(wxEVT_KEY_DOWN, &Insight::OnKeyDown, this);
    editor->Bind(wxEVT_LEFT_DOWN, &Insight::OnLeftDown, this);
    editor->Bind(wxEVT_STC_DWELLSTART, &Insight::OnDwellStart, this);
    editor->Bind(wxEVT_STC_DWELLEND, &Insight::OnDwellEnd, this);
    editor->Bind(wxEVT_STC_UPDATEUI, &Insight::OnUpdateUi, this);
    editor->Bind(wxEVT_STC_SAVEPOINTREACHED, &Insight::OnSavePoint, this);
    // A document that opens is checked at once.
    AskFindings(editor);
}

void Insight::Unwatch(CSyntaxEditor* editor) {
    Document* document = DocumentOf(editor);
    if (document == nullptr)
        return;
    editor->Unbind(wxEVT_KEY_DOWN, &Insight::OnKeyDown, this);
    editor->Unbind(wxEVT_LEFT_DOWN, &Insight::OnLeftDown, this);
    editor->Unbind(wxEVT_STC_DWELLSTART, &Insight::OnDwellStart, this);
    editor->Unbind(wxEVT_STC_DWELLEND, &Insight::OnDwellEnd, this);
    editor->Unbind(wxEVT_STC_UPDATEUI, &Insight::OnUpdateUi, this);
    editor->Unbind(wxEVT_STC_SAVEPOINTREACHED, &Insight::OnSavePoint, this);
    ClearMarks(editor);
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->second.editor != editor) {
            ++it;
            continue;
        }
        it = pending.erase(it);
        TellWorkEnds(editor);
    }
    if (document->due)
        TellWorkEnds(editor);
    documents.erase(editor);
}

void Insight::TellFileUnknown(CSyntaxEditor* editor) {
    if (EditorTellsDocumentFiles() || !toldFileUnknown.insert(editor).second)
        return;
    say(wxGetTranslation("The current document is completed as an unsaved text: the editor does "
                         "not say which file it is; modules beside it are not found.\n"));
}

void Insight::Forget(CSyntaxEditor* editor) {
    toldFileUnknown.erase(editor);
    documents.erase(editor);
    for (auto it = pending.begin(); it != pending.end();)
        it = it->second.editor == editor ? pending.erase(it) : std::next(it);
}

void Insight::ClearMarks(CSyntaxEditor* editor) {
    editor->SetIndicatorCurrent(indicator);
    editor->IndicatorClearRange(0, editor->GetLength());
    editor->MarkerDeleteAll(marker);
}

void Insight::OnModified(CSyntaxEditor* editor, int modificationType) {
    Document* document = DocumentOf(editor);
    if (document == nullptr ||
        (modificationType & (wxSTC_MOD_INSERTTEXT | wxSTC_MOD_DELETETEXT)) == 0)
        return;
    ++document->version;
    document->asked = false;
    if (!unavailable)
        Due(editor, *document);
    // Typing goes on: the check waits for the next pause.
    pause.StartOnce(pauseMilliseconds);
}

void Insight::Due(CSyntaxEditor* editor, Document& document) {
    if (!document.due) {
        document.due = true;
        TellWorkBegins(editor);
    }
}

void Insight::Done(CSyntaxEditor* editor, Document& document) {
    if (document.due) {
        document.due = false;
        TellWorkEnds(editor);
    }
}

void Insight::OnPause() {
    for (auto& [editor, document] : documents)
        if (document.due && !document.asked)
            AskFindings(editor);
}

// ---------------------------------------------------------------------------------------------
// Requests and answers.

void Insight::AskFindings(CSyntaxEditor* editor) {
    Document* document = DocumentOf(editor);
    if (document == nullptr || unavailable)
        return;
    Due(editor, *document);
    if (Ask(editor, "diagnose", -1))
        document->asked = true;
    else
        Done(editor, *document); // no server: nothing will show
}

bool Insight::Ask(CSyntaxEditor* editor, const std::string& kind, int position) {
    Document* document = DocumentOf(editor);
    if (document == nullptr)
        return false;
    const std::uint64_t id = newId();
    const wxString path = DocumentFilePath(editor);
    nlohmann::json message = {
        {"id", id},
        {"kind", kind},
        {"document", reinterpret_cast<std::uintptr_t>(editor)},
        {"text", TextOf(editor)},
        {"path", path.empty() ? nlohmann::json() : nlohmann::json(Utf8(path))}};
    if (position >= 0) {
        const auto [line, column] = LineAndColumn(editor, position);
        message["line"] = line;
        message["column"] = column;
    }
    const unsigned generation = send(std::move(message));
    if (generation == 0)
        return false;
    // A later go-to or hover replaces an earlier one still on its way. Checks of a document
    // wait for their answers: the text's version tells which is still of use.
    if (kind != "diagnose") {
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->second.kind != kind) {
                ++it;
                continue;
            }
            CSyntaxEditor* earlier = it->second.editor;
            it = pending.erase(it);
            TellWorkEnds(earlier);
        }
        TellWorkBegins(editor); // a check is told of as due
    }
    pending[id] = {editor, kind, document->version, generation, position};
    return true;
}

bool Insight::OnAnswer(const nlohmann::json& answer) {
    const auto id = answer.find("id");
    if (id == answer.end() || !id->is_number_unsigned())
        return false;
    const auto found = pending.find(id->get<std::uint64_t>());
    if (found == pending.end())
        return false;
    const Request asked = found->second;
    pending.erase(found);
    CSyntaxEditor* editor = asked.editor;
    Document* document = DocumentOf(editor);
    if (document == nullptr)
        return true;
    const bool current = document->version == asked.version;
    if (asked.kind == "diagnose") {
        // The server answers only the latest check of a document: earlier ones will not come.
        for (auto it = pending.begin(); it != pending.end();) {
            const bool earlier = it->second.kind == "diagnose" && it->second.editor == editor &&
                                 it->first < id->get<std::uint64_t>();
            it = earlier ? (++dropped, pending.erase(it)) : std::next(it);
        }
        if (!current)
            ++dropped;
        if (answer.contains("unavailable")) {
            unavailable = true;
            for (auto& [other, state] : documents)
                Done(other, state);
            if (!toldUnavailable) {
                toldUnavailable = true;
                say("Diagnostics in Python documents need pyflakes (Debian's package "
                    "python3-pyflakes).\n");
            }
        } else if (current) {
            // An answer for a text that has changed since is dropped: another is on its way.
            ShowFindings(editor, *document, answer.value("diagnostics", nlohmann::json::array()));
            Done(editor, *document);
        }
        return true;
    }
    if (asked.kind == "goto") {
        if (current)
            GoTo(editor, asked, answer);
    } else if (asked.kind == "hover") {
        const auto text = answer.find("text");
        if (current && document->dwelling && text != answer.end() && text->is_string() &&
            CEditorManagement::Get()->GetCurrentEditor() == editor) {
            const wxString tip = wxString::FromUTF8(text->get<std::string>());
            ShowTip(editor, *document, asked.position, tip, Document::Tip::Hover);
            TellShown(editor, "hover", tip);
        }
    }
    TellWorkEnds(editor);
    return true;
}

void Insight::OnServerEnd(unsigned ended) {
    unavailable = false;
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->second.generation != ended) {
            ++it;
            continue;
        }
        CSyntaxEditor* editor = it->second.editor;
        const bool check = it->second.kind == "diagnose";
        it = pending.erase(it);
        if (Document* document = DocumentOf(editor); document && check)
            document->asked = false; // asked again after the pause
        else
            TellWorkEnds(editor);
    }
    if (DueCount() > 0)
        pause.StartOnce(pauseMilliseconds);
}

void Insight::ShowFindings(CSyntaxEditor* editor, Document& document, const nlohmann::json& found) {
    ClearMarks(editor);
    document.findings.clear();
    document.shownVersion = document.version;
    wxString said;
    editor->SetIndicatorCurrent(indicator);
    for (const auto& item : found) {
        if (!item.is_object())
            continue;
        const int line = item.value("line", 1);
        const int column = item.value("column", 1);
        const std::string message = item.value("message", std::string());
        const int index = std::clamp(line - 1, 0, std::max(editor->GetLineCount() - 1, 0));
        const int start = editor->PositionFromLine(index);
        const int end = editor->GetLineEndPosition(index);
        // The server gives the range in bytes of the line, as the control counts.
        const int from = std::clamp(start + item.value("start", 0), start, end);
        const int to = std::clamp(start + item.value("end", 0), from, end);
        if (to > from)
            editor->IndicatorFillRange(from, to - from);
        document.findings.push_back({line, column, message, editor->MarkerAdd(index, marker)});
        said += wxString::Format("%d:%d: ", line, column) + wxString::FromUTF8(message) + "\n";
    }
    TellShown(editor, "diagnostics", said);
}

void Insight::GoTo(CSyntaxEditor* editor, const Request&, const nlohmann::json& answer) {
    const auto line = answer.find("line");
    if (line == answer.end() || !line->is_number_integer()) {
        SayInStatusBar(noDefinition);
        TellShown(editor, "status", noDefinition);
        return;
    }
    const int column = answer.value("column", 0);
    const auto path = answer.find("path");
    const wxString file = path != answer.end() && path->is_string()
                              ? wxString::FromUTF8(path->get<std::string>())
                              : wxString();
    const wxString own = DocumentFilePath(editor);
    if (file.empty() || (!own.empty() && wxFileName(file).SameAs(wxFileName(own)))) {
        const int position = PositionOf(editor, line->get<int>(), column);
        editor->GotoPos(position);
        editor->EnsureCaretVisible();
        return;
    }
    // Another file: the editor opens it (or brings its tab forward) at that line.
    wxCommandEvent open(wxEVT_EDITOR_OPEN, 0);
    open.SetString(file);
    open.SetInt(line->get<int>());
    if (wxFrame* frame = CAppManagement::Get()->GetAppWindow())
        frame->ProcessWindowEvent(open);
    // Then the caret goes onto the name, with nothing selected that a key would replace. A file
    // of the Python installation or the editor (a stub) is for reading.
    CSyntaxEditor* target = CEditorManagement::Get()->GetCurrentEditor();
    if (!target || target == editor || !wxFileName(DocumentFilePath(target)).SameAs(file))
        return;
    target->GotoPos(PositionOf(target, line->get<int>(), column));
    target->EnsureCaretVisible();
    if (answer.value("readonly", false)) {
        target->SetReadOnly(true);
        const wxString said =
            wxString::Format(wxGetTranslation("%s is read-only: it is not one of your files."),
                             wxFileName(file).GetFullName());
        SayInStatusBar(said);
        TellShown(target, "status", said);
    }
}

void Insight::GoToDefinition(CSyntaxEditor* editor, int position) {
    TellFileUnknown(editor);
    if (!Ask(editor, "goto", position)) {
        SayInStatusBar(noDefinition);
        TellShown(editor, "status", noDefinition);
    }
}

void Insight::Hover(CSyntaxEditor* editor, int position) {
    Document* document = DocumentOf(editor);
    if (document == nullptr)
        return;
    document->dwelling = true;
    // A finding under the mouse shows its message; elsewhere the name's help is asked for.
    if (!document->findings.empty() && editor->IndicatorValueAt(indicator, position) != 0) {
        const wxString messages = MessagesOnLine(editor, editor->LineFromPosition(position));
        if (!messages.empty()) {
            ShowTip(editor, *document, position, messages, Document::Tip::Finding);
            TellShown(editor, "hover", messages);
            return;
        }
    }
    TellFileUnknown(editor);
    Ask(editor, "hover", position);
}

void Insight::ShowTip(CSyntaxEditor* editor, Document& document, int position, const wxString& text,
                      Document::Tip kind) {
    // The completion's list and call tip come first.
    if (editor->AutoCompActive() ||
        (editor->CallTipActive() && document.tip == Document::Tip::None))
        return;
    editor->CallTipShow(position, text);
    document.tip = kind;
}

// ---------------------------------------------------------------------------------------------
// The editor's events.

void Insight::OnKeyDown(wxKeyEvent& event) {
    auto* editor = static_cast<CSyntaxEditor*>(event.GetEventObject());
    if (event.GetKeyCode() == WXK_F12 && event.GetModifiers() == wxMOD_NONE &&
        editor->GetLexer() == wxSTC_LEX_PYTHON && !IsMenuShortcut(WXK_F12, wxACCEL_NORMAL)) {
        GoToDefinition(editor, editor->GetCurrentPos());
        return;
    }
    event.Skip();
}

void Insight::OnLeftDown(wxMouseEvent& event) {
    auto* editor = static_cast<CSyntaxEditor*>(event.GetEventObject());
    if (event.GetModifiers() == wxMOD_CONTROL && editor->GetLexer() == wxSTC_LEX_PYTHON) {
        // A click past a line's end is not on a name.
        const int position = editor->CharPositionFromPoint(event.GetX(), event.GetY());
        const int lineEnd = editor->GetLineEndPosition(editor->LineFromPosition(position));
        if (position >= 0 && event.GetX() <= editor->PointFromPosition(lineEnd).x) {
            editor->GotoPos(position);
            GoToDefinition(editor, position);
            return;
        }
    }
    event.Skip();
}

void Insight::OnDwellStart(wxStyledTextEvent& event) {
    event.Skip();
    auto* editor = static_cast<CSyntaxEditor*>(event.GetEventObject());
    if (event.GetPosition() >= 0 && editor->GetLexer() == wxSTC_LEX_PYTHON &&
        CEditorManagement::Get()->GetCurrentEditor() == editor)
        Hover(editor, event.GetPosition());
}

void Insight::OnDwellEnd(wxStyledTextEvent& event) {
    event.Skip();
    auto* editor = static_cast<CSyntaxEditor*>(event.GetEventObject());
    Document* document = DocumentOf(editor);
    if (document == nullptr)
        return;
    document->dwelling = false;
    if (document->tip != Document::Tip::None && editor->CallTipActive())
        editor->CallTipCancel();
    document->tip = Document::Tip::None;
}

void Insight::OnUpdateUi(wxStyledTextEvent& event) {
    event.Skip();
    auto* editor = static_cast<CSyntaxEditor*>(event.GetEventObject());
    Document* document = DocumentOf(editor);
    if (document == nullptr || (event.GetUpdated() & wxSTC_UPDATE_SELECTION) == 0)
        return;
    const int line = editor->LineFromPosition(editor->GetCurrentPos());
    if (line == document->caretLine)
        return;
    document->caretLine = line;
    // The caret comes onto a marked line: its messages show; leaving it closes them.
    const wxString messages = MessagesOnLine(editor, line);
    if (!messages.empty())
        ShowTip(editor, *document, editor->PositionFromLine(line), messages,
                Document::Tip::Finding);
    else if (document->tip == Document::Tip::Finding && editor->CallTipActive()) {
        editor->CallTipCancel();
        document->tip = Document::Tip::None;
    }
}

void Insight::OnSavePoint(wxStyledTextEvent& event) {
    event.Skip();
    // A saved document is checked at once, as it is now.
    auto* editor = static_cast<CSyntaxEditor*>(event.GetEventObject());
    if (Document* document = DocumentOf(editor);
        document && document->shownVersion != document->version)
        AskFindings(editor);
}
