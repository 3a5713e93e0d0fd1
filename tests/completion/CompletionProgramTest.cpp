// Completion in the editor program itself: the built plug-in module and the shipped completion
// script in a plug-ins folder, a completion started at a line and column in batch mode.
#include "tests/support/TestSupport.h"

#include <wx/filename.h>

#include <unistd.h>

using testing_support::RunProcess;
using testing_support::TempDir;

namespace {

// Waits until the completion's warm-up has ended (at most a minute) and says whether it has.
const char* const waitForWarmUp = R"(import sys, time

def MpMain():
    core = sys.modules["autocomp_core"]
    deadline = time.monotonic() + 60
    while not core.warm_up_ended() and time.monotonic() < deadline:
        time.sleep(0.05)
    print("warm-up ended:", core.warm_up_ended())
)";

class CompletionProgram : public ::testing::Test {
protected:
    void SetUp() override {
        plugins = dir.Path() + "/plugins";
        ASSERT_TRUE(wxFileName::Mkdir(plugins + "/python/autocomplete", wxS_DIR_DEFAULT,
                                      wxPATH_MKDIR_FULL));
        for (const wxString name :
             {"Coilhatch.so", "python/autocomplete/autocomp.py",
              "python/autocomplete/autocomp_core.py", "python/autocomplete/warmup.py"}) {
            const wxString built = wxString(COILHATCH_PLUGINS_DIR) + "/" + name;
            ASSERT_TRUE(wxFileName::FileExists(built)) << built;
            ASSERT_EQ(symlink(built.utf8_str(), (plugins + "/" + name).utf8_str()), 0);
        }
    }

    testing_support::ProcessResult Complete(const wxString& file, const wxString& where) const {
        return RunProcess({wxString(COILHATCH_BIN_DIR) + "/marrowpad", "--batch", "--plugins-dir",
                           plugins, file, "--complete", where},
                          dir.Path());
    }

    TempDir dir;
    wxString plugins;
};

TEST_F(CompletionProgram, PythonDocumentsAreCompletedByTheScript) {
    const wxString text = "import os\nos.pa\n";
    const auto python = Complete(dir.Write("tool.py", text), "2:6");
    EXPECT_EQ(python.status, 0) << python.err;
    // The list sorts without regard to case, so os.pardir comes before os.path.
    EXPECT_TRUE(python.out.Contains("[completion] pardir\n")) << python.out;
    EXPECT_FALSE(python.out.Contains("Traceback")) << python.out;
    EXPECT_FALSE(python.out.Contains("[message box]")) << python.out;

    // The same text in a plain document is left to the editor's word completion: no word of it
    // starts with "pa".
    const auto plain = Complete(dir.Write("notes.txt", text), "2:6");
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_TRUE(plain.out.Contains("[completion] none\n")) << plain.out;
}

// The completion script knows which file the document is, so modules beside it are found (the
// editor runs in another folder). Only jedi finds them: a script run at start waits for the
// warm-up, so that the request does not answer without it on a busy machine.
TEST_F(CompletionProgram, ModulesBesideTheDocumentAreCompleted) {
    const wxString waiter = dir.Write("scripts/waitwarm.py", waitForWarmUp);
    dir.Write("plugins/Coilhatch.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n  <Coilhatch>\n"
              "    <Counts>1</Counts>\n    <Script0>\n      <autoRun>1</autoRun>\n"
              "      <autoReload>0</autoReload>\n      <name>waitwarm.py</name>\n"
              "      <location>" +
                  waiter +
                  "</location>\n      <description>waits</description>\n    </Script0>\n"
                  "  </Coilhatch>\n</config>\n");
    dir.Write("project/neighbour.py", "def neighbour_function():\n    pass\n");
    const wxString document = dir.Write("project/tool.py", "import neighbour\nneighbour.neigh\n");
    const auto result = Complete(document, "2:16");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.Contains("warm-up ended: True\n")) << result.out;
    EXPECT_TRUE(result.out.Contains("[completion] neighbour_function\n")) << result.out;
}

TEST_F(CompletionProgram, MissingScriptIsReportedByTheRunner) {
    ASSERT_EQ(unlink((plugins + "/python/autocomplete/autocomp.py").utf8_str()), 0);
    const auto result = Complete(dir.Write("tool.py", "import os\nos.pa\n"), "2:6");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.Contains("[message box] Message: Python script does not exist:" +
                                    plugins + "/python/autocomplete/autocomp.py"))
        << result.out;
    EXPECT_TRUE(result.out.Contains("[completion] none\n")) << result.out;
}

} // namespace
