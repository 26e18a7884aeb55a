// Playlist files on arbitrary bytes: the text check and the entry parser.
// Whatever the input, every entry is a non-empty path without a NUL byte,
// and none is "-" (standard input): a list names files, not the terminal.
#include "playlist/playlist.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::string text;
	if (!m3u_text({reinterpret_cast<const char *>(data), size}, &text))
		return 0;
	for (const char *list : {"lists/x.m3u", "x.m3u"})
		for (const std::string &entry : m3u_entries(text, list))
			if (entry.empty() || entry == "-" || entry.find('\0') != std::string::npos)
				__builtin_trap();
	return 0;
}
