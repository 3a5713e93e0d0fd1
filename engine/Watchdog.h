// Keeps a running script from freezing the editor. While a script's Python code runs on the
// editor's thread, a watchdog thread (one for the process) asks the interpreter every 100 ms
// for a pending call, which the interpreter makes between two Python instructions, holding its
// lock. Until a second has passed, that call asks the editor to show what the script printed
// so far, where the editor can (an extension: plugin/Extensions.h). After a second of running,
// that call shows a small window ("Running name…" and a
// "Stop" button, which Esc presses), lets the editor handle its events for that window and
// the output pane, and raises KeyboardInterrupt in the script once Stop was pressed. No signal
// is used: the editor owns them. Code blocked inside one C call is stopped (and the window
// shown) only when that call returns.
//
// A run whose time budget passes is stopped the same way; a quiet run ends without a report.
#pragma once

#include <wx/string.h>

#include <chrono>
#include <memory>

namespace watchdog {

// How often the watchdog asks for a pending call while a script's code runs.
constexpr std::chrono::milliseconds tickInterval{100};
// How long a script runs before its window comes up.
constexpr std::chrono::milliseconds windowDelay{1000};

struct Limits {
    // Past this much running the run is stopped; zero: no budget.
    std::chrono::milliseconds budget{0};
    // A stopped run ends without a report and without a message box.
    bool quiet = false;
};

// The limits of every run that starts on this thread while the object lives (the completion
// request's budget). Scopes nest; the innermost wins.
class LimitsScope {
public:
    explicit LimitsScope(const Limits& limits);
    ~LimitsScope();

    LimitsScope(const LimitsScope&) = delete;
    LimitsScope& operator=(const LimitsScope&) = delete;

private:
    const Limits* outer;
    Limits limits;
};

class RunState;

// One run of a script, from its import to the end of its MpMain call. A run that starts while
// another runs on the same thread (a command handled while the running script lets the editor
// handle events) is refused: it must not start.
class Run {
public:
    // `name` is what the window shows: the script's file stem.
    explicit Run(const wxString& name);
    ~Run();

    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    bool Refused() const { return state == nullptr; }
    // Tells in the message output that this run did not start, naming the one that runs; quiet
    // for a quiet run (a completion request comes with any keystroke).
    // PRECONDITION: the run was refused and the calling thread holds the interpreter lock.
    void SayRefused() const;
    // True when the run was stopped and ends quietly; the pending error (the KeyboardInterrupt)
    // is then cleared. PRECONDITION: the calling thread holds the interpreter lock.
    bool EndQuietly();

private:
    friend class Watched;
    std::unique_ptr<RunState> state;
    wxString name;
};

// The script's own Python code runs while the object lives (its import, its MpMain call); only
// then does the watchdog act. The runner's own messages and reports stay outside.
class Watched {
public:
    explicit Watched(Run& run);
    ~Watched();

    Watched(const Watched&) = delete;
    Watched& operator=(const Watched&) = delete;

private:
    RunState* state;
};

} // namespace watchdog
