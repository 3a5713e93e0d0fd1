#include "engine/Coilhatch.h"

const wchar_t* const pluginNameText = L"Coilhatch";
const int scriptManagementId = wxNewId();

wxBEGIN_EVENT_TABLE(CCoilhatch, CPlugin)
wxEND_EVENT_TABLE()

CCoilhatch::CCoilhatch()
    : threadState(nullptr), wxPythonLoaded(false), scriptMenu(nullptr), currentEntry(nullptr) {
    info.pluginName = pluginNameText;
}
CCoilhatch::~CCoilhatch() = default;
void CCoilhatch::HostHook() {}
bool CCoilhatch::BuildToolBar(wxToolBar*) { return false; }
void CCoilhatch::OnAttach() {}
void CCoilhatch::OnRelease() {}
bool CCoilhatch::StartEngine() { return false; }
bool CCoilhatch::RunScript(const wxString&, bool) { return false; }
bool ImportCoreApi() { return false; }
wxPyAPI* GetCoreApi() { return nullptr; }
