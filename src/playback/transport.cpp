// The playback actions that the front ends ask for, by key or by command:
// decode the next frame, seek, pause, set the volume.
#include "playback/stream.h"
#include "playback/convert.h"
#include "playback/source.h"
#include "output/output.h"

int stream_decode()
{
	if (file_info.held_bytes) {
		const std::size_t bytes = file_info.held_bytes;
		file_info.held_bytes = 0;
		play_in_track(&file_info, bytes, file_info.held_block);
		return 1;
	}
	return FLAC__stream_decoder_process_single(file_info.decoder);
}

int stream_ended()
{
	// A track's end holds the rest of its last frame for the next one.
	if (file_info.stopped != stop_none || file_info.range_done)
		return 1;
	if (file_info.held_bytes)
		return 0;
	FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(file_info.decoder);
	return state == FLAC__STREAM_DECODER_END_OF_STREAM || state == FLAC__STREAM_DECODER_ABORTED;
}

int stream_seek(uint64_t target)
{
	stream_record &s = file_info;
	// A stream read once (a pipe) cannot go back or skip ahead: the held
	// frame stays, and playback goes on.
	if (!source_seekable())
		return 0;
	const uint64_t was = s.current_sample;
	// The frame the seek lands in is played next, not the one held.
	s.held_bytes = 0;
	s.current_sample = target;
	s.elapsed_time = sample_seconds(target, s.format.rate);
	// The frame the seek lands in reports where playback went on.
	s.frames_to_progress = 0;
	s.holding = s.is_playing ? hold_none : hold_paused;
	// libFLAC stops checking the MD5 signature: the link is no longer
	// decoded whole.
	s.sought = 1;
	const FLAC__bool moved = FLAC__stream_decoder_seek_absolute(s.decoder, target);
	s.holding = hold_none;
	if (moved) {
		source_sought();
		// The output's rate converter must not join two places of the stream.
		output_jumped();
		return 1;
	}

	// The decoder never got there: keep the position it has, and if the
	// failed seek left it unable to decode, bring it back to that position.
	s.current_sample = was;
	s.elapsed_time = sample_seconds(was, s.format.rate);
	if (FLAC__stream_decoder_get_state(s.decoder) == FLAC__STREAM_DECODER_SEEK_ERROR) {
		FLAC__stream_decoder_flush(s.decoder);
		// The frame it lands in is the next decode call's: a track being
		// opened, that the seek was for, never reaches the output.
		s.holding = hold_seek_failed;
		if (!FLAC__stream_decoder_seek_absolute(s.decoder, was))
			FLAC__stream_decoder_flush(s.decoder);
		s.holding = hold_none;
	}
	source_sought();
	return 0;
}

uint64_t stream_data_end(uint64_t limit)
{
	stream_record &s = file_info;
	// A seek succeeds where the frame holding its target decodes: the last
	// sample that does is found by halving, a few dozen seeks at most. A
	// stream that can be reached beyond limit has its data there. (libFLAC
	// looks for a sample near the end of a file cut short frame by frame,
	// for as long as a second: what it is asked for stays clear of that.)
	s.holding = hold_seek_failed;
	const uint64_t beyond_limit = limit + (s.total_samples - limit) / 2;
	if (s.total_samples > limit && FLAC__stream_decoder_seek_absolute(s.decoder, beyond_limit)) {
		s.holding = hold_none;
		s.held_bytes = 0;
		return s.total_samples;
	}
	FLAC__stream_decoder_flush(s.decoder);
	uint64_t reached = 0, beyond = limit;
	while (beyond - reached > 1) {
		const uint64_t mid = reached + (beyond - reached) / 2;
		if (FLAC__stream_decoder_seek_absolute(s.decoder, mid)) {
			reached = mid;
		} else {
			beyond = mid;
			FLAC__stream_decoder_flush(s.decoder);
		}
	}
	s.holding = hold_none;
	s.held_bytes = 0;
	return beyond;
}

int stream_toggle_pause()
{
	file_info.is_playing = !file_info.is_playing;
	return !file_info.is_playing;
}

void volume_set(float gain)
{
	volume = gain;
}

int stream_tail_grace_ms()
{
	return output_tail_grace_ms();
}

void stream_play_tail()
{
	output_play_tail();
}
