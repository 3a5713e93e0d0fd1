// The scripts folder's files.
#include "registry/ScriptsFolder.h"
#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>

#include <unistd.h>

#include <vector>

using testing_support::TempDir;

namespace {

TEST(ScriptsFolder, ListsPythonFilesByNameWithoutHiddenOnesFoldersOrRegisteredFiles) {
    TempDir dir;
    const wxString folder = dir.Path() + "/python/scripts";
    wxString reason;
    ASSERT_TRUE(MakeScriptsFolder(folder, &reason)) << reason;
    for (const char* name : {"zeta.py", "Alpha.py", "alpha.py", "beta.py", "notes.txt", ".#beta.py",
                             "old.pyc", "a.b.py", "registered.py"})
        dir.Write(wxString("python/scripts/") + name, "def MpMain():\n    pass\n");
    ASSERT_TRUE(wxFileName::Mkdir(folder + "/package.py"));
    ASSERT_EQ(symlink("beta.py", (folder + "/linked.py").utf8_str()), 0);

    ScriptList registered;
    auto* entry = new ScriptEntry;
    entry->location = folder + "/../scripts/registered.py"; // the same file, written otherwise
    ASSERT_TRUE(registered.Add(entry));

    std::vector<wxString> labels;
    for (const FolderScript& script : ListFolderScripts(folder, &registered)) {
        labels.push_back(script.label);
        EXPECT_EQ(script.path, folder + "/" + script.label + ".py");
    }
    EXPECT_EQ(labels, (std::vector<wxString>{"a.b", "Alpha", "alpha", "beta", "linked", "zeta"}));
    EXPECT_EQ(ListFolderScripts(folder, nullptr).size(), 7u);
    EXPECT_TRUE(ListFolderScripts(dir.Path() + "/missing", nullptr).empty());
}

TEST(ScriptsFolder, IsMadeBelowThePluginsFolderAndAFolderThatCannotBeMadeIsTold) {
    TempDir dir;
    host::GetNameItem("PluginsPath")->SetAttribute(0, dir.Path());
    EXPECT_EQ(ScriptsFolderPath(), dir.Path() + "/python/scripts");
    EXPECT_TRUE(MakeScriptsFolder(ScriptsFolderPath()));
    EXPECT_TRUE(wxFileName::DirExists(dir.Path() + "/python/scripts"));

    const wxString file = dir.Write("plain", "a file, not a folder");
    wxString reason;
    EXPECT_FALSE(MakeScriptsFolder(file + "/python/scripts", &reason));
    EXPECT_FALSE(reason.empty());
}

} // namespace
