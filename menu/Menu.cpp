#include "engine/Coilhatch.h"

void CCoilhatch::BuildMenu(wxMenuBar*) {}
void CCoilhatch::RefreshScriptMenu(bool) {}
void CCoilhatch::OnScriptMenu(wxCommandEvent&) {}
void CCoilhatch::OnScriptManagement(wxCommandEvent&) {}
