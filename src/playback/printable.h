// The printable form of text from files and front ends (tags, names).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// Copies the printable form of text (length bytes) into out: as many whole
/// characters as fit in max_chars characters and max_bytes bytes, each C0
/// control, DEL, C1 control and each byte that is not part of a valid UTF-8
/// sequence shown as "?". Gives the bytes written (out is not terminated)
/// and sets *chars to the characters written.
std::size_t printable_prefix(const unsigned char *text, std::size_t length, std::size_t max_chars,
			     std::size_t max_bytes, char *out, std::size_t *chars);
/// The printable form of the whole of text (as printable_prefix).
std::string printable(std::string_view text);
/// text as valid UTF-8 of Unicode characters, whole: each byte that is not
/// part of a valid UTF-8 sequence, each NUL and each noncharacter (U+FDD0
/// to U+FDEF, and the last two code points of every plane) becomes U+FFFD.
/// Control characters stay.
std::string unicode_text(std::string_view text);
/// How a path or URL is shown in every line, the status and the desktop's
/// metadata: an http(s) URL as scheme://host[:port]/path, never its user,
/// password, query or fragment; in printable form.
std::string shown_name(std::string_view name);
