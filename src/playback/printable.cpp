// The printable form of text from files and front ends (tags, names): what
// reaches a terminal or an event line can neither drive the terminal nor
// split the line, and is valid UTF-8.
#include "playback/printable.h"
#include "net/net.h"

// Length of the valid UTF-8 sequence at text (1 to 4) with its code point
// in *cp, or 0 when the first byte starts none: a stray continuation byte,
// an overlong form, a surrogate, beyond U+10FFFF, or cut short.
static std::size_t utf8_sequence(const unsigned char *text, std::size_t length, uint32_t *cp)
{
	const unsigned char b = text[0];
	std::size_t n;
	unsigned char lo = 0x80, hi = 0xbf;  // the range of the second byte
	if (b < 0x80) {
		*cp = b;
		return 1;
	} else if (b >= 0xc2 && b <= 0xdf) {
		n = 2;
		*cp = b & 0x1f;
	} else if (b >= 0xe0 && b <= 0xef) {
		n = 3;
		*cp = b & 0x0f;
		lo = b == 0xe0 ? 0xa0 : 0x80;
		hi = b == 0xed ? 0x9f : 0xbf;
	} else if (b >= 0xf0 && b <= 0xf4) {
		n = 4;
		*cp = b & 0x07;
		lo = b == 0xf0 ? 0x90 : 0x80;
		hi = b == 0xf4 ? 0x8f : 0xbf;
	} else {
		return 0;
	}
	if (length < n || text[1] < lo || text[1] > hi)
		return 0;
	for (std::size_t i = 1; i < n; i++) {
		if (i > 1 && (text[i] < 0x80 || text[i] > 0xbf))
			return 0;
		*cp = (*cp << 6) | (text[i] & 0x3f);
	}
	return n;
}

static bool is_control(uint32_t cp)
{
	return cp < 0x20 || (cp >= 0x7f && cp <= 0x9f);
}

std::size_t printable_prefix(const unsigned char *text, std::size_t length, std::size_t max_chars,
			     std::size_t max_bytes, char *out, std::size_t *chars)
{
	std::size_t at = 0, written = 0, count = 0;
	while (at < length && count < max_chars) {
		uint32_t cp = 0;
		std::size_t n = utf8_sequence(text + at, length - at, &cp);
		// A bad byte is one "?"; a control character, whatever its length.
		const bool shown = n && !is_control(cp);
		const std::size_t size = shown ? n : 1;
		if (written + size > max_bytes)
			break;
		if (shown) {
			for (std::size_t i = 0; i < n; i++)
				out[written + i] = static_cast<char>(text[at + i]);
		} else {
			out[written] = '?';
		}
		written += size;
		at += n ? n : 1;
		count++;
	}
	*chars = count;
	return written;
}

std::string printable(std::string_view text)
{
	std::string out(text.size(), '\0');
	std::size_t chars;
	std::size_t n = printable_prefix(reinterpret_cast<const unsigned char *>(text.data()), text.size(),
					 text.size(), text.size(), out.data(), &chars);
	out.resize(n);
	return out;
}

std::string unicode_text(std::string_view text)
{
	const auto *t = reinterpret_cast<const unsigned char *>(text.data());
	std::string out;
	out.reserve(text.size());
	for (std::size_t at = 0; at < text.size();) {
		uint32_t cp = 0;
		const std::size_t n = utf8_sequence(t + at, text.size() - at, &cp);
		const bool noncharacter = (cp >= 0xfdd0 && cp <= 0xfdef) || (cp & 0xfffe) == 0xfffe;
		if (n && cp != 0 && !noncharacter)
			out.append(text.substr(at, n));
		else
			out.append("\xef\xbf\xbd");
		at += n ? n : 1;
	}
	return out;
}

std::string shown_name(std::string_view name)
{
	return printable(net_is_url(name) ? net_stripped_url(name) : std::string(name));
}
