// The settings store: typed values under slash-separated key paths, kept in an XML file.
#include "host/lib/ConfigStore.h"

#include "host/lib/Services.h"

#include "host/lib/SettingsFile.h"
#include "host/lib/SettingsTree.h"

#include <wx/filename.h>
#include <wx/log.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

const char* const rootName = "config";

wxArrayString SplitKey(const wxString& key) {
    return wxSplit(key, '/', '\0');
}

std::string Utf8(const wxString& text) {
    const wxScopedCharBuffer buffer = text.utf8_str();
    return std::string(buffer.data(), buffer.length());
}

// A key's segment: an element's name and which of the children of that name it means ("name"
// the first, "name[k]" the one after k others).
struct Segment {
    std::string name;
    size_t occurrence = 0;
};

Segment ParseSegment(const wxString& segment) {
    const size_t open = segment.find('[');
    unsigned long occurrence = 0;
    if (open == wxString::npos || open == 0 || !segment.EndsWith("]"))
        return Segment{Utf8(segment), 0};
    const wxString digits = segment.Mid(open + 1, segment.length() - open - 2);
    // More than nine digits would count past any file's elements.
    if (digits.empty() || digits.length() > 9 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](wxUniChar c) { return c >= '0' && c <= '9'; }) ||
        !digits.ToULong(&occurrence))
        return Segment{Utf8(segment), 0};
    return Segment{Utf8(segment.Left(open)), occurrence};
}

// XML 1.0 cannot hold most control characters, lone surrogates, U+FFFE and U+FFFF: a file with
// one of them could not be read back, and every setting in it would be lost. They are stored as
// U+FFFD.
bool IsXmlChar(wxUniChar c) {
    const auto value = c.GetValue();
    return value == 0x9 || value == 0xA || value == 0xD || (value >= 0x20 && value <= 0xD7FF) ||
           (value >= 0xE000 && value <= 0xFFFD) || (value >= 0x10000 && value <= 0x10FFFF);
}

wxString XmlSafe(const wxString& text, const wxString& key) {
    wxString safe;
    bool replaced = false;
    for (wxUniChar c : text) {
        replaced = replaced || !IsXmlChar(c);
        safe += IsXmlChar(c) ? c : wxUniChar(0xFFFD);
    }
    if (replaced)
        wxLogWarning("Setting \"%s\": characters that a settings file cannot hold were stored "
                     "as U+FFFD.",
                     key);
    return safe;
}

} // namespace

host::ConfigStore::ConfigStore(const wxString& filePath)
    : path(filePath), tree(std::make_unique<SettingsTree>(rootName)) {
    settings_file::RemoveLeftoverTemporaries(path);
    std::string bytes;
    wxString reason;
    switch (settings_file::Read(path, SettingsTree::MaxFileSize, bytes, reason)) {
    case settings_file::Found::Missing:
        return;
    case settings_file::Found::Unreadable:
        unreadable = true;
        unreadableReason = reason;
        wxLogWarning("Settings file \"%s\" cannot be read (%s); it will not be overwritten.", path,
                     reason);
        return;
    case settings_file::Found::TooLarge:
        backupDue = damaged = true;
        wxLogWarning("Settings file \"%s\" is larger than 16 MB; it is ignored and will be kept "
                     "as a backup beside it when the settings are saved.",
                     path);
        return;
    case settings_file::Found::Read:
        break;
    }
    std::string error;
    if (!tree->Parse(bytes.data(), bytes.size(), error)) {
        backupDue = damaged = true;
        wxLogWarning("Settings file \"%s\" could not be parsed (%s); what was read before the "
                     "damage is used, and the file will be kept as a backup beside it when the "
                     "settings are saved.",
                     path, wxString::FromUTF8(error));
    }
}

