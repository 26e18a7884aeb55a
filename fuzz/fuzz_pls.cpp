// PLS lists and playlists fetched over the network, on arbitrary bytes:
// every entry is a non-empty path without a NUL byte, never "-"; and what
// a fetched list puts into the playlist is only ever an http(s) URL, so
// that no page can make the player read this machine's files.
#include "net/net.h"
#include "playlist/playlist.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string_view bytes(reinterpret_cast<const char *>(data), size);
	std::string text;
	if (m3u_text(bytes, &text))
		for (const std::string &entry : pls_entries(text, "lists/x.pls"))
			if (entry.empty() || entry == "-" || entry.find('\0') != std::string::npos)
				__builtin_trap();
	static const playlist_settings settings{};
	playlist list;
	playlist_start(&list, {}, settings);
	list.entries = {{"http://h/before.flac"}, {"http://h/dir/list.pls?k=v"}, {"http://h/after.flac"}};
	const int added =
		playlist_insert_fetched(&list, 1, list.entries[1].path, bytes, size % 2 == 0, size % 3 ? "audio/x-mpegurl" : "");
	if (added >= 0 && list.entries.size() != static_cast<std::size_t>(added) + 2)
		__builtin_trap();
	for (const playlist_entry &entry : list.entries)
		if (!net_is_url(entry.path))
			__builtin_trap();
	return 0;
}
