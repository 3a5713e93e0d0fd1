#include "host/app/MainFrame.h"

#include "host/app/CommandLine.h"
#include "host/app/DocumentFile.h"
#include "host/app/OutputPane.h"
#include "host/lib/PluginManager.h"
#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/splitter.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <utility>

namespace {

const char* const appName = "Marrowpad";

// The pane's height in the layout file.
const char* const outputHeightKey = "/Marrowpad/Layout/OutputHeight";
// Neither the documents nor the pane get less.
constexpr int minimumPaneHeight = 60;

wxString AbsolutePath(const wxString& path) {
    wxFileName name(path);
    name.MakeAbsolute();
    name.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_TILDE | wxPATH_NORM_ABSOLUTE);
    return name.GetFullPath();
}

// Whether the user could reach the item: it and every menu above it are enabled.
bool IsReachable(wxMenuBar* menuBar, wxMenuItem* item) {
    if (!item->IsEnabled() || item->IsSeparator() || item->GetSubMenu())
        return false;
    wxMenu* menu = item->GetMenu();
    while (menu && menu->GetParent()) {
        wxMenu* parent = menu->GetParent();
        wxMenuItem* holder = nullptr;
        for (wxMenuItem* candidate : parent->GetMenuItems())
            if (candidate->GetSubMenu() == menu)
                holder = candidate;
        if (!holder || !holder->IsEnabled())
            return false;
        menu = parent;
    }
    for (size_t i = 0; i < menuBar->GetMenuCount(); ++i)
        if (menuBar->GetMenu(i) == menu)
            return menuBar->IsEnabledTop(i);
    return false;
}

// GTK 3 shows the images of menu items only when the desktop's settings ask for them, and few
// do: the editor asks for them itself, so that the bitmaps plug-ins give their items show. The
// setting is deprecated in GTK 3 but still honoured. It is reached through the symbols of the
// GTK that the toolkit has loaded, so the editor needs no GTK headers of its own.
void ShowMenuImages() {
    using GetSettings = void* (*)();
    using SetProperties = void (*)(void*, const char*, ...);
    const auto getSettings =
        reinterpret_cast<GetSettings>(dlsym(RTLD_DEFAULT, "gtk_settings_get_default"));
    const auto setProperties = reinterpret_cast<SetProperties>(dlsym(RTLD_DEFAULT, "g_object_set"));
    void* settings = getSettings ? getSettings() : nullptr;
    if (settings && setProperties)
        setProperties(settings, "gtk-menu-images", 1, static_cast<void*>(nullptr));
}

} // namespace

