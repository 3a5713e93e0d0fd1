// The editor's Output pane: output shown as a terminal shows it (a progress bar redrawn in place,
// colours), Clear and Find, following the output, and a double-click on a traceback's
// `File "PATH", line N` that opens that file at that line; and the editor's own side of the
// plug-in's menu: its menus leave the plug-in's shortcut free, and menu images are asked for.
#include "host/app/OutputPane.h"
#include "host/app/MainFrame.h"
#include "host/lib/PluginManager.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/app.h>
#include <wx/fdrepdlg.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/splitter.h>
#include <wx/statusbr.h>

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <vector>

using testing_support::ProcessEventsUntil;
using testing_support::TempDir;

namespace {

class OutputPane : public testing_support::WxTest {
protected:
    void SetUp() override {
        frame = new CMainFrame;
        frame->Show();
        output = host::GetMessageOutput(0);
        output->Clear();
    }
    void TearDown() override {
        frame->ReleasePlugins();
        frame->Destroy();
        wxTheApp->ProcessIdle(); // deletes the frame
        WxTest::TearDown();
    }

    // Double-clicks the pane's first line that contains `text`, as the control tells it.
    void DoubleClickLineWith(const wxString& text) {
        frame->GetOutputText(); // what waits reaches the pane
        COutputPane* pane = frame->GetOutputPane();
        int found = -1;
        for (int line = 0; line < pane->GetLineCount() && found < 0; ++line)
            if (pane->GetLineText(line).Contains(text))
                found = line;
        ASSERT_GE(found, 0) << "no line with " << text.utf8_str();
        wxStyledTextEvent click(wxEVT_STC_DOUBLECLICK, pane->GetId());
        click.SetLine(found);
        click.SetPosition(pane->PositionFromLine(found) + 4);
        click.SetEventObject(pane);
        pane->GetEventHandler()->ProcessEvent(click);
    }

    // The current document's file and caret line (from 1), once something has opened.
    bool WaitForDocument() {
        return ProcessEventsUntil([this] { return frame->GetDocumentCount() > 0; }, 2000);
    }
    int CaretLine() const {
        host::SyntaxEditor* editor = frame->GetCurrentEditor();
        return editor ? editor->LineFromPosition(editor->GetCurrentPos()) + 1 : 0;
    }

    // The pane a quarter of the window high, once the window has its size.
    bool WaitForLayout() {
        auto* splitter = dynamic_cast<wxSplitterWindow*>(frame->GetOutputPane()->GetGrandParent());
        return splitter && ProcessEventsUntil([&] {
                   const int total = splitter->GetClientSize().y - splitter->GetSashSize();
                   return total > 300 && std::abs(frame->GetOutputHeight() - total / 4) <= 2;
               });
    }

    // The frame goes (as the editor's end takes it) and a new one is shown.
    void Reopen() {
        frame->ReleasePlugins();
        frame->Destroy();
        wxTheApp->ProcessIdle();
        frame = new CMainFrame;
        frame->Show();
    }

    CMainFrame* frame = nullptr;
    host::MessageOutput* output = nullptr;
    TempDir dir;
};

} // namespace

TEST_F(OutputPane, DoubleClickOnATracebackFrameOpensItsFileAtItsLine) {
    const wxString path = dir.Write("tool.py", "a = 1\nb = 2\nc = 3\nd = 4\nraise E\n");
    output->Append("Traceback (most recent call last):\n");
    output->Append("  File \"" + path + "\", line 5, in <module>\n");
    output->Append("    raise E\nNameError: name 'E' is not defined\n");

    DoubleClickLineWith("line 5");
    ASSERT_TRUE(WaitForDocument());
    EXPECT_EQ(frame->GetCurrentEditor()->GetFilePath(), path);
    EXPECT_EQ(CaretLine(), 5);
    EXPECT_EQ(frame->GetCurrentEditor()->GetSelectedText(), "raise E"); // the line is selected

    // Another place in the open file moves the caret there; the file is not opened twice.
    output->Append("  File \"" + path + "\", line 2, in MpMain\n");
    DoubleClickLineWith("line 2, in MpMain");
    EXPECT_TRUE(ProcessEventsUntil([this] { return CaretLine() == 2; }, 2000));
    EXPECT_EQ(frame->GetDocumentCount(), 1u);
}

