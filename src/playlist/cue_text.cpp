// Cue text as rippers write it, made fit for libcue: values left unquoted
// quoted whole, and the TRACK numbers that libcue reads but does not give
// back. Text that is not UTF-8 is Windows-1252.
#include "playlist/cue.h"

#include <cstdlib>

namespace {
// Windows-1252 at 0x80-0x9F; 0 where it has no character (the byte then
// stands for its own code point, as in Latin-1).
constexpr char16_t cp1252_high[32] = {
	0x20ac, 0,      0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
	0x2039, 0x0152, 0,      0x017d, 0,      0,      0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
	0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0,      0x017e, 0x0178,
};

void put_utf8(std::string *out, unsigned cp)
{
	if (cp < 0x80) {
		*out += static_cast<char>(cp);
	} else if (cp < 0x800) {
		*out += static_cast<char>(0xc0 | (cp >> 6));
		*out += static_cast<char>(0x80 | (cp & 0x3f));
	} else {
		*out += static_cast<char>(0xe0 | (cp >> 12));
		*out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
		*out += static_cast<char>(0x80 | (cp & 0x3f));
	}
}

bool is_blank(char c)
{
	return c == ' ' || c == '\t';
}

// The keywords whose value libcue reads as one word unless quoted.
int quoted_field(std::string_view keyword)
{
	if (keyword == "TITLE")
		return cue_title;
	if (keyword == "PERFORMER")
		return cue_performer;
	return keyword == "SONGWRITER" ? cue_songwriter : -1;
}

// A TRACK line's number: its digits, 0 when it has none.
int track_number(std::string_view rest)
{
	std::size_t digits = 0;
	while (digits < rest.size() && digits < 4 && rest[digits] >= '0' && rest[digits] <= '9')
		digits++;
	return digits ? atoi(std::string(rest.substr(0, digits)).c_str()) : 0;
}

// One line of cue text (without its line feed) into *out, its value quoted
// when a keyword's value is not.
void prepare_line(std::string_view line, cue_prepared *out)
{
	std::size_t at = 0;
	while (at < line.size() && is_blank(line[at]))
		at++;
	std::size_t end_of_word = at;
	while (end_of_word < line.size() && !is_blank(line[end_of_word]) && line[end_of_word] != '\r')
		end_of_word++;
	const std::string_view keyword = line.substr(at, end_of_word - at);
	std::size_t value = end_of_word;
	while (value < line.size() && is_blank(line[value]))
		value++;
	std::size_t value_end = line.size();
	while (value_end > value && (is_blank(line[value_end - 1]) || line[value_end - 1] == '\r'))
		value_end--;
	const std::string_view rest = line.substr(value, value_end - value);
	if (keyword == "TRACK")
		out->numbers.push_back(track_number(rest));
	const int field = quoted_field(keyword);
	if (field < 0 || rest.empty() || rest[0] == '"') {
		out->text.append(line);
		return;
	}
	// libcue keeps a backslash and what it escapes as they are: a value
	// that needs one is told, to be taken back out.
	std::string quoted;
	for (const char c : rest) {
		if (c == '"' || c == '\\')
			quoted += '\\';
		quoted += c;
	}
	if (quoted.size() != rest.size())
		out->escaped.push_back({static_cast<int>(out->numbers.size()), field});
	out->text.append(line.substr(0, value)).append("\"").append(quoted).append("\"");
	out->text.append(line.substr(value_end));
}
}

std::string cp1252_to_utf8(std::string_view s)
{
	std::string out;
	for (const char c : s) {
		const unsigned char b = static_cast<unsigned char>(c);
		const char16_t high = b >= 0x80 && b < 0xa0 ? cp1252_high[b - 0x80] : 0;
		put_utf8(&out, high ? high : b);
	}
	return out;
}

cue_prepared cue_prepare(std::string_view text)
{
	cue_prepared out;
	out.text.reserve(text.size() + 64);
	while (!text.empty()) {
		const std::size_t lf = text.find('\n');
		prepare_line(text.substr(0, lf), &out);
		out.text += '\n';
		text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
	}
	return out;
}

std::string cue_unescaped(std::string_view value)
{
	std::string out;
	for (std::size_t i = 0; i < value.size(); i++) {
		if (value[i] == '\\' && i + 1 < value.size())
			i++;
		out += value[i];
	}
	return out;
}
