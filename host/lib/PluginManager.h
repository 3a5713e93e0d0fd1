// Loads the plug-in modules of a folder and drives their objects through their life:
// PluginName, CreatePlugin, OnAttach, BuildMenu, events, OnRelease, destruction.
#pragma once

#include "plugin/Plugin.h"

#include <wx/string.h>

#include <memory>
#include <vector>

class wxEvent;
class wxMenuBar;
class wxToolBar;

class MP_INTERFACE CPluginManager {
public:
    CPluginManager();
    ~CPluginManager(); // releases and destroys whatever plug-ins are left

    CPluginManager(const CPluginManager&) = delete;
    CPluginManager& operator=(const CPluginManager&) = delete;

    // Loads every module of the folder (*.so) that exports both entry points, creates its
    // plug-in object and attaches it, in file-name order. A module that fails to load is
    // reported in the log and skipped. Returns the number of plug-ins attached.
    int LoadFolder(const wxString& folder);

    // Loads one module; false (and a log message) when it cannot be loaded or lacks an entry point.
    bool LoadModule(const wxString& path);

    // Takes over a plug-in object that did not come from a module (built into the editor, or
    // made by a test) and attaches it.
    void AddPlugin(CPlugin* plugin, const wxString& name);

    void BuildMenus(wxMenuBar* menuBar);
    // True when any plug-in added something to the tool bar.
    bool BuildToolBars(wxToolBar* toolBar);

    // Hands the event to each plug-in object in load order; true when one of them handled it
    // (found a handler that did not skip it).
    bool Dispatch(wxEvent& event);

    // OnRelease on each plug-in, then destroys them, in reverse order. The modules stay mapped
    // until the process ends (toolkit objects they made may outlive their plug-ins), unless
    // SetUnloadModules said otherwise.
    // Called while a plug-in is running (a script it runs closes the main window), the release
    // waits until the plug-in's call returns: a plug-in is never released under its own
    // handler. Nothing is handed to the plug-ins from then on.
    void ReleaseAll();

    // From now on each module is unloaded (dlclose) once its plug-in object is destroyed, as an
    // editor may do; by default the modules stay mapped.
    void SetUnloadModules(bool unload);

    size_t GetCount() const;
    CPlugin* GetPlugin(size_t index) const;
    wxString GetPluginName(size_t index) const;

private:
    struct Loaded;
    struct State;
    class Call;
    // Shared with the calls into plug-ins that are running, so that a release that has to wait
    // happens even when the manager itself is gone by the time the call returns.
    std::shared_ptr<State> state;
};
