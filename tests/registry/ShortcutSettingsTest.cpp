// Scripts' shortcuts through the settings file, and the scripts folder's files.
#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "registry/ScriptRegistry.h"
#include "registry/ScriptsFolder.h"
#include "tests/support/ScriptEntries.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>

#include <unistd.h>

#include <vector>

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

class ShortcutSettings : public testing_support::WxTest {
protected:
    void SetUp() override {
        registry.settingsPath = dir.File("Coilhatch.xml");
        scriptList = new ScriptList;
    }
    void TearDown() override {
        delete scriptList;
        scriptList = nullptr;
        WxTest::TearDown();
    }

    TempDir dir;
    ScriptRegistry registry;
};

TEST_F(ShortcutSettings, AShortcutSurvivesASaveAndALoadAndNoneIsWrittenWhenThereIsNone) {
    testing_support::AddScriptEntry("keyed", "/s/keyed.py", "", false, false)->shortcut =
        "Ctrl+Alt+1";
    testing_support::AddScriptEntry("plain", "/s/plain.py", "", false, false);
    registry.Save();
    const wxString saved = ReadFile(registry.settingsPath);
    EXPECT_TRUE(saved.Contains("<shortcut>Ctrl+Alt+1</shortcut>")) << saved;
    EXPECT_EQ(saved.Find("<shortcut"), saved.rfind("<shortcut")) << saved; // one only

    scriptList->DeleteAll();
    registry.Load();
    ASSERT_EQ(scriptList->GetCount(), 2u);
    EXPECT_EQ(scriptList->Get(0)->shortcut, "Ctrl+Alt+1");
    EXPECT_TRUE(scriptList->Get(1)->shortcut.empty());
    EXPECT_EQ(modal.PendingCount(), 0u); // the element is no disagreement
    EXPECT_FALSE(wxFileName::Exists(registry.settingsPath + ".bak"));
}

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
    CNameService::Get()->GetNameItem("PluginsPath")->SetAttribute(0, dir.Path());
    EXPECT_EQ(ScriptsFolderPath(), dir.Path() + "/python/scripts");
    EXPECT_TRUE(MakeScriptsFolder(ScriptsFolderPath()));
    EXPECT_TRUE(wxFileName::DirExists(dir.Path() + "/python/scripts"));

    const wxString file = dir.Write("plain", "a file, not a folder");
    wxString reason;
    EXPECT_FALSE(MakeScriptsFolder(file + "/python/scripts", &reason));
    EXPECT_FALSE(reason.empty());
}

} // namespace
