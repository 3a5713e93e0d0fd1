// The plug-in object: owns the embedded Python engine, the script registry's life, the Python
// Script submenu and the completion hook. Its members are defined in the folder of the subsystem
// they belong to (engine/, registry/, menu/, completion/).
#pragma once

#include "plugin/Plugin.h"

#include <wx/string.h>

class wxMenu;
struct ScriptEntry;
struct wxPyAPI;
struct _ts; // the interpreter's PyThreadState

class CCoilhatch : public CPlugin {
public:
    CCoilhatch();
    ~CCoilhatch() override;

    CCoilhatch(const CCoilhatch&) = delete;
    CCoilhatch& operator=(const CCoilhatch&) = delete;

    void HostHook() override;
    void BuildMenu(wxMenuBar* menuBar) override; // menu/
    bool BuildToolBar(wxToolBar* toolBar) override;
    void OnAttach() override;
    void OnRelease() override;

    // Runs a script file: its folder goes on sys.path, its module is imported (and reloaded when
    // asked) and its MpMain called. True only when MpMain ran and raised nothing.
    bool RunScript(const wxString& path, bool reload);

    // Registry (registry/): the list to and from the settings file.
    void LoadScripts();
    void SaveScripts();

    // The Python Script submenu (menu/).
    void RefreshScriptMenu(bool runAutoScripts);
    void OnScriptMenu(wxCommandEvent& event);
    void OnScriptManagement(wxCommandEvent& event);

    // Completion (completion/).
    void OnCompleteBegin(wxEvent& event);
    void OnCompleteEnd(wxEvent& event);
    void RunCompletionScript();

    // True while the interpreter runs (attached with wxPython, not yet released).
    bool IsEngineRunning() const { return threadState != nullptr; }

    _ts* threadState;          // the main thread state while the lock is released; null = no engine
    bool wxPythonLoaded;       // the wxPython core interface table was imported
    wxString settingsPath;     // full path of the settings file
    wxMenu* scriptMenu;        // the Python Script submenu, owned by the Tools menu once appended
    ScriptEntry* currentEntry; // the entry LoadScripts/SaveScripts is working on

private:
    bool StartEngine();

    wxDECLARE_EVENT_TABLE();
};

// The plug-in's name, as PluginName() returns it.
extern const wchar_t* const pluginNameText;

// The command id of the "Script Management" item, drawn when the library is loaded.
extern const int scriptManagementId;

// wxPython's core interface table; imported on first use.
bool ImportCoreApi();
wxPyAPI* GetCoreApi();
