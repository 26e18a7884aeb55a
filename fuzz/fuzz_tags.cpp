// The tag reader on arbitrary file bytes, and the entry parser on the same
// bytes taken as one comment entry. Whatever the input, every tag text stays
// terminated at its full width (a value may hold zero bytes of its own).
#include "playback/stream.h"

#include "harness.h"

static void check_widths()
{
	const stream_record &s = file_info;
	for (const char *t : {s.title, s.artist, s.album, s.genre, s.comment})
		if (t[tag_width] != '\0')
			__builtin_trap();
	if (s.year[year_width] != '\0')
		__builtin_trap();
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