CMainFrame::CMainFrame()
    : wxFrame(nullptr, wxID_ANY, appName, wxDefaultPosition, wxSize(900, 640)),
      plugins(std::make_unique<CPluginManager>()) {
    ShowMenuImages();
    BuildMenuBar();
    CreateStatusBar();

    splitter = new wxSplitterWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                    wxSP_LIVE_UPDATE | wxSP_3DSASH);
    auto* outputPanel = new wxPanel(splitter);
    this->outputPanel = outputPanel;
    auto* outputSizer = new wxBoxSizer(wxVERTICAL);
    // The title, and at its right, while output waits below the view, a button that goes there.
    auto* header = new wxBoxSizer(wxHORIZONTAL);
    auto* title = new wxStaticText(outputPanel, wxID_ANY, "Output");
    auto* marker =
        new wxButton(outputPanel, wxID_ANY, wxString::FromUTF8("New output below \xE2\x96\xBC"),
                     wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT | wxBORDER_NONE);
    marker->SetToolTip("Show the output that came while you were reading above it");
    marker->SetName("newOutputMarker");
    // The row keeps the button's height, so that the pane does not move when it shows.
    title->SetMinSize(wxSize(-1, marker->GetBestSize().y));
    header->Add(title, 0, wxLEFT | wxALIGN_CENTER_VERTICAL, 4);
    header->AddStretchSpacer();
    header->Add(marker, 0, wxRIGHT | wxALIGN_CENTER_VERTICAL, 4);
    outputSizer->Add(header, 0, wxEXPAND | wxTOP, 2);
    // The pane shows what is new, joined, whenever the editor is free.
    outputPane = new COutputPane(outputPanel, host::GetMessageOutput(0));
    outputPane->SetNewOutputMarker(marker);
    outputPane->goToUntitled = [this](int line) { ShowUntitledLine(line); };
    // The pane is a styled text control too: the menus' shortcuts come before its own keys.
    outputPane->Bind(wxEVT_KEY_DOWN, &CMainFrame::OnOutputKeyDown, this);
    outputSizer->Add(outputPane, 1, wxEXPAND | wxALL, 2);
    outputPanel->SetSizer(outputSizer);

    splitter->SetMinimumPaneSize(minimumPaneHeight);
    // A taller window gives the documents the room; the pane keeps its height.
    splitter->SetSashGravity(1.0);
    EnsureNotebook();
    // The pane's height follows the splitter's size, after the splitter has handled it: a quarter
    // of the window until a height is asked for or the user moves the sash, and then that height
    // as far as the window has room. So the height comes back whatever sizes the window passes
    // through on its way (a window manager may show it smaller first).
    splitter->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        CallAfter([this] { ApplyOutputHeight(); });
    });
    // The user drags the sash: the splitter tells of each step before the end.
    splitter->Bind(wxEVT_SPLITTER_SASH_POS_CHANGING, [this](wxSplitterEvent& event) {
        event.Skip();
        sashDragged = true;
    });
    splitter->Bind(wxEVT_SPLITTER_SASH_POS_CHANGED, [this](wxSplitterEvent& event) {
        event.Skip();
        // The splitter says "changed" too when it moves the sash for a new size of its own: only
        // the end of the user's drag gives the pane the height to keep.
        if (!std::exchange(sashDragged, false))
            return;
        const int total = splitter->GetClientSize().y - splitter->GetSashSize();
        if (event.GetSashPosition() > 0 && event.GetSashPosition() < total) {
            wantedOutputHeight = total - event.GetSashPosition();
            outputHeightMoved = true;
        }
    });

    host::SetAppWindow(this);
    host::SetCurrentEditorProvider([this] { return GetCurrentEditor(); });

    Bind(wxEVT_MENU, &CMainFrame::OnNew, this, wxID_NEW);
    Bind(wxEVT_MENU, &CMainFrame::OnOpen, this, wxID_OPEN);
    Bind(wxEVT_MENU, &CMainFrame::OnSave, this, wxID_SAVE);
    Bind(wxEVT_MENU, &CMainFrame::OnSaveAs, this, wxID_SAVEAS);
    Bind(wxEVT_MENU, &CMainFrame::OnCloseDocument, this, wxID_CLOSE);
    Bind(wxEVT_MENU, &CMainFrame::OnQuit, this, wxID_EXIT);
    for (int id : {wxID_UNDO, wxID_REDO, wxID_CUT, wxID_COPY, wxID_PASTE, wxID_SELECTALL})
        Bind(wxEVT_MENU, &CMainFrame::OnEditCommand, this, id);
    Bind(wxEVT_MENU, &CMainFrame::OnAbout, this, wxID_ABOUT);
    Bind(wxEVT_EDITOR_OPEN, &CMainFrame::OnEditorOpen, this);
    Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
}

CMainFrame::~CMainFrame() {
    SaveLayout();
    ReleasePlugins();
    plugins.reset();
    // The editors go while the frame is whole, since an editor's end comes back to the frame;
    // each tab is removed before its editor is deleted.
    if (notebook) {
        while (notebook->GetPageCount() > 0)
            notebook->DeletePage(notebook->GetPageCount() - 1);
        // The frame is going: the notebook's end no longer concerns it.
        notebook->Unbind(wxEVT_DESTROY, &CMainFrame::OnNotebookDestroyed, this);
    }
    host::SetCurrentEditorProvider(nullptr);
    if (CAppManagement::Get()->GetAppWindow() == this)
        host::SetAppWindow(nullptr);
}

int CMainFrame::GetOutputHeight() const {
    return splitter->IsSplit() ? outputPanel->GetSize().y : 0;
}

void CMainFrame::SetOutputHeight(int height) {
    wantedOutputHeight = height;
    ApplyOutputHeight();
}

void CMainFrame::ApplyOutputHeight() {
    const int total = splitter->GetClientSize().y - splitter->GetSashSize();
    if (!splitter->IsSplit() || total < 3 * minimumPaneHeight)
        return; // not laid out yet: the first real size comes back here
    // A quarter of the window at first; a remembered height as far as the window has room.
    const int wanted = wantedOutputHeight > 0 ? wantedOutputHeight : total / 4;
    const int height = std::clamp(wanted, minimumPaneHeight, total - minimumPaneHeight);
    if (splitter->GetSashPosition() != total - height)
        splitter->SetSashPosition(total - height);
}

