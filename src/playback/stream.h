// The one open stream: its record, opening and closing, the decoder's
// handlers, tags, announcements and frame output.
#pragma once

#include <FLAC/stream_decoder.h>
#include <ao/ao.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

/// Widths of the tag texts: characters in the tag block, bytes in "@I ID3:".
inline constexpr int tag_width = 30;
inline constexpr int year_width = 4;
/// Room for a tag text of width characters: UTF-8 takes up to 4 bytes each.
inline constexpr int tag_room(int width) { return width * 4 + 1; }

/// Room for the largest FLAC frame: 65,535 samples of 8 channels at 4 bytes.
inline constexpr std::size_t sample_buffer_size = 2097120;

/// How ReplayGain tags are applied.
enum replaygain_mode {
	replaygain_off,
	replaygain_track,  // the track gain, else the album gain
	replaygain_album,  // the album gain, else the track gain
};

/// What the command line chose for playback. Set by start-up, read-only
/// afterwards; flags are 0 or 1.
struct playback_settings {
	int remote;  // announce and report progress as event lines
	int quiet;   // no playlist announcements
	int progress_interval;  // remote: one "@F" line in this many frames (0 or 1: every one)
	// How long opening a stream that is not a regular file waits for its
	// first bytes, in milliseconds; 0: as long as it takes.
	int first_bytes_wait_ms;
	// Asked while a read of the stream waits for data: nonzero abandons the
	// stream (file_info.stopped is then stop_given_up). May be null.
	int (*give_up)();
	// The front end's own input: never opened as a stream, and watched while
	// a read waits, so give_up is asked as soon as it has something. -1: none.
	int attention_fd;
	// Nonzero while a signal is ending the run: an output failure it caused
	// (a reader gone from standard output) is not reported. May be null.
	int (*ending)();
	int replaygain;  // a replaygain_mode
};
extern playback_settings playback_config;

/// Why the write handler keeps a frame instead of playing it.
enum hold_kind {
	hold_none,
	hold_at_open,  // the output is not open yet: the frame gives its format
	hold_paused,   // a seek while paused: nothing is played until resumed
};

/// Why the decoder stopped before its stream ended, if it did.
enum stream_stop {
	stop_none,
	stop_output_failed,  // a write to the output failed (and was reported)
	stop_given_up,       // a read waited, and give_up said to stop
	stop_format_changed, // a named WAV file cannot take the frames' new format (reported)
};

