// Output as a terminal user knows it, in the editor program: what children, C code and Python
// write reaches the Output pane and batch mode's standard output in the order it was written,
// with or without the editor's extensions; and scripts that take the standard descriptors, run
// a thread out of memory, make a wx.App or signal themselves neither cut the output off nor end
// the editor.
#include "engine/Coilhatch.h"
#include "host/app/MainFrame.h"
#include "host/lib/PluginManager.h"
#include "host/lib/Services.h"
#include "tests/support/PluginsFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wx/app.h>

using testing_support::Describe;
using testing_support::PluginsFolder;
using testing_support::ProcessResult;
using testing_support::RunProcess;
using testing_support::ScriptFile;

namespace {

const wxString program = COILHATCH_BIN_DIR "/marrowpad";

// Prints around a child's, a shell's and the C library's output. Standard output is buffered by
// blocks in batch mode to a pipe, as python3's: a print that must come before a child's output
// is flushed, as it must be outside.
const char* const childrenScript = "import ctypes, os, subprocess, sys\n"
                                   "def MpMain():\n"
                                   "    print('before', flush=True)\n"
                                   "    subprocess.run(['echo', 'hi'])\n"
                                   "    os.system('echo hi')\n"
                                   "    libc = ctypes.CDLL(None)\n"
                                   "    libc.printf(b'from C\\n')\n"
                                   "    libc.fflush(None)\n"
                                   "    print('after')\n";
const wxString childrenOutput = "before\nhi\nhi\nfrom C\nafter\n";

ProcessResult RunBatch(const PluginsFolder& plugins, const std::vector<wxString>& scripts,
                       bool strict = false) {
    std::vector<wxString> args = {program, "--batch", "--plugins-dir", plugins.Path()};
    if (strict)
        args.push_back("--strict-interface");
    for (const wxString& script : scripts) {
        args.push_back("--select");
        args.push_back("Tools/Python Script/" + script);
    }
    return RunProcess(args);
}

class E2EStreamsBothWays : public ::testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(Interface, E2EStreamsBothWays, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Strict" : "Extended"; });

} // namespace

TEST_P(E2EStreamsBothWays, ChildrenAndTheCLibraryReachBatchOutputInOrder) {
    const PluginsFolder plugins({ScriptFile{"children", childrenScript}});
    const ProcessResult result = RunBatch(plugins, {"children"}, GetParam());
    ASSERT_EQ(result.status, 0) << Describe(result);
    // Without the store's in-place editing, the test folder's comment among the scripts' settings
    // is announced at load as something a save cannot keep; the output follows that line.
    wxString out = result.out;
    if (GetParam() && out.StartsWith("[message box] Python Script: The script settings file"))
        out = out.AfterFirst('\n');
    EXPECT_EQ(out, childrenOutput) << Describe(result);
}

// The Output pane of the editor's frame shows the same, in the same order.
TEST(EditorStreams, ChildrenAndTheCLibraryReachThePaneInOrder) {
    testing_support::TempDir pluginsDir;
    testing_support::TempDir scripts;
    host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
    host::GetNameItem("PluginsPath")->SetAttribute(0, pluginsDir.Path());
    auto* frame = new CMainFrame;
    frame->Show();
    host::GetMessageOutput(0)->Clear();
    auto* plugin = new CCoilhatch;
    frame->Plugins().AddPlugin(plugin, "Coilhatch");
    frame->Plugins().BuildMenus(frame->GetMenuBar());
    ASSERT_TRUE(plugin->IsEngineRunning());
    // The C library's FILE stdout is this test's own: it writes to descriptor 1 here.
    wxString script = childrenScript;
    ASSERT_EQ(script.Replace("libc.printf(b'from C\\n')", "libc.dprintf(1, b'from C\\n')"), 1u);
    EXPECT_TRUE(plugin->RunScript(scripts.Write("children.py", script), false));
    EXPECT_EQ(frame->GetOutputText(), childrenOutput);
    frame->ReleasePlugins();
    frame->Destroy();
    wxTheApp->ProcessIdle();
}

// A script that takes descriptors 1 and 2 (closes them, puts a file there) affects its own run:
// its failure report reaches the output, the next script's output too, and the editor ends
// well.
TEST(E2EStreams, ScriptsThatTakeDescriptorsOneAndTwoCannotCutTheOutputOff) {
    const PluginsFolder plugins(
        {{"replaces", "import os\n"
                      "def MpMain():\n"
                      "    print('before', flush=True)\n"
                      "    null = os.open(os.devnull, os.O_WRONLY)\n"
                      "    os.dup2(null, 1)\n"
                      "    os.dup2(null, 2)\n"
                      "    os.close(null)\n"
                      "    print('into the null device', flush=True)\n"},
         ScriptFile{"closes", "import os\n"
                              "def MpMain():\n"
                              "    os.close(1)\n"
                              "    os.close(2)\n"
                              "    raise RuntimeError('told all the same')\n"},
         ScriptFile{"next", "def MpMain():\n    print('next')\n"}});
    const ProcessResult result = RunBatch(plugins, {"replaces", "next", "closes", "next"});
    ASSERT_EQ(result.status, 1) << Describe(result); // "closes" failed
    EXPECT_TRUE(result.out.StartsWith("before\nnext\nTraceback")) << Describe(result);
    EXPECT_TRUE(result.out.Contains("RuntimeError: told all the same\n")) << Describe(result);
    EXPECT_TRUE(result.out.EndsWith(wxString(50, '-') + "\nnext\n")) << Describe(result);
    EXPECT_FALSE(result.out.Contains("null device")) << Describe(result);
}

// A thread that runs out of memory under an address-space limit has its traceback shown; one
// whose descriptor 2 is gone has it shown too.
TEST(E2EStreams, AThreadsTracebackReachesTheOutputUnderAMemoryLimitAndWithoutDescriptorTwo) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows";
#endif
    const PluginsFolder plugins(
        {ScriptFile{"grabs",
                    "import resource, threading\n"
                    "def grab():\n"
                    "    held = []\n"
                    "    while True:\n"
                    "        held.append(bytearray(10**7))\n"
                    "def MpMain():\n"
                    "    soft, hard = resource.getrlimit(resource.RLIMIT_AS)\n"
                    "    with open('/proc/self/status') as status:\n"
                    "        size = [int(line.split()[1]) * 1024 for line in status\n"
                    "                if line.startswith('VmSize:')][0]\n"
                    "    resource.setrlimit(resource.RLIMIT_AS, (size + 300 * 2**20, hard))\n"
                    "    try:\n"
                    "        thread = threading.Thread(target=grab, name='grabber')\n"
                    "        thread.start()\n"
                    "        thread.join()\n"
                    "    finally:\n"
                    "        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))\n"
                    "    print('after the thread')\n"},
         ScriptFile{"nostderr", "import os, threading\n"
                                "def fail():\n"
                                "    raise ValueError('in the thread')\n"
                                "def MpMain():\n"
                                "    os.close(2)\n"
                                "    thread = threading.Thread(target=fail, name='lonely')\n"
                                "    thread.start()\n"
                                "    thread.join()\n"},
         ScriptFile{"next", "def MpMain():\n    print('next')\n"}});
    const ProcessResult result = RunBatch(plugins, {"grabs", "nostderr", "next"});
    ASSERT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(result.out.StartsWith("Exception in thread grabber:\nTraceback"))
        << Describe(result);
    EXPECT_TRUE(result.out.Contains("held.append(bytearray(10**7))")) << Describe(result);
    EXPECT_TRUE(result.out.Contains("MemoryError\nafter the thread\n")) << Describe(result);
    EXPECT_TRUE(result.out.Contains("Exception in thread lonely:\nTraceback")) << Describe(result);
    EXPECT_TRUE(result.out.Contains("ValueError: in the thread\n")) << Describe(result);
    EXPECT_TRUE(result.out.EndsWith("next\n")) << Describe(result);
}

