// Playlist files on arbitrary bytes: the text check and the entry parser.
// Whatever the input, every entry is a non-empty path without a NUL byte,
// and none is "-" (standard input): a list names files, not the terminal.
// Read in pieces, cut where the first byte says, a list names what it
// names read whole.
#include "playlist/playlist.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string_view bytes(reinterpret_cast<const char *>(data), size);
	std::string text;
	if (!m3u_text(bytes, &text))
		return 0;
	for (const char *list : {"lists/x.m3u", "x.m3u"})
		for (const std::string &entry : m3u_entries(text, list))
			if (entry.empty() || entry == "-" || entry.find('\0') != std::string::npos)
				__builtin_trap();
	const std::size_t piece = size ? 1 + data[0] % 7 : 1;
	m3u_reader reader{.encoding = m3u_judge(bytes)};
	std::vector<std::string> entries;
	for (std::size_t at = 0; at < size; at += piece)
		if (!m3u_take(&reader, bytes.substr(at, piece), at + piece >= size, "x.m3u", &entries))
			__builtin_trap();
	if (entries != m3u_entries(text, "x.m3u"))
		__builtin_trap();
	return 0;
}
