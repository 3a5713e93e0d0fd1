// Stopping a running script: the window that comes up after about a second, its Stop button and
// Esc, the editor locked meanwhile, output reaching the pane while the script runs, a run at
// start, a run refused while another runs, a script waiting in a dialog of its own, and the window
// drawn while the script runs.
#include "tests/engine/EngineFixture.h"
#include "tests/support/StopWindow.h"

#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/stattext.h>
#include <wx/stopwatch.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

using namespace engine_test;
using testing_support::PressStop;
using testing_support::Repeater;
using testing_support::RunningWindow;
using testing_support::WindowText;

namespace {

const char* const loopingScript = "def MpMain():\n"
                                  "    while True:\n"
                                  "        pass\n";

// In a script: whether the window is shown, as wxPython sees the editor's windows.
const char* const windowCheck = "import time, wx\n"
                                "def shown():\n"
                                "    for w in wx.GetTopLevelWindows():\n"
                                "        if isinstance(w, wx.Dialog) and w.IsShown() and any(\n"
                                "                isinstance(c, wx.Button) and c.GetLabel() == "
                                "'Stop'\n"
                                "                for c in w.GetChildren()):\n"
                                "            return True\n"
                                "    return False\n";

const wxString ellipsis(wxUniChar(0x2026));

} // namespace

class EngineStop : public EngineTest {};

TEST_F(EngineStop, StopButtonInterruptsTheScriptWhichIsReportedAndTheEditorGoesOn) {
    editor->Frame()->Show();
    wxString text;
    wxWindow* parent = nullptr;
    bool frameEnabled = true;
    Repeater presser([&] {
        if (wxDialog* window = RunningWindow()) {
            text = WindowText(window);
            parent = window->GetParent();
            frameEnabled = editor->Frame()->IsEnabled();
            PressStop(window);
        }
    });
    EXPECT_FALSE(plugin->RunScript(Script("looping.py", loopingScript), false));
    presser.Stop();

    EXPECT_EQ(text, "Running looping" + ellipsis);
    EXPECT_EQ(parent, editor->Frame());
    EXPECT_FALSE(frameEnabled); // the rest of the editor took no input
    EXPECT_TRUE(editor->Frame()->IsEnabled());
    EXPECT_EQ(RunningWindow(), nullptr);
    EXPECT_EQ(modal.PendingCount(), 0u);
    EXPECT_TRUE(Output().Contains("Traceback (most recent call last):")) << Output();
    EXPECT_TRUE(Output().Contains("KeyboardInterrupt")) << Output();
    EXPECT_TRUE(Output().EndsWith(wxString(50, '-') + "\n")) << Output(); // the report's end

    ClearOutput();
    EXPECT_TRUE(
        plugin->RunScript(Script("later.py", "def MpMain():\n    print('later')\n"), false));
    EXPECT_EQ(Output(), "later\n");
}

TEST_F(EngineStop, EscInTheWindowPressesStop) {
    bool escaped = false;
    bool stopPressed = false;
    wxStopWatch sinceEsc;
    Repeater escaper([&] {
        wxDialog* window = RunningWindow();
        if (!window)
            return;
        if (!escaped) {
            escaped = true;
            sinceEsc.Start();
            wxKeyEvent escape(wxEVT_CHAR_HOOK);
            escape.m_keyCode = WXK_ESCAPE;
            escape.SetEventObject(window);
            window->GetEventHandler()->ProcessEvent(escape);
        } else if (sinceEsc.Time() > 10000 && !stopPressed) {
            // Esc did nothing: the button ends the run, and the test fails.
            stopPressed = true;
            PressStop(window);
        }
    });
    EXPECT_FALSE(plugin->RunScript(Script("escaped.py", loopingScript), false));
    EXPECT_TRUE(escaped);
    EXPECT_FALSE(stopPressed);
    EXPECT_TRUE(Output().Contains("KeyboardInterrupt")) << Output();
}

