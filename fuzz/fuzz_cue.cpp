// Cue text on arbitrary bytes: libcue's reading (in this process, so that
// its code is what is fuzzed, with the text made fit for it first) and the
// tracks made of what it read. Whatever the input, the tracks of a stream
// rise from its start, each ends where the next begins, the last at the
// stream's end, and none begins beyond it.
#include "playlist/cue.h"

#include <sanitizer/lsan_interface.h>

#include <cstdint>
#include <string>

namespace {
void check(const cue_sheet &sheet, const std::string *file, int rate, uint64_t total)
{
	std::vector<cue_track> tracks;
	const int verdict = cue_tracks(sheet, file, rate, total, &tracks);
	if ((verdict == cue_bad) != tracks.empty())
		__builtin_trap();
	for (std::size_t i = 0; i < tracks.size(); i++) {
		const cue_track &t = tracks[i];
		const bool last = i + 1 == tracks.size();
		if ((total && t.start >= total) || (last ? t.end != 0 : t.end != tracks[i + 1].start) ||
		    (!last && t.end <= t.start) || t.number < 0 || (i == 0 && t.start != 0))
			__builtin_trap();
	}
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string text(reinterpret_cast<const char *>(data), size);
	cue_sheet sheet;
	// libcue keeps what it built of text that does not parse: its fault,
	// which the player leaves to a child process; here it is not a find.
	__lsan_disable();
	const bool read = cue_parse_here(text, &sheet);
	__lsan_enable();
	if (!read)
		return 0;
	// The tracks of every FILE, and of the whole sheet as a stream's own,
	// at CD rate and an odd one, with and without a stated length.
	for (const cue_sheet::track &t : sheet.tracks)
		check(sheet, &t.file, 44100, 44100 * 60);
	check(sheet, nullptr, 44100, 0);
	check(sheet, nullptr, 7999, 7999 * 300);
	return 0;
}
