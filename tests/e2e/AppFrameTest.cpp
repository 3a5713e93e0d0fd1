// The editor's main frame in-process, with a plug-in object made by the test: menu commands the
// frame does not handle reach the plug-ins, completions go to the plug-ins before the editor's
// own, files open once, and the plug-ins are released while the editors still exist.
#include "host/app/MainFrame.h"
#include "host/app/OutputPane.h"
#include "host/lib/PluginManager.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/app.h>
#include <wx/menu.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/stopwatch.h>

#include <thread>
#include <vector>

using testing_support::ProcessEventsUntil;
using testing_support::TempDir;

namespace {

// What the test plug-in saw.
struct Seen {
    int menuCommands = 0;
    int greetCommands = 0;
    int completeBegin = 0;
    int completeEnd = 0;
    bool handleCompletion = true;
    bool released = false;
    bool editorAliveAtRelease = false;
};

const int greetId = wxID_HIGHEST + 500;

class RecordingPlugin : public CPlugin {
public:
    explicit RecordingPlugin(Seen& record) : seen(record) {
        Bind(wxEVT_MENU, [this](wxCommandEvent& event) {
            ++seen.menuCommands;
            if (event.GetId() == greetId)
                ++seen.greetCommands;
            else
                event.Skip();
        });
        Bind(wxEVT_EDITOR_COMPLETEBEGIN, [this](wxCommandEvent& event) {
            ++seen.completeBegin;
            event.Skip(!seen.handleCompletion);
        });
        Bind(wxEVT_EDITOR_COMPLETEEND, [this](wxCommandEvent&) { ++seen.completeEnd; });
    }
    void HostHook() override {}

private:
    void BuildMenu(wxMenuBar* menuBar) override {
        menuBar->GetMenu(menuBar->FindMenu("Tools"))->Append(greetId, "&Greet\tCtrl+G");
    }
    bool BuildToolBar(wxToolBar*) override { return false; }
    void OnRelease() override {
        seen.released = true;
        seen.editorAliveAtRelease = CEditorManagement::Get()->GetCurrentEditor() != nullptr &&
                                    CAppManagement::Get()->GetAppWindow() != nullptr;
    }

    Seen& seen;
};

class AppFrame : public testing_support::WxTest {
protected:
    void SetUp() override {
        frame = new CMainFrame;
        frame->Plugins().AddPlugin(new RecordingPlugin(seen), "Recording");
        frame->Plugins().BuildMenus(frame->GetMenuBar());
    }
    void TearDown() override {
        frame->ReleasePlugins();
        frame->Destroy();
        wxTheApp->ProcessIdle(); // deletes the frame
        WxTest::TearDown();
    }

    Seen seen;
    CMainFrame* frame = nullptr;
    TempDir dir;
};

} // namespace

TEST_F(AppFrame, MenuCommandsTheFrameDoesNotHandleGoToThePlugins) {
    wxString error;
    ASSERT_TRUE(frame->SelectMenuPath("Tools/Greet", error)) << error;
    EXPECT_EQ(seen.greetCommands, 1);

    // The frame's own command never reaches the plug-in.
    ASSERT_TRUE(frame->SelectMenuPath("File/New", error)) << error;
    EXPECT_EQ(frame->GetDocumentCount(), 1u);
    EXPECT_EQ(seen.menuCommands, 1);

    frame->GetMenuBar()->Enable(greetId, false);
    EXPECT_FALSE(frame->SelectMenuPath("Tools/Greet", error));
    EXPECT_TRUE(error.Contains("Tools/Greet"));
    EXPECT_FALSE(frame->SelectMenuPath("Tools", error));
    EXPECT_FALSE(frame->SelectMenuPath("Tools/Nothing", error));
    EXPECT_EQ(seen.greetCommands, 1);
}

TEST_F(AppFrame, CompletionAsksThePluginsBeforeTheEditorsOwn) {
    host::SyntaxEditor* editor = frame->OpenFile(dir.Write("words.py", "alpha alphabet al"));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->GetLexer(), wxSTC_LEX_PYTHON);
    editor->GotoPos(editor->GetLength());

    // Ctrl+Space as the keyboard delivers it.
    wxKeyEvent key(wxEVT_KEY_DOWN);
    key.m_keyCode = WXK_SPACE;
    key.m_controlDown = true;
    key.SetEventObject(editor);
    editor->GetEventHandler()->ProcessEvent(key);
    EXPECT_EQ(seen.completeBegin, 1);
    EXPECT_FALSE(editor->AutoCompActive()); // the plug-in handled it

    seen.handleCompletion = false;
    frame->StartCompletion(editor);
    EXPECT_EQ(seen.completeBegin, 2);
    ASSERT_TRUE(editor->AutoCompActive()); // skipped on to the word completion
    EXPECT_TRUE(editor->AutoCompGetCurrentText().StartsWith("alpha"));

    // Escape ends the list with a notification; a program closing it sends none, and the end
    // is noticed all the same.
    editor->CmdKeyExecute(wxSTC_CMD_CANCEL);
    EXPECT_EQ(seen.completeEnd, 1);
    frame->StartCompletion(editor);
    ASSERT_TRUE(editor->AutoCompActive());
    ProcessEventsUntil([] { return false; }, 100);
    editor->AutoCompCancel();
    EXPECT_TRUE(ProcessEventsUntil([&] { return seen.completeEnd == 2; }));

    // A call tip that closes, with no notification of its own, also ends the completion.
    const int ends = seen.completeEnd;
    editor->CallTipShow(0, "f(x)");
    ProcessEventsUntil([] { return false; }, 100);
    editor->CallTipCancel();
    EXPECT_TRUE(ProcessEventsUntil([&] { return seen.completeEnd > ends; }));
}

