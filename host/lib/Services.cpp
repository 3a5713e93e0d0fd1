// Named items, the main frame, the editors, the editor's event types, and the run-time
// extensions the stand-in offers plug-ins.
#include "host/lib/Services.h"

#include "host/lib/ConfigStore.h"
#include "plugin/Extensions.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

wxDEFINE_EVENT(wxEVT_EDITOR_COMPLETEBEGIN, wxCommandEvent);
wxDEFINE_EVENT(wxEVT_EDITOR_COMPLETEEND, wxCommandEvent);
wxDEFINE_EVENT(wxEVT_EDITOR_OPEN, wxCommandEvent);

namespace {

std::map<wxString, std::unique_ptr<host::NameItem>>& NameItems() {
    static std::map<wxString, std::unique_ptr<host::NameItem>> items;
    return items;
}

wxFrame* appWindow = nullptr;
std::function<CSyntaxEditor*()> currentEditor;
std::atomic<bool> strictInterface{false};

} // namespace

namespace host {

NameItem::NameItem(const wxString& itemName) : name(itemName) {}

wxString NameItem::GetAttribute(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= attributes.size())
        return wxString();
    return attributes[static_cast<size_t>(index)];
}

void NameItem::SetAttribute(int index, const wxString& value) {
    if (index < 0)
        return;
    if (static_cast<size_t>(index) >= attributes.size())
        attributes.resize(static_cast<size_t>(index) + 1);
    attributes[static_cast<size_t>(index)] = value;
}

NameItem* GetNameItem(const wxString& itemName) {
    auto& item = NameItems()[itemName];
    if (!item)
        item = std::make_unique<NameItem>(itemName);
    return item.get();
}

void SetAppWindow(wxFrame* frame) {
    appWindow = frame;
}

void SetCurrentEditorProvider(std::function<CSyntaxEditor*()> provider) {
    currentEditor = std::move(provider);
}

void SetStrictInterface(bool strict) {
    strictInterface = strict;
}

bool StrictInterface() {
    return strictInterface;
}

void KeepOwnStream(FILE*& stream, int fd) {
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    FILE* file = own >= 0 ? fdopen(own, "w") : nullptr;
    if (!file)
        return;
    std::setvbuf(file, nullptr, fd == STDERR_FILENO ? _IONBF : _IOLBF, 0);
    stream = file;
}

} // namespace host

// ---------------------------------------------------------------------------------------------
// The interface's side.

wxString CNameItem::GetAttribute(int index) {
    return static_cast<const host::NameItem*>(this)->GetAttribute(index);
}

CNameService* CNameService::Get() {
    static CNameService service;
    return &service;
}

CNameItem* CNameService::GetNameItem(wxString itemName) {
    return host::GetNameItem(itemName);
}

CAppManagement* CAppManagement::Get() {
    static CAppManagement management;
    return &management;
}

wxFrame* CAppManagement::GetAppWindow() const {
    return appWindow;
}

CEditorManagement* CEditorManagement::Get() {
    static CEditorManagement management;
    return &management;
}

CSyntaxEditor* CEditorManagement::GetCurrentEditor() {
    return currentEditor ? currentEditor() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// The extensions.

namespace {

using Store = host::ConfigStore;

const MpDocumentExtension documentExtension = {
    [](const CSyntaxEditor* editor) {
        return editor ? host::EditorOf(editor)->GetFilePath() : wxString();
    },
};

const MpSessionExtension sessionExtension = {
    [] { return host::GetNameItem("BatchMode")->GetAttribute(0) == "1"; },
};

const MpSettingsExtension2 settingsExtension = {
    {
        [](const CConfigManagement& store, const wxString& key) {
            return Store::Of(store).HasKey(key);
        },
        [](const CConfigManagement& store, const wxString& key) {
            return Store::Of(store).GetChildNames(key);
        },
        [](const CConfigManagement& store, const wxString& key, size_t index) {
            return Store::Of(store).GetChildKey(key, index);
        },
        [](const CConfigManagement& store) { return Store::Of(store).IsDamaged(); },
        [](const CConfigManagement& store, const wxString& key) {
            return Store::Of(store).IsWhole(key);
        },
        [](const CConfigManagement& store) { return Store::Of(store).GetBackupPath(); },
        [](const CConfigManagement& store) { return Store::Of(store).GetLastError(); },
    },
    [](CConfigManagement& store, const wxString& key, const size_t* indexes, size_t count) {
        return Store::Of(store).RemoveChildren(key, std::vector<size_t>(indexes, indexes + count));
    },
    [](CConfigManagement& store, const wxString& key, size_t index, const wxString& name) {
        return Store::Of(store).RenameChild(key, index, name);
    },
    [](const CConfigManagement& store, const wxString& key) {
        return Store::Of(store).HoldsTextAlone(key);
    },
};

const MpShownExtension shownExtension = {
    [](const CSyntaxEditor* editor) {
        if (editor)
            host::EditorOf(const_cast<CSyntaxEditor*>(editor))->AddPendingWork(1);
    },
    [](const CSyntaxEditor* editor) {
        if (editor)
            host::EditorOf(const_cast<CSyntaxEditor*>(editor))->AddPendingWork(-1);
    },
    [](const CSyntaxEditor* editor, const char* kind, const wxString& text) {
        if (editor && kind)
            host::EditorOf(const_cast<CSyntaxEditor*>(editor))->SetShown(kind, text);
    },
};

const MpOutputExtension outputExtension = {
    [] { host::MessageOutputPane::ShowAndPaintAll(); },
};

template <class Table> bool Is(const char* name, int version) {
    return std::strcmp(name, Table::name) == 0 && version == Table::version;
}

} // namespace

extern "C" MP_INTERFACE const void* MarrowpadExtension(const char* name, int version) {
    if (host::StrictInterface() || name == nullptr)
        return nullptr;
    if (Is<MpDocumentExtension>(name, version))
        return &documentExtension;
    if (Is<MpSessionExtension>(name, version))
        return &sessionExtension;
    // Version 1 is the start of version 2.
    if (Is<MpSettingsExtension>(name, version))
        return &settingsExtension.first;
    if (Is<MpSettingsExtension2>(name, version))
        return &settingsExtension;
    if (Is<MpShownExtension>(name, version))
        return &shownExtension;
    if (Is<MpOutputExtension>(name, version))
        return &outputExtension;
    return nullptr;
}
