#include "host/app/App.h"

#include "host/lib/PluginManager.h"

#include "host/app/MainFrame.h"
#include "host/app/OutputPane.h"
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
#include <wx/stc/stc.h>
#include <wx/stopwatch.h>
#include <wx/textdlg.h>
#include <wx/timer.h>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <system_error>

namespace {

// What waits is written once it holds this much, and a burst after this long.
constexpr size_t consoleChunk = 64 * 1024;
constexpr auto consoleDelay = std::chrono::milliseconds(20);

// The writer whose text waits in this process; also the lock that the fork handlers hold.
std::atomic<CConsoleWriter*> activeWriter{nullptr};

} // namespace

CConsoleWriter::CConsoleWriter(int descriptor) : fd(descriptor), owner(getpid()) {
    static const bool handlers = [] {
        pthread_atfork(&CConsoleWriter::BeforeFork, &CConsoleWriter::AfterForkInParent,
                       &CConsoleWriter::AfterForkInChild);
        std::atexit(&CConsoleWriter::FlushBeforeExit);
        return true;
    }();
    (void)handlers;
    activeWriter = this;
}

CConsoleWriter::~CConsoleWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        WriteOut();
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable()) {
        if (owner == getpid())
            thread.join();
        else
            thread.detach(); // a forked process has no such thread
    }
    CConsoleWriter* self = this;
    activeWriter.compare_exchange_strong(self, nullptr);
}

void CConsoleWriter::Write(const char* text, size_t length) {
    if (length == 0)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    Append(text, length);
}

void CConsoleWriter::Append(const char* text, size_t length) {
    const bool burstStarts = waiting.empty();
    waiting.append(text, length);
    atLineStart = text[length - 1] == '\n';
    // A line that ends after a pause is written at once, so that a trickle of lines keeps its
    // place before the output of a child process that writes to the same file.
    if (waiting.size() >= consoleChunk ||
        (atLineStart && std::chrono::steady_clock::now() - lastWrite >= consoleDelay)) {
        WriteOut();
        return;
    }
    if (!burstStarts)
        return;
    if (!thread.joinable() && owner == getpid()) {
        try {
            thread = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            // No thread now (a script took the memory for its stack): written at once instead.
            WriteOut();
            return;
        }
    }
    wake.notify_one();
}

void CConsoleWriter::WriteLine(const wxString& text) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    std::lock_guard<std::mutex> lock(mutex);
    if (!atLineStart)
        Append("\n", 1);
    waiting.append(utf8.data(), utf8.length());
    waiting += '\n';
    atLineStart = true;
    WriteOut();
}

void CConsoleWriter::Flush() {
    std::lock_guard<std::mutex> lock(mutex);
    WriteOut();
}

void CConsoleWriter::WriteOut() {
    // Nothing written is no write: the pause before the next line goes on.
    if (waiting.empty())
        return;
    size_t done = 0;
    while (done < waiting.size()) {
        const ssize_t written = ::write(fd, waiting.data() + done, waiting.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break; // nobody reads it any more: it is dropped
        done += static_cast<size_t>(written);
    }
    waiting.clear();
    lastWrite = std::chrono::steady_clock::now();
    if (waiting.capacity() > 4 * consoleChunk)
        std::string().swap(waiting);
}

void CConsoleWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        if (waiting.empty()) {
            wake.wait(lock);
            continue;
        }
        wake.wait_for(lock, consoleDelay, [this] { return stopping; });
        WriteOut();
    }
}

void CConsoleWriter::FlushBeforeExit() {
    CConsoleWriter* writer = activeWriter.load();
    // A process forked without the fork handlers (vfork) shares the editor's memory: it
    // must not touch the editor's text.
    if (!writer || writer->owner != getpid())
        return;
    std::unique_lock<std::mutex> lock(writer->mutex, std::defer_lock);
    for (int tries = 0; tries < 200 && !lock.try_lock(); ++tries)
        usleep(1000);
    if (lock.owns_lock())
        writer->WriteOut();
}

void CConsoleWriter::BeforeFork() {
    // What was written before the fork comes before anything the new process writes.
    if (CConsoleWriter* writer = activeWriter.load()) {
        writer->mutex.lock();
        if (writer->owner == getpid())
            writer->WriteOut();
    }
}

void CConsoleWriter::AfterForkInParent() {
    if (CConsoleWriter* writer = activeWriter.load())
        writer->mutex.unlock();
}

void CConsoleWriter::AfterForkInChild() {
    CConsoleWriter* writer = activeWriter.load();
    if (!writer)
        return;
    // What waits is the editor's to write.
    writer->waiting.clear();
    writer->owner = getpid();
    writer->mutex.unlock();
}

