// The editor's main frame: documents in tabs, the message output pane below them, the menus,
// and the plug-ins, which receive the menu commands the frame does not handle itself.
#pragma once

#include "host/app/DocumentFile.h"

#include <wx/frame.h>
#include <wx/stc/stc.h>
#include <wx/weakref.h>

#include <map>
#include <memory>
#include <set>

class COutputPane;
class CPluginManager;
namespace host {
class SyntaxEditor;
}
class wxNotebook;
class wxBookCtrlEvent;
class wxSplitterWindow;

class CMainFrame : public wxFrame {
public:
    CMainFrame();
    ~CMainFrame() override;

    // Loads the plug-ins of the folder and lets them build their menus.
    void LoadPlugins(const wxString& folder);
    // OnRelease on each plug-in and their destruction, while the frame and its editors exist.
    void ReleasePlugins();
    CPluginManager& Plugins() { return *plugins; }

    // Opens the file in a tab, or brings its tab forward when it is open already. A file that
    // does not exist yet opens as an empty document that saving creates. Null (after telling
    // the user) when the file cannot be read.
    host::SyntaxEditor* OpenFile(const wxString& path);
    host::SyntaxEditor* NewDocument();
    host::SyntaxEditor* GetCurrentEditor() const;
    // Brings the editor's tab forward.
    void ShowDocument(host::SyntaxEditor* editor);
    size_t GetDocumentCount() const;
    // What the message output pane shows, once what waits for it has reached it.
    wxString GetOutputText() const;
    COutputPane* GetOutputPane() const { return outputPane; }
    // The height of the Output pane (with its title), in pixels; 0 while it is not shown.
    int GetOutputHeight() const;
    // Gives the Output pane that height, as far as the window has room (once it is laid out).
    void SetOutputHeight(int height);
    // Where the editor keeps its layout: the pane's height is read from there now, and written
    // there when the frame closes, if the user moved the sash.
    void UseLayoutFile(const wxString& path);
    // The user's layout file: marrowpad/layout.xml in $XDG_CONFIG_HOME (or ~/.config).
    static wxString DefaultLayoutFile();

    // Starts a completion in the editor as Ctrl+Space does: the plug-ins are asked first, and
    // the editor's own word completion runs when none of them handles it. True when a plug-in
    // handled it (its list may show later).
    bool StartCompletion(host::SyntaxEditor* editor);
    // The document's tab label without the mark of unsaved changes ("new 1" for a new one).
    wxString GetDocumentLabel(host::SyntaxEditor* editor) const;

    // Chooses the menu item at the path as a user's click would. False, with a message, when the
    // path names no enabled item.
    bool SelectMenuPath(const wxString& path, wxString& error);

    // The editor's menus stay its own: taking the menu bar away (a script's SetMenuBar(None))
    // is refused with a warning, since every command, and every way to save, would go with it.
    // Another menu bar may take its place.
    void SetMenuBar(wxMenuBar* menuBar) override;

protected:
    // Menu commands that the frame does not handle go to the plug-ins.
    bool TryAfter(wxEvent& event) override;

private:
    void BuildMenuBar();
    // Sets the sash for the wanted height once the splitter is laid out.
    void ApplyOutputHeight();
    void SaveLayout();
    host::SyntaxEditor* AddEditor(const wxString& path);
    // An editor is being destroyed, by the frame or by anyone else: its tab goes.
    void ForgetEditor(wxWindow* editor);
    int FindDocument(const wxString& path) const;
    host::SyntaxEditor* EditorAt(size_t page) const;
    void UpdateTabLabel(host::SyntaxEditor* editor);
    void UpdateStatus();
    bool SaveEditor(host::SyntaxEditor* editor, bool askForName);
    // Asks about unsaved changes; false when the user cancels.
    bool ConfirmClose(host::SyntaxEditor* editor);
    bool ClosePage(size_t page);
    void SendCompleteEnd(host::SyntaxEditor* editor);

    void OnNew(wxCommandEvent& event);
    void OnOpen(wxCommandEvent& event);
    void OnSave(wxCommandEvent& event);
    void OnSaveAs(wxCommandEvent& event);
    void OnCloseDocument(wxCommandEvent& event);
    void OnQuit(wxCommandEvent& event);
    void OnEditCommand(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);
    // Opens the event's file; a positive int selects that line (from 1) and shows it.
    void OnEditorOpen(wxCommandEvent& event);
    // Selects the line (from 1; past the end: the last) and shows it.
    void SelectLine(host::SyntaxEditor* editor, int lineFromOne);
    // The unsaved document that an untitled traceback speaks of: the current one when it was
    // never saved, else the last such one in front; null when none is open.
    host::SyntaxEditor* UntitledDocument() const;
    // A traceback's line in a document that was never saved: that line of it, selected.
    void ShowUntitledLine(int line);
    int FindDocumentPage(const wxWindow* editor) const;
    void OnClose(wxCloseEvent& event);
    void OnPageChanged(wxBookCtrlEvent& event);
    // A script may destroy the notebook: the frame forgets it, and makes a new one when a
    // document is next opened.
    void OnNotebookDestroyed(wxWindowDestroyEvent& event);
    wxNotebook* EnsureNotebook();
    size_t PageCount() const;
    void OnEditorKeyDown(wxKeyEvent& event);
    void OnOutputKeyDown(wxKeyEvent& event);
    // For a key with Ctrl or Alt, or a function key: chooses the menu item whose shortcut it is;
    // false when it is none's (the control's own key, or typed text).
    bool ChooseShortcutFirst(const wxKeyEvent& event);
    // Chooses the reachable menu item whose shortcut is the key; false when none is.
    bool ChooseShortcut(const wxKeyEvent& event);
    void OnEditorCompletionEnd(wxStyledTextEvent& event);
    void OnEditorUpdateUI(wxStyledTextEvent& event);
    void OnEditorSavePoint(wxStyledTextEvent& event);

    std::unique_ptr<CPluginManager> plugins;
    wxSplitterWindow* splitter = nullptr;
    wxNotebook* notebook = nullptr; // null once destroyed by someone else
    wxWindow* outputPanel = nullptr;
    COutputPane* outputPane = nullptr;
    std::set<const wxWindow*> completionsShown; // editors seen with a list or call tip open
    // How each document's file was encoded, for saving it back the same way.
    std::map<const wxWindow*, document_file::Format> formats;
    int wantedOutputHeight = 0;     // 0: a quarter of the window
    bool outputHeightMoved = false; // by the user, since the layout was read or saved
    bool sashDragged = false;       // since the last end of a move of the sash
    wxString layoutFile;
    wxWeakRef<wxWindow> lastUntitled; // an editor
    int untitledCount = 0;
    bool pluginsReleased = false;
};
