#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "registry/ScriptRegistry.h"
#include "tests/support/ScriptEntries.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/regex.h>

#include <sys/stat.h>

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
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

    // Expects exactly one message box, telling that the file will be kept and where; remembers
    // that place.
    void ExpectBackupAnnounced(std::vector<MessageBoxRecord> boxes = {}) {
        if (boxes.empty())
            boxes = modal.TakeMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        backupPath = registry.settingsPath + ".bak";
        EXPECT_TRUE(boxes[0].text.Contains(registry.settingsPath)) << boxes[0].text;
        EXPECT_TRUE(boxes[0].text.Contains("\"" + backupPath + "\"")) << boxes[0].text;
        EXPECT_TRUE(boxes[0].style & wxICON_WARNING);
    }

    TempDir dir;
    ScriptRegistry registry;
    wxString backupPath;
};

TEST_F(RegistrySettings, FirstStartWithoutFileLoadsNothingAndSavesAnEmptyRegistry) {
    registry.Load();
    EXPECT_EQ(scriptList->GetCount(), 0u);
    EXPECT_FALSE(wxFileName::FileExists(registry.settingsPath));

    registry.Save();
    host::Settings saved(registry.settingsPath);
    EXPECT_TRUE(saved.HasKey("/Coilhatch/Counts"));
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 0);
    EXPECT_FALSE(saved.HasKey("/Coilhatch/Script0"));
    EXPECT_EQ(registry.currentEntry, nullptr);
}

TEST_F(RegistrySettings, AnAbsentSectionMakesNoEntryAndTheFileIsKept) {
    const wxString original = File("2", Section(0, "first", true, true));
    WriteSettings(original);
    registry.Load();
    ASSERT_EQ(scriptList->GetCount(), 1u);
    const ScriptEntry* first = scriptList->Get(0);
    EXPECT_TRUE(first->autoRun);
    EXPECT_TRUE(first->autoReload);
    EXPECT_EQ(first->name, "first");
    EXPECT_EQ(first->location, "/s/first.py");
    EXPECT_EQ(first->description, "about first");
    EXPECT_FALSE(scriptList->modified);
    ExpectBackupAnnounced();

    registry.Save();
    EXPECT_EQ(ReadFile(backupPath), original);
    host::Settings saved(registry.settingsPath);
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 1);
    EXPECT_FALSE(saved.HasKey("/Coilhatch/Script1"));
    EXPECT_TRUE(saved.ReadBool("/Coilhatch/Script0/autoReload", false));
}

