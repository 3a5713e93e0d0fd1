// The scripts folder's items in the Python Script submenu, New Script, Open Scripts Folder and
// the scripts' shortcuts on their items, with the plug-in attached so that scripts really run.
#include "engine/Coilhatch.h"
#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "tests/support/ScriptEntries.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/textdlg.h>

#include <memory>
#include <string>
#include <vector>

using testing_support::EditorEnvironment;
using testing_support::TempDir;

namespace {

const wxString newScriptLabel = wxString::FromUTF8("New Script\xE2\x80\xA6");

class ScriptsFolderMenu : public testing_support::WxTest {
protected:
    void SetUp() override {
        plugin.OnAttach();
        attached = true;
        ASSERT_TRUE(plugin.IsEngineRunning());
    }
    void TearDown() override {
        if (attached)
            plugin.OnRelease();
        WxTest::TearDown();
    }

    // A file of the scripts folder whose top level and MpMain each print a line.
    wxString FolderScript(const wxString& name) const {
        return dir.Write("python/scripts/" + name + ".py",
                         "print('loaded " + name + "')\ndef MpMain():\n    print('ran " + name +
                             "')\n");
    }

    ScriptEntry* Register(const wxString& name, const wxString& location) {
        return testing_support::AddScriptEntry(name, location, "", false, false);
    }

    // The labels after the fixed items and their separator; "----" for a separator.
    std::vector<wxString> ScriptLabels() const {
        std::vector<wxString> labels;
        const wxMenuItemList& items = plugin.menu.scriptMenu->GetMenuItems();
        size_t position = 0;
        for (const wxMenuItem* item : items)
            if (position++ >= 6)
                labels.push_back(item->IsSeparator() ? wxString("----") : item->GetItemLabelText());
        return labels;
    }

    wxMenuItem* ItemLabelled(const wxString& label) const {
        for (wxMenuItem* item : plugin.menu.scriptMenu->GetMenuItems())
            if (!item->IsSeparator() && item->GetItemLabelText() == label)
                return item;
        return nullptr;
    }

    bool Choose(int id) {
        wxCommandEvent event(wxEVT_MENU, id);
        return plugin.ProcessEvent(event);
    }

    // The Tools menu opens, as the toolkit tells it.
    void OpenTools() {
        wxMenu* tools = env.MenuBar()->GetMenu(env.MenuBar()->FindMenu("&Tools"));
        wxMenuEvent open(wxEVT_MENU_OPEN, 0, tools);
        wxMenu::ProcessMenuEvent(tools, open, env.Frame());
    }

    static int Occurrences(const wxString& text) {
        return EditorEnvironment::OutputOccurrences(text);
    }

    TempDir dir; // the plug-ins folder
    EditorEnvironment env{dir.Path()};
    CCoilhatch plugin;
    bool attached = false;
};

TEST_F(ScriptsFolderMenu, FolderFilesFollowTheRegisteredScriptsSortedAndRunWithReload) {
    FolderScript("zed");
    FolderScript("Beta");
    FolderScript("alpha");
    const wxString both = FolderScript("both");
    Register("tally", dir.Write("elsewhere/tally.py", "def MpMain():\n    print('ran tally')\n"));
    Register("both", both); // registered too: shown once, as the registered script

    plugin.BuildMenu(env.MenuBar());

    EXPECT_EQ(ScriptLabels(),
              (std::vector<wxString>{"tally", "both", "----", "alpha", "Beta", "zed"}));
    wxMenuItem* alpha = ItemLabelled("alpha");
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->GetHelp(), dir.Path() + "/python/scripts/alpha.py");
    EXPECT_TRUE(alpha->IsEnabled());

    // Each run takes the file as it is now.
    EXPECT_TRUE(Choose(alpha->GetId()));
    EXPECT_TRUE(Choose(alpha->GetId()));
    EXPECT_EQ(Occurrences("ran alpha"), 2);
    EXPECT_EQ(Occurrences("loaded alpha"), 2);
    EXPECT_TRUE(Choose(ItemLabelled("both")->GetId()));
    EXPECT_EQ(Occurrences("ran both"), 1);
}

