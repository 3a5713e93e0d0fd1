#include "host/app/OutputPane.h"

#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/regex.h>
#include <wx/utils.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// Colours of the sixteen ANSI colours, readable on the pane's white background.
const uint32_t palette[16] = {0x000000, 0xCD3131, 0x00BC00, 0x949800, 0x0451A5, 0xBC05BC,
                              0x0598BC, 0x555555, 0x666666, 0xCD3131, 0x14CE14, 0xB5BA00,
                              0x0451A5, 0xBC05BC, 0x0598BC, 0xA5A5A5};

constexpr uint32_t rgbFlag = 0x1000000;
constexpr uint32_t defaultForeground = 0x000000;
constexpr uint32_t defaultBackground = 0xFFFFFF;

// An escape sequence longer than this is no escape sequence: its ESC shows as a picture.
constexpr size_t maxEscape = 4096;

bool IsContinuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Bytes that the terminal interprets rather than shows as they are.
bool IsSpecial(char byte) {
    const auto c = static_cast<unsigned char>(byte);
    return c < 0x20 && c != '\n' && c != '\t';
}

// The RGB colour of one of xterm's 256 colours.
uint32_t Colour256(int index) {
    if (index < 16)
        return palette[index];
    if (index < 232) {
        static const int levels[6] = {0, 95, 135, 175, 215, 255};
        const int i = index - 16;
        return static_cast<uint32_t>(levels[i / 36] << 16 | levels[i / 6 % 6] << 8 | levels[i % 6]);
    }
    const auto grey = static_cast<uint32_t>(8 + 10 * (index - 232));
    return grey << 16 | grey << 8 | grey;
}

wxColour ToColour(uint32_t rgb) {
    return wxColour(static_cast<unsigned char>(rgb >> 16), static_cast<unsigned char>(rgb >> 8),
                    static_cast<unsigned char>(rgb));
}

// What tracebacks call a document that was never saved.
const char* const untitledName = "<untitled>";

// A line of a Python traceback that names a place in a source file: `File "PATH", line N`, as
// a frame or a SyntaxError shows it. False for any other line.
bool ParseSourcePlace(const wxString& text, wxString& path, long& line) {
    static const wxRegEx place("File \"(.+)\", line ([0-9]+)");
    if (!place.IsValid() || !place.Matches(text))
        return false;
    path = place.GetMatch(text, 1);
    return place.GetMatch(text, 2).ToLong(&line) && line > 0;
}

// One escape sequence: where it ends (past its last byte; npos when the text ends first; where
// it starts when it is no sequence at all), and for a control sequence (ESC [) that is not
// private, its final byte and parameters.
struct EscapeSequence {
    size_t end = std::string::npos;
    char final = 0;
    std::string parameters;
};

EscapeSequence ScanEscape(const std::string& text, size_t start) {
    EscapeSequence sequence;
    const auto byte = [&text](size_t k) { return static_cast<unsigned char>(text[k]); };
    const size_t size = text.size();
    const size_t limit = std::min(size, start + maxEscape);
    size_t end = start + 1;
    if (end >= size)
        return sequence;
    const unsigned char kind = byte(end++);
    if (kind == '[') {
        // Parameter and intermediate bytes, then the final byte.
        while (end < limit && byte(end) >= 0x20 && byte(end) < 0x40)
            ++end;
        if (end >= size)
            return sequence;
        if (end >= limit || byte(end) < 0x40 || byte(end) > 0x7E) {
            sequence.end = start; // cut short by a control character: no sequence
            return sequence;
        }
        const std::string parameters = text.substr(start + 2, end - start - 2);
        if (parameters.empty() || parameters[0] < 0x3C) {
            sequence.final = static_cast<char>(byte(end));
            sequence.parameters = parameters;
        }
        sequence.end = end + 1;
        return sequence;
    }
    if (kind == ']' || kind == 'P' || kind == 'X' || kind == '^' || kind == '_') {
        // A string, ended by BEL or by ESC \.
        for (; end < limit; ++end) {
            if (byte(end) == 0x07) {
                sequence.end = end + 1;
                return sequence;
            }
            if (byte(end) == 0x1B && end + 1 < size && text[end + 1] == '\\') {
                sequence.end = end + 2;
                return sequence;
            }
        }
        if (limit < size)
            sequence.end = start; // too long for a sequence
        return sequence;
    }
    if (kind < 0x20 || kind > 0x7E) {
        sequence.end = start;
        return sequence;
    }
    // Intermediate bytes, then the final one.
    for (unsigned char last = kind; last >= 0x20 && last < 0x30; last = byte(end++))
        if (end >= size)
            return sequence;
    sequence.end = end;
    return sequence;
}

