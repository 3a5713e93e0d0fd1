#include "host/app/CommandLine.h"

#include <wx/menu.h>

namespace {

// "L:C" with both numbers from 1.
bool ParsePosition(const wxString& text, int& line, int& column) {
    const wxString lineText = text.BeforeFirst(':');
    const wxString columnText = text.AfterFirst(':');
    if (!text.Contains(":") || lineText.empty() || columnText.empty())
        return false;
    long lineValue = 0;
    long columnValue = 0;
    if (!lineText.ToCLong(&lineValue) || !columnText.ToCLong(&columnValue))
        return false;
    if (lineValue < 1 || columnValue < 1 || lineValue > 100000000 || columnValue > 100000000)
        return false;
    line = static_cast<int>(lineValue);
    column = static_cast<int>(columnValue);
    return true;
}

wxMenuItem* FindInMenu(wxMenu* menu, const wxString& path, wxMenu** holder) {
    for (wxMenuItem* item : menu->GetMenuItems()) {
        if (item->IsSeparator())
            continue;
        const wxString label = PlainMenuLabel(item->GetItemLabel());
        if (label.empty() || !path.StartsWith(label))
            continue;
        if (path.length() == label.length()) {
            if (holder)
                *holder = menu;
            return item;
        }
        if (path[label.length()] == '/' && item->GetSubMenu()) {
            if (wxMenuItem* found =
                    FindInMenu(item->GetSubMenu(), path.Mid(label.length() + 1), holder))
                return found;
        }
    }
    return nullptr;
}

} // namespace

bool ParseCommandLine(const std::vector<wxString>& args, CCommandLine& commandLine,
                      wxString& error) {
    commandLine = CCommandLine();
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const wxString& arg = args[i];
        if (optionsEnded || arg == "-" || !arg.StartsWith("-")) {
            commandLine.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        wxString name = arg;
        wxString value;
        bool hasValue = false;
        if (arg.StartsWith("--") && arg.Contains("=")) {
            name = arg.BeforeFirst('=');
            value = arg.AfterFirst('=');
            hasValue = true;
        }
        const bool takesValue = name == "--plugins-dir" || name == "--select" ||
                                name == "--complete" || name == "--stop-after" ||
                                name == "--input" || name == "--goto" || name == "--hover";
        if (takesValue && !hasValue) {
            if (i + 1 >= args.size()) {
                error = wxString::Format("option %s needs a value", name);
                return false;
            }
            value = args[++i];
        } else if (!takesValue && hasValue) {
            error = wxString::Format("option %s takes no value", name);
            return false;
        }

        if (name == "--plugins-dir") {
            if (value.empty()) {
                error = "option --plugins-dir needs a folder";
                return false;
            }
            commandLine.pluginsDir = value;
        } else if (name == "--select") {
            if (value.empty()) {
                error = "option --select needs a menu path";
                return false;
            }
            commandLine.selections.push_back(value);
        } else if (name == "--complete") {
            if (!ParsePosition(value, commandLine.completeLine, commandLine.completeColumn)) {
                error = wxString::Format(
                    "option --complete needs LINE:COLUMN, both from 1 (got \"%s\")", value);
                return false;
            }
            commandLine.complete = true;
        } else if (name == "--goto" || name == "--hover") {
            const bool goTo = name == "--goto";
            if (!ParsePosition(value, goTo ? commandLine.goToLine : commandLine.hoverLine,
                               goTo ? commandLine.goToColumn : commandLine.hoverColumn)) {
                error = wxString::Format("option %s needs LINE:COLUMN, both from 1 (got \"%s\")",
                                         name, value);
                return false;
            }
            (goTo ? commandLine.goTo : commandLine.hover) = true;
        } else if (name == "--stop-after") {
            double seconds = -1;
            if (!value.ToCDouble(&seconds) || !(seconds >= 0 && seconds <= 1e6)) {
                error = wxString::Format(
                    "option --stop-after needs a number of seconds, 0 or more (got \"%s\")", value);
                return false;
            }
            commandLine.stopAfter = seconds;
        } else if (name == "--input") {
            commandLine.inputs.push_back(value); // an empty answer is an answer too
        } else if (name == "--batch") {
            commandLine.batch = true;
        } else if (name == "--strict-interface") {
            commandLine.strictInterface = true;
        } else if (name == "--unload-plugins") {
            commandLine.unloadPlugins = true;
        } else if (name == "--help" || name == "-h") {
            commandLine.help = true;
        } else {
            error = wxString::Format("unknown option %s", name);
            return false;
        }
    }
    return true;
}

wxString CommandLineUsage() {
    return "Usage: marrowpad [OPTIONS] [FILE...]\n"
           "  --plugins-dir DIR  the plug-ins folder; default: plugins/ beside the program\n"
           "  --select PATH      once the plug-ins have built their menus, choose the menu item "
           "at\n"
           "                     PATH, labels joined by \"/\" without mnemonics, e.g.\n"
           "                     \"Tools/Python Script/wordcount\"; may be repeated\n"
           "  --complete L:C     once the selections are made, put the caret of the current\n"
           "                     document at line L, column C (both from 1) and start a\n"
           "                     completion there, as Ctrl+Space does; batch mode waits up to\n"
           "                     10 s for a plug-in's answer\n"
           "  --hover L:C        (batch) after the completion, rest the mouse on line L, column\n"
           "                     C and print the help a plug-in shows there: [hover] FIRST LINE\n"
           "  --goto L:C         (batch) last, go to the definition of the name at line L,\n"
           "                     column C (as F12 does) and print [goto] PATH:LINE\n"
           "  --batch            no event loop for a person: make the selections and the\n"
           "                     completion, print [diagnostic] LINE:COLUMN: MESSAGE for each\n"
           "                     marker a plug-in shows in the current document, then release\n"
           "                     the plug-ins and exit; the exit status is 1 when a script or\n"
           "                     document run chosen by --select failed (a traceback, no\n"
           "                     module, no MpMain), else 0\n"
           "  --stop-after S     (batch) press Stop once a script's Running window has been\n"
           "                     up S seconds (it appears after about a second of running)\n"
           "  --input TEXT       (batch) the answer to the next input box; repeatable, in\n"
           "                     order; none left: Cancel\n"
           "  --strict-interface offer plug-ins the editor's interface alone: every run-time\n"
           "                     extension is refused, as by an editor that has none. Plug-ins\n"
           "                     then cannot learn a document's file (Run Current Document\n"
           "                     runs it as an unsaved text; completion and F12 do not see\n"
           "                     the modules beside it), show their output before a running\n"
           "                     script returns, read the settings file's sections as they\n"
           "                     stand, or tell batch mode of their pending answers\n"
           "  --unload-plugins   unload each plug-in's module after its release (as an editor\n"
           "                     may), then handle the events of one more second\n"
           "  --help             show this text\n";
}

wxString PlainMenuLabel(const wxString& label) {
    return wxMenuItem::GetLabelText(label);
}

wxMenuItem* FindMenuItemByPath(wxMenuBar* menuBar, const wxString& path, wxMenu** menu) {
    if (!menuBar)
        return nullptr;
    for (size_t i = 0; i < menuBar->GetMenuCount(); ++i) {
        const wxString title = PlainMenuLabel(menuBar->GetMenuLabel(i));
        if (title.empty() || path.length() <= title.length() + 1 || !path.StartsWith(title) ||
            path[title.length()] != '/')
            continue;
        if (wxMenuItem* found = FindInMenu(menuBar->GetMenu(i), path.Mid(title.length() + 1), menu))
            return found;
    }
    return nullptr;
}