// Esc stops the script wherever the key goes: to the Running window, or to the main window
// that a click took the keyboard to; the last line of the report is the script's line where it
// stopped, with its source, also in a loop whose jump back has no line of its own.
TEST_F(EngineStop, EscAnywhereStopsTheScriptWhichIsReportedAtItsLine) {
    editor->Frame()->Show();
    struct Case {
        const char* script;
        const char* stoppedAt; // the traceback's last entry
    };
    const Case cases[] = {
        {loopingScript, "line 2, in MpMain\n    while True:\n"},
        {"def MpMain():\n"
         "    for i in range(10**12):\n"
         "        if i < 0:\n"
         "            print(i)\n",
         "line 2, in MpMain\n    for i in range(10**12):\n"},
    };
    for (const Case& c : cases) {
        for (const bool toTheFrame : {false, true}) {
            SCOPED_TRACE(wxString(c.script).utf8_string() + (toTheFrame ? " frame" : " window"));
            ClearOutput();
            bool escaped = false;
            wxStopWatch sinceEsc;
            Repeater escaper([&] {
                wxDialog* window = RunningWindow();
                if (!window)
                    return;
                if (!escaped) {
                    escaped = true;
                    sinceEsc.Start();
                    wxWindow* target =
                        toTheFrame ? static_cast<wxWindow*>(editor->Frame()) : window;
                    wxKeyEvent escape(wxEVT_CHAR_HOOK);
                    escape.m_keyCode = WXK_ESCAPE;
                    escape.SetEventObject(target);
                    target->GetEventHandler()->ProcessEvent(escape);
                } else if (sinceEsc.Time() > 10000) {
                    PressStop(window); // Esc did nothing: the test fails
                }
            });
            EXPECT_FALSE(plugin->RunScript(Script("escaped.py", c.script), false));
            EXPECT_TRUE(escaped);
            EXPECT_LT(sinceEsc.Time(), 10000);
            const wxString last = Output().AfterLast('"');
            EXPECT_TRUE(last.StartsWith(", " + wxString(c.stoppedAt) + "KeyboardInterrupt\n"))
                << Output();
        }
    }
}

// The window is looked for by the script itself: absent after a short while of running,
// present after about a second.
TEST_F(EngineStop, WindowComesOnlyForAScriptRunningAboutASecondAndGoesWithIt) {
    EXPECT_TRUE(plugin->RunScript(Script("quick.py", wxString(windowCheck) +
                                                         "def MpMain():\n"
                                                         "    t0 = time.monotonic()\n"
                                                         "    while time.monotonic() - t0 < 0.3:\n"
                                                         "        pass\n"
                                                         "    print('quick', shown())\n"),
                                  false));
    EXPECT_EQ(Output(), "quick False\n");

    ClearOutput();
    EXPECT_TRUE(plugin->RunScript(
        Script("slow.py", wxString(windowCheck) +
                              "def MpMain():\n"
                              "    t0 = time.monotonic()\n"
                              "    while not shown() and time.monotonic() - t0 < 20:\n"
                              "        pass\n"
                              "    print('slow', shown(), time.monotonic() - t0 > 0.9)\n"),
        false));
    EXPECT_EQ(Output(), "slow True True\n");
    EXPECT_EQ(RunningWindow(), nullptr);
}

TEST_F(EngineStop, OutputReachesThePaneWhileTheScriptRuns) {
    auto* pane = new wxTextCtrl(editor->Frame(), wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                wxTE_MULTILINE, wxDefaultValidator, "stoptestpane");
    host::MessageOutputPane::Attach(pane, host::GetMessageOutput(0));
    editor->Frame()->Show();
    EXPECT_TRUE(
        plugin->RunScript(Script("progress.py", "import time, wx\n"
                                                "def MpMain():\n"
                                                "    print('first')\n"
                                                "    pane = wx.FindWindowByName('stoptestpane')\n"
                                                "    t0 = time.monotonic()\n"
                                                "    while 'first' not in pane.GetValue():\n"
                                                "        if time.monotonic() - t0 > 20:\n"
                                                "            print('never')\n"
                                                "            return\n"
                                                "    print('seen')\n"),
                          false));
    EXPECT_EQ(Output(), "first\nseen\n");
}

