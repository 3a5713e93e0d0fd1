#include "menu/ScriptMenu.h"

#include "dialog/ManagePythonScript.h"
#include "dialog/Shortcut.h"
#include "menu/ScriptIcon.h"
#include "plugin/Extensions.h"
#include "registry/ScriptList.h"
#include "registry/ScriptsFolder.h"

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/intl.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/textdlg.h>
#include <wx/utils.h>

#include <exception>
#include <utility>

namespace {

// The label of the item that writes a new script, with its ellipsis: it asks a name first.
wxString NewScriptLabel() {
    return wxGetTranslation(wxString::FromUTF8("New Script\xE2\x80\xA6"));
}

// Appends what the submenu always holds: "Script Management" with its icon, the console and
// the run of the current document (both need Python), New Script and Open Scripts Folder, then a
// separator.
void AppendFixedItemsTo(wxMenu* menu, int managementId, int consoleId, int runDocumentId,
                        int newScriptId, int openFolderId, bool engineRunning) {
    auto* item = new wxMenuItem(menu, managementId, wxGetTranslation("Script Management"),
                                wxEmptyString, wxITEM_NORMAL);
    // The toolkit takes a menu item's bitmap before the item is appended. (Only Windows has a
    // second, "unchecked" bitmap; a normal item has none, so one bitmap is all there is.)
    item->SetBitmap(wxBitmap(script_icon_xpm));
    menu->Append(item);
    menu->Append(consoleId, wxGetTranslation("Python Console"),
                 wxGetTranslation("Opens a Python shell that reaches the editor"), wxITEM_NORMAL)
        ->Enable(engineRunning);
    menu->Append(runDocumentId, wxGetTranslation("Run Current Document") + "\tCtrl+Alt+R",
                 wxGetTranslation("Runs the current document as a Python script"), wxITEM_NORMAL)
        ->Enable(engineRunning);
    menu->Append(newScriptId, NewScriptLabel(),
                 wxGetTranslation("Writes a new script in the scripts folder and opens it"),
                 wxITEM_NORMAL);
    menu->Append(openFolderId, wxGetTranslation("Open Scripts Folder"),
                 wxGetTranslation("Shows the scripts folder in the file manager"), wxITEM_NORMAL);
    menu->AppendSeparator();
}

// The title of a script as its item shows it: its name as a file name, without folder and
// extension ("tools/count.py" is shown as "count"). The Running window names it so too.
wxString ScriptTitle(const wxString& name) {
    wxFileName file;
    file.SetFullName(name);
    const wxString title = file.GetName();
    // The toolkit refuses an empty label ("dir/", ".py", or no name at all): the name is shown
    // as written then, or a blank when there is none.
    if (title.empty())
        return name.empty() ? wxString(" ") : name;
    return title;
}

// The label of a script's item. The toolkit reads "&" in a label as a mnemonic and a tab as the
// start of an accelerator; a script's name must show as it is written and must never take a
// shortcut key from the editor, so both are neutralised.
wxString ScriptItemLabel(const wxString& name) {
    wxString label = ScriptTitle(name);
    label.Replace("&", "&&");
    label.Replace("\t", " ");
    return label;
}

// The file New Script writes: a module with a docstring and an MpMain that uses the current
// document. `name` is put in the docstring only, escaped.
wxString ScriptTemplate(wxString name) {
    name.Replace("\\", "\\\\");
    name.Replace("\"", "\\\"");
    return "\"\"\"" + name +
           ": what the script does, in a line.\n"
           "\n"
           "Tools > Python Script > " +
           name +
           " runs MpMain(); what it prints shows in the Output pane.\n"
           "\"\"\"\n"
           "import MpAPI\n"
           "import wx\n"
           "\n"
           "\n"
           "def MpMain():\n"
           "    editor = MpAPI.CEditorManagement_Get().GetCurrentEditor()\n"
           "    if editor is None:\n"
           "        wx.MessageBox(\"Open a document first.\", __name__)\n"
           "        return\n"
           "    print(\"%d lines, %d characters\" % (editor.GetLineCount(), "
           "editor.GetLength()))\n";
}

// The line of the template, from 0, where the caret waits: the first of MpMain's body.
constexpr int templateBodyLine = 9;

// Puts the caret of the editor that shows the new script at the start of MpMain's body, with
// nothing selected, so that the first key typed adds to the script rather than replacing a line.
// The editor is the current one when it shows the file (or, where the editor does not say which
// file it shows, the text just written).
void PlaceCaretInBody(const wxString& path, const wxString& source) {
    CSyntaxEditor* editor = CEditorManagement::Get()->GetCurrentEditor();
    if (!editor)
        return;
    const wxString shown = DocumentFilePath(editor);
    if (shown.empty() ? editor->GetText() != source : !wxFileName(shown).SameAs(wxFileName(path)))
        return;
    const int position = editor->GetLineIndentPosition(templateBodyLine);
    editor->SetEmptySelection(position);
    editor->EnsureVisibleEnforcePolicy(templateBodyLine);
    editor->EnsureCaretVisible();
}

// Why the name cannot name a script file, or empty when it can.
wxString BadScriptName(const wxString& name) {
    if (name.StartsWith("."))
        return wxGetTranslation("it starts with a dot");
    for (const wxUniChar c : name) {
        if (c == '/' || c == '\\')
            return wxGetTranslation("it holds a folder separator");
        if (c < 0x20 || c == 0x7f)
            return wxGetTranslation("it holds a control character");
    }
    return wxString();
}

void ShowMenuMessage(const wxString& text, long style) {
    wxMessageBox(text, wxGetTranslation("Marrowpad"), wxOK | style);
}

// Told when a command that needs Python is chosen without it.
void ShowNoPython() {
    wxMessageBox(wxGetTranslation("Python could not be started, so Python scripts can "
                                  "neither be managed nor run.\nSee the messages shown "
                                  "when the editor started."),
                 wxGetTranslation("Marrowpad"), wxOK | wxICON_INFORMATION);
}

// A failure of the toolkit (memory, mostly) inside a menu handler is told to the user here; it
// must never reach the editor's event loop.
void ReportMenuFailure(const char* what) {
    try {
        wxMessageBox(wxString::Format(wxGetTranslation("The Python Script menu failed: %s"),
                                      wxString::FromUTF8(what)),
                     wxGetTranslation("Marrowpad"), wxOK | wxICON_ERROR);
    } catch (...) {
        // Nothing is left to tell the user with.
    }
}

// Whether the main window is gone or on its way out (a script closed it).
bool Closing(wxFrame* frame) {
    return !frame || frame->IsBeingDeleted() ||
           (wxTheApp && wxTheApp->IsScheduledForDestruction(frame));
}

// Runs a menu handler's body: whatever it throws is told to the user, never passed on to the
// editor's event loop.
template <class Body> void Guarded(const Body& body) {
    try {
        body();
    } catch (const std::exception& error) {
        ReportMenuFailure(error.what());
    } catch (...) {
        ReportMenuFailure("unknown error");
    }
}

} // namespace

