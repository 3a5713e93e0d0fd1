// The settings store: every key in memory, read from its XML file when the store is made and
// written back whole by Save.
#include "MarrowpadSDK.h"

#include <wx/filename.h>
#include <wx/log.h>
#include <wx/xml/xml.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

// Far larger than the plug-in's declaration of the store (a virtual table pointer): a plug-in
// that made it in room of its own idea of the size would be overrun.
static_assert(sizeof(CConfigManagement) > 256, "the store keeps its data in the object");

namespace {

constexpr std::uint32_t liveMagic = 0x4D50434Du;
constexpr std::uint32_t deadMagic = 0xDEADC0DEu;

std::mutex savedMutex;
std::vector<wxString>& SavedList() {
    static std::vector<wxString> saved;
    return saved;
}

// An element of the file while it is written: its text, when the key is set, and its children
// in the order their keys come.
struct Element {
    wxString name;
    bool hasText = false;
    wxString text;
    std::vector<std::unique_ptr<Element>> children;

    Element& Child(const wxString& childName) {
        for (auto& child : children)
            if (child->name == childName)
                return *child;
        children.push_back(std::make_unique<Element>());
        children.back()->name = childName;
        return *children.back();
    }
};

void AppendEscaped(const wxString& text, std::string& out) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    for (size_t i = 0; i < utf8.length(); ++i) {
        const char c = utf8.data()[i];
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            out += c;
        }
    }
}

void AppendElement(const Element& element, int depth, std::string& out) {
    out.append(static_cast<size_t>(depth) * 2, ' ');
    const std::string name(element.name.utf8_str());
    out += "<" + name + ">";
    if (element.hasText)
        AppendEscaped(element.text, out);
    if (!element.children.empty()) {
        out += "\n";
        for (const auto& child : element.children)
            AppendElement(*child, depth + 1, out);
        out.append(static_cast<size_t>(depth) * 2, ' ');
    }
    out += "</" + name + ">\n";
}

// The text directly inside an element.
wxString TextOf(const wxXmlNode* element) {
    wxString text;
    for (const wxXmlNode* node = element->GetChildren(); node; node = node->GetNext())
        if (node->GetType() == wxXML_TEXT_NODE || node->GetType() == wxXML_CDATA_SECTION_NODE)
            text += node->GetContent();
    return text;
}

// The key of the element and those below it, the first element of a name winning over later
// ones; the root element's key is empty.
void ReadElement(const wxXmlNode* element, const wxString& key,
                 std::map<wxString, wxString>& values) {
    bool hasElements = false;
    for (const wxXmlNode* node = element->GetChildren(); node; node = node->GetNext()) {
        if (node->GetType() != wxXML_ELEMENT_NODE)
            continue;
        hasElements = true;
        const wxString childKey = key + "/" + node->GetName();
        bool seen = false;
        for (const wxXmlNode* before = element->GetChildren(); before != node;
             before = before->GetNext())
            seen = seen || (before->GetType() == wxXML_ELEMENT_NODE &&
                            before->GetName() == node->GetName());
        if (!seen)
            ReadElement(node, childKey, values);
    }
    if (key.empty())
        return; // the root element holds no value of its own
    const wxString text = TextOf(element);
    if (!hasElements)
        values[key] = text;
    else if (!wxString(text).Trim().Trim(false).empty())
        values[key] = text;
}

} // namespace

CConfigManagement::CConfigManagement(const wxString& path)
    : magic(liveMagic), modified(false), writes(0), filePath(path) {
    std::memset(rootName, 0, sizeof rootName);
    std::strncpy(rootName, "config", sizeof rootName - 1);
    std::memset(lastError, 0, sizeof lastError);
    Reload();
}

CConfigManagement::~CConfigManagement() {
    CheckAlive();
    magic = deadMagic;
}

void CConfigManagement::CheckAlive() const {
    if (magic == liveMagic)
        return;
    std::fprintf(stderr, "libmarrowpad: a settings store was used that is not one (%08x)\n",
                 static_cast<unsigned>(magic));
    std::abort();
}

wxString CConfigManagement::KeyOf(const wxString& key) {
    wxString normal;
    for (const wxString& part : wxSplit(key, '/', 0))
        if (!part.empty())
            normal += "/" + part;
    return normal;
}

bool CConfigManagement::Reload() {
    CheckAlive();
    values.clear();
    modified = false;
    if (!wxFileName::FileExists(filePath))
        return true;
    wxXmlDocument document;
    {
        const wxLogNull quiet; // a damaged file is an empty store, not a message
        if (!document.Load(filePath, "UTF-8", wxXMLDOC_KEEP_WHITESPACE_NODES) ||
            !document.GetRoot() || document.GetRoot()->GetName() != rootName) {
            std::snprintf(lastError, sizeof lastError, "cannot read %s",
                          static_cast<const char*>(filePath.utf8_str()));
            return false;
        }
    }
    ReadElement(document.GetRoot(), wxString(), values);
    return true;
}

int CConfigManagement::ReadInt(const wxString& key, int defaultValue) {
    CheckAlive();
    const auto found = values.find(KeyOf(key));
    long value = 0;
    if (found == values.end() || !found->second.ToLong(&value) || value < INT_MIN ||
        value > INT_MAX)
        return defaultValue;
    return static_cast<int>(value);
}

bool CConfigManagement::ReadBool(const wxString& key, bool defaultValue) {
    CheckAlive();
    const auto found = values.find(KeyOf(key));
    if (found == values.end())
        return defaultValue;
    if (found->second == "1" || found->second == "true")
        return true;
    if (found->second == "0" || found->second == "false")
        return false;
    return defaultValue;
}

wxString CConfigManagement::Read(const wxString& key, const wxString& defaultValue) {
    CheckAlive();
    const auto found = values.find(KeyOf(key));
    return found == values.end() ? defaultValue : found->second;
}

void CConfigManagement::Write(const wxString& key, int value) {
    Write(key, wxString::Format("%d", value), false);
}

void CConfigManagement::Write(const wxString& key, bool value) {
    Write(key, wxString(value ? "1" : "0"), false);
}

void CConfigManagement::Write(const wxString& key, const wxString& value, bool flag) {
    CheckAlive();
    const wxString normal = KeyOf(key);
    if (normal.empty())
        return;
    values[normal] = value;
    if (flag)
        flagged.push_back(normal);
    modified = true;
    ++writes;
}

void CConfigManagement::Clear() {
    CheckAlive();
    values.clear();
    flagged.clear();
    modified = true;
}

void CConfigManagement::Save() {
    CheckAlive();
    Element root;
    root.name = rootName;
    for (const auto& [key, value] : values) {
        Element* element = &root;
        for (const wxString& part : wxSplit(key.Mid(1), '/', 0))
            element = &element->Child(part);
        element->hasText = true;
        element->text = value;
    }
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    AppendElement(root, 0, text);

    const std::string target(filePath.fn_str());
    const std::string temporary = target + ".saving";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    bool written = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = file && std::fclose(file) == 0 && written;
    if (!written || std::rename(temporary.c_str(), target.c_str()) != 0) {
        std::snprintf(lastError, sizeof lastError, "cannot write %s: %s", target.c_str(),
                      std::strerror(errno));
        std::remove(temporary.c_str());
        return;
    }
    lastError[0] = '\0';
    modified = false;
    const std::lock_guard<std::mutex> lock(savedMutex);
    SavedList().push_back(filePath);
}

std::vector<wxString> CConfigManagement::SavedFiles() {
    const std::lock_guard<std::mutex> lock(savedMutex);
    return SavedList();
}
