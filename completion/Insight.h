// What the editor shows of Python documents beyond completion, all worked out in the completion
// server and shown when the answer comes, never holding the editor's thread:
// - pyflakes' findings, asked for once typing pauses (and at once when a document opens or is
//   saved): a squiggle under the words and a sign in the margin, the message in a call tip
//   when the mouse rests on the squiggle or the caret comes onto the line;
// - the definition of a name: F12, or Ctrl+click, goes there, in the document or in another
//   file (opened through the editor's open event); nothing found: a word in the status bar;
// - a name's help (its signature and the first lines of its docstring) in a call tip when the
//   mouse rests on it.
// An answer for a document that has changed since it was asked is dropped.
#pragma once

#include "plugin/EditorServices.h"

#include <nlohmann/json.hpp>

#include <wx/timer.h>
#include <wx/weakref.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

class wxKeyEvent;
class wxMouseEvent;
class wxStyledTextEvent;

class Insight {
public:
    // Queues a request for the server (a JSON object with "id" and "kind"), starting the server
    // first when it has ended; the generation of the connection it went on, 0 when no server
    // runs.
    using SendFunction = std::function<unsigned(nlohmann::json message)>;
    // A new request id.
    using IdFunction = std::function<std::uint64_t()>;
    // Says a message of the plug-in's in the message output.
    using SayFunction = std::function<void(const wxString& text)>;

    // The marks this object puts in the editors: a container indicator, a marker, the margin
    // that shows the marker, and how long the mouse rests before its help shows.
    static constexpr int indicator = 19;
    static constexpr int marker = 19;
    static constexpr int markerMargin = 1;
    static constexpr int dwellMilliseconds = 500;
    // The pause in typing after which a document is checked.
    static constexpr int pauseMilliseconds = 300;
    // The word in the status bar when no definition is found.
    static constexpr const char* noDefinition = "No definition found";

    Insight(SendFunction send, IdFunction newId, SayFunction say);
    ~Insight();

    Insight(const Insight&) = delete;
    Insight& operator=(const Insight&) = delete;

    // Listens to the editor of a Python document and asks for its findings at once.
    void Watch(CSyntaxEditor* editor);
    // Leaves the editor as it was before it was watched: marks removed, handlers unbound.
    void Unwatch(CSyntaxEditor* editor);
    // The editor has been destroyed: its requests are forgotten.
    void Forget(CSyntaxEditor* editor);
    // Where the editor does not tell its documents' files, says once per document, at the
    // first request a person makes in it, that it is taken as an unsaved text.
    void TellFileUnknown(CSyntaxEditor* editor);
    // Text went in or out of a watched editor.
    void OnModified(CSyntaxEditor* editor, int modificationType);
    // An answer of the server; false when it is not for this object.
    bool OnAnswer(const nlohmann::json& answer);
    // The server that answered that generation's requests has ended: they are asked again.
    void OnServerEnd(unsigned generation);

    // Asks for the definition of the name at the position, and goes there when it comes.
    void GoToDefinition(CSyntaxEditor* editor, int position);
    // Asks for the help of the name at the position, shown while the mouse rests there.
    void Hover(CSyntaxEditor* editor, int position);

    // One of pyflakes' findings as shown: its line and column as pyflakes gives them (from 1),
    // the message, and the marker's handle (which follows the line as text changes).
    struct Finding {
        int line;
        int column;
        std::string message;
        int handle;
    };
    const std::vector<Finding>* FindingsOf(const CSyntaxEditor* editor) const;
    // The messages of the findings on a line of the editor (from 0) as they stand now, one a
    // line; empty when there are none.
    wxString MessagesOnLine(CSyntaxEditor* editor, int line) const;
    // Requests sent whose answers have not come, and documents waiting to be checked.
    size_t PendingCount() const { return pending.size(); }
    size_t DueCount() const;
    // Checks whose answers were dropped: the text had changed since they were asked.
    int DroppedCount() const { return dropped; }

private:
    struct Document {
        unsigned version = 0;        // one more with every change of the text
        unsigned shownVersion = ~0u; // the version the findings were worked out for
        bool due = false;            // a check waits (the editor has been told of it)
        bool asked = false;          // a check of `version` is on its way
        std::vector<Finding> findings;
        int caretLine = -1; // the caret's line when the editor last updated
        bool dwelling = false;
        enum class Tip { None, Finding, Hover } tip = Tip::None;
    };
    struct Request {
        CSyntaxEditor* editor;
        std::string kind;
        unsigned version;
        unsigned generation;
        int position;
    };

    class PauseTimer : public wxTimer {
    public:
        explicit PauseTimer(Insight& owner) : owner(owner) {}
        void Notify() override { owner.OnPause(); }

    private:
        Insight& owner;
    };

    Document* DocumentOf(const CSyntaxEditor* editor);
    void Due(CSyntaxEditor* editor, Document& document);
    void Done(CSyntaxEditor* editor, Document& document);
    void AskFindings(CSyntaxEditor* editor);
    bool Ask(CSyntaxEditor* editor, const std::string& kind, int position);
    void OnPause();
    void ShowFindings(CSyntaxEditor* editor, Document& document, const nlohmann::json& found);
    void ClearMarks(CSyntaxEditor* editor);
    void GoTo(CSyntaxEditor* editor, const Request& asked, const nlohmann::json& answer);
    void ShowTip(CSyntaxEditor* editor, Document& document, int position, const wxString& text,
                 Document::Tip kind);

    void OnKeyDown(wxKeyEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnDwellStart(wxStyledTextEvent& event);
    void OnDwellEnd(wxStyledTextEvent& event);
    void OnUpdateUi(wxStyledTextEvent& event);
    void OnSavePoint(wxStyledTextEvent& event);

    SendFunction send;
    SayFunction say;
    IdFunction newId;
    PauseTimer pause{*this};
    std::map<CSyntaxEditor*, Document> documents;
    std::map<std::uint64_t, Request> pending;
    int dropped = 0;
    bool unavailable = false; // the server has no pyflakes
    bool toldUnavailable = false;
    std::set<const CSyntaxEditor*> toldFileUnknown;
};
