// The Python Script submenu in a real menu bar, driven by real menu commands, with the plug-in
// attached so that scripts really run.
#include "dialog/ManagePythonScript.h"
#include "engine/Coilhatch.h"
#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "tests/support/ScriptEntries.h"
#include "tests/support/StopWindow.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>
#include <wx/filepicker.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/translation.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

using testing_support::EditorEnvironment;
using testing_support::TempDir;

namespace {

constexpr const char* separatorLabel = "----";
const wxString newScriptLabel = wxString::FromUTF8("New Script\xE2\x80\xA6");

class MenuTest : public testing_support::WxTest {
protected:
    void TearDown() override {
        if (attached)
            plugin.OnRelease();
        WxTest::TearDown();
    }

    void Attach() {
        plugin.OnAttach();
        attached = true;
        ASSERT_TRUE(plugin.IsEngineRunning());
        ASSERT_NE(scriptList, nullptr);
    }

    // A script whose MpMain prints `tag` to the editor's message output.
    wxString Script(const wxString& file, const wxString& tag) const {
        return dir.Write("scripts/" + file, "def MpMain():\n    print('" + tag + "')\n");
    }

    ScriptEntry* AddEntry(const wxString& name, const wxString& location, bool autoRun = false,
                          const wxString& description = "") {
        return testing_support::AddScriptEntry(name, location, description, autoRun, false);
    }

    // The "Python Script" submenu as the menu bar holds it.
    wxMenu* SubMenu() const {
        wxMenuBar* bar = env.MenuBar();
        const int tools = bar->FindMenu("&Tools");
        if (tools == wxNOT_FOUND)
            return nullptr;
        wxMenu* toolsMenu = bar->GetMenu(tools);
        const int id = toolsMenu->FindItem("Python Script");
        wxMenuItem* item = id == wxNOT_FOUND ? nullptr : toolsMenu->FindItem(id);
        return item ? item->GetSubMenu() : nullptr;
    }

    static std::vector<wxString> Labels(const wxMenu* menu) {
        std::vector<wxString> labels;
        for (const wxMenuItem* item : menu->GetMenuItems())
            labels.push_back(item->IsSeparator() ? wxString(separatorLabel)
                                                 : item->GetItemLabelText());
        return labels;
    }

    static std::vector<wxMenuItem*> Items(const wxMenu* menu) {
        std::vector<wxMenuItem*> items;
        for (wxMenuItem* item : menu->GetMenuItems())
            items.push_back(item);
        return items;
    }

    // A menu command as the editor forwards it from its frame to the plug-in object.
    bool Choose(int id) {
        wxCommandEvent event(wxEVT_MENU, id);
        return plugin.ProcessEvent(event);
    }

    static int Occurrences(const wxString& text) {
        return EditorEnvironment::OutputOccurrences(text);
    }

