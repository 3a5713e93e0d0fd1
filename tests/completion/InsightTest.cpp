// What the editor shows of Python documents beyond completion, through real editor events on a
// real editor: pyflakes' findings as marks with their messages, an answer for a changed text
// dropped, go to definition (in the document, another file, the standard library, MpAPI's and
// wx's stubs, nothing), and a name's help where the mouse rests.
#include "tests/completion/CompletionFixture.h"

#include <wx/filename.h>
#include <wx/menu.h>

#include <signal.h>

#include <string>
#include <vector>

using testing_support::TempDir;

namespace {

class InsightTest : public CompletionFixture {
protected:
    void SetUp() override {
        CompletionFixture::SetUp();
        CopyShippedCompletion();
        env->Frame()->Bind(wxEVT_EDITOR_OPEN, [this](wxCommandEvent& event) {
            opened.push_back(event.GetString() + wxString::Format(":%d", event.GetInt()));
        });
    }

    const Insight& Insights() const { return plugin.completion.Insights(); }

    // Runs the editor until every check, go-to and hover has been answered.
    bool Settle() {
        return testing_support::ProcessEventsUntil(
            [this] {
                // The idle time finds the current editor, which is then checked.
                return Insights().PendingCount() == 0 && Insights().DueCount() == 0 &&
                       Insights().FindingsOf(editor) != nullptr;
            },
            60000);
    }

    // A document, current and watched, checked.
    void OpenChecked(const wxString& fileName, const wxString& text) {
        Open(fileName, text);
        editor->GotoPos(0);
        ASSERT_TRUE(Settle());
    }

    // The findings as batch mode prints them, "LINE:COLUMN: MESSAGE".
    std::vector<std::string> Findings() const {
        std::vector<std::string> lines;
        for (const auto& finding : *Insights().FindingsOf(editor))
            lines.push_back(std::to_string(finding.line) + ":" + std::to_string(finding.column) +
                            ": " + finding.message);
        return lines;
    }

    bool Squiggled(int position) const {
        return editor->IndicatorValueAt(Insight::indicator, position) != 0;
    }
    bool Signed(int line) const { return (editor->MarkerGet(line) & (1 << Insight::marker)) != 0; }

    void Dwell(int position) {
        wxStyledTextEvent event(wxEVT_STC_DWELLSTART, editor->GetId());
        event.SetEventObject(editor);
        event.SetPosition(position);
        editor->ProcessWindowEvent(event);
    }
    void DwellEnd() {
        wxStyledTextEvent event(wxEVT_STC_DWELLEND, editor->GetId());
        event.SetEventObject(editor);
        editor->ProcessWindowEvent(event);
    }
    void PressF12() {
        wxKeyEvent key(wxEVT_KEY_DOWN);
        key.m_keyCode = WXK_F12;
        key.SetEventObject(editor);
        editor->ProcessWindowEvent(key);
    }
    // The position of the first occurrence of `text`, plus `offset`.
    int Find(const wxString& text, int offset = 0) const {
        return editor->FindText(0, editor->GetLength(), text) + offset;
    }
    int CaretLine() const { return editor->LineFromPosition(editor->GetCurrentPos()) + 1; }

