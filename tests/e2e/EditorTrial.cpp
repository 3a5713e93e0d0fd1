// One editor of a two-editor trial: the editor's frame with the built plug-in module, driven as
// a person would drive it, at the moment the other editor of the trial does.
//
//   editor_trial PLUGINS_DIR BARRIER_DIR ROLE WHAT [NAME]
//     ROLE  a name for this editor; it waits in BARRIER_DIR until every editor of the trial
//           (the files "ready-*" there, as many as the trial has: 2) is ready
//     WHAT  "add": Script Management, Add, the name NAME typed, OK, then the editor closes
//           "edit": the same, and the first script's description becomes NAME too
//           "idle": the editor closes
//           "keep-adding": adds scripts NAME-0, NAME-1 ... one dialog (one save) each, until the
//           file "enough" appears in BARRIER_DIR; each name saved is written to standard output as
//           "[added] NAME-k"
//           "add-on-go": "add", once the file "go" appears in BARRIER_DIR
// Every message box is written to standard output as "[message box] TEXT". Exit status 0, or
// 1 when the trial could not be run as asked.
#include "host/app/MainFrame.h"
#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dir.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/init.h>
#include <wx/listbox.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/stopwatch.h>
#include <wx/textctrl.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

namespace {

class TrialApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

// Answers the dialog as the person of the trial would, and every message box with OK.
class Person : public wxModalDialogHook {
public:
    Person(wxString what, wxString name) : name(std::move(name)), what(std::move(what)) {
        Register();
    }
    ~Person() override { Unregister(); }
    bool done = false;
    wxString name;

protected:
    int Enter(wxDialog* dialog) override {
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
            wxString text = box->GetMessage();
            text.Replace("\n", "\\n");
            std::printf("[message box] %s\n", static_cast<const char*>(text.utf8_str()));
            std::fflush(stdout); // the test may be waiting for it
            return wxID_OK;
        }
        if (what == "edit") {
            auto* list = wxDynamicCast(dialog->FindWindow(10001), wxListBox);
            auto* description = wxDynamicCast(dialog->FindWindow(10022), wxTextCtrl);
            if (!list || !description || list->GetCount() == 0)
                return wxID_OK;
            list->SetSelection(0);
            wxCommandEvent selected(wxEVT_LISTBOX, 10001);
            selected.SetEventObject(list);
            selected.SetInt(0);
            list->ProcessWindowEvent(selected);
            description->SetValue(name); // raises the text event, as typing does
        }
        auto* add = wxDynamicCast(dialog->FindWindow("addButton"), wxButton);
        auto* field = wxDynamicCast(dialog->FindWindow(10005), wxTextCtrl);
        if (!add || !field)
            return wxID_OK;
        wxCommandEvent click(wxEVT_BUTTON, add->GetId());
        click.SetEventObject(add);
        add->ProcessWindowEvent(click);
        field->SelectAll();
        field->WriteText(name);
        done = true;
        return wxID_OK;
    }
    void Exit(wxDialog*) override {}

private:
    wxString what;
};

// Waits until every editor of the trial is ready: both start their work within a millisecond or
// two of each other.
bool MeetTheOther(const wxString& barrier, const wxString& role) {
    wxFFile(barrier + "/ready-" + role, "w").Close();
    const wxStopWatch watch;
    while (watch.Time() < 60000) {
        wxArrayString ready;
        wxDir::GetAllFiles(barrier, &ready, "ready-*", wxDIR_FILES);
        if (ready.size() >= 2)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

// Waits up to a minute for the test to leave that file in the barrier folder.
bool Told(const wxString& barrier, const char* file, int withinMs = 60000) {
    const wxStopWatch watch;
    while (!wxFileName::FileExists(barrier + "/" + file)) {
        if (watch.Time() >= withinMs)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

bool AddThroughTheDialog(CMainFrame& frame, Person& person) {
    person.done = false;
    wxString error;
    if (frame.SelectMenuPath("Tools/Python Script/Script Management", error) && person.done)
        return true;
    std::fprintf(stderr, "editor_trial: %s\n", static_cast<const char*>(error.utf8_str()));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: editor_trial PLUGINS_DIR BARRIER_DIR ROLE add|edit|idle "
                             "[NAME]\n");
        return 1;
    }
    const wxString plugins = wxString::FromUTF8(argv[1]);
    const wxString barrier = wxString::FromUTF8(argv[2]);
    const wxString role = wxString::FromUTF8(argv[3]);
    const wxString what = wxString::FromUTF8(argv[4]);
    const wxString name = argc > 5 ? wxString::FromUTF8(argv[5]) : wxString();

    // The plug-in makes descriptors 1 and 2 a pipe to the editor's output: what the trial reports
    // goes to the descriptors it started with.
    host::KeepOwnStream(stdout, STDOUT_FILENO);
    host::KeepOwnStream(stderr, STDERR_FILENO);
    setenv("NO_AT_BRIDGE", "1", 0);
    wxApp::SetInstance(new TrialApp);
    if (!wxEntryStart(argc, argv))
        return 1;
    wxTheApp->CallOnInit();
    wxLog::SetActiveTarget(new wxLogStderr);
    int status = 0;
    {
        Person person(what, name);
        host::GetNameItem("ExecPath")->SetAttribute(0, COILHATCH_BIN_DIR);
        host::GetNameItem("PluginsPath")->SetAttribute(0, plugins);
        auto* frame = new CMainFrame;
        frame->LoadPlugins(plugins);
        if (!MeetTheOther(barrier, role))
            status = 1;
        // A few milliseconds either way, so that each editor's saves meet the other's at every
        // point of their work.
        std::mt19937 random(static_cast<unsigned>(getpid()));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        if (what == "keep-adding") {
            for (int k = 0; status == 0 && k < 1000 && !Told(barrier, "enough", 0); ++k) {
                person.name = wxString::Format("%s-%d", name, k);
                if (!AddThroughTheDialog(*frame, person))
                    status = 1;
                else
                    std::printf("[added] %s\n", static_cast<const char*>(person.name.utf8_str()));
                std::fflush(stdout);
            }
        } else if (what == "add-on-go") {
            if (!Told(barrier, "go") || !AddThroughTheDialog(*frame, person))
                status = 1;
        } else if (what != "idle" && !AddThroughTheDialog(*frame, person)) {
            status = 1;
        }
        frame->ReleasePlugins();
        frame->Destroy();
        wxTheApp->ProcessIdle();
    }
    std::fflush(stdout);
    // The plug-in's interpreter stays to the end of the process, as in the editor.
    _exit(status);
}
