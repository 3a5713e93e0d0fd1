#include "engine/Coilhatch.h"

void CCoilhatch::LoadScripts() {}
void CCoilhatch::SaveScripts() {}
