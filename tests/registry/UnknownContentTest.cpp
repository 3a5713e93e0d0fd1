// What a settings file holds beyond the script list (written by hand, or by a later version) is
// never dropped in silence by a save: where the editor's store edits the file in place it is
// written back as it was; where the store only rewrites the file from its keys (an editor that
// offers the interface alone), the file as it was is kept as a backup and a message says so.
#include "host/lib/Services.h"
#include "registry/ScriptList.h"
#include "registry/ScriptRegistry.h"
#include "tests/support/ScriptEntries.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>

#include <cstdio>
#include <vector>

using testing_support::MessageBoxRecord;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

wxString Section(int index, const wxString& name, const wxString& inside = wxString()) {
    return wxString::Format("<Script%d><autoRun>0</autoRun><autoReload>0</autoReload>"
                            "<name>%s</name><location>/s/%s.py</location>"
                            "<description>about %s</description>%s</Script%d>",
                            index, name, name, name, inside, index);
}

const wxString declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// A file of two scripts, "a" and "b", with something the plug-in does not know, whose text
// holds the word KEEP: `list` is the inside of <Coilhatch>, `around` what comes beside it.
wxString File(const wxString& list, const wxString& before = wxString(),
              const wxString& after = wxString(), const wxString& prolog = wxString(),
              const wxString& listStart = "<Coilhatch>", const wxString& root = "<config>") {
    return declaration + prolog + root + before + listStart + list + "</Coilhatch>" + after +
           "</config>\n";
}

wxString Plain(const wxString& inA = wxString(), const wxString& inB = wxString()) {
    return "<Counts>2</Counts>" + Section(0, "a", inA) + Section(1, "b", inB);
}

struct HandMade {
    const char* what;
    wxString text;
};

// Thirty hand-made files. In each, everything the plug-in does not know carries the word KEEP.
std::vector<HandMade> HandMadeFiles() {
    return {
        {"a second Coilhatch",
         File(Plain(), "", "<Coilhatch>" + Section(0, "KEEP") + "</Coilhatch>")},
        {"an unknown element in a section", File(Plain("<hotkey>KEEP</hotkey>"))},
        {"a sibling of Coilhatch", File(Plain(), "", "<Other><x>KEEP</x></Other>")},
        {"a sibling before Coilhatch", File(Plain(), "<Before>KEEP</Before>")},
        {"a repeated name", File(Plain("<name>KEEP</name>"))},
        {"a nested shortcut", File(Plain("<shortcut><key>KEEP</key></shortcut>"))},
        {"a comment in a section", File(Plain("<!-- KEEP -->"))},
        {"a comment before the document", File(Plain(), "", "", "<!-- KEEP -->\n")},
        {"a comment after the document", File(Plain()) + "<!-- KEEP -->\n"},
        {"an instruction in the list", File("<?editor KEEP?>" + Plain())},
        {"an attribute on a section", File("<Counts>2</Counts><Script0 id=\"KEEP\">"
                                           "<name>a</name></Script0>" +
                                           Section(1, "b"))},
        {"an attribute on a field",
         File("<Counts>2</Counts><Script0><name lang=\"KEEP\">a</name></Script0>" +
              Section(1, "b"))},
        {"an attribute on Coilhatch", File(Plain(), "", "", "", "<Coilhatch v=\"KEEP\">")},
        {"an attribute on the document",
         File(Plain(), "", "", "", "<Coilhatch>", "<config owner=\"KEEP\">")},
        {"an element beside the sections", File(Plain() + "<Notes>KEEP</Notes>")},
        {"a section spelt in lower case", File(Plain() + "<script2><name>KEEP</name></script2>")},
        {"a negative section", File(Plain() + "<Script-1><name>KEEP</name></Script-1>")},
        {"a section with letters", File(Plain() + "<Script3a><name>KEEP</name></Script3a>")},
        {"a second Counts", File(Plain() + "<Counts>KEEP</Counts>")},
        {"a deep element in a section", File(Plain("<meta><a><b><c>KEEP</c></b></a></meta>"))},
        {"character data in a section", File(Plain("<notes><![CDATA[KEEP <x> & y]]></notes>"))},
        {"an empty element named for it", File(Plain("<KEEP/>"))},
        {"an unknown element in the second section", File(Plain("", "<extra>KEEP</extra>"))},
        {"a comment and an element after Coilhatch",
         File(Plain(), "", "<!-- note --><Later>KEEP</Later>")},
        {"a repeated description", File(Plain("<description>KEEP</description>"))},
        {"a repeated flag", File(Plain("<autoRun>KEEP</autoRun>"))},
        {"an attribute on a location",
         File("<Counts>2</Counts><Script0><name>a</name><location kind=\"KEEP\">/s/a.py"
              "</location></Script0>" +
              Section(1, "b"))},
        {"a name in another script",
         File(Plain(wxString::FromUTF8("<Notiz>KEEP-\xc3\xbc</Notiz>")))},
        {"an element before Counts", File("<Header>KEEP</Header>" + Plain())},
        {"escaped text in an unknown element", File(Plain("<x>KEEP &amp; &lt;more&gt;</x>"))},
    };
}

