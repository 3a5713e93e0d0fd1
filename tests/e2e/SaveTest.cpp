// The editor's frame saving documents through its File menu: each kind of file comes back byte
// for byte with the edit in its own encoding and line endings, permissions and links stay, and a
// save that cannot be made leaves the old file and says why.
#include "host/app/DocumentFile.h"
#include "host/app/MainFrame.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/app.h>
#include <wx/dir.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

using testing_support::TempDir;

namespace {

std::string Local(const wxString& path) {
    return std::string(path.fn_str());
}

std::string Bytes(const wxString& path) {
    std::ifstream in(Local(path), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void WriteBytes(const wxString& path, const std::string& bytes) {
    std::ofstream(Local(path), std::ios::binary) << bytes;
}

class SaveDocument : public testing_support::WxTest {
protected:
    void SetUp() override { frame = new CMainFrame; }
    void TearDown() override {
        frame->Destroy();
        wxTheApp->ProcessIdle();
        WxTest::TearDown();
    }

    // Opens the file, types a line at its end (the control's own new line) and saves it from
    // the File menu.
    host::SyntaxEditor* OpenEditAndSave(const wxString& path, const wxString& typed) {
        host::SyntaxEditor* editor = frame->OpenFile(path);
        if (!editor)
            return nullptr;
        editor->DocumentEnd();
        editor->AddText(typed);
        editor->NewLine();
        wxString error;
        EXPECT_TRUE(frame->SelectMenuPath("File/Save", error)) << error;
        return editor;
    }

    CMainFrame* frame = nullptr;
    TempDir dir;
};

TEST_F(SaveDocument, EachKindOfFileComesBackInItsOwnEncodingAndLineEndings) {
    const std::string big = [] {
        std::string text;
        while (text.size() < 10 * 1024 * 1024)
            text += "print('a line of a large file, \xC3\xA9t\xC3\xA9')\n";
        return text;
    }();
    struct Case {
        const char* name;
        std::string before;
        const char* typed; // UTF-8
        std::string after;
    };
    const Case cases[] = {
        {"utf8.py", "print('h\xC3\xA9llo')\n", "x = '\xE2\x82\xAC'",
         "print('h\xC3\xA9llo')\nx = '\xE2\x82\xAC'\n"},
        {"bom.py", "\xEF\xBB\xBFprint(1)\r\nprint(2)\r\n", "y = 3",
         "\xEF\xBB\xBFprint(1)\r\nprint(2)\r\ny = 3\r\n"},
        {"crlf.txt", "one\r\ntwo\r\n", "three", "one\r\ntwo\r\nthree\r\n"},
        {"mac.txt", "one\rtwo\r", "three", "one\rtwo\rthree\r"},
        {"latin1.txt", "caf\xE9 cr\xE8me\n", "na\xC3\xAFve", "caf\xE9 cr\xE8me\nna\xEFve\n"},
        {"empty.txt", "", "first", "first\n"},
        {"large.py", big, "end = 1", big + "end = 1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const wxString path = dir.File(c.name);
        WriteBytes(path, c.before);
        host::SyntaxEditor* editor = OpenEditAndSave(path, wxString::FromUTF8(c.typed));
        ASSERT_NE(editor, nullptr);
        EXPECT_FALSE(editor->GetModify());
        EXPECT_TRUE(Bytes(path) == c.after) << Bytes(path).substr(0, 80);
    }
    EXPECT_TRUE(modal.TakeMessageBoxes().empty());
}

TEST_F(SaveDocument, PermissionsAndLinksStay) {
    const wxString path = dir.File("script.py");
    WriteBytes(path, "print(1)\n");
    ASSERT_EQ(chmod(Local(path).c_str(), 0751), 0);
    const wxString link = dir.File("link.py");
    ASSERT_EQ(symlink("script.py", Local(link).c_str()), 0);

    ASSERT_NE(OpenEditAndSave(link, "print(2)"), nullptr);
    struct stat info {};
    ASSERT_EQ(lstat(Local(link).c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(Local(path).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0751u);
    EXPECT_EQ(Bytes(path), "print(1)\nprint(2)\n");
    // Nothing is left beside the file.
    wxArrayString files;
    wxDir::GetAllFiles(dir.Path(), &files, "*", wxDIR_FILES | wxDIR_HIDDEN);
    EXPECT_EQ(files.size(), 2u);
}

TEST_F(SaveDocument, AFailedSaveKeepsTheDocumentAndSaysWhy) {
    // A character that the file's own encoding cannot hold: nothing is written.
    const wxString latin = dir.File("latin.txt");
    WriteBytes(latin, "caf\xE9\n");
    host::SyntaxEditor* editor = OpenEditAndSave(latin, wxString::FromUTF8("\xE2\x82\xAC"));
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->GetModify());
    EXPECT_EQ(Bytes(latin), "caf\xE9\n");
    auto texts = modal.TakeTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].StartsWith("Cannot save \"" + latin + "\": line 2 holds")) << texts[0];
    EXPECT_TRUE(texts[0].EndsWith("Nothing was written.")) << texts[0];

    // The file's folder has gone since it was opened.
    TempDir gone;
    const wxString path = gone.Write("doc.txt", "text\n");
    editor = frame->OpenFile(path);
    ASSERT_NE(editor, nullptr);
    editor->AddText("more ");
    ASSERT_EQ(unlink(Local(path).c_str()), 0);
    ASSERT_EQ(rmdir(Local(gone.Path()).c_str()), 0);
    wxString error;
    ASSERT_TRUE(frame->SelectMenuPath("File/Save", error)) << error;
    EXPECT_TRUE(editor->GetModify());
    EXPECT_EQ(modal.TakeTexts(), std::vector<wxString>{"Cannot save \"" + path +
                                                       "\": No such file or directory. "
                                                       "The file on disk is as it was."});
}

// A folder the user may not write to; the save is made as another user where the tests run as
// root, whom no permission stops.
TEST_F(SaveDocument, AReadOnlyFolderKeepsTheOldFile) {
    const wxString path = dir.Write("kept.txt", "old\n");
    ASSERT_EQ(chmod(Local(dir.Path()).c_str(), 0755), 0);
    ASSERT_EQ(chmod(Local(path).c_str(), 0644), 0);
    const int status = testing_support::WaitStatusOfChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 2;
        wxString reason;
        if (document_file::Write(path, "new\n", reason))
            return 3;
        return reason == "Permission denied" ? 0 : 4;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Bytes(path), "old\n");
}

TEST_F(SaveDocument, ClosingWithUnsavedChangesAsks) {
    const wxString path = dir.Write("open.txt", "kept\n");
    host::SyntaxEditor* editor = frame->OpenFile(path);
    ASSERT_NE(editor, nullptr);
    editor->AddText("typed ");
    wxString error;
    modal.SetMessageBoxAnswer(wxID_CANCEL);
    ASSERT_TRUE(frame->SelectMenuPath("File/Close", error)) << error;
    EXPECT_EQ(frame->GetDocumentCount(), 1u);
    modal.SetMessageBoxAnswer(wxID_NO);
    ASSERT_TRUE(frame->SelectMenuPath("File/Close", error)) << error;
    EXPECT_EQ(frame->GetDocumentCount(), 0u);
    EXPECT_EQ(modal.TakeTexts(), std::vector<wxString>(2, "Save changes to \"open.txt\"?"));
    EXPECT_EQ(Bytes(path), "kept\n");
}

} // namespace
