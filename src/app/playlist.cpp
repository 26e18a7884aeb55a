// Playlist mode: what the command line names, one entry after another,
// round after round with repeat. Frame by frame, so that the keys at the
// terminal (and the desktop's) are heard between frames, as the remote loop
// hears its commands: all of them ask for the same actions, carried out
// by requests.cpp.
#include "app/settings.h"
#include "mpris/mpris.h"
#include "output/output.h"
#include "playback/stream.h"
#include "playback/printable.h"
#include "playback/reason.h"
#include "playback/request.h"
#include "playback/source.h"
#include "playlist/playlist.h"
#include "terminal/terminal.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

// The entry being opened: the desktop is told of it once it is awaited.
static struct {
	const playlist *list;
	const playlist_entry *opening;
	int opening_told;
} run;

// The list playing, which a URL's tracks join as it opens.
static playlist *playing;

static int take_url_tracks(const char *url, const stream_cue_facts &facts)
{
	return playlist_cut_stream(playing, playing->position, url, facts) > 0;
}

// How long a paused player sleeps between two steps of a walk that is not
// done: the walk goes on, without spinning.
static constexpr int paused_walk_ms = 100;

// How long the walk may go on between two frames: well within what an
// output device holds, so that the walk never makes playback stutter.
static constexpr int walk_budget_us = 1000;

// Files of this run that did not open because the live device did not, and
// whether the listener has been told what to do about it.
static int device_failures, device_advised;

// "Error opening NAME (REASON)", without the reason when there is none to
// give.
static void print_open_error(const char *path, const open_failure &why)
{
	const std::string reason = failure_text(why);
	if (reason.empty())
		fprintf(stderr, "Error opening %s\n", shown_name(path).c_str());
	else
		fprintf(stderr, "Error opening %s (%s)\n", shown_name(path).c_str(), reason.c_str());
}

void playlist_report(int problem, const char *path, int err)
{
	static const char *const lines[] = {
		nullptr,
		"No FLAC files in %s\n",
		"Playlist nested too deep: %s\n",
		"Not a playlist: %s (%s)\n",
		"Error reading cue sheet %s\n",
		"Playlist too long: %s\n",
		"No entries in %s\n",
	};
	static_assert(problem_no_entries == 6);
	if (problem == problem_unreadable)
		print_open_error(path, err ? failure_of_path(err, path) : open_failure{});
	else
		fprintf(stderr, lines[problem], shown_name(path).c_str(), failure_text({reason_not_text}).c_str());
}

