// Scripts that pull the rug from under the editor, run in batch mode: each time the editor lives
// (exit status 0), the next script runs, and the settings file is whole.
#include "tests/support/PluginsFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wx/filename.h>
#include <wx/utils.h>

#include <sys/stat.h>

using testing_support::Describe;
using testing_support::ProcessResult;
using testing_support::RunEditorInBatch;
using testing_support::RunProcess;

namespace {

using Plugins = testing_support::PluginsFolder;
using Script = testing_support::ScriptFile;

const Script next{"next", "def MpMain():\n    print('next ran')\n"};

// The menu bar taken away, then menu choices of every kind: the editor keeps its menus.
TEST(E2EHostileScripts, ARemovedMenuBarThenAnyMenuChoice) {
    const Plugins plugins(
        {Script{"nomenu", "import MpAPI\n"
                          "def MpMain():\n"
                          "    frame = MpAPI.CAppManagement_Get().GetAppWindow()\n"
                          "    frame.SetMenuBar(None)\n"
                          "    print('menu bar:', frame.GetMenuBar() is not None)\n"},
         next});
    const ProcessResult result = RunEditorInBatch(
        plugins, {"nomenu", "next", "Tools/Python Script/Script Management", "File/New", "next"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(result.out.StartsWith("menu bar: True\nnext ran\n")) << Describe(result);
    EXPECT_TRUE(result.out.EndsWith("next ran\n")) << Describe(result);
    EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
}

// A script that deletes the settings file under a umask that lets no one read a new file: the
// release writes the list again, readable by its owner, and the next start has it.
TEST(E2EHostileScripts, ADeletedSettingsFileUnderUmask777) {
    const Plugins plugins({Script{"erase", "import MpAPI, os\n"
                                           "def MpMain():\n"
                                           "    folder = MpAPI.CNameService_Get()"
                                           ".GetNameItem('PluginsPath').GetAttribute(0)\n"
                                           "    os.umask(0o777)\n"
                                           "    os.remove(folder + '/Coilhatch.xml')\n"},
                           next});
    ProcessResult result = RunEditorInBatch(plugins, {"erase", "next"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "next ran\n") << Describe(result);
    struct stat st {};
    ASSERT_EQ(stat((plugins.Path() + "/Coilhatch.xml").fn_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0600, 0600u);
    EXPECT_TRUE(plugins.Whole(false)) << plugins.Settings();

    result = RunEditorInBatch(plugins, {"next"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "next ran\n") << Describe(result);
}

// Settings files in UTF-32 and EBCDIC load their scripts.
TEST(E2EHostileScripts, SettingsInUtf32AndIbm037LoadTheirScripts) {
    for (const char* encoding : {"UTF-32", "IBM037"}) {
        SCOPED_TRACE(encoding);
        const Plugins plugins({next});
        const wxString path = plugins.Path() + "/Coilhatch.xml";
        wxString text = plugins.Settings();
        text.Replace("encoding=\"UTF-8\"", wxString::Format("encoding=\"%s\"", encoding));
        const ProcessResult converted = RunProcess(
            {"/bin/sh", "-c",
             wxString::Format("printf '%%s' \"$1\" | iconv -f UTF-8 -t %s > \"$2\"", encoding),
             "sh", text, path});
        ASSERT_EQ(converted.status, 0) << Describe(converted);
        const ProcessResult result = RunEditorInBatch(plugins, {"next"});
        EXPECT_EQ(result.status, 0) << Describe(result);
        EXPECT_EQ(result.out, "next ran\n") << Describe(result);
    }
}

} // namespace
