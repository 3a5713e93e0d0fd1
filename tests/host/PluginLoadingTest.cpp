#include "host/lib/PluginManager.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>
#include <wx/regex.h>
#include <wx/tokenzr.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>

using testing_support::EditorEnvironment;
using testing_support::RunProcess;
using testing_support::TempDir;

namespace {

const wxString builtModule = wxString(COILHATCH_PLUGINS_DIR) + "/Coilhatch.so";

class HostPluginLoading : public testing_support::WxTest {};

TEST_F(HostPluginLoading, ModuleExportsOnlyTheEntryPointsAndInterfaceClasses) {
    const auto nm = RunProcess({"/usr/bin/nm", "-D", "--defined-only", "-C", builtModule});
    ASSERT_EQ(nm.status, 0) << nm.err;
    // Demangled names of what the editor may look up.
    const wxRegEx allowed("^(PluginName|CreatePlugin|"
                          "(typeinfo for |typeinfo name for |vtable for )?"
                          "(CPluginInfo|CDockInfo|CPlugin|CToolPlugin|CToolBarPlugin|"
                          "CPanelPlugin|CMainClientPlugin)(::.*)?)$");
    int entryPoints = 0;
    for (const wxString& line : wxStringTokenize(nm.out, "\n")) {
        // "<address> <type> <name>"
        const wxString name = line.Mid(line.find(' ', line.find(' ') + 1) + 1);
        EXPECT_TRUE(allowed.Matches(name)) << "exported: " << name.utf8_str();
        entryPoints += (name == "PluginName" || name == "CreatePlugin") ? 1 : 0;
    }
    EXPECT_EQ(entryPoints, 2);
}

// What the module asks of the editor's library, by the names the loader looks up: the services
// every editor of this interface exports, signature for signature. GetAppWindow is the one const
// member. The settings store's destructor is not among them: the module reaches it through the
// object's own virtual table.
const std::set<std::string> editorServices = {
    "_ZN7CPluginC2Ev",                              // CPlugin::CPlugin()
    "_ZN7CPluginD2Ev",                              // CPlugin::~CPlugin()
    "_ZTI7CPlugin",                                 // typeinfo for CPlugin
    "_ZN14CAppManagement3GetEv",                    // CAppManagement::Get()
    "_ZNK14CAppManagement12GetAppWindowEv",         // CAppManagement::GetAppWindow() const
    "_ZN12CNameService3GetEv",                      // CNameService::Get()
    "_ZN12CNameService11GetNameItemE8wxString",     // CNameService::GetNameItem(wxString)
    "_ZN9CNameItem12GetAttributeEi",                // CNameItem::GetAttribute(int)
    "_ZN17CConfigManagementC1ERK8wxString",         // CConfigManagement(const wxString&)
    "_ZN17CConfigManagement7ReadIntERK8wxStringi",  // ReadInt(const wxString&, int)
    "_ZN17CConfigManagement8ReadBoolERK8wxStringb", // ReadBool(const wxString&, bool)
    "_ZN17CConfigManagement4ReadERK8wxStringS2_",   // Read(const wxString&, const wxString&)
    "_ZN17CConfigManagement5WriteERK8wxStringi",    // Write(const wxString&, int)
    "_ZN17CConfigManagement5WriteERK8wxStringb",    // Write(const wxString&, bool)
    "_ZN17CConfigManagement5WriteERK8wxStringS2_b", // Write(const wxString&, const wxString&, bool)
    "_ZN17CConfigManagement5ClearEv",               // CConfigManagement::Clear()
    "_ZN17CConfigManagement4SaveEv",                // CConfigManagement::Save()
    "_ZN17CEditorManagement3GetEv",                 // CEditorManagement::Get()
    "_ZN17CEditorManagement16GetCurrentEditorEv",   // CEditorManagement::GetCurrentEditor()
    "wxEVT_EDITOR_COMPLETEBEGIN",
    "wxEVT_EDITOR_COMPLETEEND",
    "wxEVT_EDITOR_OPEN",
};

// The dynamic symbols nm lists with these options, without their versions.
std::set<std::string> DynamicSymbols(const wxString& file, const char* which) {
    const auto nm = RunProcess({"/usr/bin/nm", "-D", which, file});
    EXPECT_EQ(nm.status, 0) << nm.err;
    std::set<std::string> names;
    for (const wxString& line : wxStringTokenize(nm.out, "\n")) {
        // "[<address>] <type> <name>[@[@]<version>]"
        const wxString name = wxString(line).Trim().AfterLast(' ').BeforeFirst('@');
        if (!name.empty())
            names.insert(std::string(name.utf8_str()));
    }
    return names;
}

std::string Listed(const std::set<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += "\n  " + name;
    return text;
}

// The plug-in calls nothing of the editor's library but those services, and needs every one of
// them (a name missing means the list above no longer says what the module asks for): it loads
// in every editor of this interface. Held against the stand-in's library and against the other
// editor's (tests/foreign), a library written from the list of services alone.
TEST_F(HostPluginLoading, ModuleUsesExactlyTheEditorsExportedServices) {
    const std::set<std::string> needed = DynamicSymbols(builtModule, "--undefined-only");
    ASSERT_FALSE(needed.empty());
    // The type information of the services' classes may come with them (the undefined-behaviour
    // sanitizer's checks of dynamic types refer to it).
    const wxRegEx typeInfo("^_ZT[IS](9CNameItem|12CNameService|17CConfigManagement|"
                           "14CAppManagement|13CSyntaxEditor|17CEditorManagement)$");
    const struct {
        const char* editor;
        wxString library;
    } libraries[] = {
        {"stand-in", wxString(COILHATCH_BIN_DIR) + "/libmarrowpad.so"},
        {"foreign", wxString(COILHATCH_FOREIGN_BIN_DIR) + "/libmarrowpad.so"},
    };
    for (const auto& library : libraries) {
        SCOPED_TRACE(library.editor);
        const std::set<std::string> offered = DynamicSymbols(library.library, "--defined-only");
        std::set<std::string> used;
        for (const std::string& name : needed)
            if (offered.count(name) && !typeInfo.Matches(name))
                used.insert(name);
        std::set<std::string> extra;
        std::set<std::string> missing;
        std::set_difference(used.begin(), used.end(), editorServices.begin(), editorServices.end(),
                            std::inserter(extra, extra.end()));
        std::set_difference(editorServices.begin(), editorServices.end(), used.begin(), used.end(),
                            std::inserter(missing, missing.end()));
        EXPECT_TRUE(extra.empty())
            << "asked of the editor's library beyond its services:" << Listed(extra);
        EXPECT_TRUE(missing.empty())
            << "services not asked for (or not offered):" << Listed(missing);

        // The library offers every service, and the store's virtual destructor with them.
        std::set<std::string> exported = editorServices;
        exported.insert({"_ZN17CConfigManagementD0Ev", "_ZN17CConfigManagementD1Ev"});
        for (const std::string& name : exported)
            EXPECT_TRUE(offered.count(name)) << "not exported: " << name;
    }
}

TEST_F(HostPluginLoading, EntryPointsNameAndCreateDistinctObjects) {
    void* module = dlopen(builtModule.fn_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto pluginName = reinterpret_cast<PluginNameFunc>(dlsym(module, "PluginName"));
    auto createPlugin = reinterpret_cast<CreatePluginFunc>(dlsym(module, "CreatePlugin"));
    ASSERT_TRUE(pluginName && createPlugin);
    EXPECT_EQ(pluginName(), "Coilhatch");

    CPlugin* first = createPlugin();
    CPlugin* second = createPlugin();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->GetInfo()->pluginName, pluginName());
    EXPECT_EQ(first->GetInfo()->caption, "Python Script");
    EXPECT_EQ(first->GetInfo()->licence, "Private");
    delete first; // through the virtual destructor, as the editor does
    delete second;
}

TEST_F(HostPluginLoading, FolderLoadSkipsWhatIsNotAPlugin) {
    TempDir plugins;
    ASSERT_EQ(symlink(builtModule.fn_str(), plugins.File("Coilhatch.so").fn_str()), 0);
    // A shared object without the entry points, and a file that is not a shared object.
    const wxString library = wxString(COILHATCH_BIN_DIR) + "/libmarrowpad.so";
    ASSERT_EQ(symlink(library.fn_str(), plugins.File("editorlib.so").fn_str()), 0);
    plugins.Write("broken.so", "not a shared object");
    plugins.Write("readme.txt", "ignored");

    EditorEnvironment editor(plugins.Path());
    CPluginManager manager;
    EXPECT_EQ(manager.LoadFolder(plugins.Path()), 1);
    ASSERT_EQ(manager.GetCount(), 1u);
    EXPECT_EQ(manager.GetPluginName(0), "Coilhatch");
    manager.BuildMenus(editor.MenuBar());
    manager.ReleaseAll();
    EXPECT_EQ(manager.GetCount(), 0u);
    modal.TakeMessageBoxes(); // whatever attaching reported is the engine's business here
}

TEST_F(HostPluginLoading, MissingFolderLoadsNothing) {
    CPluginManager manager;
    EXPECT_EQ(manager.LoadFolder("/nonexistent/plugins"), 0);
}

} // namespace
