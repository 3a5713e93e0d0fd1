// A second editor for the plug-in: a program on the other libmarrowpad (tests/foreign/sdk), whose
// classes share nothing with the stand-in's but their names. It loads a built plug-in module as
// the editor does and drives it through its life: attach, the Tools menu, a registered script
// run from its menu item, release, unloading. Every step is checked; the exit status is 0 when
// all held.
//
//   ForeignEditor <plug-in module>
#include "MarrowpadSDK.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/stdpaths.h>
#include <wx/utils.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The editor's side of the plug-in interface: the one class that reaches a plug-in's protected
// and private operations.
class CPluginManager {
public:
    static void Attach(CPlugin* plugin) { plugin->OnAttach(); }
    static void BuildMenu(CPlugin* plugin, wxMenuBar* menuBar) { plugin->BuildMenu(menuBar); }
    static void Release(CPlugin* plugin) { plugin->OnRelease(); }
};

namespace {

// Where this program reports: a private duplicate of the standard error it started with, since
// the plug-in makes descriptor 2 a pipe to the message output while it is attached.
FILE* report = stderr;

void KeepOwnStandardError() {
    const int fd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!file)
        return;
    std::setvbuf(file, nullptr, _IONBF, 0);
    report = file;
    // MpAPI writes the message output there too.
    setenv("MARROWPAD_STDERR_FD", std::to_string(fd).c_str(), 1);
}

const char* const scriptName = "ForeignProbe";
const char* const documentText = "foreign text";
const char* const frameTitle = "Foreign Marrowpad";

// Every dialog is unexpected here: nobody would answer it. Each is told and closed as by OK.
class DialogRecorder : public wxModalDialogHook {
public:
    DialogRecorder() { Register(); }
    ~DialogRecorder() override { Unregister(); }

    std::vector<wxString> shown;

protected:
    int Enter(wxDialog* dialog) override {
        const auto* box = dynamic_cast<wxMessageDialog*>(dialog);
        shown.push_back(box ? box->GetMessage() : dialog->GetTitle());
        return wxID_OK;
    }
    void Exit(wxDialog*) override {}
};

wxString ReadText(const wxString& path) {
    wxString text;
    wxFFile file(path, "rb");
    if (file.IsOpened())
        file.ReadAll(&text, wxConvUTF8);
    return text;
}

bool WriteText(const wxString& path, const wxString& text) {
    wxFFile file(path, "wb");
    return file.IsOpened() && file.Write(text, wxConvUTF8) && file.Close();
}

// The file of every libmarrowpad in the process, links resolved.
std::vector<std::string> LoadedEditorLibraries() {
    std::vector<std::string> found;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            const std::string name = info->dlpi_name ? info->dlpi_name : "";
            if (name.find("/libmarrowpad.so") != std::string::npos) {
                char* resolved = realpath(name.c_str(), nullptr);
                static_cast<std::vector<std::string>*>(data)->push_back(resolved ? resolved : name);
                std::free(resolved);
            }
            return 0;
        },
        &found);
    return found;
}

std::string FileOf(const void* address) {
    Dl_info info{};
    if (!address || !dladdr(address, &info) || !info.dli_fname)
        return std::string();
    char* resolved = realpath(info.dli_fname, nullptr);
    const std::string file = resolved ? resolved : info.dli_fname;
    std::free(resolved);
    return file;
}

wxMenu* SubmenuOf(wxMenu* menu, const wxString& label) {
    for (wxMenuItem* item : menu->GetMenuItems())
        if (item->GetSubMenu() && item->GetItemLabelText() == label)
            return item->GetSubMenu();
    return nullptr;
}

wxMenuItem* ItemOf(wxMenu* menu, const wxString& label) {
    for (wxMenuItem* item : menu->GetMenuItems())
        if (!item->IsSeparator() && item->GetItemLabelText() == label)
            return item;
    return nullptr;
}

class ForeignApp : public wxApp {
public:
    explicit ForeignApp(wxString module) : modulePath(std::move(module)) {}

    bool OnInit() override;
    int OnRun() override {
        wxApp::OnRun();
        std::fprintf(report, "ForeignEditor: %d checks, %d failed (%s)\n", checks, failures,
                     static_cast<const char*>(modulePath.utf8_str()));
        return failures == 0 ? 0 : 1;
    }

private:
    void Check(bool holds, const wxString& what) {
        ++checks;
        if (holds)
            return;
        ++failures;
        std::fprintf(report, "ForeignEditor: FAILED: %s\n",
                     static_cast<const char*>(what.utf8_str()));
    }
    void CheckNoDialogs(const char* when) {
        for (const wxString& text : dialogs.shown)
            Check(false, wxString::Format("a dialog %s: %s", when, text));
        dialogs.shown.clear();
    }

