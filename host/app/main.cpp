// marrowpad: the editor program. The command line is read before the toolkit starts, so that a
// wrong option is reported (exit status 2) even without a display.
#include "host/app/App.h"
#include "host/app/CommandLine.h"

#include <wx/init.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {

// The editor's own log (its messages, wxWidgets' and GTK's) goes to a private duplicate of the
// standard error it started with: a plug-in may make descriptor 2 its own (a pipe to the message
// output), and a script may close or replace it.
void KeepOwnStandardError() {
    const int fd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd < 0)
        return;
    FILE* file = fdopen(fd, "w");
    if (!file) {
        close(fd);
        return;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    stderr = file;
}

} // namespace

int main(int argc, char** argv) {
    KeepOwnStandardError();
    std::setlocale(LC_ALL, "");
    std::vector<wxString> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i], *wxConvFileName);

    CCommandLine commandLine;
    wxString error;
    if (!ParseCommandLine(args, commandLine, error)) {
        std::fprintf(stderr, "marrowpad: %s\n%s", static_cast<const char*>(error.utf8_str()),
                     static_cast<const char*>(CommandLineUsage().utf8_str()));
        return 2;
    }
    if (commandLine.help) {
        std::fputs(CommandLineUsage().utf8_str(), stdout);
        return 0;
    }

    // Keeps the accessibility bridge from talking to a session bus that may not exist.
    setenv("NO_AT_BRIDGE", "1", 0);
    wxApp::SetInstance(new CMarrowpadApp(std::move(commandLine)));
    return wxEntry(argc, argv);
}

// The process's _exit, which a script's os._exit() calls, ends the editor without exit
// handlers: what batch mode's standard output has waiting is written first. The program
// exports it, so that the libraries it loads (Python's among them) call this one.
extern "C" __attribute__((visibility("default"))) void _exit(int status) {
    CConsoleWriter::FlushBeforeExit();
    syscall(SYS_exit_group, status);
    __builtin_unreachable();
}
