// Two guards of the editor's process against what scripts do to it: a fork whose child comes
// back from the script into the editor, and atexit functions that never return.
#pragma once

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

// While it lives, a thread watches the clock. Past the limit it tells the user, on the standard
// error, that the editor ends without waiting for the rest of the work, flushes the standard
// streams and ends the process with status 0: the settings are saved before then.
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

} // namespace process_guards