// A backup holds what the user's settings held: it is the owner's to read and write, and no one
// else's, whatever the umask (a script may have set 0777) or the file's own mode.
TEST_F(RegistrySettings, BackupsAreTheOwnersAloneWhateverTheUmask) {
    const struct {
        mode_t umask;
        mode_t fileMode;
    } cases[] = {{0777, 0600}, {0077, 0644}, {0022, 0666}, {0, 0600}};
    for (const auto& c : cases) {
        WriteSettings(File("2", Section(0, "first")));
        ASSERT_EQ(chmod(registry.settingsPath.fn_str(), c.fileMode), 0);
        scriptList->DeleteAll();
        registry.Load();
        ExpectBackupAnnounced();
        const mode_t previous = umask(c.umask);
        registry.Save();
        umask(previous);
        struct stat st {};
        ASSERT_EQ(stat(backupPath.fn_str(), &st), 0) << std::oct << c.umask;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << std::oct << c.umask;
        ASSERT_EQ(stat(registry.settingsPath.fn_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0600, 0600u) << std::oct << c.umask;
        EXPECT_TRUE(ReadFile(backupPath).Contains("<name>first</name>"));
        ASSERT_TRUE(wxRemoveFile(backupPath));
    }
}

// A description of 100,000 characters without a break is saved and read back whole, by the
// editor's store with its extension and by one offering the interface alone.
TEST_F(RegistrySettings, AVeryLongDescriptionIsSavedWhole) {
    const wxString longWord(wxUniChar('x'), 100000);
    for (const bool strict : {false, true}) {
        host::SetStrictInterface(strict);
        scriptList->DeleteAll();
        registry.Load();
        Add("long", "/s/long.py", longWord + "\u00e9", false, false);
        registry.Save();
        scriptList->DeleteAll();
        registry.Load();
        host::SetStrictInterface(false);
        ASSERT_EQ(scriptList->GetCount(), 1u) << strict;
        EXPECT_EQ(scriptList->Get(0)->description, longWord + "\u00e9") << strict;
        EXPECT_EQ(modal.PendingCount(), 0u) << strict;
        ASSERT_TRUE(wxRemoveFile(registry.settingsPath));
    }
}

TEST_F(RegistrySettings, SectionsAreFoundAcrossGapsAndUpToCounts) {
    // 60 and 120 lie within a gap's reach of the section before; 700 only "Counts" reaches.
    WriteSettings(File("3", Section(120, "c") + Section(0, "a") + Section(60, "b")));
    registry.Load();
    EXPECT_EQ(LoadedNames(), (std::vector<wxString>{"a", "b", "c"}));
    ExpectBackupAnnounced();

    scriptList->DeleteAll();
    WriteSettings(File("701", Section(0, "a") + Section(700, "far")));
    registry.Load();
    EXPECT_EQ(LoadedNames(), (std::vector<wxString>{"a", "far"}));
    ExpectBackupAnnounced();
}

TEST_F(RegistrySettings, MissingKeysInASectionGiveDefaultsWithoutAMessage) {
    WriteSettings(File("2", Section(0, "first") + "<Script1><name>bare</name></Script1>"));
    registry.Load();
    ASSERT_EQ(scriptList->GetCount(), 2u);
    const ScriptEntry* second = scriptList->Get(1);
    EXPECT_EQ(second->name, "bare");
    EXPECT_FALSE(second->autoRun);
    EXPECT_FALSE(second->autoReload);
    EXPECT_TRUE(second->location.empty());
    EXPECT_TRUE(second->description.empty());

    registry.Save();
    host::Settings saved(registry.settingsPath);
    for (const char* key : {"autoRun", "autoReload", "name", "location", "description"})
        EXPECT_TRUE(saved.HasKey(wxString("/Coilhatch/Script1/") + key)) << key;
    EXPECT_FALSE(wxFileName::FileExists(registry.settingsPath + ".bak"));
}

TEST_F(RegistrySettings, SectionsBeyondCountsAreLoadedInTheOrderOfTheirNumbers) {
    const wxString original = File("1", Section(7, "far") + Sections(0, 3));
    WriteSettings(original);
    registry.Load();
    EXPECT_EQ(LoadedNames(), (std::vector<wxString>{"s0", "s1", "s2", "far"}));
    ExpectBackupAnnounced();

    registry.Save();
    EXPECT_EQ(ReadFile(backupPath), original);
    host::Settings saved(registry.settingsPath);
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 4);
    EXPECT_EQ(saved.Read("/Coilhatch/Script3/name", ""), "far");
    EXPECT_FALSE(saved.HasKey("/Coilhatch/Script7"));
}

TEST_F(RegistrySettings, MoreSectionsThanFitLoadTheFirst31AndTellTheUserOnce) {
    WriteSettings(File("33", Sections(0, 33)));
    registry.Load();
    ASSERT_EQ(scriptList->GetCount(), 31u);
    EXPECT_EQ(scriptList->Get(0)->name, "s0");
    EXPECT_EQ(scriptList->Get(30)->name, "s30");

    std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, outOfRange);
    EXPECT_EQ(boxes[0].caption, wxString(wxMessageBoxCaptionStr));
    EXPECT_TRUE(boxes[0].style & wxOK);
    EXPECT_TRUE(boxes[0].style & wxCENTRE);
    // The two sections that did not fit are not lost: the file is kept as it is.
    boxes.erase(boxes.begin());
    ExpectBackupAnnounced(boxes);

    registry.Save();
    EXPECT_EQ(ReadFile(backupPath), File("33", Sections(0, 33)));
    host::Settings saved(registry.settingsPath);
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
    std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0].text, outOfRange);
    boxes.erase(boxes.begin());
    ExpectBackupAnnounced(boxes);
}

