// Where a stream is read from: a named file or standard input, holding
// native or Ogg FLAC, and the decoder that suits it.
#include "playback/stream.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace {
// The file of the open stream, when the decoder reads it through our read
// handler (a file that cannot seek back, or standard input).
struct stream_source {
	FILE *file;
	// The first bytes, read to tell the container, served again before
	// the rest of the file.
	unsigned char head[4];
	std::size_t head_size, head_used;
};
}

static stream_source source;

static FLAC__StreamDecoderReadStatus source_read_hdl(const FLAC__StreamDecoder *, FLAC__byte buffer[],
						     std::size_t *bytes, void *)
{
	std::size_t n = std::min(*bytes, source.head_size - source.head_used);
	memcpy(buffer, source.head + source.head_used, n);
	source.head_used += n;
	if (n < *bytes)
		n += fread(buffer + n, 1, *bytes - n, source.file);
	*bytes = n;
	if (n > 0)
		return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
	return ferror(source.file) ? FLAC__STREAM_DECODER_READ_STATUS_ABORT
				   : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
}

// Initialises the decoder on a regular file at its start; libFLAC reads,
// seeks and closes it, or leaves it to us when it refuses it.
static int init_on_file(FLAC__StreamDecoder *decoder, FILE *file, int ogg)
{
	auto init = ogg ? FLAC__stream_decoder_init_ogg_FILE : FLAC__stream_decoder_init_FILE;
	if (init(decoder, file, flac_write_hdl, flac_metadata_hdl, flac_error_hdl, &file_info) ==
	    FLAC__STREAM_DECODER_INIT_STATUS_OK)
		return 1;
	// An init that failed before it took the file closes nothing.
	if (FLAC__stream_decoder_get_state(decoder) == FLAC__STREAM_DECODER_UNINITIALIZED)
		fclose(file);
	return 0;
}

// Initialises the decoder on the source's file through our read handler,
// without seeking.
static int init_on_source(FLAC__StreamDecoder *decoder, int ogg)
{
	auto init = ogg ? FLAC__stream_decoder_init_ogg_stream : FLAC__stream_decoder_init_stream;
	if (init(decoder, source_read_hdl, nullptr, nullptr, nullptr, nullptr, flac_write_hdl, flac_metadata_hdl,
		 flac_error_hdl, &file_info) == FLAC__STREAM_DECODER_INIT_STATUS_OK)
		return 1;
	source_close();
	return 0;
}

int source_init(FLAC__StreamDecoder *decoder, const char *path, int *pass_tags)
{
	const int from_stdin = strcmp(path, "-") == 0;
	FILE *file = from_stdin ? stdin : fopen(path, "rb");
	if (!file)
		return 0;
	unsigned char head[sizeof source.head];
	const std::size_t head_size = fread(head, 1, sizeof head, file);
	const int ogg = head_size == sizeof head && memcmp(head, "OggS", 4) == 0;

	// Standard input is never rewound: a second "-" goes on where the
	// first one stopped.
	struct stat st;
	if (!from_stdin && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) && fseek(file, 0, SEEK_SET) == 0) {
		// libFLAC's metadata iterator reads native FLAC files only.
		*pass_tags = ogg;
		if (ogg)
			FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
		return init_on_file(decoder, file, ogg);
	}

	// Whatever cannot seek back is read once: the decoder's own pass has
	// to give the tags.
	source = {file, {}, head_size, 0};
	memcpy(source.head, head, head_size);
	*pass_tags = 1;
	FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
	return init_on_source(decoder, ogg);
}

void source_close()
{
	if (source.file && source.file != stdin)
		fclose(source.file);
	source = {};
}