TEST_F(OutputPane, ASyntaxErrorsPlaceOpensToo) {
    // A path with blanks and a quote in a folder name, and a line past the file's end.
    const wxString path = dir.Write("my \"odd\" dir/broken.py", "if True\n    pass\n");
    output->Append("  File \"" + path + "\", line 1\n    if True\n           ^\n");
    output->Append("SyntaxError: expected ':'\n");
    output->Append("  File \"" + path + "\", line 40\n");

    DoubleClickLineWith("line 1");
    ASSERT_TRUE(WaitForDocument());
    EXPECT_EQ(frame->GetCurrentEditor()->GetFilePath(), path);
    EXPECT_EQ(CaretLine(), 1);

    DoubleClickLineWith("line 40");
    EXPECT_TRUE(ProcessEventsUntil([this] { return CaretLine() == 3; }, 2000)); // the last line
}

TEST_F(OutputPane, LinesThatNameNoReadableFileDoNothing) {
    output->Append("  File \"<untitled>\", line 2, in MpMain\n");
    output->Append("  File \"<string>\", line 1, in <module>\n");
    output->Append("  File \"" + dir.Path() + "/gone.py\", line 3, in <module>\n");
    output->Append("  File \"" + dir.Path() + "\", line 3, in <module>\n");
    output->Append("ValueError: File \"nowhere\"\n");
    for (const wxString& text : {wxString("<untitled>"), wxString("<string>"), wxString("gone.py"),
                                 dir.Path() + "\"", wxString("ValueError")})
        DoubleClickLineWith(text);
    ProcessEventsUntil([] { return false; }, 200); // what was queued has been handled
    EXPECT_EQ(frame->GetDocumentCount(), 0u);
    EXPECT_EQ(modal.PendingCount(), 0u);
}

TEST_F(OutputPane, OpenEventWithoutALineLeavesTheCaretAtTheStart) {
    const wxString path = dir.Write("plain.txt", "one\ntwo\nthree\n");
    wxCommandEvent open(wxEVT_EDITOR_OPEN, 0);
    open.SetString(path);
    open.SetInt(-1); // as the management dialog sends it
    static_cast<wxEvtHandler*>(frame)->ProcessEvent(open);
    ASSERT_EQ(frame->GetDocumentCount(), 1u);
    EXPECT_EQ(CaretLine(), 1);

    open.SetInt(3);
    static_cast<wxEvtHandler*>(frame)->ProcessEvent(open);
    EXPECT_EQ(frame->GetDocumentCount(), 1u);
    EXPECT_EQ(CaretLine(), 3);
}

TEST_F(OutputPane, TheEditorsMenusLeaveCtrlAltRFree) {
    wxMenuBar* bar = frame->GetMenuBar();
    for (size_t i = 0; i < bar->GetMenuCount(); ++i) {
        for (const wxMenuItem* item : bar->GetMenu(i)->GetMenuItems()) {
            std::unique_ptr<wxAcceleratorEntry> accel(item->GetAccel());
            if (!accel)
                continue;
            EXPECT_FALSE(accel->GetFlags() == (wxACCEL_CTRL | wxACCEL_ALT) &&
                         accel->GetKeyCode() == 'R')
                << item->GetItemLabelText().utf8_str();
        }
    }
}

TEST_F(OutputPane, ACtrlAltShortcutTypedInADocumentReachesItsMenuItemNotTheText) {
    // An item in a submenu added later, as a plug-in adds its own.
    wxMenu* tools = frame->GetMenuBar()->GetMenu(frame->GetMenuBar()->FindMenu("Tools"));
    auto* submenu = new wxMenu;
    const int runId = wxID_HIGHEST + 700;
    submenu->Append(runId, "Run Current Document\tCtrl+Alt+R");
    tools->AppendSubMenu(submenu, "Python Script");
    int chosen = 0;
    frame->Bind(
        wxEVT_MENU, [&](wxCommandEvent&) { ++chosen; }, runId);

    host::SyntaxEditor* editor = frame->NewDocument();
    auto press = [editor](int key, bool alt) {
        wxKeyEvent down(wxEVT_KEY_DOWN);
        down.m_keyCode = key;
        down.m_controlDown = true;
        down.m_altDown = alt;
        down.SetEventObject(editor);
        editor->GetEventHandler()->ProcessEvent(down);
    };
    press('R', true);
    EXPECT_EQ(chosen, 1);
    EXPECT_TRUE(editor->GetText().empty());

    // A disabled item is not chosen, and Ctrl+Alt with a key no item has goes on to the editor.
    submenu->Enable(runId, false);
    press('R', true);
    press('Q', true);
    EXPECT_EQ(chosen, 1);
}

