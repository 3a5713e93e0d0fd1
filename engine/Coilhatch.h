// The plug-in object the editor sees. It owns the embedded Python engine (the interpreter, the
// start-up script, the runner) and is a thin facade over the parts that live in their own
// folders: the script list and its settings file (registry/), the Python Script submenu (menu/)
// and the completion hook (completion/). The parts that run scripts are handed this object's
// runner; none of them knows the engine.
#pragma once

#include "completion/CompletionHook.h"
#include "engine/CoreApi.h"
#include "menu/ScriptMenu.h"
#include "plugin/Plugin.h"
#include "registry/ScriptRegistry.h"

#include <wx/string.h>

struct _ts; // the interpreter's PyThreadState

class CCoilhatch : public CPlugin {
public:
    CCoilhatch();
    ~CCoilhatch() override;

    CCoilhatch(const CCoilhatch&) = delete;
    CCoilhatch& operator=(const CCoilhatch&) = delete;

    void HostHook() override;
    void BuildMenu(wxMenuBar* menuBar) override;
    bool BuildToolBar(wxToolBar* toolBar) override;
    void OnAttach() override;
    void OnRelease() override;

    // Runs a script file: its folder goes on sys.path, its module is imported (and reloaded when
    // asked) and its MpMain called. True only when MpMain ran and raised nothing. `title` names
    // the script to the user (as its menu item does); empty: its file's name.
    bool RunScript(const wxString& path, bool reload, const wxString& title = wxString());
    // True while the interpreter runs (attached with wxPython, not yet released).
    bool IsEngineRunning() const { return threadState != nullptr; }

    // The Python Script submenu.
    void RefreshScriptMenu(bool runAutoScripts) { menu.Refresh(runAutoScripts); }
    void OnScriptMenu(wxCommandEvent& event) { menu.OnScriptMenu(event); }
    void OnScriptManagement(wxCommandEvent& event) { menu.OnScriptManagement(event); }

    // Completion.
    void OnCompleteBegin(wxCommandEvent& event) { completion.OnCompleteBegin(event); }
    void OnCompleteEnd(wxCommandEvent& event) { completion.OnCompleteEnd(event); }
    void RunCompletionScript() { completion.RunCompletionScript(); }

    _ts* threadState;    // the main thread state while the lock is released; null = no engine
    bool wxPythonLoaded; // the wxPython core interface table was imported

    ScriptRegistry registry;   // the settings path and the list's life
    ScriptMenu menu;           // the submenu
    CompletionHook completion; // completion requests in Python documents

private:
    bool StartEngine();

    wxDECLARE_EVENT_TABLE();
};

// The command id of the "Script Management" item, drawn when the library is loaded, before the
// event table is built from it.
extern const int scriptManagementId;

// The plug-in's name, as PluginName() returns it.
extern const wchar_t* const pluginNameText;
