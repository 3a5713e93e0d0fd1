// The editor's Output pane: message output 0 in a read-only styled text control, shown as a
// terminal would show it. '\r' returns to the start of the line (a progress bar redraws in
// place), '\b' steps back a character, ANSI colours and bold (SGR) show as styles, an erase in
// line (ESC [ K) erases, and every other escape sequence is left out. Other control characters
// show as their pictures (NUL as U+2400). The pane keeps the latest MaxLength bytes, from the
// start of a line, follows the output while its view is at the end, and otherwise stays where
// the user scrolled, showing a marker while new output waits below. Its context menu copies,
// finds, and clears the pane with the output.
#pragma once

#include "host/lib/Services.h"

#include <wx/fdrepdlg.h>
#include <wx/menu.h>
#include <wx/stc/stc.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

class COutputPane : public wxStyledTextCtrl {
public:
    COutputPane(wxWindow* parent, host::MessageOutput* output);
    ~COutputPane() override;

    // Shows, now, what waits for the pane.
    void ShowPending();
    // Empties the pane and the message output.
    void ClearOutput();

    // Looks for the text after the selection (or before it, backwards), wrapping around at the
    // end; selects and shows what it finds. `flags` are wxSTC_FIND_MATCHCASE and
    // wxSTC_FIND_WHOLEWORD. False, with a bell, when the pane does not hold the text.
    bool Find(const wxString& text, bool forward, int flags = 0);
    // The last search again, in the given direction; opens the Find dialog when there was none.
    bool FindAgain(bool forward);
    // The Find dialog (modeless), with the selected text or the last search in it.
    void ShowFindDialog();

    // Whether the view shows the last line, so that new output scrolls it along.
    bool IsAtEnd() const;

    // Output came while the view was higher up, and its first line has not been in view since.
    bool HasNewOutputBelow() const;
    // A window (a button) shown while there is new output below; clicking it goes there.
    void SetNewOutputMarker(wxWindow* marker);
    // Brings the first line of the new output into view (at the top, or the end in view).
    void GoToNewOutput();

    // Called with the line (from 1) of a traceback's `File "<untitled>", line N` that the user
    // double-clicked: the editor shows that line of the unsaved document that ran.
    std::function<void(int line)> goToUntitled;

    // The pane's context menu: Copy, Select All, Find..., Find Next, Find Previous, Clear Output.
    std::unique_ptr<wxMenu> MakeContextMenu() const;

    // The commands of the pane's context menu.
    enum {
        ID_FIND = wxID_HIGHEST + 4100,
        ID_FIND_NEXT,
        ID_FIND_PREVIOUS,
        ID_CLEAR_OUTPUT,
    };

    // The pane keeps the last MaxLength bytes; past them it drops its oldest lines, TrimStep
    // bytes more than it must.
    static constexpr int MaxLength = 4000000;
    static constexpr int TrimStep = MaxLength / 64;

private:
    // SGR attributes of the text written from now on.
    struct Attributes {
        uint32_t foreground = 0; // 0: the default; else 0x1000000 | RGB
        uint32_t background = 0;
        bool bold = false;
        bool italic = false;
        bool underline = false;
        bool reverse = false;
        uint64_t Key() const;
    };

    void Show(const host::MessageOutput::ViewText& taken);
    // Interprets the text into the last line and the lines after it, then puts the result into
    // the document in one replacement.
    void Write(const std::string& text);
    void ApplySgr(const std::string& parameters);
    int StyleFor(const Attributes& attributes);
    void KeepTail();
    // Shows or hides the marker of new output below as the view now stands.
    void UpdateMarker();
    // Empties the control and starts the terminal afresh.
    void Empty();

    void OnContextMenu(wxContextMenuEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnFindDialog(wxFindDialogEvent& event);
    // A double-click on a traceback's `File "PATH", line N` opens the file at that line.
    void OnDoubleClick(wxStyledTextEvent& event);

    host::MessageOutput* output;
    // The terminal: where in the last line the next character goes (bytes from the line's
    // start), the attributes, and an escape sequence cut off at the end of the last text.
    size_t cursor = 0;
    Attributes attributes;
    int style = 0;
    std::string pendingEscape;
    std::map<uint64_t, int> styles; // attributes' keys to the styles defined for them
    int nextStyle = 1;

    int unseenLine = -1;   // the first line of new output not yet in view, or -1
    bool following = true; // the view showed the last line when last looked at
    wxWindow* newOutputMarker = nullptr;

    wxFindReplaceData findData{wxFR_DOWN};
    wxFindReplaceDialog* findDialog = nullptr;
};
