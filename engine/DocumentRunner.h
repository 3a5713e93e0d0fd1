// Runs a document's text as a script, saved or not, without registering it: its top level runs
// as the main program (a fresh module named "__main__"), then its MpMain, when it defines one.
// Output, failure reports and Stop are those of a registered script.
#pragma once

#include <wx/string.h>

namespace document {

// Runs `text` as the script of the file at `path` (absolute; empty for a document never saved):
// the file's folder goes on sys.path once, `__file__` names the file, and tracebacks name it
// (or "<untitled>"). True when the top level and MpMain ran and raised nothing; a failure has
// been reported. PRECONDITION: the engine runs and the calling thread does not hold the
// interpreter lock.
bool RunText(const wxString& text, const wxString& path);

// Runs the editor's current document with RunText. False, after telling the user, when there
// is no current document.
bool RunCurrent();

} // namespace document