TEST_F(ScriptsFolderMenu, TheFolderIsMadeAtTheStartAndReadAfreshWhenToolsOpens) {
    const wxString folder = dir.Path() + "/python/scripts";
    ASSERT_FALSE(wxFileName::DirExists(folder));
    plugin.BuildMenu(env.MenuBar());
    EXPECT_TRUE(wxFileName::DirExists(folder));
    // No registered script: the fixed separator is the only one above the folder's files.
    EXPECT_TRUE(ScriptLabels().empty());

    FolderScript("later");
    EXPECT_TRUE(ScriptLabels().empty());
    OpenTools();
    EXPECT_EQ(ScriptLabels(), (std::vector<wxString>{"later"}));
    const int laterId = ItemLabelled("later")->GetId();

    // A rebuild after the dialog reads the folder again too; a file gone loses its item.
    wxRemoveFile(folder + "/later.py");
    FolderScript("first");
    Register("kept", dir.Write("elsewhere/kept.py", "def MpMain():\n    pass\n"));
    scriptList->modified = true;
    modal.SetDialogHandler([](wxDialog*) { return wxID_OK; });
    EXPECT_TRUE(Choose(scriptManagementId));
    EXPECT_EQ(ScriptLabels(), (std::vector<wxString>{"kept", "----", "first"}));
    EXPECT_EQ(ItemLabelled("first")->GetId(), laterId); // ids are reused, each bound once
    EXPECT_TRUE(Choose(laterId));
    EXPECT_EQ(Occurrences("ran first"), 1);

    // The folder's items do not count against the registered scripts.
    for (unsigned i = scriptList->GetCount(); i < MaxScriptNum; ++i)
        Register(wxString::Format("s%u", i), dir.Path() + "/elsewhere/kept.py");
    EXPECT_TRUE(Choose(scriptManagementId));
    EXPECT_EQ(ScriptLabels().size(), MaxScriptNum + 2);
    EXPECT_EQ(ScriptLabels().back(), "first");
}

TEST_F(ScriptsFolderMenu, NewScriptWritesTheTemplateOpensItAndRefusesAnExistingName) {
    plugin.BuildMenu(env.MenuBar());
    std::vector<wxString> opened;
    env.Frame()->Bind(wxEVT_EDITOR_OPEN,
                      [&](wxCommandEvent& event) { opened.push_back(event.GetString()); });
    wxString answer;
    wxString prompt;
    modal.SetDialogHandler([&](wxDialog* dialog) {
        auto* entry = dynamic_cast<wxTextEntryDialog*>(dialog);
        EXPECT_NE(entry, nullptr);
        if (!entry)
            return wxID_CANCEL;
        prompt = entry->GetTitle();
        entry->SetValue(answer);
        return wxID_OK;
    });
    ASSERT_NE(ItemLabelled(newScriptLabel), nullptr);
    const int newScript = ItemLabelled(newScriptLabel)->GetId();

    answer = " tool.py ";
    EXPECT_TRUE(Choose(newScript));
    EXPECT_EQ(prompt, "New Script");
    const wxString path = dir.Path() + "/python/scripts/tool.py";
    const wxString text = testing_support::ReadFile(path);
    EXPECT_TRUE(text.StartsWith("\"\"\"tool: ")) << text;
    EXPECT_TRUE(text.Contains("import MpAPI\n")) << text;
    EXPECT_TRUE(text.Contains("def MpMain():\n    editor = MpAPI.CEditorManagement_Get()."
                              "GetCurrentEditor()\n"))
        << text;
    EXPECT_EQ(opened, std::vector<wxString>{path});
    ASSERT_NE(ItemLabelled("tool"), nullptr);

    // The template runs: without a document it says so.
    EXPECT_TRUE(Choose(ItemLabelled("tool")->GetId()));
    EXPECT_EQ(modal.TakeTexts(), std::vector<wxString>{"Open a document first."});

    // An existing name, and names that cannot name a file in the folder, are refused.
    dir.Write("python/scripts/tool.py", "kept\n");
    for (const char* name : {"tool", "sub/dir", ".hidden"}) {
        answer = name;
        EXPECT_TRUE(Choose(newScript));
        const std::vector<wxString> boxes = modal.TakeTexts();
        ASSERT_EQ(boxes.size(), 1u) << name;
        EXPECT_TRUE(boxes[0].Contains(name)) << boxes[0];
    }
    EXPECT_EQ(testing_support::ReadFile(path), "kept\n");
    EXPECT_EQ(opened.size(), 1u);

    // Cancelled: nothing happens.
    answer.clear();
    EXPECT_TRUE(Choose(newScript));
    EXPECT_EQ(modal.PendingCount(), 0u);
}

