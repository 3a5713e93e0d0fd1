// The Python console, opened by the submenu's command and driven by the keys a person would
// press in it: its names, the editor it sees, output of scripts while it is open, closing it
// (also by sys.exit()), and its history and names across openings.
#include "engine/Gil.h"

#include "engine/Coilhatch.h"
#include "engine/Console.h"
#include "engine/PyRef.h"
#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "tests/support/ScriptEntries.h"
#include "tests/support/StopWindow.h"
#include "tests/support/TestSupport.h"

#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/stc/stc.h>

#include <vector>

using testing_support::EditorEnvironment;
using testing_support::ProcessEventsUntil;
using testing_support::TempDir;

namespace {

// The value of a Python expression as its str(), evaluated with `globals` of the given module
// (the console's module, or the engine's main module when null); "<error>" when it raises.
wxString Eval(const char* expression, bool inConsoleModule = false) {
    GilGuard gil(GetCoreApi());
    PyRef pymodule =
        inConsoleModule ? console::Module() : PyRef::Borrow(PyImport_AddModule("__main__"));
    PyObject* globals = pymodule ? PyModule_GetDict(pymodule.Get()) : nullptr;
    PyRef pyvalue =
        globals ? PyRef::Steal(PyRun_String(expression, Py_eval_input, globals, globals)) : PyRef();
    PyRef pytext = pyvalue ? PyRef::Steal(PyObject_Str(pyvalue.Get())) : PyRef();
    if (!pytext) {
        PyErr_Print();
        return "<error>";
    }
    return wxString::FromUTF8(PyUnicode_AsUTF8(pytext.Get()));
}

bool Exec(const char* statements) {
    GilGuard gil(GetCoreApi());
    return PyRun_SimpleStringFlags(statements, nullptr) == 0;
}

// The console windows that are up (there should never be more than one).
std::vector<wxFrame*> ConsoleWindows() {
    std::vector<wxFrame*> windows;
    for (wxWindow* window : wxTopLevelWindows) {
        auto* frame = dynamic_cast<wxFrame*>(window);
        if (frame && !frame->IsBeingDeleted() && frame->GetTitle() == "Python Console")
            windows.push_back(frame);
    }
    return windows;
}

wxStyledTextCtrl* ShellOf(wxFrame* window) {
    for (wxWindow* child : window->GetChildren())
        if (auto* shell = wxDynamicCast(child, wxStyledTextCtrl))
            return shell;
    return nullptr;
}

// A key as the shell receives it from the toolkit.
void PressKey(wxStyledTextCtrl* shell, int key, int modifiers = wxMOD_NONE) {
    wxKeyEvent event(wxEVT_KEY_DOWN);
    event.m_keyCode = key;
    event.SetControlDown((modifiers & wxMOD_CONTROL) != 0);
    event.SetEventObject(shell);
    shell->GetEventHandler()->ProcessEvent(event);
}

// Types a command at the prompt and presses Enter; returns what the shell showed for it.
wxString Type(wxStyledTextCtrl* shell, const wxString& command) {
    shell->DocumentEnd();
    shell->AddText(command);
    const int before = shell->GetLength();
    PressKey(shell, WXK_RETURN);
    return shell->GetTextRange(before, shell->GetLength());
}

class ConsoleTest : public testing_support::WxTest {
protected:
    void SetUp() override {
        first = new host::SyntaxEditor(env.Frame());
        first->SetText("one\ntwo\nthree\n");
        second = new host::SyntaxEditor(env.Frame());
        second->SetText("just one");
        current = first;
        host::SetCurrentEditorProvider([this] { return current; });
        env.Frame()->Show();
        plugin.OnAttach();
        ASSERT_TRUE(plugin.IsEngineRunning());
        attached = true;
        plugin.BuildMenu(env.MenuBar());
        // The engine's streams, to compare with.
        ASSERT_TRUE(Exec("engineStreams_ = (sys.stdin, sys.stdout, sys.stderr)\n"));
    }

    void TearDown() override {
        for (wxFrame* window : ConsoleWindows())
            window->Close(true);
        ProcessEventsUntil([] { return ConsoleWindows().empty(); });
        if (attached)
            plugin.OnRelease();
        host::SetCurrentEditorProvider(nullptr);
        WxTest::TearDown();
    }

    bool Choose(int id) {
        wxCommandEvent event(wxEVT_MENU, id);
        return plugin.ProcessEvent(event);
    }

    // Opens the console through the menu's command and returns its shell.
    wxStyledTextCtrl* Open() {
        EXPECT_TRUE(Choose(plugin.menu.consoleId));
        const auto windows = ConsoleWindows();
        EXPECT_EQ(windows.size(), 1u);
        return windows.size() == 1 ? ShellOf(windows[0]) : nullptr;
    }

