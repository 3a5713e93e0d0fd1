#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/dir.h>
#include <wx/filename.h>

#include <csignal>
#include <sys/resource.h>

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

class HostConfigStore : public ::testing::Test {
protected:
    TempDir dir;
    wxString path = dir.File("settings.xml");
};

TEST_F(HostConfigStore, EveryTypeSurvivesSaveAndLoad) {
    {
        CConfigManagement config(path);
        config.Write("/App/Count", -42);
        config.Write("/App/Big", 2147483647);
        config.Write("/App/On", true);
        config.Write("/App/Off", false);
        config.Write("/App/Section/name", wxString("wordcount"), false);
        config.Write("/App/Section/empty", wxString(), false);
        config.Write("/App/Section/blanks", wxString("   "), false);
        config.Write("/App/Section/lines", wxString("one\ntwo\n"), false);
        ASSERT_TRUE(config.Save());
    }
    CConfigManagement config(path);
    EXPECT_EQ(config.ReadInt("/App/Count", 0), -42);
    EXPECT_EQ(config.ReadInt("/App/Big", 0), 2147483647);
    EXPECT_TRUE(config.ReadBool("/App/On", false));
    EXPECT_FALSE(config.ReadBool("/App/Off", true));
    EXPECT_EQ(config.Read("/App/Section/name", "x"), "wordcount");
    EXPECT_EQ(config.Read("/App/Section/empty", "x"), "");
    EXPECT_EQ(config.Read("/App/Section/blanks", "x"), "   ");
    EXPECT_EQ(config.Read("/App/Section/lines", "x"), "one\ntwo\n");
    // Absent keys give the defaults.
    EXPECT_EQ(config.ReadInt("/App/Missing", 7), 7);
    EXPECT_TRUE(config.ReadBool("/App/Missing", true));
    EXPECT_EQ(config.Read("/App/Section/missing", "dflt"), "dflt");
}

TEST_F(HostConfigStore, UnicodeAndMarkupCharactersAreKept) {
    const wxString text = wxString::FromUTF8("Zähler \"quoted\" & <tag> 'single' — 日本語 🐍 \\t");
    {
        CConfigManagement config(path);
        config.Write("/App/text", text, false);
        ASSERT_TRUE(config.Save());
    }
    EXPECT_TRUE(ReadFile(path).Contains("&lt;tag&gt;"));
    CConfigManagement config(path);
    EXPECT_EQ(config.Read("/App/text", ""), text);
}

// A character XML cannot hold would make the whole file unreadable at the next start.
TEST_F(HostConfigStore, ControlCharactersNeverMakeTheFileUnreadable) {
    {
        CConfigManagement config(path);
        config.Write("/App/Count", 3);
        config.Write("/App/text", wxString("bell\x07here\x1b, tab\t and line\n"), false);
        ASSERT_TRUE(config.Save());
    }
    CConfigManagement config(path);
    EXPECT_EQ(config.ReadInt("/App/Count", 0), 3);
    EXPECT_EQ(config.Read("/App/text", ""),
              wxString::FromUTF8("bell\xEF\xBF\xBDhere\xEF\xBF\xBD, tab\t and line\n"));
}

TEST_F(HostConfigStore, FileLayoutIsNestedElementsBelowConfig) {
    CConfigManagement config(path);
    config.Write("/Coilhatch/Counts", 1);
    config.Write("/Coilhatch/Script0/autoRun", false);
    config.Write("/Coilhatch/Script0/name", wxString("wordcount"), false);
    ASSERT_TRUE(config.Save());
    const wxString xml = ReadFile(path);
    EXPECT_TRUE(xml.StartsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>")) << xml;
    EXPECT_TRUE(xml.Contains("<config>")) << xml;
    EXPECT_TRUE(xml.Contains("<Counts>1</Counts>")) << xml;
    EXPECT_TRUE(xml.Contains("<autoRun>0</autoRun>")) << xml;
    EXPECT_TRUE(xml.Contains("<name>wordcount</name>")) << xml;
}

TEST_F(HostConfigStore, HandWrittenValuesAreReadLeniently) {
    dir.Write("settings.xml", "<?xml version=\"1.0\"?>\n<config><A><t>true</t><f>false</f>"
                              "<n> 12 </n><bad>twelve</bad><huge>99999999999</huge>"
                              "<b>maybe</b></A></config>\n");
    CConfigManagement config(path);
    EXPECT_TRUE(config.ReadBool("/A/t", false));
    EXPECT_FALSE(config.ReadBool("/A/f", true));
    EXPECT_TRUE(config.ReadBool("/A/b", true));
    EXPECT_EQ(config.ReadInt("/A/n", 0), 12);
    EXPECT_EQ(config.ReadInt("/A/bad", 5), 5);
    EXPECT_EQ(config.ReadInt("/A/huge", 5), 5);
}

TEST_F(HostConfigStore, ClearRemovesEveryKeyAndALoadedFileSavesUnchanged) {
    {
        CConfigManagement config(path);
        config.Write("/A/x", 1);
        config.Write("/A/y", 2);
        ASSERT_TRUE(config.Save());
    }
    const wxString first = ReadFile(path);
    {
        CConfigManagement config(path);
        ASSERT_TRUE(config.Save());
    }
    EXPECT_EQ(ReadFile(path), first); // no indentation piles up
    {
        CConfigManagement config(path);
        config.Clear();
        config.Write("/A/y", 3);
        ASSERT_TRUE(config.Save());
    }
    CConfigManagement config(path);
    EXPECT_FALSE(config.HasKey("/A/x"));
    EXPECT_EQ(config.ReadInt("/A/y", 0), 3);
}

TEST_F(HostConfigStore, MissingFilePresentsNoKeysAndIsCreatedOnSave) {
    CConfigManagement config(path);
    EXPECT_FALSE(config.HasKey("/A"));
    EXPECT_FALSE(wxFileName::FileExists(path));
    EXPECT_TRUE(config.Save());
    EXPECT_TRUE(wxFileName::FileExists(path));
}

TEST_F(HostConfigStore, UnparsableFileIsKeptAsBackupBeforeTheFirstSave) {
    const wxString damaged = "<config><A><x>1</x></A"; // truncated
    dir.Write("settings.xml", damaged);
    {
        CConfigManagement config(path);
        EXPECT_FALSE(config.HasKey("/A/x"));
        config.Write("/A/y", 2);
        ASSERT_TRUE(config.Save());
    }
    EXPECT_EQ(ReadFile(path + ".bak"), damaged);
    EXPECT_EQ(CConfigManagement(path).ReadInt("/A/y", 0), 2);

    // A second damaged file does not overwrite the first backup.
    dir.Write("settings.xml", "not xml at all");
    ASSERT_TRUE(CConfigManagement(path).Save());
    EXPECT_EQ(ReadFile(path + ".bak"), damaged);
    EXPECT_EQ(ReadFile(path + ".bak1"), "not xml at all");
}

TEST_F(HostConfigStore, FailedSaveLeavesTheOldFileWhole) {
    {
        CConfigManagement config(path);
        config.Write("/A/x", 1);
        ASSERT_TRUE(config.Save());
    }
    const wxString before = ReadFile(path);

    CConfigManagement config(path);
    config.Write("/A/long", wxString('x', 100000), false);
    // Writing past the file-size limit fails part way through the new file.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &limited);
    const bool saved = config.Save();
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadFile(path), before);
    wxArrayString leftovers;
    wxDir::GetAllFiles(dir.Path(), &leftovers);
    EXPECT_EQ(leftovers.size(), 1u) << "the temporary file is removed";
}

} // namespace