    TempDir dir; // the plug-ins folder; the scripts live in its "scripts" folder
    EditorEnvironment env{dir.Path()};
    CCoilhatch plugin;
    bool attached = false;
};

// The submenu's labels: its fixed items, the separator, then the scripts'.
std::vector<wxString> WithFixedItems(std::initializer_list<wxString> scripts) {
    std::vector<wxString> labels{"Script Management", "Python Console",      "Run Current Document",
                                 newScriptLabel,      "Open Scripts Folder", separatorLabel};
    labels.insert(labels.end(), scripts);
    return labels;
}

void ExpectFixedItems(const std::vector<wxMenuItem*>& items) {
    ASSERT_GE(items.size(), 6u);
    EXPECT_EQ(items[0]->GetId(), scriptManagementId);
    EXPECT_EQ(items[0]->GetItemLabelText(), "Script Management");
    EXPECT_TRUE(items[0]->GetHelp().empty());
    EXPECT_EQ(items[0]->GetKind(), wxITEM_NORMAL);
    EXPECT_TRUE(items[0]->GetBitmap().IsOk());
    EXPECT_EQ(items[0]->GetBitmap().GetWidth(), 16);
    EXPECT_TRUE(items[5]->IsSeparator());
}

TEST_F(MenuTest, EmptyListGivesTheFixedItemsAndSeparatorAtTheEndOfTools) {
    ASSERT_NO_FATAL_FAILURE(Attach());
    wxMenu* tools = env.MenuBar()->GetMenu(env.MenuBar()->FindMenu("&Tools"));
    tools->Append(wxID_ANY, "Word Count");

    plugin.BuildMenu(env.MenuBar());

    ASSERT_EQ(tools->GetMenuItemCount(), 2u);
    wxMenuItem* last = tools->FindItemByPosition(1);
    EXPECT_EQ(last->GetItemLabelText(), "Python Script");
    EXPECT_EQ(last->GetSubMenu(), plugin.menu.scriptMenu);
    EXPECT_TRUE(last->GetHelp().empty());
    const std::vector<wxString> expected = WithFixedItems({});
    EXPECT_EQ(Labels(plugin.menu.scriptMenu), expected);
    ExpectFixedItems(Items(plugin.menu.scriptMenu));
    EXPECT_TRUE(EditorEnvironment::OutputText().empty());
}

TEST_F(MenuTest, ItemsFollowTheListAndAutoRunScriptsRunOnlyWhenTheMenuIsBuilt) {
    ASSERT_NO_FATAL_FAILURE(Attach());
    ScriptEntry* count = AddEntry("count.py", Script("count.py", "ran count"), false, "Counts");
    ScriptEntry* starter =
        AddEntry("tools/starter.py", Script("starter.py", "ran starter"), true, "Runs at start");
    ScriptEntry* dotted = AddEntry("a.b.c", Script("dotted.py", "ran dotted"));
    AddEntry("R&D\tCtrl+S", Script("rnd.py", "ran rnd"));
    // Names that reduce to nothing (a settings section without a name, say).
    AddEntry("dir/", Script("dir.py", "ran dir"));
    AddEntry("", Script("nameless.py", "ran nameless"));
    AddEntry("", "");

    plugin.BuildMenu(env.MenuBar());

    wxMenu* menu = SubMenu();
    ASSERT_EQ(menu, plugin.menu.scriptMenu);
    // The name shows as a file name without folder and extension, "&" and tab included as text;
    // a script without a name shows its file's name.
    const std::vector<wxString> expected =
        WithFixedItems({"count", "starter", "a.b", "R&D Ctrl+S", "dir/", "nameless", "(unnamed)"});
    EXPECT_EQ(Labels(menu), expected);
    std::vector<wxMenuItem*> items = Items(menu);
    ExpectFixedItems(items);
    EXPECT_EQ(items[6]->GetId(), count->menuId);
    EXPECT_EQ(items[6]->GetHelp(), "Counts");
    EXPECT_EQ(items[7]->GetId(), starter->menuId);
    EXPECT_EQ(items[7]->GetHelp(), "Runs at start");
    EXPECT_EQ(items[8]->GetId(), dotted->menuId);
    EXPECT_TRUE(items[9]->GetAccel() == nullptr); // a name never takes a shortcut key
    EXPECT_TRUE(items[6]->IsEnabled());
    EXPECT_FALSE(items[7]->IsEnabled());
    EXPECT_EQ(Occurrences("ran starter"), 1);
    EXPECT_EQ(Occurrences("ran count"), 0);

    // Choosing an item runs its script, each time.
    EXPECT_TRUE(Choose(count->menuId));
    EXPECT_TRUE(Choose(count->menuId));
    EXPECT_TRUE(Choose(dotted->menuId));
    EXPECT_EQ(Occurrences("ran count"), 2);
    EXPECT_EQ(Occurrences("ran dotted"), 1);

    // A rebuild after the dialog keeps the auto-run item disabled and does not run it again.
    scriptList->modified = true;
    modal.SetDialogHandler([](wxDialog*) { return wxID_OK; });
    EXPECT_TRUE(Choose(scriptManagementId));
    EXPECT_EQ(modal.DialogsShown(), 1);
    items = Items(plugin.menu.scriptMenu);
    ASSERT_EQ(items.size(), 13u);
    EXPECT_FALSE(items[7]->IsEnabled());
    EXPECT_EQ(items[7]->GetId(), starter->menuId);
    EXPECT_EQ(Occurrences("ran starter"), 1);
    EXPECT_EQ(scriptList->modified, true);

    // The items' commands are still connected after the rebuild, once each.
    EXPECT_TRUE(Choose(count->menuId));
    EXPECT_EQ(Occurrences("ran count"), 3);
}

// The Stop window of a long run names the script as its item does, and is wide enough for its
// texts; a script without a location says so by its name.
TEST_F(MenuTest, TheRunningWindowNamesTheScriptAsItsItemAndFitsItsTexts) {
    ASSERT_NO_FATAL_FAILURE(Attach());
    const wxString looping = "def MpMain():\n    while True:\n        pass\n";
    ScriptEntry* named = AddEntry("Loop", dir.Write("scripts/loop_impl.py", looping));
    ScriptEntry* nameless = AddEntry("", dir.Write("scripts/spin.py", looping));
    ScriptEntry* nowhere = AddEntry("Nowhere", "");
    plugin.BuildMenu(env.MenuBar());
    env.Frame()->Show();

    for (const auto& run : {std::make_pair(named, "Loop"), std::make_pair(nameless, "spin")}) {
        wxString text;
        wxString title;
        bool fits = false;
        testing_support::Repeater presser([&] {
            if (wxDialog* window = testing_support::RunningWindow()) {
                text = testing_support::WindowText(window);
                title = window->GetTitle();
                fits = true;
                for (wxWindow* child : window->GetChildren())
                    fits = fits && child->GetSize().x >= child->GetBestSize().x;
                fits = fits && window->GetClientSize().x >= window->GetTextExtent(title).x * 3 / 2;
                testing_support::PressStop(window);
            }
        });
        EXPECT_TRUE(Choose(run.first->menuId));
        EXPECT_EQ(text, "Running " + wxString(run.second) + wxString(wxUniChar(0x2026)));
        EXPECT_EQ(title, "Python Script");
        EXPECT_TRUE(fits);
        EXPECT_TRUE(EditorEnvironment::OutputText().Contains("KeyboardInterrupt"));
        host::GetMessageOutput(0)->Clear();
    }

    EXPECT_TRUE(Choose(nowhere->menuId));
    const auto boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Python Script");
    EXPECT_EQ(boxes[0].text, "The script \"Nowhere\" has no location: choose its file in "
                             "Script Management.");
}

TEST_F(MenuTest, TwoEntriesOfOneNameEachRunTheirOwnScript) {
    ASSERT_NO_FATAL_FAILURE(Attach());
    ScriptEntry* first = AddEntry("same.py", Script("first.py", "ran first"));
    ScriptEntry* second = AddEntry("same.py", Script("second.py", "ran second"));

    plugin.BuildMenu(env.MenuBar());

    const std::vector<wxString> expected = WithFixedItems({"same", "same"});
    EXPECT_EQ(Labels(plugin.menu.scriptMenu), expected);
    EXPECT_NE(first->menuId, second->menuId);
    EXPECT_TRUE(Choose(second->menuId));
    EXPECT_EQ(Occurrences("ran second"), 1);
    EXPECT_EQ(Occurrences("ran first"), 0);
    EXPECT_TRUE(Choose(first->menuId));
    EXPECT_EQ(Occurrences("ran first"), 1);
    EXPECT_EQ(Occurrences("ran second"), 1);
}

TEST_F(MenuTest, OnlyAnAutoReloadEntryRunsItsModuleAgainOnEveryChoice) {
    ASSERT_NO_FATAL_FAILURE(Attach());
    const wxString body = "def MpMain():\n    pass\n";
    ScriptEntry* kept =
        AddEntry("kept", dir.Write("scripts/kept.py", "print('loaded kept')\n" + body));
    ScriptEntry* fresh =
        AddEntry("fresh", dir.Write("scripts/fresh.py", "print('loaded fresh')\n" + body));
    fresh->autoReload = true;
    plugin.BuildMenu(env.MenuBar());

    EXPECT_TRUE(Choose(kept->menuId));
    EXPECT_TRUE(Choose(kept->menuId));
    EXPECT_EQ(Occurrences("loaded kept"), 1);
    EXPECT_TRUE(Choose(fresh->menuId));
    const int once = Occurrences("loaded fresh");
    EXPECT_TRUE(Choose(fresh->menuId));
    EXPECT_GT(Occurrences("loaded fresh"), once);
}

TEST_F(MenuTest, FailingAutoRunScriptsDoNotStopTheOthers) {
    ASSERT_NO_FATAL_FAILURE(Attach());
    AddEntry("one", Script("one.py", "ran one"), true);
    const wxString missing = dir.File("scripts/missing.py");
    AddEntry("missing", missing, true);
    AddEntry("raises",
             dir.Write("scripts/raises.py", "def MpMain():\n    raise ValueError('boom')\n"), true);
    AddEntry("manual", Script("manual.py", "ran manual"));
    AddEntry("two", Script("two.py", "ran two"), true);

    plugin.BuildMenu(env.MenuBar());

    const std::vector<wxString> expected =
        WithFixedItems({"one", "missing", "raises", "manual", "two"});
    EXPECT_EQ(Labels(plugin.menu.scriptMenu), expected);
    const std::vector<wxString> boxes = modal.TakeTexts();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].StartsWith("Python script does not exist:")) << boxes[0];
    EXPECT_TRUE(boxes[0].EndsWith(missing)) << boxes[0];

    // The auto-run scripts ran in list order, the failing one reported between them.
    const wxString output = EditorEnvironment::OutputText();
    const int one = output.Find("ran one");
    const int boom = output.Find("ValueError: boom");
    const int two = output.Find("ran two");
    ASSERT_NE(one, wxNOT_FOUND);
    ASSERT_NE(boom, wxNOT_FOUND) << output;
    ASSERT_NE(two, wxNOT_FOUND);
    EXPECT_LT(one, boom);
    EXPECT_LT(boom, two);
    EXPECT_EQ(Occurrences("ran manual"), 0);
}

