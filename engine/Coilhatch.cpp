// The plug-in object's core: its description, its event table, and the start and stop of the
// embedded Python engine.
#include "engine/Gil.h"

#include "engine/Coilhatch.h"

#include "engine/Interpreter.h"
#include "engine/Report.h"
#include "engine/Watchdog.h"
#include "host/lib/Services.h"

#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>

#include <cassert>

const wchar_t* const pluginNameText = L"Coilhatch";

// Drawn while the library is loaded, before the event table below is built from it.
const int scriptManagementId = wxNewId();

namespace {
wxPyAPI* coreApi = nullptr;
} // namespace

CCoilhatch::CCoilhatch()
    : threadState(nullptr), wxPythonLoaded(false),
      menu(*this, scriptManagementId,
           {[this] { return IsEngineRunning(); },
            [this](const wxString& path, bool reload) { return RunScript(path, reload); }}),
      completion([this](const wxString& path, bool reload) {
          // A completion request runs for about 2 s at most; a longer one ends without a word.
          const watchdog::LimitsScope limits({std::chrono::seconds(2), true});
          return RunScript(path, reload);
      }) {
    info.pluginName = pluginNameText;
    info.caption = "Python Script";
    info.version = "0.1";
    info.summary = "python script plugin";
    info.authors = "Ann Coil, Ben Hatch";
    info.emails = "ann.coil@coilhatch.example, ben.hatch@coilhatch.example";
    info.webSite = "https://coilhatch.example";
    info.licence = "Private";
}

// Touches neither the interpreter, nor the script list, nor the submenu.
CCoilhatch::~CCoilhatch() = default;

void CCoilhatch::HostHook() {}

bool CCoilhatch::BuildToolBar(wxToolBar*) {
    return false;
}

void CCoilhatch::BuildMenu(wxMenuBar* menuBar) {
    menu.Build(menuBar);
}

bool ImportCoreApi() {
    assert(PyGILState_Check());
    coreApi = static_cast<wxPyAPI*>(PyCapsule_Import("wx._wxPyAPI", 0));
    return coreApi != nullptr;
}

wxPyAPI* GetCoreApi() {
    return coreApi;
}

bool CCoilhatch::StartEngine() {
    // The interpreter starts with its lock held by this thread.
    const bool started = interpreter::StartInterpreter();
    if (started && ImportCoreApi()) {
        wxPythonLoaded = true;
        interpreter::KeepApplicationWrapper();
        threadState = wxPyBeginAllowThreads();
        return true;
    }
    wxMessageBox(
        wxGetTranslation("***** Load wxPython API failed, Python Plugin is unavaible. *****"),
        wxMessageBoxCaptionStr, wxOK | wxCENTRE);
    if (started) {
        // The import error goes to the process's standard error: nothing is redirected yet.
        report::PrintPythonError();
        interpreter::FinalizeInterpreter();
    }
    return false;
}

void CCoilhatch::OnAttach() {
    if (!StartEngine()) {
        wxMessageBox(wxGetTranslation("Init Python Plugin failed."), wxGetTranslation("Info"),
                     wxICON_INFORMATION);
        return;
    }

    registry.Open(CNameService::Get()->GetNameItem("PluginsPath")->GetAttribute(0) +
                  wxFILE_SEP_PATH + "Coilhatch.xml");

    GilGuard gil(GetCoreApi());
    // The editor's program folder holds MpAPI. A failure here is reported and the engine runs on.
    if (!interpreter::AddToSysPath(CNameService::Get()->GetNameItem("ExecPath")->GetAttribute(0)))
        report::PrintPythonError();
    if (!interpreter::RunStartupScript()) {
        {
            const report::PendingErrorKeeper keep; // the script's error, reported below
            wxMessageBox(wxGetTranslation("Load the log code failed."), "Marrowpad Python",
                         wxOK | wxCENTRE);
        }
        report::ReportFailure();
    }
}

void CCoilhatch::OnRelease() {
    if (wxPythonLoaded) {
        // The interpreter is not finalized (see engine/Interpreter.h): it gets its shutdown work,
        // then its lock is given back for whatever Python code the editor may still call
        // (handlers that scripts bound, threads they left running).
        GilGuard gil(GetCoreApi());
        interpreter::RunShutdownWork();
        threadState = nullptr;
        wxPythonLoaded = false;
    } else {
        // Attaching failed: the interpreter is already finalized, and this does nothing.
        interpreter::FinalizeInterpreter();
    }

    registry.Close();
}

// The table stays as written: the macros end without semicolons.
// clang-format off
wxBEGIN_EVENT_TABLE(CCoilhatch, CPlugin)
    EVT_MENU(scriptManagementId, CCoilhatch::OnScriptManagement)
    EVT_EDITOR_COMPLETEBEGIN(CCoilhatch::OnCompleteBegin)
    EVT_EDITOR_COMPLETEEND(CCoilhatch::OnCompleteEnd)
wxEND_EVENT_TABLE()
    // clang-format on
