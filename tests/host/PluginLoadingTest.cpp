#include "host/lib/PluginManager.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>
#include <wx/regex.h>
#include <wx/tokenzr.h>

#include <dlfcn.h>
#include <unistd.h>

#include <set>

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

// The plug-in calls nothing of the editor's library but the services every editor exports for
// plug-ins: it loads in the editor it is for, not only in the stand-in.
TEST_F(HostPluginLoading, ModuleUsesOnlyTheEditorsExportedServices) {
    const auto needed = RunProcess({"/usr/bin/nm", "-D", "--undefined-only", "-C", builtModule});
    const auto offered = RunProcess({"/usr/bin/nm", "-D", "--defined-only", "-C",
                                     wxString(COILHATCH_BIN_DIR) + "/libmarrowpad.so"});
    ASSERT_EQ(needed.status, 0) << needed.err;
    ASSERT_EQ(offered.status, 0) << offered.err;
    std::set<wxString> library;
    for (const wxString& line : wxStringTokenize(offered.out, "\n"))
        library.insert(line.Mid(line.find(' ', line.find(' ') + 1) + 1));
    const std::set<wxString> services = {
        "CPlugin::CPlugin()",
        "CPlugin::~CPlugin()",
        "typeinfo for CPlugin",
        "CAppManagement::Get()",
        "CAppManagement::GetAppWindow() const",
        "CNameService::Get()",
        "CNameService::GetNameItem(wxString)",
        "CNameItem::GetAttribute(int) const",
        "CConfigManagement::CConfigManagement(wxString const&)",
        "CConfigManagement::~CConfigManagement()",
        "CConfigManagement::ReadInt(wxString const&, int) const",
        "CConfigManagement::ReadBool(wxString const&, bool) const",
        "CConfigManagement::Read(wxString const&, wxString const&) const",
        "CConfigManagement::Write(wxString const&, int)",
        "CConfigManagement::Write(wxString const&, bool)",
        "CConfigManagement::Write(wxString const&, wxString const&, bool)",
        "CConfigManagement::Clear()",
        "CConfigManagement::Save()",
        "CEditorManagement::Get()",
        "CEditorManagement::GetCurrentEditor() const",
        "CMessageOutputManagement::Get()",
        "CMessageOutputManagement::GetMessageOutput(int)",
        "CMessageOutput::Append(wxString const&)",
        "wxEVT_EDITOR_COMPLETEBEGIN",
        "wxEVT_EDITOR_COMPLETEEND",
        "wxEVT_EDITOR_OPEN",
    };
    std::set<wxString> used;
    for (const wxString& line : wxStringTokenize(needed.out, "\n")) {
        // "<type> <name>"
        const wxString name = wxString(line).Trim(false).AfterFirst(' ');
        if (library.count(name))
            used.insert(name);
    }
    for (const wxString& name : used)
        EXPECT_TRUE(services.count(name)) << "from the editor's library: " << name.utf8_str();
    EXPECT_GE(used.size(), services.size() - 3) << "the services are no longer found by name";
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
