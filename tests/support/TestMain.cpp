// main() of every test executable: the toolkit is started once per process (CTest runs each
// test case in a process of its own), and only when tests are to be run, not listed.
#include "host/lib/Services.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

class TestApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    ADD_FAILURE_AT(file.utf8_str(), line) << "wxWidgets assertion in " << func.utf8_str() << ": "
                                          << cond.utf8_str() << " " << msg.utf8_str();
}

} // namespace

int main(int argc, char** argv) {
    host::KeepOwnStream(stdout, STDOUT_FILENO);
    host::KeepOwnStream(stderr, STDERR_FILENO);
    ::testing::InitGoogleTest(&argc, argv);
    // The tests run again as in an editor that offers its interface alone.
    if (const char* strict = std::getenv("COILHATCH_STRICT_INTERFACE"))
        host::SetStrictInterface(std::string(strict) == "1");
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    setenv("NO_AT_BRIDGE", "1", 0);
    wxApp::SetInstance(new TestApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "cannot start the toolkit: is there a display (xvfb-run)?\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    wxSetAssertHandler(FailOnAssert);
    wxLog::SetActiveTarget(new wxLogStderr);

    std::unique_ptr<wxEventLoopBase> loop(wxTheApp->GetTraits()->CreateEventLoop());
    wxEventLoopBase::SetActive(loop.get());

    const int status = RUN_ALL_TESTS();

    wxEventLoopBase::SetActive(nullptr);
    loop.reset();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return status;
}
