// Attaching and releasing the plug-in: the redirected streams, the program folder on the path,
// a failing start-up script, the state without wxPython, and an editor that keeps working after
// release whatever scripts left in it.
#include "tests/engine/EngineFixture.h"

#include "registry/ScriptList.h"

#include <wx/app.h>
#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/msgdlg.h>
#include <wx/stc/stc.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

using namespace engine_test;
using testing_support::EditorEnvironment;
using testing_support::TempDir;

namespace {

class EngineAttach : public EngineTest {};
class EngineRelease : public EngineTest {};

// An attach outside the fixture, for the environments the fixture does not make.
struct BareAttach {
    OrderRecorder modal;
    TempDir plugins;
    EditorEnvironment editor{plugins.Path()};
    CCoilhatch plugin;
};

// Python callbacks that wxPython left in the application's dynamic event table.
int PythonCallbacksOfTheApp() {
    int count = 0;
    size_t cookie = 0;
    for (auto* entry = wxTheApp->GetFirstDynamicEntry(cookie); entry;
         entry = wxTheApp->GetNextDynamicEntry(cookie)) {
        const wxObject* data = entry->m_callbackUserData;
        if (data && data->GetClassInfo() &&
            wxString(data->GetClassInfo()->GetClassName()) == "wxPyCallback")
            ++count;
    }
    return count;
}

} // namespace

TEST_F(EngineAttach, RedirectsTheStreamsQuietlyAndPutsTheProgramFolderOnThePathOnce) {
    EXPECT_TRUE(Output().empty()) << Output(); // the start-up script itself writes nothing
    ASSERT_NE(scriptList, nullptr);
    EXPECT_EQ(scriptList->GetCount(), 0u);
    EXPECT_EQ(plugin->registry.settingsPath, plugins.Path() + "/Coilhatch.xml");
    EXPECT_EQ(Eval("sys.path.count('" COILHATCH_BIN_DIR "')"), "1");
    // Tracebacks through the report's closing lines name the start-up script.
    EXPECT_EQ(Eval("sys.stderr.showmsg.func.__code__.co_filename"), "coilhatch/startup.py");
    EXPECT_EQ(Eval("(sys.stdout.encoding, sys.stderr.isatty())"), "('utf-8', False)");

    // The start-up script compiles without a warning.
    EXPECT_TRUE(Exec("import warnings\n"
                     "with warnings.catch_warnings():\n"
                     "    warnings.simplefilter('error')\n"
                     "    with open('" COILHATCH_SOURCE_DIR "/engine/startup.py') as f:\n"
                     "        compile(f.read(), 'startup.py', 'exec')\n"));
    EXPECT_TRUE(Output().empty()) << Output();

    // An empty write adds nothing.
    EXPECT_TRUE(Exec("sys.stdout.write('')\nsys.stderr.write('')\nsys.stderr.write('e')\n"));
    EXPECT_EQ(Output(), "e");
    ClearOutput();

    // What Python 3 asks of a standard stream: flush, for print, logging and tracebacks.
    EXPECT_TRUE(Exec("print('flushed', flush=True)\n"
                     "import logging\n"
                     "logging.getLogger('coil').warning('logged')\n"
                     "import traceback\n"
                     "try:\n"
                     "    raise KeyError('shown')\n"
                     "except KeyError:\n"
                     "    traceback.print_exc()\n"
                     "sys.stderr.showmsg()\n"));
    const wxString text = Output();
    EXPECT_NE(text.Find("flushed\n"), wxNOT_FOUND) << text;
    EXPECT_NE(text.Find("logged"), wxNOT_FOUND) << text;
    EXPECT_NE(text.Find("KeyError: 'shown'"), wxNOT_FOUND) << text;
    EXPECT_TRUE(text.EndsWith("\n" + wxString(50, '-') + "\n")) << text;
}

TEST(EngineAttachFolders, ProgramFolderWithQuoteBackslashAndNonAsciiReachesThePathExactly) {
    TempDir exec;
    const wxString folder = exec.Path() + "/" + wxString::FromUTF8("x\"); \\t \xc3\xb6 ");
    ASSERT_TRUE(wxFileName::Mkdir(folder));
    // MpAPI is found only through this folder.
    wxArrayString modules;
    wxDir::GetAllFiles(COILHATCH_BIN_DIR, &modules, "MpAPI*.so", wxDIR_FILES);
    ASSERT_EQ(modules.size(), 1u);
    const wxString link = folder + "/" + wxFileName(modules[0]).GetFullName();
    ASSERT_EQ(symlink(modules[0].fn_str(), link.fn_str()), 0);

    BareAttach attach;
    host::GetNameItem("ExecPath")->SetAttribute(0, folder);
    attach.plugin.OnAttach();
    EXPECT_EQ(attach.modal.PendingCount(), 0u);
    EXPECT_TRUE(attach.plugin.IsEngineRunning());
    EXPECT_TRUE(Output().empty()) << Output();
    EXPECT_EQ(Eval("[p for p in sys.path if 'x\"' in p][0]"), folder);
    EXPECT_EQ(Eval("len([p for p in sys.path if 'x\"' in p])"), "1");
    attach.plugin.OnRelease();
}

