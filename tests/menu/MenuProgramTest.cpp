// The submenu in the editor program itself: the built plug-in module loaded from a plug-ins
// folder with a settings file, scripts chosen by their menu path in batch mode.
#include "tests/support/TestSupport.h"

#include <wx/filename.h>

#include <unistd.h>

using testing_support::RunProcess;
using testing_support::TempDir;

namespace {

class MenuProgram : public ::testing::Test {
protected:
    void SetUp() override {
        plugins = dir.Path() + "/plugins";
        ASSERT_TRUE(wxFileName::Mkdir(plugins, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL));
        const wxString module = wxString(COILHATCH_PLUGINS_DIR) + "/Coilhatch.so";
        ASSERT_TRUE(wxFileName::FileExists(module)) << module;
        ASSERT_EQ(symlink(module.utf8_str(), (plugins + "/Coilhatch.so").utf8_str()), 0);
    }

    // The settings file with the given <ScriptN> sections.
    void WriteSettings(int count, const wxString& sections) const {
        dir.Write("plugins/Coilhatch.xml",
                  wxString::Format("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n"
                                   "  <Coilhatch>\n    <Counts>%d</Counts>\n",
                                   count) +
                      sections + "  </Coilhatch>\n</config>\n");
    }

    static wxString Section(int index, const wxString& name, const wxString& location,
                            bool autoRun) {
        return wxString::Format("    <Script%d>\n      <autoRun>%d</autoRun>\n"
                                "      <autoReload>0</autoReload>\n      <name>%s</name>\n"
                                "      <location>%s</location>\n"
                                "      <description>test script</description>\n    </Script%d>\n",
                                index, autoRun ? 1 : 0, name, location, index);
    }

    testing_support::ProcessResult Run(const std::vector<wxString>& selections) const {
        std::vector<wxString> args{wxString(COILHATCH_BIN_DIR) + "/marrowpad", "--batch",
                                   "--plugins-dir", plugins};
        for (const auto& path : selections) {
            args.push_back("--select");
            args.push_back(path);
        }
        return RunProcess(args, dir.Path());
    }

    TempDir dir;
    wxString plugins;
};

TEST_F(MenuProgram, ChosenScriptPrintsToStandardOutput) {
    const wxString greet =
        dir.Write("scripts/greet.py", "def MpMain():\n    print('greetings from greet')\n");
    const wxString start =
        dir.Write("scripts/start.py", "def MpMain():\n    print('started at build')\n");
    WriteSettings(2, Section(0, "greet.py", greet, false) + Section(1, "start.py", start, true));

    const auto result = Run({"Tools/Python Script/greet", "Tools/Python Script/greet"});

    EXPECT_EQ(result.status, 0) << result.out << result.err;
    const std::string out = result.out.utf8_string();
    const size_t started = out.find("started at build");
    const size_t greeted = out.find("greetings from greet");
    ASSERT_NE(started, std::string::npos) << out;
    ASSERT_NE(greeted, std::string::npos) << out;
    EXPECT_LT(started, greeted); // auto-run scripts run while the menus are built
    EXPECT_NE(out.find("greetings from greet", greeted + 1), std::string::npos) << "chosen twice";
    EXPECT_EQ(out.find("started at build", started + 1), std::string::npos) << "ran only once";
    EXPECT_EQ(out.find("[message box]"), std::string::npos) << out;
}

TEST_F(MenuProgram, AutoRunItemCannotBeChosen) {
    const wxString start =
        dir.Write("scripts/start.py", "def MpMain():\n    print('started at build')\n");
    WriteSettings(1, Section(0, "start.py", start, true));

    const auto result = Run({"Tools/Python Script/start"});

    EXPECT_EQ(result.status, 2) << result.out << result.err;
    EXPECT_FALSE(result.err.empty());
}

} // namespace
