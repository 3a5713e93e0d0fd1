// Registers scripts in the plug-in's list the way the settings file or the dialog would.
#pragma once

#include "registry/ScriptList.h"

#include <gtest/gtest.h>

namespace testing_support {

// Adds an entry with these values to the plug-in's list (which must exist) and returns it; the
// list owns it.
inline ScriptEntry* AddScriptEntry(const wxString& name, const wxString& location,
                                   const wxString& description, bool autoRun, bool autoReload) {
    auto* entry = new ScriptEntry;
    entry->name = name;
    entry->location = location;
    entry->description = description;
    entry->autoRun = autoRun;
    entry->autoReload = autoReload;
    if (!scriptList->Add(entry)) {
        ADD_FAILURE() << "the script list refused " << name.utf8_str();
        delete entry;
        return nullptr;
    }
    return entry;
}

} // namespace testing_support