TEST(EngineAttachFolders, StartupScriptFailureShowsItsMessageAndTheEngineRunsOn) {
    TempDir emptyExec; // no MpAPI here: the start-up script's import fails
    // Without MpAPI the message output cannot be reached: the editor's standard error gets the
    // text, here a file.
    const wxString errors = emptyExec.File("stderr.txt");
    const int saved = dup(STDERR_FILENO);
    const int file = open(errors.fn_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_TRUE(saved >= 0 && file >= 0 && dup2(file, STDERR_FILENO) == STDERR_FILENO);
    close(file);
    BareAttach attach;
    host::GetNameItem("ExecPath")->SetAttribute(0, emptyExec.Path());
    attach.plugin.OnAttach();
    auto boxes = attach.modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Load the log code failed.");
    EXPECT_EQ(boxes[0].caption, "Marrowpad Python");
    EXPECT_EQ(boxes[0].style & (wxOK | wxCENTRE), wxOK | wxCENTRE);
    EXPECT_TRUE(attach.plugin.IsEngineRunning());
    attach.plugin.OnRelease();
    dup2(saved, STDERR_FILENO);
    close(saved);
    EXPECT_EQ(attach.modal.PendingCount(), 0u);
    // The streams need nothing of the editor's module: the report, after the reason the output
    // goes there, reached the standard error.
    EXPECT_TRUE(Output().empty()) << Output();
    const wxString said = testing_support::ReadFile(errors);
    EXPECT_TRUE(said.StartsWith("Coilhatch: the editor's message output cannot be reached through "
                                "its Python module MpAPI (ModuleNotFoundError: No module named "
                                "'MpAPI')"))
        << said;
    EXPECT_TRUE(said.Contains("File \"coilhatch/startup.py\"")) << said;
    EXPECT_TRUE(said.EndsWith(wxString(50, '-') + "\n")) << said;
}

TEST(EngineAttachFolders, WithoutWxPythonExactlyTwoMessagesAndReleaseOnlyFinalizes) {
    // A wx package without wxPython's core interface, first on the module path.
    TempDir fake;
    fake.Write("wx/__init__.py", "");
    setenv("PYTHONPATH", fake.Path().utf8_str(), 1);

    BareAttach attach;
    const wxString script = attach.plugins.Write("s.py", "def MpMain(): pass\n");
    attach.plugin.OnAttach();
    unsetenv("PYTHONPATH");

    auto boxes = attach.modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "***** Load wxPython API failed, Python Plugin is unavaible. *****");
    EXPECT_EQ(boxes[0].caption, wxString(wxMessageBoxCaptionStr));
    EXPECT_EQ(boxes[0].style & (wxOK | wxCENTRE), wxOK | wxCENTRE);
    EXPECT_EQ(boxes[1].text, "Init Python Plugin failed.");
    EXPECT_EQ(boxes[1].caption, "Info");
    // The toolkit adds its OK button to a box that names none.
    EXPECT_EQ(boxes[1].style & ~(wxOK | wxCENTRE), wxICON_INFORMATION);

    EXPECT_FALSE(attach.plugin.IsEngineRunning());
    EXPECT_FALSE(attach.plugin.wxPythonLoaded);
    EXPECT_EQ(scriptList, nullptr);
    EXPECT_TRUE(attach.plugin.registry.settingsPath.empty());
    EXPECT_FALSE(Py_IsInitialized());

    // No engine: scripts do not run, and nothing is shown.
    EXPECT_FALSE(attach.plugin.RunScript(script, false));
    EXPECT_FALSE(attach.plugin.RunScript(script + "-missing", true));

    attach.plugin.OnRelease(); // a second finalization, harmless
    EXPECT_EQ(attach.modal.PendingCount(), 0u);
    EXPECT_FALSE(wxFileName::FileExists(attach.plugins.Path() + "/Coilhatch.xml"));
    EXPECT_TRUE(Output().empty()) << Output();
}

TEST_F(EngineRelease, RunsTheScriptsAtexitFunctionsOnce) {
    EXPECT_TRUE(plugin->RunScript(Script("bye.py", "import atexit\n"
                                                   "atexit.register(print, 'bye')\n"
                                                   "def MpMain(): pass\n"),
                                  false));
    plugin->OnRelease();
    plugin.reset();
    EXPECT_EQ(Output(), "bye\n");
    EXPECT_EQ(scriptList, nullptr);
}