    void DriveThePlugin();
    bool RegisterScript();
    void RunScriptFromMenu(CPlugin* plugin);
    void CheckSettingsWritten();
    // Runs the event loop's pending work until the condition holds or the time is up.
    template <class Condition> bool WaitFor(const Condition& condition, int seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            if (wxEventLoopBase* loop = wxEventLoopBase::GetActive())
                loop->YieldFor(wxEVT_CATEGORY_ALL);
            wxMilliSleep(10);
        }
        return true;
    }

    const wxString modulePath;
    DialogRecorder dialogs;
    wxFrame* frame = nullptr;
    wxString folder; // the plug-ins folder
    wxString settingsPath;
    wxString scriptPath;
    wxString markerPath;
    wxString outputLog;
    int checks = 0;
    int failures = 0;
};

bool ForeignApp::OnInit() {
    // wxApp::OnInit is left out: the command line is main's, the toolkit reads none of it.
    std::string folderTemplate =
        std::string(wxFileName::GetTempDir().fn_str()) + "/foreign-editor-XXXXXX";
    if (!mkdtemp(folderTemplate.data())) {
        std::fprintf(report, "ForeignEditor: no temporary folder\n");
        return false;
    }
    folder = wxString(folderTemplate.c_str(), *wxConvFileName);
    settingsPath = folder + "/Coilhatch.xml";
    scriptPath = folder + "/foreign_probe.py";
    markerPath = folder + "/marker.txt";
    outputLog = folder + "/output.log";
    setenv("MARROWPAD_OUTPUT_LOG", outputLog.fn_str(), 1);

    const wxString execPath =
        wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath(wxPATH_NO_SEPARATOR);
    CNameService::Get()->GetNameItem("PluginsPath")->SetAttribute(0, folder);
    CNameService::Get()->GetNameItem("ExecPath")->SetAttribute(0, execPath);

    frame = new wxFrame(nullptr, wxID_ANY, frameTitle, wxDefaultPosition, wxSize(640, 480),
                        wxDEFAULT_FRAME_STYLE, "MarrowpadMainFrame");
    auto* menuBar = new wxMenuBar;
    menuBar->Append(new wxMenu, "&File");
    menuBar->Append(new wxMenu, "&Tools");
    frame->SetMenuBar(menuBar);
    auto* editor = new CSyntaxEditor(frame, folder + "/document.py");
    editor->SetText(documentText);
    CEditorManagement::Get()->SetCurrentEditor(editor);
    CAppManagement::Get()->SetAppWindow(frame);
    frame->Show();
    CallAfter([this] {
        DriveThePlugin();
        if (failures == 0)
            wxFileName::Rmdir(folder, wxPATH_RMDIR_RECURSIVE);
        else
            std::fprintf(report, "ForeignEditor: the plug-ins folder is kept: %s\n",
                         static_cast<const char*>(folder.utf8_str()));
        CAppManagement::Get()->SetAppWindow(nullptr);
        frame->Destroy();
    });
    return true;
}

// The settings file the plug-in starts with, written by this library's store: one script, whose
// MpMain prints the current document's text and the main window's title and leaves the text in
// a marker file.
bool ForeignApp::RegisterScript() {
    const wxString source = wxString::Format(
        "import MpAPI\n"
        "\n"
        "\n"
        "def MpMain():\n"
        "\teditor = MpAPI.CEditorManagement_Get().GetCurrentEditor()\n"
        "\tframe = MpAPI.CAppManagement_Get().GetAppWindow()\n"
        "\tprint('foreign probe: %%s in %%s' %% (editor.GetText(), frame.GetTitle()))\n"
        "\twith open(%s, 'w') as marker:\n"
        "\t\tmarker.write(editor.GetText())\n",
        "'" + markerPath + "'");
    if (!WriteText(scriptPath, source))
        return false;
    CConfigManagement settings(settingsPath);
    settings.Write("/Coilhatch/Counts", 1);
    settings.Write("/Coilhatch/Script0/autoRun", false);
    settings.Write("/Coilhatch/Script0/autoReload", false);
    settings.Write("/Coilhatch/Script0/name", wxString(scriptName), false);
    settings.Write("/Coilhatch/Script0/location", scriptPath, false);
    settings.Write("/Coilhatch/Script0/description", wxString("Reads the editor"), false);
    settings.Save();
    return wxFileName::FileExists(settingsPath);
}

