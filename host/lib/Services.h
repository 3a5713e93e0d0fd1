// The editor stand-in's side of the editor services: the objects behind the interface of
// plugin/EditorServices.h, and what the stand-in's program, its Python module and the tests use
// beyond it. Plug-ins never include this header: they see the interface alone, and reach the
// stand-in's extras only through the run-time extensions (plugin/Extensions.h).
#pragma once

#include "plugin/EditorServices.h"

#include <wx/arrstr.h>
#include <wx/event.h>
#include <wx/stc/stc.h>
#include <wx/string.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class wxFrame;
class wxTextCtrl;
class wxWindow;
class SettingsTree;

// ---------------------------------------------------------------------------------------------
// The editor's message outputs as the stand-in's library exports them, for its program and its
// Python module (MpAPI). They are not among the services a plug-in calls: plug-ins reach the
// message output through MpAPI.
class MP_INTERFACE CMessageOutput {
public:
    // Adds text at the end. Any thread may call it.
    void Append(const wxString& text);
};

class MP_INTERFACE CMessageOutputManagement {
public:
    static CMessageOutputManagement* Get();

    // Output 0 always exists.
    CMessageOutput* GetMessageOutput(int index);
};

namespace host {

// ---------------------------------------------------------------------------------------------
// Named items: "PluginsPath" and "ExecPath" (the folders, without a trailing separator), and
// whatever else the program keeps.
class MP_INTERFACE NameItem : public CNameItem {
public:
    explicit NameItem(const wxString& name);

    const wxString& GetName() const { return name; }
    wxString GetAttribute(int index) const;
    void SetAttribute(int index, const wxString& value);

private:
    wxString name;
    std::vector<wxString> attributes;
};

// The item of that name; created empty on first use, so never null.
MP_INTERFACE NameItem* GetNameItem(const wxString& name);

// ---------------------------------------------------------------------------------------------
// The main frame and the editors.
MP_INTERFACE void SetAppWindow(wxFrame* frame);

// An editor of the editor program: a styled text control with a monospaced font, line numbers,
// the Python lexer for Python files, and the editor's own word completion.
class MP_INTERFACE SyntaxEditor : public CSyntaxEditor {
public:
    SyntaxEditor(wxWindow* parent, wxWindowID id = wxID_ANY);

    // Picks the lexer from a file name: the Python lexer for .py and .pyw, none otherwise.
    void SetLexerForFile(const wxString& fileName);

    // The editor's own completion: the words of the document that start like the word before
    // the caret.
    void ShowWordCompletion();

    const wxString& GetFilePath() const { return filePath; }
    void SetFilePath(const wxString& path) { filePath = path; }

    // Work of plug-ins whose result shows in the document later (told through the "shown"
    // extension): how much has begun and not ended.
    int GetPendingWork() const { return pendingWork; }
    void AddPendingWork(int change) { pendingWork += change; }
    // What plug-ins last said the document shows, by kind ("hover", "diagnostics", "status");
    // empty when nothing was said.
    wxString GetShown(const wxString& kind) const;
    void SetShown(const wxString& kind, const wxString& text) { shown[kind] = text; }

private:
    wxString filePath;
    int pendingWork = 0;
    std::map<wxString, wxString> shown;
};

// Every editor the stand-in makes is a SyntaxEditor.
inline SyntaxEditor* EditorOf(CSyntaxEditor* editor) {
    return static_cast<SyntaxEditor*>(editor);
}
inline const SyntaxEditor* EditorOf(const CSyntaxEditor* editor) {
    return static_cast<const SyntaxEditor*>(editor);
}

// Where CEditorManagement finds the current editor.
MP_INTERFACE void SetCurrentEditorProvider(std::function<CSyntaxEditor*()> provider);

// ---------------------------------------------------------------------------------------------
// The settings store, with what the stand-in knows of its file beyond the interface. A file
// that is missing presents no keys; one that cannot be parsed presents what was read before the
// damage and is kept as "<file>.bak" before the first save replaces it; one that exists but
// cannot be read is never overwritten. Files larger than 16 MB count as damaged. Where an
// element holds several children of one name, a plain key means the first of them and
// "name[k]" the one after k others of that name ("/Coilhatch/Script3[1]/name"); XML names
// cannot hold brackets, so no element is ever mistaken for such a key.
class MP_INTERFACE Settings : public CConfigManagement {
public:
    using CConfigManagement::CConfigManagement;

