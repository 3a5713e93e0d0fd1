#include "engine/Coilhatch.h"

void CCoilhatch::OnCompleteBegin(wxEvent&) {}
void CCoilhatch::OnCompleteEnd(wxEvent&) {}
void CCoilhatch::RunCompletionScript() {}
