#include "host/lib/PluginManager.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>
#include <wx/regex.h>
#include <wx/tokenzr.h>

#include <dlfcn.h>
#include <unistd.h>

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