// The control's last line and the lines after it as a terminal writes them, held here until
// they go into the control in one replacement. Of the control's last line only what follows
// `keep` is held, until something needs the rest.
class TerminalLines {
public:
    TerminalLines(wxStyledTextCtrl& control, int start, size_t length, size_t column)
        : pane(control), lineStart(start), oldLength(length), keep(length), firstKeep(length),
          cursor(column) {}

    size_t Cursor() const { return cursor; }

    // Writes characters at the cursor, over those there.
    void Put(const char* bytes, size_t count, int style) {
        if (cursor < keep)
            Load();
        size_t at = cursor - keep;
        for (size_t i = 0; i < count;) {
            if (at >= line.size()) {
                line.append(bytes + i, count - i);
                styles.append(count - i, static_cast<char>(style));
                at = line.size();
                break;
            }
            size_t length = 1;
            while (i + length < count && IsContinuation(bytes[i + length]))
                ++length;
            size_t replaced = 1;
            while (at + replaced < line.size() && IsContinuation(line[at + replaced]))
                ++replaced;
            line.replace(at, replaced, bytes + i, length);
            styles.replace(at, replaced, length, static_cast<char>(style));
            at += length;
            i += length;
        }
        cursor = keep + at;
    }

    void NewLine() {
        if (first)
            firstKeep = keep;
        first = false;
        done += line;
        done += '\n';
        doneStyles += styles;
        doneStyles += '\0';
        line.clear();
        styles.clear();
        keep = 0;
        cursor = 0;
    }

    void Return() { cursor = 0; }

    void Backspace() {
        if (cursor == 0)
            return;
        if (cursor <= keep)
            Load();
        size_t at = cursor - keep;
        do
            --at;
        while (at > 0 && IsContinuation(line[at]));
        cursor = keep + at;
    }

    // 0: from the cursor to the end of the line; 1: from its start to the cursor; 2: all of it.
    // Erased characters before the cursor become blanks, as on a screen.
    void EraseInLine(int mode) {
        Load();
        const size_t at = std::min(cursor - keep, line.size());
        if (mode == 0) {
            line.resize(at);
            styles.resize(at);
            return;
        }
        size_t blanks = 0;
        for (size_t i = 0; i < at; ++i)
            blanks += IsContinuation(line[i]) ? 0 : 1;
        const size_t end = mode == 1 ? at : line.size();
        line.replace(0, end, std::string(blanks, ' '));
        styles.replace(0, end, std::string(blanks, '\0'));
        cursor = keep + blanks;
    }

    // Puts the result into the control.
    void Apply() {
        if (first)
            firstKeep = keep;
        if (firstKeep == oldLength && done.empty() && line.empty())
            return;
        done += line;
        doneStyles += styles;
        const int from = lineStart + static_cast<int>(firstKeep);
        const int end = lineStart + static_cast<int>(oldLength);
        pane.SetReadOnly(false);
        if (from < end)
            pane.DeleteRange(from, end - from);
        pane.AppendTextRaw(done.data(), static_cast<int>(done.size()));
        pane.StartStyling(from);
        pane.SetStyleBytes(static_cast<int>(doneStyles.size()), &doneStyles[0]);
        pane.SetReadOnly(true);
    }

private:
    // Takes the rest of the control's last line.
    void Load() {
        if (!first || keep == 0)
            return;
        const wxMemoryBuffer cells =
            pane.GetStyledText(lineStart, lineStart + static_cast<int>(keep));
        const auto* cell = static_cast<const char*>(cells.GetData());
        std::string oldText(keep, ' ');
        std::string oldStyles(keep, '\0');
        for (size_t i = 0; i < keep && 2 * i + 1 < cells.GetDataLen(); ++i) {
            oldText[i] = cell[2 * i];
            oldStyles[i] = cell[2 * i + 1];
        }
        line.insert(0, oldText);
        styles.insert(0, oldStyles);
        keep = 0;
    }

