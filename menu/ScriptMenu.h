// The "Python Script" submenu of the editor's Tools menu: "Script Management", "Python Console",
// "Run Current Document", a separator and one item per registered script. Building it runs the
// scripts marked to run automatically; choosing a script's item runs that script.
#pragma once

#include <wx/string.h>

#include <functional>

class wxCommandEvent;
class wxEvtHandler;
class wxMenu;
class wxMenuBar;

// What the submenu needs of the engine that runs scripts.
struct ScriptRunner {
    // True while scripts can run (the interpreter started with wxPython).
    std::function<bool()> engineRunning;
    // Runs a script file (path, reload); a failure has been reported when it returns false.
    std::function<bool(const wxString& path, bool reload)> runScript;
    // Opens the Python console, or brings it forward.
    std::function<void()> openConsole;
    // Runs the current document's text as a script; a failure has been reported when it
    // returns false.
    std::function<bool()> runCurrentDocument;
    // Saves the script list when the management dialog changed it.
    std::function<void()> saveChanges;
};

class ScriptMenu {
public:
    // `commands` is the handler the editor sends menu commands to (the plug-in object); the
    // script items' handlers are bound there. `managementId` is the command id of the
    // "Script Management" item.
    ScriptMenu(wxEvtHandler& commands, int managementId, ScriptRunner runner);
    ~ScriptMenu();

    ScriptMenu(const ScriptMenu&) = delete;
    ScriptMenu& operator=(const ScriptMenu&) = delete;

    // Appends the submenu to the menu bar's "&Tools" menu and fills it, running the auto-run
    // scripts.
    void Build(wxMenuBar* menuBar);
    // Rebuilds the script items from the script list.
    void Refresh(bool runAutoScripts);

    void OnScriptMenu(wxCommandEvent& event);
    void OnScriptManagement(wxCommandEvent& event);
    void OnConsole(wxCommandEvent& event);
    void OnRunCurrentDocument(wxCommandEvent& event);

    // The command ids of "Python Console" and "Run Current Document", drawn for this object.
    const int consoleId;
    const int runDocumentId;

    wxMenu* scriptMenu = nullptr; // owned by the Tools menu once appended

private:
    void AppendFixedItems();

    wxEvtHandler& commands;
    const int managementId;
    const ScriptRunner runner;
};