    // Closes it as its close box would, and waits until it is gone.
    bool CloseConsole() {
        for (wxFrame* window : ConsoleWindows())
            window->Close();
        return ProcessEventsUntil([] { return ConsoleWindows().empty(); });
    }

    static wxString EngineStreamsInPlace() {
        return Eval("(sys.stdin, sys.stdout, sys.stderr) == engineStreams_");
    }

    TempDir dir;
    EditorEnvironment env{dir.Path()};
    CCoilhatch plugin;
    bool attached = false;
    host::SyntaxEditor* first = nullptr;
    host::SyntaxEditor* second = nullptr;
    host::SyntaxEditor* current = nullptr;
};

TEST_F(ConsoleTest, ItemsFollowScriptManagementAndTheRunHasItsShortcut) {
    const wxMenu* menu = plugin.menu.scriptMenu;
    ASSERT_NE(menu, nullptr);
    ASSERT_GE(menu->GetMenuItemCount(), 4u);
    EXPECT_EQ(menu->FindItemByPosition(0)->GetId(), scriptManagementId);
    const wxMenuItem* consoleItem = menu->FindItemByPosition(1);
    EXPECT_EQ(consoleItem->GetId(), plugin.menu.consoleId);
    EXPECT_EQ(consoleItem->GetItemLabelText(), "Python Console");
    EXPECT_TRUE(consoleItem->IsEnabled());
    const wxMenuItem* runItem = menu->FindItemByPosition(2);
    EXPECT_EQ(runItem->GetId(), plugin.menu.runDocumentId);
    EXPECT_EQ(runItem->GetItemLabelText(), "Run Current Document");
    EXPECT_TRUE(runItem->IsEnabled());
    std::unique_ptr<wxAcceleratorEntry> accel(runItem->GetAccel());
    ASSERT_NE(accel, nullptr);
    EXPECT_EQ(accel->GetFlags(), wxACCEL_CTRL | wxACCEL_ALT);
    EXPECT_EQ(accel->GetKeyCode(), 'R');
    EXPECT_EQ(menu->FindItemByPosition(3)->GetId(), plugin.menu.newScriptId);
    EXPECT_EQ(menu->FindItemByPosition(4)->GetId(), plugin.menu.openFolderId);
    EXPECT_TRUE(menu->FindItemByPosition(5)->IsSeparator());
}

TEST_F(ConsoleTest, CommandsSeeTheEditorAndScriptsStillPrintToTheOutput) {
    wxStyledTextCtrl* shell = Open();
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(Eval("[k for k in ('MpAPI', 'wx', 'editor', 'frame') if k in namespace]", true),
              "['MpAPI', 'wx', 'editor', 'frame']");

    EXPECT_TRUE(Type(shell, "print(editor.GetLineCount())").Contains("4\n"));
    EXPECT_TRUE(Type(shell, "print(frame.GetTitle(), MpAPI.__name__, wx.Frame.__name__)")
                    .Contains("Marrowpad MpAPI Frame\n"));
    // `editor` is bound afresh before each command.
    current = second;
    EXPECT_TRUE(
        Type(shell, "print(editor.GetLineCount(), editor.GetText())").Contains("1 just one\n"));
    current = nullptr;
    EXPECT_TRUE(Type(shell, "print(editor)").Contains("None\n"));
    current = first;

    // What commands print stays in the console; between commands the streams are the engine's.
    EXPECT_TRUE(EditorEnvironment::OutputText().empty()) << EditorEnvironment::OutputText();
    EXPECT_EQ(EngineStreamsInPlace(), "True");

    // A script run while the console is open prints to the message output.
    const wxString script =
        dir.Write("scripts/hello.py", "def MpMain():\n    print('hello from a script')\n");
    ScriptEntry* entry = testing_support::AddScriptEntry("hello", script, "", false, false);
    ASSERT_NE(entry, nullptr);
    plugin.RefreshScriptMenu(false);
    EXPECT_TRUE(Choose(entry->menuId));
    EXPECT_EQ(EditorEnvironment::OutputText(), "hello from a script\n");
    EXPECT_EQ(ConsoleWindows().size(), 1u);

    // An error in a command is shown in the console, not reported in the output.
    EXPECT_TRUE(Type(shell, "1/0").Contains("ZeroDivisionError"));
    EXPECT_EQ(EditorEnvironment::OutputText(), "hello from a script\n");
}

TEST_F(ConsoleTest, OnlyOneConsoleWhichTheItemBringsForward) {
    wxStyledTextCtrl* shell = Open();
    ASSERT_NE(shell, nullptr);
    wxFrame* window = ConsoleWindows()[0];
    window->Iconize();
    EXPECT_TRUE(Choose(plugin.menu.consoleId));
    ASSERT_EQ(ConsoleWindows().size(), 1u);
    EXPECT_EQ(ConsoleWindows()[0], window);
    EXPECT_FALSE(window->IsIconized());
    EXPECT_TRUE(window->IsShown());
    EXPECT_EQ(window->GetParent(), env.Frame());
}

TEST_F(ConsoleTest, ClosingPutsTheEngineStreamsBackEvenWhenACommandReplacedThem) {
    wxStyledTextCtrl* shell = Open();
    ASSERT_NE(shell, nullptr);
    Type(shell, "import io, sys");
    Type(shell, "sys.stdout = io.StringIO(); sys.stderr = io.StringIO()");
    EXPECT_EQ(EngineStreamsInPlace(), "False");

    ASSERT_TRUE(CloseConsole());
    EXPECT_EQ(EngineStreamsInPlace(), "True");
    // Scripts print to the message output again (flushed: through the output pipe).
    ASSERT_TRUE(Exec("print('back in the output', flush=True)\n"));
    EXPECT_EQ(EditorEnvironment::OutputText(), "back in the output\n");
}

TEST_F(ConsoleTest, ExitTypedIntoTheConsoleClosesItAndNotTheEditor) {
    wxStyledTextCtrl* shell = Open();
    ASSERT_NE(shell, nullptr);
    Type(shell, "import sys");
    Type(shell, "sys.exit()");
    ASSERT_TRUE(ProcessEventsUntil([] { return ConsoleWindows().empty(); }));
    EXPECT_EQ(EngineStreamsInPlace(), "True");
    EXPECT_TRUE(plugin.IsEngineRunning());
    EXPECT_TRUE(EditorEnvironment::OutputText().empty()) << EditorEnvironment::OutputText();

    // exit() and quit() as Python defines them, also reach the console only.
    shell = Open();
    ASSERT_NE(shell, nullptr);
    Type(shell, "exit()");
    ASSERT_TRUE(ProcessEventsUntil([] { return ConsoleWindows().empty(); }));
    EXPECT_EQ(EngineStreamsInPlace(), "True");
    // Nothing that the shell left to do after the command complains once the window is gone.
    ASSERT_TRUE(Exec("import wx\nlater = []\nwx.CallLater(50, later.append, 1)\n"));
    EXPECT_TRUE(ProcessEventsUntil([] { return Eval("later") == "[1]"; }));
    EXPECT_TRUE(EditorEnvironment::OutputText().empty()) << EditorEnvironment::OutputText();
}

TEST_F(ConsoleTest, TheShellChangesNoBuiltInNameThatScriptsShare) {
    const wxString before = Eval("sorted(k for k in vars(__builtins__))");
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(Eval("sorted(k for k in vars(__builtins__))"), before);
    EXPECT_EQ(Eval("callable(exit) and callable(quit)"), "True");
}

// A command that runs on and on would hold the editor for good: it gets the window with Stop, as
// a script does, and the KeyboardInterrupt shows in the console, which goes on.
TEST_F(ConsoleTest, ALongCommandCanBeStopped) {
    wxStyledTextCtrl* shell = Open();
    ASSERT_NE(shell, nullptr);
    wxString text;
    testing_support::Repeater presser([&] {
        if (wxDialog* window = testing_support::RunningWindow()) {
            text = testing_support::WindowText(window);
            testing_support::PressStop(window);
        }
    });
    // One line that never ends, a Python step at a time (a compound statement would wait for more).
    EXPECT_TRUE(Type(shell, "any(False for _ in iter(int, 1))").Contains("KeyboardInterrupt"));
    presser.Stop();
    EXPECT_EQ(text, "Running console" + wxString(wxUniChar(0x2026)));
    EXPECT_TRUE(Type(shell, "print(6 * 7)").Contains("42\n"));
    EXPECT_TRUE(EditorEnvironment::OutputText().empty()) << EditorEnvironment::OutputText();
}

// The keyboard is back in the console once the Stop window has gone, and the stopped command's
// traceback, like any command's, starts at the command: no frame of the engine's.
TEST_F(ConsoleTest, AfterStopTheKeyboardIsInTheConsoleAndTracebacksStartAtTheCommand) {
    wxStyledTextCtrl* shell = Open();
    ASSERT_NE(shell, nullptr);
    shell->SetFocus();
    // Without a window manager another test's window, shown meanwhile, may keep the keyboard.
    if (!ProcessEventsUntil([&] { return wxWindow::FindFocus() == shell; }))
        GTEST_SKIP() << "the console does not get the keyboard here";
    testing_support::Repeater presser([&] {
        if (wxDialog* window = testing_support::RunningWindow())
            testing_support::PressStop(window);
    });
    const wxString stopped = Type(shell, "any(False for _ in iter(int, 1))");
    presser.Stop();
    EXPECT_TRUE(stopped.Contains("KeyboardInterrupt")) << stopped;
    EXPECT_TRUE(ProcessEventsUntil([&] { return wxWindow::FindFocus() == shell; }));

    const wxString failed = Type(shell, "1/0");
    EXPECT_TRUE(failed.Contains("ZeroDivisionError")) << failed;
    for (const wxString& traceback : {stopped, failed}) {
        EXPECT_FALSE(traceback.Contains("coilhatch/")) << traceback;
        EXPECT_TRUE(traceback.Contains("File \"<input>\", line 1")) << traceback;
    }
}

// '(' shows the call tip of what stands before it, written as Python 3.11 no longer writes it
// (inspect.formatargspec is gone): no traceback reaches the message output.
TEST_F(ConsoleTest, AnOpeningParenthesisShowsTheCallTip) {
    wxStyledTextCtrl* shell = Open();
    ASSERT_NE(shell, nullptr);
    Type(shell, "def f(a, b=1, *c, d, e=(2,), **g): 'Does f.'");
    Type(shell, "");
    shell->DocumentEnd();
    shell->AddText("f");
    wxKeyEvent event(wxEVT_CHAR);
    event.m_keyCode = '(';
    event.m_uniChar = '(';
    event.SetEventObject(shell);
    shell->GetEventHandler()->ProcessEvent(event);
    EXPECT_TRUE(shell->CallTipActive());
    EXPECT_TRUE(EditorEnvironment::OutputText().empty()) << EditorEnvironment::OutputText();
    EXPECT_EQ(Eval("wx.py.introspect.getCallTip('f(', namespace)[1]", true),
              "a, b=1, *c, d, e=(2,), **g");
    // Scripts' inspect is Python's own.
    EXPECT_EQ(Eval("hasattr(__import__('inspect'), 'formatargspec')"), "False");
}

TEST_F(ConsoleTest, HistoryAndNamesLastAcrossOpenings) {
    wxStyledTextCtrl* shell = Open();
    ASSERT_NE(shell, nullptr);
    Type(shell, "answer = 41");
    Type(shell, "print(answer + 1)");
    ASSERT_TRUE(CloseConsole());

    shell = Open();
    ASSERT_NE(shell, nullptr);
    // Ctrl+Up brings back the last command, as it does in the shell.
    shell->DocumentEnd();
    PressKey(shell, WXK_UP, wxMOD_CONTROL);
    EXPECT_TRUE(shell->GetCurLine().Contains("print(answer + 1)")) << shell->GetCurLine();
    PressKey(shell, WXK_UP, wxMOD_CONTROL);
    EXPECT_TRUE(shell->GetCurLine().Contains("answer = 41")) << shell->GetCurLine();
    PressKey(shell, WXK_RETURN);
    EXPECT_TRUE(Type(shell, "print(answer + 1)").Contains("42\n"));
}

TEST_F(ConsoleTest, TheEditorClosesSafelyWithTheConsoleOpen) {
    wxStyledTextCtrl* shell = Open();
    ASSERT_NE(shell, nullptr);
    Type(shell, "x = 1");
    plugin.OnRelease();
    attached = false;
    // The console goes with the editor's main window, which the environment destroys.
    env.Frame()->DestroyChildren();
    EXPECT_TRUE(ProcessEventsUntil([] { return ConsoleWindows().empty(); }));
}

TEST(ConsoleWithoutPython, ItemsAreDisabledAndTheCommandSaysWhy) {
    testing_support::ModalRecorder modal;
    TempDir dir;
    EditorEnvironment env(dir.Path());
    CCoilhatch plugin; // never attached: no interpreter, as after a failed start of Python
    plugin.BuildMenu(env.MenuBar());
    const wxMenu* menu = plugin.menu.scriptMenu;
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(menu->FindItem(plugin.menu.consoleId)->IsEnabled());
    EXPECT_FALSE(menu->FindItem(plugin.menu.runDocumentId)->IsEnabled());

    wxCommandEvent event(wxEVT_MENU, plugin.menu.consoleId);
    EXPECT_TRUE(plugin.ProcessEvent(event));
    const auto boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.Contains("Python could not be started")) << boxes[0].text;
    EXPECT_TRUE(ConsoleWindows().empty());
}

} // namespace
