#include "host/app/App.h"

#include "host/app/MainFrame.h"
#include "host/lib/Services.h"

#include <wx/apptrait.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/stopwatch.h>
#include <wx/textdlg.h>
#include <wx/timer.h>

#include <unistd.h>

#include <cstdio>
#include <deque>
#include <string>

void CConsoleWriter::Write(const wxString& text) {
    std::lock_guard<std::mutex> lock(mutex);
    WriteLocked(text);
}

void CConsoleWriter::WriteLocked(const wxString& text) {
    if (text.empty())
        return;
    const wxScopedCharBuffer utf8 = text.utf8_str();
    std::fwrite(utf8.data(), 1, utf8.length(), stdout);
    std::fflush(stdout);
    atLineStart = text.Last() == '\n';
}

void CConsoleWriter::WriteLine(const wxString& text) {
    // The message output writes as it appends, so nothing of it waits to come before the line.
    std::lock_guard<std::mutex> lock(mutex);
    WriteLocked((atLineStart ? wxString() : wxString("\n")) + text + "\n");
}

// In batch mode nobody answers dialogs: message boxes are written to standard output and
// answered OK, every other modal dialog is closed as if by OK without being shown.
class CBatchDialogHook : public wxModalDialogHook {
public:
    CBatchDialogHook(CConsoleWriter& writer, const std::vector<wxString>& inputs)
        : console(writer), answers(inputs.begin(), inputs.end()) {
        Register();
    }
    ~CBatchDialogHook() override { Unregister(); }

protected:
    int Enter(wxDialog* dialog) override {
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
            // One line per box: line breaks in the text are written as "\n".
            wxString text = box->GetCaption() + ": " + box->GetMessage();
            text.Replace("\r", "\\r");
            text.Replace("\n", "\\n");
            console.WriteLine("[message box] " + text);
            return wxID_OK;
        }
        if (auto* entry = dynamic_cast<wxTextEntryDialog*>(dialog)) {
            // An input box: answered by the next --input, or cancelled when none is left.
            wxString prompt;
            for (wxWindow* child : entry->GetChildren()) {
                if (auto* line = dynamic_cast<wxStaticText*>(child))
                    prompt += (prompt.empty() ? "" : "\n") + line->GetLabelText();
            }
            wxString text = entry->GetTitle() + ": " + prompt;
            text.Replace("\r", "\\r");
            text.Replace("\n", "\\n");
            console.WriteLine("[input box] " + text);
            if (answers.empty())
                return wxID_CANCEL;
            entry->SetValue(answers.front());
            answers.pop_front();
            return wxID_OK;
        }
        wxLogMessage("Batch mode: the dialog \"%s\" is closed as if by OK.", dialog->GetTitle());
        return wxID_OK;
    }
    void Exit(wxDialog*) override {}

private:
    CConsoleWriter& console;
    std::deque<wxString> answers;
};

// --stop-after: presses the "Stop" button of a shown dialog (a plug-in's window of a running
// script) once that window has been up for the given time, and again every such time while it
// stays. The timer fires while the running script lets the editor handle its events.
class CStopPresser : public wxTimer {
public:
    explicit CStopPresser(double seconds) : limitMs(static_cast<long>(seconds * 1000)) {
        Start(50);
    }
    ~CStopPresser() override { Stop(); }

    void Notify() override {
        wxButton* button = FindStopButton();
        if (!button) {
            shown = nullptr;
            return;
        }
        if (shown != button) {
            shown = button;
            watch.Start();
        }
        if (watch.Time() < limitMs)
            return;
        wxLogMessage("--stop-after: Stop pressed in \"%s\".", button->GetParent()->GetLabel());
        watch.Start();
        wxCommandEvent click(wxEVT_BUTTON, button->GetId());
        click.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(click);
    }

private:
    static wxButton* FindStopButton() {
        for (wxWindow* window : wxTopLevelWindows) {
            if (!dynamic_cast<wxDialog*>(window) || !window->IsShown() || window->IsBeingDeleted())
                continue;
            if (auto* button = dynamic_cast<wxButton*>(wxWindow::FindWindowByLabel("Stop", window)))
                if (button->IsEnabled())
                    return button;
        }
        return nullptr;
    }

