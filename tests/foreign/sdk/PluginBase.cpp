// The plug-in base's part that lives in the editor: CPlugin's construction and destruction, and
// what CPlugin's virtual table, which is made here, refers to.
#include "MarrowpadSDK.h"

#include <algorithm>

CPluginInfo::CPluginInfo() = default;
CPluginInfo::CPluginInfo(const CPluginInfo& other) = default;
CPluginInfo::~CPluginInfo() = default;

CPluginInfo& CPluginInfo::operator=(const CPluginInfo& other) {
    if (this != &other) {
        pluginName = other.pluginName;
        caption = other.caption;
        version = other.version;
        summary = other.summary;
        authors = other.authors;
        emails = other.emails;
        webSite = other.webSite;
        licence = other.licence;
    }
    return *this;
}

CDockInfo& CDockInfo::operator=(const CDockInfo& other) {
    std::copy(std::begin(other.values), std::end(other.values), std::begin(values));
    return *this;
}

CPlugin::CPlugin() : type(MP_PLUGIN_UNKNOWN), hostData(-1) {}

CPlugin::~CPlugin() = default;

EPluginType CPlugin::GetType() const {
    return type;
}

const CPluginInfo* CPlugin::GetInfo() const {
    return &info;
}

void CPlugin::OnAttach() {}

void CPlugin::OnRelease() {}