TEST_F(OutputPane, TheEditorAsksTheToolkitToShowMenuImages) {
    using GetSettings = void* (*)();
    using GetProperties = void (*)(void*, const char*, ...);
    const auto getSettings =
        reinterpret_cast<GetSettings>(dlsym(RTLD_DEFAULT, "gtk_settings_get_default"));
    const auto getProperties = reinterpret_cast<GetProperties>(dlsym(RTLD_DEFAULT, "g_object_get"));
    ASSERT_TRUE(getSettings && getProperties);
    int shown = 0;
    getProperties(getSettings(), "gtk-menu-images", &shown, static_cast<void*>(nullptr));
    EXPECT_EQ(shown, 1);
}

// Pieces written one by one, each shown before the next arrives, as a slow script's would be.
TEST_F(OutputPane, ThePaneShowsOutputAsATerminalWouldAndTheOutputKeepsItAsWritten) {
    const struct {
        std::vector<const char*> pieces;
        const char* shown;
    } cases[] = {
        {{"10%\r20%\r100%\n"}, "100%\n"},
        {{"load: 1/3", "\rload: 2/3", "\rload: 3/3\n", "done\n"}, "load: 3/3\ndone\n"},
        {{"abcdef\rXY\n"}, "XYcdef\n"},                    // overwrites, as a screen does
        {{"abcdef", "\rXY", "\n"}, "XYcdef\n"},            // also across deliveries
        {{"crlf\r\n", "next\n"}, "crlf\nnext\n"},          // a Windows line end
        {{"h\xc3\xa9llo\rH\xc3\x89\n"}, "H\xc3\x89llo\n"}, // characters, not bytes
        {{"ab\bc\n"}, "ac\n"},                             // backspace steps back
        {{"abcdef\r\x1b[Kxy\n"}, "xy\n"},                  // erase to the end of the line
        {{"abcdef\r\x1b[2Kxy\n"}, "xy\n"},                 // erase the line
        {{"\x1b[31mred\x1b[0m plain\n"}, "red plain\n"},
        {{"\x1b[2J\x1b[?25lcursor\x1b]0;title\x07 \x1b]8;;u\x1b\\link\x1b]8;;\x1b\\ \x1b(Bok\n"},
         "cursor link ok\n"},                         // other sequences go
        {{"split \x1b[3", "1mred\n"}, "split red\n"}, // a sequence across two writes
        {{"a\x01"
          "b\x07\n"},
         "a\xe2\x90\x81"
         "b\xe2\x90\x87\n"}, // other controls as pictures
        {{"one\ntwo\r", "2\n"}, "one\n2wo\n"},
    };
    for (const auto& c : cases) {
        wxString written;
        for (const char* piece : c.pieces) {
            output->Append(wxString::FromUTF8(piece));
            written += wxString::FromUTF8(piece);
            frame->GetOutputText(); // shown before the next piece
        }
        EXPECT_EQ(frame->GetOutputText(), wxString::FromUTF8(c.shown)) << c.shown;
        EXPECT_EQ(output->GetText(), written) << c.shown;
        frame->GetOutputPane()->ClearOutput();
    }
}

