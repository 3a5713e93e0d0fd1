#include "bench/Bench.h"

#include <wx/app.h>
#include <wx/init.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The figures go to private duplicates of the standard output and error the bench started with:
// the attached plug-in makes descriptors 1 and 2 a pipe to the message output.
void KeepOwnStream(FILE*& stream, int fd) {
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    FILE* file = own >= 0 ? fdopen(own, "w") : nullptr;
    if (!file)
        return;
    std::setvbuf(file, nullptr, fd == STDERR_FILENO ? _IONBF : _IOLBF, 0);
    stream = file;
}

class BenchApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

int Usage() {
    std::fprintf(stderr, "usage: coilhatch_bench attach|runscript|completion|output [options]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    KeepOwnStream(stdout, STDOUT_FILENO);
    KeepOwnStream(stderr, STDERR_FILENO);
    if (argc < 2)
        return Usage();
    setenv("NO_AT_BRIDGE", "1", 0);
    wxApp::SetInstance(new BenchApp);
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv)) {
        std::fprintf(stderr, "cannot start the toolkit: is there a display (xvfb-run)?\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    int status = 2;
    if (std::strcmp(argv[1], "attach") == 0)
        status = bench::EngineAttach(argc - 1, argv + 1);
    else if (std::strcmp(argv[1], "runscript") == 0)
        status = bench::EngineRunScript(argc - 1, argv + 1);
    else if (std::strcmp(argv[1], "completion") == 0)
        status = bench::Completion(argc - 1, argv + 1);
    else if (std::strcmp(argv[1], "output") == 0)
        status = bench::Output(argc - 1, argv + 1);
    else
        status = Usage();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return status;
}
