// Stream lifecycle: open, close, the links of a chain, and the decoder's
// metadata and error handlers. The output follows the frames: their format
// is learnt from the first frame, decoded while the stream opens, and a
// frame of another format makes the output follow (stream_follow_format).
#include "playback/stream.h"
#include "playback/printable.h"
#include "playback/convert.h"
#include "playback/probe.h"
#include "playback/reason.h"
#include "playback/tags.h"
#include "playback/source.h"
#include "output/output.h"
#include "net/net.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <set>
#include <utility>

stream_record file_info;
playback_settings playback_config = {0, 0, 1, 0, nullptr, nullptr, -1, nullptr, replaygain_off, 0};
// The open stream's path, and as lines show it.
static std::string open_path, shown_path;
// What the metadata of the stream opening says of its tracks (a URL's,
// whose file cannot be read apart).
static stream_cue_facts url_facts;

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

// The playlists and cue sheets read on the way to the streams.
static std::set<std::pair<dev_t, ino_t>> guarded_inputs;

void stream_guard_input(const char *path)
{
	struct stat st;
	if (stat(path, &st) == 0 && S_ISREG(st.st_mode))
		guarded_inputs.insert({st.st_dev, st.st_ino});
}

// A named WAV or raw output is never opened over the stream being played,
// over a list or sheet read on the way to it, nor over anything that the
// player would play as FLAC: an input named where the output was meant
// ("wendrop -w a.flac b.flac", "-w Album.cue Album.cue"). 1 when it may be.
static int wav_target_allowed(const char *path)
{
	const char *target = output_wav_file() ? output_wav_file() : output_raw_file();
	struct stat out, in;
	if (!target || stat(target, &out) != 0)
		return 1;
	int in_ok = strcmp(path, "-") == 0 ? fstat(STDIN_FILENO, &in) : stat(path, &in);
	const bool same = in_ok == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
	const bool guarded = !same && guarded_inputs.contains({out.st_dev, out.st_ino});
	if (same || guarded || file_holds_flac(target)) {
		const open_failure why = {guarded ? reason_input_file : reason_flac_file};
		output_print_open_failure(playback_config.remote ? "" : failure_text(why));
		return 0;
	}
	return 1;
}

// What a stream (or a link) states and has counted, as before its metadata.
static void reset_stream_values()
{
	tags_reset(&file_info);
	file_info.cover = {};
	file_info.stated = {0, 0, 0};
	file_info.total_samples = file_info.current_sample = 0;
	file_info.total_time = file_info.elapsed_time = 0;
	file_info.pass_tags = 0;
	file_info.frames_to_progress = 0;
	file_info.held_bytes = 0;
	file_info.md5_stated = file_info.sought = 0;
}

static ao_sample_format output_format(int bits, int rate, int channels)
{
	ao_sample_format f = {};
	f.bits = container_bits(bits);
	f.rate = rate;
	f.channels = channels;
	f.byte_format = AO_FMT_NATIVE;
	return f;
}

// Why the decoder could not read the stream's metadata or first frame.
static open_failure unreadable_why()
{
	// What the transfer met is the cause of what the decoder saw.
	if (net_is_url(open_path) && *url_source_failure())
		return {reason_network, 0, url_source_failure()};
	const auto state = FLAC__stream_decoder_get_state(file_info.decoder);
	return {state == FLAC__STREAM_DECODER_END_OF_STREAM ? reason_cut_short : reason_unreadable};
}

// Reads the first frame of the stream (or link) the decoder is on, after
// its metadata (and with its gain chosen, which the frame is converted
// with). The frame is held for the first decode call to play, and sets the
// format the output is to take; a stream of no frames takes what its
// STREAMINFO states. 1 when the stream can play; else 0, and
// file_info.failure says why.
static int read_first_frame()
{
	file_info.holding = hold_at_open;
	const FLAC__bool decoded = FLAC__stream_decoder_process_single(file_info.decoder);
	file_info.holding = hold_none;
	if (!decoded || FLAC__stream_decoder_get_state(file_info.decoder) == FLAC__STREAM_DECODER_ABORTED) {
		file_info.failure = unreadable_why();
		return 0;
	}
	if (file_info.held_bytes)
		return 1;
	// No STREAMINFO and no frame: nothing says this is FLAC audio.
	const auto &stated = file_info.stated;
	if (stated.channels == 0) {
		file_info.failure = {reason_no_audio};
		return 0;
	}
	file_info.bits_per_sample = stated.bits;
	file_info.format = output_format(stated.bits, stated.rate, stated.channels);
	return 1;
}

// A step of opening that gave ok: when it is 0, why is why.
static int fails_as(int ok, open_reason why)
{
	if (!ok)
		file_info.failure = {why};
	return ok;
}

// A URL opened whole that holds a cue sheet: the list may take its tracks
// in its place, before anything is announced. 1 when it did.
static int cut_into_tracks(const char *path, const cue_track *track)
{
	if (track || !net_is_url(path) || !playback_config.take_tracks || !(url_facts.has_block || url_facts.has_tag) ||
	    !playback_config.take_tracks(path, url_facts))
		return 0;
	file_info.stopped = stop_cut;
	return 1;
}