// Each of these "Counts" once made the load skip sections that the next save then deleted.
TEST_F(RegistrySettings, AWrongCountsNeverCostsASection) {
    const char* const wrong[] = {"three",       "",  "-1", "3.0", nullptr, "2147483648",
                                 "-2147483648", "2", "31", "0x3"};
    for (const char* counts : wrong) {
        SCOPED_TRACE(counts ? counts : "(no Counts)");
        TempDir folder;
        registry.settingsPath = folder.File("Coilhatch.xml");
        wxString original = File(counts ? counts : "", Sections(0, 3));
        if (!counts)
            original.Replace("<Counts></Counts>", "");
        folder.Write("Coilhatch.xml", original);
        scriptList->DeleteAll();

        registry.Load();
        EXPECT_EQ(LoadedNames(), (std::vector<wxString>{"s0", "s1", "s2"}));
        ExpectBackupAnnounced();

        registry.Save();
        EXPECT_EQ(ReadFile(backupPath), original);
        host::Settings saved(registry.settingsPath);
        EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 3);
        EXPECT_EQ(saved.Read("/Coilhatch/Script2/name", ""), "s2");
        EXPECT_FALSE(saved.HasKey("/Coilhatch/Script3"));
    }
}

TEST_F(RegistrySettings, FilesThePluginWritesLoadAsTheyWereWithoutAMessage) {
    for (unsigned count : {0u, 1u, 2u, 30u, 31u}) {
        SCOPED_TRACE(count);
        scriptList->DeleteAll();
        for (unsigned i = 0; i < count; ++i)
            Add(wxString::Format("n%u", i), wxString::Format("/s/%u.py", i), "d", i % 2, i % 3);
        registry.Save();
        const wxString written = ReadFile(registry.settingsPath);
        scriptList->DeleteAll();

        registry.Load();
        EXPECT_EQ(modal.PendingCount(), 0u);
        ASSERT_EQ(scriptList->GetCount(), count);
        for (unsigned i = 0; i < count; ++i) {
            EXPECT_EQ(scriptList->Get(i)->name, wxString::Format("n%u", i));
            EXPECT_EQ(scriptList->Get(i)->autoReload, i % 3 != 0);
        }
        registry.Save();
        EXPECT_EQ(ReadFile(registry.settingsPath), written);
        EXPECT_FALSE(wxFileName::FileExists(registry.settingsPath + ".bak"));
    }
}

TEST_F(RegistrySettings, AFlagThatCannotBeReadKeepsTheFile) {
    const wxString original =
        File("1", "<Script0><autoRun>maybe</autoRun><name>m</name></Script0>");
    WriteSettings(original);
    registry.Load();
    EXPECT_EQ(LoadedNames(), std::vector<wxString>{"m"});
    ExpectBackupAnnounced();
    registry.Save();
    EXPECT_EQ(ReadFile(backupPath), original);
}

TEST_F(RegistrySettings, TheBackupIsMadeOnceAndNeverOverwritten) {
    const wxString original = File("5", Sections(0, 2));
    WriteSettings(original);
    registry.Load();
    ExpectBackupAnnounced();
    registry.Save();
    registry.Save();
    EXPECT_EQ(ReadFile(backupPath), original);
    EXPECT_FALSE(wxFileName::FileExists(registry.settingsPath + ".bak1"));

    // The next start finds a consistent file and keeps the old backup as it is.
    scriptList->DeleteAll();
    registry.Load();
    EXPECT_EQ(modal.PendingCount(), 0u);
    registry.Save();
    EXPECT_EQ(ReadFile(backupPath), original);
}

TEST_F(RegistrySettings, TruncatedFileLoadsNothingIsToldAndKept) {
    const wxString whole = File("2", Sections(0, 2));
    WriteSettings(whole.Left(whole.length() / 2));
    registry.Load();
    EXPECT_EQ(scriptList->GetCount(), 0u);
    ExpectBackupAnnounced();

    Add("new", "/s/new.py", "", false, false);
    registry.Save();
    EXPECT_EQ(ReadFile(backupPath), whole.Left(whole.length() / 2));
    host::Settings saved(registry.settingsPath);
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 1);
    EXPECT_EQ(saved.Read("/Coilhatch/Script0/name", ""), "new");
}