void CRunFailures::Output(const char* text, size_t length) {
    static const std::string separator(50, '-');
    constexpr size_t kept = 80; // of each line: more than the stamp and the separator have
    const std::lock_guard<std::mutex> lock(mutex);
    for (size_t start = 0; start < length;) {
        const auto* newline =
            static_cast<const char*>(std::memchr(text + start, '\n', length - start));
        const size_t end = newline ? static_cast<size_t>(newline - text) : length;
        line.append(text + start, std::min(end - start, kept - std::min(line.size(), kept)));
        if (!newline)
            break;
        // time.ctime(): "Tue Dec  8 20:03:32 2026"
        const bool stamp = previous.size() == 24 && previous[13] == ':' && previous[16] == ':';
        if (stamp && line == separator && watching)
            failed = true;
        previous.swap(line);
        line.clear();
        start = end + 1;
    }
}

void CRunFailures::MessageBox(const wxString& text) {
    // The runner's boxes for a script it could not run (the failure report of a script that ran
    // follows in the output).
    static const char* const cannotRun[] = {"Python script does not exist:", "There is no module:",
                                            "There is no MpMain function on module."};
    const std::lock_guard<std::mutex> lock(mutex);
    if (!watching)
        return;
    for (const char* start : cannotRun)
        failed = failed || text.StartsWith(start);
    failed = failed || text.Contains("has no location: choose its file");
}

bool CRunFailures::Failed() const {
    const std::lock_guard<std::mutex> lock(mutex);
    return failed;
}

void CRunFailures::Watch(bool on) {
    const std::lock_guard<std::mutex> lock(mutex);
    watching = on;
}