int host::ConfigStore::FindElement(const wxString& key) const {
    SettingsTree::Index node = SettingsTree::Root;
    for (const wxString& text : SplitKey(key)) {
        if (text.empty())
            continue;
        const Segment segment = ParseSegment(text);
        node = tree->FindChild(node, segment.name, segment.occurrence);
        if (node == SettingsTree::None)
            return SettingsTree::None;
    }
    return node;
}

int host::ConfigStore::FindNode(const wxString& key) const {
    const int node = FindElement(key);
    return node == SettingsTree::Root ? SettingsTree::None : node;
}

int host::ConfigStore::FindOrCreateNode(const wxString& key) {
    SettingsTree::Index node = SettingsTree::Root;
    for (const wxString& text : SplitKey(key)) {
        if (text.empty())
            continue;
        // A later child of a name that is not there yet is added as the next of that name.
        const Segment segment = ParseSegment(text);
        SettingsTree::Index child = tree->FindChild(node, segment.name, segment.occurrence);
        if (child == SettingsTree::None)
            child = tree->AddChild(node, segment.name);
        node = child;
    }
    return node == SettingsTree::Root ? SettingsTree::None : node;
}

wxArrayString host::ConfigStore::GetChildNames(const wxString& key) const {
    wxArrayString names;
    const int node = FindElement(key);
    if (node == SettingsTree::None)
        return names;
    for (int child = tree->First(node); child != SettingsTree::None; child = tree->Next(child))
        names.push_back(wxString::FromUTF8(tree->Name(child)));
    return names;
}

int host::ConfigStore::ChildAt(int node, size_t index) const {
    if (node == SettingsTree::None)
        return SettingsTree::None;
    int child = tree->First(node);
    for (size_t i = 0; i < index && child != SettingsTree::None; ++i)
        child = tree->Next(child);
    return child;
}

size_t host::ConfigStore::RemoveChildren(const wxString& key, const std::vector<size_t>& indexes) {
    const int node = FindElement(key);
    if (node == SettingsTree::None || indexes.empty())
        return 0;
    std::vector<size_t> sorted(indexes);
    std::sort(sorted.begin(), sorted.end());
    std::vector<SettingsTree::Index> children;
    size_t index = 0;
    auto wanted = sorted.begin();
    for (int child = tree->First(node); child != SettingsTree::None && wanted != sorted.end();
         child = tree->Next(child), ++index) {
        if (*wanted != index)
            continue;
        children.push_back(child);
        while (wanted != sorted.end() && *wanted == index)
            ++wanted;
    }
    tree->RemoveChildren(node, children);
    return children.size();
}

bool host::ConfigStore::RenameChild(const wxString& key, size_t index, const wxString& name) {
    const int child = ChildAt(FindElement(key), index);
    return child != SettingsTree::None && tree->Rename(child, Utf8(name));
}

bool host::ConfigStore::HoldsTextAlone(const wxString& key) const {
    const int node = FindNode(key);
    return node == SettingsTree::None || tree->HoldsTextAlone(node);
}

wxString host::ConfigStore::GetChildKey(const wxString& key, size_t index) const {
    const int node = FindElement(key);
    const int child = ChildAt(node, index);
    if (child == SettingsTree::None)
        return wxString();
    const std::string& name = tree->Name(child);
    size_t earlier = 0;
    for (int sibling = tree->First(node); sibling != child; sibling = tree->Next(sibling))
        earlier += tree->Name(sibling) == name ? 1 : 0;
    wxString parent = key;
    while (parent.EndsWith("/"))
        parent.RemoveLast();
    const wxString childKey = parent + "/" + wxString::FromUTF8(name);
    return earlier == 0 ? childKey : childKey + wxString::Format("[%zu]", earlier);
}

bool host::ConfigStore::IsWhole(const wxString& key) const {
    const int node = FindNode(key);
    return node == SettingsTree::None || tree->Whole(node);
}

bool host::ConfigStore::HasKey(const wxString& key) const {
    return FindNode(key) != SettingsTree::None;
}