TEST_F(OutputPane, SgrColoursAndBoldBecomeStyles) {
    COutputPane* pane = frame->GetOutputPane();
    output->Append("\x1b[1;31mE\x1b[0mx\x1b[38;5;21mB\x1b[48;2;1;2;3mG\x1b[39;49m \x1b[7mR\x1b[m"
                   "\x1b[92mg\x1b[22;1mb\n");
    ASSERT_EQ(frame->GetOutputText(), "ExBG Rgb\n");
    auto styleOf = [pane](int position) { return pane->GetStyleAt(position); };
    EXPECT_EQ(pane->StyleGetForeground(styleOf(0)), wxColour(0xCD, 0x31, 0x31));
    EXPECT_TRUE(pane->StyleGetBold(styleOf(0)));
    EXPECT_EQ(styleOf(1), 0); // reset
    EXPECT_EQ(pane->StyleGetForeground(styleOf(2)), wxColour(0, 0, 255));
    EXPECT_EQ(pane->StyleGetBackground(styleOf(3)), wxColour(1, 2, 3));
    EXPECT_EQ(pane->StyleGetForeground(styleOf(3)), wxColour(0, 0, 255));
    EXPECT_EQ(styleOf(4), 0);
    EXPECT_EQ(pane->StyleGetForeground(styleOf(5)), *wxWHITE); // reverse video
    EXPECT_EQ(pane->StyleGetBackground(styleOf(5)), *wxBLACK);
    EXPECT_EQ(pane->StyleGetForeground(styleOf(6)), wxColour(0x14, 0xCE, 0x14));
    EXPECT_FALSE(pane->StyleGetBold(styleOf(6)));
    EXPECT_TRUE(pane->StyleGetBold(styleOf(7)));
    EXPECT_EQ(styleOf(6) == styleOf(7), false);
    // The same attributes later use the same style.
    output->Append("\x1b[1;31mE2\x1b[0m\n");
    frame->GetOutputText();
    EXPECT_EQ(styleOf(pane->PositionFromLine(1)), styleOf(0));
    // A bar redrawn in place keeps the colour of what was written last.
    output->Append("\x1b[32m50%\x1b[0m\r\x1b[31m100%\x1b[0m\n");
    frame->GetOutputText();
    const int line = pane->PositionFromLine(2);
    EXPECT_EQ(pane->GetLineText(2), "100%");
    EXPECT_EQ(pane->StyleGetForeground(styleOf(line)), wxColour(0xCD, 0x31, 0x31));
}

TEST_F(OutputPane, ClearOutputEmptiesThePaneAndTheOutputAndOnlyNewerTextFollows) {
    COutputPane* pane = frame->GetOutputPane();
    output->Append("\x1b[31mshown\n");
    frame->GetOutputText();
    output->Append("waiting, not shown yet\n");
    // The context menu's item, as a click on it sends it.
    const std::unique_ptr<wxMenu> menu = pane->MakeContextMenu();
    ASSERT_EQ(menu->GetLabelText(COutputPane::ID_CLEAR_OUTPUT), "Clear Output");
    for (const int id : std::vector<int>{COutputPane::ID_FIND, COutputPane::ID_FIND_NEXT,
                                         COutputPane::ID_FIND_PREVIOUS, wxID_COPY, wxID_SELECTALL})
        EXPECT_NE(menu->FindItem(id), nullptr) << id;
    wxCommandEvent clear(wxEVT_MENU, COutputPane::ID_CLEAR_OUTPUT);
    pane->GetEventHandler()->ProcessEvent(clear);
    EXPECT_EQ(pane->GetText(), "");
    EXPECT_EQ(output->GetText(), "");
    output->Append("new\n");
    EXPECT_EQ(frame->GetOutputText(), "new\n");
    EXPECT_EQ(pane->GetStyleAt(0), 0); // the colour went with the text

    // A script that clears the output clears the pane too.
    output->Clear();
    output->Append("after\n");
    EXPECT_EQ(frame->GetOutputText(), "after\n");
}