// In batch mode nobody answers dialogs: message boxes are written to standard output and
// answered OK, every other modal dialog is closed as if by OK without being shown.
class CBatchDialogHook : public wxModalDialogHook {
public:
    CBatchDialogHook(CConsoleWriter& writer, CRunFailures& failures,
                     const std::vector<wxString>& inputs)
        : console(writer), failures(failures), answers(inputs.begin(), inputs.end()) {
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
            failures.MessageBox(box->GetMessage());
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
    CRunFailures& failures;
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

namespace {

// Batch mode's standard output: a private duplicate of the descriptor the editor started with,
// made before any plug-in loads, so that neither a plug-in that makes descriptor 1 its own (a
// pipe to the message output, whose text batch mode writes here) nor a script that closes or
// replaces it takes the editor's output.
int OwnStandardOutput() {
    static const int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    return fd;
}

} // namespace

CMarrowpadApp::CMarrowpadApp(CCommandLine line)
    : commandLine(std::move(line)), console(OwnStandardOutput()) {}

CMarrowpadApp::~CMarrowpadApp() {
    // The standard-output sink refers to this object.
    host::GetMessageOutput(0)->ClearSinks();
}

bool CMarrowpadApp::OnInit() {
    // The command line was read in main(); wxApp's own parser is not used.
    SetAppName("marrowpad");
    delete wxLog::SetActiveTarget(new wxLogStderr);

    const wxString execPath = ProgramFolder();
    const wxString pluginsPath = CleanFolder(
        commandLine.pluginsDir.empty() ? execPath + "/plugins" : commandLine.pluginsDir);
    // Before anything loads: plug-ins ask for extensions from their first call on.
    host::SetStrictInterface(commandLine.strictInterface);
    host::GetNameItem("ExecPath")->SetAttribute(0, execPath);
    host::GetNameItem("PluginsPath")->SetAttribute(0, pluginsPath);

    if (commandLine.batch) {
        // Plug-ins show nothing outside the editor (a file manager, say) in batch mode.
        host::GetNameItem("BatchMode")->SetAttribute(0, "1");
        // Every byte, in order, written on the thread that appends: nothing waits for the
        // editor to be idle, so nothing is lost when it never is.
        host::GetMessageOutput(0)->AddSink([this](const char* text, size_t length) {
            console.Write(text, length);
            failures.Output(text, length);
        });
        batchHook = std::make_unique<CBatchDialogHook>(console, failures, commandLine.inputs);
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
        host::MessageOutputPane::Detach(mainFrame->GetOutputPane());
    SetTopWindow(mainFrame);
    // A person's editor remembers the Output pane's height; batch mode changes nothing.
    if (!commandLine.batch)
        mainFrame->UseLayoutFile(CMainFrame::DefaultLayoutFile());
    host::SyntaxEditor* first = nullptr;
    for (const auto& file : commandLine.files) {
        host::SyntaxEditor* editor = mainFrame->OpenFile(file);
        if (!first)
            first = editor;
    }
    if (first)
        mainFrame->ShowDocument(first);
    mainFrame->Show();
    mainFrame->Plugins().SetUnloadModules(commandLine.unloadPlugins);
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
    // With the modules unloaded, whatever a plug-in left behind (timers, queued calls, threads)
    // gets a second in which to touch them.
    if (commandLine.unloadPlugins)
        RunEventsFor(std::chrono::seconds(1));
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
    // Batch mode's status tells a failed run among the selections.
    const auto ranStatus = [this] { return commandLine.batch && failures.Failed() ? 1 : 0; };
    for (const auto& path : commandLine.selections) {
        if (!FrameAlive() || exitRequested)
            return ranStatus(); // a selection closed the editor, or asked it to end
        wxString error;
        failures.Watch(true);
        const bool selected = frame->SelectMenuPath(path, error);
        if (selected)
            ProcessEventsNow(loop);
        failures.Watch(false);
        if (!selected) {
            std::fprintf(stderr, "marrowpad: %s\n", static_cast<const char*>(error.utf8_str()));
            return 2;
        }
    }
    if (commandLine.complete && FrameAlive() && !exitRequested)
        PrintCompletion(loop);
    if (commandLine.batch && FrameAlive() && !exitRequested)
        PrintDiagnostics(loop);
    if (commandLine.hover && FrameAlive() && !exitRequested)
        PrintHover(loop);
    if (commandLine.goTo && FrameAlive() && !exitRequested)
        PrintGoTo(loop);
    return ranStatus();
}

host::SyntaxEditor* CMarrowpadApp::PlaceCaret(const char* option, int line, int column) {
    host::SyntaxEditor* editor = frame->GetCurrentEditor();
    if (!editor) {
        wxLogWarning("%s: no document is open.", option);
        return nullptr;
    }
    const int lineCount = editor->GetLineCount();
    int index = line - 1;
    if (index >= lineCount) {
        wxLogWarning("%s: the document has %d line(s); the caret goes to the last.", option,
                     lineCount);
        index = lineCount - 1;
    }
    // Columns count characters; a column past the end of the line puts the caret at its end.
    int pos = editor->PositionFromLine(index);
    const int end = editor->GetLineEndPosition(index);
    for (int i = 1; i < column && pos < end; ++i)
        pos = editor->PositionAfter(pos);
    editor->SetFocus();
    editor->GotoPos(pos);
    return editor;
}

void CMarrowpadApp::PrintDiagnostics(wxEventLoopBase& loop) {
    // The markers of the current document, as a plug-in tells them; one that cannot tell (the
    // editor's interface alone) shows them to a person only.
    host::SyntaxEditor* editor = frame->GetCurrentEditor();
    if (!editor || host::StrictInterface())
        return;
    WaitForPlugins(loop, editor, [] { return true; });
    if (!FrameAlive() || frame->GetCurrentEditor() != editor)
        return;
    for (const wxString& line : wxSplit(editor->GetShown("diagnostics"), '\n'))
        if (!line.empty())
            console.WriteLine("[diagnostic] " + line);
}

void CMarrowpadApp::PrintHover(wxEventLoopBase& loop) {
    host::SyntaxEditor* editor =
        PlaceCaret("--hover", commandLine.hoverLine, commandLine.hoverColumn);
    if (!editor) {
        console.WriteLine("[hover] none");
        return;
    }
    // The mouse rests on the caret's character, as the control tells it.
    editor->SetShown("hover", wxString());
    const int pos = editor->GetCurrentPos();
    const wxPoint point = editor->PointFromPosition(pos);
    wxStyledTextEvent dwell(wxEVT_STC_DWELLSTART, editor->GetId());
    dwell.SetEventObject(editor);
    dwell.SetPosition(pos);
    dwell.SetX(point.x);
    dwell.SetY(point.y);
    editor->ProcessWindowEvent(dwell);
    WaitForPlugins(loop, editor, [editor] { return editor->CallTipActive(); });
    if (!FrameAlive())
        return;
    const wxString shown = editor->GetShown("hover");
    console.WriteLine("[hover] " + (shown.empty() ? wxString("none") : shown.BeforeFirst('\n')));
    wxStyledTextEvent rest(wxEVT_STC_DWELLEND, editor->GetId());
    rest.SetEventObject(editor);
    rest.SetPosition(pos);
    editor->ProcessWindowEvent(rest);
}

void CMarrowpadApp::PrintGoTo(wxEventLoopBase& loop) {
    host::SyntaxEditor* editor = PlaceCaret("--goto", commandLine.goToLine, commandLine.goToColumn);
    if (!editor) {
        console.WriteLine("[goto] none");
        return;
    }
    // F12, as a person presses it.
    editor->SetShown("status", wxString());
    const int before = editor->GetCurrentPos();
    wxKeyEvent key(wxEVT_KEY_DOWN);
    key.m_keyCode = WXK_F12;
    key.SetEventObject(editor);
    editor->ProcessWindowEvent(key);
    WaitForPlugins(loop, editor, [this, editor, before] {
        return frame->GetCurrentEditor() != editor || editor->GetCurrentPos() != before;
    });
    if (!FrameAlive())
        return;
    host::SyntaxEditor* now = frame->GetCurrentEditor();
    const bool moved = now != editor || (now && now->GetCurrentPos() != before);
    if (!now || (!moved && !editor->GetShown("status").empty()) ||
        (!moved && host::StrictInterface())) {
        console.WriteLine("[goto] none");
        return;
    }
    // A document never saved is named by its tab.
    const wxString path =
        now->GetFilePath().empty() ? frame->GetDocumentLabel(now) : now->GetFilePath();
    console.WriteLine(
        wxString::Format("[goto] %s:%d", path, now->LineFromPosition(now->GetCurrentPos()) + 1));
}

void CMarrowpadApp::WaitForPlugins(wxEventLoopBase& loop, host::SyntaxEditor* editor,
                                   const std::function<bool()>& shown) {
    // Under --strict-interface plug-ins cannot say what they are working on: then the wait ends
    // when something shows.
    const bool told = !host::StrictInterface();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (FrameAlive() && !exitRequested && frame->GetCurrentEditor() == editor &&
           (told ? editor->GetPendingWork() > 0 : !shown()) &&
           std::chrono::steady_clock::now() < deadline) {
        loop.DispatchTimeout(20);
        ProcessPendingEvents();
    }
    ProcessEventsNow(loop);
}

void CMarrowpadApp::PrintCompletion(wxEventLoopBase& loop) {
    host::SyntaxEditor* editor =
        PlaceCaret("--complete", commandLine.completeLine, commandLine.completeColumn);
    if (!editor) {
        console.WriteLine("[completion] none");
        return;
    }
    // A plug-in's list shows when its answer comes: batch mode waits for it, as a person would.
    if (frame->StartCompletion(editor))
        WaitForPlugins(loop, editor,
                       [editor] { return editor->AutoCompActive() || editor->CallTipActive(); });
    ProcessPendingEvents();
    host::GetMessageOutput(0)->DeliverPending();

    if (FrameAlive() && frame->GetCurrentEditor() == editor && editor->AutoCompActive())
        console.WriteLine("[completion] " + editor->AutoCompGetCurrentText());
    else
        console.WriteLine("[completion] none");
}

void CMarrowpadApp::ProcessPendingEvents() {
    // As the toolkit's own, one event of the first handler at a time, but at most
    // maxPendingEventsAtOnce: the toolkit's goes on until no event is left, for ever while
    // another thread queues them without pause (a script's wx.CallAfter in a loop); the rest
    // waits for the next idle time.
    if (!m_bDoPendingEventProcessing)
        return;
    for (int done = 0; done < maxPendingEventsAtOnce; ++done) {
        wxEvtHandler* handler = nullptr;
        {
            wxCriticalSectionLocker lock(m_handlersWithPendingEventsLocker);
            if (m_handlersWithPendingEvents.IsEmpty())
                break;
            handler = m_handlersWithPendingEvents[0];
        }
        handler->ProcessPendingEvents();
    }
    // Handlers whose events a selective yield held back get their chance next time.
    wxCriticalSectionLocker lock(m_handlersWithPendingEventsLocker);
    if (!m_handlersWithPendingDelayedEvents.IsEmpty()) {
        WX_APPEND_ARRAY(m_handlersWithPendingEvents, m_handlersWithPendingDelayedEvents);
        m_handlersWithPendingDelayedEvents.Clear();
    }
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

void CMarrowpadApp::RunEventsFor(std::chrono::milliseconds span) {
    std::unique_ptr<wxEventLoopBase> loop(GetTraits()->CreateEventLoop());
    wxEventLoopActivator activator(loop.get());
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
        ProcessEventsNow(*loop);
        // Waits for the next event, or a moment when none comes (a timer's is one).
        loop->DispatchTimeout(10);
    }
}

bool CMarrowpadApp::FrameAlive() const {
    // A closed frame waits for its deletion until the loop is idle: it is gone all the same,
    // and closing it again would ask about its documents a second time.
    return frame && !frame->IsBeingDeleted() && !IsScheduledForDestruction(frame);
}
