#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "registry/ScriptRegistry.h"
#include "tests/support/ScriptEntries.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>
#include <wx/msgdlg.h>

#include <vector>

using testing_support::MessageBoxRecord;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

const wxString outOfRange = "Out of the range! It should be less than MaxScriptNum.";

// One section of a hand-written settings file.
wxString Section(int index, const wxString& name, bool autoRun = false, bool autoReload = false) {
    return wxString::Format("<Script%d><autoRun>%d</autoRun><autoReload>%d</autoReload>"
                            "<name>%s</name><location>/s/%s.py</location>"
                            "<description>about %s</description></Script%d>",
                            index, autoRun, autoReload, name, name, name, index);
}

wxString File(const wxString& counts, const wxString& sections) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config><Coilhatch><Counts>" + counts +
           "</Counts>" + sections + "</Coilhatch></config>\n";
}

wxString Sections(int from, int to) {
    wxString text;
    for (int i = from; i < to; ++i)
        text += Section(i, wxString::Format("s%d", i));
    return text;
}

class RegistrySettings : public testing_support::WxTest {
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

    void WriteSettings(const wxString& text) { dir.Write("Coilhatch.xml", text); }

    ScriptEntry* Add(const wxString& name, const wxString& location, const wxString& description,
                     bool autoRun, bool autoReload) {
        return testing_support::AddScriptEntry(name, location, description, autoRun, autoReload);
    }

    std::vector<wxString> LoadedNames() const {
        std::vector<wxString> names;
        for (unsigned i = 0; i < scriptList->GetCount(); ++i)
            names.push_back(scriptList->Get(i)->name);
        return names;
    }

    TempDir dir;
    ScriptRegistry registry;
};

TEST_F(RegistrySettings, FirstStartWithoutFileLoadsNothingAndSavesAnEmptyRegistry) {
    registry.Load();
    EXPECT_EQ(scriptList->GetCount(), 0u);
    EXPECT_FALSE(wxFileName::FileExists(registry.settingsPath));

    registry.Save();
    CConfigManagement saved(registry.settingsPath);
    EXPECT_TRUE(saved.HasKey("/Coilhatch/Counts"));
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 0);
    EXPECT_FALSE(saved.HasKey("/Coilhatch/Script0"));
    EXPECT_EQ(registry.currentEntry, nullptr);
}

TEST_F(RegistrySettings, MissingSectionGivesDefaultsAndIsWrittenBackInFull) {
    WriteSettings(File("2", Section(0, "first", true, true)));
    registry.Load();
    ASSERT_EQ(scriptList->GetCount(), 2u);
    const ScriptEntry* first = scriptList->Get(0);
    EXPECT_TRUE(first->autoRun);
    EXPECT_TRUE(first->autoReload);
    EXPECT_EQ(first->name, "first");
    EXPECT_EQ(first->location, "/s/first.py");
    EXPECT_EQ(first->description, "about first");
    const ScriptEntry* second = scriptList->Get(1);
    EXPECT_FALSE(second->autoRun);
    EXPECT_FALSE(second->autoReload);
    EXPECT_TRUE(second->name.empty());
    EXPECT_TRUE(second->location.empty());
    EXPECT_TRUE(second->description.empty());
    EXPECT_FALSE(scriptList->modified);

    registry.Save();
    CConfigManagement saved(registry.settingsPath);
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 2);
    for (const char* key : {"autoRun", "autoReload", "name", "location", "description"})
        EXPECT_TRUE(saved.HasKey(wxString("/Coilhatch/Script1/") + key)) << key;
    EXPECT_FALSE(saved.ReadBool("/Coilhatch/Script1/autoRun", true));
    EXPECT_EQ(saved.Read("/Coilhatch/Script1/name", "x"), "");
    EXPECT_TRUE(saved.ReadBool("/Coilhatch/Script0/autoReload", false));
}

TEST_F(RegistrySettings, SectionsAtOrBeyondCountsAreIgnoredAndDroppedAtSave) {
    WriteSettings(File("1", Sections(0, 3) + Section(7, "far")));
    registry.Load();
    EXPECT_EQ(LoadedNames(), std::vector<wxString>{"s0"});

    registry.Save();
    CConfigManagement saved(registry.settingsPath);
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 1);
    EXPECT_TRUE(saved.HasKey("/Coilhatch/Script0/name"));
    EXPECT_FALSE(saved.HasKey("/Coilhatch/Script1"));
    EXPECT_FALSE(saved.HasKey("/Coilhatch/Script7"));
}

