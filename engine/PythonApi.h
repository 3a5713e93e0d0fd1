// The one way engine code includes the interpreter's and wxPython's C interfaces, in the order
// they need: Python.h first of all (it must precede every standard header), then sip's types,
// which wxPython's core interface table is declared with.
#pragma once

#include <Python.h>

#include <sip.h>
#include <wxpy_api.h>