void CMainFrame::UseLayoutFile(const wxString& path) {
    layoutFile = path;
    if (!wxFileName::FileExists(path))
        return;
    host::Settings settings(path);
    const int height = settings.ReadInt(outputHeightKey, 0);
    if (height > 0)
        SetOutputHeight(height);
}

wxString CMainFrame::DefaultLayoutFile() {
    wxString folder;
    if (!wxGetEnv("XDG_CONFIG_HOME", &folder) || !wxFileName(folder).IsAbsolute())
        folder = wxGetHomeDir() + "/.config";
    return folder + "/marrowpad/layout.xml";
}

void CMainFrame::SaveLayout() {
    // Only a height the user chose is kept: the editor writes nothing it was not asked to.
    if (layoutFile.empty() || !outputHeightMoved)
        return;
    outputHeightMoved = false;
    const wxFileName file(layoutFile);
    if (!wxFileName::DirExists(file.GetPath()))
        wxFileName::Mkdir(file.GetPath(), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    host::Settings settings(layoutFile);
    settings.Write(outputHeightKey, wantedOutputHeight);
    if (!settings.Save())
        wxLogWarning("The window's layout was not saved: %s", settings.GetLastError());
}

void CMainFrame::BuildMenuBar() {
    auto* fileMenu = new wxMenu;
    fileMenu->Append(wxID_NEW, "&New\tCtrl+N");
    fileMenu->Append(wxID_OPEN, "&Open...\tCtrl+O");
    fileMenu->Append(wxID_SAVE, "&Save\tCtrl+S");
    fileMenu->Append(wxID_SAVEAS, "Save &As...\tCtrl+Shift+S");
    fileMenu->Append(wxID_CLOSE, "&Close\tCtrl+W");
    fileMenu->AppendSeparator();
    fileMenu->Append(wxID_EXIT, "&Quit\tCtrl+Q");

    auto* editMenu = new wxMenu;
    editMenu->Append(wxID_UNDO, "&Undo\tCtrl+Z");
    editMenu->Append(wxID_REDO, "&Redo\tCtrl+Y");
    editMenu->AppendSeparator();
    editMenu->Append(wxID_CUT, "Cu&t\tCtrl+X");
    editMenu->Append(wxID_COPY, "&Copy\tCtrl+C");
    editMenu->Append(wxID_PASTE, "&Paste\tCtrl+V");
    editMenu->AppendSeparator();
    editMenu->Append(wxID_SELECTALL, "Select &All\tCtrl+A");

    auto* helpMenu = new wxMenu;
    helpMenu->Append(wxID_ABOUT, "&About");

    auto* menuBar = new wxMenuBar;
    menuBar->Append(fileMenu, "&File");
    menuBar->Append(editMenu, "&Edit");
    menuBar->Append(new wxMenu, "&Tools"); // filled by the plug-ins
    menuBar->Append(helpMenu, "&Help");
    SetMenuBar(menuBar);
}

void CMainFrame::LoadPlugins(const wxString& folder) {
    if (!wxDirExists(folder)) {
        wxLogWarning("The plug-ins folder \"%s\" does not exist; no plug-ins are loaded.", folder);
        return;
    }
    const int count = plugins->LoadFolder(folder);
    wxLogVerbose("%d plug-in(s) attached from \"%s\".", count, folder);
    plugins->BuildMenus(GetMenuBar());
}

void CMainFrame::ReleasePlugins() {
    if (pluginsReleased)
        return;
    pluginsReleased = true;
    plugins->ReleaseAll();
    // Text that plug-in threads queued still reaches the pane and standard output.
    host::GetMessageOutput(0)->DeliverPending();
}

bool CMainFrame::TryAfter(wxEvent& event) {
    const wxEventType type = event.GetEventType();
    if (!pluginsReleased && (type == wxEVT_MENU || type == wxEVT_UPDATE_UI) &&
        plugins->Dispatch(event))
        return true;
    return wxFrame::TryAfter(event);
}

wxNotebook* CMainFrame::EnsureNotebook() {
    if (notebook)
        return notebook;
    notebook = new wxNotebook(splitter, wxID_ANY);
    notebook->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, &CMainFrame::OnPageChanged, this);
    notebook->Bind(wxEVT_DESTROY, &CMainFrame::OnNotebookDestroyed, this);
    if (splitter->IsSplit())
        splitter->ReplaceWindow(splitter->GetWindow1(), notebook);
    else
        splitter->SplitHorizontally(notebook, outputPanel, -170);
    return notebook;
}

