// The one open stream: its record, opening and closing, the playback
// actions on it, the decoder's handlers and frame output.
#pragma once

#include "playback/reason.h"
#include "playback/tags.h"

#include <FLAC/stream_decoder.h>
#include <ao/ao.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

/// What the command line chose for playback. Set by start-up, read-only
/// afterwards; flags are 0 or 1.
struct playback_settings {
	int remote;  // announce and report progress as event lines
	int quiet;   // no playlist announcements
	int progress_interval;  // remote: one "@F" line in this many frames (0 or 1: every one)
	// How long opening a stream that is not a regular file waits for its
	// first bytes, in milliseconds; 0: as long as it takes.
	int first_bytes_wait_ms;
	// Waits up to timeout_ms for fd to be readable, watching the front ends
	// as it does: 1 when fd is readable. Null: poll on fd alone.
	int (*wait)(int fd, int timeout_ms);
	// Asked while a read of the stream waits for data, after every wait:
	// nonzero abandons the stream (file_info.stopped is then
	// stop_given_up). May be null.
	int (*give_up)();
	// The front end's own input, never opened as a stream. -1: none.
	int attention_fd;
	// Nonzero while a signal is ending the run: an output failure it caused
	// (a reader gone from standard output) is not reported. May be null.
	int (*ending)();
	int replaygain;  // a replaygain_mode
	int cover_art = 0;  // keep each stream's front cover (file_info.cover)
	// A URL opened whole whose metadata holds a cue sheet (block or tag):
	// asked before it is announced; nonzero when the list has put its
	// tracks in its place, and the open gives way to them (stream_open
	// gives 0, stopped stop_cut). May be null: the stream plays whole.
	int (*take_tracks)(const char *url, const stream_cue_facts &facts) = nullptr;
};
extern playback_settings playback_config;

/// Why the write handler keeps a frame instead of playing it.
enum hold_kind {
	hold_none,
	hold_at_open,  // the output is not open yet: the frame gives its format
	hold_paused,   // a seek while paused: nothing is played until resumed
	hold_seek_failed,  // a failed seek goes back: the frame is played next, if at all
};

/// Why the decoder stopped before its stream ended, if it did.
enum stream_stop {
	stop_none,
	stop_output_failed,  // a write to the output failed (and was reported)
	stop_given_up,       // a read waited, and give_up said to stop
	stop_format_changed, // a named WAV file cannot take the frames' new format (reported)
	stop_skipped,        // the listener moved on (a key, Ctrl-C): not a fault of the stream
	stop_past_end,       // opening: the track begins past where the stream's data ends (told)
	stop_cut,            // opening: a URL's tracks took its place (take_tracks)
};

struct stream_record {
	FLAC__StreamDecoder *decoder;
	// What the stream states (STREAMINFO; without it, its first frame), as
	// announced.
	struct {
		int bits, rate, channels;
	} stated;
	// What the frames hold, which the output follows: the width of the
	// last frame, and the output format (bits: its width, 8, 16 or 24).
	int bits_per_sample;
	ao_sample_format format;
	uint64_t total_samples;    // 0 when the stream does not state it
	uint64_t current_sample;
	float total_time;
	float elapsed_time;
	int is_loaded;
	int is_playing;
	int stopped;                  // a stream_stop
	open_failure failure;         // why the last open failed
	int missed;                   // an earlier link of the chain ended early, or one was skipped (reported)
	// What tells a damaged stream: the decoder's error reports (and links
	// that could not be read), and a link whose audio did not match the MD5
	// signature its STREAMINFO states. The signature is compared only for a
	// link decoded whole, from its start: md5_stated, and never sought.
	uint64_t damaged_frames;
	int md5_mismatch;
	int md5_stated;               // the link's STREAMINFO states a signature (not all zeros)
	int sought;                   // the link was sought in
	// The first frame is decoded while the stream opens, to learn the
	// format, and kept until the first decode call plays it; so is the
	// frame a seek lands in while paused.
	int holding;                  // a hold_kind: the write handler keeps the next frame
	std::size_t held_bytes;       // its converted bytes in the sample buffer (0: none)
	unsigned held_block;
	int pass_tags;                // a VORBIS_COMMENT block met by the decoder gave a tag
	unsigned frames_to_progress;  // remote: frames until the next "@F" line (0 or 1: the next)
	// The track played, a sample range of the stream: counters stay the
	// stream's own, the range is where the track lies in them.
	uint64_t range_start;  // its first sample
	uint64_t range_end;    // the sample after its last; 0: the stream's end
	int range_done;        // its last sample was played; the rest of that frame is held

