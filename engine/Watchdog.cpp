#include "engine/Gil.h"

#include "engine/Watchdog.h"

#include "engine/CoreApi.h"
#include "engine/OutputPipe.h"

#include "plugin/EditorServices.h"
#include "plugin/Extensions.h"

#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/thread.h>
#include <wx/utils.h>
#include <wx/weakref.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace watchdog {

namespace {

using Clock = std::chrono::steady_clock;

// What the watchdog thread shares with the editor's thread. Never destroyed: the thread waits
// on it until the process ends.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool armed = false;
    bool threadStarted = false;
    // A pending call is queued or running: at most one at a time, so that the interpreter's
    // small queue of pending calls never fills up with ours.
    std::atomic<bool> queued{false};
};

Shared& TheShared() {
    static Shared* const shared = new Shared;
    return *shared;
}

thread_local const Limits* currentLimits = nullptr;
thread_local RunState* currentRun = nullptr;

int Tick(void*);

void WatchLoop(OwnThreadState& own) {
    Shared& shared = TheShared();
    std::unique_lock<std::mutex> lock(shared.mutex);
    for (;;) {
        shared.changed.wait(lock, [&] { return shared.armed; });
        // A timed wait in this thread only: the editor's thread never waits for it.
        if (shared.changed.wait_for(lock, tickInterval, [&] { return !shared.armed; }))
            continue;
        if (shared.queued.exchange(true))
            continue; // the last one has not run yet
        // Unlocked meanwhile: the editor's thread arms and disarms holding the interpreter lock.
        lock.unlock();
        if (Py_AddPendingCall(&Tick, nullptr) == 0) {
            // The interpreter notices a pending call that another thread queued only when
            // its main thread takes the lock anew. Asking for the lock makes the script's
            // thread hand it over within the interpreter's switch interval (5 ms). With the
            // thread's one state: a state made on every tick allocates while a script may be
            // swapping Python's allocators (tracemalloc).
            const OwnThreadState::Hold gil(own);
        } else {
            shared.queued = false; // the queue is full: try again at the next tick
        }
        lock.lock();
    }
}

void SetArmed(bool armed) {
    Shared& shared = TheShared();
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.armed = armed;
        if (armed && !shared.threadStarted) {
            try {
                StartOwnThread(WatchLoop);
                shared.threadStarted = true;
            } catch (const std::exception&) {
                // No watchdog this run: the script runs without a Stop window.
            }
        }
    }
    shared.changed.notify_all();
}

// The small window of a long run. Stop (or Esc, or closing the window) asks the run to stop.
// It is wide enough for its title and text, so that a window manager shows both whole.
class RunningWindow : public wxDialog {
public:
    RunningWindow(wxWindow* parent, const wxString& name, std::function<void()> stop)
        : wxDialog(parent, wxID_ANY, "Python Script", wxDefaultPosition, wxDefaultSize, wxCAPTION) {
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        auto* text = new wxStaticText(this, wxID_ANY,
                                      "Running " + wxControl::EscapeMnemonics(Shortened(name)) +
                                          wxString(wxUniChar(0x2026)));
        sizer->Add(text, 0, wxALL, 12);
        // The cancel id makes Esc press it.
        auto* button = new wxButton(this, wxID_CANCEL, "Stop");
        sizer->Add(button, 0, wxALIGN_CENTER_HORIZONTAL | wxLEFT | wxRIGHT | wxBOTTOM, 12);
        // Room for the title beside the window manager's buttons, whatever the text's length.
        const int titleRoom = GetTextExtent(GetTitle()).x * 3 / 2 + FromDIP(96);
        sizer->SetMinSize(wxSize(std::max({titleRoom, FromDIP(240)}), -1));
        SetSizerAndFit(sizer);
        if (parent)
            CentreOnParent();
        // Not skipped: the dialog's own handling would hide the window while the script runs.
        Bind(
            wxEVT_BUTTON, [stop](wxCommandEvent&) { stop(); }, wxID_CANCEL);
        Bind(wxEVT_CLOSE_WINDOW, [stop](wxCloseEvent& event) {
            if (!event.CanVeto()) {
                event.Skip();
                return;
            }
            event.Veto();
            stop();
        });
    }

private:
    // A name too long for a small window keeps its start and its end.
    static wxString Shortened(const wxString& name) {
        constexpr size_t most = 60;
        if (name.length() <= most)
            return name;
        return name.Left(most / 2 - 1) + wxUniChar(0x2026) + name.Right(most / 2);
    }
};

} // namespace

class RunState {
public:
    RunState(const wxString& name, const Limits& limits)
        : name(name), limits(limits), start(Clock::now()), watching(wxThread::IsMain()) {}

    ~RunState() {
        if (window && wxTheApp) {
            wxTheApp->Unbind(wxEVT_CHAR_HOOK, &RunState::OnAnyKey, this);
            wxTheApp->Unbind(wxEVT_ACTIVATE, &RunState::OnAnyActivation, this);
        }
        // The editor takes input again before the window goes.
        disabler.reset();
        if (window) {
            window->Hide();
            window->Destroy();
            // The keyboard goes back where it was before the window came up.
            if (focused && !focused->IsBeingDeleted())
                focused->SetFocus();
        }
    }

    void Arm() {
        if (!watching || armedDepth++ > 0)
            return;
        armedLoop = wxEventLoopBase::GetActive();
        SetArmed(true);
    }

    void Disarm() {
        if (!watching || --armedDepth > 0)
            return;
        SetArmed(false);
    }

    bool Armed() const { return armedDepth > 0; }
    const wxString& Name() const { return name; }

