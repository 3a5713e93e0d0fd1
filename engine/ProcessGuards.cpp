#include <Python.h>

#include "engine/ProcessGuards.h"

#include "engine/OutputPipe.h"
#include "engine/PyRef.h"
#include "engine/Report.h"

#include <unistd.h>

#include <cassert>
#include <cstdio>

namespace process_guards {

ForkedChildEnds::ForkedChildEnds() : editor(::getpid()) {}

void ForkedChildEnds::EndIfChild(int status) const {
    if (::getpid() != editor)
        ::_exit(status);
}

Deadline::Deadline(std::chrono::milliseconds limit)
    : watcher([this, limit] {
          std::unique_lock<std::mutex> lock(mutex);
          if (changed.wait_for(lock, limit, [this] { return done; }))
              return;
          std::fflush(nullptr);
          dprintf(outputpipe::EditorStandardError(),
                  "marrowpad: the scripts' atexit functions did not end within %lld s; the "
                  "editor ends without waiting for them.\n",
                  static_cast<long long>(
                      std::chrono::duration_cast<std::chrono::seconds>(limit).count()));
          ::_exit(0);
      }) {}

Deadline::~Deadline() {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    changed.notify_all();
    watcher.join();
}

ScriptInterrupts::ScriptInterrupts() {
    assert(PyGILState_Check());
    saved = sigaction(SIGINT, nullptr, &editors) == 0;
    PyRef pysignal = PyRef::Steal(PyImport_ImportModule("signal"));
    PyRef pyhandler =
        pysignal ? PyRef::Steal(PyObject_CallMethod(pysignal.Get(), "getsignal", "i", SIGINT))
                 : PyRef();
    // A handler of Python code that a script set stays. Otherwise the run starts with Python's
    // default; or, where the editor ignores SIGINT (started in the background, under nohup),
    // ignored, as Python started so leaves it. SIG_DFL and SIG_IGN are numbers; None is a
    // handler Python did not set.
    if (pysignal) {
        const PyRef pydefault =
            PyRef::Steal(PyObject_GetAttrString(pysignal.Get(), "default_int_handler"));
        const bool scriptsOwn =
            pyhandler && PyCallable_Check(pyhandler.Get()) && pyhandler.Get() != pydefault.Get();
        PyErr_Clear();
        if (!scriptsOwn) {
            const bool ignored =
                saved && !(editors.sa_flags & SA_SIGINFO) && editors.sa_handler == SIG_IGN;
            pyhandler = ignored ? PyRef::Steal(PyObject_GetAttrString(pysignal.Get(), "SIG_IGN"))
                                : pydefault;
        }
    }
    PyRef pyresult = pyhandler ? PyRef::Steal(PyObject_CallMethod(pysignal.Get(), "signal", "iO",
                                                                  SIGINT, pyhandler.Get()))
                               : PyRef();
    // Without Python's handler the run goes on, SIGINT staying the editor's.
    report::PrintPythonError();
}

ScriptInterrupts::~ScriptInterrupts() {
    {
        // The run's own error, if any, comes first; a signal that arrived meanwhile is not told.
        const bool failed = PyErr_Occurred() != nullptr;
        const report::PendingErrorKeeper keep;
        if (PyErr_CheckSignals() != 0) {
            if (failed)
                PyErr_Clear();
            else
                report::PrintPythonError();
        }
    }
    if (saved)
        sigaction(SIGINT, &editors, nullptr);
}

} // namespace process_guards
