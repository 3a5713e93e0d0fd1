#include "dialog/ManagePythonScript.h"