    // The interface's reads, for a store the stand-in holds as const (the interface's own are
    // not const, as the editor exports them).
    int ReadInt(const wxString& key, int defaultValue) const;
    bool ReadBool(const wxString& key, bool defaultValue) const;
    wxString Read(const wxString& key, const wxString& defaultValue) const;

    // Saves atomically (temporary file in the same folder, flushed, renamed); a symbolic link
    // stays a link and its target is replaced; a write-protected file is left as it is. False
    // when the save failed.
    bool Save();
    // Why the last Save() failed: one line naming the file and the system's reason; empty after
    // a successful save.
    wxString GetLastError() const;

    // The next save first keeps the file as it is now as a backup, as for a damaged file.
    void KeepBackupOnSave();
    // Where the damaged file was kept, or where it will be kept by the next save; empty when
    // no backup was made or is due.
    wxString GetBackupPath() const;

    bool HasKey(const wxString& key) const;
    const wxString& GetPath() const;
    bool IsDamaged() const;
    bool IsWhole(const wxString& key) const;
    wxArrayString GetChildNames(const wxString& key) const;
    wxString GetChildKey(const wxString& key, size_t index) const;
    // The child elements of the key's at those indexes (as GetChildNames lists them) taken out,
    // with everything in them, in one pass; how many there were.
    size_t RemoveChildren(const wxString& key, const std::vector<size_t>& indexes);
    // The index-th child element of the key's renamed; false, changing nothing, when there is
    // no such child or XML cannot have the name.
    bool RenameChild(const wxString& key, size_t index, const wxString& name);
    // True when the key's element holds text alone (no element, comment or instruction inside
    // it), or is absent.
    bool HoldsTextAlone(const wxString& key) const;
};

// ---------------------------------------------------------------------------------------------
// One message output. Append may be called from any thread: the text is stored at once, in
// order, and never waits for the user-interface thread; panes show it when that thread is free.
// The text is kept as UTF-8, one buffer for all of it, so that a million small writes cost
// little more than their text.
class MP_INTERFACE MessageOutput : public CMessageOutput {
public:
    // Gets text as UTF-8.
    using Sink = std::function<void(const char* text, size_t length)>;
    // Characters [from, from + count) of a text being appended.
    using TextPart = std::function<wxString(size_t from, size_t count)>;

    void Append(const wxString& text);
    // Appends a text of `length` characters that is read part by part, so that a text of
    // hundreds of megabytes is never copied whole: only its latest part is kept.
    void Append(size_t length, const TextPart& part);
    // Appends text that is valid UTF-8 already: the fast way for the many small writes of a
    // script.
    void AppendUtf8(const char* text, size_t length);

    // Everything appended so far (pieces joined), and the pieces themselves: the latest
    // MaxHistory pieces, at most MaxHistoryLength characters (a longer piece keeps its end),
    // so that a script printing for hours cannot take all memory.
    wxString GetText() const;
    std::vector<wxString> GetPieces() const;
    // Forgets everything appended so far, and what waits for the views; each view hears of it
    // with the next text it takes.
    void Clear();

    // A sink gets every text appended from now on, whole and in order, on the appending
    // thread before Append returns (standard output in batch mode). It must not append.
    void AddSink(Sink sink);
    void ClearSinks();

    // What waits for a view: UTF-8 text; whether older text was left out before it; whether the
    // output was cleared before it.
    struct ViewText {
        std::string text;
        bool cut = false;
        bool cleared = false;
    };