TEST_F(ScriptsFolderMenu, OpenScriptsFolderShowsTheFolderOrSaysWhereItIs) {
    plugin.BuildMenu(env.MenuBar());
    std::vector<wxString> shown;
    bool started = true;
    plugin.menu.showFolder = [&](const wxString& folder) {
        shown.push_back(folder);
        return started;
    };
    const wxString folder = dir.Path() + "/python/scripts";
    wxRmdir(folder); // gone since the start: made again
    EXPECT_TRUE(Choose(plugin.menu.openFolderId));
    EXPECT_EQ(shown, std::vector<wxString>{folder});
    EXPECT_TRUE(wxFileName::DirExists(folder));
    EXPECT_EQ(modal.PendingCount(), 0u);

    started = false;
    EXPECT_TRUE(Choose(plugin.menu.openFolderId));
    const std::vector<wxString> boxes = modal.TakeTexts();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].Contains("\"" + folder + "\"")) << boxes[0];
}

TEST_F(ScriptsFolderMenu, AScriptsItemShowsItsShortcutUnlessAnItemBeforeItHoldsIt) {
    env.MenuBar()->GetMenu(0)->Append(wxID_SAVE, "&Save\tCtrl+S");
    ScriptEntry* keyed = Register("keyed", dir.Write("elsewhere/keyed.py", ""));
    keyed->shortcut = "alt+ctrl+1";
    Register("clash", dir.Path() + "/elsewhere/keyed.py")->shortcut = "Ctrl+S";
    Register("again", dir.Path() + "/elsewhere/keyed.py")->shortcut = "Ctrl+Alt+1";
    Register("nonsense", dir.Path() + "/elsewhere/keyed.py")->shortcut = "Ctrl+Nothing";
    // The editor's own key, which no menu shows: the dialog refuses it, and so does the menu.
    Register("space", dir.Path() + "/elsewhere/keyed.py")->shortcut = "ctrl+space";
    Register("tools", dir.Path() + "/elsewhere/keyed.py")->shortcut = "Alt+T";

    plugin.BuildMenu(env.MenuBar());

    const struct {
        const char* label;
        int flags; // 0: no shortcut
        int key;
    } expected[] = {{"keyed", wxACCEL_CTRL | wxACCEL_ALT, '1'},
                    {"clash", 0, 0},
                    {"again", 0, 0},
                    {"nonsense", 0, 0},
                    {"space", 0, 0},
                    {"tools", 0, 0}};
    for (const auto& e : expected) {
        wxMenuItem* item = ItemLabelled(e.label);
        ASSERT_NE(item, nullptr) << e.label;
        const std::unique_ptr<wxAcceleratorEntry> accel(item->GetAccel());
        if (!e.flags) {
            EXPECT_EQ(accel, nullptr) << e.label;
            continue;
        }
        ASSERT_NE(accel, nullptr) << e.label;
        EXPECT_EQ(accel->GetFlags(), e.flags);
        EXPECT_EQ(accel->GetKeyCode(), e.key);
    }
    // The stored text is kept as it was: nothing of the file is lost.
    EXPECT_EQ(scriptList->Get(1)->shortcut, "Ctrl+S");
    EXPECT_EQ(keyed->shortcut, "alt+ctrl+1");
}

// A location relative to the plug-ins folder (as scripts/run.sh writes them) names the same
// file for the runner and for the scripts folder's list: the script shows once.
TEST_F(ScriptsFolderMenu, ARegisteredFolderScriptGivenRelativelyIsShownOnce) {
    FolderScript("rel");
    FolderScript("other");
    Register("rel", "python/scripts/rel.py");
    Register("dotted", "./python/scripts/../scripts/other.py");

    plugin.BuildMenu(env.MenuBar());

    EXPECT_EQ(ScriptLabels(), (std::vector<wxString>{"rel", "dotted"}));
    EXPECT_TRUE(Choose(ItemLabelled("rel")->GetId()));
    EXPECT_EQ(Occurrences("ran rel"), 1);
}

} // namespace