int host::ConfigStore::ReadInt(const wxString& key, int defaultValue) const {
    long value = 0;
    if (!HasKey(key) || !Read(key, wxString()).Strip(wxString::both).ToLong(&value) ||
        value < INT_MIN || value > INT_MAX)
        return defaultValue;
    return static_cast<int>(value);
}

bool host::ConfigStore::ReadBool(const wxString& key, bool defaultValue) const {
    if (!HasKey(key))
        return defaultValue;
    const wxString text = Read(key, wxString()).Strip(wxString::both).Lower();
    if (text == "1" || text == "true")
        return true;
    if (text == "0" || text == "false")
        return false;
    return defaultValue;
}

wxString host::ConfigStore::Read(const wxString& key, const wxString& defaultValue) const {
    const int node = FindNode(key);
    return node == SettingsTree::None ? defaultValue : wxString::FromUTF8(tree->Text(node));
}

void host::ConfigStore::SetText(const wxString& key, const wxString& text) {
    const int node = FindOrCreateNode(key);
    if (node != SettingsTree::None)
        tree->SetText(node, Utf8(XmlSafe(text, key)));
}

void host::ConfigStore::Write(const wxString& key, int value) {
    SetText(key, wxString::Format("%d", value));
}

void host::ConfigStore::Write(const wxString& key, bool value) {
    SetText(key, value ? "1" : "0");
}

void host::ConfigStore::Write(const wxString& key, const wxString& value, bool) {
    SetText(key, value);
}

void host::ConfigStore::Clear() {
    tree->Clear();
}

void host::ConfigStore::KeepBackupOnSave() {
    backupDue = true;
}

wxString host::ConfigStore::GetBackupPath() const {
    if (backupDue && wxFileName::Exists(path))
        return settings_file::FreeBackupName(path);
    return backupPath;
}

bool host::ConfigStore::Save() {
    lastError.clear();
    const auto fail = [this](const wxString& why) {
        lastError = why;
        wxLogWarning("%s", why);
        return false;
    };
    if (unreadable)
        return fail(wxString::Format("The settings cannot be saved: \"%s\" exists but cannot be "
                                     "read (%s).",
                                     path, unreadableReason));
    std::string bytes;
    std::string error;
    if (!tree->Serialize(bytes, error))
        return fail(wxString::Format("The settings cannot be saved to \"%s\": %s.", path,
                                     wxString::FromUTF8(error)));
    wxString target;
    wxString why;
    if (!settings_file::ResolveTarget(path, target, why) ||
        !settings_file::CheckReplaceable(target, why))
        return fail(why);
    if (backupDue && wxFileName::Exists(path)) {
        wxString kept;
        if (!settings_file::KeepBackup(path, kept, why))
            return fail(why);
        backupPath = kept;
        wxLogWarning("The damaged settings file was kept as \"%s\".", kept);
    }
    // The original is safe in its backup: a later save need not keep it again.
    backupDue = false;
    if (!settings_file::ReplaceAtomically(target, bytes, why))
        return fail(why);
    return true;
}

const wxString& host::ConfigStore::GetPath() const {
    return path;
}

// ---------------------------------------------------------------------------------------------
// The interface, and the stand-in's extras, over the store.

namespace {

// Every store's state, by the address of its object. The map's own lock is held only to find or
// change an entry: the stores themselves are used by one thread at a time, as before.
std::mutex storesMutex;
std::unordered_map<const CConfigManagement*, std::unique_ptr<host::ConfigStore>>& Stores() {
    static auto* stores =
        new std::unordered_map<const CConfigManagement*, std::unique_ptr<host::ConfigStore>>;
    return *stores;
}

} // namespace

CConfigManagement::CConfigManagement(const wxString& path) {
    auto state = std::make_unique<host::ConfigStore>(path);
    const std::lock_guard<std::mutex> lock(storesMutex);
    Stores()[this] = std::move(state);
}