TEST_F(RegistrySettings, MoreSectionsThanFitLoadTheFirst31AndTellTheUserOnce) {
    WriteSettings(File("33", Sections(0, 33)));
    registry.Load();
    ASSERT_EQ(scriptList->GetCount(), 31u);
    EXPECT_EQ(scriptList->Get(0)->name, "s0");
    EXPECT_EQ(scriptList->Get(30)->name, "s30");

    const std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, outOfRange);
    EXPECT_EQ(boxes[0].caption, wxString(wxMessageBoxCaptionStr));
    EXPECT_TRUE(boxes[0].style & wxOK);
    EXPECT_TRUE(boxes[0].style & wxCENTRE);

    registry.Save();
    CConfigManagement saved(registry.settingsPath);
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 31);
    EXPECT_EQ(saved.Read("/Coilhatch/Script30/name", ""), "s30");
    EXPECT_FALSE(saved.HasKey("/Coilhatch/Script31"));
    EXPECT_FALSE(saved.HasKey("/Coilhatch/Script32"));
}

TEST_F(RegistrySettings, ExactlyFullListIsNoOverflow) {
    WriteSettings(File("31", Sections(0, 31)));
    registry.Load();
    EXPECT_EQ(scriptList->GetCount(), 31u);
    EXPECT_EQ(modal.PendingCount(), 0u);
}

TEST_F(RegistrySettings, HugeCountReadsOnlyWhatFitsWithOneMessage) {
    WriteSettings(File("2147483647", Sections(0, 33)));
    registry.Load();
    EXPECT_EQ(scriptList->GetCount(), 31u);
    EXPECT_EQ(modal.TakeTexts(), std::vector<wxString>{outOfRange});
}

TEST_F(RegistrySettings, NegativeCountReadsNoSection) {
    for (const char* counts : {"-1", "-2147483648"}) {
        WriteSettings(File(counts, Sections(0, 3)));
        registry.Load();
        EXPECT_EQ(scriptList->GetCount(), 0u) << counts;
    }
}

TEST_F(RegistrySettings, TruncatedFileLoadsNothingAndIsReplacedAtSave) {
    const wxString whole = File("2", Sections(0, 2));
    WriteSettings(whole.Left(whole.length() / 2));
    registry.Load();
    EXPECT_EQ(scriptList->GetCount(), 0u);

    Add("new", "/s/new.py", "", false, false);
    registry.Save();
    CConfigManagement saved(registry.settingsPath);
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 1);
    EXPECT_EQ(saved.Read("/Coilhatch/Script0/name", ""), "new");
}

TEST_F(RegistrySettings, RemovingTheMiddleOfThreeRenumbersTheSections) {
    WriteSettings(File("3", Sections(0, 3)));
    registry.Load();
    ASSERT_TRUE(scriptList->Remove(1));
    registry.Save();

    CConfigManagement saved(registry.settingsPath);
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 2);
    EXPECT_EQ(saved.Read("/Coilhatch/Script0/name", ""), "s0");
    EXPECT_EQ(saved.Read("/Coilhatch/Script1/name", ""), "s2");
    EXPECT_EQ(saved.Read("/Coilhatch/Script1/location", ""), "/s/s2.py");
    EXPECT_FALSE(saved.HasKey("/Coilhatch/Script2"));
}

TEST_F(RegistrySettings, OrderAndTextSurviveSaveAndLoad) {
    const wxString names[] = {
        wxString::FromUTF8("Zähler \"wörter\" & <zeilen>"),
        wxString::FromUTF8("日本語 'script'"),
        "plain",
    };
    const wxString locations[] = {
        wxString::FromUTF8("/home/ann/skripte/zähler&co/<a>.py"),
        wxString::FromUTF8("/tmp/\"quoted\"/ünï.py"),
        "",
    };
    const wxString descriptions[] = {
        wxString::FromUTF8("Counts – Ümlauts & \"quotes\"\nsecond line"),
        "",
        wxString::FromUTF8("<b>not markup</b> &amp; ∑"),
    };
    std::vector<int> oldIds;
    for (int i = 0; i < 3; ++i)
        oldIds.push_back(Add(names[i], locations[i], descriptions[i], i == 0, i == 1)->menuId);

    registry.Save();
    delete scriptList;
    scriptList = new ScriptList;
    registry.Load();

    ASSERT_EQ(scriptList->GetCount(), 3u);
    for (unsigned i = 0; i < 3; ++i) {
        const ScriptEntry* entry = scriptList->Get(i);
        EXPECT_EQ(entry->name, names[i]) << i;
        EXPECT_EQ(entry->location, locations[i]) << i;
        EXPECT_EQ(entry->description, descriptions[i]) << i;
        EXPECT_EQ(entry->autoRun, i == 0) << i;
        EXPECT_EQ(entry->autoReload, i == 1) << i;
        for (int old : oldIds)
            EXPECT_NE(entry->menuId, old);
    }
    EXPECT_FALSE(scriptList->modified);
}

TEST_F(RegistrySettings, WithoutAListTheFileIsLeftAlone) {
    const wxString original = File("2", Sections(0, 2));
    WriteSettings(original);
    delete scriptList;
    scriptList = nullptr;

    registry.Load();
    registry.Save();
    EXPECT_EQ(ReadFile(registry.settingsPath), original);

    wxRemoveFile(registry.settingsPath);
    registry.Save();
    EXPECT_FALSE(wxFileName::FileExists(registry.settingsPath));
}

} // namespace
