// The settings store: typed values under slash-separated key paths, kept in an XML file.
#include "host/lib/Services.h"

#include <wx/file.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/xml/xml.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

namespace {

const char* const rootName = "config";

wxArrayString SplitKey(const wxString& key) {
    return wxSplit(key, '/', '\0');
}

wxXmlNode* FindChild(wxXmlNode* parent, const wxString& name) {
    for (wxXmlNode* child = parent->GetChildren(); child; child = child->GetNext()) {
        if (child->GetType() == wxXML_ELEMENT_NODE && child->GetName() == name)
            return child;
    }
    return nullptr;
}

bool IsBlank(const wxString& text) {
    return text.find_first_not_of(" \t\r\n") == wxString::npos;
}

// Indentation between elements is not a value: drop whitespace-only text beside elements, so
// that a loaded file saves as it was. A value of blanks alone (an element with only text) stays.
void DropIndentation(wxXmlNode* node) {
    bool hasElements = false;
    for (wxXmlNode* child = node->GetChildren(); child; child = child->GetNext())
        hasElements = hasElements || child->GetType() == wxXML_ELEMENT_NODE;
    wxXmlNode* child = node->GetChildren();
    while (child) {
        wxXmlNode* next = child->GetNext();
        if (child->GetType() == wxXML_ELEMENT_NODE) {
            DropIndentation(child);
        } else if (hasElements && child->GetType() == wxXML_TEXT_NODE &&
                   IsBlank(child->GetContent())) {
            node->RemoveChild(child);
            delete child;
        }
        child = next;
    }
}

std::string LocalPath(const wxString& path) {
    return std::string(path.fn_str());
}

// A name beside the file that does not exist yet: "file.bak", else "file.bak1", "file.bak2"...
wxString FreeBackupName(const wxString& path) {
    wxString candidate = path + ".bak";
    for (int i = 1; wxFileName::Exists(candidate); ++i)
        candidate = wxString::Format("%s.bak%d", path, i);
    return candidate;
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

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Writes the bytes to a temporary file in the same folder, flushes it to disk and renames it
// over the target, so that a crash leaves either the old file or the new one, whole.
bool ReplaceAtomically(const wxString& path, const char* data, size_t size) {
    const std::string target = LocalPath(path);
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    struct stat old {};
    mode_t mode = 0666;
    if (::stat(target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    const bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data, size) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    const std::string folder = LocalPath(wxFileName(path).GetPath());
    const int dirFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace

CConfigManagement::CConfigManagement(const wxString& filePath)
    : path(filePath), document(std::make_unique<wxXmlDocument>()) {
    document->SetRoot(new wxXmlNode(wxXML_ELEMENT_NODE, rootName));
    if (!wxFileName::FileExists(path))
        return;
    if (!wxFile::Access(path, wxFile::read)) {
        unreadable = true;
        wxLogWarning("Settings file \"%s\" cannot be read; it will not be overwritten.", path);
        return;
    }
    wxXmlDocument loaded;
    bool parsed = false;
    {
        wxLogNull quiet; // the parser's own complaints would pop up as dialogs
        parsed = loaded.Load(path, "UTF-8", wxXMLDOC_KEEP_WHITESPACE_NODES);
    }
    if (!parsed || !loaded.GetRoot() || loaded.GetRoot()->GetName() != rootName) {
        unparsable = true;
        wxLogWarning("Settings file \"%s\" could not be parsed; it is ignored and will be kept "
                     "as a backup beside it when the settings are saved.",
                     path);
        return;
    }
    DropIndentation(loaded.GetRoot());
    document->SetRoot(loaded.DetachRoot());
}

CConfigManagement::~CConfigManagement() = default;

const wxXmlNode* CConfigManagement::FindNode(const wxString& key) const {
    wxXmlNode* node = document->GetRoot();
    for (const wxString& segment : SplitKey(key)) {
        if (segment.empty())
            continue;
        node = FindChild(node, segment);
        if (!node)
            return nullptr;
    }
    return node == document->GetRoot() ? nullptr : node;
}

wxXmlNode* CConfigManagement::FindOrCreateNode(const wxString& key) {
    wxXmlNode* node = document->GetRoot();
    for (const wxString& segment : SplitKey(key)) {
        if (segment.empty())
            continue;
        wxXmlNode* child = FindChild(node, segment);
        if (!child) {
            child = new wxXmlNode(wxXML_ELEMENT_NODE, segment);
            node->AddChild(child);
        }
        node = child;
    }
    return node == document->GetRoot() ? nullptr : node;
}

bool CConfigManagement::HasKey(const wxString& key) const {
    return FindNode(key) != nullptr;
}

int CConfigManagement::ReadInt(const wxString& key, int defaultValue) const {
    const wxXmlNode* node = FindNode(key);
    long value = 0;
    if (!node || !node->GetNodeContent().Strip(wxString::both).ToLong(&value) || value < INT_MIN ||
        value > INT_MAX)
        return defaultValue;
    return static_cast<int>(value);
}

bool CConfigManagement::ReadBool(const wxString& key, bool defaultValue) const {
    const wxXmlNode* node = FindNode(key);
    if (!node)
        return defaultValue;
    const wxString text = node->GetNodeContent().Strip(wxString::both).Lower();
    if (text == "1" || text == "true")
        return true;
    if (text == "0" || text == "false")
        return false;
    return defaultValue;
}

wxString CConfigManagement::Read(const wxString& key, const wxString& defaultValue) const {
    const wxXmlNode* node = FindNode(key);
    return node ? node->GetNodeContent() : defaultValue;
}

void CConfigManagement::SetText(const wxString& key, const wxString& text) {
    wxXmlNode* node = FindOrCreateNode(key);
    if (!node)
        return;
    while (wxXmlNode* child = node->GetChildren()) {
        node->RemoveChild(child);
        delete child;
    }
    if (!text.empty())
        node->AddChild(new wxXmlNode(wxXML_TEXT_NODE, wxString(), XmlSafe(text, key)));
}

void CConfigManagement::Write(const wxString& key, int value) {
    SetText(key, wxString::Format("%d", value));
}

void CConfigManagement::Write(const wxString& key, bool value) {
    SetText(key, value ? "1" : "0");
}

void CConfigManagement::Write(const wxString& key, const wxString& value, bool) {
    SetText(key, value);
}

void CConfigManagement::Clear() {
    document->SetRoot(new wxXmlNode(wxXML_ELEMENT_NODE, rootName));
}

bool CConfigManagement::Save() {
    if (unreadable) {
        wxLogWarning("Settings not saved: \"%s\" exists but cannot be read.", path);
        return false;
    }
    wxMemoryOutputStream buffer;
    if (!document->Save(buffer, 2)) {
        wxLogWarning("Settings not saved: they could not be written as XML.");
        return false;
    }
    if (unparsable && wxFileName::FileExists(path)) {
        const wxString backup = FreeBackupName(path);
        if (!wxCopyFile(path, backup, false)) {
            wxLogWarning("Settings not saved: the unparsable \"%s\" could not be kept as \"%s\".",
                         path, backup);
            return false;
        }
        wxLogWarning("The unparsable settings file was kept as \"%s\".", backup);
    }
    const size_t size = buffer.GetSize();
    std::string bytes(size, '\0');
    buffer.CopyTo(bytes.data(), size);
    if (!ReplaceAtomically(path, bytes.data(), bytes.size())) {
        wxLogWarning("Settings not saved to \"%s\": %s", path, std::strerror(errno));
        return false;
    }
    unparsable = false;
    return true;
}
