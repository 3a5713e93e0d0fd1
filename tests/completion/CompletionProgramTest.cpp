// Completion in the editor program itself: the built plug-in module and the shipped completion
// script in a plug-ins folder, a completion started at a line and column in batch mode, which
// waits for the server's answer.
#include "tests/support/TestSupport.h"

#include <wx/filename.h>

#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

using testing_support::RunProcess;
using testing_support::TempDir;

namespace {

// Prints the completion server's process id; with KILL, then kills the editor's own process.
wxString ServerStatus() {
    return wxString(testing_support::completionServerPid) + R"(
import os, signal

KILL = False

def MpMain():
    print("server pid:", completion_server(), flush=True)
    if KILL:
        os.kill(os.getpid(), signal.SIGKILL)
)";
}

// Fills the current document, a new one, with Python text and gives it the Python lexer.
const char* const fillScript = R"(import MpAPI, wx.stc

def MpMain():
    editor = MpAPI.CEditorManagement_Get().GetCurrentEditor()
    editor.SetText("import os\nos.pa")
    editor.SetLexer(wx.stc.STC_LEX_PYTHON)
)";

// The number after "server pid: " in the output, or 0.
long ServerPid(const wxString& out) {
    long pid = 0;
    const int at = out.Find("server pid: ");
    if (at != wxNOT_FOUND)
        out.Mid(at + 12).BeforeFirst('\n').ToLong(&pid);
    return pid;
}

// True once the process has ended (a zombie that nobody reaps counts as ended), within 30 s.
bool EndsSoon(long pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!testing_support::ProcessEnded(pid)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class CompletionProgram : public ::testing::Test {
protected:
    void SetUp() override {
        plugins = dir.Path() + "/plugins";
        ASSERT_TRUE(wxFileName::Mkdir(plugins + "/python/autocomplete", wxS_DIR_DEFAULT,
                                      wxPATH_MKDIR_FULL));
        for (const wxString name :
             {"Coilhatch.so", "python/autocomplete/autocomp.py",
              "python/autocomplete/autocomp_core.py", "python/autocomplete/autocomp_insight.py",
              "python/autocomplete/autocomp_server.py",
              "python/autocomplete/autocomp_shortcuts.py"}) {
            const wxString built = wxString(COILHATCH_PLUGINS_DIR) + "/" + name;
            ASSERT_TRUE(wxFileName::FileExists(built)) << built;
            ASSERT_EQ(symlink(built.utf8_str(), (plugins + "/" + name).utf8_str()), 0);
        }
    }

    testing_support::ProcessResult Run(std::vector<wxString> args) const {
        args.insert(args.begin(), {wxString(COILHATCH_BIN_DIR) + "/marrowpad", "--batch",
                                   "--plugins-dir", plugins});
        return RunProcess(args, dir.Path());
    }

    testing_support::ProcessResult Complete(const wxString& file, const wxString& where,
                                            bool strict = false) const {
        std::vector<wxString> args = {file, "--complete", where};
        if (strict)
            args.insert(args.begin(), "--strict-interface");
        return Run(args);
    }

    // Registers the status script to run at start.
    void RunStatusAtStart(bool kill) {
        wxString text = ServerStatus();
        if (kill)
            text.Replace("KILL = False", "KILL = True");
        const wxString script = dir.Write("scripts/status.py", text);
        dir.Write("plugins/Coilhatch.xml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n  <Coilhatch>\n"
                  "    <Counts>1</Counts>\n    <Script0>\n      <autoRun>1</autoRun>\n"
                  "      <autoReload>0</autoReload>\n      <name>status</name>\n"
                  "      <location>" +
                      script +
                      "</location>\n      <description>status</description>\n    </Script0>\n"
                      "  </Coilhatch>\n</config>\n");
    }

    TempDir dir;
    wxString plugins;
};

// The list shows in batch mode as a person sees it, once the answer has come, in a saved and in
// an unsaved document (made with File > New and filled by a script of the scripts folder), also
// when the editor offers plug-ins its interface alone and the document's file is unknown.
TEST_F(CompletionProgram, PythonDocumentsSavedOrNotAreCompletedByTheScript) {
    dir.Write("plugins/python/scripts/fill.py", fillScript);
    const wxString saved = dir.Write("tool.py", "import os\nos.pa\n");
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "strict interface" : "with extensions");
        // Where the editor does not tell the document's file, the user is told why modules
        // beside it are not found, once.
        const wxString told = strict ? "The current document is completed as an unsaved text: "
                                       "the editor does not say which file it is; modules beside "
                                       "it are not found.\n"
                                     : "";
        const auto fromFile = Complete(saved, "2:6", strict);
        EXPECT_EQ(fromFile.status, 0) << fromFile.err;
        // The list is in jedi's order, without regard to case: pardir comes before path.
        EXPECT_EQ(fromFile.out, told + "[completion] pardir\n") << fromFile.out << fromFile.err;

        std::vector<wxString> args = {
            "--select", "File/New", "--select", "Tools/Python Script/fill", "--complete", "2:6"};
        if (strict)
            args.insert(args.begin(), "--strict-interface");
        const auto unsaved = Run(args);
        EXPECT_EQ(unsaved.status, 0) << unsaved.err;
        EXPECT_EQ(unsaved.out, told + "[completion] pardir\n") << unsaved.out << unsaved.err;
    }

    // The same text in a plain document is left to the editor's word completion: no word of it
    // starts with "pa".
    const auto plain = Complete(dir.Write("notes.txt", "import os\nos.pa\n"), "2:6");
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "[completion] none\n") << plain.out;
}