TEST_F(MenuTest, CommandOfARemovedEntryDoesNothing) {
    ASSERT_NO_FATAL_FAILURE(Attach());
    ScriptEntry* gone = AddEntry("gone", Script("gone.py", "ran gone"));
    const int goneId = gone->menuId;
    ScriptEntry* kept = AddEntry("kept", Script("kept.py", "ran kept"));
    plugin.BuildMenu(env.MenuBar());

    ASSERT_TRUE(scriptList->Remove(0)); // as the dialog deletes, before the menu is rebuilt
    Choose(goneId);
    EXPECT_EQ(Occurrences("ran gone"), 0);
    EXPECT_TRUE(Choose(kept->menuId));
    EXPECT_EQ(Occurrences("ran kept"), 1);

    // The rebuild drops the item and its handler.
    scriptList->modified = true;
    EXPECT_TRUE(Choose(scriptManagementId));
    const std::vector<wxString> expected = WithFixedItems({"kept"});
    EXPECT_EQ(Labels(plugin.menu.scriptMenu), expected);
    EXPECT_EQ(plugin.menu.scriptMenu->FindItem(goneId), nullptr);
    EXPECT_FALSE(Choose(goneId)); // nothing handles the id any more
}

TEST_F(MenuTest, DialogOpensOnTheFrameAndTheMenuFollowsItsChanges) {
    ASSERT_NO_FATAL_FAILURE(Attach());
    ScriptEntry* old = AddEntry("old.py", Script("old.py", "ran old"));
    plugin.BuildMenu(env.MenuBar());
    const std::vector<wxMenuItem*> before = Items(plugin.menu.scriptMenu);

    // Closed without a change: the submenu is left as it was, item for item.
    modal.SetDialogHandler([&](wxDialog* dialog) {
        EXPECT_NE(dynamic_cast<ManagePythonScript*>(dialog), nullptr);
        EXPECT_EQ(dialog->GetParent(), env.Frame());
        EXPECT_EQ(dialog->GetId(), 10000);
        EXPECT_EQ(dialog->GetTitle(), "Python Script Management");
        EXPECT_TRUE(dialog->HasFlag(wxTAB_TRAVERSAL));
        EXPECT_TRUE(dialog->HasFlag(wxCAPTION));
        EXPECT_TRUE(dialog->HasFlag(wxCLOSE_BOX));
        return wxID_CANCEL;
    });
    EXPECT_TRUE(Choose(scriptManagementId));
    EXPECT_EQ(modal.DialogsShown(), 1);
    EXPECT_EQ(Items(plugin.menu.scriptMenu), before);

    // "Add", then a location picked for the new entry, as the user does in the dialog.
    const wxString added = Script("added.py", "ran added");
    modal.SetDialogHandler([&](wxDialog* dialog) {
        auto* manage = dynamic_cast<ManagePythonScript*>(dialog);
        if (!manage)
            return wxID_CANCEL;
        wxCommandEvent click(wxEVT_BUTTON, ID_ADD_BUTTON);
        click.SetEventObject(manage);
        manage->ProcessWindowEvent(click);
        manage->locationPicker->SetPath(added);
        wxFileDirPickerEvent picked(wxEVT_FILEPICKER_CHANGED, manage->locationPicker,
                                    ID_LOCATION_PICKER, added);
        manage->ProcessWindowEvent(picked);
        return wxID_OK;
    });
    EXPECT_TRUE(Choose(scriptManagementId));
    ASSERT_EQ(scriptList->GetCount(), 2u);
    ScriptEntry* entry = scriptList->Get(1);
    EXPECT_EQ(entry->location, added);

    const std::vector<wxString> expected = WithFixedItems({"old", "PyScript"});
    EXPECT_EQ(Labels(plugin.menu.scriptMenu), expected);
    const std::vector<wxMenuItem*> after = Items(plugin.menu.scriptMenu);
    EXPECT_EQ(after[6]->GetId(), old->menuId);
    EXPECT_EQ(after[7]->GetId(), entry->menuId);
    EXPECT_EQ(after[7]->GetHelp(), "python script");
    EXPECT_TRUE(Choose(entry->menuId));
    EXPECT_EQ(Occurrences("ran added"), 1);
}

