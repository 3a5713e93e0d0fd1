// The editor services a plug-in may call: exactly what the editor's plug-in interface library
// exports for plug-ins, signature for signature, and nothing more. A plug-in that calls only
// these loads in every editor of this interface; anything more is asked for at run time
// (plugin/Extensions.h). GetAppWindow is the one const member: a const added anywhere else
// changes the name the module asks the editor's library for, and the loader refuses it.
//
// The classes are declared without their data: their sizes and layouts are the editor's, and a
// plug-in must not depend on them. Nothing here is inline code that reads an editor object.
//
// The editor makes every object declared here and owns it; a plug-in holds the pointers it is
// given (the singletons live as long as the plug-in is attached) and never deletes them. The one
// exception is the settings store, which a plug-in makes for one operation, in room of its own
// that does not trust sizeof (registry/EditorSettings.h).
//
// The message output is not among these services: a plug-in reaches it through the editor's
// Python module (MpAPI), as scripts do.
//
// Built against the editor's own SDK (see plugin/Plugin.h), its header declares these classes
// and events, with their data; the event-table macros below stay ours.
#pragma once

#include "plugin/Plugin.h"

#include <wx/event.h>
#include <wx/stc/stc.h>
#include <wx/string.h>

#ifndef MARROWPAD_SDK_HEADER

class wxFrame;

// Sent to plug-ins when a completion starts in the current editor; a plug-in that handles it
// (does not skip it) replaces the editor's own word completion.
wxDECLARE_EXPORTED_EVENT(MP_INTERFACE, wxEVT_EDITOR_COMPLETEBEGIN, wxCommandEvent);
// Sent to plug-ins when a completion list or call tip has ended.
wxDECLARE_EXPORTED_EVENT(MP_INTERFACE, wxEVT_EDITOR_COMPLETEEND, wxCommandEvent);
// Sent to the main frame: open the file named by the event's string (or bring its tab forward);
// a positive int puts the caret on that line, counted from 1.
wxDECLARE_EXPORTED_EVENT(MP_INTERFACE, wxEVT_EDITOR_OPEN, wxCommandEvent);

// A named item of the editor: "PluginsPath" (the plug-ins folder) and "ExecPath" (the program
// folder).
class MP_INTERFACE CNameItem {
public:
    // Attribute 0 of the two items is the folder, without a trailing separator.
    wxString GetAttribute(int index);
};

class MP_INTERFACE CNameService {
public:
    static CNameService* Get();

    // Never null.
    CNameItem* GetNameItem(wxString name);
};

// A typed key-value store kept in a settings file. Key paths look like
// "/Coilhatch/Script0/name"; a key that is absent reads as the given default.
class MP_INTERFACE CConfigManagement {
public:
    explicit CConfigManagement(const wxString& path);
    virtual ~CConfigManagement();

    CConfigManagement(const CConfigManagement&) = delete;
    CConfigManagement& operator=(const CConfigManagement&) = delete;

    int ReadInt(const wxString& key, int defaultValue);
    bool ReadBool(const wxString& key, bool defaultValue);
    wxString Read(const wxString& key, const wxString& defaultValue);

    void Write(const wxString& key, int value);
    void Write(const wxString& key, bool value);
    // The flag is kept for callers written against older editors.
    void Write(const wxString& key, const wxString& value, bool flag);
    // A string without the flag would silently become a bool.
    void Write(const wxString& key, const char* value) = delete;
    void Write(const wxString& key, const wxChar* value) = delete;

    // Removes every key.
    void Clear();
    // Writes the store to its file. Whether it succeeded is not told here: a caller that needs
    // to know reads the file back.
    void Save();
};

// The editor's main frame.
class MP_INTERFACE CAppManagement {
public:
    static CAppManagement* Get();

    // Never null while a plug-in is attached.
    wxFrame* GetAppWindow() const;
};

// An editor of the editor's documents: a styled text control.
class MP_INTERFACE CSyntaxEditor : public wxStyledTextCtrl {};

class MP_INTERFACE CEditorManagement {
public:
    static CEditorManagement* Get();

    // The current editor, or null when none is open.
    CSyntaxEditor* GetCurrentEditor();
};

#endif // MARROWPAD_SDK_HEADER

// Event-table entries for the editor's events, for any id.
#define EVT_EDITOR_COMPLETEBEGIN(func)                                                             \
    wx__DECLARE_EVT0(wxEVT_EDITOR_COMPLETEBEGIN, wxCommandEventHandler(func))
#define EVT_EDITOR_COMPLETEEND(func)                                                               \
    wx__DECLARE_EVT0(wxEVT_EDITOR_COMPLETEEND, wxCommandEventHandler(func))
#define EVT_EDITOR_OPEN(func) wx__DECLARE_EVT0(wxEVT_EDITOR_OPEN, wxCommandEventHandler(func))
