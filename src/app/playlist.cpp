// Playlist mode: what the command line names, one entry after another,
// round after round with repeat.
#include "app/settings.h"
#include "playback/stream.h"
#include "playlist/playlist.h"

#include <cstdio>

// Decodes the open stream until it ends, fails, is interrupted or a signal
// ends the run.
static void play_stream()
{
	while (FLAC__stream_decoder_process_single(file_info.decoder) &&
	       FLAC__stream_decoder_get_state(file_info.decoder) <= FLAC__STREAM_DECODER_READ_FRAME &&
	       interrupted != 1 && !fatal_signal)
		;
}

// Plays one entry. 1 when it opened; sets *missed when a WAV output would
// miss part of it.
static int play_entry(const char *path, int *missed)
{
	if (stream_open(path)) {
		play_stream();
		if (interrupted != 1 && !fatal_signal && stream_report_short())
			*missed = 1;
		interrupted = 0;
		stream_close();
		return 1;
	}
	if (file_info.stopped == stop_given_up) {
		// An interrupt while the file kept us waiting skipped it.
		interrupted = 0;
	} else {
		fprintf(stderr, "Error opening %s\n", printable(path).c_str());
		*missed = 1;
	}
	return 0;
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

	// Only a WAV output is incomplete when a file is missing from it: a
	// listener has heard the gap and seen the line. A folder that gave
	// nothing is as good as a file that could not be opened.
	int missed = !empty.empty();
	for (;;) {
		int opened = 0;
		for (; list.position < list.paths.size() && !fatal_signal; list.position++) {
			opened |= play_entry(list.paths[list.position].c_str(), &missed);
			if (quit_requested == 1)
				return opt_wav && missed;
		}
		// A list of which nothing opens must not go round for ever.
		if (!opened || fatal_signal || !playlist_next_round(&list, playlist_config))
			break;
	}
	return opt_wav && missed;
}
