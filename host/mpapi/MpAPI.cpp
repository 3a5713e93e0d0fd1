// MpAPI: the editor's Python module. Scripts reach the editor's services through it in the flat
// form `Class_Get()`: the message outputs, the current editor, the main frame and the named items.
// The objects handed out are references to the editor's singletons; Python never owns them.
#include <pybind11/pybind11.h>

// wxPython's embedding interface: sip.h must come before wxpy_api.h.
#include <sip.h>
#include <wxpy_api.h>

#include "host/lib/Services.h"

#include <wx/frame.h>

#include <cassert>
#include <map>
#include <memory>
#include <string>

namespace py = pybind11;

// The services hold containers of unique_ptr, which the standard trait wrongly calls copyable;
// Python must never copy them anyway.
namespace pybind11::detail {
template <> struct is_copy_constructible<CNameService> : std::false_type {};
template <> struct is_copy_constructible<CMessageOutputManagement> : std::false_type {};
template <> struct is_copy_constructible<CEditorManagement> : std::false_type {};
template <> struct is_copy_constructible<CAppManagement> : std::false_type {};
template <> struct is_copy_constructible<host::MessageOutput> : std::false_type {};
template <> struct is_copy_constructible<host::NameItem> : std::false_type {};
} // namespace pybind11::detail

namespace {

// Characters [from, from + count) of a Python str in its canonical form, as a wxString. Every
// code point arrives unchanged except lone surrogates (undecodable bytes of a file name, say),
// which no display can show and which would make the whole text vanish from the pane: they
// become U+FFFD. Reads only the str's own characters, which never change, so it needs no
// interpreter lock as long as a reference to the str is held.
wxString StrSlice(int kind, const void* data, size_t from, size_t count) {
    wxString slice;
    {
        wxStringBufferLength buffer(slice, count);
        wxChar* out = buffer;
        auto copy = [out, from, count](const auto* chars) {
            for (size_t i = 0; i < count; ++i) {
                const Py_UCS4 c = chars[from + i];
                out[i] = c >= 0xD800 && c <= 0xDFFF ? wxChar(0xFFFD) : static_cast<wxChar>(c);
            }
        };
        if (kind == PyUnicode_1BYTE_KIND)
            copy(static_cast<const Py_UCS1*>(data));
        else if (kind == PyUnicode_2BYTE_KIND)
            copy(static_cast<const Py_UCS2*>(data));
        else
            copy(static_cast<const Py_UCS4*>(data));
        buffer.SetLength(count);
    }
    return slice;
}

// A Python str, ready for StrSlice. The text must be kept referenced while it is read.
struct StrView {
    explicit StrView(const py::handle& text) {
        if (!PyUnicode_Check(text.ptr()))
            throw py::type_error("a str is needed, not " +
                                 std::string(Py_TYPE(text.ptr())->tp_name));
        if (PyUnicode_READY(text.ptr()) < 0)
            throw py::error_already_set();
        kind = PyUnicode_KIND(text.ptr());
        data = PyUnicode_DATA(text.ptr());
        length = static_cast<size_t>(PyUnicode_GET_LENGTH(text.ptr()));
    }
    wxString Slice(size_t from, size_t count) const { return StrSlice(kind, data, from, count); }

