// The editor program's command line, and the menu paths that --select names.
#pragma once

#include <wx/string.h>

#include <vector>

class wxMenu;
class wxMenuBar;
class wxMenuItem;

struct CCommandLine {
    wxString pluginsDir; // empty: plugins/ beside the program
    std::vector<wxString> selections;
    bool complete = false;
    int completeLine = 0;   // from 1
    int completeColumn = 0; // from 1
    bool hover = false;     // (batch) the help shown where the mouse rests at L:C
    int hoverLine = 0;
    int hoverColumn = 0;
    bool goTo = false; // (batch) go to the definition of the name at L:C
    int goToLine = 0;
    int goToColumn = 0;
    bool batch = false;
    bool strictInterface = false; // plug-ins get the editor's interface alone
    bool unloadPlugins = false;   // modules unloaded after their release, then a second of events
    double stopAfter = -1;        // seconds (batch); negative: Stop is never pressed
    std::vector<wxString> inputs; // (batch) the answers to input boxes, in order
    bool help = false;
    std::vector<wxString> files;
};

// Reads the arguments (without the program name). False, with a message, when an option is
// unknown, lacks its value or has a malformed one.
bool ParseCommandLine(const std::vector<wxString>& args, CCommandLine& commandLine,
                      wxString& error);

wxString CommandLineUsage();

// A menu label as the user reads it: mnemonic markers and the accelerator removed.
wxString PlainMenuLabel(const wxString& label);

// The menu item at a path of labels joined by "/" ("Tools/Python Script/wordcount"), compared
// without mnemonics and accelerators. A label may itself contain "/": every way of splitting the
// path is tried. Null when no item is there. `menu` receives the menu that holds the item.
wxMenuItem* FindMenuItemByPath(wxMenuBar* menuBar, const wxString& path, wxMenu** menu = nullptr);
