// CPlugin's constructor and destructor: the part of the plug-in base that lives in the editor.
#include "plugin/Plugin.h"

CPlugin::CPlugin() : type(MP_PLUGIN_UNKNOWN), hostData(0) {}

CPlugin::~CPlugin() = default;