    const long limitMs;
    wxWeakRef<wxButton> shown;
    wxStopWatch watch;
};

namespace {

// The folder of the running program, read from the system rather than from argv[0].
wxString ProgramFolder() {
    std::string buffer(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return wxFileName::GetCwd();
    buffer.resize(static_cast<size_t>(length));
    return wxFileName(wxString(buffer.c_str(), *wxConvFileName)).GetPath();
}

// An absolute folder without a trailing separator (the root stays "/").
wxString CleanFolder(const wxString& folder) {
    wxFileName name = wxFileName::DirName(folder);
    name.MakeAbsolute();
    name.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_TILDE | wxPATH_NORM_ABSOLUTE);
    wxString path = name.GetPath();
    while (path.length() > 1 && path.Last() == '/')
        path.RemoveLast();
    return path.empty() ? wxString("/") : path;
}

} // namespace

CMarrowpadApp::CMarrowpadApp(CCommandLine line) : commandLine(std::move(line)) {}

CMarrowpadApp::~CMarrowpadApp() {
    // The standard-output sink refers to this object.
    CMessageOutputManagement::Get()->GetMessageOutput(0)->ClearSinks();
}

bool CMarrowpadApp::OnInit() {
    // The command line was read in main(); wxApp's own parser is not used.
    SetAppName("marrowpad");
    delete wxLog::SetActiveTarget(new wxLogStderr);

    const wxString execPath = ProgramFolder();
    const wxString pluginsPath = CleanFolder(
        commandLine.pluginsDir.empty() ? execPath + "/plugins" : commandLine.pluginsDir);
    CNameService::Get()->GetNameItem("ExecPath")->SetAttribute(0, execPath);
    CNameService::Get()->GetNameItem("PluginsPath")->SetAttribute(0, pluginsPath);

    if (commandLine.batch) {
        // Every byte, in order, written on the thread that appends: nothing waits for the
        // editor to be idle, so nothing is lost when it never is.
        CMessageOutputManagement::Get()->GetMessageOutput(0)->AddSink(
            [this](const wxString& text) { console.Write(text); });
        batchHook = std::make_unique<CBatchDialogHook>(console, commandLine.inputs);
        // From the start: scripts that run automatically run while the plug-ins load.
        if (commandLine.stopAfter >= 0)
            stopPresser = std::make_unique<CStopPresser>(commandLine.stopAfter);
        // A toolkit assertion would ask in a dialog that nobody answers: it goes to the log.
        wxSetAssertHandler([](const wxString& file, int line, const wxString& func,
                              const wxString& cond, const wxString& msg) {
            wxLogWarning("Assertion \"%s\" failed in %s (%s:%d): %s", cond, func, file, line, msg);
        });
    }

    CMainFrame* mainFrame = new CMainFrame;
    frame = mainFrame;
    // Nobody reads the pane in batch mode, and standard output gets everything: laying out a
    // flood of output there would only hold the run up.
    if (commandLine.batch)
        CMessageOutputPane::Detach(mainFrame->GetOutputPane());
    SetTopWindow(mainFrame);
    CSyntaxEditor* first = nullptr;
    for (const auto& file : commandLine.files) {
        CSyntaxEditor* editor = mainFrame->OpenFile(file);
        if (!first)
            first = editor;
    }
    if (first)
        mainFrame->ShowDocument(first);
    mainFrame->Show();
    mainFrame->LoadPlugins(pluginsPath);
    return true;
}

