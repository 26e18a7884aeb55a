// Playlist files as other programs write them: UTF-8 or UTF-16 text, LF,
// CR-LF or CR line ends, paths or file:// URLs; read in pieces.
#include "playlist/playlist.h"
#include "playlist/cue.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace {
// "scheme://...": a scheme is a letter, then letters, digits, "+", "-", ".".
bool is_url(std::string_view s)
{
	const std::size_t colon = s.find("://");
	if (colon == std::string_view::npos || colon == 0 || !isalpha(static_cast<unsigned char>(s[0])))
		return false;
	return std::all_of(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
		return isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
	});
}

bool starts_nocase(std::string_view s, std::string_view prefix)
{
	return s.size() >= prefix.size() && strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

int hex_value(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
	return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

}

std::string file_url_path(std::string_view url)
{
	if (!starts_nocase(url, "file://"))
		return "";
	url.remove_prefix(strlen("file://"));
	if (starts_nocase(url, "localhost/"))
		url.remove_prefix(strlen("localhost"));
	if (!url.starts_with('/'))
		return "";
	std::string path;
	for (std::size_t i = 0; i < url.size(); i++) {
		int hi, lo;
		if (url[i] == '%' && i + 2 < url.size() && (hi = hex_value(url[i + 1])) >= 0 &&
		    (lo = hex_value(url[i + 2])) >= 0) {
			path += static_cast<char>(hi * 16 + lo);
			i += 2;
		} else {
			path += url[i];
		}
	}
	return path.find('\0') == std::string::npos ? path : "";
}

namespace {
// The length of the UTF-8 sequence at s[i], or 0 when it is not one. A
// sequence cut by the end of s counts as whole when cut_ok.
std::size_t utf8_length(std::string_view s, std::size_t i, bool cut_ok)
{
	const unsigned char c = static_cast<unsigned char>(s[i]);
	if (c < 0x80)
		return 1;
	const std::size_t n = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
	if (!n)
		return 0;
	unsigned cp = c & (0x7fu >> n);
	for (std::size_t k = 1; k < n; k++) {
		if (i + k >= s.size())
			return cut_ok ? n : 0;
		const unsigned char b = static_cast<unsigned char>(s[i + k]);
		if ((b & 0xc0) != 0x80)
			return 0;
		cp = (cp << 6) | (b & 0x3f);
	}
	// Overlong forms, surrogates and what lies beyond Unicode are not text.
	static constexpr unsigned min[] = {0, 0, 0x80, 0x800, 0x10000};
	return cp < min[n] || (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff ? 0 : n;
}

bool utf8_start_valid(std::string_view s)
{
	const std::size_t look = std::min(s.size(), m3u_look);
	const std::string_view head = s.substr(0, look);
	for (std::size_t i = 0; i < look;) {
		// A character cut by the end of the look is judged by its start.
		std::size_t n = utf8_length(head, i, look < s.size());
		if (!n)
			return false;
		i += n;
	}
	return true;
}

void put_utf8(std::string *out, unsigned cp)
{
	if (cp < 0x80) {
		*out += static_cast<char>(cp);
	} else if (cp < 0x800) {
		*out += static_cast<char>(0xc0 | (cp >> 6));
		*out += static_cast<char>(0x80 | (cp & 0x3f));
	} else if (cp < 0x10000) {
		*out += static_cast<char>(0xe0 | (cp >> 12));
		*out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
		*out += static_cast<char>(0x80 | (cp & 0x3f));
	} else {
		*out += static_cast<char>(0xf0 | (cp >> 18));
		*out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
		*out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
		*out += static_cast<char>(0x80 | (cp & 0x3f));
	}
}

// UTF-16 (after its byte-order mark) into UTF-8, appended to *out: the
// whole units of b, but for a character cut by its end unless last (*used
// tells how many bytes were taken). false on a NUL or a lone surrogate.
bool utf16_to_utf8(std::string_view b, bool big_endian, bool last, std::string *out, std::size_t *used)
{
	auto unit = [&](std::size_t i) {
		const unsigned char x = static_cast<unsigned char>(b[i]), y = static_cast<unsigned char>(b[i + 1]);
		return big_endian ? (unsigned(x) << 8) | y : (unsigned(y) << 8) | x;
	};
	std::size_t i = 0;
	for (; i + 1 < b.size(); i += 2) {
		unsigned cp = unit(i);
		const bool high = cp >= 0xd800 && cp <= 0xdbff;
		if (high && i + 3 >= b.size() && !last)
			break;  // its low half comes with the next piece
		if (high && i + 3 < b.size() && unit(i + 2) >= 0xdc00 && unit(i + 2) <= 0xdfff) {
			cp = 0x10000 + ((cp - 0xd800) << 10) + (unit(i + 2) - 0xdc00);
			i += 2;
		} else if (cp == 0 || (cp >= 0xd800 && cp <= 0xdfff)) {
			return false;
		}
		put_utf8(out, cp);
	}
	// An odd last byte of the file is dropped.
	*used = last ? b.size() : i;
	return true;
}

// The entry a line of a list in folder names (here: the list is in the
// current folder), if any.
bool line_entry(std::string_view line, const std::string &folder, bool here, std::string *entry)
{
	const std::size_t first = line.find_first_not_of(" \t");
	if (first == std::string_view::npos || line[first] == '#')
		return false;
	line = line.substr(first, line.find_last_not_of(" \t") + 1 - first);
	if (starts_nocase(line, "file://") && !(*entry = file_url_path(line)).empty())
		return true;
	if (line[0] == '/' || is_url(line) || (here && line != "-"))
		*entry = line;  // as it always was: no "./" in the lines of a list here
	else
		*entry = folder + std::string(line);
	return true;
}

// Everything up to the last "/" of the list's path, which stays: "./" for
// a list in the current folder, so that no entry becomes "-", standard
// input.
std::string list_folder(std::string_view list_path)
{
	const std::size_t slash = list_path.rfind('/');
	return slash == std::string_view::npos ? "./" : std::string(list_path.substr(0, slash + 1));
}

// Appends the entries of text's whole lines to *entries; what follows the
// last line end is left in *rest (null: it is a line too).
void take_lines(std::string_view text, std::string_view list_path, std::string *rest,
		std::vector<std::string> *entries)
{
	const std::string folder = list_folder(list_path);
	const bool here = list_path.rfind('/') == std::string_view::npos;
	std::string entry;
	// CR-LF gives an empty line between its two ends, and empty lines are
	// dropped: LF, CR-LF and CR alone all end a line.
	for (std::size_t end; (end = text.find_first_of("\r\n")) != std::string_view::npos || (!rest && !text.empty());) {
		const std::string_view line = text.substr(0, end);
		text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
		if (line_entry(line, folder, here, &entry))
			entries->push_back(std::move(entry));
	}
	if (rest)
		rest->assign(text);
}
}

bool utf8_valid(std::string_view text)
{
	for (std::size_t i = 0, n; i < text.size(); i += n)
		if (!(n = utf8_length(text, i, false)))
			return false;
	return true;
}

int m3u_judge(std::string_view first)
{
	if (first.starts_with("\xff\xfe"))
		return m3u_utf16le;
	if (first.starts_with("\xfe\xff"))
		return m3u_utf16be;
	if (first.starts_with("\xef\xbb\xbf"))
		first.remove_prefix(3);
	const std::string_view head = first.substr(0, std::min(first.size(), m3u_look + 3));
	return memchr(head.data(), '\0', head.size()) || !utf8_start_valid(first) ? m3u_not_text : m3u_utf8;
}

bool m3u_take(m3u_reader *r, std::string_view piece, bool last, std::string_view list_path,
	      std::vector<std::string> *entries)
{
	std::string bytes = std::move(r->cut_bytes);
	bytes.append(piece);
	std::string_view b = bytes;
	if (!r->started) {
		const std::size_t mark = r->encoding == m3u_utf8 ? 3 : 2;
		// Too short yet to tell a byte-order mark from text.
		if (b.size() < mark && !last) {
			r->cut_bytes = std::move(bytes);
			return true;
		}
		if (r->encoding != m3u_utf8 || b.starts_with("\xef\xbb\xbf"))
			b.remove_prefix(std::min(mark, b.size()));
		r->started = true;
	}
	std::string text = std::move(r->cut_line);
	if (r->encoding == m3u_utf8) {
		if (memchr(b.data(), '\0', b.size()))
			return false;
		text.append(b);
	} else {
		std::size_t used;
		if (!utf16_to_utf8(b, r->encoding == m3u_utf16be, last, &text, &used))
			return false;
		r->cut_bytes.assign(b.substr(used));
	}
	take_lines(text, list_path, last ? nullptr : &r->cut_line, entries);
	return true;
}

bool m3u_text(std::string_view bytes, std::string *text)
{
	m3u_reader r{.encoding = m3u_judge(bytes)};
	if (r.encoding == m3u_not_text)
		return false;
	// The text itself, as the reader makes it: the lines are not split yet.
	std::string_view b = bytes;
	b.remove_prefix(r.encoding == m3u_utf8 ? (b.starts_with("\xef\xbb\xbf") ? 3 : 0) : 2);
	text->clear();
	std::size_t used;
	if (r.encoding != m3u_utf8)
		return utf16_to_utf8(b, r.encoding == m3u_utf16be, true, text, &used);
	if (memchr(b.data(), '\0', b.size()))
		return false;
	text->assign(b);
	return true;
}

std::vector<std::string> m3u_entries(std::string_view text, std::string_view list_path)
{
	std::vector<std::string> entries;
	take_lines(text, list_path, nullptr, &entries);
	return entries;
}