// Once a run, after the first file the live device failed: which driver
// gave no sound, and what to try. A sound server's driver fails so when
// no server runs.
static void advise_on_device()
{
	if (device_advised++)
		return;
	static const char *const servers[] = {"pulse", "esd", "arts", "nas", "roar", "sndio"};
	const char *driver = output_driver_name();
	const char *question = "is the sound device there, and free?";
	for (const char *server : servers)
		if (strcmp(driver, server) == 0)
			question = "is a sound server running?";
	fprintf(stderr, "No sound from libao's \"%s\" driver: %s Choose another with -d, or write a file with --wav.\n",
		printable(driver).c_str(), question);
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
// goes on between frames, and now and then while paused.
static int play_stream(playlist *list)
{
	// A stream opened paused shows so at once; a playing one once its first
	// frame has gone out.
	for (int changed = !file_info.is_playing;; changed = 0) {
		const bool walking = !list->walk.empty();
		playlist_walk_for(list, walk_budget_us);
		// Once the walk is done, the desktop knows whether a next entry
		// follows.
		if (walking && list->walk.empty())
			mpris_changed(playlist_list_state(*list));
		changed |= frontends_take_redraw();
		for (request r; request_pop(&r); changed = 1) {
			const int end = playlist_carry_out(list, r);
			if (end >= 0)
				return playlist_moved(end);
			playlist_tell_desktop(*list, r);
		}
		if (changed)
			show_status(*list, 1);
		if (interrupted == 1 || fatal_signal)
			return file_done;
		if (file_info.is_playing) {
			if (!stream_decode() || stream_ended()) {
				// A read that gave up for a request: the request is
				// carried out here, once, not again on the next entry.
				if (file_info.stopped == stop_given_up)
					return playlist_moved_off(list);
				if (interrupted == 1 || fatal_signal || !stream_next_link())
					return file_done;
				announced();
				mpris_next_link();
				mpris_changed(playlist_list_state(*list));
			}
			// Never drawn more often than frames come, and then seldom.
			show_status(*list, 0);
		}
		// Between frames the front ends are looked at without waiting;
		// paused, the wait sleeps until one of them, or a signal, has
		// something, and while the walk goes on, a step at a time.
		frontends_wait(-1, file_info.is_playing ? 0 : !list->walk.empty() ? paused_walk_ms : -1);
	}
}

// Ends the open stream after end (a file_end): tells how it ended, and
// closes it. Sets *missed when a WAV output would miss part of it (a
// listener left it before its end: a skip, a stop) or hold damaged audio.
static void end_stream(int end, int *missed)
{
	const bool left = end != file_done || interrupted == 1 || file_info.stopped == stop_given_up;
	// A skip the listener asked for is not a stream that ended early: no
	// line, but not all of it is in the output.
	if (left && file_info.stopped == stop_none)
		file_info.stopped = stop_skipped;
	if (left)
		*missed = 1;
	if (!fatal_signal && stream_report_end())
		*missed = 1;
	interrupted = 0;
	// A WAV output of a damaged stream is not what was encoded.
	if (stream_close())
		*missed = 1;
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
	print_open_error(path, file_info.failure);
	if (file_info.failure.reason == reason_no_device) {
		device_failures++;
		advise_on_device();
	}
	*missed = 1;
	return 0;
}

int playlist_give_up()
{
	// The entry being opened is awaited: the desktop is told which it is,
	// and that nothing plays yet, instead of the entry before.
	if (run.opening && !run.opening_told && !file_info.is_loaded) {
		const playlist_entry &e = *run.opening;
		run.opening_told = 1;
		mpris_now_playing({run.list->position, e.path.c_str(), e.track ? e.track->number : 0});
		mpris_changed(playlist_list_state(*run.list));
	}
	return interrupted == 1 || fatal_signal || request_moves_off();
}

// Plays one entry: a stream, or a track of one. Sets *opened when it
// opened, and *missed when a WAV output would miss part of it or hold
// damaged audio. A track that ended at its last sample leaves its stream
// open, for the track that follows to go on from there.
static int play_entry(const playlist_entry &entry, playlist *list, int *opened, int *missed)
{
	run.list = list;
	run.opening = &entry;
	run.opening_told = 0;
	const int started = start_entry(entry, list, missed);
	run.opening = nullptr;
	if (started < 0)
		return file_replaced;
	if (!started) {
		if (file_info.stopped != stop_given_up)
			return file_done;
		// Given up for a listener's request: the entry is missing.
		*missed = 1;
		return playlist_moved_off(list);
	}
	*opened = 1;
	announced();
	if (playlist_state.stay_paused) {
		request_apply({act_pause, 0, 0});
		playlist_state.stay_paused = 0;
	}
	mpris_now_playing({list->position, entry.path.c_str(), entry.track ? entry.track->number : 0});
	mpris_changed(playlist_list_state(*list));
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
	int missed = 0, quit = 0, opened_any = 0;
	playlist_entry entry;
	playlist_state.repeat = playlist_config.repeat;
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
		opened_any |= opened;
		// A list of which nothing opens must not go round for ever.
		rounds.repeat = playlist_state.repeat;
		if (!opened || quit || fatal_signal || !playlist_next_round(&list))
			break;
	}
	// A track that ended where the list did, short of its stream's end.
	if (file_info.is_loaded)
		end_stream(file_done, &missed);
	terminal_stop();
	playback_config.take_tracks = nullptr;
	playing = nullptr;
	// A run that played nothing for want of a device has failed, whatever
	// else was wrong with the list.
	return (output_is_conversion() && (missed || list.problems)) || (device_failures && !opened_any);
}
