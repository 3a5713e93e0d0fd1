#include <Python.h>

#include "engine/FatalError.h"

#include "engine/OutputPipe.h"
#include "engine/Report.h"
#include "plugin/EditorServices.h"

#include <wx/ffile.h>
#include <wx/filename.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>

// The interpreter's own writer of the threads' Python stacks, which faulthandler uses in its
// handler (exported by libpython, declared in its internal headers only).
extern "C" const char* _Py_DumpTracebackThreads(int fd, PyInterpreterState* interp,
                                                PyThreadState* current);

namespace fatalerror {

const char reportFileName[] = "Coilhatch.crash";

namespace {

// The signals faulthandler reports.
const int fatalSignals[] = {SIGSEGV, SIGFPE, SIGABRT, SIGBUS, SIGILL};
constexpr int signalSlots = 65;

// What the handler uses, set up once and never freed: the handler may run at any moment.
struct HandlerState {
    int memoryReport = -1; // faulthandler writes here
    // The file the report is copied to: the plug-ins folder of the latest attach. Each text is
    // kept for good, so that the handler never reads one that is being freed.
    std::atomic<const char*> reportPath{nullptr};
    // What ran before the handler that copies the report: what the signal did before Watch.
    struct sigaction previous[signalSlots];
    // What ran before the handler that stops the pipe's reader: faulthandler's.
    struct sigaction faultHandler[signalSlots];
};
HandlerState* handlerState = nullptr;
volatile sig_atomic_t inForkedChild = 0;

// Only async-signal-safe calls from here to the end of OnFatalSignal.
using outputpipe::WriteAll;

void WriteBoth(int report, const char* data, size_t length) {
    WriteAll(outputpipe::EditorStandardError(), data, length);
    WriteAll(report, data, length);
}

const char* SignalName(int signal) {
    switch (signal) {
    case SIGSEGV:
        return "Segmentation fault";
    case SIGFPE:
        return "Floating point exception";
    case SIGABRT:
        return "Aborted";
    case SIGBUS:
        return "Bus error";
    default:
        return "Illegal instruction";
    }
}

// The report as faulthandler writes it, for when faulthandler wrote none (a script turned it
// off). After the interpreter's own fatal error (an abort) standard error has it already.
void WriteOwnReport(int signal, int report) {
    const char* const name = SignalName(signal);
    const char header[] = "Fatal Python error: ";
    for (const int fd : {report, signal == SIGABRT ? -1 : outputpipe::EditorStandardError()}) {
        if (fd < 0)
            continue;
        WriteAll(fd, header, sizeof header - 1);
        WriteAll(fd, name, std::strlen(name));
        WriteAll(fd, "\n\n", 2);
        _Py_DumpTracebackThreads(fd, nullptr, nullptr);
    }
}

// Copies faulthandler's report and whatever the output pipe still holds (a report that
// faulthandler wrote to sys.stderr) to standard error and the report's file.
void CopyReport(int signal, int report) {
    char buffer[4096];
    off_t offset = 0;
    bool reported = false;
    for (;;) {
        const ssize_t got = pread(handlerState->memoryReport, buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        WriteBoth(report, buffer, static_cast<size_t>(got));
        offset += got;
        reported = true;
    }
    const char mark[] = "Fatal Python error";
    const int pipe = outputpipe::ReadEnd();
    for (int round = 0; pipe >= 0 && round < 256; ++round) {
        const ssize_t got = read(pipe, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        WriteBoth(report, buffer, static_cast<size_t>(got));
        reported = reported || memmem(buffer, static_cast<size_t>(got), mark, sizeof mark - 1);
    }
    if (!reported)
        WriteOwnReport(signal, report);
}

void OnFatalSignal(int signal) {
    const int savedErrno = errno;
    if (!inForkedChild && handlerState) {
        const char* const path = handlerState->reportPath.load();
        // The stacks hold what the user's scripts were doing: the owner's alone, also when an
        // earlier report left the file readable by others.
        const int report = path ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600) : -1;
        if (report >= 0)
            fchmod(report, 0600);
        CopyReport(signal, report);
        if (report >= 0)
            close(report);
    }
    if (handlerState && signal > 0 && signal < signalSlots)
        sigaction(signal, &handlerState->previous[signal], nullptr);
    else
        ::signal(signal, SIG_DFL);
    errno = savedErrno;
    // Delivered at once (the handler does not block its signal): the process ends as it would
    // have without us, or the handler that was there before ours runs.
    raise(signal);
}

// Runs first: the pipe's reader stops taking bytes (a report faulthandler writes to sys.stderr
// stays in the pipe for the copy), then faulthandler writes its report and raises the signal
// again, which runs OnFatalSignal.
void OnFatalSignalFirst(int signal, siginfo_t* info, void* context) {
    outputpipe::StopReading();
    const struct sigaction& fault = handlerState->faultHandler[signal];
    if (fault.sa_flags & SA_SIGINFO) {
        if (fault.sa_sigaction)
            fault.sa_sigaction(signal, info, context);
    } else if (fault.sa_handler != SIG_DFL && fault.sa_handler != SIG_IGN) {
        fault.sa_handler(signal);
    }
    // faulthandler was turned off meanwhile: its handler returned.
    OnFatalSignal(signal);
}

void InForkedChild() {
    inForkedChild = 1;
}

} // namespace

void Watch(const wxString& pluginsFolder) {
    assert(PyGILState_Check());
    if (!handlerState) {
        auto* state = new HandlerState;
        state->memoryReport = memfd_create("coilhatch-fatal-error", MFD_CLOEXEC);
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = OnFatalSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_NODEFER | SA_ONSTACK;
        for (const int signal : fatalSignals)
            sigaction(signal, &action, &state->previous[signal]);
        pthread_atfork(nullptr, nullptr, InForkedChild);
        handlerState = state;
    } else if (handlerState->memoryReport >= 0) {
        // A later attach: faulthandler is enabled anew below, on top of what is there.
        for (const int signal : fatalSignals)
            sigaction(signal, &handlerState->faultHandler[signal], nullptr);
    }
    // A later attach may name another folder: the earlier path is given back.
    const char* const earlier = handlerState->reportPath.exchange(
        strdup((pluginsFolder + wxFILE_SEP_PATH + reportFileName).fn_str()));
    free(const_cast<char*>(earlier));
    if (handlerState->memoryReport < 0)
        return;
    PyRef pyfaulthandler = PyRef::Steal(PyImport_ImportModule("faulthandler"));
    PyRef pyenable = pyfaulthandler
                         ? PyRef::Steal(PyObject_GetAttrString(pyfaulthandler.Get(), "enable"))
                         : PyRef();
    PyRef pyargs = PyRef::Steal(Py_BuildValue("(i)", handlerState->memoryReport));
    PyRef pykwargs = PyRef::Steal(Py_BuildValue("{s:O}", "all_threads", Py_True));
    PyRef pyresult = pyenable && pyargs && pykwargs
                         ? PyRef::Steal(PyObject_Call(pyenable.Get(), pyargs.Get(), pykwargs.Get()))
                         : PyRef();
    report::PrintPythonError();
    struct sigaction first;
    std::memset(&first, 0, sizeof first);
    first.sa_sigaction = OnFatalSignalFirst;
    sigemptyset(&first.sa_mask);
    first.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    for (const int signal : fatalSignals)
        sigaction(signal, &first, &handlerState->faultHandler[signal]);
}

void ShowLastReport(const wxString& pluginsFolder) {
    const wxString path = pluginsFolder + wxFILE_SEP_PATH + reportFileName;
    if (!wxFileName::FileExists(path))
        return;
    wxString text;
    {
        wxFFile file(path, "rb");
        if (!file.IsOpened())
            return;
        // The end of a long report: the stack of the thread that failed comes first, but
        // a report of many threads could be long.
        constexpr wxFileOffset keep = 256 * 1024;
        const wxFileOffset length = file.Length();
        if (length > keep)
            file.Seek(length - keep);
        std::string bytes(static_cast<size_t>(length > keep ? keep : (length > 0 ? length : 0)),
                          '\0');
        const size_t got = bytes.empty() ? 0 : file.Read(bytes.data(), bytes.size());
        outputpipe::Utf8Decoder decoder;
        text = decoder.Decode(bytes.data(), got);
    }
    wxRemoveFile(path);
    if (!text.empty() && text.Last() != '\n')
        text += "\n";
    outputpipe::Say("The last run of the editor ended in a fatal error. Its report (" + path +
                    "):\n" + text + "--------------------------------------------------\n");
}

} // namespace fatalerror
