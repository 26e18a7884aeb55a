// Playlist mode: what the command line names, one entry after another,
// round after round with repeat. Frame by frame, so that the keys at the
// terminal (and the desktop's) are heard between frames, as the remote loop
// hears its commands: all of them ask for the same actions, carried out
// here.
#include "app/settings.h"
#include "mpris/mpris.h"
#include "output/output.h"
#include "playback/stream.h"
#include "playback/printable.h"
#include "playback/request.h"
#include "playback/source.h"
#include "playlist/playlist.h"
#include "terminal/terminal.h"

#include <cstdint>
#include <cstdio>

namespace {
// Where the list goes after a file.
enum file_end { file_done, file_skipped, file_previous, run_quit, file_replaced };
}

// Repeat as the command line set it, switched at run time by a request.
static int repeating;
// The list playing, which a URL's tracks join as it opens.
static playlist *playing;

static int take_url_tracks(const char *url, const stream_cue_facts &facts)
{
	return playlist_cut_stream(playing, playing->position, url, facts) > 0;
}

// The desktop hears what a request carried out changed, and of every seek,
// whoever asked for it.
static void tell_desktop(const request &r)
{
	if ((r.action == act_seek_by || r.action == act_seek_to || r.action == act_previous) && source_seekable())
		mpris_seeked();
	mpris_changed(repeating);
}

// How long the walk may go on between two frames: well within what an
// output device holds, so that the walk never makes playback stutter.
static constexpr int walk_budget_us = 1000;

void playlist_report(int problem, const char *path)
{
	static const char *const lines[] = {
		"Error opening %s\n",
		"No FLAC files in %s\n",
		"Playlist nested too deep: %s\n",
		"Not a playlist: %s\n",
		"Error reading cue sheet %s\n",
		"Playlist too long: %s\n",
	};
	static_assert(problem_too_long == 5);
	fprintf(stderr, lines[problem], shown_name(path).c_str());
}

// The status line for the open stream (its track), the list's current
// entry (a count of 0 is not known yet).
static void show_status(const playlist &list, int now)
{
	const stream_record &s = file_info;
	terminal_status({stream_track_position(), stream_track_length(), s.format.rate,
			 static_cast<int>(list.position + 1), static_cast<int>(playlist_count(list)), !s.is_playing,
			 volume},
			now);
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

// Carries out a request on the playing entry: the list's own here, the
// stream's by request_apply. -1 when playback of the entry goes on.
static int carry_out(const request &r)
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
	case act_stop:
		return run_quit;
	case act_help:
		terminal_help();
		return -1;
	case act_repeat:
		repeating = r.amount != 0;
		return -1;
	}
	request_apply(r);
	return -1;
}

// After a stream (or a link of a chain) opened and was announced: the sound
// server's client takes SIGPIPE for itself when it connects, and the reader
// of standard output going away must still end the run.
static void announced()
{
	signals_reclaim();
	if (ferror(stdout))
		signals_output_gone();
}

// Plays the open stream, link after link of a chain, until it ends, fails,
// is interrupted, a signal ends the run or a front end moves on. The walk
// goes on between frames, and while paused.
static int play_stream(playlist *list)
{
	for (;;) {
		playlist_walk_for(list, walk_budget_us);
		int changed = frontends_take_redraw();
		for (request r; request_pop(&r); changed = 1) {
			const int end = carry_out(r);
			if (end >= 0)
				return end;
			tell_desktop(r);
		}
		if (changed)
			show_status(*list, 1);
		if (interrupted == 1 || fatal_signal)
			return file_done;
		if (file_info.is_playing) {
			if (!stream_decode() || stream_ended()) {
				if (interrupted == 1 || fatal_signal || !stream_next_link())
					return file_done;
				announced();
				mpris_next_link();
				mpris_changed(repeating);
			}
			// Never drawn more often than frames come, and then seldom.
			show_status(*list, 0);
		}
		// Between frames the front ends are looked at without waiting;
		// paused, once the walk is done, the wait sleeps until one of them,
		// or a signal, has something.
		frontends_wait(-1, file_info.is_playing || !list->walk.empty() ? 0 : -1);
	}
}

// After an open that gave up waiting for its stream: the request that moved
// off it, carried out with those before it; requests for the stream itself
// (a pause) wait for the next one. An interrupt skips it.
static int moved_off()
{
	request r;
	if (interrupted == 1 || !request_moves_off()) {
		interrupted = 0;
		return file_skipped;
	}
	for (;;) {
		request_pop(&r);
		const int end = carry_out(r);
		if (end >= 0)
			return end;
	}
}