    int kind = PyUnicode_1BYTE_KIND;
    const void* data = nullptr;
    size_t length = 0;
};

wxString ToWxString(const py::str& text) {
    const StrView view(text);
    return view.Slice(0, view.length);
}

py::str ToPyString(const wxString& text) {
    return py::reinterpret_steal<py::str>(wx2PyString(text));
}

// Hands a C++ toolkit object to Python as an instance of its wxPython class, without ownership.
// The module that defines the class must have been imported.
py::object WrapWxObject(void* object, const char* className) {
    if (!object)
        return py::none();
    wxPyAPI* api = wxPyGetAPIPtr();
    if (!api)
        throw py::error_already_set();
    PyObject* pyobject = api->p_wxPyConstructObject(object, className, false);
    if (!pyobject) {
        if (PyErr_Occurred())
            throw py::error_already_set();
        throw py::type_error(std::string("wxPython does not know the class ") + className);
    }
    return py::reinterpret_steal<py::object>(pyobject);
}

// The wrappers handed out for the editor's own windows (its editors, its main frame): one per
// window, the same each time. When the toolkit destroys the window its wrapper is marked
// deleted, as wxPython marks the windows it made, so that a script that kept it gets a
// RuntimeError instead of taking the editor down.
class WindowWrappers {
public:
    // The wrapper of the window as an instance of the wxPython class (`Window` the class that
    // names); needs the interpreter lock.
    template <typename Window> static py::object Wrap(Window* window, const char* className) {
        assert(PyGILState_Check());
        if (!window)
            return py::none();
        auto& held = Held();
        const auto known = held.find(window);
        if (known != held.end())
            return known->second;
        py::object wrapper = WrapWxObject(static_cast<void*>(window), className);
        // Taken now: the lookup at the window's end must not run a script's import machinery.
        static py::object* setDeleted =
            new py::object(py::module_::import("wx.siplib").attr("setdeleted"));
        held.emplace(window, wrapper);
        const wxWindow* const key = window;
        window->Bind(wxEVT_DESTROY, [key](wxWindowDestroyEvent& event) {
            event.Skip();
            // A child's end may pass by its parent.
            if (event.GetEventObject() == key)
                Forget(key, *setDeleted);
        });
        return wrapper;
    }

private:
    // Runs on the thread that destroys the window, which may or may not hold the interpreter
    // lock; nothing may escape into the toolkit's event handling.
    static void Forget(const wxWindow* window, const py::object& setDeleted) {
        if (!Py_IsInitialized() || _Py_IsFinalizing())
            return;
        const py::gil_scoped_acquire gil;
        {
            auto& held = Held();
            const auto known = held.find(window);
            if (known != held.end()) {
                const py::object wrapper = std::move(known->second);
                held.erase(known);
                try {
                    setDeleted(wrapper);
                } catch (py::error_already_set& error) {
                    error.discard_as_unraisable("marking a destroyed window's wrapper deleted");
                } catch (const std::exception&) {
                    PyErr_Clear();
                }
            }
        }
    }

    // Never destroyed: its references may be dropped only with the interpreter lock held, which
    // the end of the process does not give.
    static std::map<const wxWindow*, py::object>& Held() {
        static auto* const held = new std::map<const wxWindow*, py::object>;
        return *held;
    }
};

// A text at least this long is appended without the interpreter lock.
constexpr size_t longText = 64 * 1024;

void AppendStr(host::MessageOutput& output, const py::handle& text) {
    // Read slice by slice as the output asks: a write of hundreds of megabytes is never converted
    // whole, and the output keeps only its latest part. The caller holds the str for the call.
    const StrView view(text);
    const auto slice = [&view](size_t from, size_t count) { return view.Slice(from, count); };
    // The output stores the text at once and never waits for another thread that could need the
    // interpreter lock, so an ordinary write keeps the lock: giving it up and taking it back would
    // cost more than the write itself. A long text lets other threads run while it is converted.
    if (view.length < longText) {
        // The output keeps UTF-8: an ASCII str is that already, and another has its UTF-8 made
        // once. A str that holds lone surrogates has none, and is converted slice by slice.
        if (PyUnicode_IS_ASCII(text.ptr())) {
            output.AppendUtf8(static_cast<const char*>(view.data), view.length);
            return;
        }
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(text.ptr(), &size)) {
            output.AppendUtf8(utf8, static_cast<size_t>(size));
            return;
        }
        PyErr_Clear();
        output.Append(view.length, slice);
        return;
    }
    py::gil_scoped_release release;
    output.Append(view.length, slice);
}

