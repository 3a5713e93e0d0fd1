// MpAPI: the editor's Python module. Scripts reach the editor's services through it in the flat
// form `Class_Get()`: the message outputs, the current editor, the main frame and the named items.
// The objects handed out are references to the editor's singletons; Python never owns them.
#include <pybind11/pybind11.h>

// wxPython's embedding interface: sip.h must come before wxpy_api.h.
#include <sip.h>
#include <wxpy_api.h>

#include "host/lib/Services.h"

#include <wx/frame.h>

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
template <> struct is_copy_constructible<CMessageOutput> : std::false_type {};
template <> struct is_copy_constructible<CNameItem> : std::false_type {};
} // namespace pybind11::detail

namespace {

// A Python str as a wxString. Goes through wchar_t so that every code point arrives unchanged,
// except lone surrogates (undecodable bytes of a file name, say), which no display can show and
// which would make the whole text vanish from the pane: they become U+FFFD.
wxString ToWxString(const py::str& text) {
    Py_ssize_t size = 0;
    wchar_t* wide = PyUnicode_AsWideCharString(text.ptr(), &size);
    if (!wide)
        throw py::error_already_set();
    std::unique_ptr<wchar_t, decltype(&PyMem_Free)> owner(wide, PyMem_Free);
    for (Py_ssize_t i = 0; i < size; ++i) {
        if (wide[i] >= 0xD800 && wide[i] <= 0xDFFF)
            wide[i] = 0xFFFD;
    }
    return wxString(wide, static_cast<size_t>(size));
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

// The singletons are the editor's: Python holds plain references and never deletes them.
template <typename T> using Unowned = std::unique_ptr<T, py::nodelete>;

} // namespace

PYBIND11_MODULE(MpAPI, m) {
    m.doc() = "The Marrowpad editor's services for Python scripts: message outputs, the current "
              "editor, the main frame and the named items.";

    py::class_<CMessageOutput, Unowned<CMessageOutput>>(m, "CMessageOutput",
                                                        "One message output pane of the editor.")
        .def(
            "Append",
            [](CMessageOutput& output, const py::str& text) {
                const wxString piece = ToWxString(text);
                // The output may wait for the user-interface thread's delivery; that thread may
                // in turn need the interpreter lock for a handler a script bound, so let it go.
                py::gil_scoped_release release;
                output.Append(piece);
            },
            py::arg("text"),
            "Append(text): adds the text to the pane as it is (no line feed is added). May be "
            "called from any thread; text from other threads reaches the pane in order.")
        .def(
            "GetText", [](const CMessageOutput& output) { return ToPyString(output.GetText()); },
            "GetText() -> str: everything appended so far, pieces joined.")
        .def(
            "Clear", [](CMessageOutput& output) { output.Clear(); },
            "Clear(): forgets everything appended so far.");

    py::class_<CMessageOutputManagement, Unowned<CMessageOutputManagement>>(
        m, "CMessageOutputManagement", "The editor's message outputs.")
        .def(
            "GetMessageOutput",
            [](CMessageOutputManagement& management, int index) {
                CMessageOutput* output = management.GetMessageOutput(index);
                if (!output)
                    throw py::index_error("message output index must be from 0 to " +
                                          std::to_string(CMessageOutputManagement::MaxOutputs - 1));
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
            [](const CEditorManagement& management) -> py::object {
                CSyntaxEditor* editor = management.GetCurrentEditor();
                if (!editor)
                    return py::none();
                py::module_::import("wx.stc");
                return WrapWxObject(static_cast<wxStyledTextCtrl*>(editor), "wxStyledTextCtrl");
            },
            "GetCurrentEditor() -> wx.stc.StyledTextCtrl or None: the editor of the current "
            "document, None when no document is open. The control stays the editor's.")
        .def(
            "GetCurrentFilePath",
            [](const CEditorManagement& management) -> py::object {
                CSyntaxEditor* editor = management.GetCurrentEditor();
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
                return WrapWxObject(frame, "wxFrame");
            },
            "GetAppWindow() -> wx.Frame: the editor's main frame. The frame stays the editor's.");

    m.def(
        "CAppManagement_Get", [] { return CAppManagement::Get(); },
        py::return_value_policy::reference,
        "CAppManagement_Get() -> CAppManagement: the editor's application.");

    py::class_<CNameItem, Unowned<CNameItem>>(m, "CNameItem", "One named item of the editor.")
        .def(
            "GetName", [](const CNameItem& item) { return ToPyString(item.GetName()); },
            "GetName() -> str: the item's name.")
        .def(
            "GetAttribute",
            [](const CNameItem& item, int index) { return ToPyString(item.GetAttribute(index)); },
            py::arg("index"),
            "GetAttribute(index) -> str: the item's value of that number, empty when unset. "
            "Attribute 0 of \"PluginsPath\" is the plug-ins folder, of \"ExecPath\" the "
            "program folder, both without a trailing separator.");

    py::class_<CNameService, Unowned<CNameService>>(m, "CNameService", "The editor's named items.")
        .def(
            "GetNameItem",
            [](CNameService& service, const py::str& name) {
                return service.GetNameItem(ToWxString(name));
            },
            py::arg("name"), py::return_value_policy::reference,
            "GetNameItem(name) -> CNameItem: the item of that name, e.g. \"PluginsPath\" or "
            "\"ExecPath\"; never None.");

    m.def(
        "CNameService_Get", [] { return CNameService::Get(); }, py::return_value_policy::reference,
        "CNameService_Get() -> CNameService: the editor's named items.");
}
