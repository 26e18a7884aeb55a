// The tag reader on arbitrary file bytes, and the entry parser on the same
// bytes taken as one comment entry. Whatever the input, every tag text is
// printable UTF-8 of exactly its width in characters, terminated within its
// room (a value may hold zero bytes of its own).
#include "playback/stream.h"
#include "playback/printable.h"
#include "playback/tags.h"

#include <cstring>

#include "harness.h"

static void check_text(const char *t, int width)
{
	const std::size_t len = strnlen(t, static_cast<std::size_t>(tag_room(width)));
	char again[tag_room(tag_width)];
	std::size_t chars = 0;
	if (len == static_cast<std::size_t>(tag_room(width)) ||
	    printable_prefix(reinterpret_cast<const unsigned char *>(t), len, len, len, again, &chars) != len ||
	    memcmp(again, t, len) != 0 || chars != static_cast<std::size_t>(width))
		__builtin_trap();
}

static void check_widths()
{
	const stream_record &s = file_info;
	for (const char *t : {s.title, s.artist, s.album, s.genre, s.comment})
		check_text(t, tag_width);
	check_text(s.year, year_width);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	tags_reset(&file_info);
	read_vorbis_tags(bytes_as_file(data, size));
	check_widths();
	apply_vorbis_comment(&file_info, data, static_cast<uint32_t>(size));
	check_widths();
	return 0;
}