// wx.App() and a script that signals itself: the editor lives, with its window or without, and
// the next script runs.
TEST(E2EStreams, WxAppAndSigintInAScriptNeverEndTheEditor) {
    const char* const app = "import wx\n"
                            "class MyApp(wx.App):\n"
                            "    def OnInit(self):\n"
                            "        self.frame = wx.Frame(None, title='mine')\n"
                            "        self.frame.Show()\n"
                            "        return True\n"
                            "def MpMain():\n"
                            "    app = wx.App()\n"
                            "    frame = wx.Frame(None)\n"
                            "    frame.Show()\n"
                            "    app.MainLoop()\n"
                            "    mine = MyApp()\n"
                            "    mine.MainLoop()\n"
                            "    wx.Yield()\n"
                            "    print('app', app is mine)\n";
    const char* const last =
        "import os, wx, MpAPI\n"
        "def MpMain():\n"
        "    print('next')\n"
        "    if os.environ.get('CLOSE'):\n"
        "        wx.CallAfter(MpAPI.CAppManagement_Get().GetAppWindow().Close)\n";
    const PluginsFolder plugins(
        {ScriptFile{"app", app},
         ScriptFile{"interrupt", "import signal\n"
                                 "def MpMain():\n"
                                 "    signal.raise_signal(signal.SIGINT)\n"},
         ScriptFile{"next", last}});
    ProcessResult result = RunBatch(plugins, {"app", "interrupt", "next"});
    ASSERT_EQ(result.status, 1) << Describe(result); // "interrupt" failed
    EXPECT_TRUE(result.out.StartsWith("app True\nTraceback")) << Describe(result);
    EXPECT_TRUE(result.out.Contains("KeyboardInterrupt")) << Describe(result);
    EXPECT_TRUE(result.out.EndsWith("next\n")) << Describe(result);

    // With the editor's window and its main loop.
    setenv("CLOSE", "1", 1);
    result = RunProcess({program, "--plugins-dir", plugins.Path(), "--select",
                         "Tools/Python Script/app", "--select", "Tools/Python Script/interrupt",
                         "--select", "Tools/Python Script/next"});
    unsetenv("CLOSE");
    EXPECT_EQ(result.status, 0) << Describe(result);
}
