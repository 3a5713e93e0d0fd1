// The editor program's command line and the menu paths that --select names.
#include "host/app/CommandLine.h"

#include <gtest/gtest.h>
#include <wx/menu.h>

namespace {

bool Parse(std::vector<wxString> args, CCommandLine& line, wxString& error) {
    return ParseCommandLine(args, line, error);
}

} // namespace

TEST(AppCommandLine, ReadsEveryOptionAndTheFilesInOrder) {
    CCommandLine line;
    wxString error;
    ASSERT_TRUE(Parse({"--plugins-dir", "/p", "--select", "Tools/A", "a.py", "--select=File/New",
                       "--complete", "3:7", "--batch", "b.txt", "--", "--not-an-option"},
                      line, error))
        << error;
    EXPECT_EQ(line.pluginsDir, "/p");
    ASSERT_EQ(line.selections.size(), 2u);
    EXPECT_EQ(line.selections[0], "Tools/A");
    EXPECT_EQ(line.selections[1], "File/New");
    EXPECT_TRUE(line.complete);
    EXPECT_EQ(line.completeLine, 3);
    EXPECT_EQ(line.completeColumn, 7);
    EXPECT_TRUE(line.batch);
    ASSERT_EQ(line.files.size(), 3u);
    EXPECT_EQ(line.files[0], "a.py");
    EXPECT_EQ(line.files[1], "b.txt");
    EXPECT_EQ(line.files[2], "--not-an-option");
}

TEST(AppCommandLine, RejectsWrongOptionsWithAMessage) {
    const std::vector<std::vector<wxString>> wrong = {
        {"--bogus"},
        {"-x"},
        {"--select"},
        {"--plugins-dir"},
        {"--complete", "3"},
        {"--complete", "0:1"},
        {"--complete", "1:0"},
        {"--complete", "a:b"},
        {"--complete", "1:2x"},
        {"--batch=yes"},
        {"--select", ""},
    };
    for (const auto& args : wrong) {
        CCommandLine line;
        wxString error;
        EXPECT_FALSE(Parse(args, line, error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

TEST(AppCommandLine, FindsMenuItemsByPlainLabels) {
    wxMenuBar bar;
    auto* tools = new wxMenu;
    auto* scripts = new wxMenu;
    scripts->Append(101, "Script &Management");
    scripts->AppendSeparator();
    scripts->Append(102, "a/b"); // a script whose name holds the separator
    scripts->Append(103, "a");
    tools->AppendSubMenu(scripts, "&Python Script");
    tools->Append(104, "&Run\tCtrl+R");
    bar.Append(tools, "&Tools");

    auto idAt = [&bar](const wxString& path) {
        wxMenuItem* item = FindMenuItemByPath(&bar, path);
        return item ? item->GetId() : -1;
    };
    EXPECT_EQ(idAt("Tools/Python Script/Script Management"), 101);
    EXPECT_EQ(idAt("Tools/Python Script/a/b"), 102);
    EXPECT_EQ(idAt("Tools/Python Script/a"), 103);
    EXPECT_EQ(idAt("Tools/Run"), 104);
    EXPECT_NE(idAt("Tools/Python Script"), -1); // the submenu's item itself
    EXPECT_EQ(idAt("Tools/&Run"), -1);
    EXPECT_EQ(idAt("Tools/Run\tCtrl+R"), -1);
    EXPECT_EQ(idAt("Tools/Nothing"), -1);
    EXPECT_EQ(idAt("Tools"), -1);
    EXPECT_EQ(idAt("Tools/"), -1);
    EXPECT_EQ(idAt("File/Run"), -1);
    EXPECT_EQ(idAt("Tools/Python Script/a/c"), -1);
}

// The help names every option, and says when --stop-after counts from.
TEST(AppCommandLine, HelpNamesEveryOptionAndWhenStopIsPressed) {
    const wxString usage = CommandLineUsage();
    for (const char* option : {"--plugins-dir", "--select", "--complete", "--batch", "--stop-after",
                               "--input", "--strict-interface", "--help"})
        EXPECT_TRUE(usage.Contains(option)) << option;
    EXPECT_TRUE(usage.Contains("press Stop once a script's Running window has been\n"
                               "                     up S seconds"))
        << usage;
}