void CMainFrame::OnNotebookDestroyed(wxWindowDestroyEvent& event) {
    event.Skip();
    if (event.GetEventObject() == notebook) {
        notebook = nullptr;
        completionsShown.clear();
    }
}

size_t CMainFrame::PageCount() const {
    return notebook ? notebook->GetPageCount() : 0;
}

host::SyntaxEditor* CMainFrame::EditorAt(size_t page) const {
    if (page >= PageCount())
        return nullptr;
    return dynamic_cast<host::SyntaxEditor*>(notebook->GetPage(page));
}

host::SyntaxEditor* CMainFrame::GetCurrentEditor() const {
    const int page = notebook ? notebook->GetSelection() : wxNOT_FOUND;
    return page == wxNOT_FOUND ? nullptr : EditorAt(static_cast<size_t>(page));
}

void CMainFrame::ShowDocument(host::SyntaxEditor* editor) {
    const int page = notebook ? notebook->FindPage(editor) : wxNOT_FOUND;
    if (page != wxNOT_FOUND)
        notebook->SetSelection(static_cast<size_t>(page));
    UpdateStatus();
}

wxString CMainFrame::GetOutputText() const {
    outputPane->ShowPending();
    return outputPane->GetText();
}

size_t CMainFrame::GetDocumentCount() const {
    return PageCount();
}

int CMainFrame::FindDocument(const wxString& path) const {
    const wxFileName wanted(path);
    for (size_t i = 0; i < PageCount(); ++i) {
        host::SyntaxEditor* editor = EditorAt(i);
        if (editor && !editor->GetFilePath().empty() &&
            wxFileName(editor->GetFilePath()).SameAs(wanted))
            return static_cast<int>(i);
    }
    return wxNOT_FOUND;
}

host::SyntaxEditor* CMainFrame::AddEditor(const wxString& path) {
    auto* editor = new host::SyntaxEditor(EnsureNotebook());
    editor->SetFilePath(path);
    editor->SetLexerForFile(path);
    editor->Bind(wxEVT_KEY_DOWN, &CMainFrame::OnEditorKeyDown, this);
    editor->Bind(wxEVT_STC_AUTOCOMP_COMPLETED, &CMainFrame::OnEditorCompletionEnd, this);
    editor->Bind(wxEVT_STC_AUTOCOMP_CANCELLED, &CMainFrame::OnEditorCompletionEnd, this);
    editor->Bind(wxEVT_STC_CALLTIP_CLICK, &CMainFrame::OnEditorCompletionEnd, this);
    editor->Bind(wxEVT_STC_UPDATEUI, &CMainFrame::OnEditorUpdateUI, this);
    editor->Bind(wxEVT_STC_SAVEPOINTREACHED, &CMainFrame::OnEditorSavePoint, this);
    editor->Bind(wxEVT_STC_SAVEPOINTLEFT, &CMainFrame::OnEditorSavePoint, this);
    // A call tip has no notification of its own when it closes, and a list closed by a program
    // sends none either: notice the end when idle.
    editor->Bind(wxEVT_IDLE, [this, editor](wxIdleEvent& event) {
        event.Skip();
        const bool marked = completionsShown.count(editor) != 0;
        const bool shown = editor->AutoCompActive() || editor->CallTipActive();
        if (marked && !shown)
            SendCompleteEnd(editor);
        else if (!marked && shown)
            completionsShown.insert(editor);
    });
    // A script may destroy an editor itself: its tab goes with it, so that nothing reaches the
    // control afterwards. The editors the frame deletes are no pages any more by then.
    editor->Bind(wxEVT_DESTROY, [this, editor](wxWindowDestroyEvent& event) {
        event.Skip();
        if (event.GetEventObject() == editor) {
            formats.erase(editor);
            ForgetEditor(editor);
        }
    });
    const wxString label =
        path.empty() ? wxString::Format("new %d", ++untitledCount) : wxFileName(path).GetFullName();
    notebook->AddPage(editor, label, true);
    return editor;
}