// Each case once with the editor's settings extension and once without (the interface alone).
class UnknownContent : public testing_support::WxTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        host::SetStrictInterface(GetParam());
        path = dir.File("Coilhatch.xml");
    }
    void TearDown() override {
        delete scriptList;
        scriptList = nullptr;
        host::SetStrictInterface(false);
        WxTest::TearDown();
    }
    bool Strict() const { return GetParam(); }

    // Loads the file, renames the first script and adds one, and closes the registry (which
    // saves). The message boxes shown on the way are left in `modal`.
    void EditAndClose(const wxString& text) {
        for (const wxString& file : {path, path + ".bak"})
            if (wxFileName::FileExists(file))
                wxRemoveFile(file);
        dir.Write("Coilhatch.xml", text);
        ScriptRegistry registry;
        registry.Open(path);
        ASSERT_GE(scriptList->GetCount(), 1u);
        scriptList->Get(0)->name = "renamed";
        testing_support::AddScriptEntry("added", "/s/added.py", "", false, false);
        registry.Close();
    }

    enum Outcome { Carried, Told, Silent };
    // Where the word KEEP went: into the saved file, into a backup that a message names, or
    // nowhere the user hears of.
    Outcome Judge(const std::vector<MessageBoxRecord>& boxes) const {
        if (ReadFile(path).Contains("KEEP"))
            return Carried;
        const wxString backup = path + ".bak";
        bool named = false;
        for (const MessageBoxRecord& box : boxes)
            named = named || box.text.Contains("\"" + backup + "\"");
        return ReadFile(backup).Contains("KEEP") && named ? Told : Silent;
    }

    TempDir dir;
    wxString path;
};

TEST_P(UnknownContent, ThirtyHandMadeFilesLoseNothingInSilence) {
    const std::vector<HandMade> files = HandMadeFiles();
    ASSERT_EQ(files.size(), 30u);
    int outcomes[3] = {0, 0, 0};
    for (const HandMade& file : files) {
        SCOPED_TRACE(file.what);
        ASSERT_NO_FATAL_FAILURE(EditAndClose(file.text));
        const std::vector<MessageBoxRecord> boxes = modal.TakeMessageBoxes();
        const Outcome outcome = Judge(boxes);
        ++outcomes[outcome];
        EXPECT_NE(outcome, Silent) << ReadFile(path);
        // The scripts are saved either way.
        host::Settings saved(path);
        EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 3) << ReadFile(path);
        EXPECT_EQ(saved.Read("/Coilhatch/Script0/name", ""), "renamed") << ReadFile(path);
        EXPECT_EQ(saved.Read("/Coilhatch/Script2/name", ""), "added") << ReadFile(path);
        if (Strict()) {
            // Without the extension the save cannot keep it: a backup and a message.
            EXPECT_EQ(outcome, Told);
        } else {
            // The store edits in place: nothing is lost, nothing needs telling.
            EXPECT_EQ(outcome, Carried) << ReadFile(path);
            EXPECT_TRUE(boxes.empty()) << boxes[0].text;
        }
        delete scriptList;
        scriptList = nullptr;
    }
    std::printf("[figure] %s: %zu hand-made files, %d carried over, %d kept in a backup with a "
                "message, %d dropped in silence\n",
                Strict() ? "interface alone" : "with the settings extension", files.size(),
                outcomes[Carried], outcomes[Told], outcomes[Silent]);
}

