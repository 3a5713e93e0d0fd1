// The editor's named items, its main window, its editors and its events.
#include "MarrowpadSDK.h"

#include <wx/frame.h>
#include <wx/time.h>

#include <algorithm>
#include <atomic>
#include <cstring>

wxDEFINE_EVENT(wxEVT_EDITOR_COMPLETEBEGIN, wxCommandEvent);
wxDEFINE_EVENT(wxEVT_EDITOR_COMPLETEEND, wxCommandEvent);
wxDEFINE_EVENT(wxEVT_EDITOR_OPEN, wxCommandEvent);

namespace {

std::atomic<std::uint64_t> lastSerial{0};

// The window names through which the editor's Python module finds the current editor.
const char* const currentEditorName = "MarrowpadCurrentDocument";
const char* const editorName = "MarrowpadDocument";

} // namespace

// ---------------------------------------------------------------------------------------------

CNamedObject::CNamedObject(const wxString& name) : objectName(name), serial(++lastSerial) {}

CNamedObject::~CNamedObject() = default;

CNameItem::CNameItem(const wxString& name) : CNamedObject(name), reads(0) {}

CNameItem::~CNameItem() = default;

wxString CNameItem::GetAttribute(int index) {
    ++reads;
    if (index < 0 || static_cast<size_t>(index) >= attributes.size())
        return wxString();
    return attributes[static_cast<size_t>(index)];
}

void CNameItem::SetAttribute(int index, const wxString& value) {
    if (index < 0)
        return;
    if (static_cast<size_t>(index) >= attributes.size())
        attributes.resize(static_cast<size_t>(index) + 1);
    attributes[static_cast<size_t>(index)] = value;
}

CNameService::CNameService() : lookups(0) {
    std::memset(tag, 0, sizeof tag);
    std::strncpy(tag, "marrowpad name service", sizeof tag - 1);
}

CNameService::~CNameService() = default;

CNameService* CNameService::Get() {
    static CNameService service;
    return &service;
}

CNameItem* CNameService::GetNameItem(wxString name) {
    ++lookups;
    std::unique_ptr<CNameItem>& item = items[name];
    if (!item)
        item = std::make_unique<CNameItem>(name);
    return item.get();
}

// ---------------------------------------------------------------------------------------------

CAppManagement::CAppManagement()
    : appName("Marrowpad"), startedAt(wxGetUTCTimeMillis().GetValue()), appWindow(nullptr) {}

CAppManagement* CAppManagement::Get() {
    static CAppManagement management;
    return &management;
}

wxFrame* CAppManagement::GetAppWindow() const {
    return appWindow;
}

void CAppManagement::SetAppWindow(wxFrame* frame) {
    appWindow = frame;
}

// ---------------------------------------------------------------------------------------------

CSyntaxEditor::CSyntaxEditor(wxWindow* parent, const wxString& path)
    : wxStyledTextCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0, editorName),
      documentId(0), documentPath(path), savedRevision(0) {
    CEditorManagement::Get()->Add(this);
}

CSyntaxEditor::~CSyntaxEditor() {
    CEditorManagement::Get()->Remove(this);
}

CEditorManagement::CEditorManagement() : zoom(1.0), current(-1), nextId(1) {}

CEditorManagement* CEditorManagement::Get() {
    static CEditorManagement management;
    return &management;
}

CSyntaxEditor* CEditorManagement::GetCurrentEditor() {
    if (current < 0 || static_cast<size_t>(current) >= editors.size())
        return nullptr;
    return editors[static_cast<size_t>(current)];
}

void CEditorManagement::SetCurrentEditor(CSyntaxEditor* editor) {
    if (CSyntaxEditor* before = GetCurrentEditor())
        before->SetName(editorName);
    const auto found = std::find(editors.begin(), editors.end(), editor);
    current = found == editors.end() ? -1 : static_cast<int>(found - editors.begin());
    if (CSyntaxEditor* now = GetCurrentEditor())
        now->SetName(currentEditorName);
}

void CEditorManagement::Add(CSyntaxEditor* editor) {
    editor->documentId = nextId++;
    editors.push_back(editor);
}

void CEditorManagement::Remove(CSyntaxEditor* editor) {
    CSyntaxEditor* before = GetCurrentEditor();
    editors.erase(std::remove(editors.begin(), editors.end(), editor), editors.end());
    const auto found = std::find(editors.begin(), editors.end(), before);
    current = found == editors.end() ? -1 : static_cast<int>(found - editors.begin());
}
