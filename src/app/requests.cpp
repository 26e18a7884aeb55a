// Playlist mode's requests carried out: the list's own (next, previous, a
// URI to open, shuffle, repeat, stop) here, the stream's by request_apply;
// and what the desktop is told of them.
#include "app/settings.h"
#include "playback/source.h"
#include "playback/stream.h"
#include "terminal/terminal.h"

#include <cstdint>

playlist_run playlist_state;

mpris_list playlist_list_state(const playlist &list)
{
	return {playlist_state.repeat, list.shuffle, playlist_state.repeat || playlist_has_next(list)};
}

void playlist_tell_desktop(const playlist &list, const request &r)
{
	if ((r.action == act_seek_by || r.action == act_seek_to || r.action == act_previous) && source_seekable())
		mpris_seeked();
	mpris_changed(playlist_list_state(list));
}

// The stream's sample at us microseconds from sample from, never before
// the start of the entry (the track's first sample).
static uint64_t sample_after(uint64_t from, int64_t us)
{
	const __int128 step = static_cast<__int128>(us) * file_info.format.rate / 1000000;
	const __int128 target = static_cast<__int128>(from) + step;
	const uint64_t start = file_info.range_start;
	return target < start ? start : target > INT64_MAX ? INT64_MAX : static_cast<uint64_t>(target);
}

// A seek to target: on past a stated end (of the stream, or of its track)
// is the next entry (file_skipped); a stream read once does not move at
// all. -1 when playback goes on.
static int seek_to(uint64_t target)
{
	if (!source_seekable())
		return -1;
	const uint64_t end = file_info.range_end ? file_info.range_end : file_info.total_samples;
	if (end && target >= end)
		return file_skipped;
	request_apply({act_seek_sample, static_cast<int64_t>(target), 0});
	return -1;
}

int playlist_carry_out(playlist *list, const request &r)
{
	switch (r.action) {
	case act_seek_by:
		return seek_to(sample_after(file_info.current_sample, r.amount));
	case act_seek_to:
		return seek_to(sample_after(file_info.range_start, r.amount));
	case act_next:
		return file_skipped;
	case act_previous:
		// Some way into a file, "back" is its start.
		if (file_info.is_loaded && stream_track_position() > 3 * static_cast<uint64_t>(file_info.format.rate)) {
			stream_seek(file_info.range_start);
			return -1;
		}
		return file_previous;
	case act_open:
		// What it names plays next; nothing found (told) changes nothing.
		return playlist_insert(list, r.text) ? file_skipped : -1;
	case act_stop:
		return run_quit;
	case act_help:
		terminal_help();
		return -1;
	case act_repeat:
		playlist_state.repeat = r.amount != 0;
		return -1;
	case act_shuffle:
		playlist_shuffle(list, r.amount != 0);
		return -1;
	}
	request_apply(r);
	return -1;
}

int playlist_moved(int end)
{
	// A move while an entry is awaited keeps what was asked before it.
	if (file_info.is_loaded)
		playlist_state.stay_paused = end != run_quit && !file_info.is_playing;
	return end;
}

int playlist_moved_off(playlist *list)
{
	if (interrupted == 1 || !request_moves_off()) {
		interrupted = 0;
		return file_skipped;
	}
	// Requests for the stream itself (a pause) wait for the next one.
	for (request r; request_pop(&r);) {
		const int end = playlist_carry_out(list, r);
		if (end >= 0)
			return playlist_moved(end);
	}
	// Back to the start of a stream read once: it cannot go on.
	return file_done;
}