ScriptMenu::ScriptMenu(wxEvtHandler& commands, int managementId, ScriptRunner runner)
    : consoleId(wxNewId()), runDocumentId(wxNewId()), newScriptId(wxNewId()),
      openFolderId(wxNewId()), commands(commands), managementId(managementId),
      runner(std::move(runner)) {
    // In the editor's batch mode nobody looks at the screen: the folder is told in the message
    // output instead.
    showFolder = [this](const wxString& folder) {
        if (!EditorInBatchMode())
            return wxLaunchDefaultApplication(folder);
        if (this->runner.say)
            this->runner.say(wxString::Format(wxGetTranslation("Scripts folder: %s\n"), folder));
        return true;
    };
    commands.Bind(wxEVT_MENU, &ScriptMenu::OnConsole, this, consoleId);
    commands.Bind(wxEVT_MENU, &ScriptMenu::OnRunCurrentDocument, this, runDocumentId);
    commands.Bind(wxEVT_MENU, &ScriptMenu::OnNewScript, this, newScriptId);
    commands.Bind(wxEVT_MENU, &ScriptMenu::OnOpenScriptsFolder, this, openFolderId);
}

ScriptMenu::~ScriptMenu() {
    commands.Unbind(wxEVT_MENU, &ScriptMenu::OnConsole, this, consoleId);
    commands.Unbind(wxEVT_MENU, &ScriptMenu::OnRunCurrentDocument, this, runDocumentId);
    commands.Unbind(wxEVT_MENU, &ScriptMenu::OnNewScript, this, newScriptId);
    commands.Unbind(wxEVT_MENU, &ScriptMenu::OnOpenScriptsFolder, this, openFolderId);
    for (int id : folderIds)
        commands.Unbind(wxEVT_MENU, &ScriptMenu::OnFolderScript, this, id);
    if (toolsMenu)
        toolsMenu->Unbind(wxEVT_MENU_OPEN, &ScriptMenu::OnMenuOpen, this);
    if (consoleWindow)
        consoleWindow->Unbind(wxEVT_CHAR_HOOK, &ScriptMenu::OnConsoleKey, this);
}