	// Tag texts in their printable form, always blank-padded to their full
	// width in characters (tag_width, year_width).
	char title[tag_room(tag_width)];
	char artist[tag_room(tag_width)];
	char album[tag_room(tag_width)];
	char genre[tag_room(tag_width)];
	char comment[tag_room(tag_width)];
	char year[tag_room(year_width)];
	int has_description;  // comment holds a DESCRIPTION, which a COMMENT does not replace
	whole_tags whole;
	cover_art cover;
	replaygain_tags replaygain;
	replaygain_choice gain;  // chosen at open from replaygain
};

/// The stream record; its address is the decoder's client data.
extern stream_record file_info;
/// Gain applied to every sample; 1.0 at start.
extern float volume;

/// Opens, reads the metadata and the first frame of, and announces the file
/// at path, with an output device ready for the frames' format. 1 when open
/// (loaded and playing), 0 on failure with the decoder released: also for
/// anything that does not begin as FLAC, and for a stream with neither
/// STREAMINFO nor a frame; file_info.failure then says why, and
/// file_info.stopped is stop_given_up when the open gave up waiting for the
/// stream. The format and counters are reset first, so a failed open never
/// leaves an earlier stream's values. Only called with no stream open.
int stream_open(const char *path);
/// Guards the regular file at path, an input read on the way to the
/// streams (a playlist, a cue sheet): a named WAV output is never opened
/// over it ("Error opening wav file FILE", as over a FLAC file).
void stream_guard_input(const char *path);
/// Opens the file at path as stream_open does, to play track of it (null:
/// the whole stream). A track is announced with its own texts
/// (apply_cue_track) and length, and plays from its first sample (the
/// decoder is moved there when it is not at the start) to its last, inside
/// a frame where it must: stream_ended() then says so, and the rest of that
/// frame is held for stream_next_track. 0 also when the decoder cannot get
/// to the track's start; file_info.stopped is then stop_past_end when the
/// track begins past where the stream's data ends (a file cut short): that
/// is told once for the stream, with the line of its early end (see
/// stream_report_end), by whichever of its tracks meets it first.
int stream_open_track(const char *path, const cue_track *track);
/// 1 when track of the file at path begins where the open stream's track
/// ended at its last sample, so that stream_next_track goes on with it.
int stream_continues_to(const char *path, const cue_track *track);
/// Goes on with the track that follows on the open stream, without
/// reopening or moving the decoder: the output's stream ends with the track
/// before and a new one begins (a WAV output is completed and opened anew;
/// a live device plays on), and the track is announced. 1 when it plays; 0
/// when the output failed or refused it (reported; stopped is then
/// stop_output_failed).
int stream_next_track(const cue_track &track);
/// For stream_open_track: keeps the stream's own tag texts, takes the range
/// and texts of track (null: the whole stream) and moves the decoder to its
/// start when it must, the frame it lands in held. 1 when it is there.
int start_track(const cue_track *track);
/// Notes that the open stream ended early, after played samples, which has
/// been told: its tracks that begin there or later are past its data.
void note_early_end(uint64_t played);
/// 1 when the open stream's early end has been told, at sample at or
/// before it: it is not told again, and a track from there on is past the
/// data.
int early_end_told(uint64_t at);
/// The open stream's position from its track's start, and the length of
/// its track (of the whole stream when it is not one): 0 when not known.
uint64_t stream_track_position();
uint64_t stream_track_length();
/// The path the open stream was opened from.
const char *stream_path();
/// Plays the next frame of the open stream: the one decoded at open first,
/// then each the decoder gives. The decoder's result: 0 when its call
/// failed.
int stream_decode();
/// 1 once the open stream can give no more: its end, a decoder that failed
/// or stopped, an output that failed or cannot follow the frames.
int stream_ended();
/// At the end of a link of a chained Ogg stream: starts the next link that
/// holds FLAC, reads its metadata, announces it and has the output follow
/// its format, as a stream that opens. A link that holds no FLAC is passed
/// over with "Skipped a link that is not FLAC in FILE" after the failure
/// prefix, and counts as missed; one that begins as FLAC but cannot be
/// read counts as a damaged frame. 1 when it plays on; 0 when there is none
/// (or it cannot play), and the stream ends as it is.
int stream_next_link();
/// Moves the open stream to target (a sample), as the frame that holds it
/// is played next: at once, or on resuming when paused. 1 when the decoder
/// got there; 0 when it could not (a stream read once cannot seek, a file
/// cut short ends before target), and playback goes on from where it was:
/// nothing of the failed seek is played before the next decode call.
int stream_seek(uint64_t target);
/// Where the data of the open stream ends below sample limit, as far as
/// seeking tells: the sample after the last one the decoder reaches, for a
/// stream it cannot get to limit in; its stated total when it reaches
/// beyond limit (its data goes on). Plays nothing, and leaves the
/// decoder anywhere: for a stream about to be closed.
uint64_t stream_data_end(uint64_t limit);
/// Pauses the playing stream, or resumes the paused one. 1 when it is now
/// paused.
int stream_toggle_pause();
/// Sets the gain applied to every sample from the next frame on.
void volume_set(float gain);
/// After a stream that played to its end: milliseconds within which
/// stream_play_tail() is due if nothing is played meanwhile, so that a
/// sound server plays its last samples; -1 when nothing waits for it.
int stream_tail_grace_ms();
/// Has the output play out the last samples it was given (with silence
/// after them), returning when they are on their way.
void stream_play_tail();
/// Reports how the open stream ended, once it has: a stream that stopped
/// short of the total it states for another reason than a failed output,
/// giving up or a skip prints "Stream ended early: FILE (N of M samples)"
/// after the failure prefix, unless a track of it has told that end
/// already (early_end_told). 1 when the output misses part of the stream
/// for that reason or because the format changed under a WAV file; else 0.
int stream_report_end();
/// The line for the open stream (or a link of it) that ended short of its
/// stated total, after played samples: "Stream ended early: FILE (N of M
/// samples)" after the failure prefix, unless total is 0 or reached. 1 when
/// printed.
int report_short(uint64_t played, uint64_t total);
/// Makes the output follow the frames into format f (the record's format
/// then becomes f): a live device reopens, standard output begins a new
/// WAV stream; a named WAV file, which holds one format, is completed and
/// ends with "Format changes mid-stream: FILE" (stopped is then
/// stop_format_changed). 1 when the output now takes f.
int stream_follow_format(const ao_sample_format &f);
/// Plays bytes of converted frame (block samples per channel) on the
/// output, counts them and reports progress. 1 when played; 0 when the
/// output failed (reported, stopped set).
int play_frame(stream_record *rec, std::size_t bytes, unsigned block);
/// Plays the converted frame as play_frame does, up to the end of the
/// track: the part beyond it stays held (held_bytes, at the start of the
/// sample buffer) for the next track, and range_done is set.
int play_in_track(stream_record *rec, std::size_t bytes, unsigned block);
/// Finishes and releases the open stream's decoder and ends the stream on
/// the output (a live device stays open); a failed close of a WAV output is
/// reported. A damaged stream, one with damaged frames (the decoder's error
/// reports, Ogg pages lost) or a link whose audio does not match its MD5
/// signature, gets one line: "Damaged stream: FILE (REASONS)" after the
/// failure prefix (none while a signal ends the run). 1 when the stream was
/// damaged.
int stream_close();
/// What a stream's failure lines begin with: "@E " in remote mode, where
/// they are event lines; "" otherwise.
const char *failure_prefix();

void flac_metadata_hdl(const FLAC__StreamDecoder *decoder, const FLAC__StreamMetadata *metadata,
		       void *client_data);
void flac_error_hdl(const FLAC__StreamDecoder *decoder, FLAC__StreamDecoderErrorStatus status,
		    void *client_data);
FLAC__StreamDecoderWriteStatus flac_write_hdl(const FLAC__StreamDecoder *decoder,
					      const FLAC__Frame *frame,
					      const FLAC__int32 *const buffer[], void *client_data);

/// Writes one event line to standard output in a single write. 1 when all of
/// it was written; 0 when not, after which event_output_failed() gives 1.
int write_event(const char *line, std::size_t length);
/// 1 once an event line could not be written to standard output: nobody
/// reads the events any more.
int event_output_failed();
