#include "dialog/Shortcut.h"

#include <wx/accel.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/menu.h>

#include <memory>

namespace {

bool IsModifierKey(int key) {
    switch (key) {
    case WXK_SHIFT:
    case WXK_ALT:
    case WXK_CONTROL:
    case WXK_WINDOWS_LEFT:
    case WXK_WINDOWS_RIGHT:
    case WXK_WINDOWS_MENU:
        return true;
    default:
        return false;
    }
}

// The combination as the toolkit's accelerators hold it: flags and the key, letters upper case.
bool ParseShortcut(const wxString& text, int& flags, int& key) {
    wxAcceleratorEntry entry;
    const wxLogNull quiet; // a hand-edited text that names no key is just no shortcut
    if (text.empty() || !entry.FromString(text))
        return false;
    flags = entry.GetFlags();
    key = entry.GetKeyCode();
    if (key >= 'a' && key <= 'z')
        key += 'A' - 'a';
    return true;
}

// The editor's own keys that no menu item shows.
const struct {
    const char* shortcut;
    const char* holder;
} editorKeys[] = {{"Ctrl+Space", "the editor's completion"}};

int ModifiersOf(int accelFlags) {
    int modifiers = wxMOD_NONE;
    if (accelFlags & wxACCEL_CTRL)
        modifiers |= wxMOD_CONTROL;
    if (accelFlags & wxACCEL_ALT)
        modifiers |= wxMOD_ALT;
    if (accelFlags & wxACCEL_SHIFT)
        modifiers |= wxMOD_SHIFT;
    return modifiers;
}

wxString FindInMenu(const wxMenu* menu, const wxString& path, int flags, int key,
                    const std::function<bool(int)>& skip) {
    for (const wxMenuItem* item : menu->GetMenuItems()) {
        const wxString label = path + " > " + item->GetItemLabelText();
        if (const wxMenu* submenu = item->GetSubMenu()) {
            const wxString found = FindInMenu(submenu, label, flags, key, skip);
            if (!found.empty())
                return found;
            continue;
        }
        if (item->IsSeparator() || (skip && skip(item->GetId())))
            continue;
        const std::unique_ptr<wxAcceleratorEntry> accel(item->GetAccel());
        if (!accel)
            continue;
        int itemKey = accel->GetKeyCode();
        if (itemKey >= 'a' && itemKey <= 'z')
            itemKey += 'A' - 'a';
        if (accel->GetFlags() == flags && itemKey == key)
            return label;
    }
    return wxString();
}

} // namespace

wxString ShortcutText(int modifiers, int keyCode) {
    if (keyCode <= 0 || IsModifierKey(keyCode))
        return wxString();
    const bool functionKey = keyCode >= WXK_F1 && keyCode <= WXK_F24;
    if (!(modifiers & (wxMOD_CONTROL | wxMOD_ALT)) && !functionKey)
        return wxString();
    if (keyCode >= 'a' && keyCode <= 'z')
        keyCode += 'A' - 'a';
    // The toolkit's own (untranslated) name of the key, so that the menus read it back.
    const wxString key = wxAcceleratorEntry(wxACCEL_NORMAL, keyCode).ToRawString();
    if (key.empty())
        return wxString();
    wxString text;
    if (modifiers & wxMOD_CONTROL)
        text += "Ctrl+";
    if (modifiers & wxMOD_ALT)
        text += "Alt+";
    if (modifiers & wxMOD_SHIFT)
        text += "Shift+";
    return text + key;
}

wxString NormalizedShortcut(const wxString& text) {
    int flags = 0;
    int key = 0;
    if (!ParseShortcut(text, flags, key))
        return wxString();
    return ShortcutText(ModifiersOf(flags), key);
}

wxString ShortcutHolderInMenus(const wxMenuBar* menuBar, const wxString& shortcut,
                               const std::function<bool(int id)>& skip) {
    int flags = 0;
    int key = 0;
    if (!menuBar || !ParseShortcut(shortcut, flags, key))
        return wxString();
    for (size_t i = 0; i < menuBar->GetMenuCount(); ++i) {
        const wxString title = wxStripMenuCodes(menuBar->GetMenuLabel(i));
        // Alt and a menu's underlined letter open that menu.
        const wxString label = menuBar->GetMenuLabel(i);
        const int mnemonic = label.Find('&');
        if (flags == wxACCEL_ALT && mnemonic != wxNOT_FOUND &&
            static_cast<size_t>(mnemonic) + 1 < label.length() &&
            wxString(label[mnemonic + 1]).Upper() == wxString(wxUniChar(key)).Upper())
            return title;
        const wxString found = FindInMenu(menuBar->GetMenu(i), title, flags, key, skip);
        if (!found.empty())
            return found;
    }
    return wxString();
}

wxString ShortcutHolder(const wxMenuBar* menuBar, const wxString& shortcut,
                        const std::function<bool(int id)>& skip) {
    const wxString normalized = NormalizedShortcut(shortcut);
    if (normalized.empty())
        return wxString();
    for (const auto& key : editorKeys) {
        if (NormalizedShortcut(key.shortcut) == normalized)
            return wxGetTranslation(key.holder);
    }
    const wxString item = ShortcutHolderInMenus(menuBar, normalized, skip);
    return item.empty() ? item : "\"" + item + "\"";
}

ShortcutCtrl::ShortcutCtrl(wxWindow* parent, wxWindowID id)
    : wxTextCtrl(parent, id, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_READONLY) {
    SetToolTip(wxGetTranslation("Press the key combination that runs the script "
                                "(Backspace: none)"));
    Bind(wxEVT_KEY_DOWN, &ShortcutCtrl::OnKeyDown, this);
}

void ShortcutCtrl::OnKeyDown(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    const int modifiers = event.GetModifiers();
    // Moving on, confirming and closing stay the dialog's.
    if ((key == WXK_TAB && !(modifiers & wxMOD_ALT)) ||
        ((key == WXK_RETURN || key == WXK_NUMPAD_ENTER || key == WXK_ESCAPE) &&
         modifiers == wxMOD_NONE)) {
        event.Skip();
        return;
    }
    wxString text;
    if ((key == WXK_BACK || key == WXK_DELETE) && modifiers == wxMOD_NONE)
        text.clear();
    else if ((text = ShortcutText(modifiers, key)).empty())
        return; // a modifier on its own, or a plain key: nothing to take
    if (text == GetValue() || (accept && !accept(text)))
        return;
    SetValue(text); // raises the text event
}
