// Playlist files as other programs write them: UTF-8 or UTF-16 text, CR-LF
// or LF, paths or file:// URLs.
#include "playlist/playlist.h"
#include "playlist/cue.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace {
// Bytes looked at to tell text from anything else.
constexpr std::size_t text_look = 4096;

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

// The path of a file:// URL on this host, percent-decoded; "" when it names
// another host or decodes to no usable path.
std::string file_url_path(std::string_view url)
{
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
	const std::size_t look = std::min(s.size(), text_look);
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

// UTF-16 after its byte-order mark into UTF-8; false on a NUL or a lone
// surrogate. An odd last byte is dropped.
bool utf16_to_utf8(std::string_view b, bool big_endian, std::string *out)
{
	auto unit = [&](std::size_t i) {
		const unsigned char x = static_cast<unsigned char>(b[i]), y = static_cast<unsigned char>(b[i + 1]);
		return big_endian ? (unsigned(x) << 8) | y : (unsigned(y) << 8) | x;
	};
	out->clear();
	for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
		unsigned cp = unit(i);
		if (cp >= 0xd800 && cp <= 0xdbff && i + 3 < b.size() && unit(i + 2) >= 0xdc00 && unit(i + 2) <= 0xdfff) {
			cp = 0x10000 + ((cp - 0xd800) << 10) + (unit(i + 2) - 0xdc00);
			i += 2;
		} else if (cp == 0 || (cp >= 0xd800 && cp <= 0xdfff)) {
			return false;
		}
		put_utf8(out, cp);
	}
	return true;
}
}

bool utf8_valid(std::string_view text)
{
	for (std::size_t i = 0, n; i < text.size(); i += n)
		if (!(n = utf8_length(text, i, false)))
			return false;
	return true;
}

bool m3u_text(std::string_view bytes, std::string *text)
{
	if (bytes.starts_with("\xff\xfe") || bytes.starts_with("\xfe\xff"))
		return utf16_to_utf8(bytes.substr(2), bytes[0] == '\xfe', text);
	if (bytes.starts_with("\xef\xbb\xbf"))
		bytes.remove_prefix(3);
	if (memchr(bytes.data(), '\0', bytes.size()) || !utf8_start_valid(bytes))
		return false;
	text->assign(bytes);
	return true;
}

std::vector<std::string> m3u_entries(std::string_view text, std::string_view list_path)
{
	// Everything up to the last "/", which stays: "./" for a list in the
	// current folder, so that no entry becomes "-", standard input.
	const std::size_t slash = list_path.rfind('/');
	const std::string folder = slash == std::string_view::npos ? "./" : std::string(list_path.substr(0, slash + 1));
	const bool here = slash == std::string_view::npos;
	std::vector<std::string> entries;
	while (!text.empty()) {
		const std::size_t nl = text.find('\n');
		std::string_view line = text.substr(0, nl);
		text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
		if (line.ends_with('\r'))
			line.remove_suffix(1);
		const std::size_t first = line.find_first_not_of(" \t");
		if (first == std::string_view::npos || line[first] == '#')
			continue;
		line = line.substr(first, line.find_last_not_of(" \t") + 1 - first);
		std::string path;
		if (starts_nocase(line, "file://") && !(path = file_url_path(line)).empty())
			entries.push_back(std::move(path));
		else if (line[0] == '/' || is_url(line))
			entries.emplace_back(line);
		else if (here && line != "-")
			entries.emplace_back(line);  // as it always was: no "./" in the lines
		else
			entries.push_back(folder + std::string(line));
	}
	return entries;
}