// Ends the open stream after end (a file_end): tells how it ended, and
// closes it. Sets *missed when a WAV output would miss part of it or hold
// damaged audio.
static void end_stream(int end, int *missed)
{
	// A skip the listener asked for is not a stream that ended early.
	if ((end != file_done || interrupted == 1) && file_info.stopped == stop_none)
		file_info.stopped = stop_skipped;
	if (!fatal_signal && stream_report_end())
		*missed = 1;
	interrupted = 0;
	// A WAV output of a damaged stream is not what was encoded.
	if (stream_close())
		*missed = 1;
}

// "Error opening NAME", with why when the open could tell.
static void report_open_failure(const char *path)
{
	const char *why = source_failure();
	if (*why)
		fprintf(stderr, "Error opening %s (%s)\n", shown_name(path).c_str(), why);
	else
		playlist_report(problem_unreadable, path);
}

// Opens the entry, or goes on with it on the open stream when it is the
// track that follows the one just played there. 1 when it plays; 0 after
// the line that says why not, or when the open gave up waiting; -1 when it
// was a URL that held a playlist or a cue sheet, whose entries now take its
// place.
static int start_entry(const playlist_entry &entry, playlist *list, int *missed)
{
	const char *path = entry.path.c_str();
	const cue_track *track = entry.track.get();
	if (file_info.is_loaded && stream_continues_to(path, track)) {
		if (stream_next_track(*track))
			return 1;
		end_stream(file_done, missed);
	} else {
		if (file_info.is_loaded)
			end_stream(file_done, missed);
		if (stream_open_track(path, track))
			return 1;
		if (file_info.stopped == stop_given_up)
			return 0;
		if (file_info.stopped == stop_cut)
			return -1;
		// Told already, with the stream's early end.
		if (file_info.stopped == stop_past_end) {
			*missed = 1;
			return 0;
		}
		const rejected_text &text = source_rejected();
		if (!text.bytes.empty() &&
		    playlist_insert_fetched(list, list->position, entry.path, text.bytes, text.whole != 0, text.type) >= 0)
			return -1;
	}
	report_open_failure(path);
	*missed = 1;
	return 0;
}

// Plays one entry: a stream, or a track of one. Sets *opened when it
// opened, and *missed when a WAV output would miss part of it or hold
// damaged audio. A track that ended at its last sample leaves its stream
// open, for the track that follows to go on from there.
static int play_entry(const playlist_entry &entry, playlist *list, int *opened, int *missed)
{
	if (const int started = start_entry(entry, list, missed); started <= 0)
		return started < 0 ? file_replaced : file_info.stopped == stop_given_up ? moved_off() : file_done;
	*opened = 1;
	announced();
	mpris_now_playing({list->position, entry.path.c_str(), entry.track ? entry.track->number : 0});
	mpris_changed(repeating);
	int end = play_stream(list);
	if (end == file_done && file_info.range_done && interrupted != 1 && !fatal_signal)
		return end;
	end_stream(end, missed);
	return end;
}

int playlist_loop(poptContext con)
{
	if (sigint_install() != 0)
		fputs("signal handler setup failed.\n", stderr);

	// The terminal is taken before anything is awaited: no key typed while
	// the list is made or the first stream comes is echoed, or lost. Its
	// signals are only caught when there is a terminal to give back.
	if (terminal_present())
		signals_install_terminal(terminal_release);
	terminal_start();

	std::vector<std::string> args;
	while (const char *arg = poptGetArg(con))
		args.emplace_back(arg);
	// The list reads repeat from a copy of the settings, which a request
	// switches at run time.
	playlist_settings rounds = playlist_config;
	playlist list;
	playlist_start(&list, std::move(args), rounds);
	playing = &list;
	playback_config.take_tracks = take_url_tracks;

	// Only a WAV output is incomplete when a file is missing from it: a
	// listener has heard the gap and seen the line. What the walk could not
	// read or found empty is as good as a file that could not be opened.
	int missed = 0, quit = 0;
	playlist_entry entry;
	repeating = playlist_config.repeat;
	for (;;) {
		int opened = 0;
		while (!fatal_signal && !quit && playlist_entry_at(&list, list.position, &entry)) {
			int end = play_entry(entry, &list, &opened, &missed);
			if (end == file_previous)
				list.position -= list.position > 0 ? 1 : 0;
			else if (end != file_replaced)
				list.position++;
			quit = end == run_quit || quit_requested == 1;
		}
		// A list of which nothing opens must not go round for ever.
		rounds.repeat = repeating;
		if (!opened || quit || fatal_signal || !playlist_next_round(&list))
			break;
	}
	// A track that ended where the list did, short of its stream's end.
	if (file_info.is_loaded)
		end_stream(file_done, &missed);
	terminal_stop();
	playback_config.take_tracks = nullptr;
	playing = nullptr;
	return output_is_conversion() && (missed || list.problems);
}
