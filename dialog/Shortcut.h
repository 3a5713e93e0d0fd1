// Shortcuts of scripts: their text ("Ctrl+Alt+1"), the field that captures one as it is pressed,
// and who in the editor's menus holds a combination already.
#pragma once

#include <wx/textctrl.h>

#include <functional>

class wxKeyEvent;
class wxMenuBar;

// The text of a key combination: "Ctrl+", "Alt+", "Shift+" as held, in that order, then the key
// ("Ctrl+Alt+1", "Ctrl+Shift+K", "F5"). Empty when it cannot be a shortcut: a modifier alone, or
// a key other than F1 to F24 without Ctrl or Alt (it is typed as text).
wxString ShortcutText(int modifiers, int keyCode);

// A stored shortcut in the form above ("alt+ctrl+1" gives "Ctrl+Alt+1"); empty when the text
// names no combination that can be a shortcut.
wxString NormalizedShortcut(const wxString& text);

// The menu item of the menu bar whose shortcut is this one, as its menus and label ("File >
// Save"), or the top menu whose mnemonic it is with Alt ("Tools"); items whose id `skip` holds
// are passed over. Empty when nothing holds it.
wxString ShortcutHolderInMenus(const wxMenuBar* menuBar, const wxString& shortcut,
                               const std::function<bool(int id)>& skip);

// Who in the editor holds the shortcut: one of the editor's own keys that no menu shows (say
// Ctrl+Space, "the editor's completion"), or the holder ShortcutHolderInMenus finds, in quotes.
// Empty when nothing holds it. The one rule for the dialog and for shortcuts read from the
// settings file.
wxString ShortcutHolder(const wxMenuBar* menuBar, const wxString& shortcut,
                        const std::function<bool(int id)>& skip);

// A field that shows a key combination: pressing one while the field has the keyboard puts its
// text there (when `accept` agrees), Backspace or Delete empties it, and nothing can be typed
// into it. Tab, Enter and Esc keep their usual meaning in the dialog.
class ShortcutCtrl : public wxTextCtrl {
public:
    ShortcutCtrl(wxWindow* parent, wxWindowID id);

    // Asked before a combination the user pressed is shown (empty: the field is being
    // cleared); false leaves the field as it was. A change raises the field's text event.
    std::function<bool(const wxString& shortcut)> accept;

private:
    void OnKeyDown(wxKeyEvent& event);
};
