#include "host/lib/PluginManager.h"
#include "plugin/Plugin.h"
#include "tests/support/TestSupport.h"

#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/toolbar.h>

namespace {

// The interface's layout is what every built plug-in was compiled against. A change here must come
// with a new MP_PLUGIN_INTERFACE_VERSION (and these figures with it).
static_assert(MP_PLUGIN_INTERFACE_VERSION == 1, "a new layout version: update the figures below");
static_assert(sizeof(CPluginInfo) == 8 * sizeof(wxString), "CPluginInfo holds eight texts");
static_assert(sizeof(CDockInfo) == 5 * sizeof(std::int32_t), "CDockInfo holds five values");
// CPlugin's own members after the toolkit's event handler: type (in the handler's tail padding on
// x86-64), info, hostData and its padding.
static_assert(sizeof(void*) != 8 ||
                  sizeof(CPlugin) - sizeof(wxEvtHandler) == sizeof(CPluginInfo) + 8,
              "CPlugin's own members changed");

struct Tool : CToolPlugin {
    void HostHook() override {}
    void KindHook() override {}
};
struct ToolBar : CToolBarPlugin {
    void HostHook() override {}
    void KindHook() override {}
};
struct Panel : CPanelPlugin {
    void HostHook() override {}
    void KindHook() override {}
    void PanelHook() override {}
    void BuildMenu(wxMenuBar*) override {}
    bool BuildToolBar(wxToolBar*) override { return false; }
};
struct MainClient : CMainClientPlugin {
    void HostHook() override {}
    void BuildMenu(wxMenuBar*) override {}
    bool BuildToolBar(wxToolBar*) override { return false; }
};

CPluginInfo MakeInfo(const wxString& suffix) {
    CPluginInfo info;
    info.pluginName = "name" + suffix;
    info.caption = "caption" + suffix;
    info.version = "version" + suffix;
    info.summary = "summary" + suffix;
    info.authors = "authors" + suffix;
    info.emails = "emails" + suffix;
    info.webSite = "webSite" + suffix;
    info.licence = "licence" + suffix;
    return info;
}

std::vector<wxString> Fields(const CPluginInfo& info) {
    return {info.pluginName, info.caption, info.version, info.summary,
            info.authors,    info.emails,  info.webSite, info.licence};
}

TEST(HostPluginInterface, EachKindReportsItsType) {
    EXPECT_EQ(Tool().GetType(), 1);
    EXPECT_EQ(ToolBar().GetType(), 2);
    EXPECT_EQ(Panel().GetType(), 3);
    EXPECT_EQ(MainClient().GetType(), 4);
}

TEST(HostPluginInterface, InfoCopiesEveryFieldInPlace) {
    const CPluginInfo original = MakeInfo("1");
    const CPluginInfo copy(original);
    EXPECT_EQ(Fields(copy), Fields(original));

    CPluginInfo assigned = MakeInfo("2");
    assigned = original;
    EXPECT_EQ(Fields(assigned), Fields(original));

    CPluginInfo& self = assigned;
    assigned = self;
    EXPECT_EQ(Fields(assigned), Fields(original));
}

TEST(HostPluginInterface, DockInfoAssignmentCopiesAllFiveValues) {
    CDockInfo a{{1, 2, 3, 4, 5}};
    CDockInfo b{{0, 0, 0, 0, 0}};
    b = a;
    EXPECT_EQ(std::vector<int>(b.values, b.values + 5), (std::vector<int>{1, 2, 3, 4, 5}));
    ToolBar toolBar;
    toolBar.GetDockInfo() = a;
    EXPECT_EQ(toolBar.GetDockInfo().values[4], 5);
}

TEST(HostPluginInterface, GetInfoIsTheObjectsOwnRecord) {
    struct Named : Tool {
        void Rename(const wxString& name) { info.pluginName = name; }
    } plugin;
    const CPluginInfo* info = plugin.GetInfo();
    plugin.Rename("renamed");
    EXPECT_EQ(info, plugin.GetInfo());
    EXPECT_EQ(info->pluginName, "renamed");
}

TEST(HostPluginInterface, ToolKindsAddNothingToTheBars) {
    wxFrame frame(nullptr, wxID_ANY, "t");
    wxToolBar* bar = frame.CreateToolBar();
    auto* menuBar = new wxMenuBar;
    frame.SetMenuBar(menuBar);
    CPluginManager manager;
    manager.AddPlugin(new Tool, "tool");
    manager.AddPlugin(new ToolBar, "toolbar");
    EXPECT_FALSE(manager.BuildToolBars(bar));
    manager.BuildMenus(menuBar);
    EXPECT_EQ(bar->GetToolsCount(), 0u);
    EXPECT_EQ(menuBar->GetMenuCount(), 0u);
    manager.ReleaseAll();
    EXPECT_EQ(manager.GetCount(), 0u);
}

} // namespace
