// The interpreter lock, taken and given back by scope through wxPython's core interface, so that
// the lock's bookkeeping stays wxPython's own (its event dispatch takes the same lock).
#pragma once

#include "engine/PythonApi.h"

#include <cassert>
#include <future>
#include <thread>
#include <utility>

// Whether the calling thread holds the interpreter lock. Once a script has made a
// subinterpreter, CPython turns PyGILState_Check() off: it then says yes to every thread. The
// lock's holder compared with this thread's own state still tells; no public call does.
inline bool ThisThreadHoldsTheLock() {
    PyThreadState* const holder = _PyThreadState_UncheckedGet();
    return holder != nullptr && holder == PyGILState_GetThisThreadState();
}

// Holds the interpreter lock by Python's own calls, for code that runs where wxPython's
// interface may not be at hand (a toolkit assertion's handler, a dialog's hook). Works whether
// or not the calling thread already holds it.
// PRECONDITION: the interpreter is running, and the calling thread has a thread state of the
// main interpreter or none.
class GilStateGuard {
public:
    GilStateGuard() : state(PyGILState_Ensure()) {}
    ~GilStateGuard() { PyGILState_Release(state); }

    GilStateGuard(const GilStateGuard&) = delete;
    GilStateGuard& operator=(const GilStateGuard&) = delete;

private:
    PyGILState_STATE state;
};

// Holds the interpreter lock from construction to destruction. Works whether or not the calling
// thread already holds it (the core interface's block is reentrant).
// PRECONDITION: the interpreter is running and `api` is its wxPython core interface table.
class GilGuard {
public:
    explicit GilGuard(wxPyAPI* api)
        : api(api), token((assert(api), api->p_wxPyBeginBlockThreads())) {
        assert(PyGILState_Check());
    }
    ~GilGuard() {
        if (!kept)
            api->p_wxPyEndBlockThreads(token);
    }

    GilGuard(const GilGuard&) = delete;
    GilGuard& operator=(const GilGuard&) = delete;

    // The lock is not given back at the end of the scope: the thread keeps it for the rest of the
    // process.
    void KeepForGood() { kept = true; }

private:
    wxPyAPI* api;
    wxPyBlock_t token;
    bool kept = false;
};

// Lends the interpreter lock to other threads for its lifetime and takes it back at the end.
// PRECONDITION: the calling thread holds the lock.
class GilRelease {
public:
    GilRelease() : saved((assert(PyGILState_Check()), PyEval_SaveThread())) {}
    ~GilRelease() { PyEval_RestoreThread(saved); }

    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

private:
    PyThreadState* saved;
};

// The one thread state of a thread of the engine's own that enters Python again and again, made
// when this object is and kept for its life: a state made and dropped on every entry allocates
// each time, and may do so while a script swaps Python's allocators (tracemalloc), which
// crashes.
// PRECONDITION: the interpreter is running and the calling thread has no thread state.
class OwnThreadState {
public:
    OwnThreadState() : state(PyGILState_Ensure()), saved(PyEval_SaveThread()) {}
    ~OwnThreadState() {
        PyEval_RestoreThread(saved);
        PyGILState_Release(state);
    }

    OwnThreadState(const OwnThreadState&) = delete;
    OwnThreadState& operator=(const OwnThreadState&) = delete;

    // Holds the interpreter lock with the thread's state for its own life.
    class Hold {
    public:
        explicit Hold(OwnThreadState& own) : own(own) { PyEval_RestoreThread(own.saved); }
        ~Hold() { own.saved = PyEval_SaveThread(); }

        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        OwnThreadState& own;
    };

private:
    PyGILState_STATE state;
    PyThreadState* saved;
};

// Starts a thread of the engine's own that enters Python now and then: `body` runs on it with
// the thread's one state, which is made before this returns. A calling thread that holds the
// interpreter lock lends it meanwhile, so that the state is made while no script runs.
// Throws std::system_error when no thread can be started.
// PRECONDITION: the interpreter is running.
template <class Body> void StartOwnThread(Body body) {
    std::promise<void> made;
    std::future<void> ready = made.get_future();
    std::thread([body = std::move(body), made = std::move(made)]() mutable {
        OwnThreadState own;
        made.set_value();
        body(own);
    }).detach();
    if (ThisThreadHoldsTheLock()) {
        const GilRelease lend;
        ready.wait();
    } else {
        ready.wait();
    }
}
