#include "engine/Gil.h"

#include "engine/Assertions.h"

#include "engine/PyRef.h"

#include <wx/app.h>
#include <wx/debug.h>
#include <wx/log.h>

#include <atomic>
#include <cassert>

namespace assertions {
namespace {

// wxPython's assert modes (wx.APP_ASSERT_*), flags of its own application class.
enum : int {
    assertSuppress = 1,
    assertException = 2,
    assertDialog = 4,
    assertLog = 8,
};

std::atomic<int> assertMode{assertException};
// wx.wxAssertionError, held for the rest of the process like the interpreter.
PyRef* assertionError = nullptr;
bool installed = false;
wxAssertHandler_t editorsHandler = nullptr;

// Whether Python code runs on this thread: the toolkit call that failed was made from it
// (wxPython gives the lock away around its calls; the thread's frame stays).
bool CalledFromPython() {
    if (!Py_IsInitialized() || !PyGILState_GetThisThreadState())
        return false;
    const GilStateGuard gil;
    return PyEval_GetFrame() != nullptr;
}

// The text wxPython gives the exception.
wxString Describe(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    wxString text = wxString::Format("C++ assertion \"%s\" failed at %s(%d)", cond, file, line);
    if (!func.empty())
        text << " in " << func << "()";
    if (!msg.empty())
        text << ": " << msg;
    return text;
}

void OnAssertFailure(const wxString& file, int line, const wxString& func, const wxString& cond,
                     const wxString& msg) {
    if (!CalledFromPython()) {
        if (editorsHandler)
            editorsHandler(file, line, func, cond, msg);
        return;
    }
    const int mode = assertMode;
    if (mode & assertSuppress)
        return;
    const wxString text = Describe(file, line, func, cond, msg);
    if (mode & assertException) {
        // Raised when control returns to the wxPython wrapper that Python called: it looks for
        // a pending error after every call.
        const GilStateGuard gil;
        const wxScopedCharBuffer utf8 = text.utf8_str();
        const PyRef pytext = PyRef::Steal(
            PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.length()), "replace"));
        if (pytext && !PyErr_Occurred())
            PyErr_SetObject(assertionError->Get(), pytext.Get());
    }
    if ((mode & assertLog) && !(mode & assertDialog))
        wxLogDebug("%s", text);
    if ((mode & assertDialog) && editorsHandler)
        editorsHandler(file, line, func, cond, msg);
}

} // namespace

void Install() {
    assert(PyGILState_Check());
    if (installed)
        return;
    if (!assertionError) {
        PyRef pycore = PyRef::Steal(PyImport_ImportModule("wx._core"));
        PyRef pyerror = pycore
                            ? PyRef::Steal(PyObject_GetAttrString(pycore.Get(), "wxAssertionError"))
                            : PyRef();
        if (!pyerror) {
            PyErr_Clear(); // without wxPython's exception, failures keep the editor's handling
            return;
        }
        assertionError = new PyRef(std::move(pyerror));
    }
    // Assertions the editor turned off stay off.
    wxAssertHandler_t previous = wxSetAssertHandler(OnAssertFailure);
    if (!previous) {
        wxSetAssertHandler(nullptr);
        return;
    }
    editorsHandler = previous;
    installed = true;
}

void Uninstall() {
    if (!installed)
        return;
    // Another handler put in front of ours since keeps its place.
    wxAssertHandler_t current = wxSetAssertHandler(editorsHandler);
    if (current != OnAssertFailure)
        wxSetAssertHandler(current);
    installed = false;
}

void SetMode(int mode) {
    assertMode = mode;
}

} // namespace assertions
