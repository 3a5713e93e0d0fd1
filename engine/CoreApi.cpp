#include "engine/PythonApi.h"

#include "engine/CoreApi.h"

#include <cassert>

namespace {
wxPyAPI* coreApi = nullptr;
} // namespace

bool ImportCoreApi() {
    assert(PyGILState_Check());
    coreApi = static_cast<wxPyAPI*>(PyCapsule_Import("wx._wxPyAPI", 0));
    return coreApi != nullptr;
}

wxPyAPI* GetCoreApi() {
    return coreApi;
}
