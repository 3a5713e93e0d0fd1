// Guards of the editor's process against what scripts do to it: a fork whose child comes back
// from the script into the editor, atexit functions that never return, and SIGINT, which is
// the script's while it runs and the editor's otherwise.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace process_guards {

// Made before a script's code runs. A script that forks (os.fork() in MpMain) returns into the
// editor twice; the child must not go on as a second editor that runs menu selections, shows
// windows and saves the settings. It ends at once, leaving the editor's state alone.
class ForkedChildEnds {
public:
    ForkedChildEnds();

    // In the child of a fork made since construction: ends the process with that status, at
    // once, running nothing of the editor's. In the editor's own process: nothing.
    void EndIfChild(int status) const;

private:
    pid_t editor;
};

// How long the scripts' atexit functions may take when the editor closes.
constexpr std::chrono::seconds shutdownLimit{3};

// While it lives, a thread watches the clock. Past the limit it tells the user, on the editor's
// own standard error, that the editor ends without waiting for the rest of the work, flushes the
// standard streams and ends the process with status 0: the settings are saved before then.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds limit);
    ~Deadline();

    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::thread watcher;
};

// While it lives (a script's run), SIGINT is Python's, as in a Python program: its handler
// raises KeyboardInterrupt in the script (one that signals itself gets what it gets outside),
// and signal.getsignal() tells so. A handler of Python code that a script set stays for the
// next run; anything else (SIG_DFL, which would end the editor) starts the next run with
// Python's default, or ignored where the editor itself ignores SIGINT, as Python started so
// does. At the end the editor's own handling is back, and a SIGINT that arrived during the run
// but was not yet acted on is acted on first (a KeyboardInterrupt that comes after the script's
// last instruction is reported).
// PRECONDITION: the calling thread is the interpreter's main thread, and holds the lock
// throughout.
class ScriptInterrupts {
public:
    ScriptInterrupts();
    ~ScriptInterrupts();

    ScriptInterrupts(const ScriptInterrupts&) = delete;
    ScriptInterrupts& operator=(const ScriptInterrupts&) = delete;

private:
    struct sigaction editors;
    bool saved = false;
};

} // namespace process_guards
