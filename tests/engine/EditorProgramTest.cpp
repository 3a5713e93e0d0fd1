// The engine inside the editor program, run in batch mode as a command would run it: what only
// a whole program shows (a fatal error ends it; toolkit assertions reach its standard error).
#include "tests/support/PluginsFolder.h"

#include <gtest/gtest.h>
#include <wx/filename.h>

#include <sys/stat.h>

using testing_support::Describe;
using testing_support::PluginsFolder;
using testing_support::ProcessResult;
using testing_support::RunProcess;

namespace {

ProcessResult RunScriptInEditor(const PluginsFolder& plugins, const wxString& name) {
    return RunProcess({COILHATCH_BIN_DIR "/marrowpad", "--batch", "--plugins-dir", plugins.Path(),
                       "--select", "Tools/Python Script/" + name});
}

} // namespace

// The report of a fatal error reaches the editor's standard error, whether faulthandler writes
// it where the engine set it, or to sys.stderr as a script asked, or not at all (turned off by a
// script), and the next start shows it.
// (The scripts leave no core file behind.)
TEST(EditorProgram, AFatalErrorLeavesItsReportOnStandardErrorAndTheNextStartShowsIt) {
    const struct {
        const char* name;
        const char* source;
    } cases[] = {
        // An earlier report readable by others is there when this one is written.
        {"crash",
         "import faulthandler, resource; resource.setrlimit(resource.RLIMIT_CORE, (0, 0))\n"
         "def MpMain():\n"
         "    import MpAPI, os; folder = MpAPI.CNameService_Get().GetNameItem('PluginsPath')"
         ".GetAttribute(0); os.close(os.open(folder + '/Coilhatch.crash', os.O_CREAT, 0o644))\n"
         "    faulthandler._sigsegv()\n"},
        {"crashtostderr", "import ctypes, faulthandler, resource, sys; "
                          "resource.setrlimit(resource.RLIMIT_CORE, (0, 0))\n"
                          "def MpMain():\n"
                          "    faulthandler.enable(sys.stderr)\n"
                          "    ctypes.string_at(0)\n"},
        {"crashwithoutfaulthandler", "import ctypes, faulthandler, resource; "
                                     "resource.setrlimit(resource.RLIMIT_CORE, (0, 0))\n"
                                     "def MpMain():\n"
                                     "    faulthandler.disable()\n"
                                     "    ctypes.string_at(0)\n"},
    };
    for (const auto& crash : cases) {
        SCOPED_TRACE(crash.name);
        PluginsFolder plugins({{crash.name, crash.source}, {"fine", "def MpMain(): pass\n"}});
        const ProcessResult crashed = RunScriptInEditor(plugins, crash.name);
#if defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer's own handler, called after ours, ends the process with status 1.
        EXPECT_NE(crashed.status, 0) << Describe(crashed);
#else
        EXPECT_GE(crashed.status, 128) << Describe(crashed);
#endif
        EXPECT_TRUE(crashed.err.Contains("Fatal Python error: Segmentation fault"))
            << Describe(crashed);
        EXPECT_TRUE(crashed.err.Contains(wxString(crash.name) + ".py\", line 4 in MpMain"))
            << Describe(crashed);
        const wxString reportFile = plugins.Path() + "/Coilhatch.crash";
        EXPECT_TRUE(wxFileName::FileExists(reportFile));
        // Its stacks are the owner's alone.
        struct stat st {};
        ASSERT_EQ(stat(reportFile.fn_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        const ProcessResult next = RunScriptInEditor(plugins, "fine");
        EXPECT_EQ(next.status, 0) << Describe(next);
        const int told = next.out.Find("The last run of the editor ended in a fatal error.");
        ASSERT_NE(told, wxNOT_FOUND) << Describe(next);
        EXPECT_NE(next.out.find("Fatal Python error: Segmentation fault", told), wxString::npos)
            << Describe(next);
        EXPECT_NE(next.out.find(wxString(crash.name) + ".py\", line 4 in MpMain", told),
                  wxString::npos)
            << Describe(next);
        // Told once.
        EXPECT_FALSE(wxFileName::FileExists(reportFile));
        const ProcessResult third = RunScriptInEditor(plugins, "fine");
        EXPECT_FALSE(third.out.Contains("fatal error")) << Describe(third);
    }
}

// A wx.lib program drawn with the stock colours shows without a toolkit assertion.
TEST(EditorProgram, AnAgwAuiFrameShowsWithoutAnAssertion) {
    PluginsFolder plugins({testing_support::ScriptFile{
        "auiframe", "import wx\n"
                    "import wx.lib.agw.aui as aui\n"
                    "def MpMain():\n"
                    "    frame = wx.Frame(None, title='aui', size=(500, 400))\n"
                    "    manager = aui.AuiManager(frame)\n"
                    "    book = aui.AuiNotebook(frame)\n"
                    "    for title in ('one', 'two'):\n"
                    "        book.AddPage(wx.TextCtrl(book, style=wx.TE_MULTILINE), title)\n"
                    "    manager.AddPane(book, aui.AuiPaneInfo().CenterPane())\n"
                    "    manager.AddPane(wx.TextCtrl(frame), aui.AuiPaneInfo().Left()\n"
                    "                    .Caption('side'))\n"
                    "    manager.Update()\n"
                    "    frame.Show()\n"
                    "    frame.Update()\n"
                    "    wx.SafeYield()\n"
                    "    manager.UnInit()\n"
                    "    frame.Destroy()\n"
                    "    print('shown')\n"}});
    const ProcessResult result = RunScriptInEditor(plugins, "auiframe");
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "shown\n") << Describe(result);
    EXPECT_FALSE(result.err.Contains("ssert")) << Describe(result);
}