TEST_F(RegistrySettings, RemovingTheMiddleOfThreeRenumbersTheSections) {
    WriteSettings(File("3", Sections(0, 3)));
    registry.Load();
    ASSERT_TRUE(scriptList->Remove(1));
    registry.Save();

    host::Settings saved(registry.settingsPath);
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

TEST_F(RegistrySettings, AFailedSaveIsToldWithTheFileAndTheReason) {
    // A folder that is a regular file cannot take the settings, for any user.
    dir.Write("plugins", "not a folder");
    registry.settingsPath = dir.Path() + "/plugins/Coilhatch.xml";
    Add("kept", "/s/kept.py", "", false, false);
    registry.Save();

    const std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.Contains(registry.settingsPath)) << boxes[0].text;
    EXPECT_TRUE(boxes[0].text.Contains(wxString(strerror(ENOTDIR)))) << boxes[0].text;
    EXPECT_TRUE(boxes[0].style & wxICON_ERROR);
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

// Sections are found however they are numbered: these were never looked for, and the next
// save deleted them.
TEST_F(RegistrySettings, EverySectionLoadsInTheOrderOfItsNumberHoweverLarge) {
    const wxString original = File("1", Section(5000, "far"));
    WriteSettings(original);
    registry.Load();
    EXPECT_EQ(LoadedNames(), std::vector<wxString>{"far"});
    ExpectBackupAnnounced();
    registry.Save();
    EXPECT_EQ(ReadFile(backupPath), original);
    EXPECT_EQ(host::Settings(registry.settingsPath).Read("/Coilhatch/Script0/name", ""), "far");

    TempDir other;
    registry.settingsPath = other.File("Coilhatch.xml");
    other.Write("Coilhatch.xml", File("5", "<Script99999999999999999999><name>huge</name>"
                                           "</Script99999999999999999999>" +
                                               Section(10, "ten") + Section(5000, "far") +
                                               Section(9, "nine") + Section(0, "zero")));
    scriptList->DeleteAll();
    registry.Load();
    EXPECT_EQ(LoadedNames(), (std::vector<wxString>{"zero", "nine", "ten", "far", "huge"}));
    ExpectBackupAnnounced();
}

TEST_F(RegistrySettings, TwoSectionsOfOneNumberBothLoadInTheFilesOrder) {
    const wxString original = File("3", Section(3, "first", true) + Section(0, "zero") +
                                            Section(3, "second", false, true));
    WriteSettings(original);
    registry.Load();
    ASSERT_EQ(LoadedNames(), (std::vector<wxString>{"zero", "first", "second"}));
    EXPECT_TRUE(scriptList->Get(1)->autoRun);
    EXPECT_FALSE(scriptList->Get(1)->autoReload);
    EXPECT_FALSE(scriptList->Get(2)->autoRun);
    EXPECT_TRUE(scriptList->Get(2)->autoReload);
    EXPECT_EQ(scriptList->Get(2)->location, "/s/second.py");
    const std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.Contains("more than one section is numbered 3")) << boxes[0].text;
    ExpectBackupAnnounced(boxes);

    registry.Save();
    EXPECT_EQ(ReadFile(backupPath), original);
    host::Settings saved(registry.settingsPath);
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 3);
    EXPECT_EQ(saved.Read("/Coilhatch/Script1/name", ""), "first");
    EXPECT_EQ(saved.Read("/Coilhatch/Script2/name", ""), "second");
}

// The plug-in never writes leading zeros: such a section is loaded by its number, and the file
// is kept.
TEST_F(RegistrySettings, ASectionNumberedWithLeadingZerosLoadsByItsNumber) {
    const wxString original =
        File("3", "<Script02><name>two</name></Script02>" + Section(0, "zero") +
                      "<Script01><name>one</name></Script01>");
    WriteSettings(original);
    registry.Load();
    EXPECT_EQ(LoadedNames(), (std::vector<wxString>{"zero", "one", "two"}));
    const std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.Contains("\"Script02\" is numbered with leading zeros"))
        << boxes[0].text;
    ExpectBackupAnnounced(boxes);
    registry.Save();
    EXPECT_EQ(ReadFile(backupPath), original);

    // "Script00" is section 0, and 0 then appears twice.
    TempDir other;
    registry.settingsPath = other.File("Coilhatch.xml");
    other.Write("Coilhatch.xml",
                File("2", Section(0, "zero") + "<Script00><name>z</name></Script00>"));
    scriptList->DeleteAll();
    registry.Load();
    EXPECT_EQ(LoadedNames(), (std::vector<wxString>{"zero", "z"}));
    ExpectBackupAnnounced();
}