TEST_F(AppFrame, OpenEventOpensAFileOnceAndBringsItsTabForward) {
    const wxString first = dir.Write("first.py", "print(1)\n");
    const wxString second = dir.Write("second.txt", "two\n");
    auto open = [this](const wxString& path) {
        wxCommandEvent event(wxEVT_EDITOR_OPEN, 0);
        event.SetString(path);
        event.SetInt(-1);
        static_cast<wxEvtHandler*>(frame)->ProcessEvent(event); // as the dialog does
    };
    open(first);
    open(second);
    ASSERT_EQ(frame->GetDocumentCount(), 2u);
    EXPECT_EQ(frame->GetCurrentEditor()->GetText(), "two\n");
    EXPECT_EQ(frame->GetCurrentEditor()->GetLexer(), wxSTC_LEX_NULL);

    open(first);
    EXPECT_EQ(frame->GetDocumentCount(), 2u);
    EXPECT_EQ(CEditorManagement::Get()->GetCurrentEditor(), frame->GetCurrentEditor());
    EXPECT_EQ(frame->GetCurrentEditor()->GetText(), "print(1)\n");
    EXPECT_FALSE(frame->GetCurrentEditor()->GetModify());

    // A file that does not exist yet opens empty; a folder, and a binary file (which would be
    // shown cut short at its first NUL, and destroyed by a save), cannot be opened.
    open(dir.Path() + "/new.py");
    EXPECT_EQ(frame->GetDocumentCount(), 3u);
    open(dir.Path());
    open(dir.Write("binary.dat", wxString("abc\0def\n", 8)));
    EXPECT_EQ(frame->GetDocumentCount(), 3u);
    const auto boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].text.StartsWith("Cannot open"));
    EXPECT_TRUE(boxes[1].text.StartsWith("Cannot open"));
}

TEST_F(AppFrame, PaneJoinsPiecesAndPluginsGoBeforeTheEditors) {
    auto* output = host::GetMessageOutput(0);
    output->Append("one");
    output->Append("\n");
    output->Append("two");
    EXPECT_TRUE(frame->GetOutputText().EndsWith("one\ntwo"));

    // The pane keeps the latest output, from the start of a line, not all of it forever.
    const wxString block = wxString('x', 999) + "\n";
    for (int i = 0; i < 5000; ++i)
        output->Append(block);
    output->Append("last\n");
    const wxString shown = frame->GetOutputText();
    EXPECT_LT(shown.length(), 4100000u);
    EXPECT_GT(shown.length(), 1000000u);
    EXPECT_TRUE(shown.StartsWith(block)) << shown.Left(20).utf8_str();
    EXPECT_TRUE(shown.EndsWith(block + "last\n"));

    frame->OpenFile(dir.Write("a.py", ""));
    frame->ReleasePlugins();
    EXPECT_TRUE(seen.released);
    EXPECT_TRUE(seen.editorAliveAtRelease);
}

// Threads that print while the user-interface thread waits for them (as a script joining its
// threads does) lose nothing: every line is in the output at once, each thread's in its order,
// and the pane shows them all once the editor is idle.
TEST_F(AppFrame, OutputFromThreadsArrivesWholeInOrderAndReachesThePaneWhenIdle) {
    auto* output = host::GetMessageOutput(0);
    output->Clear();
    const int threads = 3;
    const int lines = 100000;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([output, t] {
            for (int i = 0; i < lines; ++i)
                output->Append(wxString::Format("%d %d\n", t, i));
        });
    for (auto& writer : writers)
        writer.join();

    const wxArrayString got = wxSplit(output->GetText(), '\n', '\0');
    ASSERT_EQ(got.size(), static_cast<size_t>(threads * lines + 1)); // and the empty last
    std::vector<long> next(threads, 0);
    for (size_t k = 0; k + 1 < got.size(); ++k) {
        long t = -1;
        long i = -1;
        ASSERT_TRUE(got[k].BeforeFirst(' ').ToLong(&t) && got[k].AfterFirst(' ').ToLong(&i))
            << got[k].utf8_str();
        ASSERT_TRUE(t >= 0 && t < threads);
        ASSERT_EQ(i, next[static_cast<size_t>(t)]++) << "thread " << t;
    }

    // Nobody asks the pane to show it: idle time does.
    auto* pane = frame->GetOutputPane();
    EXPECT_TRUE(ProcessEventsUntil([&] { return pane->GetLastPosition() > 0; }));
    EXPECT_TRUE(ProcessEventsUntil([&] {
        return static_cast<size_t>(pane->GetLastPosition()) == output->GetText().length();
    })) << pane->GetLastPosition()
        << " of " << output->GetText().length();
    EXPECT_EQ(pane->GetValue(), output->GetText());
}

