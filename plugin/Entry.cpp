// The two entry points the editor looks up by name.
#include "engine/Coilhatch.h"

#include <new>

extern "C" MP_INTERFACE wxString PluginName() {
    return pluginNameText;
}

extern "C" MP_INTERFACE CPlugin* CreatePlugin() {
    return new (std::nothrow) CCoilhatch;
}
