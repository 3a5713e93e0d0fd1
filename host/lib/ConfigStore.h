// The settings store's state behind CConfigManagement: the file's element tree and what is known
// of the file. Only the stand-in's library sees it; its program and the tests reach it through
// host::Settings, plug-ins through the settings extension. The interface's class carries no
// data (a plug-in may make it in room of its own size), so each object's state is found by the
// object's address.
#pragma once

#include "host/lib/Services.h"

#include <memory>

namespace host {

class ConfigStore {
public:
    explicit ConfigStore(const wxString& path);

    // The state of a store that was made and not yet destroyed.

    static const ConfigStore& Of(const CConfigManagement& config);
    static ConfigStore& Of(CConfigManagement& config);

    int ReadInt(const wxString& key, int defaultValue) const;
    bool ReadBool(const wxString& key, bool defaultValue) const;
    wxString Read(const wxString& key, const wxString& defaultValue) const;
    void Write(const wxString& key, int value);
    void Write(const wxString& key, bool value);
    void Write(const wxString& key, const wxString& value, bool flag);
    void Clear();
    bool Save();
    const wxString& GetLastError() const { return lastError; }

    void KeepBackupOnSave();
    wxString GetBackupPath() const;
    bool HasKey(const wxString& key) const;
    const wxString& GetPath() const;
    bool IsDamaged() const { return damaged; }
    bool IsWhole(const wxString& key) const;
    wxArrayString GetChildNames(const wxString& key) const;
    wxString GetChildKey(const wxString& key, size_t index) const;
    size_t RemoveChildren(const wxString& key, const std::vector<size_t>& indexes);
    bool RenameChild(const wxString& key, size_t index, const wxString& name);
    bool HoldsTextAlone(const wxString& key) const;

private:
    // The index-th child element of the element at the key, or None.
    int ChildAt(int node, size_t index) const;
    int FindElement(const wxString& key) const;
    int FindNode(const wxString& key) const;
    int FindOrCreateNode(const wxString& key);
    void SetText(const wxString& key, const wxString& text);

    wxString path;
    std::unique_ptr<SettingsTree> tree;
    wxString lastError;
    wxString backupPath;       // where the last backup went
    wxString unreadableReason; // the system's reason the file could not be read
    bool backupDue = false;    // the file is damaged: keep it as a backup before replacing it
    bool unreadable = false;   // the file existed but could not be read: never overwrite it
    bool damaged = false;      // the file could not be read as a whole
};

} // namespace host