void ForeignApp::DriveThePlugin() {
    Check(RegisterScript(), "the settings file and the script are written in " + folder);

    void* module = dlopen(modulePath.fn_str(), RTLD_NOW | RTLD_LOCAL);
    Check(module != nullptr, "the module loads: " + wxString::FromUTF8(module ? "" : dlerror()));
    if (!module)
        return;

    // The module's libmarrowpad is this program's, and no other is loaded.
    const std::string ours = FileOf(reinterpret_cast<const void*>(&CNameService::Get));
    const std::vector<std::string> loaded = LoadedEditorLibraries();
    Check(loaded.size() == 1 && loaded[0] == ours,
          wxString::Format("one libmarrowpad is loaded, %s (found %zu)", ours, loaded.size()));
    Check(FileOf(dlsym(module, "_ZN12CNameService3GetEv")) == ours,
          "the module's editor services are this library's");

    auto pluginName = reinterpret_cast<PluginNameFunc>(dlsym(module, "PluginName"));
    auto createPlugin = reinterpret_cast<CreatePluginFunc>(dlsym(module, "CreatePlugin"));
    Check(pluginName && createPlugin, "the module exports PluginName and CreatePlugin");
    if (!pluginName || !createPlugin)
        return;
    Check(pluginName() == "Coilhatch", "PluginName() is Coilhatch: " + pluginName());
    CPlugin* plugin = createPlugin();
    Check(plugin != nullptr, "CreatePlugin() makes the plug-in");
    if (!plugin)
        return;
    Check(plugin->GetInfo()->pluginName == pluginName(), "the plug-in's info names it");
    Check(plugin->GetInfo()->caption == "Python Script", "the plug-in's caption");

    CPluginManager::Attach(plugin);
    CheckNoDialogs("while attaching");
    CPluginManager::BuildMenu(plugin, frame->GetMenuBar());
    CheckNoDialogs("while building the menu");
    RunScriptFromMenu(plugin);

    // An editor that changed nothing writes nothing; with its file gone (deleted while the
    // editor ran), the release writes the list anew, through this library's store.
    Check(wxRemoveFile(settingsPath), "the settings file is removed");
    CPluginManager::Release(plugin);
    delete plugin;
    Check(dlclose(module) == 0, "the module is closed");
    CheckNoDialogs("while releasing");
    // Whatever the plug-in left queued runs now, with the plug-in gone.
    for (int round = 0; round < 3; ++round) {
        ProcessPendingEvents();
        if (wxEventLoopBase* loop = wxEventLoopBase::GetActive())
            loop->YieldFor(wxEVT_CATEGORY_ALL);
    }
    CheckSettingsWritten();
}

void ForeignApp::RunScriptFromMenu(CPlugin* plugin) {
    wxMenuBar* menuBar = frame->GetMenuBar();
    const int toolsIndex = menuBar->FindMenu("&Tools");
    wxMenu* submenu =
        toolsIndex == wxNOT_FOUND
            ? nullptr
            : SubmenuOf(menuBar->GetMenu(static_cast<size_t>(toolsIndex)), "Python Script");
    Check(submenu != nullptr, "Tools holds the Python Script submenu");
    wxMenuItem* item = submenu ? ItemOf(submenu, scriptName) : nullptr;
    Check(item != nullptr, "the submenu holds the registered script");
    if (!item)
        return;

    wxCommandEvent command(wxEVT_MENU, item->GetId());
    command.SetEventObject(submenu);
    Check(plugin->ProcessEventLocally(command), "the plug-in handles the script's command");
    CheckNoDialogs("while the script ran");
    Check(ReadText(markerPath) == documentText, "the script read the current editor");

    const wxString expected = wxString::Format("foreign probe: %s in %s", documentText, frameTitle);
    Check(WaitFor([&] { return ReadText(outputLog).Contains(expected); }, 30),
          "the script's output reached MpAPI's Append; it got: " + ReadText(outputLog));
}

void ForeignApp::CheckSettingsWritten() {
    const std::vector<wxString> saved = CConfigManagement::SavedFiles();
    Check(std::count(saved.begin(), saved.end(), settingsPath) >= 2,
          "the release saved the settings file through this library's store");
    const wxString text = ReadText(settingsPath);
    Check(text.Contains("<config>") && text.Contains("<Counts>1</Counts>") &&
              text.Contains(wxString("<name>") + scriptName + "</name>"),
          "the settings file holds the script: " + text);
    CConfigManagement reread(settingsPath);
    Check(reread.ReadInt("/Coilhatch/Counts", -1) == 1, "the file counts one script");
    Check(reread.Read("/Coilhatch/Script0/name", "") == scriptName, "the script's name");
    Check(reread.Read("/Coilhatch/Script0/location", "") == scriptPath, "the script's file");
    Check(!reread.ReadBool("/Coilhatch/Script0/autoRun", true), "the script is not run at start");
}

} // namespace

int main(int argc, char** argv) {
    KeepOwnStandardError();
    if (argc != 2) {
        std::fprintf(report, "usage: ForeignEditor <plug-in module>\n");
        return 2;
    }
    // Keeps the accessibility bridge from talking to a session bus that may not exist.
    setenv("NO_AT_BRIDGE", "1", 0);
    wxApp::SetInstance(new ForeignApp(wxString(argv[1], *wxConvFileName)));
    int toolkitArgc = 1;
    return wxEntry(toolkitArgc, argv);
}
