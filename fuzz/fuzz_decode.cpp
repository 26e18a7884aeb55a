// The whole open-and-decode path of playlist mode on arbitrary file bytes:
// open, decode frame by frame to the null driver, close.
#include "playback/stream.h"

#include "harness.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	playback_config.quiet = 1;
	null_output_init();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (!stream_open(bytes_as_file(data, size)))
		return 0;
	// As the playlist plays it: link after link of a chain.
	do {
		while (stream_decode() && !stream_ended())
			;
	} while (stream_next_link());
	stream_report_end();
	stream_close();
	return 0;
}
