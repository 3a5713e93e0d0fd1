// Scripts that tear down what the editor and the plug-in stand on: the menu bar, the main window,
// the application's loop, wxPython inside a subinterpreter. The editor refuses or survives each,
// and ends cleanly. And a flood of output from a handler after the script's run: the Output pane
// keeps its newest text.
#include "host/app/MainFrame.h"
#include "host/app/OutputPane.h"
#include "host/lib/Services.h"
#include "tests/support/PluginsFolder.h"
#include "tests/support/TestSupport.h"

#include <wx/app.h>

#include <unistd.h>

using testing_support::Describe;
using testing_support::ProcessEventsUntil;
using testing_support::ProcessResult;
using testing_support::RunEditorInBatch;
using testing_support::RunProcess;
using testing_support::TempDir;

namespace {

using Plugins = testing_support::PluginsFolder;
using Script = testing_support::ScriptFile;

const Script next{"next", "def MpMain():\n    print('next ran')\n"};

// Each script fails, or does what it may, and says how; the next script runs, Script Management
// opens, and the editor ends with status 1 (a script failed) and its settings whole.
TEST(E2ETeardown, TheMenuBarTheMainWindowAndWxInASubinterpreterAreRefusedOrSurvived) {
    struct Case {
        const char* name;
        const char* body; // MpMain's, `frame` being the main window
        const char* said; // in the output (a subinterpreter's own report: its standard error)
    };
    const Case cases[] = {
        {"destroy the menu bar", "    frame.GetMenuBar().Destroy()\n",
         "RuntimeError: the editor's menu bar is not destroyed by scripts"},
        {"destroy it through wx.Window", "    wx.Window.Destroy(frame.GetMenuBar())\n",
         "RuntimeError: the editor's menu bar is not destroyed by scripts"},
        {"destroy the main window", "    frame.Destroy()\n",
         "RuntimeError: the editor's main window is not destroyed by scripts"},
        {"destroy it later", "    wx.TopLevelWindow.DestroyLater(frame)\n",
         "RuntimeError: the editor's main window is not destroyed by scripts"},
        {"schedule its destruction", "    wx.PyApp.ScheduleForDestruction(wx.GetApp(), frame)\n",
         "RuntimeError: the editor's main window is not destroyed by scripts"},
        {"wx in a subinterpreter",
         "    import _xxsubinterpreters as interpreters\n"
         "    interpreters.run_string(interpreters.create(), 'import wx')\n",
         "<class 'ImportError'>: wx cannot be imported in a subinterpreter"},
        {"MpAPI in a subinterpreter",
         "    import _xxsubinterpreters as interpreters, os\n"
         "    folder = os.path.dirname(MpAPI.__file__)\n"
         "    interpreters.run_string(interpreters.create(),\n"
         "                            f'import sys; sys.path.append({folder!r}); import MpAPI')\n",
         "<class 'ImportError'>: MpAPI cannot be imported in a subinterpreter"},
        {"wx in a test subinterpreter",
         "    import _testcapi\n"
         "    _testcapi.run_in_subinterp('from wx import core')\n"
         "    raise SystemExit(2)\n",
         "ImportError: wx cannot be imported in a subinterpreter"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Plugins plugins({Script{"teardown", wxString("import MpAPI, wx\n"
                                                           "def MpMain():\n"
                                                           "    frame = MpAPI.CAppManagement_Get()"
                                                           ".GetAppWindow()\n") +
                                                      c.body},
                               next});
        const ProcessResult result = RunEditorInBatch(
            plugins, {"teardown", "next", "Tools/Python Script/Script Management", "next"});
        EXPECT_EQ(result.status, 1) << Describe(result);
        EXPECT_TRUE((result.out + result.err).Contains(c.said)) << Describe(result);
        EXPECT_TRUE(result.out.EndsWith("next ran\nnext ran\n")) << Describe(result);
        EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
    }
}

// A script's timer tears at the editor while Script Management is open, in the editor's window:
// it changes the dialog's description (to what the teardown raised, if anything), then calls
// wx.Exit(). The dialog ends, the change is saved, and the editor ends (status 0) instead of
// running on or crashing.
TEST(E2ETeardown, WhileScriptManagementIsOpenTheEditorRefusesOrEndsWithTheChangeSaved) {
    struct Case {
        const char* tear; // the timer's first deed
        const char* saved;
    };
    const Case cases[] = {
        {"pass", "changed before the exit"},
        {"MpAPI.CAppManagement_Get().GetAppWindow().Destroy()",
         "main window is not destroyed by scripts: Close() it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tear);
        const Plugins plugins({Script{
            "manage",
            wxString("import MpAPI, wx\n"
                     "def tear(dialog, field):\n"
                     "    try:\n"
                     "        field.SetValue('changed before the exit')\n"
                     "        ") +
                c.tear +
                "\n"
                "    except RuntimeError as error:\n"
                "        field.SetValue(str(error))\n"
                "    wx.CallLater(100, wx.Exit)\n"
                "def find():\n"
                "    for window in wx.GetTopLevelWindows():\n"
                "        field = window.FindWindow(10022)\n"
                "        if isinstance(window, wx.Dialog) and window.IsModal() and field:\n"
                "            return tear(window, field)\n"
                "    wx.CallLater(50, find)\n"
                "def MpMain():\n"
                "    frame = MpAPI.CAppManagement_Get().GetAppWindow()\n"
                "    item = frame.GetMenuBar().FindMenuItem('Tools', 'Script Management')\n"
                "    wx.CallLater(50, find)\n"
                "    wx.CallAfter(frame.ProcessEvent, wx.CommandEvent(wx.wxEVT_MENU, item))\n",
            true}});
        const ProcessResult result =
            RunProcess({"/usr/bin/timeout", "-s", "KILL", "30", COILHATCH_BIN_DIR "/marrowpad",
                        "--plugins-dir", plugins.Path()});
        EXPECT_EQ(result.status, 0) << Describe(result);
        EXPECT_TRUE(plugins.Settings().Contains(c.saved)) << plugins.Settings();
    }
}

// The frame with the plug-in module loaded from a plug-ins folder of the test's own, and a
// script "s" of the given source.
class E2ETeardownWindow : public testing_support::WxTest {
protected:
    void Load(const wxString& source) {
        const wxString module = wxString(COILHATCH_PLUGINS_DIR) + "/Coilhatch.so";
        ASSERT_EQ(symlink(module.fn_str(), plugins.File("Coilhatch.so").fn_str()), 0);
        const wxString path = scripts.Write("s.py", source);
        plugins.Write("Coilhatch.xml",
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config><Coilhatch>"
                      "<Counts>1</Counts><Script0><autoRun>0</autoRun><autoReload>0</autoReload>"
                      "<name>s</name><location>" +
                          path +
                          "</location><description>d</description></Script0>"
                          "</Coilhatch></config>\n");
        host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
        host::GetNameItem("PluginsPath")->SetAttribute(0, plugins.Path());
        frame = new CMainFrame;
        frame->Show();
        frame->LoadPlugins(plugins.Path());
    }
    void TearDown() override {
        if (frame) {
            frame->ReleasePlugins();
            frame->Destroy();
            wxTheApp->ProcessIdle();
        }
        WxTest::TearDown();
    }

    TempDir plugins;
    TempDir scripts;
    CMainFrame* frame = nullptr;
};

// A timer of the script's prints hundreds of thousands of lines at once after its run, line by
// line or in one write: the pane holds the newest 4 MB of them, whole lines, ending with the last.
TEST_F(E2ETeardownWindow, AFloodFromATimerLeavesTheNewestFourMegabytesInThePane) {
    struct Case {
        int lines;
        bool oneWrite;
    };
    const Case cases[] = {{1000000, false}, {700000, false}, {1000000, true}};
    Load("import wx\n"
         "def flood(lines, one_write):\n"
         "    if one_write:\n"
         "        print('\\n'.join('line %07d' % i + '.' * 20 for i in range(lines)))\n"
         "    else:\n"
         "        for i in range(lines):\n"
         "            print('line %07d' % i + '.' * 20)\n"
         "    print('last line')\n"
         "def MpMain():\n"
         "    with open(__file__[:-len('s.py')] + 'flood.txt') as asked:\n"
         "        lines, one_write = asked.read().split()\n"
         "    wx.CallLater(50, flood, int(lines), one_write == '1')\n");
    COutputPane* pane = frame->GetOutputPane();
    for (const Case& c : cases) {
        SCOPED_TRACE(wxString::Format("%d lines, %s", c.lines, c.oneWrite ? "one write" : "each"));
        host::GetMessageOutput(0)->Clear();
        scripts.Write("flood.txt", wxString::Format("%d %d", c.lines, c.oneWrite ? 1 : 0));
        ASSERT_TRUE(ProcessEventsUntil([&] { return pane->GetLength() == 0; }));
        wxString error;
        ASSERT_TRUE(frame->SelectMenuPath("Tools/Python Script/s", error)) << error.utf8_str();
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return host::GetMessageOutput(0)->GetText().EndsWith("last line\n"); }, 60000));
        EXPECT_TRUE(ProcessEventsUntil(
            [&] { return pane->GetLineText(pane->GetLineCount() - 2) == "last line"; }, 20000))
            << pane->GetLength();
        const wxString shown = pane->GetText();
        EXPECT_TRUE(shown.EndsWith(".\nlast line\n")) << shown.Right(200).utf8_str();
        EXPECT_LE(pane->GetLength(), COutputPane::MaxLength);
        EXPECT_GE(pane->GetLength(), COutputPane::MaxLength - COutputPane::TrimStep - 100);
        EXPECT_TRUE(shown.StartsWith("line ")) << shown.Left(100).utf8_str();
        EXPECT_TRUE(
            shown.Contains(wxString::Format("line %07d", c.lines - 1) + wxString('.', 20) + "\n"));
    }
}

// The same at the pane's door, step by step: a burst longer than the output keeps reaches the pane
// as its newest 4 MB; the little that follows joins them.
TEST_F(E2ETeardownWindow, TextAfterABurstCutShortJoinsThePane) {
    frame = new CMainFrame;
    frame->Show();
    host::MessageOutput* output = host::GetMessageOutput(0);
    output->Clear();
    const auto lines = [](int count) {
        wxString text;
        for (int i = 0; i < count; ++i)
            text += wxString::Format("line %07d", i) + wxString('.', 19) + "\n"; // 32 bytes
        return text;
    };
    output->Append(lines(300000)); // 9.6 MB: 8 MB wait, and the pane takes the last 4
    frame->GetOutputText();
    output->Append("last line\n");
    const wxString shown = frame->GetOutputText();
    EXPECT_GE(shown.length(), static_cast<size_t>(COutputPane::MaxLength - COutputPane::TrimStep))
        << shown.Left(200).utf8_str();
    EXPECT_TRUE(shown.EndsWith(".\nlast line\n")) << shown.Right(100).utf8_str();
}

} // namespace