const char *stream_path()
{
	return open_path.c_str();
}

int stream_open(const char *path)
{
	return stream_open_track(path, nullptr);
}

int stream_open_track(const char *path, const cue_track *track)
{
	open_path = path;
	shown_path = shown_name(path);
	url_facts = {};
	reset_stream_values();
	file_info.bits_per_sample = 0;
	file_info.format = {};
	file_info.stopped = stop_none;
	file_info.missed = 0;
	file_info.damaged_frames = 0;
	file_info.md5_mismatch = 0;
	file_info.range_start = file_info.range_end = 0;
	file_info.range_done = 0;

	file_info.failure = {};
	file_info.decoder = FLAC__stream_decoder_new();
	if (!file_info.decoder) {
		file_info.failure = failure_from_errno(ENOMEM);
		return 0;
	}
	int pass_tags, has_tags = 0;
	if (!source_init(file_info.decoder, path, &pass_tags, &file_info.failure)) {
		delete_decoder();
		return 0;
	}
	if (!FLAC__stream_decoder_process_until_end_of_metadata(file_info.decoder)) {
		file_info.failure = unreadable_why();
		delete_decoder();
		return 0;
	}
	has_tags = pass_tags ? file_info.pass_tags : read_vorbis_tags(path);
	file_info.gain = replaygain_choose(file_info.replaygain, playback_config.replaygain);
	if (!read_first_frame() || cut_into_tracks(path, track) || !fails_as(start_track(track), reason_no_track) ||
	    !fails_as(output_accepts(shown_path.c_str(), file_info.format, stream_track_length(), failure_prefix()),
		      reason_too_big) ||
	    !fails_as(wav_target_allowed(path), reason_no_output) ||
	    !fails_as(output_open(file_info.format), output_config.wav || output_config.raw ? reason_no_output
											     : reason_no_device)) {
		// A FIFO awaited for its reader, given up as a stream read is.
		if (output_given_up())
			file_info.stopped = stop_given_up;
		delete_decoder();
		return 0;
	}
	announce_stream(path, has_tags || track);

	file_info.is_loaded = 1;
	file_info.is_playing = 1;
	return 1;
}

int stream_follow_format(const ao_sample_format &f)
{
	const char *prefix = failure_prefix();
	// The stream on the output is complete either way: a WAV stream's
	// header states what it holds.
	if (!output_end_stream())
		output_print_failure(prefix);
	if (output_wav_file()) {
		// A WAV file holds one format: the file ends here.
		fprintf(stderr, "%sFormat changes mid-stream: %s\n", prefix, shown_path.c_str());
		file_info.stopped = stop_format_changed;
		return 0;
	}
	// A live device reopens in the new format, and standard output gets a
	// new WAV stream, as for a new file.
	if (!output_open(f)) {
		file_info.stopped = stop_output_failed;
		return 0;
	}
	file_info.format = f;
	return 1;
}

int report_short(uint64_t played, uint64_t total)
{
	if (!total || played >= total)
		return 0;
	fprintf(stderr, "%sStream ended early: %s (%" PRIu64 " of %" PRIu64 " samples)\n", failure_prefix(),
		shown_path.c_str(), played, total);
	return 1;
}

int stream_report_end()
{
	const stream_record &s = file_info;
	if (s.stopped == stop_format_changed)
		return 1;
	// A track that ended at its last sample left the rest unplayed on
	// purpose.
	if (s.stopped != stop_none || s.range_done)
		return s.missed;
	// A file cut short is told once, by whichever of its tracks meets its
	// end first.
	if (s.total_samples && s.current_sample < s.total_samples && early_end_told(s.current_sample))
		return 1;
	if (!report_short(s.current_sample, s.total_samples))
		return s.missed;
	note_early_end(s.current_sample);
	return 1;
}

// Finishes the decoder on the link it is on, and notes a link whose audio
// is not what was encoded. Only a link decoded whole from its start can
// tell: libFLAC compares the signature with what it decoded, so a link it
// sought in, or that stopped or ended short, would fail it for nothing.
static void finish_link()
{
	const stream_record &s = file_info;
	const bool whole = s.md5_stated && !s.sought && s.stopped == stop_none && !s.held_bytes && !s.range_done &&
			   FLAC__stream_decoder_get_state(s.decoder) == FLAC__STREAM_DECODER_END_OF_STREAM &&
			   (!s.total_samples || s.current_sample == s.total_samples);
	if (!FLAC__stream_decoder_finish(s.decoder) && whole)
		file_info.md5_mismatch = 1;
}

// Starts the link the source has moved to, as a stream that opens. 1 when
// it can play.
static int start_link()
{
	stream_record &s = file_info;
	if (!source_restart(s.decoder) || !FLAC__stream_decoder_process_until_end_of_metadata(s.decoder))
		return 0;
	s.gain = replaygain_choose(s.replaygain, playback_config.replaygain);
	return read_first_frame();
}