TEST_F(OutputPane, FindSelectsTheNextAndThePreviousMatchWrappingAround) {
    COutputPane* pane = frame->GetOutputPane();
    output->Append("alpha\nbeta\nAlpha beta\nalphabet\n");
    frame->GetOutputText();
    auto selected = [pane] {
        return std::make_pair(pane->GetSelectionStart(), pane->GetSelectionEnd());
    };
    pane->SetSelection(0, 0);
    EXPECT_TRUE(pane->Find("alpha", true));
    EXPECT_EQ(selected(), std::make_pair(0, 5));
    EXPECT_TRUE(pane->FindAgain(true));
    EXPECT_EQ(selected(), std::make_pair(11, 16)); // any case
    EXPECT_TRUE(pane->FindAgain(true));
    EXPECT_EQ(selected(), std::make_pair(22, 27));
    EXPECT_TRUE(pane->FindAgain(true));
    EXPECT_EQ(selected(), std::make_pair(0, 5)); // from the start again
    EXPECT_TRUE(pane->FindAgain(false));
    EXPECT_EQ(selected(), std::make_pair(22, 27)); // from the end again
    EXPECT_TRUE(pane->FindAgain(false));
    EXPECT_EQ(selected(), std::make_pair(11, 16));

    EXPECT_TRUE(pane->Find("alpha", true, wxSTC_FIND_MATCHCASE | wxSTC_FIND_WHOLEWORD));
    EXPECT_EQ(selected(), std::make_pair(0, 5)); // neither "Alpha" nor "alphabet"

    // F3 and Shift+F3 repeat the search; what is not there leaves the selection and says so.
    auto press = [pane](int key, int modifiers) {
        wxKeyEvent down(wxEVT_KEY_DOWN);
        down.m_keyCode = key;
        down.m_controlDown = (modifiers & wxMOD_CONTROL) != 0;
        down.m_shiftDown = (modifiers & wxMOD_SHIFT) != 0;
        down.SetEventObject(pane);
        pane->GetEventHandler()->ProcessEvent(down);
    };
    press(WXK_F3, wxMOD_NONE);
    EXPECT_EQ(selected(), std::make_pair(0, 5)); // the only whole "alpha" in that case
    EXPECT_FALSE(pane->Find("gamma", true));
    EXPECT_EQ(selected(), std::make_pair(0, 5));
    EXPECT_EQ(frame->GetStatusBar()->GetStatusText(), "Cannot find \"gamma\" in the output.");
    pane->Find("beta", true);
    press(WXK_F3, wxMOD_SHIFT);
    EXPECT_EQ(selected(), std::make_pair(17, 21));

    // Ctrl+F opens the Find dialog with the selected text; its Find goes on from there.
    press('F', wxMOD_CONTROL);
    auto* dialog =
        dynamic_cast<wxFindReplaceDialog*>(wxWindow::FindWindowByLabel("Find in Output"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->GetData()->GetFindString(), "beta");
    wxFindDialogEvent find(wxEVT_FIND_NEXT, dialog->GetId());
    find.SetFindString("beta");
    find.SetFlags(wxFR_DOWN);
    find.SetEventObject(dialog);
    dialog->GetEventHandler()->ProcessEvent(find);
    EXPECT_EQ(selected(), std::make_pair(6, 10)); // wrapped around
    wxFindDialogEvent close(wxEVT_FIND_CLOSE, dialog->GetId());
    close.SetEventObject(dialog);
    dialog->GetEventHandler()->ProcessEvent(close);
}

// New output scrolls the pane along while it shows its last line; a user who scrolled up stays
// where they are, also when the pane drops its oldest lines.
TEST_F(OutputPane, ThePaneFollowsTheOutputOnlyWhileItsViewIsAtTheEnd) {
    COutputPane* pane = frame->GetOutputPane();
    ASSERT_GT(pane->LinesOnScreen(), 1);
    auto write = [this](int from, int count) {
        wxString text;
        for (int i = from; i < from + count; ++i)
            text += wxString::Format("line %d\n", i);
        output->Append(text);
        frame->GetOutputText();
    };
    write(0, 300);
    EXPECT_TRUE(pane->IsAtEnd());
    EXPECT_GT(pane->GetFirstVisibleLine(), 200);

    pane->SetFirstVisibleLine(10);
    write(300, 300);
    EXPECT_EQ(pane->GetFirstVisibleLine(), 10);
    EXPECT_FALSE(pane->IsAtEnd());

    // Past its limit the pane drops its older half: the lines in view stay in view.
    auto block = [this](int from, int count) {
        wxString text;
        for (int i = from; i < from + count; ++i)
            text += wxString::Format("block %06d", i) + wxString('.', 87) + "\n"; // 100 bytes
        output->Append(text);
        frame->GetOutputText();
    };
    block(0, 35000);
    const int viewed = pane->GetLineCount() - 2000;
    pane->SetFirstVisibleLine(viewed);
    const wxString seen = pane->GetLineText(viewed);
    block(35000, 10000);
    EXPECT_LE(pane->GetLength(), COutputPane::MaxLength);
    EXPECT_LT(pane->GetLineCount(), 40000);
    EXPECT_EQ(pane->GetLineText(pane->GetFirstVisibleLine()), seen);
    EXPECT_FALSE(pane->IsAtEnd());

    pane->SetFirstVisibleLine(pane->GetLineCount());
    EXPECT_TRUE(pane->IsAtEnd());
    write(600, 300);
    EXPECT_TRUE(pane->IsAtEnd());
    EXPECT_EQ(pane->GetLineText(pane->GetLineCount() - 2), "line 899");
}

// The output keeps UTF-8: each write stays a piece with its characters, and past the limit the
// oldest piece loses whole characters from its start.
TEST_F(OutputPane, TheOutputKeepsEachWriteWholeAndDropsWholeCharactersFromItsStart) {
    const std::vector<wxString> pieces = {"a",
                                          wxString::FromUTF8("\xc3\xa9"),
                                          wxString::FromUTF8("\xce\xa9\xf0\x9f\x98\x80"),
                                          wxString("nul\0end", 7),
                                          wxString(wxUniChar(0xDC80)),
                                          "\n"};
    for (const wxString& piece : pieces)
        output->Append(piece);
    std::vector<wxString> expected = pieces;
    expected[4] = wxString(wxUniChar(0xFFFD)); // a lone surrogate has no UTF-8
    EXPECT_EQ(output->GetPieces(), expected);

    const wxString omega(wxUniChar(0x3A9), host::MessageOutput::MaxHistoryLength - 4);
    output->Append(omega);
    output->Append(wxString::FromUTF8("b\xf0\x9f\x98\x80"));
    std::vector<wxString> kept = output->GetPieces();
    ASSERT_EQ(kept.size(), 4u); // whole pieces went while the rest held enough
    EXPECT_EQ(kept[0], expected[4]);
    EXPECT_EQ(kept[2], omega);
    EXPECT_EQ(output->GetText().length(), host::MessageOutput::MaxHistoryLength);

    output->Append("cde");
    kept = output->GetPieces();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0], omega.Mid(1)); // the oldest piece keeps its end
    const wxString later = output->GetText();
    EXPECT_EQ(later.length(), host::MessageOutput::MaxHistoryLength);
    EXPECT_TRUE(later.EndsWith(wxString::FromUTF8("b\xf0\x9f\x98\x80") + "cde"));
}