// What the plug-in does not write beside its sections is not loaded, and a save keeps it where
// it is: nothing to tell, nothing to keep aside.
TEST_F(RegistrySettings, AnythingElseBesideTheSectionsStaysInTheFile) {
    const char* const strangers[] = {"<Script/>",           "<script1><name>x</name></script1>",
                                     "<Script-1/>",         "<Script3a><name>x</name></Script3a>",
                                     "<Notes>mine</Notes>", "<Counts>2</Counts>"};
    for (const char* stranger : strangers) {
        SCOPED_TRACE(stranger);
        TempDir folder;
        registry.settingsPath = folder.File("Coilhatch.xml");
        folder.Write("Coilhatch.xml", File("2", Section(0, "a") + stranger + Section(1, "b")));
        scriptList->DeleteAll();

        registry.Load();
        EXPECT_EQ(LoadedNames(), (std::vector<wxString>{"a", "b"}));
        EXPECT_EQ(modal.PendingCount(), 0u);
        scriptList->Get(1)->name = "b2";
        registry.Save();
        EXPECT_EQ(modal.PendingCount(), 0u);
        EXPECT_FALSE(wxFileName::Exists(registry.settingsPath + ".bak"));
        // The indentation between elements is the store's own.
        wxString saved = ReadFile(registry.settingsPath);
        wxRegEx(">[ \n]+<").ReplaceAll(&saved, "><");
        EXPECT_TRUE(saved.Contains(stranger)) << saved;
        EXPECT_TRUE(saved.Contains("<name>b2</name>")) << saved;
    }
}

TEST_F(RegistrySettings, PastTheListsCapacityTheLowestNumbersLoad) {
    wxString sections;
    for (int i = 32; i >= 0; --i)
        sections += Section(i * 1000, wxString::Format("s%d", i));
    WriteSettings(File("33", sections));
    registry.Load();
    ASSERT_EQ(scriptList->GetCount(), 31u);
    EXPECT_EQ(scriptList->Get(0)->name, "s0");
    EXPECT_EQ(scriptList->Get(30)->name, "s30");
    std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, outOfRange);
    boxes.erase(boxes.begin());
    ExpectBackupAnnounced(boxes);
}

TEST_F(RegistrySettings, AShortcutSurvivesASaveAndALoadAndNoneIsWrittenWhenThereIsNone) {
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

} // namespace

