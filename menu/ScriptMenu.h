// The "Python Script" submenu of the editor's Tools menu: "Script Management", "Python Console",
// "Run Current Document", "New Script…", "Open Scripts Folder", a separator, one item per
// registered script (with its shortcut), and below a separator of their own the files of the
// scripts folder. Building it runs the scripts marked to run automatically; choosing a script's
// item runs that script.
#pragma once

#include <wx/string.h>
#include <wx/weakref.h>
#include <wx/window.h>

#include <functional>
#include <vector>

class wxCommandEvent;
class wxEvtHandler;
class wxKeyEvent;
class wxMenu;
class wxMenuBar;
class wxMenuEvent;
class wxMenuItem;

// What the submenu needs of the engine that runs scripts.
struct ScriptRunner {
    // True while scripts can run (the interpreter started with wxPython).
    std::function<bool()> engineRunning;
    // Runs a script file (path, reload), named to the user as its menu item names it (the
    // window that offers to stop a long run shows it); a failure has been reported when it
    // returns false.
    std::function<bool(const wxString& path, bool reload, const wxString& title)> runScript;
    // Opens the Python console, or brings it forward; its window, or null when it failed.
    std::function<wxWindow*()> openConsole;
    // Runs the current document's text as a script; a failure has been reported when it
    // returns false.
    std::function<bool()> runCurrentDocument;
    // Saves the script list when the management dialog changed it.
    std::function<void()> saveChanges;
    // Says a message of the plug-in's in the message output.
    std::function<void(const wxString& text)> say;
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
    void OnNewScript(wxCommandEvent& event);
    void OnOpenScriptsFolder(wxCommandEvent& event);
    void OnFolderScript(wxCommandEvent& event);

    // Finds the files of the scripts folder afresh and rebuilds their items (when the Tools
    // menu opens, and after New Script).
    void RefreshFolderScripts();

    // The command ids of the fixed items after "Script Management", drawn for this object.
    const int consoleId;
    const int runDocumentId;
    const int newScriptId;
    const int openFolderId;

    wxMenu* scriptMenu = nullptr; // owned by the Tools menu once appended

    // Shows a folder in the system's file manager; false when none could be started. Tests
    // replace it.
    std::function<bool(const wxString& folder)> showFolder;

private:
    void AppendFixedItems();
    void AppendFolderItems(bool afterScripts);
    void RemoveFolderItems();
    void OnMenuOpen(wxMenuEvent& event);
    // Forgets the submenu when it is gone (a script destroyed the menu bar that held it);
    // false then.
    bool SubmenuThere();
    // A key pressed in the console's window: the submenu's shortcuts (the scripts', Run Current
    // Document's) work there as in the editor's own windows.
    void OnConsoleKey(wxKeyEvent& event);

    wxEvtHandler& commands;
    const int managementId;
    const ScriptRunner runner;

    wxWeakRef<wxMenu> toolsMenu;           // the editor's Tools menu, told when it opens
    wxWeakRef<wxMenu> submenu;             // scriptMenu, as long as it exists
    wxWeakRef<wxWindow> consoleWindow;     // the console's window, whose keys come here first
    std::vector<int> folderIds;            // drawn as needed and kept, each bound once
    std::vector<wxString> folderPaths;     // the file of each folder item, in menu order
    wxMenuItem* folderSeparator = nullptr; // above the folder items, when scripts precede them
};