    wxStyledTextCtrl& pane;
    const int lineStart;
    const size_t oldLength;
    size_t keep;       // bytes of the current line that stay in the control as they are
    size_t firstKeep;  // the same for the control's last line
    size_t cursor;     // bytes from the current line's start
    bool first = true; // the current line is the control's last line
    std::string line;  // the current line from `keep` on
    std::string styles;
    std::string done; // the lines finished here, from `firstKeep` of the control's last line
    std::string doneStyles;
};

} // namespace

uint64_t COutputPane::Attributes::Key() const {
    return static_cast<uint64_t>(foreground) | static_cast<uint64_t>(background) << 25 |
           static_cast<uint64_t>(bold) << 50 | static_cast<uint64_t>(italic) << 51 |
           static_cast<uint64_t>(underline) << 52 | static_cast<uint64_t>(reverse) << 53;
}

COutputPane::COutputPane(wxWindow* parent, host::MessageOutput* source)
    : wxStyledTextCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0, "output"),
      output(source) {
    StyleSetFont(wxSTC_STYLE_DEFAULT, wxFontInfo(9).Family(wxFONTFAMILY_TELETYPE));
    StyleSetForeground(wxSTC_STYLE_DEFAULT, ToColour(defaultForeground));
    StyleSetBackground(wxSTC_STYLE_DEFAULT, ToColour(defaultBackground));
    StyleClearAll();
    for (int margin = 0; margin < 5; ++margin)
        SetMarginWidth(margin, 0);
    SetMarginLeft(2);
    // Nothing to undo, no notification of each change: output arrives in floods.
    SetUndoCollection(false);
    SetModEventMask(0);
    SetTabWidth(8);
    SetWrapMode(wxSTC_WRAP_NONE);
    SetScrollWidth(1);
    SetScrollWidthTracking(true);
    SetReadOnly(true);
    UsePopUp(wxSTC_POPUP_NEVER);

    Bind(wxEVT_CONTEXT_MENU, &COutputPane::OnContextMenu, this);
    Bind(wxEVT_KEY_DOWN, &COutputPane::OnKeyDown, this);
    Bind(wxEVT_STC_DOUBLECLICK, &COutputPane::OnDoubleClick, this);
    // Scrolling (or a taller pane) may bring the new output into view.
    Bind(wxEVT_STC_UPDATEUI, [this](wxStyledTextEvent& event) {
        event.Skip();
        following = IsAtEnd();
        UpdateMarker();
    });
    // A pane made shorter keeps its first line in view: one that followed the output follows it
    // still, with the last line in view.
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        const bool wasFollowing = following;
        CallAfter([this, wasFollowing] {
            if (wasFollowing)
                SetFirstVisibleLine(std::max(0, GetLineCount() - LinesOnScreen()));
            following = IsAtEnd();
            UpdateMarker();
        });
    });
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { Copy(); }, wxID_COPY);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { SelectAll(); }, wxID_SELECTALL);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { ShowFindDialog(); }, ID_FIND);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { FindAgain(true); }, ID_FIND_NEXT);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { FindAgain(false); }, ID_FIND_PREVIOUS);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { ClearOutput(); }, ID_CLEAR_OUTPUT);

    // The pane shows what is new, joined, whenever the editor is free; it may go before the
    // output does.
    host::MessageOutputPane::Attach(
        this, output, [this](const host::MessageOutput::ViewText& taken) { Show(taken); });
}

