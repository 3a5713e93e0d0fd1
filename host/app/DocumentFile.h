// A document's file as bytes: how it was encoded when it was read, its text, and saving it back
// in that encoding without touching the old file until the new one is whole.
#pragma once

#include <wx/string.h>

#include <string>

namespace document_file {

enum class Encoding {
    Utf8,
    Utf8WithBom,
    // Not valid UTF-8: each byte one character, so that reading and saving it back loses nothing.
    Latin1,
};

struct Format {
    Encoding encoding = Encoding::Utf8;
    // The first line ending of the file, as wxSTC_EOL_*; new lines are typed with it.
    int eolMode = 2; // wxSTC_EOL_LF
};

// Reads the file. False, with the reason, when it cannot be read or holds a NUL byte (a binary
// file: shown cut short and saved, it would be destroyed).
bool Read(const wxString& path, wxString& text, Format& format, wxString& error);

// The bytes of the document, in the format's encoding, from what the editor control holds (its
// text as UTF-8). False, with the reason, when a character cannot be written in that encoding.
bool Encode(const std::string& utf8, const Format& format, std::string& bytes, wxString& error);

// Writes the bytes to a new file beside the path and renames it over the path: a failed save
// leaves the old file as it was. The old file's permissions stay; a symbolic link stays a link
// and its target gets the bytes. False, with the system's reason, when the save failed.
bool Write(const wxString& path, const std::string& bytes, wxString& error);

} // namespace document_file
