// The start-up sequence, the mode, and shutdown.
#include "app/settings.h"
#include "output/output.h"
#include "playback/stream.h"
#include "remote/remote.h"

#include <cstdio>
#include <cstdlib>

int wendrop_main(int argc, const char **argv)
{
	// Every line must reach a controlling program at once.
	setvbuf(stdout, nullptr, _IONBF, 0);

	poptContext con = options_parse(argc, argv);
	if (!con)
		return 1;

	if (opt_version) {
		printf("wendrop version %s\n", wendrop_version);
		options_free(con);
		return 0;
	}
	if (!opt_remote && !opt_quiet)
		printf("wendrop version %s   'wendrop --help' for more info\n", wendrop_version);

	// The rooms below read the choices from records of their own.
	output_config = {opt_wav, opt_driver, opt_buffer_ms};
	playback_config = {opt_remote, opt_quiet, opt_skip_printing_frames};
	if (output_init() != 0) {
		options_free(con);
		return 1;
	}

	if (opt_remote)
		remote_loop();
	else
		playlist_loop(con);
	// Remote mode can end with a stream still open; its decoder is released
	// like any other.
	if (file_info.is_loaded)
		stream_close();

	output_shutdown();
	options_free(con);
	// A script decoding to a file must be able to tell that it is
	// incomplete; a remote front end has had the "@E" line instead.
	return !opt_remote && output_failed() ? 1 : 0;
}
