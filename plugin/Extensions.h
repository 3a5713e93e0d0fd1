// What an editor may offer plug-ins beyond its interface library's services
// (plugin/EditorServices.h), found at run time: an editor may export, with C linkage, the
// function MarrowpadExtension, which gives a table of functions for a name and a version, or
// null when it has no such table. An editor that does not export it offers no extension.
//
// A plug-in asks with FindExtension<Table>() and does without, quietly, whatever it gets null
// for: every feature works on the services alone, and an extension only makes it better.
//
// A table's layout is a binary contract like the interface's: a change to a table's members
// gives it a new version (and the editor may answer both).
#pragma once

#include "plugin/EditorServices.h"

#include <wx/arrstr.h>
#include <wx/string.h>

#include <dlfcn.h>

#include <cstddef>

extern "C" {
// The lookup an editor exports under MpExtensionLookupName.
typedef const void* (*MpExtensionLookup)(const char* name, int version);
}

constexpr const char* MpExtensionLookupName = "MarrowpadExtension";

// What the editor knows of its documents.
struct MpDocumentExtension {
    static constexpr const char* name = "document";
    static constexpr int version = 1;

    // The file of the editor's document; empty when the document was never saved.
    wxString (*filePath)(const CSyntaxEditor* editor);
};

// How the editor runs.
struct MpSessionExtension {
    static constexpr const char* name = "session";
    static constexpr int version = 1;

    // True when no person uses the editor (batch mode): nothing is started for one, such as a
    // file manager.
    bool (*batchMode)();
};

// What the settings store knows of its file beyond typed keys.
struct MpSettingsExtension {
    static constexpr const char* name = "settings";
    static constexpr int version = 1;

    // Whether the key is in the store.
    bool (*hasKey)(const CConfigManagement& store, const wxString& key);
    // The names of the elements directly below the key, in the file's order, a name held twice
    // listed twice; empty when the key is absent.
    wxArrayString (*childNames)(const CConfigManagement& store, const wxString& key);
    // The key that reads and writes the index-th of those children; empty when there is none.
    wxString (*childKey)(const CConfigManagement& store, const wxString& key, size_t index);
    // The file could not be read as a whole: the store presents what came before the damage.
    bool (*isDamaged)(const CConfigManagement& store);
    // False for a key whose element a damaged file left open (what it holds was not read
    // whole); true for every other key.
    bool (*isWhole)(const CConfigManagement& store, const wxString& key);
    // Where the store keeps a file it could not read whole, before the next save replaces it
    // (or where it kept it); empty when it keeps none.
    wxString (*backupPath)(const CConfigManagement& store);
    // Why the last Save failed, in one line that names the file; empty when it succeeded.
    wxString (*lastError)(const CConfigManagement& store);
};

// Version 2 of the settings table: version 1's members first (an editor may answer version 1
// with the same table), then the store's elements edited in place. A store that offers it keeps
// through a save everything of its file that was neither written nor removed: elements, their
// attributes, comments.
struct MpSettingsExtension2 {
    static constexpr const char* name = "settings";
    static constexpr int version = 2;

    MpSettingsExtension first;
    // Takes the child elements of the key's at those indexes (as childNames lists them, in any
    // order) out of the store, with everything in them, in one pass; how many it took.
    size_t (*removeChildren)(CConfigManagement& store, const wxString& key, const size_t* indexes,
                             size_t count);
    // Renames the index-th child element of the key's; false, changing nothing, when there is
    // none or XML cannot have the name.
    bool (*renameChild)(CConfigManagement& store, const wxString& key, size_t index,
                        const wxString& name);
    // True when the key's element holds text alone (no element, comment or instruction inside
    // it), or is absent: writing the key then replaces nothing but its text.
    bool (*holdsTextAlone)(const CConfigManagement& store, const wxString& key);
};

// What plug-ins show in documents later than they were asked (the answer of another process),
// told to the editor: an editor that runs without a person (batch mode) waits for it and writes
// it out, as a person would see it.
struct MpShownExtension {
    static constexpr const char* name = "shown";
    static constexpr int version = 1;

    // Work for the document in the editor has begun whose result shows later. Every begin is
    // followed by one end, once the result is shown or dropped (unless the editor is destroyed
    // first).
    void (*begin)(const CSyntaxEditor* editor);
    void (*end)(const CSyntaxEditor* editor);
    // What the document now shows that the control cannot tell, in words: `kind` says what
    // ("hover": a call tip's text; "diagnostics": one "LINE:COLUMN: MESSAGE" a line, both
    // numbers from 1; "status": a word in the status bar).
    void (*shown)(const CSyntaxEditor* editor, const char* kind, const wxString& text);
};

// The editor's message output as a person sees it.
struct MpOutputExtension {
    static constexpr const char* name = "output";
    static constexpr int version = 1;

    // Shows, and paints at once, what was appended to the message output and is not yet on the
    // screen: for a plug-in that holds the user-interface thread (a running script), so that the
    // output shows while it runs. No event is handled meanwhile. On that thread only.
    void (*showNow)();
};

namespace mp_extensions {

// The editor's lookup, found once; null when the editor exports none.
inline MpExtensionLookup Lookup() {
    static const MpExtensionLookup lookup =
        reinterpret_cast<MpExtensionLookup>(dlsym(RTLD_DEFAULT, MpExtensionLookupName));
    return lookup;
}

} // namespace mp_extensions

// The editor's table of that kind, or null when the editor offers none.
template <class Table> const Table* FindExtension() {
    const MpExtensionLookup lookup = mp_extensions::Lookup();
    return lookup ? static_cast<const Table*>(lookup(Table::name, Table::version)) : nullptr;
}

// The file of the editor's document; empty when it was never saved or the editor does not say.
inline wxString DocumentFilePath(const CSyntaxEditor* editor) {
    const auto* documents = FindExtension<MpDocumentExtension>();
    return documents && editor ? documents->filePath(editor) : wxString();
}

// Whether the editor tells plug-ins its documents' files at all.
inline bool EditorTellsDocumentFiles() {
    return FindExtension<MpDocumentExtension>() != nullptr;
}

// True when the editor says that no person uses it; false when it does not say.
inline bool EditorInBatchMode() {
    const auto* session = FindExtension<MpSessionExtension>();
    return session && session->batchMode();
}

// Tell the editor, when it wants to know, of work whose result shows in the document later.
inline void TellWorkBegins(const CSyntaxEditor* editor) {
    if (const auto* shown = FindExtension<MpShownExtension>())
        shown->begin(editor);
}
inline void TellWorkEnds(const CSyntaxEditor* editor) {
    if (const auto* shown = FindExtension<MpShownExtension>())
        shown->end(editor);
}
inline void TellShown(const CSyntaxEditor* editor, const char* kind, const wxString& text) {
    if (const auto* shown = FindExtension<MpShownExtension>())
        shown->shown(editor, kind, text);
}

// Has the editor show the message output's new text now, where it can; nothing otherwise.
inline void ShowOutputNow() {
    if (const auto* output = FindExtension<MpOutputExtension>())
        output->showNow();
}