CConfigManagement::~CConfigManagement() {
    std::unique_ptr<host::ConfigStore> state;
    {
        const std::lock_guard<std::mutex> lock(storesMutex);
        auto found = Stores().find(this);
        if (found == Stores().end())
            return;
        state = std::move(found->second);
        Stores().erase(found);
    }
}

int CConfigManagement::ReadInt(const wxString& key, int defaultValue) {
    return host::ConfigStore::Of(*this).ReadInt(key, defaultValue);
}

bool CConfigManagement::ReadBool(const wxString& key, bool defaultValue) {
    return host::ConfigStore::Of(*this).ReadBool(key, defaultValue);
}

wxString CConfigManagement::Read(const wxString& key, const wxString& defaultValue) {
    return host::ConfigStore::Of(*this).Read(key, defaultValue);
}

void CConfigManagement::Write(const wxString& key, int value) {
    host::ConfigStore::Of(*this).Write(key, value);
}

void CConfigManagement::Write(const wxString& key, bool value) {
    host::ConfigStore::Of(*this).Write(key, value);
}

void CConfigManagement::Write(const wxString& key, const wxString& value, bool flag) {
    host::ConfigStore::Of(*this).Write(key, value, flag);
}

void CConfigManagement::Clear() {
    host::ConfigStore::Of(*this).Clear();
}

void CConfigManagement::Save() {
    host::ConfigStore::Of(*this).Save();
}

const host::ConfigStore& host::ConfigStore::Of(const CConfigManagement& config) {
    const std::lock_guard<std::mutex> lock(storesMutex);
    return *Stores().at(&config);
}

host::ConfigStore& host::ConfigStore::Of(CConfigManagement& config) {
    const std::lock_guard<std::mutex> lock(storesMutex);
    return *Stores().at(&config);
}

namespace host {

int Settings::ReadInt(const wxString& key, int defaultValue) const {
    return ConfigStore::Of(*this).ReadInt(key, defaultValue);
}

bool Settings::ReadBool(const wxString& key, bool defaultValue) const {
    return ConfigStore::Of(*this).ReadBool(key, defaultValue);
}

wxString Settings::Read(const wxString& key, const wxString& defaultValue) const {
    return ConfigStore::Of(*this).Read(key, defaultValue);
}

bool Settings::Save() {
    return ConfigStore::Of(*this).Save();
}

wxString Settings::GetLastError() const {
    return host::ConfigStore::Of(*this).GetLastError();
}

void Settings::KeepBackupOnSave() {
    host::ConfigStore::Of(*this).KeepBackupOnSave();
}

wxString Settings::GetBackupPath() const {
    return host::ConfigStore::Of(*this).GetBackupPath();
}

bool Settings::HasKey(const wxString& key) const {
    return host::ConfigStore::Of(*this).HasKey(key);
}

const wxString& Settings::GetPath() const {
    return host::ConfigStore::Of(*this).GetPath();
}

bool Settings::IsDamaged() const {
    return host::ConfigStore::Of(*this).IsDamaged();
}

bool Settings::IsWhole(const wxString& key) const {
    return host::ConfigStore::Of(*this).IsWhole(key);
}

wxArrayString Settings::GetChildNames(const wxString& key) const {
    return host::ConfigStore::Of(*this).GetChildNames(key);
}

wxString Settings::GetChildKey(const wxString& key, size_t index) const {
    return host::ConfigStore::Of(*this).GetChildKey(key, index);
}

size_t Settings::RemoveChildren(const wxString& key, const std::vector<size_t>& indexes) {
    return host::ConfigStore::Of(*this).RemoveChildren(key, indexes);
}

bool Settings::RenameChild(const wxString& key, size_t index, const wxString& name) {
    return host::ConfigStore::Of(*this).RenameChild(key, index, name);
}

bool Settings::HoldsTextAlone(const wxString& key) const {
    return host::ConfigStore::Of(*this).HoldsTextAlone(key);
}

} // namespace host
