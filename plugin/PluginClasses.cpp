// The parts of the plug-in interface that every plug-in module carries (and exports) itself.
// CPlugin's constructor and destructor are the editor's and are not here.
#include "plugin/Plugin.h"

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

EPluginType CPlugin::GetType() const {
    return type;
}
const CPluginInfo* CPlugin::GetInfo() const {
    return &info;
}
void CPlugin::OnAttach() {}
void CPlugin::OnRelease() {}

CToolPlugin::CToolPlugin() {
    type = MP_PLUGIN_TOOL;
}
CToolPlugin::~CToolPlugin() = default;
void CToolPlugin::BuildMenu(wxMenuBar*) {}
bool CToolPlugin::BuildToolBar(wxToolBar*) {
    return false;
}

CToolBarPlugin::CToolBarPlugin() {
    type = MP_PLUGIN_TOOLBAR;
}
CToolBarPlugin::~CToolBarPlugin() = default;
CDockInfo& CToolBarPlugin::GetDockInfo() {
    return dockInfo;
}
void CToolBarPlugin::BuildMenu(wxMenuBar*) {}
bool CToolBarPlugin::BuildToolBar(wxToolBar*) {
    return false;
}

CPanelPlugin::CPanelPlugin() {
    type = MP_PLUGIN_PANEL;
}
CPanelPlugin::~CPanelPlugin() = default;
CDockInfo& CPanelPlugin::GetPanelInfo() {
    return panelInfo;
}

CMainClientPlugin::CMainClientPlugin() {
    type = MP_PLUGIN_MAINCLIENT;
}
CMainClientPlugin::~CMainClientPlugin() = default;