    // A view (a pane) takes what was appended since it last took. `wake` is called on the
    // appending thread when text arrives for a view that had none waiting; `show` is called on
    // the UI thread by DeliverPending.
    int AddView(std::function<void()> wake, std::function<void()> show);
    void RemoveView(int view);
    // The text waiting for the view: its latest MaxViewLength bytes at most.
    ViewText TakeForView(int view);

    // Has every view show what waits for it now. Runs on the UI thread.
    void DeliverPending();

    static constexpr size_t MaxHistory = 4000000;
    static constexpr size_t MaxHistoryLength = 8000000;
    static constexpr size_t MaxViewLength = 4000000;

private:
    struct View {
        int id = 0;
        std::function<void()> wake;
        std::function<void()> show;
        std::string waiting;
        bool cut = false;
        bool cleared = false;
    };
    // Keeps UTF-8 text of `chars` characters and hands it to the views; `cut` when it is the
    // tail of a longer text.
    void Store(const char* text, size_t length, size_t chars, bool cut);
    void KeepHistoryLimits();

    std::mutex appendMutex; // one Append at a time, so that sinks see the stored order
    mutable std::mutex mutex;
    std::deque<char> history;             // the latest text, UTF-8
    std::deque<unsigned char> pieceSizes; // the byte length of each piece, as LEB128
    size_t pieceCount = 0;
    size_t historyChars = 0;
    std::vector<Sink> sinks; // changed only under both locks
    std::vector<View> views;
    int lastView = 0;
};

// Shows a message output in a window: what is new, joined, when the editor is idle and every
// 100 ms (also from inside nested event loops), handed to a function of the window's. A plain
// multi-line text control can be fed as it is: it keeps the latest MaxLength characters, from
// the start of a line, and shows control characters other than line feed and tab as their
// pictures (U+2400 + code).
class MP_INTERFACE MessageOutputPane {
public:
    // Gets what is new, as UTF-8, and whether older text was left out before it or the output
    // was cleared; runs on the UI thread.
    using ShowText = std::function<void(const MessageOutput::ViewText& text)>;

    // From now on until the window is destroyed.
    static void Attach(wxWindow* window, MessageOutput* output, ShowText show);
    static void Attach(wxTextCtrl* control, MessageOutput* output);
    static void Detach(wxWindow* window);
    // Shows in the window, now, what waits for it. Runs on the UI thread.
    static void ShowPending(wxWindow* window);
    // Shows in every window what waits for it (as often as the cost of showing allows) and
    // paints the windows at once, without an event loop: for a caller that holds the UI thread.
    static void ShowAndPaintAll();
    // The text as a plain text control shows it.
    static wxString Visible(const wxString& text);

    static constexpr long MaxLength = 4000000;
};

// The editor keeps at most this many outputs.
constexpr int MaxMessageOutputs = 16;

// Output 0 always exists; others are created on first use. Null for an index below 0 or not
// below MaxMessageOutputs. Any thread may call it.
MP_INTERFACE MessageOutput* GetMessageOutput(int index);

// ---------------------------------------------------------------------------------------------
// The interface only: every run-time extension is refused (the command line's
// --strict-interface), so that the program shows what a plug-in does in an editor that offers
// nothing beyond the interface.
MP_INTERFACE void SetStrictInterface(bool strict);
MP_INTERFACE bool StrictInterface();

// ---------------------------------------------------------------------------------------------
// A program's own reports (a test's, the bench's figures) go to a private duplicate of the
// descriptor `fd` it started with, through `stream` (stdout or stderr): an attached plug-in makes
// descriptors 1 and 2 a pipe to the message output. Standard error stays unbuffered, standard
// output line-buffered. Left as it was when no duplicate can be made.
MP_INTERFACE void KeepOwnStream(FILE*& stream, int fd);

} // namespace host
