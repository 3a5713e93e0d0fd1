// wxPython's core interface table, through which the engine takes and gives back the interpreter
// lock (and wraps toolkit objects for Python). Imported once, when the engine starts.
#pragma once

struct wxPyAPI;

// Imports the table. PRECONDITION: the calling thread holds the interpreter lock.
bool ImportCoreApi();
// The table ImportCoreApi imported; null before the engine has started.
wxPyAPI* GetCoreApi();
