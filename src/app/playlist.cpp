// Playlist mode: the files named on the command line, one after another.
#include "app/settings.h"
#include "playback/stream.h"

#include <cstdio>

// Decodes the open stream, link after link of a chain, until it ends,
// fails, is interrupted or a signal ends the run.
static void play_stream()
{
	do {
		while (stream_decode() && !stream_ended() && interrupted != 1 && !fatal_signal)
			;
	} while (interrupted != 1 && !fatal_signal && stream_next_link());
}

int playlist_loop(poptContext con)
{
	if (sigint_install() != 0)
		fputs("signal handler setup failed.\n", stderr);

	// Only a WAV output is incomplete when a file is missing from it: a
	// listener has heard the gap and seen the line.
	int missed = 0;
	const char *path;
	while (!fatal_signal && (path = poptGetArg(con)) != nullptr) {
		if (stream_open(path)) {
			play_stream();
			if (interrupted != 1 && !fatal_signal && stream_report_end())
				missed = 1;
			interrupted = 0;
			stream_close();
		} else if (file_info.stopped == stop_given_up) {
			// An interrupt while the file kept us waiting skipped it.
			interrupted = 0;
		} else {
			fprintf(stderr, "Error opening %s\n", printable(path).c_str());
			missed = 1;
		}
		if (quit_requested == 1)
			break;
	}
	return opt_wav && missed;
}
