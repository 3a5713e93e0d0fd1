#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/dir.h>
#include <wx/filename.h>

#include <fcntl.h>
#include <iconv.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

std::string Local(const wxString& path) {
    return std::string(path.fn_str());
}

std::string ReadBytes(const wxString& path) {
    std::ifstream in(Local(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const wxString& path, const std::string& bytes) {
    std::ofstream(Local(path), std::ios::binary) << bytes;
}

struct stat StatOf(const wxString& path) {
    struct stat st {};
    EXPECT_EQ(lstat(Local(path).c_str(), &st), 0) << path;
    return st;
}

std::vector<wxString> FilesIn(const wxString& folder) {
    std::vector<wxString> names;
    wxDir dir(folder);
    wxString name;
    for (bool more = dir.GetFirst(&name, wxEmptyString, wxDIR_FILES | wxDIR_DIRS | wxDIR_HIDDEN);
         more; more = dir.GetNext(&name))
        names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

// Writing past this many bytes fails with EFBIG, as a full disk fails a write part way.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limited = old;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }

private:
    rlimit old{};
};

// Runs the work on a thread with a small stack: a walk that recurses once per level of the
// file's nesting overflows it.
void OnSmallStack(const std::function<void()>& work) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    pthread_t thread;
    auto run = [](void* data) -> void* {
        (*static_cast<const std::function<void()>*>(data))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

class HostConfigStore : public ::testing::Test {
protected:
    TempDir dir;
    wxString path = dir.File("settings.xml");
};

TEST_F(HostConfigStore, EveryTypeSurvivesSaveAndLoad) {
    {
        host::Settings config(path);
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
    host::Settings config(path);
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
        host::Settings config(path);
        config.Write("/App/text", text, false);
        ASSERT_TRUE(config.Save());
    }
    EXPECT_TRUE(ReadFile(path).Contains("&lt;tag&gt;"));
    host::Settings config(path);
    EXPECT_EQ(config.Read("/App/text", ""), text);
}

// A character XML cannot hold would make the whole file unreadable at the next start.
TEST_F(HostConfigStore, ControlCharactersNeverMakeTheFileUnreadable) {
    {
        host::Settings config(path);
        config.Write("/App/Count", 3);
        config.Write("/App/text", wxString("bell\x07here\x1b, tab\t and line\n"), false);
        ASSERT_TRUE(config.Save());
    }
    host::Settings config(path);
    EXPECT_EQ(config.ReadInt("/App/Count", 0), 3);
    EXPECT_EQ(config.Read("/App/text", ""),
              wxString::FromUTF8("bell\xEF\xBF\xBDhere\xEF\xBF\xBD, tab\t and line\n"));
}

TEST_F(HostConfigStore, FileLayoutIsNestedElementsBelowConfig) {
    host::Settings config(path);
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
    host::Settings config(path);
    EXPECT_TRUE(config.ReadBool("/A/t", false));
    EXPECT_FALSE(config.ReadBool("/A/f", true));
    EXPECT_TRUE(config.ReadBool("/A/b", true));
    EXPECT_EQ(config.ReadInt("/A/n", 0), 12);
    EXPECT_EQ(config.ReadInt("/A/bad", 5), 5);
    EXPECT_EQ(config.ReadInt("/A/huge", 5), 5);
}

TEST_F(HostConfigStore, ClearRemovesEveryKeyAndALoadedFileSavesUnchanged) {
    {
        host::Settings config(path);
        config.Write("/A/x", 1);
        config.Write("/A/y", 2);
        ASSERT_TRUE(config.Save());
    }
    const wxString first = ReadFile(path);
    {
        host::Settings config(path);
        ASSERT_TRUE(config.Save());
    }
    EXPECT_EQ(ReadFile(path), first); // no indentation piles up
    {
        host::Settings config(path);
        config.Clear();
        config.Write("/A/y", 3);
        ASSERT_TRUE(config.Save());
    }
    host::Settings config(path);
    EXPECT_FALSE(config.HasKey("/A/x"));
    EXPECT_EQ(config.ReadInt("/A/y", 0), 3);
}

TEST_F(HostConfigStore, MissingFilePresentsNoKeysAndIsCreatedOnSave) {
    host::Settings config(path);
    EXPECT_FALSE(config.HasKey("/A"));
    EXPECT_FALSE(wxFileName::FileExists(path));
    EXPECT_TRUE(config.Save());
    EXPECT_TRUE(wxFileName::FileExists(path));
}

TEST_F(HostConfigStore, UnparsableFileIsKeptAsBackupBeforeTheFirstSave) {
    const wxString damaged = "<config><A><x>1</x><z>2</z"; // truncated
    dir.Write("settings.xml", damaged);
    {
        host::Settings config(path);
        // What was read whole before the damage is there; the element cut short is not.
        EXPECT_TRUE(config.IsDamaged());
        EXPECT_EQ(config.ReadInt("/A/x", 0), 1);
        EXPECT_FALSE(config.IsWhole("/A"));
        EXPECT_TRUE(config.IsWhole("/A/x"));
        EXPECT_FALSE(config.HasKey("/A/z"));
        config.Write("/A/y", 2);
        ASSERT_TRUE(config.Save());
    }
    EXPECT_EQ(ReadFile(path + ".bak"), damaged);
    EXPECT_EQ(host::Settings(path).ReadInt("/A/y", 0), 2);

    // A second damaged file does not overwrite the first backup.
    dir.Write("settings.xml", "not xml at all");
    ASSERT_TRUE(host::Settings(path).Save());
    EXPECT_EQ(ReadFile(path + ".bak"), damaged);
    EXPECT_EQ(ReadFile(path + ".bak1"), "not xml at all");
}

TEST_F(HostConfigStore, FailedSaveLeavesTheOldFileWhole) {
    {
        host::Settings config(path);
        config.Write("/A/x", 1);
        ASSERT_TRUE(config.Save());
    }
    const wxString before = ReadFile(path);

    host::Settings config(path);
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

TEST_F(HostConfigStore, FailedSaveSaysWhyNamingTheFile) {
    host::Settings config(path);
    config.Write("/A/long", wxString('x', 100000), false);
    {
        FileSizeLimit limit(4096);
        EXPECT_FALSE(config.Save());
    }
    EXPECT_TRUE(config.GetLastError().Contains(path)) << config.GetLastError();
    EXPECT_TRUE(config.GetLastError().Contains(std::strerror(EFBIG))) << config.GetLastError();
    EXPECT_FALSE(config.GetLastError().Contains("\n"));
    EXPECT_TRUE(config.Save());
    EXPECT_EQ(config.GetLastError(), "");

    // A folder that cannot take the file.
    const wxString nowhere = dir.File("missing/folder/settings.xml");
    wxFileName::Rmdir(dir.Path() + "/missing/folder");
    host::Settings lost(nowhere);
    EXPECT_FALSE(lost.Save());
    EXPECT_TRUE(lost.GetLastError().Contains(nowhere)) << lost.GetLastError();
    EXPECT_TRUE(lost.GetLastError().Contains(std::strerror(ENOENT))) << lost.GetLastError();
}

TEST_F(HostConfigStore, ReadOnlyFolderFailsTheSaveAndSaysSo) {
    if (geteuid() == 0)
        GTEST_SKIP() << "the superuser may write in any folder";
    host::Settings config(path);
    config.Write("/A/x", 1);
    chmod(Local(dir.Path()).c_str(), 0555);
    const bool saved = config.Save();
    chmod(Local(dir.Path()).c_str(), 0755);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(config.GetLastError().Contains(path)) << config.GetLastError();
    EXPECT_TRUE(config.GetLastError().Contains(std::strerror(EACCES))) << config.GetLastError();
}

TEST_F(HostConfigStore, FailedBackupLeavesNoPartialBackup) {
    const std::string damaged = "<config><A>" + std::string(8192, 'x'); // unclosed
    WriteBytes(path, damaged);
    host::Settings config(path);
    config.Write("/A/y", 2);
    {
        FileSizeLimit limit(4096);
        EXPECT_FALSE(config.Save());
    }
    EXPECT_TRUE(config.GetLastError().Contains(path)) << config.GetLastError();
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<wxString>{"settings.xml"});
    EXPECT_EQ(ReadBytes(path), damaged);

    ASSERT_TRUE(config.Save());
    EXPECT_EQ(ReadBytes(path + ".bak"), damaged);
    EXPECT_EQ(config.GetBackupPath(), path + ".bak");
}

TEST_F(HostConfigStore, BackupOnRequestKeepsTheFileOnceBeforeTheFirstSave) {
    {
        host::Settings config(path);
        config.Write("/A/x", 1);
        ASSERT_TRUE(config.Save());
        EXPECT_EQ(config.GetBackupPath(), "") << "no backup unless one is asked for";
    }
    const std::string original = ReadBytes(path);
    WriteBytes(path + ".bak", "someone else's");

    host::Settings config(path);
    config.KeepBackupOnSave();
    EXPECT_EQ(config.GetBackupPath(), path + ".bak1");
    config.Write("/A/x", 2);
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(ReadBytes(path + ".bak1"), original);
    EXPECT_EQ(ReadBytes(path + ".bak"), "someone else's");
    EXPECT_EQ(config.GetBackupPath(), path + ".bak1");

    ASSERT_TRUE(config.Save());
    EXPECT_FALSE(wxFileName::Exists(path + ".bak2")) << "kept once, not at every save";
    EXPECT_EQ(host::Settings(path).ReadInt("/A/x", 0), 2);
}

TEST_F(HostConfigStore, UnparsableFileNamesItsBackupBeforeTheSave) {
    WriteBytes(path, "<config>");
    host::Settings config(path);
    EXPECT_EQ(config.GetBackupPath(), path + ".bak");
}

// A pid that no process has any more: a child's, once it has ended.
pid_t EndedPid() {
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

// The name a save of `file` by process `pid` gives its temporary file.
wxString TemporaryName(const wxString& file, pid_t pid, const char* suffix = "Ab12Cd") {
    return wxString::Format(".%s.saving-%d-%s", file, int(pid), suffix);
}

TEST_F(HostConfigStore, OnlyTemporariesOfEndedSavesAreRemovedAtLoad) {
    WriteBytes(path, "<config><A>1</A></config>");
    const pid_t ended = EndedPid();
    const wxString removed[] = {TemporaryName("settings.xml", ended),
                                TemporaryName("settings.xml", ended, "zzzzzz")};
    for (const wxString& name : removed)
        WriteBytes(dir.File(name), "left over");
    // A user's own files, files of other forms, and the temporary file of a save that is
    // still going on (this process's; and one locked by a process of another machine).
    const wxString kept[] = {"settings.xml.backup",
                             "settings.xml.old123",
                             "settings.xml.Ab12Cd",
                             "settings.xml.bak",
                             TemporaryName("settings.xml", getpid()),
                             TemporaryName("settings.xml", ended, "Ab12C"),
                             TemporaryName("settings.xml", ended, "Ab12Cde"),
                             TemporaryName("settings.xml", ended, "Ab-2Cd"),
                             TemporaryName("other.xml", ended),
                             TemporaryName("settings.xml", ended).Mid(1),
                             wxString::Format(".settings.xml.saving-%dx-Ab12Cd", int(ended)),
                             TemporaryName("settings.xml", ended, "Locked")};
    for (const wxString& name : kept)
        WriteBytes(dir.File(name), "not ours");
    const int locked =
        open(Local(dir.File(TemporaryName("settings.xml", ended, "Locked"))).c_str(), O_RDONLY);
    ASSERT_EQ(flock(locked, LOCK_EX), 0);
    wxFileName::Mkdir(dir.File(TemporaryName("settings.xml", ended, "Dir123")));
    ASSERT_EQ(symlink(Local(dir.File("settings.xml.backup")).c_str(),
                      Local(dir.File(TemporaryName("settings.xml", ended, "Lnk123"))).c_str()),
              0);

    host::Settings config(path);
    close(locked);
    EXPECT_EQ(config.ReadInt("/A", 0), 1);
    for (const wxString& name : removed)
        EXPECT_FALSE(wxFileName::Exists(dir.File(name))) << name;
    for (const wxString& name : kept)
        EXPECT_EQ(ReadBytes(dir.File(name)), "not ours") << name;
    EXPECT_TRUE(wxFileName::DirExists(dir.File(TemporaryName("settings.xml", ended, "Dir123"))));
    EXPECT_TRUE(S_ISLNK(StatOf(dir.File(TemporaryName("settings.xml", ended, "Lnk123"))).st_mode));
}

// A script may lower the process's file size limit; the save then fails with a message, and
// the editor is not ended by SIGXFSZ.
TEST_F(HostConfigStore, AFileSizeLimitFailsTheSaveWithoutEndingTheProcess) {
    const std::string original = "<config><A>" + std::string(200, 'y') + "</A></config>";
    WriteBytes(path, original);
    const std::string local = Local(path);
    const int status = testing_support::WaitStatusOfChild([&] {
        std::signal(SIGXFSZ, SIG_DFL);
        host::Settings config(local);
        config.Write("/A/long", wxString('x', 1000), false);
        const rlimit small{100, 100};
        setrlimit(RLIMIT_FSIZE, &small);
        const bool saved = config.Save();
        const bool named = config.GetLastError().Contains(std::strerror(EFBIG));
        // A damaged file's backup is limited the same way.
        host::Settings again(local);
        again.KeepBackupOnSave();
        const bool backedUp = again.Save();
        return saved || !named || backedUp ? 1 : 0;
    });
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<wxString>{"settings.xml"});
}

TEST_F(HostConfigStore, SaveWritesThroughASymbolicLinkAtomically) {
    const wxString target = dir.File("real/settings-target.xml");
    WriteBytes(target, "<config><A>1</A></config>");
    ASSERT_EQ(symlink("real/settings-target.xml", Local(path).c_str()), 0); // relative
    // Beside the target: a save's left-over and the user's own copies.
    const wxString leftover = dir.File("real/" + TemporaryName("settings-target.xml", EndedPid()));
    WriteBytes(leftover, "left over beside the target");
    for (const char* name : {"settings-target.xml.backup", "settings-target.xml.v2copy"})
        WriteBytes(dir.File(wxString("real/") + name), "the user's");
    {
        host::Settings config(path);
        EXPECT_FALSE(wxFileName::Exists(leftover));
        EXPECT_EQ(config.ReadInt("/A", 0), 1);
        config.Write("/A", 2);
        ASSERT_TRUE(config.Save()) << config.GetLastError();
    }
    EXPECT_TRUE(S_ISLNK(StatOf(path).st_mode));
    EXPECT_EQ(host::Settings(target).ReadInt("/A", 0), 2);
    EXPECT_EQ(FilesIn(dir.Path() + "/real"),
              (std::vector<wxString>{"settings-target.xml", "settings-target.xml.backup",
                                     "settings-target.xml.v2copy"}));

    // A link to a file not yet there creates it.
    const wxString dangling = dir.File("dangling.xml");
    ASSERT_EQ(symlink(Local(dir.File("real/new.xml")).c_str(), Local(dangling).c_str()), 0);
    host::Settings config(dangling);
    config.Write("/B", 3);
    ASSERT_TRUE(config.Save()) << config.GetLastError();
    EXPECT_TRUE(S_ISLNK(StatOf(dangling).st_mode));
    EXPECT_EQ(host::Settings(dir.File("real/new.xml")).ReadInt("/B", 0), 3);
}

TEST_F(HostConfigStore, WriteProtectedFileIsLeftUntouched) {
    WriteBytes(path, "<config><A>1</A></config>");
    ASSERT_EQ(chmod(Local(path).c_str(), 0444), 0);
    const ino_t inode = StatOf(path).st_ino;
    host::Settings config(path);
    config.Write("/A", 2);
    EXPECT_FALSE(config.Save());
    EXPECT_TRUE(config.GetLastError().Contains(path)) << config.GetLastError();
    EXPECT_TRUE(config.GetLastError().Contains("write-protected")) << config.GetLastError();
    EXPECT_EQ(ReadBytes(path), "<config><A>1</A></config>");
    EXPECT_EQ(StatOf(path).st_ino, inode);
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0444u);
    EXPECT_EQ(FilesIn(dir.Path()).size(), 1u);
}

TEST_F(HostConfigStore, SaveKeepsTheFilesModeOwnerAndGroup) {
    WriteBytes(path, "<config><A>1</A></config>");
    ASSERT_EQ(chmod(Local(path).c_str(), 0640), 0);
    if (geteuid() == 0) { // only the superuser may give a file away
        ASSERT_EQ(chown(Local(path).c_str(), 65534, 65534), 0);
    }
    const struct stat before = StatOf(path);
    host::Settings config(path);
    config.Write("/A", 2);
    ASSERT_TRUE(config.Save()) << config.GetLastError();
    const struct stat after = StatOf(path);
    EXPECT_NE(after.st_ino, before.st_ino) << "replaced, not rewritten in place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
}

// Written by earlier versions of the store: it must read and save exactly as it did.
TEST_F(HostConfigStore, FileInTheEstablishedLayoutLoadsAndSavesUnchanged) {
    const std::string established = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                    "<config>\n"
                                    "  <Coilhatch>\n"
                                    "    <Counts>1</Counts>\n"
                                    "    <Script0>\n"
                                    "      <autoRun>0</autoRun>\n"
                                    "      <autoReload>1</autoReload>\n"
                                    "      <name>a &lt;b&gt; &amp; \"c\" 'd'</name>\n"
                                    "      <location>/x/y.py</location>\n"
                                    "      <description>one&#xD;\n\ttwo  </description>\n"
                                    "      <empty/>\n"
                                    "    </Script0>\n"
                                    "  </Coilhatch>\n"
                                    "</config>\n";
    WriteBytes(path, established);
    {
        host::Settings config(path);
        EXPECT_EQ(config.ReadInt("/Coilhatch/Counts", 0), 1);
        EXPECT_FALSE(config.ReadBool("/Coilhatch/Script0/autoRun", true));
        EXPECT_TRUE(config.ReadBool("/Coilhatch/Script0/autoReload", false));
        EXPECT_EQ(config.Read("/Coilhatch/Script0/name", ""), "a <b> & \"c\" 'd'");
        EXPECT_EQ(config.Read("/Coilhatch/Script0/description", ""), "one\r\n\ttwo  ");
        EXPECT_EQ(config.Read("/Coilhatch/Script0/empty", "x"), "");
        EXPECT_EQ(config.Read("/Coilhatch/Script0", "x"), "");
        ASSERT_TRUE(config.Save());
    }
    EXPECT_EQ(ReadBytes(path), established);
}

TEST_F(HostConfigStore, AttributesAndTextBesideElementsSurviveASave) {
    WriteBytes(path, "<config v=\"2\"><A note=\"a&quot;b&#9;c\">text <b>1</b> more</A></config>");
    {
        host::Settings config(path);
        EXPECT_EQ(config.Read("/A", ""), "text  more");
        ASSERT_TRUE(config.Save());
    }
    host::Settings config(path);
    EXPECT_EQ(config.Read("/A", ""), "text  more");
    EXPECT_EQ(config.ReadInt("/A/b", 0), 1);
    EXPECT_TRUE(ReadFile(path).Contains("<config v=\"2\">")) << ReadFile(path);
    EXPECT_TRUE(ReadFile(path).Contains("note=\"a&quot;b&#x9;c\"")) << ReadFile(path);
}

TEST_F(HostConfigStore, DeepNestingNeitherRecursesNorLosesTheOtherKeys) {
    std::string deep = "<config><Coilhatch><Counts>3</Counts>";
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    deep += "bottom";
    for (int i = 0; i < 100000; ++i)
        deep += "</a>";
    deep += "</Coilhatch></config>";
    WriteBytes(path, deep);
    wxString bottom;
    for (int i = 0; i < 100000; ++i)
        bottom += "/a";
    OnSmallStack([&] {
        {
            host::Settings config(path);
            EXPECT_EQ(config.ReadInt("/Coilhatch/Counts", 0), 3);
            EXPECT_TRUE(config.Save());
        }
        host::Settings config(path);
        EXPECT_EQ(config.ReadInt("/Coilhatch/Counts", 0), 3);
        EXPECT_EQ(config.Read("/Coilhatch" + bottom, ""), "bottom");
    });
}

TEST_F(HostConfigStore, EntitiesBeyondXmlsOwnAreDamage) {
    const std::string files[] = {
        "<config><A>al&e;pha</A></config>",
        "<?xml version=\"1.0\"?><!DOCTYPE config [<!ENTITY a \"aaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]><config><A>&b;</A></config>",
        "<!DOCTYPE config SYSTEM \"/etc/passwd\"><config><A>&e;</A></config>",
    };
    for (const std::string& file : files) {
        WriteBytes(path, file);
        host::Settings config(path);
        EXPECT_FALSE(config.HasKey("/A")) << file;
        EXPECT_EQ(config.GetBackupPath(), path + ".bak") << file;
    }
}

TEST_F(HostConfigStore, HugeValuesLoadAndOversizedFilesAreDamage) {
    const std::string head = "<config><A><x>1</x><big>";
    const std::string value(8u << 20, 'v');
    WriteBytes(path, head + value + "</big></A></config>");
    {
        host::Settings config(path);
        EXPECT_EQ(config.Read("/A/big", "").length(), value.size());
        EXPECT_EQ(config.ReadInt("/A/x", 0), 1);
    }
    std::string refs;
    for (int i = 0; i < 300000; ++i)
        refs += "&#233;&amp;";
    WriteBytes(path, head + refs + "</big></A></config>");
    EXPECT_EQ(host::Settings(path).Read("/A/big", "").length(), 600000u);

    // So many elements that no settings file has them: damage, whatever the file's size.
    std::string elements = "<config><x>1</x>";
    for (int i = 0; i < 300000; ++i)
        elements += "<a/>";
    WriteBytes(path, elements + "</config>");
    EXPECT_TRUE(host::Settings(path).IsDamaged());

    // Past 16 MB the file is not read, and it is kept before the first save replaces it.
    const std::string oversized = head + std::string(16u << 20, 'v') + "</big></A></config>";
    WriteBytes(path, oversized);
    {
        host::Settings config(path);
        EXPECT_FALSE(config.HasKey("/A/x"));
        config.Write("/A/x", 2);
        ASSERT_TRUE(config.Save());
    }
    EXPECT_EQ(ReadBytes(path + ".bak"), oversized);
    host::Settings config(path);
    EXPECT_EQ(config.ReadInt("/A/x", 0), 2);

    // Settings that would not load again are not saved.
    config.Write("/A/big", wxString('v', 17u << 20), false);
    EXPECT_FALSE(config.Save());
    EXPECT_TRUE(config.GetLastError().Contains("16 MB")) << config.GetLastError();
    EXPECT_EQ(host::Settings(path).ReadInt("/A/x", 0), 2);
}

TEST_F(HostConfigStore, ChildNamesListOneLevelInTheFilesOrderRepeatsIncluded) {
    WriteBytes(path, "<config><L><Script9><name>n</name></Script9><Counts>2</Counts>"
                     "<Script3><name>a</name></Script3><Script3><name>b</name></Script3>"
                     "<leaf>text</leaf></L><M/></config>");
    host::Settings config(path);
    EXPECT_EQ(config.GetChildNames("/L"), wxSplit("Script9,Counts,Script3,Script3,leaf", ','));
    EXPECT_EQ(config.GetChildNames("/"), wxSplit("L,M", ','));
    EXPECT_EQ(config.GetChildNames(""), wxSplit("L,M", ','));
    EXPECT_EQ(config.GetChildNames("/L/Script9"), wxArrayString(1, "name"));
    EXPECT_TRUE(config.GetChildNames("/L/leaf").empty());
    EXPECT_TRUE(config.GetChildNames("/M").empty());
    EXPECT_TRUE(config.GetChildNames("/Absent").empty());
    EXPECT_TRUE(config.GetChildNames("/L/Script3[2]").empty());

    // A key written later is listed after those the file held.
    config.Write("/L/added", 1);
    EXPECT_EQ(config.GetChildNames("/L/").Last(), "added");
}

// A plain key reads the first of several elements of its name; the keys GetChildKey hands out
// reach each of them, for reading and writing.
TEST_F(HostConfigStore, RepeatedElementsAreEachReachable) {
    WriteBytes(path, "<config><L><S><name>first</name></S><other/><S><name>second</name>"
                     "<on>1</on></S></L></config>");
    host::Settings config(path);
    EXPECT_EQ(config.Read("/L/S/name", ""), "first");
    EXPECT_FALSE(config.HasKey("/L/S/on"));

    EXPECT_EQ(config.GetChildKey("/L", 0), "/L/S");
    EXPECT_EQ(config.GetChildKey("/L/", 1), "/L/other");
    EXPECT_EQ(config.GetChildKey("/L", 2), "/L/S[1]");
    EXPECT_TRUE(config.GetChildKey("/L", 3).empty());
    EXPECT_TRUE(config.GetChildKey("/Absent", 0).empty());
    EXPECT_EQ(config.Read("/L/S[1]/name", ""), "second");
    EXPECT_EQ(config.Read("/L/S[0]/name", ""), "first");
    EXPECT_TRUE(config.ReadBool("/L/S[1]/on", false));
    EXPECT_FALSE(config.HasKey("/L/S[2]"));

    config.Write("/L/S[1]/name", wxString("changed"), false);
    EXPECT_EQ(config.Read("/L/S/name", ""), "first");
    // A later element of a name not held yet is added as the next of that name.
    config.Write("/L/S[7]/name", wxString("third"), false);
    EXPECT_EQ(config.GetChildNames("/L"), wxSplit("S,other,S,S", ','));
    EXPECT_EQ(config.Read("/L/S[2]/name", ""), "third");
    ASSERT_TRUE(config.Save());

    const host::Settings saved(path);
    EXPECT_EQ(saved.Read("/L/S[1]/name", ""), "changed");
    EXPECT_EQ(saved.Read("/L/S[2]/name", ""), "third");
}

// Brackets that do not hold a count are part of the name, as before: such a key is never
// taken for a later element of another name.
TEST_F(HostConfigStore, OnlyACountInBracketsAddressesARepeat) {
    WriteBytes(path, "<config><L><S>1</S><S>2</S></L></config>");
    const host::Settings config(path);
    for (const char* key : {"/L/S[]", "/L/S[x]", "/L/S[-1]", "/L/S[+1]", "/L/[1]", "/L/S[1",
                            "/L/S[1]x", "/L/S[99999999999]"})
        EXPECT_FALSE(config.HasKey(key)) << key;
    EXPECT_EQ(config.ReadInt("/L/S[01]", 0), 2);
}

} // namespace

namespace {

// What a person writes into the file beside the values stays through a save: comments and
// instructions where they were, before, inside and after the document element.
TEST_F(HostConfigStore, CommentsAndInstructionsStayWhereTheyWere) {
    WriteBytes(path, "<?xml version=\"1.0\"?>\n<!-- head -->\n<?tool a=\"1\"?>\n"
                     "<config><!-- in config --><A>1<!-- in a value --></A>"
                     "<B><?pi data?><C>2</C></B></config>\n<!-- tail -->\n");
    {
        host::Settings config(path);
        EXPECT_EQ(config.ReadInt("/A", 0), 1);
        EXPECT_EQ(config.GetChildNames("/"),
                  wxArrayString(2, std::array<wxString, 2>{"A", "B"}.data()));
        EXPECT_FALSE(config.HoldsTextAlone("/A"));
        EXPECT_TRUE(config.HoldsTextAlone("/B/C"));
        config.Write("/B/C", 3);
        ASSERT_TRUE(config.Save()) << config.GetLastError();
    }
    const wxString saved = ReadFile(path);
    for (const char* kept :
         {"<!-- head -->\n<?tool a=\"1\"?>\n<config>", "<!-- in config -->",
          "<A>1<!-- in a value --></A>", "<?pi data?>", "<C>3</C>", "</config>\n<!-- tail -->\n"})
        EXPECT_TRUE(saved.Contains(kept)) << kept << "\n" << saved;
    // A key written over replaces what its element held, comments included; Clear takes all.
    host::Settings config(path);
    config.Write("/A", 5);
    EXPECT_TRUE(config.HoldsTextAlone("/A"));
    config.Clear();
    config.Write("/D", 1);
    ASSERT_TRUE(config.Save());
    EXPECT_FALSE(ReadFile(path).Contains("<!--")) << ReadFile(path);
}

TEST_F(HostConfigStore, ChildElementsAreTakenOutAndRenamedInPlace) {
    WriteBytes(path, "<config><L><X>0</X><!--c--><Y a=\"1\">1</Y><X>2</X><Z><q/></Z><X>4</X></L>"
                     "</config>");
    host::Settings config(path);
    EXPECT_FALSE(config.RenameChild("/L", 1, "bad name"));
    EXPECT_FALSE(config.RenameChild("/L", 1, "9digit"));
    EXPECT_FALSE(config.RenameChild("/L", 7, "W"));
    EXPECT_TRUE(config.RenameChild("/L", 1, "W"));
    // Indexes count elements only, as the child names do; the order given does not matter.
    EXPECT_EQ(config.RemoveChildren("/L", {4, 0, 9}), 2u);
    EXPECT_EQ(config.RemoveChildren("/M", {0}), 0u);
    EXPECT_EQ(config.GetChildNames("/L"),
              wxArrayString(3, std::array<wxString, 3>{"W", "X", "Z"}.data()));
    EXPECT_EQ(config.ReadInt("/L/X", -1), 2);
    config.Write("/L/V", 5); // appended after what is left
    ASSERT_TRUE(config.Save());
    EXPECT_TRUE(ReadFile(path).Contains("<!--c-->")) << ReadFile(path);
    EXPECT_TRUE(ReadFile(path).Contains("<W a=\"1\">1</W>")) << ReadFile(path);
    EXPECT_EQ(host::Settings(path).GetChildNames("/L"),
              wxArrayString(4, std::array<wxString, 4>{"W", "X", "Z", "V"}.data()));
}

// Files whose start is not ASCII are recognised by their first bytes, as XML reads them.
TEST_F(HostConfigStore, Utf32AndEbcdicFilesAreRead) {
    const std::string text = "<?xml version=\"1.0\" encoding=\"ENC\"?>\n"
                             "<config><A>Caf\xc3\xa9 [x]</A></config>\n";
    const auto withEncoding = [&](const char* name) {
        std::string declared = text;
        declared.replace(declared.find("ENC"), 3, name);
        return declared;
    };
    // Converted with iconv, as a person's tool would have written them.
    const auto convert = [](const std::string& utf8, const char* to) {
        iconv_t converter = iconv_open(to, "UTF-8");
        EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1)) << to;
        std::string out(utf8.size() * 4 + 8, '\0');
        char* in = const_cast<char*>(utf8.data());
        size_t inLeft = utf8.size();
        char* at = out.data();
        size_t outLeft = out.size();
        iconv(converter, &in, &inLeft, &at, &outLeft);
        iconv_close(converter);
        out.resize(out.size() - outLeft);
        return out;
    };
    const struct {
        const char* what;
        std::string bytes;
    } files[] = {
        {"UTF-32 with a mark", convert(withEncoding("UTF-32"), "UTF-32")},
        {"UTF-32BE with a mark",
         std::string("\0\0\xFE\xFF", 4) + convert(withEncoding("UTF-32"), "UTF-32BE")},
        {"UTF-32LE with a mark",
         std::string("\xFF\xFE\0\0", 4) + convert(withEncoding("UTF-32"), "UTF-32LE")},
        {"UTF-32BE without", convert(withEncoding("UTF-32BE"), "UTF-32BE")},
        {"UTF-32LE without", convert(withEncoding("UTF-32LE"), "UTF-32LE")},
        {"IBM037", convert(withEncoding("IBM037"), "IBM037")},
        {"IBM1047", convert(withEncoding("IBM1047"), "IBM1047")},
        {"IBM500", convert(withEncoding("IBM500"), "IBM500")},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.what);
        WriteBytes(path, file.bytes);
        host::Settings config(path);
        EXPECT_FALSE(config.IsDamaged());
        EXPECT_EQ(config.Read("/A", ""), wxString::FromUTF8("Caf\xc3\xa9 [x]"));
        ASSERT_TRUE(config.Save());
        EXPECT_TRUE(ReadFile(path).StartsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        EXPECT_EQ(host::Settings(path).Read("/A", ""), wxString::FromUTF8("Caf\xc3\xa9 [x]"));
    }
    // A character the encoding does not have ends what is read, as in any other encoding.
    std::string broken = std::string("\0\0\xFE\xFF", 4) +
                         convert(withEncoding("UTF-32"), "UTF-32BE") + std::string("\0\x11\0\0", 4);
    WriteBytes(path, broken);
    EXPECT_TRUE(host::Settings(path).IsDamaged());
}

// The owner reads and writes the settings file whatever umask a script left; an existing file
// keeps its mode.
TEST_F(HostConfigStore, ANewFileIsTheOwnersWhateverTheUmask) {
    const mode_t previous = umask(0777);
    {
        host::Settings config(path);
        config.Write("/A", 1);
        EXPECT_TRUE(config.Save()) << config.GetLastError();
    }
    umask(previous);
    EXPECT_EQ(StatOf(path).st_mode & 0777, 0600u);
    EXPECT_EQ(host::Settings(path).ReadInt("/A", 0), 1);

    ASSERT_EQ(chmod(Local(path).c_str(), 0604), 0);
    umask(0777);
    {
        host::Settings config(path);
        config.Write("/A", 2);
        EXPECT_TRUE(config.Save());
    }
    umask(previous);
    EXPECT_EQ(StatOf(path).st_mode & 0777, 0604u);
}

} // namespace