int CMarrowpadApp::OnRun() {
    int status = 0;
    {
        // The selections and the completion run before the main loop, with a loop active so
        // that queued calls and toolkit events are handled in between.
        std::unique_ptr<wxEventLoopBase> loop(GetTraits()->CreateEventLoop());
        wxEventLoopActivator activator(loop.get());
        ProcessEventsNow(*loop);
        status = RunCommands(*loop);
        ProcessEventsNow(*loop);
    }

    // Batch mode answers no question about unsaved documents: the frame just goes.
    if (!commandLine.batch && status == 0)
        CloseFrame(!exitRequested);

    if (FrameAlive()) {
        frame->ReleasePlugins();
        frame->Destroy();
    }
    DeletePendingObjects();
    return status;
}

void CMarrowpadApp::CloseFrame(bool runLoopFirst) {
    // The main loop ends when the frame has closed, or when a script asked the editor to end;
    // in the second case the frame is closed here, and the plug-ins are released by its close.
    for (bool runLoop = runLoopFirst; FrameAlive(); runLoop = true) {
        if (runLoop)
            wxApp::OnRun();
        exitRequested = false;
        if (FrameAlive())
            frame->Close();
    }
}

void CMarrowpadApp::Exit() {
    // The toolkit's own would end the process at once when no main loop runs.
    ExitMainLoop();
}

void CMarrowpadApp::ExitMainLoop() {
    exitRequested = true;
    wxApp::ExitMainLoop();
}

int CMarrowpadApp::RunCommands(wxEventLoopBase& loop) {
    for (const auto& path : commandLine.selections) {
        if (!FrameAlive() || exitRequested)
            return 0; // a selection closed the editor, or asked it to end
        wxString error;
        if (!frame->SelectMenuPath(path, error)) {
            std::fprintf(stderr, "marrowpad: %s\n", static_cast<const char*>(error.utf8_str()));
            return 2;
        }
        ProcessEventsNow(loop);
    }
    if (commandLine.complete && FrameAlive() && !exitRequested)
        PrintCompletion();
    return 0;
}

void CMarrowpadApp::PrintCompletion() {
    CSyntaxEditor* editor = frame->GetCurrentEditor();
    if (!editor) {
        wxLogWarning("--complete: no document is open.");
        console.WriteLine("[completion] none");
        return;
    }
    const int lineCount = editor->GetLineCount();
    int line = commandLine.completeLine - 1;
    if (line >= lineCount) {
        wxLogWarning("--complete: the document has %d line(s); the caret goes to the last.",
                     lineCount);
        line = lineCount - 1;
    }
    // Columns count characters; a column past the end of the line puts the caret at its end.
    int pos = editor->PositionFromLine(line);
    const int end = editor->GetLineEndPosition(line);
    for (int column = 1; column < commandLine.completeColumn && pos < end; ++column)
        pos = editor->PositionAfter(pos);
    editor->SetFocus();
    editor->GotoPos(pos);
    frame->StartCompletion(editor);
    ProcessPendingEvents();
    CMessageOutputManagement::Get()->GetMessageOutput(0)->DeliverPending();

    if (FrameAlive() && frame->GetCurrentEditor() == editor && editor->AutoCompActive())
        console.WriteLine("[completion] " + editor->AutoCompGetCurrentText());
    else
        console.WriteLine("[completion] none");
}

void CMarrowpadApp::ProcessEventsNow(wxEventLoopBase& loop) {
    // Idle handlers may ask for more forever (background styling); the rounds are bounded.
    for (int round = 0; round < 50; ++round) {
        ProcessPendingEvents();
        // Bounded too: a script's thread may keep the loop busy (printing without pause).
        bool dispatched = false;
        for (int events = 0; events < 1000 && loop.Pending(); ++events) {
            loop.Dispatch();
            dispatched = true;
        }
        const bool moreIdle = ProcessIdle();
        if (!dispatched && !moreIdle && !HasPendingEvents())
            break;
    }
}

bool CMarrowpadApp::FrameAlive() const {
    // A closed frame waits for its deletion until the loop is idle: it is gone all the same,
    // and closing it again would ask about its documents a second time.
    return frame && !frame->IsBeingDeleted() && !IsScheduledForDestruction(frame);
}