void CMainFrame::ForgetEditor(wxWindow* editor) {
    completionsShown.erase(editor);
    const int page = notebook ? notebook->FindPage(editor) : wxNOT_FOUND;
    if (page == wxNOT_FOUND)
        return;
    notebook->RemovePage(static_cast<size_t>(page));
    UpdateStatus();
}

host::SyntaxEditor* CMainFrame::NewDocument() {
    host::SyntaxEditor* editor = AddEditor(wxString());
    editor->SetFocus();
    return editor;
}

host::SyntaxEditor* CMainFrame::OpenFile(const wxString& fileName) {
    if (fileName.empty()) {
        wxLogWarning("No file name given to open.");
        return nullptr;
    }
    const wxString path = AbsolutePath(fileName);
    const int open = FindDocument(path);
    if (open != wxNOT_FOUND) {
        notebook->SetSelection(static_cast<size_t>(open));
        return EditorAt(static_cast<size_t>(open));
    }
    wxString text;
    document_file::Format format;
    if (wxFileName::Exists(path)) {
        wxString reason;
        if (wxDirExists(path) || !document_file::Read(path, text, format, reason)) {
            wxMessageBox(wxString::Format("Cannot open \"%s\": it is a folder, a binary file "
                                          "or cannot be read.",
                                          path),
                         appName, wxOK | wxICON_ERROR, this);
            return nullptr;
        }
    }
    host::SyntaxEditor* editor = AddEditor(path);
    formats[editor] = format;
    editor->SetEOLMode(format.eolMode);
    editor->SetText(text);
    editor->EmptyUndoBuffer();
    editor->SetSavePoint();
    editor->GotoPos(0);
    UpdateTabLabel(editor);
    editor->SetFocus();
    return editor;
}

wxString CMainFrame::GetDocumentLabel(host::SyntaxEditor* editor) const {
    const int page = notebook ? notebook->FindPage(editor) : wxNOT_FOUND;
    return page == wxNOT_FOUND ? wxString() : notebook->GetPageText(page).AfterLast('*');
}

void CMainFrame::UpdateTabLabel(host::SyntaxEditor* editor) {
    const int page = notebook ? notebook->FindPage(editor) : wxNOT_FOUND;
    if (page == wxNOT_FOUND)
        return;
    wxString label = editor->GetFilePath().empty()
                         ? notebook->GetPageText(page).AfterLast('*')
                         : wxFileName(editor->GetFilePath()).GetFullName();
    if (editor->GetModify())
        label = "*" + label;
    if (notebook->GetPageText(page) != label)
        notebook->SetPageText(page, label);
}

void CMainFrame::UpdateStatus() {
    host::SyntaxEditor* editor = GetCurrentEditor();
    // The unsaved document last in front is the one an untitled traceback speaks of.
    if (editor && editor->GetFilePath().empty())
        lastUntitled = editor;
    if (!GetStatusBar())
        return;
    if (!editor) {
        SetStatusText(wxString());
        return;
    }
    const int pos = editor->GetCurrentPos();
    const int line = editor->LineFromPosition(pos);
    SetStatusText(wxString::Format(
        "%s%s    Ln %d, Col %d",
        editor->GetFilePath().empty() ? wxString("(untitled)") : editor->GetFilePath(),
        editor->GetReadOnly() ? " (read-only)" : "", line + 1, editor->GetColumn(pos) + 1));
}

