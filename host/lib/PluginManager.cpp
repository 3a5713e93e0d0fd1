// Finds, creates, drives and destroys the plug-ins of a folder.
#include "host/lib/PluginManager.h"

#include <wx/dir.h>
#include <wx/event.h>
#include <wx/filename.h>
#include <wx/log.h>

#include <dlfcn.h>

#include <algorithm>

struct CPluginManager::Loaded {
    wxString path;
    wxString name;
    void* module = nullptr;
    CPlugin* plugin = nullptr;
};

CPluginManager::CPluginManager() = default;

CPluginManager::~CPluginManager() {
    ReleaseAll();
}

int CPluginManager::LoadFolder(const wxString& folder) {
    if (!wxDir::Exists(folder)) {
        wxLogMessage("Plug-ins folder \"%s\" does not exist; no plug-in loaded.", folder);
        return 0;
    }
    wxArrayString files;
    wxDir::GetAllFiles(folder, &files, "*.so", wxDIR_FILES);
    files.Sort();
    int attached = 0;
    for (const wxString& file : files)
        attached += LoadModule(file) ? 1 : 0;
    return attached;
}

bool CPluginManager::LoadModule(const wxString& path) {
    // Local binding: a plug-in must not rely on its symbols being visible to other modules.
    void* module = dlopen(path.fn_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        wxLogWarning("Skipped plug-in module \"%s\": %s", path, wxString::FromUTF8(dlerror()));
        return false;
    }
    auto pluginName = reinterpret_cast<PluginNameFunc>(dlsym(module, "PluginName"));
    auto createPlugin = reinterpret_cast<CreatePluginFunc>(dlsym(module, "CreatePlugin"));
    if (!pluginName || !createPlugin) {
        wxLogWarning("Skipped \"%s\": it does not export PluginName and CreatePlugin.", path);
        dlclose(module);
        return false;
    }
    auto loaded = std::make_unique<Loaded>();
    loaded->path = path;
    loaded->module = module;
    loaded->name = pluginName();
    loaded->plugin = createPlugin();
    if (!loaded->plugin) {
        wxLogWarning("Skipped plug-in \"%s\": it could not create its object.", loaded->name);
        return false; // the module stays loaded: its name text may still be referenced
    }
    wxLogVerbose("Loaded plug-in \"%s\" from \"%s\".", loaded->name, path);
    CPlugin* plugin = loaded->plugin;
    plugins.push_back(std::move(loaded));
    plugin->OnAttach();
    return true;
}

void CPluginManager::AddPlugin(CPlugin* plugin, const wxString& name) {
    auto loaded = std::make_unique<Loaded>();
    loaded->name = name;
    loaded->plugin = plugin;
    plugins.push_back(std::move(loaded));
    plugin->OnAttach();
}

bool CPluginManager::BuildToolBars(wxToolBar* toolBar) {
    bool added = false;
    for (const auto& loaded : plugins)
        added = loaded->plugin->BuildToolBar(toolBar) || added;
    return added;
}

void CPluginManager::BuildMenus(wxMenuBar* menuBar) {
    for (const auto& loaded : plugins)
        loaded->plugin->BuildMenu(menuBar);
}

bool CPluginManager::Dispatch(wxEvent& event) {
    // Only the plug-ins' own handlers: an event none of them handles goes back to the caller,
    // not on to the application (the frame passes it on itself).
    for (const auto& loaded : plugins) {
        if (loaded->plugin->ProcessEventLocally(event))
            return true;
    }
    return false;
}

void CPluginManager::ReleaseAll() {
    while (!plugins.empty()) {
        std::unique_ptr<Loaded> loaded = std::move(plugins.back());
        plugins.pop_back();
        loaded->plugin->OnRelease();
        delete loaded->plugin;
        // The module itself stays mapped until the process ends: toolkit objects it created
        // (menus, class information, bitmaps) may outlive its plug-in object.
    }
}

CPlugin* CPluginManager::GetPlugin(size_t index) const {
    return index < plugins.size() ? plugins[index]->plugin : nullptr;
}

wxString CPluginManager::GetPluginName(size_t index) const {
    return index < plugins.size() ? plugins[index]->name : wxString();
}
