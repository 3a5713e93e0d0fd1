#include "tests/support/TestSupport.h"

#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/dir.h>
#include <wx/evtloop.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/stopwatch.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace testing_support {

std::vector<MessageBoxRecord> ModalRecorder::TakeMessageBoxes() {
    std::vector<MessageBoxRecord> taken;
    taken.swap(boxes);
    return taken;
}

std::vector<wxString> ModalRecorder::TakeTexts() {
    std::vector<wxString> texts;
    for (const auto& box : TakeMessageBoxes())
        texts.push_back(box.text);
    return texts;
}

int ModalRecorder::Enter(wxDialog* dialog) {
    if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
        boxes.push_back({box->GetCaption(), box->GetMessage(), box->GetMessageDialogStyle()});
        if (messageBoxAnswer != 0)
            return messageBoxAnswer;
        return (box->GetMessageDialogStyle() & wxYES_NO) ? wxID_YES : wxID_OK;
    }
    ++dialogsShown;
    if (dialogHandler)
        return dialogHandler(dialog);
    return wxID_OK;
}

void WxTest::TearDown() {
    for (const auto& box : modal.TakeMessageBoxes())
        ADD_FAILURE() << "unexpected message box: [" << box.caption.utf8_str() << "] "
                      << box.text.utf8_str();
}

TempDir::TempDir() {
    std::string templ = (wxFileName::GetTempDir() + "/coilhatch-test-XXXXXX").utf8_string();
    if (!mkdtemp(templ.data()))
        ADD_FAILURE() << "cannot create a temporary folder";
    path = wxString::FromUTF8(templ);
}

TempDir::~TempDir() {
    if (!path.empty())
        wxFileName::Rmdir(path, wxPATH_RMDIR_RECURSIVE);
}

wxString TempDir::File(const wxString& relative) const {
    wxFileName name(path + "/" + relative);
    wxFileName::Mkdir(name.GetPath(), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    return name.GetFullPath();
}

wxString TempDir::Write(const wxString& relative, const wxString& text) const {
    const wxString full = File(relative);
    wxFFile file(full, "wb");
    const wxScopedCharBuffer utf8 = text.utf8_str();
    file.Write(utf8.data(), utf8.length());
    return full;
}

wxString ReadFile(const wxString& path) {
    wxFFile file(path, "rb");
    wxString text;
    if (file.IsOpened())
        file.ReadAll(&text, wxConvUTF8);
    return text;
}

EditorEnvironment::EditorEnvironment(const wxString& pluginsPath) {
    frame = new wxFrame(nullptr, wxID_ANY, "Marrowpad");
    auto* bar = new wxMenuBar;
    bar->Append(new wxMenu, "&File");
    bar->Append(new wxMenu, "&Edit");
    bar->Append(new wxMenu, "&Tools");
    bar->Append(new wxMenu, "&Help");
    frame->SetMenuBar(bar);
    host::SetAppWindow(frame);
    host::GetNameItem("PluginsPath")->SetAttribute(0, pluginsPath);
    host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
    host::GetMessageOutput(0)->Clear();
}

EditorEnvironment::~EditorEnvironment() {
    host::SetAppWindow(nullptr);
    frame->Destroy();
    wxTheApp->ProcessPendingEvents();
    wxTheApp->ProcessIdle(); // deletes the frame
}

wxMenuBar* EditorEnvironment::MenuBar() const {
    return frame->GetMenuBar();
}

wxString EditorEnvironment::OutputText() {
    auto* output = host::GetMessageOutput(0);
    output->DeliverPending();
    return output->GetText();
}

int EditorEnvironment::OutputOccurrences(const wxString& text) {
    const std::string output = OutputText().utf8_string();
    const std::string needle = text.utf8_string();
    int count = 0;
    for (size_t at = output.find(needle); at != std::string::npos;
         at = output.find(needle, at + needle.size()))
        ++count;
    return count;
}

std::vector<wxString> EditorEnvironment::OutputPieces() {
    auto* output = host::GetMessageOutput(0);
    output->DeliverPending();
    return output->GetPieces();
}

int WaitStatusOfChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0)
        _exit(body());
    int status = 0;
    return waitpid(child, &status, 0) == child ? status : -1;
}

ProcessResult RunProcess(const std::vector<wxString>& args, const wxString& workingDir) {
    ProcessResult result;
    char outName[] = "/tmp/coilhatch-out-XXXXXX";
    char errName[] = "/tmp/coilhatch-err-XXXXXX";
    const int outFd = mkstemp(outName);
    const int errFd = mkstemp(errName);
    if (outFd < 0 || errFd < 0)
        return result;

    std::vector<std::string> argStrings;
    for (const auto& arg : args)
        argStrings.push_back(arg.utf8_string());
    std::vector<char*> argv;
    for (auto& arg : argStrings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string dir = workingDir.utf8_string();

    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        if (!dir.empty() && chdir(dir.c_str()) != 0)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    close(outFd);
    close(errFd);
    result.out = ReadFile(outName);
    result.err = ReadFile(errName);
    unlink(outName);
    unlink(errName);
    return result;
}

bool ProcessEventsUntil(const std::function<bool()>& condition, int limitMs) {
    wxStopWatch watch;
    while (!condition()) {
        if (watch.Time() > limitMs)
            return false;
        wxTheApp->ProcessPendingEvents();
        if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) {
            while (loop->Pending())
                loop->Dispatch();
        } else {
            wxTheApp->Yield(true);
        }
        wxTheApp->ProcessIdle();
    }
    return true;
}

bool ProcessEnded(long pid) {
    // /proc's files tell no size: read as a stream.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const size_t close = line.rfind(')');
    return close != std::string::npos && line.compare(close, 4, ") Z ") == 0;
}

const char* const completionServerPid = R"py(
def completion_server():
    import os

    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as stat:
                parent = int(stat.read().rsplit(")", 1)[1].split()[1])
            with open("/proc/%s/cmdline" % entry, "rb") as command:
                server = b"autocomp_server.py" in command.read()
        except (OSError, ValueError, IndexError):  # ended meanwhile
            continue
        if parent == os.getpid() and server:
            return int(entry)
    return 0
)py";

} // namespace testing_support