void ScriptMenu::AppendFixedItems() {
    AppendFixedItemsTo(scriptMenu, managementId, consoleId, runDocumentId, newScriptId,
                       openFolderId, runner.engineRunning());
}

void ScriptMenu::Build(wxMenuBar* menuBar) {
    Guarded([&] {
        const int toolsIndex =
            menuBar ? menuBar->FindMenu(wxGetTranslation("&Tools")) : wxNOT_FOUND;
        if (toolsIndex == wxNOT_FOUND) {
            wxMessageBox("There is no 'Tools' menu!", wxGetTranslation("Marrowpad"),
                         wxICON_INFORMATION);
            return;
        }
        wxMenu* tools = menuBar->GetMenu(toolsIndex);

        scriptMenu = new wxMenu(0);
        submenu = scriptMenu;
        AppendFixedItems();
        tools->Append(wxID_ANY, wxGetTranslation("Python Script"), scriptMenu, wxEmptyString);
        // The scripts folder's files are found afresh whenever the Tools menu opens.
        if (toolsMenu)
            toolsMenu->Unbind(wxEVT_MENU_OPEN, &ScriptMenu::OnMenuOpen, this);
        toolsMenu = tools;
        tools->Bind(wxEVT_MENU_OPEN, &ScriptMenu::OnMenuOpen, this);
        // Made at the first start, so that the user finds it; a folder that cannot be made is
        // told when New Script or Open Scripts Folder needs it.
        MakeScriptsFolder(ScriptsFolderPath());

        Refresh(true);
    });
}

bool ScriptMenu::SubmenuThere() {
    if (scriptMenu && !submenu) {
        scriptMenu = nullptr;
        folderSeparator = nullptr;
        folderPaths.clear();
    }
    return scriptMenu != nullptr;
}