COutputPane::~COutputPane() {
    // Nothing reaches the pane once its own part is gone.
    host::MessageOutputPane::Detach(this);
    delete findDialog;
}

void COutputPane::ShowPending() {
    host::MessageOutputPane::ShowPending(this);
}

void COutputPane::ClearOutput() {
    // The output first: what it still hands the pane afterwards is newer than the clearing.
    output->Clear();
    Empty();
}

void COutputPane::Empty() {
    SetReadOnly(false);
    ClearAll();
    SetReadOnly(true);
    cursor = 0;
    attributes = Attributes();
    style = 0;
    pendingEscape.clear();
    unseenLine = -1;
    UpdateMarker();
}

bool COutputPane::IsAtEnd() const {
    return GetFirstVisibleLine() + std::max(1, LinesOnScreen()) >= GetLineCount();
}

void COutputPane::Show(const host::MessageOutput::ViewText& taken) {
    const bool follow = IsAtEnd();
    if (taken.cleared || taken.cut)
        Empty();
    // Output that comes while the user reads higher up starts here: the marker tells of it.
    if (!follow && unseenLine < 0 && GetLength() > 0)
        unseenLine = GetLineCount() - 1;
    if (taken.cut) {
        // Older text was left out: the pane starts with the first whole line after the gap.
        const size_t lineEnd = taken.text.find('\n');
        Write(lineEnd != std::string::npos && lineEnd + 1 < taken.text.size()
                  ? taken.text.substr(lineEnd + 1)
                  : taken.text);
    } else {
        Write(taken.text);
    }
    KeepTail();
    if (follow)
        SetFirstVisibleLine(std::max(0, GetLineCount() - LinesOnScreen()));
    following = IsAtEnd();
    UpdateMarker();
}

bool COutputPane::HasNewOutputBelow() const {
    return unseenLine >= 0;
}

void COutputPane::SetNewOutputMarker(wxWindow* marker) {
    newOutputMarker = marker;
    if (!marker)
        return;
    marker->Hide();
    marker->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { GoToNewOutput(); });
}

void COutputPane::GoToNewOutput() {
    if (unseenLine < 0)
        return;
    // Its first line at the top, or the end in view when the rest is shorter than the pane.
    SetFirstVisibleLine(std::min(unseenLine, std::max(0, GetLineCount() - LinesOnScreen())));
    unseenLine = -1;
    UpdateMarker();
    SetFocus();
}

void COutputPane::UpdateMarker() {
    // The new output is seen once its first line is in view.
    if (unseenLine >= 0 && unseenLine < GetFirstVisibleLine() + std::max(1, LinesOnScreen()))
        unseenLine = -1;
    if (!newOutputMarker || newOutputMarker->IsShown() == (unseenLine >= 0))
        return;
    newOutputMarker->Show(unseenLine >= 0);
    if (wxWindow* parent = newOutputMarker->GetParent())
        parent->Layout();
}

