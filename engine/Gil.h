// The interpreter lock, taken and given back by scope through wxPython's core interface, so that
// the lock's bookkeeping stays wxPython's own (its event dispatch takes the same lock).
#pragma once

#include "engine/PythonApi.h"

#include <cassert>

// Holds the interpreter lock from construction to destruction. Works whether or not the calling
// thread already holds it (the core interface's block is reentrant).
// PRECONDITION: the interpreter is running and `api` is its wxPython core interface table.
class GilGuard {
public:
    explicit GilGuard(wxPyAPI* api)
        : api(api), token((assert(api), api->p_wxPyBeginBlockThreads())) {
        assert(PyGILState_Check());
    }
    ~GilGuard() { api->p_wxPyEndBlockThreads(token); }

    GilGuard(const GilGuard&) = delete;
    GilGuard& operator=(const GilGuard&) = delete;

private:
    wxPyAPI* api;
    wxPyBlock_t token;
};
