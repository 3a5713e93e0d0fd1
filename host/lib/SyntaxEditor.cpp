// The editor's text control.
#include "host/lib/Services.h"

#include <wx/filename.h>

#include <set>

namespace {

const char* const pythonKeywords =
    "False None True and as assert async await break class continue def del elif else except "
    "finally for from global if import in is lambda nonlocal not or pass raise return try while "
    "with yield";

bool IsWordChar(int c) {
    return c == '_' || (c < 128 && wxIsalnum(c)) || c >= 128;
}

} // namespace

namespace host {

SyntaxEditor::SyntaxEditor(wxWindow* parent, wxWindowID id) {
    Create(parent, id);
    const wxFont font(wxFontInfo(10).Family(wxFONTFAMILY_TELETYPE));
    StyleSetFont(wxSTC_STYLE_DEFAULT, font);
    StyleClearAll();
    SetMarginType(0, wxSTC_MARGIN_NUMBER);
    SetMarginWidth(0, TextWidth(wxSTC_STYLE_LINENUMBER, "_99999"));
    SetTabWidth(4);
    SetUseTabs(false);
    AutoCompSetIgnoreCase(false);
    AutoCompSetAutoHide(false);
    SetLexer(wxSTC_LEX_NULL);
}

void SyntaxEditor::SetLexerForFile(const wxString& fileName) {
    const wxString ext = wxFileName(fileName).GetExt().Lower();
    if (ext != "py" && ext != "pyw") {
        SetLexer(wxSTC_LEX_NULL);
        StyleClearAll();
        return;
    }
    SetLexer(wxSTC_LEX_PYTHON);
    SetKeyWords(0, pythonKeywords);
    StyleSetForeground(wxSTC_P_COMMENTLINE, wxColour(0x60, 0x80, 0x60));
    StyleSetForeground(wxSTC_P_COMMENTBLOCK, wxColour(0x60, 0x80, 0x60));
    StyleSetForeground(wxSTC_P_NUMBER, wxColour(0x00, 0x70, 0x70));
    StyleSetForeground(wxSTC_P_STRING, wxColour(0xA0, 0x30, 0x30));
    StyleSetForeground(wxSTC_P_CHARACTER, wxColour(0xA0, 0x30, 0x30));
    StyleSetForeground(wxSTC_P_TRIPLE, wxColour(0xA0, 0x30, 0x30));
    StyleSetForeground(wxSTC_P_TRIPLEDOUBLE, wxColour(0xA0, 0x30, 0x30));
    StyleSetForeground(wxSTC_P_WORD, wxColour(0x20, 0x20, 0xA0));
    StyleSetBold(wxSTC_P_WORD, true);
    StyleSetForeground(wxSTC_P_DEFNAME, wxColour(0x00, 0x50, 0x90));
    StyleSetForeground(wxSTC_P_CLASSNAME, wxColour(0x00, 0x50, 0x90));
    StyleSetForeground(wxSTC_P_DECORATOR, wxColour(0x80, 0x50, 0x00));
    Colourise(0, -1);
}

wxString SyntaxEditor::GetShown(const wxString& kind) const {
    const auto found = shown.find(kind);
    return found == shown.end() ? wxString() : found->second;
}

void SyntaxEditor::ShowWordCompletion() {
    const int caret = GetCurrentPos();
    const int start = WordStartPosition(caret, true);
    const wxString prefix = GetTextRange(start, caret);

    std::set<wxString> words;
    const wxString text = GetText();
    wxString word;
    for (wxString::const_iterator it = text.begin();; ++it) {
        const bool atEnd = it == text.end();
        if (!atEnd && IsWordChar(static_cast<int>(static_cast<wxUniChar>(*it).GetValue()))) {
            word += *it;
            continue;
        }
        if (word.length() > prefix.length() && word.StartsWith(prefix) && !wxIsdigit(word[0]))
            words.insert(word);
        word.clear();
        if (atEnd)
            break;
    }
    if (words.empty())
        return;
    wxString list;
    for (const auto& w : words) {
        if (!list.empty())
            list += ' ';
        list += w;
    }
    // The control counts the typed part in bytes of its text, not in characters.
    AutoCompShow(caret - start, list);
}

} // namespace host