int stream_next_link()
{
	stream_record &s = file_info;
	if (s.stopped != stop_none || FLAC__stream_decoder_get_state(s.decoder) != FLAC__STREAM_DECODER_END_OF_STREAM)
		return 0;
	const ao_sample_format before = s.format;
	for (;;) {
		const uint64_t played = s.current_sample, total = s.total_samples;
		int skipped = 0;
		const int found = source_next_link(&skipped);
		if (found) {
			finish_link();
			if (report_short(played, total))
				s.missed = 1;
		}
		for (int i = 0; i < skipped; i++)
			fprintf(stderr, "%sSkipped a link that is not FLAC in %s\n", failure_prefix(), shown_path.c_str());
		// Audio the chain holds and the output does not.
		if (skipped)
			s.missed = 1;
		if (!found)
			return 0;
		reset_stream_values();
		if (start_link())
			break;
		// It began as FLAC and cannot be read: the chain goes on after it.
		s.damaged_frames++;
		if (s.stopped != stop_none)
			return 0;
	}
	// The first link's cue sheet cuts the first link only: the next one
	// plays whole, counted from its own start.
	s.range_start = s.range_end = 0;
	s.range_done = 0;
	const ao_sample_format &now = s.format;
	if ((now.bits != before.bits || now.rate != before.rate || now.channels != before.channels) &&
	    !stream_follow_format(now)) {
		s.held_bytes = 0;
		return 0;
	}
	announce_stream(open_path.c_str(), s.pass_tags);
	return 1;
}

// The line for a damaged stream. 1 when it was damaged.
static int report_damage(uint64_t frames)
{
	if (!file_info.md5_mismatch && !frames)
		return 0;
	// A signal that ends the run cuts any stream short: not its fault.
	if (playback_config.ending && playback_config.ending())
		return 1;
	std::string reasons = file_info.md5_mismatch ? "MD5 mismatch" : "";
	if (frames)
		reasons += (reasons.empty() ? "" : ", ") + std::to_string(frames) +
			   (frames == 1 ? " damaged frame" : " damaged frames");
	fprintf(stderr, "%sDamaged stream: %s (%s)\n", failure_prefix(), shown_path.c_str(), reasons.c_str());
	return 1;
}

int stream_close()
{
	// Cut short, not at its end: a listener's output drops what it holds.
	if (!file_info.range_done &&
	    FLAC__stream_decoder_get_state(file_info.decoder) != FLAC__STREAM_DECODER_END_OF_STREAM)
		output_cut();
	// What the device still holds of a stream stopped on purpose (a skip,
	// STOP, a signal) is not waited for when the device closes; the end of
	// a stream that played out is.
	const stream_record &s = file_info;
	if (s.stopped == stop_skipped || s.stopped == stop_given_up || (s.stopped == stop_none && !stream_ended()) ||
	    (playback_config.ending && playback_config.ending()))
		output_drop_tail();
	finish_link();
	const uint64_t frames = file_info.damaged_frames + source_damage();
	delete_decoder();
	file_info.is_loaded = 0;
	file_info.is_playing = 0;
	file_info.held_bytes = 0;
	file_info.range_done = 0;
	if (!output_end_stream())
		output_print_failure(failure_prefix());
	return report_damage(frames);
}

void flac_metadata_hdl(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *metadata,
		       void *client_data)
{
	auto *rec = static_cast<stream_record *>(client_data);
	cue_facts_take(*metadata, &url_facts);
	// Only asked for when the metadata iterator cannot read the stream.
	if (metadata->type == FLAC__METADATA_TYPE_VORBIS_COMMENT)
		take_pass_tags(rec, metadata->data.vorbis_comment);
	// Only asked for when the desktop is to be shown it.
	if (metadata->type == FLAC__METADATA_TYPE_PICTURE)
		take_cover_art(rec, metadata->data.picture);
	if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO)
		return;
	const FLAC__StreamMetadata_StreamInfo &info = metadata->data.stream_info;
	rec->stated = {static_cast<int>(info.bits_per_sample), static_cast<int>(info.sample_rate),
		       static_cast<int>(info.channels)};
	rec->total_samples = info.total_samples;
	// libFLAC checks no signature of all zeros: the encoder did not know it.
	static const FLAC__byte unknown[16] = {};
	rec->md5_stated = memcmp(info.md5sum, unknown, sizeof unknown) != 0;
	rec->current_sample = 0;
	rec->total_time = info.sample_rate ? static_cast<float>(info.total_samples) /
						 static_cast<float>(info.sample_rate)
					   : 0.0f;
	rec->elapsed_time = 0;
}

void flac_error_hdl(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *client_data)
{
	fputs("error handler called!\n", stderr);
	// libFLAC goes on after a damaged frame (playing silence for it), and
	// its MD5 check can tell nothing of a stream sought in or stopped.
	static_cast<stream_record *>(client_data)->damaged_frames++;
}