void ScriptMenu::Refresh(bool runAutoScripts) {
    // Without an interpreter the submenu keeps its fixed items ("Script Management", and the
    // console and the run of the current document, both disabled) and the separator.
    if (!runner.engineRunning() || !SubmenuThere())
        return;

    // Items are removed by the ids they carry themselves, so the items (and handlers) of entries
    // deleted since the last rebuild go as well. Walk a copy: Destroy changes the menu's list.
    const wxMenuItemList items = scriptMenu->GetMenuItems();
    for (wxMenuItem* item : items) {
        commands.Unbind(wxEVT_MENU, &ScriptMenu::OnScriptMenu, this, item->GetId());
        scriptMenu->Destroy(item);
    }
    folderSeparator = nullptr;
    folderPaths.clear();
    AppendFixedItems();

    if (!scriptList)
        return;
    // The count is read again for every entry: an auto-run script runs before the next item is
    // added.
    for (unsigned index = 0; index < scriptList->GetCount(); ++index) {
        const ScriptEntry* entry = scriptList->Get(index);
        if (!entry)
            continue;
        // A shortcut read from the file is judged as the dialog judges one: one that the editor
        // holds (a menu's, or a key of its own such as Ctrl+Space) or an earlier script's item
        // holds, as a hand-edited file may give, stays with its holder.
        wxString label = ScriptItemLabel(ShownScriptName(*entry));
        const wxString shortcut = NormalizedShortcut(entry->shortcut);
        if (!shortcut.empty() &&
            ShortcutHolder(scriptMenu->GetMenuBar(), shortcut, nullptr).empty())
            label += "\t" + shortcut;
        wxMenuItem* item =
            scriptMenu->Append(entry->menuId, label, entry->description, wxITEM_NORMAL);
        // A second BuildMenu may meet ids that are still connected: one handler per id.
        commands.Unbind(wxEVT_MENU, &ScriptMenu::OnScriptMenu, this, entry->menuId);
        commands.Bind(wxEVT_MENU, &ScriptMenu::OnScriptMenu, this, entry->menuId);
        if (entry->autoRun) {
            // Auto-run scripts run once, when the editor builds its menus, never from the menu.
            item->Enable(false);
            if (runAutoScripts) {
                const wxString location = ResolveScriptLocation(entry->location);
                const wxWeakRef<wxMenu> menuAlive(scriptMenu);
                // A failure is reported by the runner; go on.
                runner.runScript(location, false, ScriptTitle(ShownScriptName(*entry)));
                // The script may have closed the editor: once the plug-in is released the list
                // is gone, and with the main window the submenu. No further script runs then.
                wxFrame* editor = CAppManagement::Get()->GetAppWindow();
                if (!scriptList || !menuAlive || !editor || editor->IsBeingDeleted() ||
                    (wxTheApp && wxTheApp->IsScheduledForDestruction(editor)))
                    return;
            }
        }
    }
    AppendFolderItems(scriptList->GetCount() > 0);
}

void ScriptMenu::AppendFolderItems(bool afterScripts) {
    const std::vector<FolderScript> scripts = ListFolderScripts(ScriptsFolderPath(), scriptList);
    if (scripts.empty())
        return;
    if (afterScripts)
        folderSeparator = scriptMenu->AppendSeparator();
    for (size_t i = 0; i < scripts.size(); ++i) {
        if (i == folderIds.size()) {
            folderIds.push_back(wxNewId());
            commands.Bind(wxEVT_MENU, &ScriptMenu::OnFolderScript, this, folderIds.back());
        }
        scriptMenu->Append(folderIds[i], ScriptItemLabel(wxFileName(scripts[i].path).GetFullName()),
                           scripts[i].path, wxITEM_NORMAL);
        folderPaths.push_back(scripts[i].path);
    }
}

void ScriptMenu::RemoveFolderItems() {
    for (size_t i = 0; i < folderPaths.size(); ++i)
        if (wxMenuItem* item = scriptMenu->FindChildItem(folderIds[i]))
            scriptMenu->Destroy(item);
    folderPaths.clear();
    if (folderSeparator)
        scriptMenu->Destroy(folderSeparator);
    folderSeparator = nullptr;
}

void ScriptMenu::RefreshFolderScripts() {
    if (!runner.engineRunning() || !SubmenuThere())
        return;
    RemoveFolderItems();
    AppendFolderItems(scriptList && scriptList->GetCount() > 0);
}

void ScriptMenu::OnMenuOpen(wxMenuEvent& event) {
    event.Skip(); // the editor and other plug-ins may want it too
    Guarded([&] {
        if (toolsMenu && event.GetMenu() == toolsMenu)
            RefreshFolderScripts();
    });
}

