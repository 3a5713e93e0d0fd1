#include "bench/Bench.h"
#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/init.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

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
    host::KeepOwnStream(stdout, STDOUT_FILENO);
    host::KeepOwnStream(stderr, STDERR_FILENO);
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
