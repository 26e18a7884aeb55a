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

// The status line for the open stream, the index-th of count.
static void show_status(std::size_t index, std::size_t count, int now)
{
	const stream_record &s = file_info;
	terminal_status({s.current_sample, s.total_samples, s.format.rate, static_cast<int>(index + 1),
			 static_cast<int>(count), !s.is_playing, volume},
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
// is interrupted, a signal ends the run or a key moves on.
static int play_stream(std::size_t index, std::size_t count)
{
	for (;;) {
		if (file_info.is_playing) {
			if ((!stream_decode() || stream_ended()) && (interrupted == 1 || fatal_signal || !stream_next_link()))
				return file_done;
			// Never drawn more often than frames come, and then seldom.
			show_status(index, count, 0);
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
		show_status(index, count, 1);
	}
}

// Plays one entry. Sets *opened when it opened, and *missed when a WAV
// output would miss part of it or hold damaged audio.
static int play_entry(const std::string &path, std::size_t index, std::size_t count, int *opened, int *missed)
{
	if (!stream_open(path.c_str())) {
		if (file_info.stopped == stop_given_up) {
			// An interrupt while the file kept us waiting skipped it.
			interrupted = 0;
		} else {
			fprintf(stderr, "Error opening %s\n", printable(path).c_str());
			*missed = 1;
		}
		return file_done;
	}
	*opened = 1;
	int end = play_stream(index, count);
	// A skip the listener asked for is not a stream that ended early.
	if ((end != file_done || interrupted == 1) && file_info.stopped == stop_none)
		file_info.stopped = stop_skipped;
	if (!fatal_signal && stream_report_end())
		*missed = 1;
	interrupted = 0;
	// A WAV output of a damaged stream is not what was encoded.
	if (stream_close())
		*missed = 1;
	return end;
}

int playlist_loop(poptContext con)
{
	if (sigint_install() != 0)
		fputs("signal handler setup failed.\n", stderr);

	std::vector<std::string> args, empty;
	while (const char *arg = poptGetArg(con))
		args.emplace_back(arg);
	playlist list;
	playlist_start(&list, args, playlist_config, &empty);
	for (const std::string &folder : empty)
		fprintf(stderr, "No FLAC files in %s\n", printable(folder).c_str());

	terminal_start();
	signals_install_terminal(terminal_release);
	// Only a WAV output is incomplete when a file is missing from it: a
	// listener has heard the gap and seen the line. A folder that gave
	// nothing is as good as a file that could not be opened.
	int missed = !empty.empty(), quit = 0;
	for (;;) {
		int opened = 0;
		while (list.position < list.paths.size() && !fatal_signal && !quit) {
			int end = play_entry(list.paths[list.position], list.position, list.paths.size(), &opened, &missed);
			if (end == file_previous)
				list.position -= list.position > 0 ? 1 : 0;
			else
				list.position++;
			quit = end == run_quit || quit_requested == 1;
		}
		// A list of which nothing opens must not go round for ever.
		if (!opened || quit || fatal_signal || !playlist_next_round(&list, playlist_config))
			break;
	}
	terminal_stop();
	return opt_wav && missed;
}