bool CMainFrame::SaveEditor(host::SyntaxEditor* editor, bool askForName) {
    wxString path = editor->GetFilePath();
    if (path.empty() || askForName) {
        wxFileDialog dialog(
            this, "Save As", wxFileName(path).GetPath(), wxFileName(path).GetFullName(),
            "All files (*)|*|Python files (*.py)|*.py", wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
        if (dialog.ShowModal() != wxID_OK || dialog.GetPath().empty())
            return false;
        path = dialog.GetPath();
    }
    // The bytes the control holds, in the encoding the file was read in; written beside the
    // file and renamed over it, so a failed save leaves the old file whole.
    const wxCharBuffer text = editor->GetTextRaw();
    const auto known = formats.find(editor);
    const document_file::Format format =
        known == formats.end() ? document_file::Format() : known->second;
    std::string bytes;
    wxString reason;
    if (!document_file::Encode(std::string(text.data(), text.length()), format, bytes, reason)) {
        wxMessageBox(wxString::Format("Cannot save \"%s\": %s. Nothing was written.", path, reason),
                     appName, wxOK | wxICON_ERROR, this);
        return false;
    }
    if (!document_file::Write(path, bytes, reason)) {
        wxMessageBox(wxString::Format("Cannot save \"%s\": %s. The file on disk is as it was.",
                                      path, reason),
                     appName, wxOK | wxICON_ERROR, this);
        return false;
    }
    if (path != editor->GetFilePath()) {
        editor->SetFilePath(path);
        editor->SetLexerForFile(path);
    }
    editor->SetSavePoint();
    UpdateTabLabel(editor);
    UpdateStatus();
    return true;
}

bool CMainFrame::ConfirmClose(host::SyntaxEditor* editor) {
    if (!editor->GetModify())
        return true;
    const int page = notebook ? notebook->FindPage(editor) : wxNOT_FOUND;
    if (page != wxNOT_FOUND)
        notebook->SetSelection(static_cast<size_t>(page));
    const wxString name = editor->GetFilePath().empty() && page != wxNOT_FOUND
                              ? notebook->GetPageText(page).AfterLast('*')
                              : wxFileName(editor->GetFilePath()).GetFullName();
    wxMessageDialog dialog(this, wxString::Format("Save changes to \"%s\"?", name), appName,
                           wxYES_NO | wxCANCEL | wxICON_QUESTION);
    switch (dialog.ShowModal()) {
    case wxID_YES:
        return SaveEditor(editor, false);
    case wxID_NO:
        return true;
    default: // cancelled, or answered without a choice: keep the document
        return false;
    }
}

bool CMainFrame::ClosePage(size_t page) {
    host::SyntaxEditor* editor = EditorAt(page);
    if (editor && !ConfirmClose(editor))
        return false;
    completionsShown.erase(editor);
    if (notebook)
        notebook->DeletePage(page);
    UpdateStatus();
    return true;
}

bool CMainFrame::StartCompletion(host::SyntaxEditor* editor) {
    if (!editor)
        return false;
    wxCommandEvent event(wxEVT_EDITOR_COMPLETEBEGIN, editor->GetId());
    event.SetEventObject(editor);
    if (!pluginsReleased && plugins->Dispatch(event))
        return true;
    editor->ShowWordCompletion();
    return false;
}

void CMainFrame::SendCompleteEnd(host::SyntaxEditor* editor) {
    completionsShown.erase(editor);
    if (pluginsReleased)
        return;
    wxCommandEvent event(wxEVT_EDITOR_COMPLETEEND, editor->GetId());
    event.SetEventObject(editor);
    plugins->Dispatch(event);
    // A call tip may outlive the list (or a new completion may have begun): its end comes later.
    if (editor->AutoCompActive() || editor->CallTipActive())
        completionsShown.insert(editor);
}

void CMainFrame::SetMenuBar(wxMenuBar* menuBar) {
    if (!menuBar && GetMenuBar()) {
        wxLogWarning("The main window keeps its menu bar: without it no command could be chosen.");
        return;
    }
    wxFrame::SetMenuBar(menuBar);
}

bool CMainFrame::SelectMenuPath(const wxString& path, wxString& error) {
    wxMenuBar* menuBar = GetMenuBar();
    if (!menuBar) {
        error =
            wxString::Format("no enabled menu item at \"%s\": the window has no menu bar", path);
        return false;
    }
    // As a person opening the menus along the path: each menu is told it opens (plug-ins may
    // fill it then), and handlers may enable or disable items.
    const int top = menuBar->FindMenu(path.BeforeFirst('/'));
    if (top != wxNOT_FOUND) {
        wxMenu* opened = menuBar->GetMenu(static_cast<size_t>(top));
        wxMenuEvent open(wxEVT_MENU_OPEN, 0, opened);
        wxMenu::ProcessMenuEvent(opened, open, this);
    }
    menuBar->UpdateMenus();
    wxMenu* menu = nullptr;
    wxMenuItem* item = FindMenuItemByPath(menuBar, path, &menu);
    if (!item || !menu || !IsReachable(menuBar, item)) {
        error = wxString::Format("no enabled menu item at \"%s\"", path);
        return false;
    }
    int checked = -1;
    if (item->IsCheckable()) {
        item->Check(item->GetKind() == wxITEM_RADIO ? true : !item->IsChecked());
        checked = item->IsChecked() ? 1 : 0;
    }
    menu->SendEvent(item->GetId(), checked);
    return true;
}

void CMainFrame::OnNew(wxCommandEvent&) {
    NewDocument();
}

void CMainFrame::OnOpen(wxCommandEvent&) {
    wxFileDialog dialog(this, "Open", wxEmptyString, wxEmptyString,
                        "All files (*)|*|Python files (*.py)|*.py",
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_MULTIPLE);
    if (dialog.ShowModal() != wxID_OK)
        return;
    wxArrayString paths;
    dialog.GetPaths(paths);
    for (const auto& path : paths)
        OpenFile(path);
}

void CMainFrame::OnSave(wxCommandEvent&) {
    if (host::SyntaxEditor* editor = GetCurrentEditor())
        SaveEditor(editor, false);
}

void CMainFrame::OnSaveAs(wxCommandEvent&) {
    if (host::SyntaxEditor* editor = GetCurrentEditor())
        SaveEditor(editor, true);
}

void CMainFrame::OnCloseDocument(wxCommandEvent&) {
    const int page = notebook ? notebook->GetSelection() : wxNOT_FOUND;
    if (page != wxNOT_FOUND)
        ClosePage(static_cast<size_t>(page));
}

void CMainFrame::OnQuit(wxCommandEvent&) {
    Close();
}

void CMainFrame::OnEditCommand(wxCommandEvent& event) {
    // The output pane has its own copy and select-all.
    if (FindFocus() == outputPane) {
        if (event.GetId() == wxID_COPY)
            outputPane->Copy();
        else if (event.GetId() == wxID_SELECTALL)
            outputPane->SelectAll();
        return;
    }
    host::SyntaxEditor* editor = GetCurrentEditor();
    if (!editor)
        return;
    switch (event.GetId()) {
    case wxID_UNDO:
        editor->Undo();
        break;
    case wxID_REDO:
        editor->Redo();
        break;
    case wxID_CUT:
        editor->Cut();
        break;
    case wxID_COPY:
        editor->Copy();
        break;
    case wxID_PASTE:
        editor->Paste();
        break;
    case wxID_SELECTALL:
        editor->SelectAll();
        break;
    default:
        break;
    }
}

void CMainFrame::OnAbout(wxCommandEvent&) {
    wxMessageBox(wxString::Format("Marrowpad\nA small text editor for Python scripts and "
                                  "plug-ins.\n\nBuilt with %s.",
                                  wxVERSION_STRING),
                 "About Marrowpad", wxOK | wxICON_INFORMATION, this);
}

void CMainFrame::OnEditorOpen(wxCommandEvent& event) {
    host::SyntaxEditor* editor = OpenFile(event.GetString());
    // A positive int is the line, from 1, to select.
    if (editor && event.GetInt() > 0)
        SelectLine(editor, event.GetInt());
}

void CMainFrame::SelectLine(host::SyntaxEditor* editor, int lineFromOne) {
    const int line = std::max(1, std::min(lineFromOne, editor->GetLineCount())) - 1;
    editor->GotoLine(line);
    editor->SetSelection(editor->PositionFromLine(line), editor->GetLineEndPosition(line));
    editor->EnsureVisibleEnforcePolicy(line);
    UpdateStatus();
}

host::SyntaxEditor* CMainFrame::UntitledDocument() const {
    host::SyntaxEditor* current = GetCurrentEditor();
    if (current && current->GetFilePath().empty())
        return current;
    auto* last = dynamic_cast<host::SyntaxEditor*>(lastUntitled.get());
    if (last && FindDocumentPage(last) != wxNOT_FOUND && last->GetFilePath().empty())
        return last;
    // Else the one unsaved document, if there is only one.
    host::SyntaxEditor* only = nullptr;
    for (size_t page = 0; page < PageCount(); ++page) {
        host::SyntaxEditor* editor = EditorAt(page);
        if (editor && editor->GetFilePath().empty()) {
            if (only)
                return nullptr;
            only = editor;
        }
    }
    return only;
}

int CMainFrame::FindDocumentPage(const wxWindow* editor) const {
    return notebook ? notebook->FindPage(editor) : wxNOT_FOUND;
}

void CMainFrame::ShowUntitledLine(int line) {
    host::SyntaxEditor* editor = UntitledDocument();
    if (!editor) {
        if (GetStatusBar())
            SetStatusText("No unsaved document is open.");
        return;
    }
    ShowDocument(editor);
    SelectLine(editor, line);
    editor->SetFocus();
}

void CMainFrame::OnClose(wxCloseEvent& event) {
    // A frame that has closed waits for its deletion: a later close (the quit that follows a
    // script's, say) finds nothing to ask about.
    if (wxTheApp->IsScheduledForDestruction(this))
        return;
    if (event.CanVeto()) {
        for (size_t i = 0; i < PageCount(); ++i) {
            host::SyntaxEditor* editor = EditorAt(i);
            if (editor && !ConfirmClose(editor)) {
                event.Veto();
                return;
            }
        }
    }
    SaveLayout();
    ReleasePlugins();
    Destroy();
    // Closing the main window ends the editor, whatever windows scripts left open.
    wxTheApp->ExitMainLoop();
}

void CMainFrame::OnPageChanged(wxBookCtrlEvent& event) {
    event.Skip();
    UpdateStatus();
}

void CMainFrame::OnEditorKeyDown(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_SPACE && event.GetModifiers() == wxMOD_CONTROL) {
        StartCompletion(dynamic_cast<host::SyntaxEditor*>(event.GetEventObject()));
        return;
    }
    if (!ChooseShortcutFirst(event))
        event.Skip();
}

