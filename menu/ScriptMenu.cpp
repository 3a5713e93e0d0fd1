#include "menu/ScriptMenu.h"

#include "dialog/ManagePythonScript.h"
#include "host/lib/Services.h"
#include "menu/ScriptIcon.h"
#include "registry/ScriptList.h"

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/intl.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/weakref.h>

#include <exception>
#include <utility>

namespace {

// Appends what the submenu always holds: "Script Management" with its icon, the console and
// the run of the current document (both need Python), then a separator.
void AppendFixedItemsTo(wxMenu* menu, int managementId, int consoleId, int runDocumentId,
                        bool engineRunning) {
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
    menu->AppendSeparator();
}

// The label of a script's item: its name as a file name, without folder and extension
// ("tools/count.py" is shown as "count"). The toolkit reads "&" in a label as a mnemonic and a
// tab as the start of an accelerator; a script's name must show as it is written and must never
// take a shortcut key from the editor, so both are neutralised.
wxString ScriptItemLabel(const wxString& name) {
    wxFileName file;
    file.SetFullName(name);
    wxString label = file.GetName();
    // The toolkit refuses an empty label ("dir/", ".py", or no name at all): the name is shown
    // as written then, or a blank when there is none.
    if (label.empty())
        label = name.empty() ? wxString(" ") : name;
    label.Replace("&", "&&");
    label.Replace("\t", " ");
    return label;
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

} // namespace

ScriptMenu::ScriptMenu(wxEvtHandler& commands, int managementId, ScriptRunner runner)
    : consoleId(wxNewId()), runDocumentId(wxNewId()), commands(commands),
      managementId(managementId), runner(std::move(runner)) {
    commands.Bind(wxEVT_MENU, &ScriptMenu::OnConsole, this, consoleId);
    commands.Bind(wxEVT_MENU, &ScriptMenu::OnRunCurrentDocument, this, runDocumentId);
}

ScriptMenu::~ScriptMenu() {
    commands.Unbind(wxEVT_MENU, &ScriptMenu::OnConsole, this, consoleId);
    commands.Unbind(wxEVT_MENU, &ScriptMenu::OnRunCurrentDocument, this, runDocumentId);
}

void ScriptMenu::AppendFixedItems() {
    AppendFixedItemsTo(scriptMenu, managementId, consoleId, runDocumentId, runner.engineRunning());
}

void ScriptMenu::Build(wxMenuBar* menuBar) {
    try {
        const int toolsIndex =
            menuBar ? menuBar->FindMenu(wxGetTranslation("&Tools")) : wxNOT_FOUND;
        if (toolsIndex == wxNOT_FOUND) {
            wxMessageBox("There is no 'Tools' menu!", wxGetTranslation("Marrowpad"),
                         wxICON_INFORMATION);
            return;
        }
        wxMenu* toolsMenu = menuBar->GetMenu(toolsIndex);

        scriptMenu = new wxMenu(0);
        AppendFixedItems();
        toolsMenu->Append(wxID_ANY, wxGetTranslation("Python Script"), scriptMenu, wxEmptyString);

        Refresh(true);
    } catch (const std::exception& error) {
        ReportMenuFailure(error.what());
    } catch (...) {
        ReportMenuFailure("unknown error");
    }
}

void ScriptMenu::Refresh(bool runAutoScripts) {
    // Without an interpreter the submenu keeps its fixed items ("Script Management", and the
    // console and the run of the current document, both disabled) and the separator.
    if (!runner.engineRunning() || !scriptMenu)
        return;

    // Items are removed by the ids they carry themselves, so the items (and handlers) of entries
    // deleted since the last rebuild go as well. Walk a copy: Destroy changes the menu's list.
    const wxMenuItemList items = scriptMenu->GetMenuItems();
    for (wxMenuItem* item : items) {
        commands.Unbind(wxEVT_MENU, &ScriptMenu::OnScriptMenu, this, item->GetId());
        scriptMenu->Destroy(item);
    }
    AppendFixedItems();

    if (!scriptList)
        return;
    // The count is read again for every entry: an auto-run script runs before the next item is
    // added.
    for (unsigned index = 0; index < scriptList->GetCount(); ++index) {
        const ScriptEntry* entry = scriptList->Get(index);
        if (!entry)
            continue;
        wxMenuItem* item = scriptMenu->Append(entry->menuId, ScriptItemLabel(entry->name),
                                              entry->description, wxITEM_NORMAL);
        // A second BuildMenu may meet ids that are still connected: one handler per id.
        commands.Unbind(wxEVT_MENU, &ScriptMenu::OnScriptMenu, this, entry->menuId);
        commands.Bind(wxEVT_MENU, &ScriptMenu::OnScriptMenu, this, entry->menuId);
        if (entry->autoRun) {
            // Auto-run scripts run once, when the editor builds its menus, never from the menu.
            item->Enable(false);
            if (runAutoScripts) {
                const wxString location = ResolveScriptLocation(entry->location);
                const wxWeakRef<wxMenu> menuAlive(scriptMenu);
                runner.runScript(location, false); // a failure is reported by the runner; go on
                // The script may have closed the editor: once the plug-in is released the list
                // is gone, and with the main window the submenu. No further script runs then.
                wxFrame* editor = CAppManagement::Get()->GetAppWindow();
                if (!scriptList || !menuAlive || !editor || editor->IsBeingDeleted() ||
                    (wxTheApp && wxTheApp->IsScheduledForDestruction(editor)))
                    return;
            }
        }
    }
}

void ScriptMenu::OnScriptMenu(wxCommandEvent& event) {
    try {
        if (!scriptList)
            return;
        for (unsigned index = 0; index < scriptList->GetCount(); ++index) {
            const ScriptEntry* entry = scriptList->Get(index);
            if (entry && entry->menuId == event.GetId()) {
                const wxString location = ResolveScriptLocation(entry->location);
                runner.runScript(location, entry->autoReload);
                return;
            }
        }
        // No entry has this id any more (deleted since the last rebuild): nothing to run.
    } catch (const std::exception& error) {
        ReportMenuFailure(error.what());
    } catch (...) {
        ReportMenuFailure("unknown error");
    }
}

void ScriptMenu::OnScriptManagement(wxCommandEvent&) {
    try {
        // Without Python there is no script list to show or edit.
        if (!runner.engineRunning() || !scriptList) {
            ShowNoPython();
            return;
        }

        ManagePythonScript dialog(CAppManagement::Get()->GetAppWindow(), ID_MANAGEPYTHONSCRIPT,
                                  wxGetTranslation("Python Script Management"), wxDefaultPosition,
                                  wxSize(500, 330), wxDEFAULT_DIALOG_STYLE | wxTAB_TRAVERSAL);
        dialog.ShowModal();
        // Saved at once: a crash of the editor later loses nothing. Another editor's changes
        // may come in with the save.
        if (runner.saveChanges)
            runner.saveChanges();
        // The flag stays set once the dialog has changed anything, so every later close rebuilds.
        if (scriptList && scriptList->modified)
            Refresh(false);
    } catch (const std::exception& error) {
        ReportMenuFailure(error.what());
    } catch (...) {
        ReportMenuFailure("unknown error");
    }
}

void ScriptMenu::OnConsole(wxCommandEvent&) {
    try {
        if (!runner.engineRunning()) {
            ShowNoPython();
            return;
        }
        runner.openConsole();
    } catch (const std::exception& error) {
        ReportMenuFailure(error.what());
    } catch (...) {
        ReportMenuFailure("unknown error");
    }
}

void ScriptMenu::OnRunCurrentDocument(wxCommandEvent&) {
    try {
        if (!runner.engineRunning()) {
            ShowNoPython();
            return;
        }
        runner.runCurrentDocument(); // a failure is reported by the runner
    } catch (const std::exception& error) {
        ReportMenuFailure(error.what());
    } catch (...) {
        ReportMenuFailure("unknown error");
    }
}
