// Frame output: each decoded frame converted, played, counted and, in remote
// mode, reported.
#include "playback/stream.h"
#include "playback/convert.h"
#include "output/output.h"

#include <cinttypes>
#include <cstring>

float volume = 1.0f;

// Aligned so the conversion's vector stores need no peeling.
alignas(64) static unsigned char sample_buffer[sample_buffer_size];

float sample_seconds(uint64_t samples, int rate)
{
	// From the count each time, not summed frame by frame: a float sum
	// drifts by seconds over hours.
	if (rate <= 0)
		return 0;
	return static_cast<float>(static_cast<double>(samples) / rate);
}

int format_progress(char *buf, std::size_t size, uint64_t current, uint64_t total, int rate)
{
	// Past a total that was stated too small, nothing is left: 0, not a
	// count wrapped around 2^64.
	uint64_t remaining = total ? (total > current ? total - current : 0) : current;
	float time_left = total > current ? sample_seconds(total - current, rate) : 0.0f;
	int n = snprintf(buf, size, "@F %" PRIu64 " %" PRIu64 " %.2f %.2f\n", current, remaining,
			 static_cast<double>(sample_seconds(current, rate)), static_cast<double>(time_left));
	if (n < 0)
		return 0;
	return static_cast<std::size_t>(n) < size ? n : static_cast<int>(size - 1);
}

// Whether the frame just counted prints its "@F" line: one in every
// progress interval, and always the first after an open or a seek and the
// one that reaches a stated total, so a front end sees where playback
// starts and that it reached the end.
static int progress_due(stream_record *rec, unsigned block)
{
	const uint64_t total = rec->total_samples;
	const int at_end = total && rec->current_sample >= total && rec->current_sample - block < total;
	if (rec->frames_to_progress > 1 && !at_end) {
		rec->frames_to_progress--;
		return 0;
	}
	rec->frames_to_progress = static_cast<unsigned>(playback_config.progress_interval);
	return 1;
}

int play_frame(stream_record *rec, std::size_t bytes, unsigned block)
{
	// A failed output ends the stream here, with one line for it.
	if (!output_play(sample_buffer, bytes)) {
		if (!playback_config.ending || !playback_config.ending())
			output_print_failure(failure_prefix());
		rec->stopped = stop_output_failed;
		return 0;
	}

	rec->current_sample += block;
	rec->elapsed_time = sample_seconds(rec->current_sample, rec->format.rate);

	if (playback_config.remote && progress_due(rec, block)) {
		char line[progress_line_max];
		int n = format_progress(line, sizeof line, rec->current_sample, rec->total_samples,
					rec->format.rate);
		write_event(line, static_cast<std::size_t>(n));
	}
	return 1;
}

int play_in_track(stream_record *rec, std::size_t bytes, unsigned block)
{
	const uint64_t end = rec->range_end;
	if (!end || rec->current_sample + block < end)
		return play_frame(rec, bytes, block);
	// The track ends inside this frame (or with it): the part before the
	// boundary is its last, the rest begins the next track.
	const unsigned part = rec->current_sample < end ? static_cast<unsigned>(end - rec->current_sample) : 0;
	const std::size_t part_bytes = bytes / block * part;
	rec->range_done = 1;
	if (part && !play_frame(rec, part_bytes, part))
		return 0;
	if (part < block) {
		memmove(sample_buffer, sample_buffer + part_bytes, bytes - part_bytes);
		rec->held_bytes = bytes - part_bytes;
		rec->held_block = block - part;
	}
	return 1;
}

FLAC__StreamDecoderWriteStatus flac_write_hdl(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
					      const FLAC__int32 *const buffer[], void *client_data)
{
	auto *rec = static_cast<stream_record *>(client_data);
	const FLAC__FrameHeader &h = frame->header;
	const int bits = static_cast<int>(h.bits_per_sample), rate = static_cast<int>(h.sample_rate),
		  channels = static_cast<int>(h.channels);

	// The output plays what the frames hold: a frame of another format
	// than the output's moves it to that format first, so that no sample
	// is dropped or played in the wrong one.
	ao_sample_format &f = rec->format;
	if (container_bits(bits) != f.bits || rate != f.rate || channels != f.channels) {
		ao_sample_format now = f;
		now.bits = container_bits(bits);
		now.rate = rate;
		now.channels = channels;
		now.byte_format = AO_FMT_NATIVE;
		if (rec->holding == hold_at_open)
			f = now;
		else if (!stream_follow_format(now))
			return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
		else
			output_tell_resampling();
	}
	if (rec->holding == hold_at_open && rec->stated.channels == 0)
		rec->stated = {bits, rate, channels};
	rec->bits_per_sample = bits;

	const unsigned block = h.blocksize;
	std::size_t bytes = convert_frame(buffer, block, h.channels, static_cast<unsigned>(f.channels), bits,
					  volume * rec->gain.factor, sample_buffer);
	if (rec->holding) {
		rec->held_bytes = bytes;
		rec->held_block = block;
		return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
	}
	return play_in_track(rec, bytes, block) ? FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE
						: FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
}
