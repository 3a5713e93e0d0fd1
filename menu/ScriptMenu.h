// The "Python Script" submenu of the editor's Tools menu: "Script Management", a separator and
// one item per registered script. Building it runs the scripts marked to run automatically;
// choosing a script's item runs that script.
#pragma once

#include <wx/string.h>

class wxCommandEvent;
class wxEvtHandler;
class wxMenu;
class wxMenuBar;

// The command id of the "Script Management" item. It is drawn while the library is loaded, in the
// same file as the plug-in object's event table, which is built from it.
extern const int scriptManagementId;

// What the submenu needs of the engine that runs scripts.
class ScriptRunner {
public:
    // True while scripts can run (the interpreter started with wxPython).
    virtual bool IsEngineRunning() const = 0;
    // Runs a script file; a failure has been reported to the user when it returns false.
    virtual bool RunScript(const wxString& path, bool reload) = 0;

protected:
    ~ScriptRunner() = default;
};

class ScriptMenu {
public:
    // `commands` is the handler the editor sends menu commands to (the plug-in object); the
    // script items' handlers are bound there.
    ScriptMenu(wxEvtHandler& commands, ScriptRunner& runner);

    ScriptMenu(const ScriptMenu&) = delete;
    ScriptMenu& operator=(const ScriptMenu&) = delete;

    // Appends the submenu to the menu bar's "&Tools" menu and fills it, running the auto-run
    // scripts.
    void Build(wxMenuBar* menuBar);
    // Rebuilds the script items from the script list.
    void Refresh(bool runAutoScripts);

    void OnScriptMenu(wxCommandEvent& event);
    void OnScriptManagement(wxCommandEvent& event);

    wxMenu* scriptMenu = nullptr; // owned by the Tools menu once appended

private:
    wxEvtHandler& commands;
    ScriptRunner& runner;
};