// A line longer than the pane keeps its end, and the terminal still knows where it is.
TEST_F(OutputPane, ALineLongerThanThePaneKeepsItsEndAndCanStillBeRewritten) {
    COutputPane* pane = frame->GetOutputPane();
    output->Append("before\n" + wxString('x', 3000000));
    frame->GetOutputText();
    output->Append(wxString('x', 2000000) + "yz");
    frame->GetOutputText();
    EXPECT_LE(pane->GetLength(), COutputPane::MaxLength);
    EXPECT_GE(pane->GetLength(), COutputPane::MaxLength / 2);
    EXPECT_EQ(pane->GetLineCount(), 1);
    EXPECT_TRUE(pane->GetText().EndsWith("xyz"));
    output->Append("\rAB\n");
    const wxString shown = frame->GetOutputText();
    EXPECT_TRUE(shown.StartsWith("ABx")) << shown.Left(10).utf8_str();
    EXPECT_TRUE(shown.EndsWith("xyz\n"));

    // An escape sequence that never ends is no sequence: its ESC shows, and the rest as text.
    output->Append("\x1b]" + wxString('t', 5000) + "\n");
    EXPECT_TRUE(frame->GetOutputText().EndsWith(wxString::FromUTF8("\xe2\x90\x9b]ttt") +
                                                wxString('t', 4997) + "\n"));
}

