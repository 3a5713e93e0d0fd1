// The editor services that plug-ins call: named items, the settings store, the main frame, the
// editors, the message outputs and the editor's own event types.
#pragma once

#include "plugin/Plugin.h"

#include <wx/event.h>
#include <wx/stc/stc.h>
#include <wx/string.h>

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
class wxXmlDocument;
class wxXmlNode;

// Sent to plug-ins when a completion starts in the current editor; a plug-in that handles it
// (does not skip it) replaces the editor's own word completion.
wxDECLARE_EXPORTED_EVENT(MP_INTERFACE, wxEVT_EDITOR_COMPLETEBEGIN, wxCommandEvent);
// Sent to plug-ins when a completion list or call tip has ended.
wxDECLARE_EXPORTED_EVENT(MP_INTERFACE, wxEVT_EDITOR_COMPLETEEND, wxCommandEvent);
// Sent to the main frame: open the file named by the event's string (or bring its tab forward);
// a positive int puts the caret on that line, counted from 1.
wxDECLARE_EXPORTED_EVENT(MP_INTERFACE, wxEVT_EDITOR_OPEN, wxCommandEvent);

// Event-table entries for the editor's events, for any id.
#define EVT_EDITOR_COMPLETEBEGIN(func)                                                             \
    wx__DECLARE_EVT0(wxEVT_EDITOR_COMPLETEBEGIN, wxCommandEventHandler(func))
#define EVT_EDITOR_COMPLETEEND(func)                                                               \
    wx__DECLARE_EVT0(wxEVT_EDITOR_COMPLETEEND, wxCommandEventHandler(func))
#define EVT_EDITOR_OPEN(func) wx__DECLARE_EVT0(wxEVT_EDITOR_OPEN, wxCommandEventHandler(func))

// ---------------------------------------------------------------------------------------------
// Named items: "PluginsPath" (the plug-ins folder) and "ExecPath" (the program folder), neither
// with a trailing separator.
class MP_INTERFACE CNameItem {
public:
    explicit CNameItem(const wxString& name);

    wxString GetName() const { return name; }
    wxString GetAttribute(int index) const;
    void SetAttribute(int index, const wxString& value);

private:
    wxString name;
    std::vector<wxString> attributes;
};

class MP_INTERFACE CNameService {
public:
    static CNameService* Get();

    // The item of that name; created empty on first use, so never null.
    CNameItem* GetNameItem(wxString name);

private:
    std::map<wxString, std::unique_ptr<CNameItem>> items;
};

// ---------------------------------------------------------------------------------------------
// A typed key-value store kept in an XML file. Key paths ("/Coilhatch/Script0/name") become
// nested elements below <config>. A missing file presents no keys; a file that cannot be parsed
// presents no keys and is kept as "<file>.bak" before the first save replaces it; a file that
// exists but cannot be read is never overwritten. Files larger than 16 MB count as damaged.
// Where an element holds several children of one name, a plain key means the first of them and
// "name[k]" the one after k others of that name ("/Coilhatch/Script3[1]/name"); XML names
// cannot hold brackets, so no element is ever mistaken for such a key.
class SettingsTree;
class MP_INTERFACE CConfigManagement {
public:
    explicit CConfigManagement(const wxString& path);
    virtual ~CConfigManagement();

    CConfigManagement(const CConfigManagement&) = delete;
    CConfigManagement& operator=(const CConfigManagement&) = delete;

    int ReadInt(const wxString& key, int defaultValue) const;
    bool ReadBool(const wxString& key, bool defaultValue) const;
    wxString Read(const wxString& key, const wxString& defaultValue) const;

    void Write(const wxString& key, int value);
    void Write(const wxString& key, bool value);
    // The flag is kept for callers written against older editors; it has no effect.
    void Write(const wxString& key, const wxString& value, bool flag);
    // A string without the flag would silently become a bool.
    void Write(const wxString& key, const char* value) = delete;
    void Write(const wxString& key, const wchar_t* value) = delete;

    // Removes every key.
    void Clear();
    // Writes the store atomically (temporary file in the same folder, flushed, renamed). A
    // symbolic link stays a link and its target is replaced; a write-protected file is left as
    // it is and the save fails.
    bool Save();
    // Why the last Save() failed: one line naming the file and the system's reason, fit for a
    // message box; empty after a successful save.
    const wxString& GetLastError() const { return lastError; }

    // The caller found the file's contents inconsistent: the next save first keeps the file as
    // it is now as a backup, as for a file that cannot be parsed.
    void KeepBackupOnSave();
    // Where the damaged file was kept, or where it will be kept by the next save; empty when
    // no backup was made or is due.
    wxString GetBackupPath() const;

