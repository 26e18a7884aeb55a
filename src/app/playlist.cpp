// Playlist mode: the files named on the command line, one after another.
#include "app/settings.h"
#include "playback/stream.h"

#include <cstdio>

// Decodes the open stream until it ends, fails or is interrupted.
static void play_stream()
{
	while (FLAC__stream_decoder_process_single(file_info.decoder) &&
	       FLAC__stream_decoder_get_state(file_info.decoder) <= FLAC__STREAM_DECODER_READ_FRAME &&
	       interrupted != 1)
		;
}

void playlist_loop(poptContext con)
{
	if (sigint_install() != 0)
		fputs("signal handler setup failed.\n", stderr);

	const char *path;
	while ((path = poptGetArg(con)) != nullptr) {
		if (stream_open(path)) {
			play_stream();
			interrupted = 0;
			stream_close();
		} else {
			fprintf(stderr, "Error opening %s\n", path);
		}
		if (quit_requested == 1)
			break;
	}
}
