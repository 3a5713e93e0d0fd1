// The scripts folder from the editor program's command line, in batch mode: its files are
// chosen by their labels, New Script writes one, Open Scripts Folder only tells where it is.
#include "tests/support/PluginsFolder.h"
#include "tests/support/TestSupport.h"

#include <wx/ffile.h>
#include <wx/filename.h>

using testing_support::Describe;
using testing_support::PluginsFolder;
using testing_support::ProcessResult;
using testing_support::RunProcess;

namespace {

ProcessResult RunEditor(std::vector<wxString> args) {
    args.insert(args.begin(), COILHATCH_BIN_DIR "/marrowpad");
    return RunProcess(args);
}

TEST(E2EScriptsFolder, AFolderScriptIsChosenByItsLabelAndNewScriptWritesOneThatRuns) {
    const PluginsFolder plugins(std::vector<testing_support::ScriptFile>{
        {"registered", "def MpMain():\n    print('ran registered')\n"}});
    const wxString folder = plugins.Path() + "/python/scripts";
    ASSERT_TRUE(wxFileName::Mkdir(folder, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL));
    ASSERT_TRUE(
        wxFFile(folder + "/tally.py", "w").Write("def MpMain():\n    print('ran tally')\n"));

    const wxString newScript = wxString::FromUTF8("Tools/Python Script/New Script\xE2\x80\xA6");
    const ProcessResult result = RunEditor(
        {"--batch", "--plugins-dir", plugins.Path(), "--select", "Tools/Python Script/tally",
         "--select", newScript, "--input", "fresh", "--select", "Tools/Python Script/fresh",
         "--select", "Tools/Python Script/Open Scripts Folder"});
    ASSERT_EQ(result.status, 0) << Describe(result);
    // The new script was opened in the editor, so it counts its own file.
    const wxString written = testing_support::ReadFile(folder + "/fresh.py");
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(result.out, "ran tally\n"
                          "[input box] New Script: Name of the new script:\n" +
                              wxString::Format("%d lines, %d characters\n", written.Freq('\n') + 1,
                                               static_cast<int>(written.length())) +
                              "Scripts folder: " + folder + "\n")
        << Describe(result);
}

} // namespace