void COutputPane::Write(const std::string& chunk) {
    std::string joined;
    if (!pendingEscape.empty()) {
        joined = std::move(pendingEscape) + chunk;
        pendingEscape.clear();
    }
    const std::string& text = joined.empty() ? chunk : joined;
    if (text.empty())
        return;

    const int docEnd = GetLength();
    const int lineStart = PositionFromLine(LineFromPosition(docEnd));
    const auto oldLength = static_cast<size_t>(docEnd - lineStart);
    cursor = std::min(cursor, oldLength);

    // Plain text written at the end of the line: nothing to interpret, nothing to copy.
    if (cursor == oldLength && std::none_of(text.begin(), text.end(), IsSpecial)) {
        const size_t lastBreak = text.rfind('\n');
        cursor =
            lastBreak == std::string::npos ? oldLength + text.size() : text.size() - lastBreak - 1;
        SetReadOnly(false);
        AppendTextRaw(text.data(), static_cast<int>(text.size()));
        StartStyling(docEnd);
        SetStyling(static_cast<int>(text.size()), style);
        SetReadOnly(true);
        return;
    }

    TerminalLines lines(*this, lineStart, oldLength, cursor);
    size_t i = 0;
    while (i < text.size()) {
        size_t run = i;
        while (run < text.size() && !IsSpecial(text[run]) && text[run] != '\n')
            ++run;
        if (run > i)
            lines.Put(text.data() + i, run - i, style);
        if (run >= text.size())
            break;
        const char c = text[run];
        i = run + 1;
        if (c == '\n') {
            lines.NewLine();
        } else if (c == '\r') {
            lines.Return();
        } else if (c == '\b') {
            lines.Backspace();
        } else if (c == '\x1b') {
            const EscapeSequence sequence = ScanEscape(text, run);
            if (sequence.end == std::string::npos) {
                // Cut off by the end of the text: it waits for the rest.
                pendingEscape = text.substr(run);
                break;
            }
            if (sequence.end == run) {
                lines.Put("\xe2\x90\x9b", 3, style); // no sequence: the ESC shows
                continue;
            }
            if (sequence.final == 'm')
                ApplySgr(sequence.parameters);
            else if (sequence.final == 'K')
                lines.EraseInLine(std::atoi(sequence.parameters.c_str()));
            i = sequence.end;
        } else {
            // Any other control character shows as its picture (NUL as U+2400).
            const char picture[3] = {'\xe2', '\x90',
                                     static_cast<char>(0x80 + static_cast<unsigned char>(c))};
            lines.Put(picture, 3, style);
        }
    }
    cursor = lines.Cursor();
    lines.Apply();
}

void COutputPane::ApplySgr(const std::string& parameters) {
    std::vector<int> codes;
    size_t from = 0;
    while (from <= parameters.size()) {
        size_t end = parameters.find_first_of(";:", from);
        if (end == std::string::npos)
            end = parameters.size();
        codes.push_back(end > from ? std::atoi(parameters.c_str() + from) : 0);
        from = end + 1;
    }
    for (size_t k = 0; k < codes.size(); ++k) {
        const int code = codes[k];
        // 38 and 48 take a colour: 5;N of the 256, or 2;R;G;B.
        auto extended = [&]() -> uint32_t {
            if (k + 2 < codes.size() && codes[k + 1] == 5) {
                k += 2;
                return rgbFlag | Colour256(std::clamp(codes[k], 0, 255));
            }
            if (k + 4 < codes.size() && codes[k + 1] == 2) {
                const auto part = [&](size_t n) {
                    return static_cast<uint32_t>(std::clamp(codes[k + n], 0, 255));
                };
                const uint32_t rgb = part(2) << 16 | part(3) << 8 | part(4);
                k += 4;
                return rgbFlag | rgb;
            }
            k = codes.size();
            return 0;
        };
        if (code == 0)
            attributes = Attributes();
        else if (code == 1)
            attributes.bold = true;
        else if (code == 3)
            attributes.italic = true;
        else if (code == 4)
            attributes.underline = true;
        else if (code == 7)
            attributes.reverse = true;
        else if (code == 22)
            attributes.bold = false;
        else if (code == 23)
            attributes.italic = false;
        else if (code == 24)
            attributes.underline = false;
        else if (code == 27)
            attributes.reverse = false;
        else if (code >= 30 && code <= 37)
            attributes.foreground = rgbFlag | palette[code - 30];
        else if (code == 38)
            attributes.foreground = extended();
        else if (code == 39)
            attributes.foreground = 0;
        else if (code >= 40 && code <= 47)
            attributes.background = rgbFlag | palette[code - 40];
        else if (code == 48)
            attributes.background = extended();
        else if (code == 49)
            attributes.background = 0;
        else if (code >= 90 && code <= 97)
            attributes.foreground = rgbFlag | palette[code - 90 + 8];
        else if (code >= 100 && code <= 107)
            attributes.background = rgbFlag | palette[code - 100 + 8];
    }
    style = StyleFor(attributes);
}

