// The script runner: the only way a script file is run.
#pragma once

#include <wx/string.h>

#include <string>

namespace runner {

// Runs the script file at the path: its folder goes on sys.path, the file is loaded as its own
// module (its top level run again when `reload` is set) and its MpMain called. Failures are
// reported to the user. True only when MpMain ran and raised nothing (or the script ended
// quietly). `title` is what the user calls the script (the window that offers to stop a long run
// shows it); empty: the file's name. When MpMain returns a str and `returned` is given, the text
// goes there in UTF-8. PRECONDITION: the engine runs and the calling thread does not hold the
// interpreter lock.
bool RunScriptFile(const wxString& path, bool reload, const wxString& title = wxString(),
                   std::string* returned = nullptr);

} // namespace runner
