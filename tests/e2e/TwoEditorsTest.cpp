// Two editors on one plug-ins folder at the same moment, each a process of the editor's frame
// with the built plug-in (tests/e2e/EditorTrial.cpp): both adding a script through Script
// Management, one editing while the other only starts and closes, or one stopped (SIGSTOP, as a
// debugger or a suspended laptop stops it) while it holds the settings lock in a save. No script
// and no change is lost. COILHATCH_TWO_EDITOR_TRIALS sets how many trials of each kind run (a few
// by default).
#include "host/lib/Services.h"
#include "tests/support/PluginsFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wx/arrstr.h>
#include <wx/dir.h>
#include <wx/filename.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

int Trials() {
    const char* given = std::getenv("COILHATCH_TWO_EDITOR_TRIALS");
    return given && std::atoi(given) > 0 ? std::atoi(given) : 3;
}

// Starts one editor of the trial, its standard output and error going to the file.
pid_t StartEditor(const std::vector<wxString>& args, const wxString& output) {
    std::vector<std::string> argv{COILHATCH_TESTS_BIN_DIR "/editor_trial"};
    for (const wxString& arg : args)
        argv.push_back(std::string(arg.utf8_str()));
    std::vector<char*> pointers;
    for (std::string& arg : argv)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    const std::string out(output.fn_str());
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = -1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// What one trial left: the scripts' names and the first one's description, the message boxes
// shown, the backups made.
struct Outcome {
    std::vector<wxString> names;
    wxString firstDescription;
    int told = 0;
    int backups = 0;
    bool Has(const wxString& name) const {
        return std::find(names.begin(), names.end(), name) != names.end();
    }
};

Outcome RunTrial(const std::vector<std::vector<wxString>>& editors) {
    const testing_support::PluginsFolder plugins(
        {testing_support::ScriptFile{"first", "def MpMain():\n    pass\n"}});
    const TempDir barrier;
    std::vector<pid_t> running;
    for (size_t i = 0; i < editors.size(); ++i) {
        std::vector<wxString> args{plugins.Path(), barrier.Path(), wxString::Format("%zu", i)};
        args.insert(args.end(), editors[i].begin(), editors[i].end());
        running.push_back(StartEditor(args, barrier.File(wxString::Format("out-%zu", i))));
    }
    for (size_t i = 0; i < running.size(); ++i)
        EXPECT_EQ(Wait(running[i]), 0)
            << ReadFile(barrier.File(wxString::Format("out-%zu", i))).utf8_str();
    Outcome outcome;
    for (size_t i = 0; i < editors.size(); ++i) {
        wxString out = ReadFile(barrier.File(wxString::Format("out-%zu", i)));
        outcome.told += static_cast<int>(out.Replace("[message box]", ""));
    }
    const host::Settings saved(plugins.Path() + "/Coilhatch.xml");
    for (int i = 0; i < saved.ReadInt("/Coilhatch/Counts", 0); ++i)
        outcome.names.push_back(saved.Read(wxString::Format("/Coilhatch/Script%d/name", i), ""));
    outcome.firstDescription = saved.Read("/Coilhatch/Script0/description", "");
    wxArrayString backups;
    wxDir::GetAllFiles(plugins.Path(), &backups, "Coilhatch.xml.bak*", wxDIR_FILES);
    outcome.backups = static_cast<int>(backups.size());
    EXPECT_TRUE(plugins.Whole(false)) << plugins.Settings();
    return outcome;
}

TEST(E2ETwoEditors, BothAddingAScriptAtOnceLoseNone) {
    const int trials = Trials();
    int lost = 0;
    int told = 0;
    for (int trial = 0; trial < trials; ++trial) {
        const wxString a = wxString::Format("a%d", trial);
        const wxString b = wxString::Format("b%d", trial);
        const Outcome outcome = RunTrial({{"add", a}, {"add", b}});
        const int missing =
            (outcome.Has("first") ? 0 : 1) + (outcome.Has(a) ? 0 : 1) + (outcome.Has(b) ? 0 : 1);
        EXPECT_EQ(missing, 0) << "trial " << trial;
        EXPECT_EQ(outcome.names.size(), 3u) << "trial " << trial;
        lost += missing;
        told += outcome.told;
    }
    std::printf("[figure] two editors adding a script at once: %d trials, %d scripts lost, %d "
                "message boxes\n",
                trials, lost, told);
}

TEST(E2ETwoEditors, OneEditingWhileTheOtherIdlesLosesNothing) {
    const int trials = Trials();
    int lost = 0;
    int told = 0;
    for (int trial = 0; trial < trials; ++trial) {
        const wxString name = wxString::Format("e%d", trial);
        const Outcome outcome = RunTrial({{"edit", name}, {"idle"}});
        const int missing =
            (outcome.Has(name) ? 0 : 1) + (outcome.firstDescription == name ? 0 : 1);
        EXPECT_EQ(missing, 0) << "trial " << trial;
        EXPECT_EQ(outcome.backups, 0) << "trial " << trial;
        lost += missing;
        told += outcome.told;
    }
    std::printf("[figure] one editor editing while the other idles: %d trials, %d changes lost, "
                "%d message boxes\n",
                trials, lost, told);
}

// The process holding a flock on that file, as the system lists it; 0 when none does.
pid_t FlockHolder(const wxString& path) {
    struct stat st {};
    if (stat(path.fn_str(), &st) != 0)
        return 0;
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        if (fields >> number >> kind >> mode >> access >> pid >> file && kind == "FLOCK" &&
            file == device)
            return static_cast<pid_t>(std::atoi(pid.c_str()));
    }
    return 0;
}