int COutputPane::StyleFor(const Attributes& wanted) {
    const uint64_t key = wanted.Key();
    if (key == 0)
        return 0;
    const auto known = styles.find(key);
    if (known != styles.end())
        return known->second;
    // Styles 32 to 39 are the control's own; past 255 there are none left, and text in new
    // attributes shows plain.
    if (nextStyle == wxSTC_STYLE_DEFAULT)
        nextStyle = wxSTC_STYLE_LASTPREDEFINED + 1;
    if (nextStyle > 255)
        return 0;
    const int defined = nextStyle++;
    uint32_t foreground = wanted.foreground ? wanted.foreground & 0xFFFFFF : defaultForeground;
    uint32_t background = wanted.background ? wanted.background & 0xFFFFFF : defaultBackground;
    if (wanted.reverse)
        std::swap(foreground, background);
    StyleSetForeground(defined, ToColour(foreground));
    StyleSetBackground(defined, ToColour(background));
    StyleSetBold(defined, wanted.bold);
    StyleSetItalic(defined, wanted.italic);
    StyleSetUnderline(defined, wanted.underline);
    styles.emplace(key, defined);
    return defined;
}

void COutputPane::KeepTail() {
    const int length = GetLength();
    if (length <= MaxLength)
        return;
    // Past the limit the oldest lines go, a small step more than needed, so that the next
    // writes do not trim again at once; what the user looks at (and what Find selected) stays
    // unless it is among them. A last line longer than the limit loses its start.
    const int wanted = length - (MaxLength - TrimStep);
    int from = PositionFromLine(LineFromPosition(wanted));
    if (from < wanted)
        from = PositionFromLine(LineFromPosition(wanted) + 1);
    const int lastLineStart = PositionFromLine(LineFromPosition(length));
    if (from > lastLineStart || from <= 0) {
        from = wanted;
        while (from < length && IsContinuation(static_cast<char>(GetCharAt(from))))
            ++from;
    }
    if (from <= 0)
        return;
    if (from > lastLineStart)
        cursor -= std::min(cursor, static_cast<size_t>(from - lastLineStart));
    if (unseenLine >= 0)
        unseenLine = std::max(0, unseenLine - LineFromPosition(from));
    // The control keeps the lines in view where they are when lines before them go.
    SetReadOnly(false);
    DeleteRange(0, from);
    SetReadOnly(true);
}

bool COutputPane::Find(const wxString& text, bool forward, int flags) {
    if (text.empty())
        return false;
    findData.SetFindString(text);
    int findFlags = forward ? wxFR_DOWN : 0;
    if (flags & wxSTC_FIND_MATCHCASE)
        findFlags |= wxFR_MATCHCASE;
    if (flags & wxSTC_FIND_WHOLEWORD)
        findFlags |= wxFR_WHOLEWORD;
    findData.SetFlags(findFlags);

    const int length = GetLength();
    int end = 0;
    int found = forward ? FindText(GetSelectionEnd(), length, text, flags, &end)
                        : FindText(GetSelectionStart(), 0, text, flags, &end);
    if (found < 0) // from the other end
        found = forward ? FindText(0, length, text, flags, &end)
                        : FindText(length, 0, text, flags, &end);
    auto* frame = dynamic_cast<wxFrame*>(wxGetTopLevelParent(this));
    if (found < 0) {
        wxBell();
        if (frame && frame->GetStatusBar())
            frame->SetStatusText(wxString::Format("Cannot find \"%s\" in the output.", text));
        return false;
    }
    SetSelection(found, end);
    EnsureCaretVisible();
    return true;
}

bool COutputPane::FindAgain(bool forward) {
    if (findData.GetFindString().empty()) {
        ShowFindDialog();
        return false;
    }
    int flags = 0;
    if (findData.GetFlags() & wxFR_MATCHCASE)
        flags |= wxSTC_FIND_MATCHCASE;
    if (findData.GetFlags() & wxFR_WHOLEWORD)
        flags |= wxSTC_FIND_WHOLEWORD;
    return Find(findData.GetFindString(), forward, flags);
}

