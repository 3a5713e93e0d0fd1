// Named items, the main frame, the editors and the editor's event types.
#include "host/lib/Services.h"

wxDEFINE_EVENT(wxEVT_EDITOR_COMPLETEBEGIN, wxCommandEvent);
wxDEFINE_EVENT(wxEVT_EDITOR_COMPLETEEND, wxCommandEvent);
wxDEFINE_EVENT(wxEVT_EDITOR_OPEN, wxCommandEvent);

CNameItem::CNameItem(const wxString& itemName) : name(itemName) {}

wxString CNameItem::GetAttribute(int index) const {
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

CNameService* CNameService::Get() {
    static CNameService service;
    return &service;
}

CNameItem* CNameService::GetNameItem(wxString itemName) {
    auto& item = items[itemName];
    if (!item)
        item = std::make_unique<CNameItem>(itemName);
    return item.get();
}

CAppManagement* CAppManagement::Get() {
    static CAppManagement management;
    return &management;
}

CEditorManagement* CEditorManagement::Get() {
    static CEditorManagement management;
    return &management;
}

CSyntaxEditor* CEditorManagement::GetCurrentEditor() const {
    return currentEditor ? currentEditor() : nullptr;
}

void CEditorManagement::SetCurrentEditorProvider(std::function<CSyntaxEditor*()> provider) {
    currentEditor = std::move(provider);
}
