#include "registry/ScriptList.h"