// Past its limit the pane drops only its oldest lines, a small step at a time: what the reader
// looks at, and what Find selected, stay as they were.
TEST_F(OutputPane, PastItsLimitThePaneDropsItsOldestLinesInSmallStepsAndKeepsTheView) {
    COutputPane* pane = frame->GetOutputPane();
    auto block = [this](int from, int count) {
        wxString text;
        for (int i = from; i < from + count; ++i)
            text += wxString::Format("block %06d", i) + wxString('.', 87) + "\n"; // 100 bytes
        output->Append(text);
        frame->GetOutputText();
    };
    block(0, 39000); // 3.9 MB: all kept
    EXPECT_EQ(pane->GetLineText(0), "block 000000" + wxString('.', 87));
    ASSERT_TRUE(pane->Find("block 020000", true));
    const int viewed = pane->LineFromPosition(pane->GetSelectionStart()) - 3;
    pane->SetFirstVisibleLine(viewed);

    for (int written = 39000; written < 45000; written += 500) {
        block(written, 500);
        EXPECT_LE(pane->GetLength(), COutputPane::MaxLength);
        EXPECT_EQ(pane->GetSelectedText(), "block 020000");
        EXPECT_EQ(pane->GetLineText(pane->GetFirstVisibleLine()),
                  wxString::Format("block %06d", 19997) + wxString('.', 87));
    }
    // What went is the oldest, and no more than a small step past the limit.
    EXPECT_GE(pane->GetLength(), COutputPane::MaxLength - COutputPane::TrimStep - 100);
    EXPECT_TRUE(pane->GetLineText(0).StartsWith("block 0")) << pane->GetLineText(0);
    EXPECT_EQ(pane->GetLineText(pane->GetLineCount() - 2),
              wxString::Format("block %06d", 44999) + wxString('.', 87));
}

// Output that comes while the reader is higher up is marked; one click goes to its first line,
// and the marker goes once that line has been in view.
TEST_F(OutputPane, NewOutputBelowTheViewIsMarkedAndOneClickGoesToItsFirstLine) {
    ASSERT_TRUE(WaitForLayout());
    COutputPane* pane = frame->GetOutputPane();
    wxWindow* marker = frame->FindWindow("newOutputMarker");
    ASSERT_NE(marker, nullptr);
    auto write = [this](const wxString& tag, int count) {
        wxString text;
        for (int i = 0; i < count; ++i)
            text += wxString::Format("%s %d\n", tag, i);
        output->Append(text);
        frame->GetOutputText();
    };
    write("old", 200);
    EXPECT_FALSE(pane->HasNewOutputBelow()); // followed
    EXPECT_FALSE(marker->IsShown());

    pane->SetFirstVisibleLine(20); // one notch up, or many: the same
    write("run", 100);
    EXPECT_TRUE(pane->HasNewOutputBelow());
    EXPECT_TRUE(marker->IsShown());
    EXPECT_EQ(pane->GetFirstVisibleLine(), 20);
    write("more", 5); // still marked from the first new line
    wxCommandEvent click(wxEVT_BUTTON, marker->GetId());
    click.SetEventObject(marker);
    marker->GetEventHandler()->ProcessEvent(click);
    EXPECT_EQ(pane->GetLineText(pane->GetFirstVisibleLine()), "run 0");
    EXPECT_FALSE(pane->HasNewOutputBelow());
    EXPECT_FALSE(marker->IsShown());

    // Scrolling down to it by hand does as well; at the end the pane follows again, unmarked.
    pane->SetFirstVisibleLine(0);
    write("late", 3);
    EXPECT_TRUE(marker->IsShown());
    pane->SetFirstVisibleLine(pane->GetLineCount());
    ProcessEventsUntil([&] { return !marker->IsShown(); }, 2000);
    EXPECT_FALSE(marker->IsShown());
    EXPECT_TRUE(pane->IsAtEnd());
    write("follow", 3);
    EXPECT_TRUE(pane->IsAtEnd());
    EXPECT_FALSE(marker->IsShown());

    // Clearing leaves nothing to go to.
    pane->SetFirstVisibleLine(0);
    write("again", 100);
    EXPECT_TRUE(pane->HasNewOutputBelow());
    pane->ClearOutput();
    EXPECT_FALSE(pane->HasNewOutputBelow());
    EXPECT_FALSE(marker->IsShown());
}