TEST_F(MenuTest, TheDialogsChangesAreSavedWhenItCloses) {
    ASSERT_NO_FATAL_FAILURE(Attach());
    // A relative location is read from the plug-ins folder, where the settings file is.
    AddEntry("rel", "scripts/rel.py", true);
    Script("rel.py", "ran rel");
    plugin.BuildMenu(env.MenuBar());
    EXPECT_EQ(Occurrences("ran rel"), 1);
    const wxString settings = dir.File("Coilhatch.xml");

    modal.SetDialogHandler([&](wxDialog*) { return wxID_CANCEL; });
    EXPECT_TRUE(Choose(scriptManagementId));
    // The entry added above counts as a change too: nothing had saved it.
    EXPECT_EQ(host::Settings(settings).Read("/Coilhatch/Script0/location", ""), "scripts/rel.py");
    wxRemoveFile(settings);
    EXPECT_TRUE(Choose(scriptManagementId));
    EXPECT_FALSE(wxFileName::FileExists(settings)) << "closed without a change: nothing saved";

    modal.SetDialogHandler([&](wxDialog* dialog) {
        wxCommandEvent click(wxEVT_BUTTON, ID_ADD_BUTTON);
        click.SetEventObject(dialog);
        dialog->ProcessWindowEvent(click);
        return wxID_OK;
    });
    EXPECT_TRUE(Choose(scriptManagementId));
    const host::Settings saved(settings);
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", 0), 2);
    EXPECT_EQ(saved.Read("/Coilhatch/Script1/name", ""), "PyScript");
}