// Before the Stop window, nothing of the editor's runs: an editor that offers to show its output
// without its event loop shows what the script printed within the first second; one that offers
// nothing (the interface alone) shows it once the window is up.
TEST_F(EngineStop, OutputShowsBeforeTheWindowWhereTheEditorCanShowItThen) {
    auto* pane = new wxTextCtrl(editor->Frame(), wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                wxTE_MULTILINE, wxDefaultValidator, "earlypane");
    host::MessageOutputPane::Attach(pane, host::GetMessageOutput(0));
    editor->Frame()->Show();
    const wxString script =
        Script("early.py", wxString(windowCheck) + "def MpMain():\n"
                                                   "    print('first')\n"
                                                   "    pane = wx.FindWindowByName('earlypane')\n"
                                                   "    t0 = time.monotonic()\n"
                                                   "    while 'first' not in pane.GetValue():\n"
                                                   "        if time.monotonic() - t0 > 20:\n"
                                                   "            print('never')\n"
                                                   "            return\n"
                                                   "    print('window up:', shown())\n");
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict);
        host::SetStrictInterface(strict);
        ClearOutput();
        pane->Clear();
        EXPECT_TRUE(plugin->RunScript(script, false));
        EXPECT_EQ(Output(), wxString("first\nwindow up: ") + (strict ? "True" : "False") + "\n");
    }
    host::SetStrictInterface(false);
}

// Auto-run scripts run while the editor starts: no event loop runs yet and its window is not
// shown.
TEST_F(EngineStop, RunAtStartBeforeTheEditorsWindowIsShownCanBeStopped) {
    wxEventLoopBase* const loop = wxEventLoopBase::GetActive();
    wxEventLoopBase::SetActive(nullptr);
    bool seen = false;
    wxWindow* parent = editor->Frame();
    Repeater presser([&] {
        if (wxDialog* window = RunningWindow()) {
            seen = true;
            parent = window->GetParent();
            PressStop(window);
        }
    });
    const bool ran = plugin->RunScript(Script("atstart.py", loopingScript), false);
    wxEventLoopBase::SetActive(loop);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(seen);
    EXPECT_EQ(parent, nullptr);
    EXPECT_TRUE(Output().Contains("KeyboardInterrupt")) << Output();
}

// While a script runs, the editor handles events; a command that would run a script then is
// refused without a word, and the running script is unharmed.
TEST_F(EngineStop, RunStartedWhileAScriptRunsIsRefused) {
    const wxString other = Script("other.py", "def MpMain():\n    print('other ran')\n");
    int nested = -1;
    Repeater presser([&] {
        if (wxDialog* window = RunningWindow()) {
            if (nested < 0) {
                nested = plugin->RunScript(other, false) ? 1 : 0;
                return; // the script keeps running: the next tick stops it
            }
            PressStop(window);
        }
    });
    EXPECT_FALSE(plugin->RunScript(Script("holder.py", loopingScript), false));
    EXPECT_EQ(nested, 0);
    EXPECT_FALSE(Output().Contains("other ran")) << Output();
    EXPECT_TRUE(Output().Contains("KeyboardInterrupt")) << Output();
    EXPECT_EQ(modal.PendingCount(), 0u);

    ClearOutput();
    EXPECT_TRUE(plugin->RunScript(other, false));
    EXPECT_EQ(Output(), "other ran\n");
}