// The pane starts a quarter of the window high; a height the user gives it by moving the sash
// is kept in the layout file and comes back at the next start.
TEST_F(OutputPane, ThePaneStartsAQuarterHighAndTheEditorRemembersTheHeightTheUserGaveIt) {
    const wxString layout = dir.Path() + "/config/marrowpad/layout.xml";
    EXPECT_TRUE(WaitForLayout());

    // Without a move of the user's, nothing is written.
    frame->UseLayoutFile(layout);
    Reopen();
    EXPECT_FALSE(wxFileName::FileExists(layout));

    frame->UseLayoutFile(layout);
    ASSERT_TRUE(WaitForLayout());
    auto* splitter = dynamic_cast<wxSplitterWindow*>(frame->GetOutputPane()->GetGrandParent());
    ASSERT_NE(splitter, nullptr);
    // The user drags the sash (the splitter tells of the drag, then of its end): the pane is 300
    // pixels high.
    splitter->SetSashPosition(splitter->GetClientSize().y - splitter->GetSashSize() - 300);
    for (const wxEventType step :
         {wxEVT_SPLITTER_SASH_POS_CHANGING, wxEVT_SPLITTER_SASH_POS_CHANGED}) {
        wxSplitterEvent moved(step, splitter);
        moved.SetSashPosition(splitter->GetSashPosition());
        splitter->ProcessWindowEvent(moved);
    }
    ASSERT_TRUE(ProcessEventsUntil([&] { return frame->GetOutputHeight() == 300; }));
    wxTheApp->ProcessPendingEvents(); // the height is taken after the move
    Reopen();                         // the closing frame writes it
    EXPECT_TRUE(testing_support::ReadFile(layout).Contains("<OutputHeight>300</OutputHeight>"))
        << testing_support::ReadFile(layout);

    frame->UseLayoutFile(layout);
    EXPECT_TRUE(ProcessEventsUntil([&] { return frame->GetOutputHeight() == 300; }))
        << frame->GetOutputHeight();
}

// At a restart the remembered height comes back whatever sizes the window passes through on its
// way (a window manager may show it smaller first), as far as each has room.
TEST_F(OutputPane, TheRememberedHeightComesBackThroughTheWindowsFirstSizes) {
    const wxString layout =
        dir.Write("layout.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<config><Marrowpad><Layout><OutputHeight>300"
                                "</OutputHeight></Layout></Marrowpad></config>\n");
    frame->ReleasePlugins();
    frame->Destroy();
    wxTheApp->ProcessIdle();
    // As the program starts it: the layout is read before the frame is shown.
    frame = new CMainFrame;
    frame->UseLayoutFile(layout);
    frame->SetSize(900, 330);
    frame->Show();
    auto* splitter = dynamic_cast<wxSplitterWindow*>(frame->GetOutputPane()->GetGrandParent());
    ASSERT_NE(splitter, nullptr);
    const auto room = [splitter] {
        return splitter->GetClientSize().y - splitter->GetSashSize() - 60;
    };
    // Too small for 300 pixels: the pane has what room there is.
    ASSERT_TRUE(ProcessEventsUntil([&] {
        return room() > 60 && room() < 300 && frame->GetOutputHeight() == room();
    })) << frame->GetOutputHeight()
        << " of " << room();
    frame->SetSize(900, 700);
    EXPECT_TRUE(ProcessEventsUntil([&] { return frame->GetOutputHeight() == 300; }))
        << frame->GetOutputHeight() << " of " << room();
    EXPECT_TRUE(room() > 300);
    // The window's sizes are not the user's: the file keeps the height.
    Reopen();
    EXPECT_TRUE(testing_support::ReadFile(layout).Contains("<OutputHeight>300</OutputHeight>"))
        << testing_support::ReadFile(layout);
}

// An unsaved document's traceback names "<untitled>": a double-click shows that line of the
// unsaved document in front (or the last one that was).
TEST_F(OutputPane, DoubleClickOnAnUntitledTracebackLineShowsThatLineOfTheUnsavedDocument) {
    host::SyntaxEditor* untitled = frame->NewDocument();
    untitled->SetText("a = 1\nb = 2\nraise E\n");
    const wxString saved = dir.Write("saved.py", "x = 1\n");
    frame->OpenFile(saved);
    output->Append("Traceback (most recent call last):\n"
                   "  File \"<untitled>\", line 3, in <module>\n"
                   "    raise E\nNameError: name 'E' is not defined\n");

    DoubleClickLineWith("line 3");
    ASSERT_TRUE(ProcessEventsUntil([&] { return frame->GetCurrentEditor() == untitled; }, 2000));
    EXPECT_EQ(CaretLine(), 3);
    EXPECT_EQ(untitled->GetSelectedText(), "raise E");

    // Without an unsaved document the status bar says so and nothing moves.
    frame->ShowDocument(frame->OpenFile(saved));
    untitled->Destroy();
    wxTheApp->ProcessIdle();
    DoubleClickLineWith("line 3");
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return frame->GetStatusBar()->GetStatusText() == "No unsaved document is open."; },
        2000));
}