void ScriptMenu::OnFolderScript(wxCommandEvent& event) {
    Guarded([&] {
        for (size_t i = 0; i < folderPaths.size(); ++i) {
            if (folderIds[i] == event.GetId()) {
                // The file is where it is edited: every run takes it as it is now.
                const wxString path = folderPaths[i];
                // A failure is reported by the runner.
                runner.runScript(path, true, wxFileName(path).GetName());
                return;
            }
        }
    });
}

namespace {

// The scripts folder, made when missing; empty (and the user told why) when it cannot be made.
wxString ScriptsFolderMade() {
    const wxString folder = ScriptsFolderPath();
    wxString reason;
    if (MakeScriptsFolder(folder, &reason))
        return folder;
    ShowMenuMessage(wxString::Format(wxGetTranslation("The scripts folder \"%s\" could not be "
                                                      "made: %s."),
                                     folder, reason),
                    wxICON_ERROR);
    return wxString();
}

} // namespace

void ScriptMenu::OnNewScript(wxCommandEvent&) {
    Guarded([&] {
        const wxString folder = ScriptsFolderMade();
        if (folder.empty())
            return;
        wxFrame* frame = CAppManagement::Get()->GetAppWindow();
        wxString name = wxGetTextFromUser(wxGetTranslation("Name of the new script:"),
                                          wxGetTranslation("New Script"), wxEmptyString, frame);
        name.Trim(true).Trim(false);
        if (name.EndsWith(".py"))
            name.RemoveLast(3);
        if (name.empty())
            return; // cancelled, or nothing given
        const wxString bad = BadScriptName(name);
        if (!bad.empty()) {
            ShowMenuMessage(wxString::Format(wxGetTranslation("\"%s\" cannot name a script "
                                                              "file: %s."),
                                             name, bad),
                            wxICON_WARNING);
            return;
        }
        const wxString path = wxFileName(folder, name + ".py").GetFullPath();
        if (wxFileName::Exists(path)) {
            ShowMenuMessage(wxString::Format(wxGetTranslation("A script named \"%s\" exists "
                                                              "already:\n%s"),
                                             name, path),
                            wxICON_WARNING);
            return;
        }
        wxFFile file(path, "wx"); // never replaces a file made meanwhile
        const wxString source = ScriptTemplate(name);
        const wxScopedCharBuffer text = source.utf8_str();
        if (!file.IsOpened() || !file.Write(text.data(), text.length()) || !file.Close()) {
            ShowMenuMessage(wxString::Format(wxGetTranslation("The script \"%s\" could not be "
                                                              "written."),
                                             path),
                            wxICON_ERROR);
            return;
        }
        RefreshFolderScripts();
        // The editor opens it (at no line of ours: an editor may select the line it is given),
        // then the caret goes into MpMain.
        if (frame) {
            wxCommandEvent open(wxEVT_EDITOR_OPEN, 0);
            open.SetString(path);
            open.SetInt(-1);
            frame->ProcessWindowEvent(open);
            PlaceCaretInBody(path, source);
        }
    });
}

void ScriptMenu::OnOpenScriptsFolder(wxCommandEvent&) {
    Guarded([&] {
        const wxString folder = ScriptsFolderMade();
        if (folder.empty())
            return;
        if (!showFolder || !showFolder(folder))
            ShowMenuMessage(wxString::Format(wxGetTranslation("The scripts folder is \"%s\".\n"
                                                              "No file manager could be started "
                                                              "to show it."),
                                             folder),
                            wxICON_INFORMATION);
    });
}

void ScriptMenu::OnScriptMenu(wxCommandEvent& event) {
    Guarded([&] {
        if (!scriptList)
            return;
        for (unsigned index = 0; index < scriptList->GetCount(); ++index) {
            const ScriptEntry* entry = scriptList->Get(index);
            if (entry && entry->menuId == event.GetId()) {
                const wxString location = ResolveScriptLocation(entry->location);
                runner.runScript(location, entry->autoReload, ScriptTitle(ShownScriptName(*entry)));
                return;
            }
        }
        // No entry has this id any more (deleted since the last rebuild): nothing to run.
    });
}