// A script that shows a dialog of its own waits for the user, however long: Python code that
// runs inside the dialog's loop brings up no window and is not stopped.
TEST_F(EngineStop, ScriptWaitingInItsOwnDialogIsNotTakenForARunawayOne) {
    ASSERT_TRUE(Exec(windowCheck));
    modal.SetDialogHandler([](wxDialog*) {
        wxGUIEventLoop loop;
        wxEventLoopActivator activator(&loop);
        // A handler of the dialog, busy for longer than the window's delay.
        Exec("t0 = time.monotonic()\n"
             "while time.monotonic() - t0 < 1.5:\n"
             "    pass\n"
             "print('inside', shown())\n");
        return wxID_OK;
    });
    EXPECT_TRUE(plugin->RunScript(Script("asking.py", "import wx\n"
                                                      "def MpMain():\n"
                                                      "    dialog = wx.Dialog(None)\n"
                                                      "    print('answer', dialog.ShowModal())\n"
                                                      "    dialog.Destroy()\n"),
                                  false));
    EXPECT_EQ(Output(), wxString::Format("inside False\nanswer %d\n", wxID_OK));
}

// The completion request's budget: past it, the run ends without a message or a report even when
// it was still importing; the budget binds no later run.
TEST_F(EngineStop, CompletionBudgetEndsTheRunQuietlyAndBindsNoOtherRun) {
    plugins.Write("python/autocomplete/autocomp.py", "while True:\n    pass\n");
    plugin->RunCompletionScript();
    EXPECT_EQ(modal.PendingCount(), 0u);
    EXPECT_TRUE(Output().empty()) << Output();
    EXPECT_EQ(RunningWindow(), nullptr);

    EXPECT_TRUE(plugin->RunScript(Script("longer.py", "import time\n"
                                                      "def MpMain():\n"
                                                      "    t0 = time.monotonic()\n"
                                                      "    while time.monotonic() - t0 < 2.5:\n"
                                                      "        pass\n"
                                                      "    print('done')\n"),
                                  false));
    EXPECT_EQ(Output(), "done\n");
}

namespace {

// The share of the window's client area in a colour other than black, read from the window itself:
// a window that the toolkit never drew is a black box. (A read of the whole screen through the root
// window does not do: under Xvfb it gives black for a window lying wholly inside another one.)
double ShareNotBlack(wxWindow* window) {
    const wxSize size = window->GetClientSize();
    if (size.x <= 0 || size.y <= 0)
        return 0;
    wxBitmap shot(size);
    wxMemoryDC memory(shot);
    wxClientDC screen(window);
    memory.Blit(0, 0, size.x, size.y, &screen, 0, 0);
    memory.SelectObject(wxNullBitmap);
    const wxImage image = shot.ConvertToImage();
    const unsigned char* data = image.GetData();
    size_t lit = 0;
    for (int i = 0; i < size.x * size.y; ++i)
        lit += data[3 * i] > 16 || data[3 * i + 1] > 16 || data[3 * i + 2] > 16;
    return double(lit) / (size.x * size.y);
}

} // namespace

// The window is drawn while the script runs, as the user sees it: the screen shows it (not a
// black box), in the editor's loop and in a run at start.
TEST_F(EngineStop, WindowIsDrawnWhileTheScriptRuns) {
    // At start first: the editor's window is not shown yet.
    for (const bool atStart : {true, false}) {
        SCOPED_TRACE(atStart ? "at start" : "in the editor's loop");
        wxEventLoopBase* const loop = wxEventLoopBase::GetActive();
        if (atStart)
            wxEventLoopBase::SetActive(nullptr);
        else
            editor->Frame()->Show();
        double lit = -1;
        wxStopWatch sinceShown;
        Repeater checker([&] {
            wxDialog* window = RunningWindow();
            if (!window)
                return;
            if (lit < 0)
                sinceShown.Start();
            // A window never drawn is given up on after a while.
            lit = ShareNotBlack(window);
            if (lit > 0.5 || sinceShown.Time() > 5000)
                PressStop(window);
        });
        ClearOutput();
        const bool ran = plugin->RunScript(Script("drawn.py", loopingScript), false);
        wxEventLoopBase::SetActive(loop);
        EXPECT_FALSE(ran);
        EXPECT_GT(lit, 0.5);
        EXPECT_TRUE(Output().Contains("KeyboardInterrupt")) << Output();
    }
}