namespace {

void WriteBytes(const wxString& path, const std::string& bytes) {
    std::ofstream(std::string(path.fn_str()), std::ios::binary) << bytes;
}

std::string ReadBytes(const wxString& path) {
    std::ifstream in(std::string(path.fn_str()), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Utf8Of(const wxString& text) {
    return std::string(text.utf8_str());
}

// The UTF-8 text in another encoding, as iconv writes it.
std::string Converted(const std::string& utf8, const char* encoding) {
    const iconv_t converter = iconv_open(encoding, "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "iconv does not know " << encoding;
        return utf8;
    }
    std::string out(utf8.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* to = out.data();
    size_t toLeft = out.size();
    iconv(converter, &in, &inLeft, &to, &toLeft);
    iconv_close(converter);
    out.resize(out.size() - toLeft);
    return out;
}

// Files damaged the ways editing by hand and crashes damage them: each loads the sections read
// whole before the damage, says how many, and is kept as it was.
TEST_F(RegistrySettings, ADamagedFileLoadsEverySectionReadWholeBeforeTheDamage) {
    const std::string whole = Utf8Of(File("3", Sections(0, 3)));
    const size_t second = whole.find("<Script1>");
    const size_t third = whole.find("<Script2>");
    std::string withNul = whole;
    withNul.insert(whole.find("about s2"), 1, '\0');
    std::string badByte = whole;
    badByte.insert(second + 20, 1, '\x01');
    const struct {
        const char* what;
        std::string bytes;
        std::vector<wxString> loaded;
    } cases[] = {
        {"a byte after the end", whole + "x", {"s0", "s1", "s2"}},
        {"a second document element", whole + "<config/>", {"s0", "s1", "s2"}},
        {"a NUL in the last section", withNul, {"s0", "s1"}},
        {"a control character in the second", badByte, {"s0"}},
        {"a tail cut in the last section", whole.substr(0, third + 30), {"s0", "s1"}},
        {"a tail cut after a section", whole.substr(0, third), {"s0", "s1"}},
        {"a tail cut in the first", whole.substr(0, second - 5), {}},
    };
    for (const auto& damaged : cases) {
        SCOPED_TRACE(damaged.what);
        TempDir folder;
        registry.settingsPath = folder.File("Coilhatch.xml");
        WriteBytes(registry.settingsPath, damaged.bytes);
        scriptList->DeleteAll();

        registry.Load();
        EXPECT_EQ(LoadedNames(), damaged.loaded);
        const std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        const size_t n = damaged.loaded.size();
        const wxString told =
            n == 0   ? wxString("no script could be read from it")
            : n == 1 ? wxString("1 script read whole before the damage has been loaded")
                     : wxString::Format("%zu scripts read whole before the damage have been "
                                        "loaded",
                                        n);
        EXPECT_TRUE(boxes[0].text.Contains(told)) << boxes[0].text;
        ExpectBackupAnnounced(boxes);

        registry.Save();
        EXPECT_EQ(ReadBytes(backupPath), damaged.bytes);
        EXPECT_EQ(host::Settings(registry.settingsPath).ReadInt("/Coilhatch/Counts", -1), int(n));
    }
}

// Files written on other systems declare their own encodings; those the system knows are read
// as the user wrote them, without a message.
TEST_F(RegistrySettings, FilesInOtherEncodingsLoadAsWritten) {
    const struct {
        const char* encoding;
        std::string name; // "Café" in that encoding
    } cases[] = {{"windows-1252", "Caf\xe9"},
                 {"ISO-8859-15", "Caf\xe9"},
                 {"cp850", "Caf\x82"},
                 {"UTF-8", "Caf\xc3\xa9"}};
    for (const auto& file : cases) {
        SCOPED_TRACE(file.encoding);
        std::string bytes = Utf8Of(File("1", Section(0, "NAME")));
        bytes.replace(bytes.find("UTF-8"), 5, file.encoding);
        bytes.replace(bytes.find("<name>NAME"), 10, "<name>" + file.name);
        WriteBytes(registry.settingsPath, bytes);
        scriptList->DeleteAll();
        registry.Load();
        EXPECT_EQ(LoadedNames(), std::vector<wxString>{wxString::FromUTF8("Caf\xc3\xa9")});
        EXPECT_EQ(modal.PendingCount(), 0u);
    }
    // Files whose declaration is not ASCII: UTF-32 and the EBCDIC code pages.
    for (const char* encoding : {"UTF-32", "UTF-32LE", "IBM037", "IBM1047"}) {
        SCOPED_TRACE(encoding);
        std::string text = Utf8Of(File("1", Section(0, wxString::FromUTF8("Caf\xc3\xa9"))));
        text.replace(text.find("UTF-8"), 5, encoding);
        WriteBytes(registry.settingsPath, Converted(text, encoding));
        scriptList->DeleteAll();
        registry.Load();
        EXPECT_EQ(LoadedNames(), std::vector<wxString>{wxString::FromUTF8("Caf\xc3\xa9")});
        EXPECT_EQ(modal.PendingCount(), 0u);
    }
    // A byte that the declared encoding does not have is damage: what precedes it loads.
    std::string bytes = Utf8Of(File("2", Sections(0, 2)));
    bytes.replace(bytes.find("UTF-8"), 5, "windows-1252");
    bytes.insert(bytes.find("about s1"), 1, '\x81');
    WriteBytes(registry.settingsPath, bytes);
    scriptList->DeleteAll();
    registry.Load();
    EXPECT_EQ(LoadedNames(), std::vector<wxString>{"s0"});
    ExpectBackupAnnounced();
}

TEST_F(RegistrySettings, TheMessagesCountWhatWasLoadedAndWhereTheRestIs) {
    WriteSettings(File("33", Sections(0, 33)));
    registry.Load();
    std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(boxes[1].text.Contains("Every script found in it has been loaded"));
    EXPECT_TRUE(boxes[1].text.Contains("31 of its 33 scripts have been loaded; the other 2 are "
                                       "only in the backup"))
        << boxes[1].text;

    scriptList->DeleteAll();
    WriteSettings(File("2", Sections(0, 1)));
    registry.Load();
    boxes = modal.TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.Contains("\"Counts\" says 2, but 1 script section was found."))
        << boxes[0].text;
}

// A relative location is read from the settings file's folder, and written back as it was.
TEST_F(RegistrySettings, ARelativeLocationIsReadFromTheSettingsFolder) {
    WriteSettings(File("1", "<Script0><name>t</name><location>tools/t.py</location></Script0>"));
    registry.Open(registry.settingsPath);
    ASSERT_EQ(scriptList->GetCount(), 1u);
    EXPECT_EQ(scriptList->Get(0)->location, "tools/t.py");
    EXPECT_EQ(ResolveScriptLocation("tools/t.py"), dir.Path() + "/tools/t.py");
    EXPECT_EQ(ResolveScriptLocation("/abs/t.py"), "/abs/t.py");
    EXPECT_EQ(ResolveScriptLocation(""), "");
    registry.Save();
    EXPECT_EQ(host::Settings(registry.settingsPath).Read("/Coilhatch/Script0/location", ""),
              "tools/t.py");
}

// Two editors on one plug-ins folder: each has its own list and registry. Each case runs with
// the editor's settings extension and without it (the interface alone).
class TwoEditors : public RegistrySettings, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        host::SetStrictInterface(GetParam());
        RegistrySettings::SetUp();
        // A file the plug-in wrote: "s0", "s1", "s2".
        for (int i = 0; i < 3; ++i)
            Add(wxString::Format("s%d", i), wxString::Format("/s/s%d.py", i),
                wxString::Format("about s%d", i), false, false);
        registry.Save();
        scriptList->DeleteAll();
        other.settingsPath = registry.settingsPath;
        registry.Load();
        As(otherList, [&] { other.Load(); });
    }
    void TearDown() override {
        delete otherList;
        RegistrySettings::TearDown();
        host::SetStrictInterface(false);
    }

    // Runs the work with the other editor's list as the plug-in's.
    void As(ScriptList* list, const std::function<void()>& work) {
        ScriptList* mine = scriptList;
        scriptList = list;
        work();
        scriptList = mine;
    }
    std::vector<wxString> SavedNames() const {
        std::vector<wxString> names;
        host::Settings saved(registry.settingsPath);
        for (int i = 0; i < saved.ReadInt("/Coilhatch/Counts", 0); ++i)
            names.push_back(saved.Read(wxString::Format("/Coilhatch/Script%d/name", i), ""));
        return names;
    }
    wxString Saved(int index, const char* field) const {
        return host::Settings(registry.settingsPath)
            .Read(wxString::Format("/Coilhatch/Script%d/%s", index, field), "");
    }

    ScriptRegistry other;
    ScriptList* otherList = new ScriptList;
};

TEST_P(TwoEditors, ScriptsAddedChangedOrDeletedByTheOtherStay) {
    As(otherList, [&] {
        Add("theirs", "/s/theirs.py", "", false, false);
        scriptList->Get(1)->description = "changed there";
        scriptList->Remove(0);
        other.SaveChanges();
    });
    Add("mine", "/s/mine.py", "", false, false);
    scriptList->Get(2)->name = "s2 renamed here";
    registry.Save();
    EXPECT_EQ(SavedNames(), (std::vector<wxString>{"s1", "s2 renamed here", "mine", "theirs"}));
    EXPECT_EQ(Saved(0, "description"), "changed there");
    // This editor's list is what it saved.
    EXPECT_EQ(LoadedNames(), SavedNames());
    EXPECT_EQ(modal.PendingCount(), 0u);
    EXPECT_FALSE(wxFileName::Exists(registry.settingsPath + ".bak"));

    // Each goes on from what it saved.
    As(otherList, [&] {
        scriptList->Get(0)->autoRun = true;
        other.Save();
    });
    registry.Save();
    EXPECT_EQ(SavedNames(), (std::vector<wxString>{"s1", "s2 renamed here", "mine", "theirs"}));
    EXPECT_EQ(Saved(0, "autoRun"), "1");
    EXPECT_EQ(modal.PendingCount(), 0u);
}

TEST_P(TwoEditors, WhereBothChangedAScriptTheLaterSaveWinsAndTheOtherIsKept) {
    As(otherList, [&] {
        scriptList->Get(1)->location = "/there/s1.py";
        scriptList->Get(2)->description = "edited there";
        other.Save();
    });
    const std::string theirFile = Utf8Of(ReadFile(registry.settingsPath));
    scriptList->Get(1)->location = "/here/s1.py";
    scriptList->Remove(2);
    registry.Save();
    EXPECT_EQ(SavedNames(), (std::vector<wxString>{"s0", "s1"}));
    EXPECT_EQ(Saved(1, "location"), "/here/s1.py");
    ASSERT_EQ(Utf8Of(ReadFile(registry.settingsPath + ".bak")), theirFile);
    const std::vector<wxString> texts = modal.TakeTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].Contains("Both changed \"s1\", \"s2\"")) << texts[0];
    EXPECT_TRUE(texts[0].Contains("\"" + registry.settingsPath + ".bak\"")) << texts[0];
}

