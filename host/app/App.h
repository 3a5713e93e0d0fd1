// The editor application: starts the frame and the plug-ins, carries out the command line, and
// in batch mode answers every dialog itself and writes what a person would have seen to
// standard output.
#pragma once

#include "host/app/CommandLine.h"

#include <wx/app.h>
#include <wx/weakref.h>

#include <memory>
#include <mutex>

class CMainFrame;
class wxEventLoopBase;

// Standard output, written as text arrives, knowing whether it stands at the start of a line.
// Any thread may write: the message output writes on the thread that appends.
class CConsoleWriter {
public:
    void Write(const wxString& text);
    // Writes the text as a line of its own, ending the current line first when needed.
    void WriteLine(const wxString& text);

private:
    void WriteLocked(const wxString& text);

    std::mutex mutex;
    bool atLineStart = true;
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
    void PrintCompletion();
    // Handles everything pending (toolkit events, queued calls, idle work) without waiting.
    void ProcessEventsNow(wxEventLoopBase& loop);
    bool FrameAlive() const;
    // Closes the frame as a person would: unsaved documents are asked about. Returns when the
    // frame is gone, running the main loop again whenever the close is cancelled.
    void CloseFrame(bool runLoopFirst);

    CCommandLine commandLine;
    wxWeakRef<CMainFrame> frame;
    CConsoleWriter console;
    std::unique_ptr<class CBatchDialogHook> batchHook;
    std::unique_ptr<class CStopPresser> stopPresser; // --stop-after
    bool exitRequested = false;
};