    std::vector<wxString> opened; // the files the editor was asked to open, "PATH:LINE"
};

const char* const mistakes = "import os\n"
                             "import sys as system\n"
                             "\n"
                             "def scale(value):\n"
                             "    return value * factr\n"
                             "\n"
                             "def scale(value):\n"
                             "    return value\n";

TEST_F(InsightTest, FindingsAreMarkedWithTheirMessages) {
    Attach();
    OpenChecked("tool.py", mistakes);
    // As pyflakes prints them, line and column from 1.
    EXPECT_EQ(Findings(), (std::vector<std::string>{
                              "1:1: 'os' imported but unused",
                              "2:1: 'sys as system' imported but unused",
                              "5:20: undefined name 'factr'",
                              "7:1: redefinition of unused 'scale' from line 4",
                          }));
    // The squiggle is under the names, the sign in the margin of their lines.
    EXPECT_TRUE(Squiggled(Find("os")));
    EXPECT_FALSE(Squiggled(Find("import")));
    EXPECT_TRUE(Squiggled(Find("system")));
    EXPECT_TRUE(Squiggled(Find("factr", 4)));
    EXPECT_FALSE(Squiggled(Find("value *")));
    for (int line = 0; line < 8; ++line)
        EXPECT_EQ(Signed(line), line == 0 || line == 1 || line == 4 || line == 6) << line;
    EXPECT_EQ(editor->GetShown("diagnostics"),
              "1:1: 'os' imported but unused\n2:1: 'sys as system' imported but unused\n"
              "5:20: undefined name 'factr'\n7:1: redefinition of unused 'scale' from line 4\n");

    // The mouse resting on the squiggle shows its message, and its end closes it.
    Dwell(Find("factr", 2));
    EXPECT_TRUE(editor->CallTipActive());
    EXPECT_EQ(editor->GetShown("hover"), "undefined name 'factr'");
    DwellEnd();
    EXPECT_FALSE(editor->CallTipActive());

    // The caret coming onto a marked line shows the messages there; leaving closes them.
    const auto caretTo = [this](int line) {
        editor->GotoLine(line);
        wxStyledTextEvent update(wxEVT_STC_UPDATEUI, editor->GetId());
        update.SetEventObject(editor);
        update.SetUpdated(wxSTC_UPDATE_SELECTION);
        editor->ProcessWindowEvent(update);
    };
    caretTo(4);
    EXPECT_TRUE(editor->CallTipActive());
    caretTo(5);
    EXPECT_FALSE(editor->CallTipActive());

    // Marks follow their lines as text goes in above them; a fix takes them away after a pause.
    editor->GotoPos(0);
    editor->AddText("\n");
    EXPECT_EQ(Insights().MessagesOnLine(editor, 5), "undefined name 'factr'");
    editor->SetText("import os\nprint(os.sep)\n");
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(Findings().empty());
    EXPECT_FALSE(Squiggled(Find("os")));
    EXPECT_FALSE(Signed(0));

    // A saved document is checked at once, without waiting for a pause.
    editor->AppendText("undefined_here\n");
    editor->SetSavePoint();
    EXPECT_EQ(Insights().PendingCount(), 1u);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Findings(), std::vector<std::string>{"3:1: undefined name 'undefined_here'"});

    // The plug-in's release takes its marks away.
    plugin.OnRelease();
    attached = false;
    EXPECT_FALSE(Signed(2));
    EXPECT_FALSE(Squiggled(Find("undefined_here")));
}

// An answer that comes for a text that has changed since it was asked is dropped: only the
// findings of the text as it is now show.
TEST_F(InsightTest, AnAnswerForAChangedTextIsDropped) {
    Attach();
    OpenChecked("tool.py", "x = 1\n");
    const pid_t server = plugin.completion.Server().Pid();
    ASSERT_GT(server, 0); // kill(-1) would signal every process of the user
    ASSERT_EQ(kill(server, SIGSTOP), 0);
    editor->SetText("import os\n");
    editor->SetSavePoint(); // asked at once, for this text
    ASSERT_EQ(Insights().PendingCount(), 1u);
    editor->SetText("x = 1\nprint(undefined_now)\n");
    ASSERT_EQ(kill(server, SIGCONT), 0);
    ASSERT_TRUE(Settle());
    EXPECT_GE(Insights().DroppedCount(), 1);
    EXPECT_EQ(Findings(), std::vector<std::string>{"2:7: undefined name 'undefined_now'"});
    EXPECT_FALSE(Signed(0));
}

