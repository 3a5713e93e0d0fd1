// A plug-ins folder of a test's own for running the editor program as a person would: the built
// plug-in, and a settings file that registers the test's scripts.
#pragma once

#include "tests/support/TestSupport.h"

#include <wx/string.h>

#include <vector>

namespace testing_support {

struct ScriptFile {
    wxString name;   // the script's name, and its file's name without ".py"
    wxString source; // the file's text
    bool autoRun = false;
};

// The settings file also holds a comment, which a save keeps.
class PluginsFolder {
public:
    explicit PluginsFolder(const std::vector<ScriptFile>& scripts);

    const wxString& Path() const { return dir.Path(); }
    // Writes a document beside the scripts; its full path.
    wxString Document(const wxString& name, const wxString& text) const;
    wxString Settings() const;
    // The settings file holds every script of the folder first, whole, in order, and (unless
    // the file was made anew) the comment.
    bool Whole(bool commentToo = true) const;
    // Makes the settings file one that the plug-in saves at its release although nothing
    // changes: its "Counts" is wrong (the load tells so, and the save puts it right).
    void AskForASave() const;
    // After AskForASave: the plug-in has saved, and the file is whole.
    bool Saved() const;

private:
    TempDir dir;
    TempDir sources;
    std::vector<wxString> names;
};

// A run's status and output, for a failed expectation's message.
wxString Describe(const ProcessResult& result);

// The editor program in batch mode on the folder, choosing each selection in turn: a menu path
// ("File/New"), or a script's name under Tools/Python Script. Killed, as hung, after 60 s.
ProcessResult RunEditorInBatch(const PluginsFolder& plugins,
                               const std::vector<wxString>& selections);

} // namespace testing_support
