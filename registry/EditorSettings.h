// A settings store of the editor's (CConfigManagement), made by the plug-in for one operation.
//
// The editor's class is declared to plug-ins without its data: its real size is the editor's,
// and may be far larger than sizeof(CConfigManagement) here. So the object is never made with
// this module's idea of its size (no local, no member, no plain new): its constructor runs in
// room of its own, far more than any settings store needs, and its virtual destructor (the
// editor's) runs at the end of the holder's life.
#pragma once

#include "plugin/EditorServices.h"

#include <wx/string.h>

#include <cstddef>

class EditorSettings {
public:
    // The room given to the editor's object: many times what a store of pointers and a few
    // strings takes. The last `guard` bytes of it are checked after construction: an editor
    // whose object reaches into them is told of on the standard error stream.
    static constexpr size_t room = 64 * 1024;
    static constexpr size_t guard = 1024;

    explicit EditorSettings(const wxString& path);
    ~EditorSettings();

    EditorSettings(const EditorSettings&) = delete;
    EditorSettings& operator=(const EditorSettings&) = delete;

    // The editor's calls are not const, whatever this holder is.
    CConfigManagement& operator*() const { return *config; }
    CConfigManagement* operator->() const { return config; }

private:
    void* memory;
    CConfigManagement* config;
};