// Polls the condition for up to `limitMs`.
bool Eventually(const std::function<bool()>& condition, int limitMs = 60000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

void Touch(const wxString& path) {
    const int fd = open(path.fn_str(), O_WRONLY | O_CREAT, 0600);
    if (fd >= 0)
        close(fd);
}

// Editor A keeps adding scripts, a save each; it is stopped while it holds the lock in one. Then
// editor B adds a script (its save finds the lock held and tells so); A is let go on once B has
// told, and both close. What each saved must be in the file: A's scripts, B's and the first.
struct StopOutcome {
    int lost = 0;
    int told = 0;
    bool stoppedInASave = false;
};

StopOutcome RunStopTrial(int trial) {
    const testing_support::PluginsFolder plugins(
        {testing_support::ScriptFile{"first", "def MpMain():\n    pass\n"}});
    const TempDir barrier;
    const wxString a = wxString::Format("a%d", trial);
    const wxString b = wxString::Format("b%d", trial);
    const wxString outA = barrier.File("out-0");
    const wxString outB = barrier.File("out-1");
    const pid_t editorA =
        StartEditor({plugins.Path(), barrier.Path(), "0", "keep-adding", a}, outA);
    const pid_t editorB = StartEditor({plugins.Path(), barrier.Path(), "1", "add-on-go", b}, outB);
    const wxString lockFile = plugins.Path() + "/.Coilhatch.xml.lock";
    StopOutcome outcome;
    // Both have loaded the list: from now on A alone takes the lock, in its saves.
    EXPECT_TRUE(Eventually([&] {
        return wxFileName::FileExists(barrier.File("ready-0")) &&
               wxFileName::FileExists(barrier.File("ready-1"));
    }));
    outcome.stoppedInASave = Eventually([&] {
        if (FlockHolder(lockFile) != editorA)
            return false;
        kill(editorA, SIGSTOP);
        int status = 0;
        if (waitpid(editorA, &status, WUNTRACED) != editorA || !WIFSTOPPED(status))
            return false;
        if (FlockHolder(lockFile) == editorA)
            return true; // stopped with the lock in its hands
        kill(editorA, SIGCONT);
        return false;
    });
    EXPECT_TRUE(outcome.stoppedInASave) << "trial " << trial;
    Touch(barrier.File("go"));
    // B's save has met the held lock and told the user who holds it.
    EXPECT_TRUE(Eventually([&] { return ReadFile(outB).Contains("[message box]"); }))
        << "trial " << trial << ": " << ReadFile(outB).utf8_str();
    const wxString toldB = ReadFile(outB);
    EXPECT_TRUE(toldB.Contains(wxString::Format("process %d (editor_trial), which is stopped,",
                                                static_cast<int>(editorA))))
        << toldB.utf8_str();
    Touch(barrier.File("enough"));
    kill(editorA, SIGCONT);
    EXPECT_EQ(Wait(editorA), 0) << ReadFile(outA).utf8_str();
    EXPECT_EQ(Wait(editorB), 0) << ReadFile(outB).utf8_str();

    std::vector<wxString> expected{"first", b};
    for (const wxString& line : wxSplit(ReadFile(outA), '\n')) {
        wxString name;
        if (line.StartsWith("[added] ", &name))
            expected.push_back(name);
    }
    const host::Settings saved(plugins.Path() + "/Coilhatch.xml");
    std::vector<wxString> names;
    for (int i = 0; i < saved.ReadInt("/Coilhatch/Counts", 0); ++i)
        names.push_back(saved.Read(wxString::Format("/Coilhatch/Script%d/name", i), ""));
    for (const wxString& name : expected) {
        const bool kept = std::find(names.begin(), names.end(), name) != names.end();
        EXPECT_TRUE(kept) << "trial " << trial << ": " << name.utf8_str() << " lost\n"
                          << plugins.Settings().utf8_str();
        outcome.lost += kept ? 0 : 1;
    }
    outcome.told = static_cast<int>(ReadFile(outA).Replace("[message box]", "")) +
                   static_cast<int>(ReadFile(outB).Replace("[message box]", ""));
    return outcome;
}

TEST(E2ETwoEditors, AnEditorStoppedWhileItSavesLosesNothing) {
    const int trials = Trials();
    int lost = 0;
    int told = 0;
    int stopped = 0;
    int losing = 0;
    for (int trial = 0; trial < trials; ++trial) {
        const StopOutcome outcome = RunStopTrial(trial);
        losing += outcome.lost > 0 ? 1 : 0;
        lost += outcome.lost;
        told += outcome.told;
        stopped += outcome.stoppedInASave ? 1 : 0;
    }
    std::printf("[figure] one editor stopped while it saves: %d trials (%d stopped holding the "
                "lock), %d with a loss, %d scripts lost, %d message boxes\n",
                trials, stopped, losing, lost, told);
}

} // namespace