TEST_F(EngineRelease, EditorControlsKeepWorkingAfterRelease) {
    auto* control = new wxStyledTextCtrl(editor->Frame());
    EXPECT_TRUE(plugin->RunScript(Script("touch.py", "import wx.stc\n"
                                                     "def MpMain():\n"
                                                     "    wx.stc.StyledTextCtrl\n"),
                                  false));
    plugin->OnRelease();
    plugin.reset();

    control->SetText("after release");
    control->AppendText("\nmore");
    EXPECT_EQ(control->GetText(), "after release\nmore");
    EXPECT_EQ(control->GetLineCount(), 2);
    auto* another = new wxStyledTextCtrl(editor->Frame());
    another->SetText("new");
    EXPECT_EQ(another->GetText(), "new");
    another->Destroy();
    EXPECT_TRUE(testing_support::ProcessEventsUntil([] { return true; }));
}

// Handlers bound to the editor's frame, wx.CallAfter and wx.CallLater (one still pending), a
// window made by a script, a panel of a Python class in the editor's frame and a thread that
// never ends: release neither crashes nor hangs, the editor goes on, and the process ends
// cleanly when the application is destroyed at the end of the test.
TEST_F(EngineRelease, WhatScriptsLeftInTheEditorSurvivesRelease) {
    const wxString path = Script(
        "leftovers.py", "import threading, time, wx\n"
                        "timers = []\n"
                        "class Panel(wx.Panel):\n"
                        "    def __init__(self, parent):\n"
                        "        super().__init__(parent)\n"
                        "        self.Bind(wx.EVT_SIZE, self.on_size)\n"
                        "    def on_size(self, event):\n"
                        "        event.Skip()\n"
                        "import MpAPI\n"
                        "# After release the streams are the editor's own descriptors:\n"
                        "# what handlers say goes to the message output directly.\n"
                        "say = MpAPI.CMessageOutputManagement_Get().GetMessageOutput(0).Append\n"
                        "def on_size(event):\n"
                        "    say('size')\n"
                        "    event.Skip()\n"
                        "def spin():\n"
                        "    while True:\n"
                        "        time.sleep(0.01)\n"
                        "def MpMain():\n"
                        "    frame = [w for w in wx.GetTopLevelWindows()\n"
                        "             if w.GetTitle() == 'Marrowpad'][0]\n"
                        "    frame.Bind(wx.EVT_SIZE, on_size)\n"
                        "    Panel(frame)\n"
                        "    wx.CallAfter(say, 'after\\n')\n"
                        "    # An unreferenced CallLater stops its timer when collected.\n"
                        "    timers.append(wx.CallLater(1, print, 'later'))\n"
                        "    timers.append(wx.CallLater(600000, print, 'much later'))\n"
                        "    wx.Frame(None, title='made by a script').Show()\n"
                        "    threading.Thread(target=spin).start()\n");
    EXPECT_EQ(PythonCallbacksOfTheApp(), 0);
    EXPECT_TRUE(plugin->RunScript(path, true));
    EXPECT_TRUE(plugin->RunScript(path, true));
    // One handler for every wx.CallAfter: the application's wrapper is kept.
    EXPECT_EQ(PythonCallbacksOfTheApp(), 1);

    plugin->OnRelease();
    plugin.reset();

    // Handlers still run after release. Timers of wx.CallLater fall silent: the shutdown work
    // ran sip's exit function, after which Python overrides of C++ methods are not called.
    EXPECT_TRUE(testing_support::ProcessEventsUntil([] {
        return Output().Find("after\nafter\n") != wxNOT_FOUND;
    })) << Output();
    ClearOutput();
    editor->Frame()->SendSizeEvent();
    EXPECT_TRUE(testing_support::ProcessEventsUntil([] {
        return Output().Find("size") != wxNOT_FOUND;
    })) << Output();
    for (wxWindow* window : wxTopLevelWindows)
        if (window->GetLabel() == "made by a script")
            window->Destroy();
    EXPECT_TRUE(testing_support::ProcessEventsUntil([] { return true; }));
}

TEST_F(EngineRelease, ALaterAttachInTheSameProcessTakesOverTheInterpreter) {
    const wxString path = Script("again.py", "def MpMain():\n    print('again')\n");
    EXPECT_TRUE(plugin->RunScript(path, false));
    plugin->OnRelease();
    ClearOutput();

    plugin = std::make_unique<CCoilhatch>();
    plugin->OnAttach();
    ASSERT_TRUE(plugin->IsEngineRunning());
    EXPECT_TRUE(Output().empty()) << Output();
    EXPECT_TRUE(plugin->RunScript(path, false));
    EXPECT_EQ(Output(), "again\n");
    EXPECT_EQ(Eval("sys.path.count('" COILHATCH_BIN_DIR "')"), "1");
}
