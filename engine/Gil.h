// The interpreter lock, taken and given back by scope through wxPython's core interface, so that
// the lock's bookkeeping stays wxPython's own (its event dispatch takes the same lock).
#pragma once

#include <Python.h>
// wxpy_api.h needs sip's types declared before it.
#include <sip.h>
#include <wxpy_api.h>

// Holds the interpreter lock from construction to destruction. Works whether or not the calling
// thread already holds it (the core interface's block is reentrant).
// PRECONDITION: the interpreter is running and `api` is its wxPython core interface table.
class GilGuard {
public:
    explicit GilGuard(wxPyAPI* api) : api(api), token(api->p_wxPyBeginBlockThreads()) {}
    ~GilGuard() { api->p_wxPyEndBlockThreads(token); }

    GilGuard(const GilGuard&) = delete;
    GilGuard& operator=(const GilGuard&) = delete;

private:
    wxPyAPI* api;
    wxPyBlock_t token;
};
