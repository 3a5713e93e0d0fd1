// The editor application: starts the frame and the plug-ins, carries out the command line, and
// in batch mode answers every dialog itself and writes what a person would have seen to
// standard output.
#pragma once

#include "host/app/CommandLine.h"

#include <wx/app.h>
#include <wx/string.h>
#include <wx/weakref.h>

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Batch mode's judgement of the runs it was asked for: one failed when the output received the
// closing lines of a failure report (a time stamp, then the separator line), or when a message
// box said that a script could not be run. Any thread may tell it of output.
class CRunFailures {
public:
    void Output(const char* text, size_t length);
    void MessageBox(const wxString& text);
    bool Failed() const;
    // Failures count only while a selection is being made (not the start-up scripts', nor the
    // completion's own runs).
    void Watch(bool on);

private:
    mutable std::mutex mutex;
    std::string line;     // the line being received, its first 80 bytes
    std::string previous; // the line before it
    bool watching = false;
    bool failed = false;
};

class CMainFrame;
class wxEventLoopBase;
namespace host {
class SyntaxEditor;
}

// Standard output in batch mode, written in large pieces rather than a system call per piece:
// text waits in a buffer, which is written out when it holds 64 KB, when a line ends 20 ms or
// more after the last write, 20 ms after a burst of output began (by a thread of the writer's
// own), before each line of the editor's own (a message box, say), before the process forks,
// when the writer goes, when the process exits, and when it ends without exiting (a script's
// os._exit(): see FlushBeforeExit). Knows whether the output stands at the start of a line.
// Any thread may write: the message output writes on the thread that appends. A process
// forked from the editor writes what it appends itself, never what the editor had waiting.
class CConsoleWriter {
public:
    explicit CConsoleWriter(int fd = 1);
    ~CConsoleWriter();
    CConsoleWriter(const CConsoleWriter&) = delete;
    CConsoleWriter& operator=(const CConsoleWriter&) = delete;

    void Write(const char* text, size_t length);
    // Writes the text as a line of its own, ending the current line first when needed, after
    // everything written before it.
    void WriteLine(const wxString& text);
    // Writes out what waits.
    void Flush();

    // Writes out what waits in the process's writer, if it has one; for the end of a process
    // that runs no exit handlers. Waits at most about 200 ms for a thread that is writing.
    static void FlushBeforeExit();

private:
    void Append(const char* text, size_t length);
    void WriteOut(); // with the lock held
    void Run();      // the thread that writes a burst out once it has waited a little
    static void BeforeFork();
    static void AfterForkInParent();
    static void AfterForkInChild();

    const int fd;
    std::mutex mutex;
    std::condition_variable wake;
    std::string waiting;
    bool atLineStart = true;
    bool stopping = false;
    std::chrono::steady_clock::time_point lastWrite;
    std::thread thread;
    pid_t owner; // the process whose output waits
};

class CMarrowpadApp : public wxApp {
public:
    explicit CMarrowpadApp(CCommandLine commandLine);
    ~CMarrowpadApp() override;

    bool OnInit() override;
    int OnRun() override;
    // A script may ask the editor to end (wx.Exit(), ExitMainLoop()), even where there is no main
    // loop: the editor then closes as its frame's close would, once the running command is done.
    void Exit() override;
    void ExitMainLoop() override;

private:
    // The selections, then the completion. Returns the exit status.
    int RunCommands(wxEventLoopBase& loop);
    void PrintCompletion(wxEventLoopBase& loop);
    // The markers a plug-in shows in the current document, the help where the mouse rests, and
    // the definition F12 goes to, each as batch mode writes it.
    void PrintDiagnostics(wxEventLoopBase& loop);
    void PrintHover(wxEventLoopBase& loop);
    void PrintGoTo(wxEventLoopBase& loop);
    // Puts the current document's caret at line and column (from 1); null without a document.
    host::SyntaxEditor* PlaceCaret(const char* option, int line, int column);
    // Runs the loop until what plug-ins began for the editor has shown (or `shown` says so when
    // no plug-in tells the editor of its work), for 10 s at most.
    void WaitForPlugins(wxEventLoopBase& loop, host::SyntaxEditor* editor,
                        const std::function<bool()>& shown);
    // Handles everything pending (toolkit events, queued calls, idle work) without waiting.
    void ProcessEventsNow(wxEventLoopBase& loop);
    // Handles events as they come (timers included) for that long.
    void RunEventsFor(std::chrono::milliseconds span);
    // Bounded: see maxPendingEventsAtOnce.
    void ProcessPendingEvents() override;
    static constexpr int maxPendingEventsAtOnce = 1000;
    bool FrameAlive() const;
    // Closes the frame as a person would: unsaved documents are asked about. Returns when the
    // frame is gone, running the main loop again whenever the close is cancelled.
    void CloseFrame(bool runLoopFirst);

    CCommandLine commandLine;
    wxWeakRef<CMainFrame> frame;
    CConsoleWriter console;
    CRunFailures failures; // of batch mode's selections
    std::unique_ptr<class CBatchDialogHook> batchHook;
    std::unique_ptr<class CStopPresser> stopPresser; // --stop-after
    bool exitRequested = false;
};