TEST_F(MenuTest, NoToolsMenuIsToldAndNothingIsBuiltOrRun) {
    ASSERT_NO_FATAL_FAILURE(Attach());
    AddEntry("auto", Script("auto.py", "ran auto"), true);
    env.MenuBar()->Remove(2);

    plugin.BuildMenu(env.MenuBar());

    const auto boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "There is no 'Tools' menu!");
    EXPECT_EQ(boxes[0].caption, "Marrowpad");
    EXPECT_TRUE(boxes[0].style & wxICON_INFORMATION);
    EXPECT_EQ(plugin.menu.scriptMenu, nullptr);
    EXPECT_EQ(Occurrences("ran auto"), 0);
}

TEST_F(MenuTest, WithoutPythonTheSubmenuHoldsTheFixedItemsAndSaysWhy) {
    // Not attached: no interpreter and no script list, as after a failed start of Python.
    plugin.BuildMenu(env.MenuBar());

    ASSERT_EQ(SubMenu(), plugin.menu.scriptMenu);
    const std::vector<wxString> expected = WithFixedItems({});
    EXPECT_EQ(Labels(plugin.menu.scriptMenu), expected);
    ExpectFixedItems(Items(plugin.menu.scriptMenu));

    EXPECT_TRUE(Choose(scriptManagementId));
    EXPECT_EQ(modal.DialogsShown(), 0);
    const auto boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.Contains("Python could not be started")) << boxes[0].text;
    EXPECT_EQ(boxes[0].caption, "Marrowpad");

    plugin.RefreshScriptMenu(true);
    EXPECT_EQ(Labels(plugin.menu.scriptMenu), expected);
}

// ---------------------------------------------------------------------------------------------
// Translations: a catalog in memory, in the binary message-catalog format.