// F12 and Ctrl+click go to the definition: in the document itself, or in another file opened
// through the editor's open event at that line (a module of the user's, the standard library,
// MpAPI's stub beside the module, wx's stubs); nothing found says so in the status bar.
TEST_F(InsightTest, GoToDefinitionWhereverItIs) {
    TempDir project;
    const wxString helper = project.Write("helper.py", "\n\ndef helper_function():\n    pass\n");
    const wxString document = project.Write("tool.py", "");
    editor->SetFilePath(document);
    Attach();
    const wxString text = "import os, wx, MpAPI, helper\n"
                          "\n"
                          "def local_function():\n"
                          "    pass\n"
                          "\n"
                          "local_function()\n"
                          "helper.helper_function()\n"
                          "os.path.join('a')\n"
                          "MpAPI.CEditorManagement_Get()\n"
                          "wx.Frame(None).SetTitle('x')\n"
                          "nothing_here\n";
    OpenChecked("tool.py", text);
    ASSERT_TRUE(env->Frame()->GetStatusBar() != nullptr ||
                env->Frame()->CreateStatusBar() != nullptr);

    // In the document: the caret goes to the definition.
    editor->GotoPos(Find("\nlocal_function()", 3));
    PressF12();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(CaretLine(), 3);
    EXPECT_TRUE(opened.empty());

    const wxString stubs = wxFileName(wxString(COILHATCH_BIN_DIR) + "/MpAPI.pyi").GetFullPath();
    struct Case {
        const char* at;
        wxString file;
    };
    const Case cases[] = {
        {"helper_function()", helper + ":3"},
        {"join(", "/usr/lib/python3.11/posixpath.py:"},
        {"CEditorManagement_Get()", stubs + ":"},
        {"SetTitle(", "/core.pyi:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at);
        opened.clear();
        editor->GotoPos(Find(c.at, 2));
        PressF12();
        ASSERT_TRUE(Settle());
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_TRUE(opened[0].Contains(c.file)) << opened[0];
    }

    // Ctrl+click on a name goes there as F12 does.
    opened.clear();
    editor->SetSize(0, 0, 600, 400);
    editor->ScrollToLine(0);
    const wxPoint point = editor->PointFromPosition(Find("\nlocal_function()", 4));
    wxMouseEvent click(wxEVT_LEFT_DOWN);
    click.SetEventObject(editor);
    click.m_x = point.x;
    click.m_y = point.y + 2;
    click.SetControlDown(true);
    editor->ProcessWindowEvent(click);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(CaretLine(), 3);

    // Nothing found: a word in the status bar, no box.
    editor->GotoPos(Find("nothing_here", 3));
    PressF12();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(CaretLine(), 11);
    EXPECT_EQ(env->Frame()->GetStatusBar()->GetStatusText(), Insight::noDefinition);
    EXPECT_EQ(editor->GetShown("status"), Insight::noDefinition);
    EXPECT_EQ(modal.PendingCount(), 0u);

    // A menu item whose shortcut is F12 comes first: the document asks for nothing.
    env->MenuBar()->GetMenu(0)->Append(wxID_ANY, "Script on F12\tF12");
    PressF12();
    EXPECT_EQ(Insights().PendingCount(), 0u);
}

// The mouse resting on a name shows its signature and the first lines of its docstring, for
// the standard library, wx and MpAPI; moving on closes it.
TEST_F(InsightTest, HoverShowsANamesHelp) {
    Attach();
    OpenChecked("tool.py", "import os, wx, MpAPI\n"
                           "os.path.join('a')\n"
                           "wx.Frame(None).SetTitle('x')\n"
                           "MpAPI.CEditorManagement_Get()\n"
                           "x = 1\n");
    struct Case {
        const char* at;
        const char* starts;
    };
    for (const Case& c : {Case{"join(", "join("}, Case{"SetTitle(", "SetTitle(title)"},
                          Case{"CEditorManagement_Get(", "CEditorManagement_Get() -> "}}) {
        SCOPED_TRACE(c.at);
        editor->SetShown("hover", wxString());
        Dwell(Find(c.at, 2));
        ASSERT_TRUE(Settle());
        EXPECT_TRUE(editor->CallTipActive());
        EXPECT_TRUE(editor->GetShown("hover").StartsWith(c.starts)) << editor->GetShown("hover");
        EXPECT_TRUE(editor->GetShown("hover").Contains("\n")); // the docstring's first lines
        DwellEnd();
        EXPECT_FALSE(editor->CallTipActive());
    }
    // An answer that comes after the mouse moved on shows nothing.
    Dwell(Find("join(", 1));
    DwellEnd();
    ASSERT_TRUE(Settle());
    EXPECT_FALSE(editor->CallTipActive());
}

} // namespace

namespace {

// Under the editor's interface alone (no document path, nothing told to the editor) the marks,
// their messages and go-to in the document work all the same.
TEST_F(InsightTest, UnderTheInterfaceAloneMarksAndGoToWork) {
    host::SetStrictInterface(true);
    Attach();
    OpenChecked("tool.py", "import os\n\ndef scale(value):\n    return value\n\nscale(1)\n");
    EXPECT_EQ(Findings(), std::vector<std::string>{"1:1: 'os' imported but unused"});
    EXPECT_TRUE(Squiggled(Find("os")));
    EXPECT_TRUE(Signed(0));
    Dwell(Find("os", 1));
    EXPECT_TRUE(editor->CallTipActive());
    DwellEnd();
    editor->GotoPos(Find("\nscale(1)", 2));
    PressF12();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(CaretLine(), 3);
    EXPECT_EQ(editor->GetShown("diagnostics"), "");
    host::SetStrictInterface(false);
}

} // namespace