// The pane shows control characters as their pictures, and takes a line end after '\r' as a
// terminal does; the output keeps everything as written.
TEST_F(AppFrame, ControlCharactersAreShownAsPicturesAndKeptInTheOutput) {
    auto* output = host::GetMessageOutput(0);
    output->Clear();
    std::thread writer([output] {
        for (int i = 0; i < 100; ++i)
            output->Append(i == 50 ? wxString("nul\0here\n", 9) : wxString::Format("%d\n", i));
    });
    writer.join();
    output->Append(wxString("\x01\x1b[0m\ttab\r\n"));

    const wxString written = output->GetText();
    EXPECT_NE(written.find(wxString("nul\0here\n", 9)), wxString::npos);
    EXPECT_TRUE(written.EndsWith("\x01\x1b[0m\ttab\r\n"));

    const wxString shown = frame->GetOutputText();
    EXPECT_EQ(wxSplit(shown, '\n', '\0').size(), 102u) << shown.utf8_str();
    EXPECT_TRUE(shown.Contains(wxString::FromUTF8("nul\xe2\x90\x80here\n")));
    EXPECT_TRUE(shown.EndsWith(wxString::FromUTF8("\xe2\x90\x81\ttab\n")))
        << shown.Right(20).utf8_str();
    EXPECT_TRUE(shown.Contains("49\n"));
    EXPECT_TRUE(shown.Contains("99\n"));
}

// A handler that runs for long lets the toolkit run now and then (a nested event loop): the
// pane shows what was written so far from inside it, not only once the handler returns.
TEST_F(AppFrame, PaneShowsOutputFromInsideANestedEventLoop) {
    auto* output = host::GetMessageOutput(0);
    auto* pane = frame->GetOutputPane();
    ProcessEventsUntil([&] { return false; }, 150); // settles what the frame started with
    bool shownInside = false;
    bool ran = false;
    wxTheApp->CallAfter([&] {
        output->Append("written inside\n");
        wxStopWatch watch;
        while (!shownInside && watch.Time() < 5000) {
            wxTheApp->Yield(true);
            shownInside = pane->GetValue().Contains("written inside");
        }
        ran = true;
    });
    EXPECT_TRUE(ProcessEventsUntil([&] { return ran; }));
    EXPECT_TRUE(shownInside) << pane->GetValue().utf8_str();
}

namespace {

// Answers the question about unsaved changes with No, and counts the questions.
class AnswerNo : public wxModalDialogHook {
public:
    AnswerNo() { Register(); }
    ~AnswerNo() override { Unregister(); }
    int asked = 0;

protected:
    int Enter(wxDialog* dialog) override {
        auto* box = dynamic_cast<wxMessageDialog*>(dialog);
        if (!box || !box->GetMessage().StartsWith("Save changes to"))
            return wxID_NONE;
        ++asked;
        return wxID_NO;
    }
    void Exit(wxDialog*) override {}
};

} // namespace

// A close answered No is final: the frame, closed and waiting for its deletion, is not asked
// about again by the close that quitting the editor makes next.
TEST_F(AppFrame, AnUnsavedDocumentIsAskedAboutOnce) {
    AnswerNo no;
    frame->NewDocument()->AddText("unsaved");
    EXPECT_TRUE(frame->Close());
    EXPECT_EQ(no.asked, 1);
    EXPECT_TRUE(seen.released);
    frame->Close();
    EXPECT_EQ(no.asked, 1);
}

// A script may destroy the notebook that holds the documents: the frame forgets it, gives the
// next document a new one, and ends without touching the old one.
TEST_F(AppFrame, TheFrameOutlivesItsNotebook) {
    host::SyntaxEditor* editor = frame->NewDocument();
    editor->GetParent()->Destroy();
    EXPECT_EQ(frame->GetDocumentCount(), 0u);
    EXPECT_EQ(frame->GetCurrentEditor(), nullptr);
    host::SyntaxEditor* next = frame->NewDocument();
    EXPECT_EQ(frame->GetDocumentCount(), 1u);
    EXPECT_EQ(frame->GetCurrentEditor(), next);
}