void ScriptMenu::OnScriptManagement(wxCommandEvent&) {
    Guarded([&] {
        // Without Python there is no script list to show or edit.
        if (!runner.engineRunning() || !scriptList) {
            ShowNoPython();
            return;
        }

        // The dialog is a child of the main window, which a script's timer may close while the
        // dialog is open: the window then destroys its children, so the dialog lives on the heap
        // (never on this stack) and is let go only if it is still there.
        wxFrame* frame = CAppManagement::Get()->GetAppWindow();
        const wxWeakRef<wxFrame> frameAlive(frame);
        const wxWeakRef<ManagePythonScript> dialog(new ManagePythonScript(
            frame, ID_MANAGEPYTHONSCRIPT, wxGetTranslation("Python Script Management"),
            wxDefaultPosition, wxSize(500, 330), wxDEFAULT_DIALOG_STYLE | wxTAB_TRAVERSAL));
        // The main window closing ends the dialog first.
        const auto endDialog = [&dialog](wxCloseEvent& event) {
            event.Skip();
            if (dialog && dialog->IsModal())
                dialog->EndModal(wxID_CANCEL);
        };
        if (frame)
            frame->Bind(wxEVT_CLOSE_WINDOW, endDialog);
        dialog->ShowModal();
        if (frameAlive)
            frameAlive->Unbind(wxEVT_CLOSE_WINDOW, endDialog);
        if (dialog)
            delete dialog.get();
        // Saved at once: a crash of the editor later loses nothing. Another editor's changes
        // may come in with the save.
        if (runner.saveChanges)
            runner.saveChanges();
        // With the main window the submenu may be gone. The flag stays set once the dialog has
        // changed anything, so every later close rebuilds.
        if (scriptList && scriptList->modified && !Closing(frameAlive))
            Refresh(false);
    });
}

void ScriptMenu::OnConsole(wxCommandEvent&) {
    Guarded([&] {
        if (!runner.engineRunning()) {
            ShowNoPython();
            return;
        }
        wxWindow* window = runner.openConsole();
        // The console is a window of its own, where the editor's menus take no keys.
        if (window && window != consoleWindow.get()) {
            if (consoleWindow)
                consoleWindow->Unbind(wxEVT_CHAR_HOOK, &ScriptMenu::OnConsoleKey, this);
            consoleWindow = window;
            window->Bind(wxEVT_CHAR_HOOK, &ScriptMenu::OnConsoleKey, this);
        }
    });
}

void ScriptMenu::OnConsoleKey(wxKeyEvent& event) {
    wxMenuItem* chosen = nullptr;
    Guarded([&] {
        // Keys without Ctrl or Alt are typed text, except the function keys.
        const wxString pressed = ShortcutText(event.GetModifiers(), event.GetKeyCode());
        if (pressed.empty() || !scriptMenu)
            return;
        for (wxMenuItem* item : scriptMenu->GetMenuItems()) {
            const wxString label = item->GetItemLabel();
            if (item->IsEnabled() && !item->GetSubMenu() && label.Contains("\t") &&
                NormalizedShortcut(label.AfterFirst('\t')) == pressed) {
                chosen = item;
                break;
            }
        }
    });
    if (!chosen) {
        event.Skip(); // the console's own key
        return;
    }
    // As the editor's menus choose it: through the menu, to the editor's frame and the plug-in.
    Guarded([&] { scriptMenu->SendEvent(chosen->GetId()); });
}

void ScriptMenu::OnRunCurrentDocument(wxCommandEvent&) {
    Guarded([&] {
        if (!runner.engineRunning()) {
            ShowNoPython();
            return;
        }
        runner.runCurrentDocument(); // a failure is reported by the runner
    });
}