std::string MessageCatalog(std::vector<std::pair<std::string, std::string>> messages) {
    messages.emplace_back("", "Content-Type: text/plain; charset=UTF-8\n");
    std::sort(messages.begin(), messages.end());
    const auto count = static_cast<std::uint32_t>(messages.size());
    const std::uint32_t originals = 28;
    const std::uint32_t translations = originals + 8 * count;
    std::uint32_t textAt = translations + 8 * count;

    std::string header, tables[2], texts;
    auto put = [](std::string& out, std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<char>((value >> shift) & 0xff));
    };
    for (std::uint32_t value : {0x950412deu, 0u, count, originals, translations, 0u, textAt})
        put(header, value);
    for (int which = 0; which < 2; ++which) {
        for (const auto& message : messages) {
            const std::string& text = which == 0 ? message.first : message.second;
            put(tables[which], static_cast<std::uint32_t>(text.size()));
            put(tables[which], textAt);
            texts += text;
            texts.push_back('\0');
            textAt += static_cast<std::uint32_t>(text.size() + 1);
        }
    }
    return header + tables[0] + tables[1] + texts;
}

class MemoryLoader : public wxTranslationsLoader {
public:
    explicit MemoryLoader(std::string catalog) : catalog(std::move(catalog)) {}

    wxMsgCatalog* LoadCatalog(const wxString& domain, const wxString& lang) override {
        if (lang != "fr")
            return nullptr;
        return wxMsgCatalog::CreateFromData(
            wxScopedCharBuffer::CreateNonOwned(catalog.data(), catalog.size()), domain);
    }
    wxArrayString GetAvailableTranslations(const wxString&) const override {
        wxArrayString languages;
        languages.Add("fr");
        return languages;
    }

private:
    std::string catalog;
};

void UseFrench(std::vector<std::pair<std::string, std::string>> messages) {
    auto* translations = new wxTranslations;
    translations->SetLoader(new MemoryLoader(MessageCatalog(std::move(messages))));
    translations->SetLanguage("fr");
    wxTranslations::Set(translations);
    ASSERT_TRUE(translations->AddCatalog("coilhatch"));
}

class MenuTranslationTest : public MenuTest {
protected:
    void TearDown() override {
        MenuTest::TearDown();
        wxTranslations::Set(nullptr);
    }
};

TEST_F(MenuTranslationTest, ALocaleThatRenamesToolsHidesTheEditorsToolsMenu) {
    UseFrench({{"&Tools", "&Outils"},
               {"Marrowpad", "Marrowpad (fr)"},
               {"There is no 'Tools' menu!", "Il n'y a pas de menu Outils !"}});
    ASSERT_NO_FATAL_FAILURE(Attach());

    plugin.BuildMenu(env.MenuBar()); // the editor's menu is still called "&Tools"

    const auto boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "There is no 'Tools' menu!"); // never translated
    EXPECT_EQ(boxes[0].caption, "Marrowpad (fr)");
    EXPECT_EQ(plugin.menu.scriptMenu, nullptr);
}

TEST_F(MenuTranslationTest, TranslatedToolsMenuGetsTranslatedItems) {
    UseFrench({{"&Tools", "&Outils"},
               {"Python Script", "Script Python"},
               {"Script Management", "Gestion des scripts"},
               {"Python Script Management", "Gestion des scripts Python"}});
    ASSERT_NO_FATAL_FAILURE(Attach());
    env.MenuBar()->SetMenuLabel(2, "&Outils");
    AddEntry("names.py", Script("names.py", "ran names"));

    plugin.BuildMenu(env.MenuBar());

    wxMenu* tools = env.MenuBar()->GetMenu(2);
    ASSERT_EQ(tools->GetMenuItemCount(), 1u);
    EXPECT_EQ(tools->FindItemByPosition(0)->GetItemLabelText(), "Script Python");
    const std::vector<wxString> expected{"Gestion des scripts",
                                         "Python Console",
                                         "Run Current Document",
                                         newScriptLabel,
                                         "Open Scripts Folder",
                                         separatorLabel,
                                         "names"};
    EXPECT_EQ(Labels(plugin.menu.scriptMenu), expected);

    modal.SetDialogHandler([](wxDialog* dialog) {
        EXPECT_EQ(dialog->GetTitle(), "Gestion des scripts Python");
        return wxID_OK;
    });
    EXPECT_TRUE(Choose(scriptManagementId));
    EXPECT_EQ(modal.DialogsShown(), 1);
}

} // namespace