void CMainFrame::OnOutputKeyDown(wxKeyEvent& event) {
    if (!ChooseShortcutFirst(event))
        event.Skip();
}

bool CMainFrame::ChooseShortcutFirst(const wxKeyEvent& event) {
    // A menu item's shortcut comes first, as the editor's accelerators do: the styled text
    // control would otherwise take Ctrl and Alt combinations itself (Ctrl+Alt with a key is
    // inserted as a control character, Ctrl+D duplicates the line) before the menus see them.
    // Keys without Ctrl or Alt are typed text, except the function keys.
    const bool functionKey = event.GetKeyCode() >= WXK_F1 && event.GetKeyCode() <= WXK_F24;
    return ((event.GetModifiers() & (wxMOD_CONTROL | wxMOD_ALT)) != 0 || functionKey) &&
           ChooseShortcut(event);
}

bool CMainFrame::ChooseShortcut(const wxKeyEvent& event) {
    int flags = wxACCEL_NORMAL;
    if (event.ControlDown())
        flags |= wxACCEL_CTRL;
    if (event.AltDown())
        flags |= wxACCEL_ALT;
    if (event.ShiftDown())
        flags |= wxACCEL_SHIFT;
    int key = event.GetKeyCode();
    if (key >= 'a' && key <= 'z')
        key += 'A' - 'a'; // shortcuts hold their letters in upper case
    wxMenuBar* menuBar = GetMenuBar();
    std::function<wxMenuItem*(const wxMenu*)> find = [&](const wxMenu* menu) -> wxMenuItem* {
        for (wxMenuItem* item : menu->GetMenuItems()) {
            if (item->GetSubMenu()) {
                if (wxMenuItem* found = find(item->GetSubMenu()))
                    return found;
                continue;
            }
            const std::unique_ptr<wxAcceleratorEntry> accel(item->GetAccel());
            if (accel && accel->GetFlags() == flags && accel->GetKeyCode() == key)
                return item;
        }
        return nullptr;
    };
    for (size_t i = 0; menuBar && i < menuBar->GetMenuCount(); ++i) {
        wxMenuItem* item = find(menuBar->GetMenu(i));
        if (item && IsReachable(menuBar, item)) {
            item->GetMenu()->SendEvent(item->GetId());
            return true;
        }
    }
    return false;
}

void CMainFrame::OnEditorCompletionEnd(wxStyledTextEvent& event) {
    event.Skip();
    if (auto* editor = dynamic_cast<host::SyntaxEditor*>(event.GetEventObject()))
        SendCompleteEnd(editor);
}

void CMainFrame::OnEditorUpdateUI(wxStyledTextEvent& event) {
    event.Skip();
    if (event.GetEventObject() == GetCurrentEditor())
        UpdateStatus();
}

void CMainFrame::OnEditorSavePoint(wxStyledTextEvent& event) {
    event.Skip();
    if (auto* editor = dynamic_cast<host::SyntaxEditor*>(event.GetEventObject()))
        UpdateTabLabel(editor);
}
