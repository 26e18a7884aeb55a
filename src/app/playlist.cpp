// Playlist mode: what the command line names, one entry after another,
// round after round with repeat. Frame by frame, so that the keys at the
// terminal are looked at between frames, as the remote loop does with its
// commands: both ask playback for the same actions.
#include "app/settings.h"
#include "playback/stream.h"
#include "playback/printable.h"
#include "playlist/playlist.h"
#include "terminal/terminal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
// Where the list goes after a file.
enum file_end { file_done, file_skipped, file_previous, run_quit };
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
	};
	fprintf(stderr, lines[problem], printable(path).c_str());
}

// The status line for the open stream, the list's current entry (a count
// of 0 is not known yet).
static void show_status(const playlist &list, int now)
{
	const stream_record &s = file_info;
	terminal_status({s.current_sample, s.total_samples, s.format.rate, static_cast<int>(list.position + 1),
			 static_cast<int>(playlist_count(list)), !s.is_playing, volume},
			now);
}

// A key's seek by seconds: back past the start is the start; on past a
// stated end is the next file (file_skipped). -1 when playback goes on.
static int seek_by(int seconds)
{
	const stream_record &s = file_info;
	const int64_t step = static_cast<int64_t>(seconds) * s.format.rate;
	const int64_t now = static_cast<int64_t>(s.current_sample);
	if (s.total_samples && step > 0 && now + step >= static_cast<int64_t>(s.total_samples))
		return file_skipped;
	stream_seek(static_cast<uint64_t>(std::max<int64_t>(now + step, 0)));
	return -1;
}

// Carries out a key. -1 when playback of the file goes on.
static int act(const key_request &key)
{
	switch (key.action) {
	case key_pause:
		stream_toggle_pause();
		return -1;
	case key_seek:
		return seek_by(key.amount);
	case key_next:
		return file_skipped;
	case key_previous:
		// Some way into a file, "back" is its start.
		if (file_info.current_sample > 3 * static_cast<uint64_t>(file_info.format.rate)) {
			stream_seek(0);
			return -1;
		}
		return file_previous;
	case key_volume: {
		const float steps = std::round(volume * 10) + static_cast<float>(key.amount);
		volume_set(std::clamp(steps, 0.0f, 20.0f) / 10);
		return -1;
	}
	case key_quit:
		return run_quit;
	case key_help:
		terminal_help();
		return -1;
	}
	return -1;
}

// Plays the open stream, link after link of a chain, until it ends, fails,
// is interrupted, a signal ends the run or a key moves on. The walk goes on
// between frames.
static int play_stream(playlist *list)
{
	for (;;) {
		playlist_walk_for(list, walk_budget_us);
		if (file_info.is_playing) {
			if ((!stream_decode() || stream_ended()) && (interrupted == 1 || fatal_signal || !stream_next_link()))
				return file_done;
			// Never drawn more often than frames come, and then seldom.
			show_status(*list, 0);
		}
		if (interrupted == 1 || fatal_signal)
			return file_done;
		// Paused, nothing is decoded: the wait is for keys, in slices, so
		// that an interrupt or a signal is seen.
		key_request key = terminal_key(file_info.is_playing ? 0 : 100);
		if (key.action == key_none)
			continue;
		int end = act(key);
		if (end >= 0)
			return end;
		show_status(*list, 1);
	}
}

// Plays one entry. Sets *opened when it opened, and *missed when a WAV
// output would miss part of it.
static int play_entry(const std::string &path, playlist *list, int *opened, int *missed)
{
	if (!stream_open(path.c_str())) {
		if (file_info.stopped == stop_given_up) {
			// An interrupt while the file kept us waiting skipped it.
			interrupted = 0;
		} else {
			playlist_report(problem_unreadable, path.c_str());
			*missed = 1;
		}
		return file_done;
	}
	*opened = 1;
	int end = play_stream(list);
	// A skip the listener asked for is not a stream that ended early.
	if ((end != file_done || interrupted == 1) && file_info.stopped == stop_none)
		file_info.stopped = stop_skipped;
	if (!fatal_signal && stream_report_end())
		*missed = 1;
	interrupted = 0;
	stream_close();
	return end;
}

int playlist_loop(poptContext con)
{
	if (sigint_install() != 0)
		fputs("signal handler setup failed.\n", stderr);

	std::vector<std::string> args;
	while (const char *arg = poptGetArg(con))
		args.emplace_back(arg);
	playlist list;
	playlist_start(&list, std::move(args), playlist_config);

	terminal_start();
	signals_install_terminal(terminal_release);
	// Only a WAV output is incomplete when a file is missing from it: a
	// listener has heard the gap and seen the line. What the walk could not
	// read or found empty is as good as a file that could not be opened.
	int missed = 0, quit = 0;
	playlist_entry entry;
	for (;;) {
		int opened = 0;
		while (!fatal_signal && !quit && playlist_entry_at(&list, list.position, &entry)) {
			int end = play_entry(entry.path, &list, &opened, &missed);
			if (end == file_previous)
				list.position -= list.position > 0 ? 1 : 0;
			else
				list.position++;
			quit = end == run_quit || quit_requested == 1;
		}
		// A list of which nothing opens must not go round for ever.
		if (!opened || quit || fatal_signal || !playlist_next_round(&list))
			break;
	}
	terminal_stop();
	return opt_wav && (missed || list.problems);
}