TEST_P(TwoEditors, ScriptsAddedThereBeyondTheListsCapacityStayInTheBackup) {
    for (int i = 3; i < 31; ++i)
        Add(wxString::Format("here%d", i), "/s/h.py", "", false, false);
    As(otherList, [&] {
        Add("one", "/s/one.py", "", false, false);
        Add("two", "/s/two.py", "", false, false);
        other.Save();
    });
    registry.Save();
    EXPECT_EQ(SavedNames().size(), 31u);
    EXPECT_TRUE(ReadFile(registry.settingsPath + ".bak").Contains("<name>two</name>"));
    const std::vector<wxString> texts = modal.TakeTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].Contains("2 scripts added there do not fit in the list")) << texts[0];
}

TEST_P(TwoEditors, OnlyAChangedListIsSavedWhenTheDialogCloses) {
    const wxString before = ReadFile(registry.settingsPath);
    registry.SaveChanges();
    EXPECT_EQ(ReadFile(registry.settingsPath), before) << "nothing changed: nothing written";
    Add("new", "/s/new.py", "", false, false);
    registry.SaveChanges();
    EXPECT_EQ(SavedNames(), (std::vector<wxString>{"s0", "s1", "s2", "new"}));
    // What the other editor then saves keeps it.
    As(otherList, [&] {
        scriptList->Get(0)->name = "first";
        other.SaveChanges();
    });
    EXPECT_EQ(SavedNames(), (std::vector<wxString>{"first", "s1", "s2", "new"}));
}

