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
	while (FLAC__stream_decoder_process_single(file_info.decoder) &&
	       FLAC__stream_decoder_get_state(file_info.decoder) <= FLAC__STREAM_DECODER_READ_FRAME)
		;
	stream_close();
	return 0;
}
