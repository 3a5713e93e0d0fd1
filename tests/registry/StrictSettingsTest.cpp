// The registry in an editor that offers its settings store's typed keys alone (no extension):
// the sections are found by their numbers, a file that holds more than the registry reads is
// kept as a backup before it is replaced, and a failed save is still told.
#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "registry/ScriptRegistry.h"
#include "registry/SettingsStore.h"
#include "tests/support/ScriptEntries.h"
#include "tests/support/TestSupport.h"

#include <wx/dir.h>
#include <wx/filename.h>

using testing_support::MessageBoxRecord;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

const wxString declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

wxString Section(int index, const wxString& name, const wxString& more = {}) {
    return wxString::Format("<Script%d><autoRun>0</autoRun><autoReload>1</autoReload>"
                            "<name>%s</name><location>%s.py</location>"
                            "<description>about %s</description>%s</Script%d>",
                            index, name, name, name, more, index);
}

class StrictRegistry : public testing_support::WxTest {
protected:
    void SetUp() override {
        host::SetStrictInterface(true);
        registry.settingsPath = dir.File("Coilhatch.xml");
        scriptList = new ScriptList;
    }
    void TearDown() override {
        delete scriptList;
        scriptList = nullptr;
        host::SetStrictInterface(false);
        WxTest::TearDown();
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

// Files the registry reads whole: the one a first start writes (laid out by hand, relative
// locations), one with keys left out. Loaded without a word, saved without a backup, read back
// as they were.
TEST_F(StrictRegistry, AFileOfScriptsAloneLoadsAndSavesWithoutABackup) {
    const wxString laidOut = declaration + "<config>\n  <Coilhatch>\n    <Counts>2</Counts>\n" +
                             "    " + Section(0, "hello") + "\n    " + Section(1, "wordcount") +
                             "\n  </Coilhatch>\n</config>\n";
    const wxString sparse = declaration + "<config><Coilhatch><Counts>2</Counts>" +
                            Section(0, "first") + "<Script1><name>bare</name></Script1>" +
                            "</Coilhatch></config>\n";
    for (const wxString& file : {laidOut, sparse}) {
        SCOPED_TRACE(file.utf8_str());
        dir.Write("Coilhatch.xml", file);
        scriptList->DeleteAll();
        registry.Load();
        EXPECT_EQ(scriptList->GetCount(), 2u);
        EXPECT_TRUE(modal.TakeMessageBoxes().empty());
        registry.Save();
        EXPECT_TRUE(modal.TakeMessageBoxes().empty());
        EXPECT_FALSE(wxFileName::Exists(registry.settingsPath + ".bak"));

        const std::vector<wxString> saved = LoadedNames();
        scriptList->DeleteAll();
        registry.Load();
        EXPECT_EQ(LoadedNames(), saved);
    }
    // Nothing of the trial stores is left beside the file (and the saves' lock file).
    wxArrayString left;
    wxDir::GetAllFiles(dir.Path(), &left, wxEmptyString, wxDIR_FILES | wxDIR_HIDDEN);
    EXPECT_EQ(left.size(), 2u) << wxJoin(left, ' ').utf8_str();
    EXPECT_NE(left.Index(registry.settingsPath), wxNOT_FOUND);
    EXPECT_NE(left.Index(SettingsLock::LockPath(registry.settingsPath)), wxNOT_FOUND);
}

// Whatever the registry cannot read is kept: the first save copies the file aside, byte for
// byte, and the user is told where at the load.
TEST_F(StrictRegistry, AFileHoldingMoreIsKeptAsABackupBeforeTheSave) {
    const wxString body = Section(0, "first");
    const struct {
        const char* what;
        wxString file;
    } cases[] = {
        {"an unknown element in a section", "<config><Coilhatch><Counts>1</Counts>" +
                                                Section(0, "first", "<colour>red</colour>") +
                                                "</Coilhatch></config>"},
        {"a second list", "<config><Coilhatch><Counts>1</Counts>" + body +
                              "</Coilhatch><Coilhatch>" + Section(0, "second") +
                              "</Coilhatch></config>"},
        {"a sibling of the list",
         "<config><Coilhatch><Counts>1</Counts>" + body + "</Coilhatch><Other>x</Other></config>"},
        {"a section no number reaches", "<config><Coilhatch><Counts>1</Counts>" + body +
                                            Section(900, "far") + "</Coilhatch></config>"},
        // The value reads as its text alone; writing it would drop what is inside.
        {"a comment inside a value", "<config><Coilhatch><Counts>1</Counts>" +
                                         Section(0, "first<!--keep me-->") +
                                         "</Coilhatch></config>"},
        {"an element inside a value", "<config><Coilhatch><Counts>1</Counts>" +
                                          Section(0, "first<b>bold</b>") + "</Coilhatch></config>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const wxString original = declaration + c.file + "\n";
        dir.Write("Coilhatch.xml", original);
        if (wxFileName::Exists(registry.settingsPath + ".bak"))
            wxRemoveFile(registry.settingsPath + ".bak");
        scriptList->DeleteAll();
        registry.Load();
        EXPECT_EQ(LoadedNames(), std::vector<wxString>{"first"});
        const std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes[0].text.Contains("it holds more than the scripts read from it"))
            << boxes[0].text;
        EXPECT_TRUE(boxes[0].text.Contains(registry.settingsPath + ".bak")) << boxes[0].text;

        registry.Save();
        EXPECT_EQ(ReadFile(registry.settingsPath + ".bak"), original);
        EXPECT_TRUE(ReadFile(registry.settingsPath).Contains("<name>first</name>"));
        EXPECT_TRUE(modal.TakeMessageBoxes().empty());
    }
}

// Without the store's reason, the file it could not write is still named.
TEST_F(StrictRegistry, AFailedSaveIsToldWithTheFile) {
    dir.Write("plugins", "not a folder");
    registry.settingsPath = dir.Path() + "/plugins/Coilhatch.xml";
    testing_support::AddScriptEntry("kept", "/s/kept.py", "", false, false);
    registry.Save();
    const std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.Contains(registry.settingsPath)) << boxes[0].text;
    EXPECT_TRUE(boxes[0].style & wxICON_ERROR);
}

} // namespace