// The other editor's additions, whenever they came, are never read here as deletions: a script
// leaves the file only when this editor deleted it.
TEST_P(TwoEditors, AnAdditionThereIsNeverReadAsADeletionHere) {
    Add("mine", "/s/mine.py", "", false, false);
    registry.SaveChanges(); // the dialog closes
    As(otherList, [&] {
        Add("theirs", "/s/theirs.py", "", false, false);
        other.SaveChanges();
    });
    // This editor deletes one of the scripts both had, and closes: the other's addition stays.
    scriptList->Remove(0);
    registry.Close();
    EXPECT_EQ(SavedNames(), (std::vector<wxString>{"s1", "s2", "mine", "theirs"}));
    As(otherList, [&] { other.Close(); });
    otherList = nullptr;
    EXPECT_EQ(SavedNames(), (std::vector<wxString>{"s1", "s2", "mine", "theirs"}));
    EXPECT_EQ(modal.PendingCount(), 0u);
}

// An editor that changed nothing writes nothing at its release, not even its own list over the
// other editor's.
TEST_P(TwoEditors, AnEditorThatChangedNothingWritesNothing) {
    As(otherList, [&] {
        Add("theirs", "/s/theirs.py", "", false, false);
        other.SaveChanges();
    });
    struct stat before {};
    ASSERT_EQ(stat(registry.settingsPath.fn_str(), &before), 0);
    registry.Close();
    struct stat after {};
    ASSERT_EQ(stat(registry.settingsPath.fn_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    EXPECT_EQ(SavedNames(), (std::vector<wxString>{"s0", "s1", "s2", "theirs"}));
}

// A file that a script deleted, or overwrote with what is no settings file, is written again
// at the release: the list is not lost with it.
TEST_P(TwoEditors, AFileAScriptDeletedOrSpoiltIsWrittenAgainAtTheRelease) {
    wxRemoveFile(registry.settingsPath);
    registry.Close();
    EXPECT_EQ(SavedNames(), (std::vector<wxString>{"s0", "s1", "s2"}));

    WriteSettings("\x01 not xml");
    As(otherList, [&] { other.Close(); });
    otherList = nullptr;
    EXPECT_EQ(SavedNames(), (std::vector<wxString>{"s0", "s1", "s2"}));
    EXPECT_EQ(ReadFile(registry.settingsPath + ".bak"), "\x01 not xml");
    // The store kept what it could not read itself.
    EXPECT_EQ(modal.PendingCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Extension, TwoEditors, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "InterfaceAlone" : "WithTheExtension";
                         });

} // namespace
