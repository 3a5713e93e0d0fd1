// The shared test harness. Every test executable links it and gets a running wx application
// (under Xvfb), an assert handler that turns wxASSERT into a test failure, and a modal hook
// that records every message box and modal dialog and answers it without a person.
#pragma once

#include <gtest/gtest.h>
#include <wx/modalhook.h>
#include <wx/string.h>

#include <functional>
#include <vector>

class wxDialog;
class wxFrame;
class wxMenuBar;

namespace testing_support {

// One message box as the user would have seen it.
struct MessageBoxRecord {
    wxString caption;
    wxString text;
    long style = 0;
};

// Records every modal dialog. Message boxes are answered with their affirmative button (Yes for
// a question, else OK) unless the test chose another answer;
// other dialogs go to the handler if one is set, else they are closed with wxID_OK unshown.
// A handler runs instead of the dialog's modal loop: the dialog exists, is not shown, and the
// handler's return value becomes ShowModal's result.
class ModalRecorder : public wxModalDialogHook {
public:
    using DialogHandler = std::function<int(wxDialog*)>;

    ModalRecorder() { Register(); }
    ~ModalRecorder() override = default;

    // The message boxes shown since the last call, in order; forgets them.
    std::vector<MessageBoxRecord> TakeMessageBoxes();
    // The texts alone.
    std::vector<wxString> TakeTexts();
    size_t PendingCount() const { return boxes.size(); }

    void SetDialogHandler(DialogHandler handler) { dialogHandler = std::move(handler); }
    // The button that answers the next message boxes (wxID_NO, say); 0: the affirmative one.
    void SetMessageBoxAnswer(int id) { messageBoxAnswer = id; }
    int DialogsShown() const { return dialogsShown; }

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog*) override {}

private:
    std::vector<MessageBoxRecord> boxes;
    DialogHandler dialogHandler;
    int dialogsShown = 0;
    int messageBoxAnswer = 0;
};

// A test fixture with a recorder; a message box left unexamined at the end fails the test.
class WxTest : public ::testing::Test {
protected:
    void TearDown() override;

    ModalRecorder modal;
};

// A temporary folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const wxString& Path() const { return path; }
    // Path of a file in the folder (folders in `relative` are created).
    wxString File(const wxString& relative) const;
    // Writes UTF-8 text to a file in the folder and returns its path.
    wxString Write(const wxString& relative, const wxString& text) const;

private:
    wxString path;
};

// Reads a whole file as UTF-8; empty when it cannot be read.
wxString ReadFile(const wxString& path);

// The editor around a plug-in under test: a main frame with the editor's four menus
// ("&File", "&Edit", "&Tools", "&Help"), registered as the application window, the named items
// "PluginsPath" (the given folder) and "ExecPath" (the build's program folder, where MpAPI is),
// and message output 0 emptied. The frame is destroyed with the object.
class EditorEnvironment {
public:
    explicit EditorEnvironment(const wxString& pluginsPath);
    ~EditorEnvironment();
    EditorEnvironment(const EditorEnvironment&) = delete;
    EditorEnvironment& operator=(const EditorEnvironment&) = delete;

    wxFrame* Frame() const { return frame; }
    wxMenuBar* MenuBar() const;

    // Everything appended to message output 0, pieces joined, after delivering text that other
    // threads queued.
    static wxString OutputText();
    static std::vector<wxString> OutputPieces();
    // How many times the text occurs in OutputText().
    static int OutputOccurrences(const wxString& text);

private:
    wxFrame* frame;
};

// Runs the program with arguments and returns its exit status and its standard output and
// error (joined); used by the end-to-end tests.
struct ProcessResult {
    int status = -1;
    wxString out;
    wxString err;
};
ProcessResult RunProcess(const std::vector<wxString>& args, const wxString& workingDir = {});

// Runs the function in a child process of this one, so that a crash counts against it alone;
// the child ends with the function's result. The child's wait status, or -1 when no child could
// be made.
int WaitStatusOfChild(const std::function<int()>& body);

// Handles pending events (and idle events) until the condition holds or the limit passes;
// returns whether it held. Never sleeps for a fixed time to pass a test.
bool ProcessEventsUntil(const std::function<bool()>& condition, int limitMs = 5000);

// True once the process has ended: gone, or a zombie that its parent has not reaped yet.
bool ProcessEnded(long pid);

// Python source of a function `completion_server()` for scripts run inside the editor: the
// process id of the editor's completion server, 0 when none runs.
extern const char* const completionServerPid;

} // namespace testing_support