/// A stream's ReplayGain tags; NaN where one is absent or malformed.
struct replaygain_tags {
	double track_gain, album_gain;  // dB
	double track_peak, album_peak;  // fraction of full scale
};
/// The gain a stream plays with.
struct replaygain_choice {
	float factor;  // multiplied with the volume: 1 at unity
	double db;     // the factor in dB
	int source;    // the replaygain_mode of the gain used; replaygain_off: none
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
	int missed;                   // an earlier link of the chain ended early (reported)
	// The first frame is decoded while the stream opens, to learn the
	// format, and kept until the first decode call plays it; so is the
	// frame a seek lands in while paused.
	int holding;                  // a hold_kind: the write handler keeps the next frame
	std::size_t held_bytes;       // its converted bytes in the sample buffer (0: none)
	unsigned held_block;
	int pass_tags;                // a VORBIS_COMMENT block met by the decoder gave a tag
	unsigned frames_to_progress;  // remote: frames until the next "@F" line (0 or 1: the next)
	// Tag texts in their printable form, always blank-padded to their full
	// width in characters (tag_width, year_width).
	char title[tag_room(tag_width)];
	char artist[tag_room(tag_width)];
	char album[tag_room(tag_width)];
	char genre[tag_room(tag_width)];
	char comment[tag_room(tag_width)];
	char year[tag_room(year_width)];
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
/// STREAMINFO nor a frame; file_info.stopped is stop_given_up when the open
/// gave up waiting for the stream. The format and counters are reset first,
/// so a failed open never leaves an earlier stream's values. Only called
/// with no stream open.
int stream_open(const char *path);
/// Plays the next frame of the open stream: the one decoded at open first,
/// then each the decoder gives. The decoder's result: 0 when its call
/// failed.
int stream_decode();
/// 1 once the open stream can give no more: its end, a decoder that failed
/// or stopped, an output that failed or cannot follow the frames.
int stream_ended();
/// At the end of a link of a chained Ogg stream: starts the next link,
/// reads its metadata, announces it and has the output follow its format,
/// as a stream that opens. 1 when it plays on; 0 when there is none (or it
/// cannot play), and the stream ends as it is.
int stream_next_link();
/// Moves the open stream to target (a sample), as the frame that holds it
/// is played next: at once, or on resuming when paused. 1 when the decoder
/// got there; 0 when it could not (a stream read once cannot seek), and
/// playback goes on from where it was.
int stream_seek(uint64_t target);
/// Pauses the playing stream, or resumes the paused one. 1 when it is now
/// paused.
int stream_toggle_pause();
/// Sets the gain applied to every sample from the next frame on.
void volume_set(float gain);
/// Reports how the open stream ended, once it has: a stream that stopped
/// short of the total it states for another reason than a failed output or
/// giving up prints "Stream ended early: FILE (N of M samples)" after the
/// failure prefix. 1 when the output misses part of the stream for that
/// reason or because the format changed under a WAV file; else 0.
int stream_report_end();
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
/// Finishes and releases the open stream's decoder and ends the stream on
/// the output (a live device stays open); a failed close of a WAV output is
/// reported.
void stream_close();
/// What a stream's failure lines begin with: "@E " in remote mode, where
/// they are event lines; "" otherwise.
const char *failure_prefix();

/// Opens path ("-": standard input) and initialises decoder on it with the
/// handlers below and file_info as client data: libFLAC's Ogg decoder when
/// the stream begins as Ogg FLAC (and then on its first link only), its
/// native decoder otherwise, from the first whole frame of a cut stream.
/// When the metadata iterator cannot read the stream (Ogg, or a stream that
/// cannot be read twice) the decoder is set to hand over its VORBIS_COMMENT
/// blocks and *pass_tags is 1, else 0. 1 when initialised; 0 with nothing
/// left open. What it opened is released by the decoder's finish and
/// source_close().
int source_init(FLAC__StreamDecoder *decoder, const char *path, int *pass_tags);
/// When the decoder has reached the end of an Ogg link and another Ogg FLAC
/// link follows, finishes the decoder and initialises it afresh on that
/// link (its tags handed over as above). 1 when it has; 0 when no link
/// follows, the decoder untouched.
int source_next_link(FLAC__StreamDecoder *decoder);
/// 1 when the open stream can seek: a regular file, not a pipe.
int source_seekable();
/// Closes what the last source_init opened that the decoder does not close
/// itself (never standard input). Called after the decoder is finished.
void source_close();

/// What the first n bytes of a stream begin with.
enum probe_kind {
	probe_more = -1,     // n bytes cannot tell yet
	probe_not_flac = 0,  // anything else
	probe_native,        // "fLaC"
	probe_ogg,           // an Ogg page holding FLAC
	probe_tag,           // an ID3v2 tag of *skip bytes, after which to look again
	probe_frames,        // FLAC frames without metadata (a stream cut from another), from *skip on
};
/// How far into a stream its first whole frame is looked for.
inline constexpr std::size_t probe_window = 65536;
/// Classifies the start of a stream (see probe_kind); at_end when no more
/// bytes will come, so that what cannot be told is not FLAC.
int probe_start(const unsigned char *b, std::size_t n, bool at_end, std::size_t *skip);
/// The length of the FLAC frame header at b when its fields and CRC-8 check
/// out; 0 when it is none; -1 when n bytes are too few to tell.
int frame_header_length(const unsigned char *b, std::size_t n);
/// 1 when path is a regular file that begins as a FLAC stream does, by the
/// rule of probe_start (ID3v2 tags skipped): what the player would play.
/// A cut stream is looked for in as much of the file as a frame of the
/// largest kind takes, past the first 64 KiB.
int file_holds_flac(const char *path);

void flac_metadata_hdl(const FLAC__StreamDecoder *decoder, const FLAC__StreamMetadata *metadata,
		       void *client_data);
void flac_error_hdl(const FLAC__StreamDecoder *decoder, FLAC__StreamDecoderErrorStatus status,
		    void *client_data);
FLAC__StreamDecoderWriteStatus flac_write_hdl(const FLAC__StreamDecoder *decoder,
					      const FLAC__Frame *frame,
					      const FLAC__int32 *const buffer[], void *client_data);

/// Copies the printable form of text (length bytes) into out: as many whole
/// characters as fit in max_chars characters and max_bytes bytes, each C0
/// control, DEL, C1 control and each byte that is not part of a valid UTF-8
/// sequence shown as "?". Gives the bytes written (out is not terminated)
/// and sets *chars to the characters written.
std::size_t printable_prefix(const unsigned char *text, std::size_t length, std::size_t max_chars,
			     std::size_t max_bytes, char *out, std::size_t *chars);
/// The printable form of the whole of text (as printable_prefix).
std::string printable(std::string_view text);

/// Writes one event line to standard output in a single write. 1 when all of
/// it was written; 0 when not, after which event_output_failed() gives 1.
int write_event(const char *line, std::size_t length);
/// 1 once an event line could not be written to standard output: nobody
/// reads the events any more.
int event_output_failed();

/// Sets every tag text of rec to blanks, its ReplayGain tags to absent and
/// its gain to unity.
void tags_reset(stream_record *rec);
/// Applies one comment entry (length bytes, not terminated) to the tag
/// texts of rec, in printable form, cut to whole characters, or to its
/// ReplayGain tags. 1 when its name is a known tag (ReplayGain is none), 0
/// otherwise.
int apply_vorbis_comment(stream_record *rec, const unsigned char *entry, uint32_t length);
/// Applies one comment entry to tags when its name (any case) is
/// REPLAYGAIN_TRACK_GAIN, _ALBUM_GAIN ("-7.52 dB": a sign, digits, a
/// fraction, "dB"; within +-60 dB), _TRACK_PEAK or _ALBUM_PEAK (digits and
/// a fraction). A malformed or over-long value makes the tag absent. 1 when
/// the name is one of the four.
int apply_replaygain_comment(replaygain_tags *tags, std::string_view name, std::string_view value);
/// The gain for mode: the mode's own gain tag, else the other one, limited
/// so that the peak tag that goes with it, scaled, stays within full scale;
/// unity without a gain tag or with mode replaygain_off. The factor is
/// 10^(dB/20) worked out in double precision and rounded to float once.
replaygain_choice replaygain_choose(const replaygain_tags &tags, int mode);
/// Reads the tags of the file at path into file_info: the first
/// VORBIS_COMMENT block that holds a known tag. 1 when one was found; 0
/// also for anything but a regular file, which cannot be read twice.
int read_vorbis_tags(const char *path);
/// Takes the tags of a VORBIS_COMMENT block met in the decoder's own
/// metadata pass into rec, unless an earlier block gave one (pass_tags):
/// the same first-block-with-a-known-tag rule as read_vorbis_tags.
void take_pass_tags(stream_record *rec, const FLAC__StreamMetadata_VorbisComment &block);

/// The name shown after "Playing FLAC stream from": the text after the last
/// "/", unless the path is an http:// address.
std::string_view display_name(std::string_view path);
/// The name announced in remote mode for a stream without tags: the path cut
/// at its last "." when that is where ".flac" first occurs.
std::string remote_name(std::string_view path);
/// Prints the announcement of the stream just opened from path: names and
/// tags in printable form only.
void announce_stream(const char *path, int has_tags);

/// Output width for a stream width: the smallest of 8, 16, 24 that holds
/// it, 24 above that.
int container_bits(int bits_per_sample);
/// Interleaves block_size samples of out_channels channels into out at the
/// output width of bits_per_sample, scaled by gain and saturated. Channels
/// the frame lacks (frame_channels < out_channels) are written as silence.
/// Gives the number of bytes of output; out must have room for one byte
/// more, which may be overwritten.
std::size_t convert_frame(const FLAC__int32 *const channels[], unsigned block_size,
			  unsigned frame_channels, unsigned out_channels, int bits_per_sample,
			  float gain, unsigned char *out);
/// Seconds that samples last at rate, in single precision; 0 at rate 0.
float sample_seconds(uint64_t samples, int rate);
/// Room for the longest progress line (two 20-digit counts, two float
/// times of up to 42 characters each).
inline constexpr std::size_t progress_line_max = 160;
/// Formats the remote progress line "@F ..." for position current of a
/// stream of total samples (0: not stated) at rate into buf (NUL-terminated)
/// and gives its length, cut to fit size. The seconds come from the sample
/// counts: current / rate played, (total - current) / rate left.
int format_progress(char *buf, std::size_t size, uint64_t current, uint64_t total, int rate);