void COutputPane::ShowFindDialog() {
    const wxString selected = GetSelectedText();
    if (!selected.empty() && !selected.Contains("\n"))
        findData.SetFindString(selected);
    if (!findDialog) {
        findDialog =
            new wxFindReplaceDialog(wxGetTopLevelParent(this), &findData, "Find in Output");
        findDialog->Bind(wxEVT_FIND, &COutputPane::OnFindDialog, this);
        findDialog->Bind(wxEVT_FIND_NEXT, &COutputPane::OnFindDialog, this);
        findDialog->Bind(wxEVT_FIND_CLOSE, &COutputPane::OnFindDialog, this);
    }
    findDialog->Show();
    findDialog->Raise();
}

void COutputPane::OnFindDialog(wxFindDialogEvent& event) {
    if (event.GetEventType() == wxEVT_FIND_CLOSE) {
        findDialog->Destroy();
        findDialog = nullptr;
        return;
    }
    int flags = 0;
    if (event.GetFlags() & wxFR_MATCHCASE)
        flags |= wxSTC_FIND_MATCHCASE;
    if (event.GetFlags() & wxFR_WHOLEWORD)
        flags |= wxSTC_FIND_WHOLEWORD;
    Find(event.GetFindString(), (event.GetFlags() & wxFR_DOWN) != 0, flags);
}

std::unique_ptr<wxMenu> COutputPane::MakeContextMenu() const {
    auto menu = std::make_unique<wxMenu>();
    menu->Append(wxID_COPY, "&Copy");
    menu->Append(wxID_SELECTALL, "Select &All");
    menu->AppendSeparator();
    menu->Append(ID_FIND, "&Find...\tCtrl+F");
    menu->Append(ID_FIND_NEXT, "Find &Next\tF3");
    menu->Append(ID_FIND_PREVIOUS, "Find &Previous\tShift+F3");
    menu->AppendSeparator();
    menu->Append(ID_CLEAR_OUTPUT, "Clear Output");
    menu->Enable(wxID_COPY, GetSelectionStart() != GetSelectionEnd());
    return menu;
}

void COutputPane::OnContextMenu(wxContextMenuEvent&) {
    const std::unique_ptr<wxMenu> menu = MakeContextMenu();
    PopupMenu(menu.get());
}

void COutputPane::OnKeyDown(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    const int modifiers = event.GetModifiers();
    if ((key == 'F' || key == 'f') && modifiers == wxMOD_CONTROL)
        ShowFindDialog();
    else if (key == WXK_F3 && modifiers == wxMOD_NONE)
        FindAgain(true);
    else if (key == WXK_F3 && modifiers == wxMOD_SHIFT)
        FindAgain(false);
    else
        event.Skip();
}

void COutputPane::OnDoubleClick(wxStyledTextEvent& event) {
    event.Skip(); // the pane still selects the word
    const int lineIndex =
        event.GetLine() >= 0 ? event.GetLine() : LineFromPosition(GetCurrentPos());
    wxString path;
    long line = 0;
    if (!ParseSourcePlace(GetLineText(lineIndex), path, line))
        return;
    // A document that was never saved: the editor finds it, once the pane is done with the click.
    if (path == untitledName) {
        if (goToUntitled)
            CallAfter(
                [this, line] { goToUntitled(static_cast<int>(std::min<long>(line, INT_MAX))); });
        return;
    }
    // "<string>", a file gone since: nothing to open.
    if (wxDirExists(path) || !wxFileName::IsFileReadable(path))
        return;
    wxWindow* frame = wxGetTopLevelParent(this);
    if (!frame)
        return;
    // Opened once the pane is done with the click, so that the editor keeps the focus.
    auto* open = new wxCommandEvent(wxEVT_EDITOR_OPEN, frame->GetId());
    open->SetString(path);
    open->SetInt(static_cast<int>(std::min<long>(line, INT_MAX)));
    wxQueueEvent(frame, open);
}
