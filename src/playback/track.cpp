// Tracks: the sample ranges of one stream that a cue sheet makes, played one
// after another on the open stream, gaplessly, each announced as a stream
// is and each its own stream on a WAV output.
#include "playback/stream.h"
#include "playback/printable.h"
#include "playback/tags.h"
#include "output/output.h"

#include <cstring>
#include <string>

namespace {
// The stream's own tag texts, kept when it opens: each of its tracks shows
// its cue sheet's texts over them.
struct tag_texts {
	char title[tag_room(tag_width)], artist[tag_room(tag_width)], album[tag_room(tag_width)],
		genre[tag_room(tag_width)], comment[tag_room(tag_width)], year[tag_room(year_width)];
} own_tags;

template <std::size_t N>
void copy(char (&to)[N], const char (&from)[N])
{
	memcpy(to, from, N);
}

// The six texts, from the stream's record to own_tags or back.
template <typename To, typename From>
void copy_tags(To &to, const From &from)
{
	copy(to.title, from.title), copy(to.artist, from.artist), copy(to.album, from.album);
	copy(to.genre, from.genre), copy(to.comment, from.comment), copy(to.year, from.year);
}

void show_track(const cue_track &track)
{
	copy_tags(file_info, own_tags);
	apply_cue_track(&file_info, track);
}

void take_range(const cue_track *track)
{
	file_info.range_start = track ? track->start : 0;
	file_info.range_end = track ? track->end : 0;
	file_info.range_done = 0;
}

// The last stream found to end before its stated total, and where: a file
// cut short (a download stopped) with the cue sheet of the whole.
struct {
	std::string path;
	uint64_t end = 0;
} early_end;

// The track at start cannot be reached. When it lies past the stream's
// data, that is told once for the stream, with its early end, and stopped
// says so.
void check_past_end(uint64_t start)
{
	stream_record &s = file_info;
	if (early_end.path != stream_path()) {
		const uint64_t end = stream_data_end(start);
		if (end > start || !report_short(end, s.total_samples))
			return;
		note_early_end(end);
	}
	if (early_end_told(start))
		s.stopped = stop_past_end;
}
}

int early_end_told(uint64_t at)
{
	return early_end.path == stream_path() && at >= early_end.end;
}

int start_track(const cue_track *track)
{
	take_range(track);
	if (!track)
		return 1;
	copy_tags(own_tags, file_info);
	show_track(*track);
	// Not yet playing: the frame the seek lands in is held for the first
	// decode call, as the first frame was.
	if (track->start == 0 || stream_seek(track->start))
		return 1;
	check_past_end(track->start);
	return 0;
}

void note_early_end(uint64_t played)
{
	early_end = {stream_path(), played};
}

int stream_continues_to(const char *path, const cue_track *track)
{
	const stream_record &s = file_info;
	return track && s.is_loaded && s.range_done && s.stopped == stop_none && s.range_end == track->start &&
	       s.current_sample == track->start && strcmp(stream_path(), path) == 0;
}

int stream_next_track(const cue_track &track)
{
	stream_record &s = file_info;
	// Each track is a stream of its own on the output: a WAV output's is
	// complete (its header states it) before the next begins.
	if (!output_end_stream())
		output_print_failure(failure_prefix());
	take_range(&track);
	show_track(track);
	s.frames_to_progress = 0;
	if (!output_accepts(printable(stream_path()).c_str(), s.format, stream_track_length(), failure_prefix()) ||
	    !output_open(s.format)) {
		s.stopped = stop_output_failed;
		return 0;
	}
	announce_stream(stream_path(), 1);
	return 1;
}

uint64_t stream_track_position()
{
	const stream_record &s = file_info;
	return s.current_sample > s.range_start ? s.current_sample - s.range_start : 0;
}

uint64_t stream_track_length()
{
	const stream_record &s = file_info;
	const uint64_t end = s.range_end ? s.range_end : s.total_samples;
	return end > s.range_start ? end - s.range_start : 0;
}
