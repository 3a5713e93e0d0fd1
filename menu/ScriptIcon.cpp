#include "menu/ScriptIcon.h"
