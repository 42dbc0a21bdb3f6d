// Whether a task's text may go on a command line. Windows file names cannot
// hold a quotation mark, so a quote in a path or a torrent name can only end
// its quoted argument early and start options of the program's own; the
// source goes on the line unquoted, so it must be one word.
#pragma once

#include <cstddef>

namespace dlmgr {

// A quotation mark within the field's width.
bool HoldsQuote(const char* field, size_t width) noexcept;

// No quotation mark, space, tab or other control character (bytes 1 to 31)
// within the field's width.
bool IsOneWord(const char* field, size_t width) noexcept;

// The field's last character is a lead byte of the system's code page (a
// double-byte character cut in half): converted to wide characters with the
// command line around it, it would swallow the byte after the field.
bool EndsInLeadByte(const char* field, size_t width) noexcept;

}  // namespace dlmgr
