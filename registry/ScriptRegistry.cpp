// The script list to and from the settings file "Coilhatch.xml" in the plug-ins folder.
#include "registry/ScriptRegistry.h"

#include "host/lib/Services.h"
#include "registry/ScriptList.h"

#include <wx/intl.h>
#include <wx/msgdlg.h>

namespace {

wxString SectionPrefix(unsigned index) {
    return wxString::Format("/Coilhatch/Script%u", index);
}

} // namespace

void ScriptRegistry::Open(const wxString& path) {
    settingsPath = path;
    if (!scriptList)
        scriptList = new ScriptList;
    Load();
}

void ScriptRegistry::Close() {
    if (!scriptList)
        return;
    Save();
    delete scriptList;
    scriptList = nullptr;
}

void ScriptRegistry::Load() {
    if (!scriptList)
        return;

    CConfigManagement config(settingsPath);
    const int counts = config.ReadInt("/Coilhatch/Counts", 0);
    // A negative count reads nothing. Once the list is full no further section is read: the
    // user hears about the overflow once, however large a hand-edited count is.
    for (int i = 0; i < counts; ++i) {
        if (scriptList->GetCount() >= MaxScriptNum) {
            wxMessageBox(wxGetTranslation("Out of the range! It should be less than MaxScriptNum."),
                         wxMessageBoxCaptionStr, wxOK | wxCENTRE);
            break;
        }
        const wxString prefix = SectionPrefix(static_cast<unsigned>(i));
        currentEntry = new ScriptEntry;
        currentEntry->autoRun = config.ReadBool(prefix + "/autoRun", false);
        currentEntry->autoReload = config.ReadBool(prefix + "/autoReload", false);
        currentEntry->name = config.Read(prefix + "/name", wxString());
        currentEntry->location = config.Read(prefix + "/location", wxString());
        currentEntry->description = config.Read(prefix + "/description", wxString());
        if (!scriptList->Add(currentEntry))
            delete currentEntry; // refused: still ours
        currentEntry = nullptr;
    }
}

void ScriptRegistry::Save() {
    if (!scriptList)
        return;

    CConfigManagement config(settingsPath);
    config.Clear();
    const unsigned count = scriptList->GetCount();
    config.Write("/Coilhatch/Counts", static_cast<int>(count));
    for (unsigned i = 0; i < count; ++i) {
        const wxString prefix = SectionPrefix(i);
        currentEntry = scriptList->Get(i);
        config.Write(prefix + "/autoRun", currentEntry->autoRun);
        config.Write(prefix + "/autoReload", currentEntry->autoReload);
        config.Write(prefix + "/name", currentEntry->name, false);
        config.Write(prefix + "/location", currentEntry->location, false);
        config.Write(prefix + "/description", currentEntry->description, false);
    }
    currentEntry = nullptr;
    config.Save();
}