    bool HasKey(const wxString& key) const;
    const wxString& GetPath() const { return path; }

    // The file could not be read as a whole (it cannot be parsed, or is too large): the store
    // presents what was read before the damage, and keeps the file as a backup at the next save.
    bool IsDamaged() const { return damaged; }
    // False for the element of a key that a damaged file left open: what it holds was not read
    // whole. True for every other key, present or not.
    bool IsWhole(const wxString& key) const;

    // The names of the elements directly below the key's element ("/" for the top), in the
    // file's order, a name held twice listed twice; empty when the key is absent.
    wxArrayString GetChildNames(const wxString& key) const;
    // The key that reads and writes the index-th of those children, the first of its name as
    // "key/name", a later one as "key/name[k]"; empty when there is no such child.
    wxString GetChildKey(const wxString& key, size_t index) const;

private:
    int FindElement(const wxString& key) const;
    int FindNode(const wxString& key) const;
    int FindOrCreateNode(const wxString& key);
    void SetText(const wxString& key, const wxString& text);

    wxString path;
    std::unique_ptr<SettingsTree> tree;
    wxString lastError;
    wxString backupPath;       // where the last backup went
    wxString unreadableReason; // the system's reason the file could not be read
    bool backupDue = false;    // the file is damaged: keep it as a backup before replacing it
    bool unreadable = false;   // the file existed but could not be read: never overwrite it
    bool damaged = false;      // the file could not be read as a whole
};

// ---------------------------------------------------------------------------------------------
class MP_INTERFACE CAppManagement {
public:
    static CAppManagement* Get();

    wxFrame* GetAppWindow() const { return appWindow; }
    void SetAppWindow(wxFrame* frame) { appWindow = frame; }

private:
    wxFrame* appWindow = nullptr;
};

// ---------------------------------------------------------------------------------------------
// An editor of the editor program: a styled text control with the editor's settings.
class MP_INTERFACE CSyntaxEditor : public wxStyledTextCtrl {
public:
    CSyntaxEditor(wxWindow* parent, wxWindowID id = wxID_ANY);

    // Picks the lexer from a file name: the Python lexer for .py and .pyw, none otherwise.
    void SetLexerForFile(const wxString& fileName);

    // The editor's own completion: the words of the document that start like the word before
    // the caret.
    void ShowWordCompletion();

    const wxString& GetFilePath() const { return filePath; }
    void SetFilePath(const wxString& path) { filePath = path; }

private:
    wxString filePath;
};

class MP_INTERFACE CEditorManagement {
public:
    static CEditorManagement* Get();

    // The current editor, or null when none is open.
    CSyntaxEditor* GetCurrentEditor() const;
    void SetCurrentEditorProvider(std::function<CSyntaxEditor*()> provider);

private:
    std::function<CSyntaxEditor*()> currentEditor;
};

// ---------------------------------------------------------------------------------------------
// One message output. Append may be called from any thread: the text is stored at once, in
// order, and never waits for the user-interface thread; panes show it when that thread is free.
// The text is kept as UTF-8, one buffer for all of it, so that a million small writes cost
// little more than their text.
class MP_INTERFACE CMessageOutput {
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
class MP_INTERFACE CMessageOutputPane {
public:
    // Gets what is new, as UTF-8, and whether older text was left out before it or the output
    // was cleared; runs on the UI thread.
    using ShowText = std::function<void(const CMessageOutput::ViewText& text)>;

    // From now on until the window is destroyed.
    static void Attach(wxWindow* window, CMessageOutput* output, ShowText show);
    static void Attach(wxTextCtrl* control, CMessageOutput* output);
    static void Detach(wxWindow* window);
    // Shows in the window, now, what waits for it. Runs on the UI thread.
    static void ShowPending(wxWindow* window);
    // The text as a plain text control shows it.
    static wxString Visible(const wxString& text);

    static constexpr long MaxLength = 4000000;
};

class MP_INTERFACE CMessageOutputManagement {
public:
    // The editor keeps at most this many outputs.
    static constexpr int MaxOutputs = 16;

    static CMessageOutputManagement* Get();

    // Output 0 always exists; others are created on first use. Null for an index below 0 or
    // not below MaxOutputs. Any thread may call it.
    CMessageOutput* GetMessageOutput(int index);
    int GetCount() const;

private:
    CMessageOutputManagement();
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<CMessageOutput>> outputs;
};
