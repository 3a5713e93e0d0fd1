// Two editors on one plug-ins folder at the same moment, each a process of the editor's frame
// with the built plug-in (tests/e2e/EditorTrial.cpp): both adding a script through Script
// Management, or one editing while the other only starts and closes. No script and no change is
// lost. COILHATCH_TWO_EDITOR_TRIALS sets how many trials of each kind run (a few by default).
#include "host/lib/Services.h"
#include "tests/support/PluginsFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wx/dir.h>
#include <wx/filename.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
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

} // namespace
