// Stream lifecycle: open, close, the output device and the decoder's
// metadata and error handlers.
#include "playback/stream.h"
#include "output/output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstring>

stream_record file_info;
playback_settings playback_config = {0, 0, 1, 0, nullptr, -1, nullptr, replaygain_off};
// The open stream's path as lines show it.
static std::string shown_path;

static void delete_decoder()
{
	FLAC__stream_decoder_delete(file_info.decoder);
	file_info.decoder = nullptr;
	source_close();
}

const char *failure_prefix()
{
	return playback_config.remote ? "@E " : "";
}

// A named WAV output is never opened over the stream being played, nor
// over anything that the player would play as FLAC: an input named where
// the output was meant ("wendrop -w a.flac b.flac"). 1 when it may be.
static int wav_target_allowed(const char *path)
{
	const char *target = output_wav_file();
	struct stat out, in;
	if (!target || stat(target, &out) != 0)
		return 1;
	int in_ok = strcmp(path, "-") == 0 ? fstat(STDIN_FILENO, &in) : stat(path, &in);
	if ((in_ok == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) || file_holds_flac(target)) {
		output_print_open_failure();
		return 0;
	}
	return 1;
}

int stream_open(const char *path)
{
	shown_path = printable(path);
	tags_reset(&file_info);
	file_info.bits_per_sample = 0;
	file_info.format = {};
	file_info.total_samples = file_info.current_sample = 0;
	file_info.total_time = file_info.elapsed_time = 0;
	file_info.stopped = stop_none;
	file_info.pass_tags = 0;
	file_info.frames_to_progress = 0;

	file_info.decoder = FLAC__stream_decoder_new();
	if (!file_info.decoder)
		return 0;
	FLAC__stream_decoder_set_md5_checking(file_info.decoder, true);
	int pass_tags;
	if (!source_init(file_info.decoder, path, &pass_tags)) {
		delete_decoder();
		return 0;
	}
	// STREAMINFO states at least one channel: none means the metadata ended
	// without it, and the file is not FLAC audio (libFLAC went looking for
	// frames in whatever it holds).
	if (!FLAC__stream_decoder_process_until_end_of_metadata(file_info.decoder) ||
	    file_info.format.channels == 0 ||
	    !output_accepts(shown_path.c_str(), file_info.format, file_info.total_samples, failure_prefix()) ||
	    !wav_target_allowed(path) || !output_open(file_info.format)) {
		delete_decoder();
		return 0;
	}

	int has_tags = pass_tags ? file_info.pass_tags : read_vorbis_tags(path);
	file_info.gain = replaygain_choose(file_info.replaygain, playback_config.replaygain);
	announce_stream(path, has_tags);

	file_info.is_loaded = 1;
	file_info.is_playing = 1;
	return 1;
}

int stream_report_short()
{
	const stream_record &s = file_info;
	if (s.stopped != stop_none || !s.total_samples || s.current_sample >= s.total_samples)
		return 0;
	fprintf(stderr, "%sStream ended early: %s (%" PRIu64 " of %" PRIu64 " samples)\n", failure_prefix(),
		shown_path.c_str(), s.current_sample, s.total_samples);
	return 1;
}

void stream_close()
{
	// A failed MD5 comparison is not acted on: the audio has been played.
	FLAC__stream_decoder_finish(file_info.decoder);
	delete_decoder();
	file_info.is_loaded = 0;
	file_info.is_playing = 0;
	if (!output_end_stream())
		output_print_failure(failure_prefix());
}

void flac_metadata_hdl(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *metadata,
		       void *client_data)
{
	auto *rec = static_cast<stream_record *>(client_data);
	// Only asked for when the metadata iterator cannot read the stream.
	if (metadata->type == FLAC__METADATA_TYPE_VORBIS_COMMENT)
		take_pass_tags(rec, metadata->data.vorbis_comment);
	if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO)
		return;
	const FLAC__StreamMetadata_StreamInfo &info = metadata->data.stream_info;
	rec->bits_per_sample = static_cast<int>(info.bits_per_sample);
	rec->format.bits = container_bits(rec->bits_per_sample);
	rec->format.rate = static_cast<int>(info.sample_rate);
	rec->format.channels = static_cast<int>(info.channels);
	rec->format.byte_format = AO_FMT_NATIVE;
	rec->format.matrix = nullptr;
	rec->total_samples = info.total_samples;
	rec->current_sample = 0;
	rec->total_time = info.sample_rate ? static_cast<float>(info.total_samples) /
						 static_cast<float>(info.sample_rate)
					   : 0.0f;
	rec->elapsed_time = 0;
}

void flac_error_hdl(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *)
{
	fputs("error handler called!\n", stderr);
}
