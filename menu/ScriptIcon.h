// The bitmap of the "Script Management" item, as XPM text: a 16x16 image with 105 colours at two
// characters a pixel, i.e. a header line, 105 colour lines and 16 pixel rows.
#pragma once

constexpr int scriptIconLineCount = 1 + 105 + 16;

extern const char* const script_icon_xpm[scriptIconLineCount];