// The completion script knows which file the document is, so modules beside it are found (the
// editor runs in another folder).
TEST_F(CompletionProgram, ModulesBesideTheDocumentAreCompletedAndTheServerEndsWithTheEditor) {
    RunStatusAtStart(false);
    dir.Write("project/neighbour.py", "def neighbour_function():\n    pass\n");
    const wxString document = dir.Write("project/tool.py", "import neighbour\nneighbour.neigh\n");
    const auto result = Complete(document, "2:16");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.Contains("[completion] neighbour_function\n")) << result.out;
    const long server = ServerPid(result.out);
    ASSERT_GT(server, 0) << result.out;
    EXPECT_TRUE(EndsSoon(server));
}

TEST_F(CompletionProgram, AKilledEditorLeavesNoServerBehind) {
    RunStatusAtStart(true);
    const auto result = Complete(dir.Write("tool.py", "import os\n"), "1:1");
    EXPECT_NE(result.status, 0);
    const long server = ServerPid(result.out);
    ASSERT_GT(server, 0) << result.out;
    EXPECT_TRUE(EndsSoon(server));
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

namespace {

// Batch mode says what a person would see of a document's findings, a name's help and its
// definition; without pyflakes the editor says once that diagnostics need it, and completes.
TEST_F(CompletionProgram, BatchModePrintsFindingsHelpAndDefinitions) {
    const wxString document = dir.Write("tool.py", "import os\n"
                                                   "import sys\n"
                                                   "\n"
                                                   "def helper(value):\n"
                                                   "    return value\n"
                                                   "\n"
                                                   "x = undefined_name\n"
                                                   "helper(x)\n"
                                                   "os.path.join('a')\n");
    const auto result = Run({document, "--hover", "9:10", "--goto", "8:2"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "[diagnostic] 2:1: 'sys' imported but unused\n"
                          "[diagnostic] 7:5: undefined name 'undefined_name'\n"
                          "[hover] join(a: StrPath, *paths: StrPath) -> str\n"
                          "[goto] " +
                              document + ":4\n")
        << result.err;

    const auto elsewhere = Run({document, "--goto", "9:10"});
    EXPECT_TRUE(elsewhere.out.EndsWith("[goto] /usr/lib/python3.11/posixpath.py:71\n"))
        << elsewhere.out << elsewhere.err;
    const auto nowhere = Run({document, "--goto", "7:8"});
    EXPECT_TRUE(nowhere.out.EndsWith("[goto] none\n")) << nowhere.out << nowhere.err;

    // Under the editor's interface alone the markers are a person's to see.
    const auto strict = Run({"--strict-interface", document});
    EXPECT_EQ(strict.out, "") << strict.err;

    // A pyflakes that cannot be imported comes first on the server's path.
    dir.Write("nopyflakes/pyflakes/__init__.py", "raise ImportError('no pyflakes here')\n");
    setenv("PYTHONPATH", dir.File("nopyflakes").utf8_str(), 1);
    const auto without = Run({document, "--complete", "9:5"});
    unsetenv("PYTHONPATH");
    EXPECT_EQ(without.status, 0) << without.err;
    EXPECT_EQ(without.out, "Diagnostics in Python documents need pyflakes (Debian's package "
                           "python3-pyflakes).\n"
                           "[completion] pardir\n")
        << without.out << without.err;
}

} // namespace