// A file the plug-in wrote itself holds nothing else: no backup and no message either way.
TEST_P(UnknownContent, AFileThePluginWroteNeedsNoBackup) {
    ScriptRegistry first;
    first.Open(path);
    testing_support::AddScriptEntry("a", "/s/a.py", "", true, false);
    testing_support::AddScriptEntry("c", "/s/c.py", "", false, true)->shortcut = "Ctrl+Alt+3";
    first.Close();

    for (int round = 0; round < 2; ++round) {
        ScriptRegistry next;
        next.Open(path);
        ASSERT_EQ(scriptList->GetCount(), 2u + round);
        scriptList->Get(1)->description = wxString::Format("changed %d", round);
        testing_support::AddScriptEntry("more", "/s/more.py", "", false, false);
        next.Close();
    }
    EXPECT_EQ(modal.PendingCount(), 0u);
    EXPECT_FALSE(wxFileName::FileExists(path + ".bak"));
    EXPECT_EQ(host::Settings(path).ReadInt("/Coilhatch/Counts", -1), 4);
}

INSTANTIATE_TEST_SUITE_P(Extension, UnknownContent, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "InterfaceAlone" : "WithTheExtension";
                         });

class UnknownContentInPlace : public testing_support::WxTest {
protected:
    void TearDown() override {
        delete scriptList;
        scriptList = nullptr;
        WxTest::TearDown();
    }
    TempDir dir;
    wxString path = dir.File("Coilhatch.xml");
};

// A script's unknown elements go where the script goes: renumbered, they stay in its section.
TEST_F(UnknownContentInPlace, WhatASectionHoldsStaysWithItsScript) {
    dir.Write("Coilhatch.xml",
              File("<Counts>3</Counts>" + Section(0, "a") + Section(1, "b", "<extra>B</extra>") +
                   Section(2, "c", "<extra>C</extra><!--c-->")));
    ScriptRegistry registry;
    registry.Open(path);
    ASSERT_EQ(scriptList->GetCount(), 3u);
    scriptList->Remove(0);
    registry.Close();
    EXPECT_EQ(modal.PendingCount(), 0u);
    EXPECT_FALSE(wxFileName::FileExists(path + ".bak"));

    host::Settings saved(path);
    EXPECT_EQ(saved.ReadInt("/Coilhatch/Counts", -1), 2);
    EXPECT_EQ(saved.Read("/Coilhatch/Script0/name", ""), "b");
    EXPECT_EQ(saved.Read("/Coilhatch/Script0/extra", ""), "B");
    EXPECT_EQ(saved.Read("/Coilhatch/Script1/name", ""), "c");
    EXPECT_EQ(saved.Read("/Coilhatch/Script1/extra", ""), "C");
    EXPECT_TRUE(ReadFile(path).Contains("<!--c-->")) << ReadFile(path);
    EXPECT_FALSE(saved.HasKey("/Coilhatch/Script2"));
}

// A field that holds more than its value, changed by the user: what else it held cannot stay,
// so the file is kept and the message names the field and the script.
TEST_F(UnknownContentInPlace, AChangedFieldThatHeldMoreIsKeptAndNamed) {
    const wxString original = File(Plain("<shortcut>Ctrl+1<key>KEEP</key></shortcut>"));
    dir.Write("Coilhatch.xml", original);
    ScriptRegistry registry;
    registry.Open(path);
    ASSERT_EQ(scriptList->GetCount(), 2u);
    scriptList->Get(0)->shortcut = "Ctrl+Alt+2";
    registry.Close();
    EXPECT_EQ(ReadFile(path + ".bak"), original);
    EXPECT_EQ(host::Settings(path).Read("/Coilhatch/Script0/shortcut", ""), "Ctrl+Alt+2");
    const std::vector<wxString> texts = modal.TakeTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].Contains("what <shortcut> of \"a\" held besides its value")) << texts[0];
    EXPECT_TRUE(texts[0].Contains("\"" + path + ".bak\"")) << texts[0];

    // Cleared, a plain shortcut simply goes.
    ScriptRegistry again;
    delete scriptList;
    scriptList = nullptr;
    again.Open(path);
    scriptList->Get(0)->shortcut.clear();
    again.Close();
    EXPECT_FALSE(host::Settings(path).HasKey("/Coilhatch/Script0/shortcut")) << ReadFile(path);
    EXPECT_EQ(modal.PendingCount(), 0u);
}

} // namespace
