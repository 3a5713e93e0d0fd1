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

struct CPluginManager::State {
    std::vector<std::unique_ptr<Loaded>> plugins;
    int running = 0;         // calls into plug-ins on the stack (a handler may run a nested loop)
    bool releaseDue = false; // ReleaseAll came while a plug-in was running
    bool unloadModules = false;

    void Release() {
        releaseDue = false;
        while (!plugins.empty()) {
            std::unique_ptr<Loaded> loaded = std::move(plugins.back());
            plugins.pop_back();
            loaded->plugin->OnRelease();
            delete loaded->plugin;
            // Otherwise the module itself stays mapped until the process ends: toolkit objects
            // it created (menus, class information, bitmaps) may outlive its plug-in object.
            if (unloadModules && loaded->module && dlclose(loaded->module) != 0)
                wxLogWarning("Plug-in \"%s\" could not be unloaded: %s", loaded->path, dlerror());
        }
    }
};

// One call into the plug-ins: a release asked for meanwhile happens when the outermost call
// returns.
class CPluginManager::Call {
public:
    explicit Call(std::shared_ptr<State> shared) : state(std::move(shared)) { ++state->running; }
    ~Call() {
        if (--state->running == 0 && state->releaseDue)
            state->Release();
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

private:
    std::shared_ptr<State> state;
};

CPluginManager::CPluginManager() : state(std::make_shared<State>()) {}

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
    state->plugins.push_back(std::move(loaded));
    const Call call(state);
    plugin->OnAttach();
    return true;
}

void CPluginManager::AddPlugin(CPlugin* plugin, const wxString& name) {
    auto loaded = std::make_unique<Loaded>();
    loaded->name = name;
    loaded->plugin = plugin;
    state->plugins.push_back(std::move(loaded));
    const Call call(state);
    plugin->OnAttach();
}

bool CPluginManager::BuildToolBars(wxToolBar* toolBar) {
    const Call call(state);
    bool added = false;
    // By index: a plug-in's call may end in a release, which empties the list.
    for (size_t i = 0; i < state->plugins.size() && !state->releaseDue; ++i)
        added = state->plugins[i]->plugin->BuildToolBar(toolBar) || added;
    return added;
}

void CPluginManager::BuildMenus(wxMenuBar* menuBar) {
    const Call call(state);
    for (size_t i = 0; i < state->plugins.size() && !state->releaseDue; ++i)
        state->plugins[i]->plugin->BuildMenu(menuBar);
}

bool CPluginManager::Dispatch(wxEvent& event) {
    const Call call(state);
    // Only the plug-ins' own handlers: an event none of them handles goes back to the caller,
    // not on to the application (the frame passes it on itself).
    for (size_t i = 0; i < state->plugins.size() && !state->releaseDue; ++i) {
        if (state->plugins[i]->plugin->ProcessEventLocally(event))
            return true;
    }
    return false;
}

void CPluginManager::ReleaseAll() {
    state->releaseDue = true;
    if (state->running == 0)
        state->Release();
}

void CPluginManager::SetUnloadModules(bool unload) {
    state->unloadModules = unload;
}

size_t CPluginManager::GetCount() const {
    return state->plugins.size();
}

CPlugin* CPluginManager::GetPlugin(size_t index) const {
    return index < state->plugins.size() ? state->plugins[index]->plugin : nullptr;
}

wxString CPluginManager::GetPluginName(size_t index) const {
    return index < state->plugins.size() ? state->plugins[index]->name : wxString();
}