// Appender(): Append as a plain built-in function bound to its output, without a bound method's
// argument dispatch, which costs more than the append itself. The engine's streams write through
// it.
const char appenderCapsule[] = "MpAPI.CMessageOutput";

PyObject* AppendThrough(PyObject* capsule, PyObject* text) {
    auto* output =
        static_cast<host::MessageOutput*>(PyCapsule_GetPointer(capsule, appenderCapsule));
    if (!output)
        return nullptr;
    try {
        AppendStr(*output, text);
    } catch (py::error_already_set& error) {
        error.restore();
        return nullptr;
    } catch (const py::builtin_exception& error) {
        error.set_error(); // a TypeError stays a TypeError
        return nullptr;
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyMethodDef appendThroughDef = {"Append", AppendThrough, METH_O,
                                "Append(text): adds the text to the message output as it is."};

// The singletons are the editor's: Python holds plain references and never deletes them.
template <typename T> using Unowned = std::unique_ptr<T, py::nodelete>;

// pybind11 shares its internals between the modules built with it through a capsule in the
// built-in names, where every exec() namespace would see it: copy.deepcopy() or pickling such a
// namespace would fail on it. This module has its own pointer to them once its types are made
// (pybind11 looks them up once); the capsule goes. Another pybind11 module loaded later makes
// internals of its own.
void HideBindingInternals() {
    py::detail::get_internals();
    PyObject* builtins = PyEval_GetBuiltins(); // borrowed
    if (builtins && PyDict_GetItemString(builtins, PYBIND11_INTERNALS_ID) &&
        PyDict_DelItemString(builtins, PYBIND11_INTERNALS_ID) != 0)
        throw py::error_already_set();
}

} // namespace

PYBIND11_MODULE(MpAPI, m) {
    m.doc() = "The Marrowpad editor's services for Python scripts: message outputs, the current "
              "editor, the main frame and the named items.";

    py::class_<host::MessageOutput, Unowned<host::MessageOutput>>(
        m, "CMessageOutput", "One message output pane of the editor.")
        .def(
            "Append",
            [](host::MessageOutput& output, const py::object& text) { AppendStr(output, text); },
            py::arg("text"),
            "Append(text): adds the text to the pane as it is (no line feed is added). May be "
            "called from any thread; text from other threads reaches the pane in order.")
        .def(
            "Appender",
            [](host::MessageOutput& output) {
                // The output is the editor's and lives as long as the process.
                py::capsule pyoutput(&output, appenderCapsule);
                PyObject* function = PyCFunction_New(&appendThroughDef, pyoutput.ptr());
                if (!function)
                    throw py::error_already_set();
                return py::reinterpret_steal<py::object>(function);
            },
            "Appender() -> function: Append as a plain function of one argument, for writing "
            "many small pieces fast.")
        .def(
            "GetText",
            [](const host::MessageOutput& output) { return ToPyString(output.GetText()); },
            "GetText() -> str: everything appended so far, pieces joined.")
        .def(
            "Clear", [](host::MessageOutput& output) { output.Clear(); },
            "Clear(): forgets everything appended so far.");

    py::class_<CMessageOutputManagement, Unowned<CMessageOutputManagement>>(
        m, "CMessageOutputManagement", "The editor's message outputs.")
        .def(
            "GetMessageOutput",
            [](CMessageOutputManagement&, int index) {
                host::MessageOutput* output = host::GetMessageOutput(index);
                if (!output)
                    throw py::index_error("message output index must be from 0 to " +
                                          std::to_string(host::MaxMessageOutputs - 1));
                return output;
            },
            py::arg("index"), py::return_value_policy::reference,
            "GetMessageOutput(index) -> CMessageOutput: the message output of that number; "
            "output 0 is the one the editor shows.");

    m.def(
        "CMessageOutputManagement_Get", [] { return CMessageOutputManagement::Get(); },
        py::return_value_policy::reference,
        "CMessageOutputManagement_Get() -> CMessageOutputManagement: the editor's message "
        "outputs.");

    py::class_<CEditorManagement, Unowned<CEditorManagement>>(m, "CEditorManagement",
                                                              "The editor's documents.")
        .def(
            "GetCurrentEditor",
            [](CEditorManagement& management) -> py::object {
                host::SyntaxEditor* editor = host::EditorOf(management.GetCurrentEditor());
                if (!editor)
                    return py::none();
                py::module_::import("wx.stc");
                return WindowWrappers::Wrap(static_cast<wxStyledTextCtrl*>(editor),
                                            "wxStyledTextCtrl");
            },
            "GetCurrentEditor() -> wx.stc.StyledTextCtrl or None: the editor of the current "
            "document, None when no document is open. The control stays the editor's.")
        .def(
            "GetCurrentFilePath",
            [](CEditorManagement& management) -> py::object {
                host::SyntaxEditor* editor = host::EditorOf(management.GetCurrentEditor());
                if (!editor)
                    return py::none();
                return ToPyString(editor->GetFilePath());
            },
            "GetCurrentFilePath() -> str or None: the file of the current document (empty for a "
            "document never saved), None when no document is open.");

    m.def(
        "CEditorManagement_Get", [] { return CEditorManagement::Get(); },
        py::return_value_policy::reference,
        "CEditorManagement_Get() -> CEditorManagement: the editor's documents.");

    py::class_<CAppManagement, Unowned<CAppManagement>>(m, "CAppManagement",
                                                        "The editor's application.")
        .def(
            "GetAppWindow",
            [](const CAppManagement& management) -> py::object {
                wxFrame* frame = management.GetAppWindow();
                if (!frame)
                    return py::none();
                py::module_::import("wx");
                return WindowWrappers::Wrap(frame, "wxFrame");
            },
            "GetAppWindow() -> wx.Frame: the editor's main frame. The frame stays the editor's.");

    m.def(
        "CAppManagement_Get", [] { return CAppManagement::Get(); },
        py::return_value_policy::reference,
        "CAppManagement_Get() -> CAppManagement: the editor's application.");

    py::class_<host::NameItem, Unowned<host::NameItem>>(m, "CNameItem",
                                                        "One named item of the editor.")
        .def(
            "GetName", [](const host::NameItem& item) { return ToPyString(item.GetName()); },
            "GetName() -> str: the item's name.")
        .def(
            "GetAttribute",
            [](const host::NameItem& item, int index) {
                return ToPyString(item.GetAttribute(index));
            },
            py::arg("index"),
            "GetAttribute(index) -> str: the item's value of that number, empty when unset. "
            "Attribute 0 of \"PluginsPath\" is the plug-ins folder, of \"ExecPath\" the "
            "program folder, both without a trailing separator.");

    py::class_<CNameService, Unowned<CNameService>>(m, "CNameService", "The editor's named items.")
        .def(
            "GetNameItem",
            [](CNameService&, const py::str& name) { return host::GetNameItem(ToWxString(name)); },
            py::arg("name"), py::return_value_policy::reference,
            "GetNameItem(name) -> CNameItem: the item of that name, e.g. \"PluginsPath\" or "
            "\"ExecPath\"; never None.");

    m.def(
        "CNameService_Get", [] { return CNameService::Get(); }, py::return_value_policy::reference,
        "CNameService_Get() -> CNameService: the editor's named items.");

    // Under --strict-interface the module offers what every editor's module offers, as the
    // plug-in meets it in an editor without the stand-in's extras.
    if (host::StrictInterface()) {
        py::delattr(m.attr("CMessageOutput"), "Appender");
        py::delattr(m.attr("CEditorManagement"), "GetCurrentFilePath");
    }

    HideBindingInternals();
}