    // Between two Python instructions of the script, holding the interpreter lock. Returns -1
    // with KeyboardInterrupt set to stop the script.
    int OnTick() {
        const Clock::time_point now = Clock::now();
        if (wxEventLoopBase::GetActive() != armedLoop) {
            // Python code runs inside a dialog of the script's own (a handler of it): the
            // script waits for the user, and its time starts anew when the dialog ends.
            start = now;
            return 0;
        }
        if (limits.budget.count() > 0 && now - start >= limits.budget)
            stopRequested = true;
        if (!stopRequested && now - start >= windowDelay && wxTheApp) {
            ShowWindow();
            LetEditorRun();
        } else if (wxTheApp && !limits.quiet) {
            // Before the window, no event of the editor's is handled; an editor that can show
            // its output without them shows what the script printed so far (what the output
            // pipe holds included).
            outputpipe::Drain();
            ShowOutputNow();
        }
        if (PyErr_Occurred())
            return -1; // left by Python code that ran meanwhile; raised in the script
        if (!stopRequested)
            return 0;
        stopRequested = false;
        stopped = true;
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        return -1;
    }

    wxString name;
    Limits limits;
    Clock::time_point start;
    bool stopped = false;

private:
    void ShowWindow() {
        if (window)
            return;
        wxWindow* parent = CAppManagement::Get()->GetAppWindow();
        if (parent && (!parent->IsShown() || parent->IsBeingDeleted()))
            parent = nullptr; // a run at start, before the editor's window is shown
        focused = wxWindow::FindFocus();
        window = new RunningWindow(parent, name, [this] { stopRequested = true; });
        window->Show();
        window->FindWindow(wxID_CANCEL)->SetFocus();
        // The rest of the editor takes no input while the window is up.
        disabler = std::make_unique<wxWindowDisabler>(window.get());
        // Esc stops the script whichever of the editor's windows has the keyboard: a click on
        // the main window takes it there, and the window comes forward again.
        wxTheApp->Bind(wxEVT_CHAR_HOOK, &RunState::OnAnyKey, this);
        wxTheApp->Bind(wxEVT_ACTIVATE, &RunState::OnAnyActivation, this);
    }

    void OnAnyKey(wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_ESCAPE && event.GetModifiers() == wxMOD_NONE)
            stopRequested = true;
        else
            event.Skip();
    }

    void OnAnyActivation(wxActivateEvent& event) {
        event.Skip();
        if (!event.GetActive() || !window || event.GetEventObject() == window.get())
            return;
        window->Raise();
        if (wxWindow* button = window->FindWindow(wxID_CANCEL))
            button->SetFocus();
    }

    // One round of the editor's events: the window's, timers (the output pane shows what was
    // printed) and idle work. A run at start has no event loop yet: one is made for it.
    void LetEditorRun() {
        if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) {
            loop->YieldFor(wxEVT_CATEGORY_ALL);
            return;
        }
        if (!ownLoop)
            ownLoop.reset(wxTheApp->GetTraits()->CreateEventLoop());
        if (!ownLoop)
            return;
        wxEventLoopActivator activator(ownLoop.get());
        ownLoop->YieldFor(wxEVT_CATEGORY_ALL);
    }

    const bool watching; // on the editor's thread, where the interpreter makes pending calls
    int armedDepth = 0;
    wxEventLoopBase* armedLoop = nullptr;
    bool stopRequested = false;
    wxWeakRef<wxDialog> window;
    wxWeakRef<wxWindow> focused; // what had the keyboard before the window came up
    std::unique_ptr<wxWindowDisabler> disabler;
    std::unique_ptr<wxEventLoopBase> ownLoop;
};

namespace {

int Tick(void*) {
    assert(PyGILState_Check());
    // The next tick may be queued once this one has done its work.
    struct Done {
        ~Done() { TheShared().queued = false; }
    } done;
    // Pending calls are made on the interpreter's main thread, the editor's.
    RunState* run = currentRun;
    if (!run || !run->Armed())
        return 0; // queued just before the run's code ended
    // Nothing escapes into the interpreter's loop: the script goes on, and the failure (of the
    // toolkit, while it shows the Stop window) is told in the message output.
    try {
        return run->OnTick();
    } catch (const std::exception& error) {
        PySys_WriteStderr("The Stop window could not be shown: %.500s\n", error.what());
    } catch (...) {
        PySys_WriteStderr("The Stop window could not be shown.\n");
    }
    return PyErr_Occurred() ? -1 : 0;
}

} // namespace

LimitsScope::LimitsScope(const Limits& limits) : outer(currentLimits), limits(limits) {
    currentLimits = &this->limits;
}

LimitsScope::~LimitsScope() {
    currentLimits = outer;
}

Run::Run(const wxString& name) : name(name) {
    if (currentRun)
        return;
    state = std::make_unique<RunState>(name, currentLimits ? *currentLimits : Limits());
    currentRun = state.get();
}

Run::~Run() {
    if (state)
        currentRun = nullptr;
}

bool Run::EndQuietly() {
    assert(PyGILState_Check());
    if (!state || !state->stopped || !state->limits.quiet)
        return false;
    PyErr_Clear();
    return true;
}

void Run::SayRefused() const {
    assert(PyGILState_Check());
    if (state || !currentRun || (currentLimits && currentLimits->quiet))
        return;
    const wxScopedCharBuffer mine = name.utf8_str();
    const wxScopedCharBuffer running = currentRun->Name().utf8_str();
    PySys_WriteStderr("\"%.200s\" was not run: \"%.200s\" is still running.\n", mine.data(),
                      running.data());
}

Watched::Watched(Run& run) : state(run.state.get()) {
    if (state)
        state->Arm();
}

Watched::~Watched() {
    if (state)
        state->Disarm();
}

} // namespace watchdog
