// Where the samples go: a live libao device, kept from stream to stream
// while the sample format stays; a WAV output (a named file or standard
// output) opened anew for every stream; or raw PCM, opened once for the
// whole run, each stream in its own format or converted to a declared one.
#pragma once

#include "output/pcm.h"

#include <ao/ao.h>

#include <cstddef>
#include <cstdint>
#include <string>

/// What the command line chose. Set by start-up before output_init() and
/// read-only afterwards; texts are absent (null) and numbers 0 when not
/// given.
struct output_settings {
	const char *wav;     // WAV output path, "-" for standard output
	const char *driver;  // libao driver name for live output
	int buffer_time_ms;  // live buffer, 1 to 10000: libao's "buffer_time", the pulse driver's latency
	const char *wav_name;  // wav as lines show it (printable); wav when null
	const char *raw;       // raw PCM output path, "-" for standard output
	const char *raw_name;  // raw as lines show it (printable); raw when null
	pcm_format raw_format; // the declared format; rate 0: each stream's own
	// Raw output to anything but a regular file is written as its reader
	// takes it, and waits in between. Waits up to timeout_ms (-1: no limit)
	// for events on fd, watching the front ends as it does: 1 when fd has
	// them. Null: poll on fd alone.
	int (*wait)(int fd, short events, int timeout_ms);
	// Asked while a write waits: nonzero when a request waits to be carried
	// out, so the write stops waiting and keeps the rest for the next one.
	// May be null.
	int (*interrupt)();
	// Asked while a FIFO waits for a reader: nonzero gives up opening it
	// (output_given_up()). May be null.
	int (*give_up)();
	// Nonzero while a signal is ending the run: nothing more is waited for.
	// May be null.
	int (*ending)();
	// The reader of a raw output has gone. May be null.
	void (*reader_gone)();
	// "KEY=VALUE" texts appended to libao's options of a live device, in
	// order, ending with a null (null: none).
	const char *const *device_options;
	const char *device_options_shown;  // the same as lines show them (printable); null when none
	// Ask the sound server what it does to the stream (pulse driver), for
	// output_tell_resampling().
	int tell_resampling;
	// The words for error number err met creating the WAV or raw output,
	// shown after its name. Null: the line gives no reason.
	std::string (*explain)(int err);
	// Nonzero while a front end has more waiting than one look takes in (a
	// burst of calls on the bus): a live device's write then goes in parts,
	// with wait(-1, 0, 0) between them, so that the front ends are heard
	// while the device takes the frame. May be null.
	int (*busy)() = nullptr;
};
extern output_settings output_config;

/// Unless a WAV or raw output is chosen, initialises libao and picks the
/// live driver (those need nothing of libao). 0 on success; 1 (libao
/// already shut down) when no live driver is usable.
int output_init();
/// Closes the output still open and shuts libao down if it was initialised.
void output_shutdown();
/// The libao driver id for live output (after output_init()).
int output_driver_id();
/// The short name of that driver ("pulse"); "" when libao has none for it.
const char *output_driver_name();
/// The short name of the driver libao chooses when none is named (from its
/// configuration, else the first that works here); "" when none works.
/// Initialises libao for the question, and shuts it down again.
std::string output_default_driver();

/// Makes the output ready for a stream of the given format: a live device
/// is kept while the format equals the last one, otherwise (re)opened; a
/// WAV output is opened anew. Either is opened with the channel layout that
/// FLAC fixes for the channel count (none beyond 8 channels). A live device
/// gets buffer_time_ms as libao's "buffer_time"; with the pulse driver it
/// becomes the stream's latency request instead (PULSE_LATENCY_MSEC in this
/// process's environment), and without it the user's own PULSE_LATENCY_MSEC
/// or else a default near 100 ms, shorter where a frame is long. 1 when
/// ready; 0 after printing the line that says why, with no device open.
/// A raw output is opened at its first stream and kept (output_given_up()
/// tells a FIFO whose reader was not waited for); each stream after that
/// has its converter follow its format.
int output_open(const ao_sample_format &format);
/// 1 when the last output_open gave up waiting for a FIFO's reader
/// (output_settings.give_up): nothing was printed.
int output_given_up();
/// 1 when the output is a file being converted into, nobody listening as
/// it goes: a WAV output, or raw output to a regular file (or a path that
/// is none yet). Raw output to a pipe, a FIFO or a device is played.
int output_is_conversion();
/// Whether the output can take a stream of the stated total before
/// anything is opened: a WAV output refuses one that does not fit a WAV
/// file, printing "Stream too big for a WAV file: %s" with stream_name after
/// prefix. 1 when it can; 0 after printing the line.
int output_accepts(const char *stream_name, const ao_sample_format &format,
		   uint64_t total_samples, const char *prefix);
/// The named file a WAV output writes; null for live output and for "-".
const char *output_wav_file();
/// The named file (or FIFO) a raw output is to write, until it is open;
/// null otherwise.
const char *output_raw_file();
/// Prints the line for an output that cannot be opened: "Error opening wav
/// file %s", "Error opening raw output %s" (each followed by " (%s)" with
/// why when it is not empty; once a raw output failed, its "Error writing
/// raw output %s" instead) or "Error opening ao device %d" followed, when
/// -o options were given, by "Device options given: KEY=VALUE ..." (libao
/// does not say which one it refused).
void output_print_open_failure(const std::string &why = "");
/// The words output_settings.explain gives for error number err met
/// creating an output; "" without explain.
std::string output_explain(int err);
/// Prints "Resampled by the sound server: %d Hz stream, sink at %d Hz" once
/// when the sink the live device opened last plays to (asked of a pulse
/// server, when tell_resampling is set) runs at another rate than the
/// stream; nothing otherwise, and nothing again until a device opens.
void output_tell_resampling();
/// Plays size bytes on the open device. 1 when they went out; 0 when the
/// output failed (or a WAV file would pass its size limit): the device is
/// then closed, so the next stream opens a fresh one, and the failure is
/// counted.
int output_play(const unsigned char *bytes, std::size_t size);
/// Ends the stream on the output: a WAV output is closed, its header
/// completed; a live device and a raw output stay open (a raw output's
/// rate converter runs on into the next stream of the format, gaplessly).
/// 1 when fine, 0 when closing failed (counted).
int output_end_stream();
/// The stream was cut short (a skip, a stop): what a raw output to a pipe
/// has not written yet is dropped, and its rate converter's history.
void output_cut();
/// The stream moved (a seek): a rate converter's history is dropped.
void output_jumped();
/// Closes the open device, if there is one, unchecked. What a live device
/// holds is played out first unless output_drop_tail() was called since
/// the last write: the close waits for about the buffer and a little more.
void output_close();
/// What the live device holds need not be heard: the stream on it was
/// stopped on purpose, and closing it waits for nothing more than libao
/// does.
void output_drop_tail();
/// Milliseconds within which output_play_tail() is to be called when
/// nothing follows the last write (a sound server may hold back the end of
/// a stream that stops coming, until more comes); -1 when no device holds
/// anything that is still to be heard.
int output_tail_grace_ms();
/// Has the live device play out what it holds, with silence after it, and
/// returns when the silence has been taken (about the buffer later at
/// most). The device stays open.
void output_play_tail();
/// Prints the failed-output line on standard error after prefix: "Error
/// writing wav file %s", "Error writing raw output %s" or "Error writing to
/// ao device %d".
void output_print_failure(const char *prefix);
/// 1 when any write or close of the output has failed in this run.
int output_failed();

/// Opens the WAV output at path for one stream in format (bits 8, 16 or 24;
/// matrix the channel layout) and writes its header; "-" writes to
/// standard output, which stays open after the output is closed. A FIFO
/// without a reader is not waited for: it fails at once. 1 when open; 0
/// when it cannot be opened. A header that cannot be written fails the
/// first wav_play.
int wav_open(const char *path, const ao_sample_format &format);
/// Writes size bytes of samples in the machine's byte order to the open
/// WAV output. 1 when written; 0 when a write failed or the data would
/// pass what a WAV header can state.
int wav_play(const unsigned char *bytes, std::size_t size);
/// Closes the WAV output, if one is open; a named regular file's header
/// then states the whole sample frames the file holds, also after a failed
/// write. 1 when every write, the header patch and the close succeeded (or
/// none was open).
int wav_close();
/// Writes samples 24-bit samples (3 bytes, little-endian) to out as 32-bit
/// words of the machine's byte order holding the value shifted left by 8.
void widen_24_to_32(const unsigned char *in, std::size_t samples, unsigned char *out);
/// The 68-byte header libao's wav driver writes for format, sizes unknown.
void wav_header(const ao_sample_format &format, unsigned char *header);
/// The WAV channel mask for a libao channel layout ("L,R,C,LFE,BL,BR"): 0
/// when none of its names is a WAV speaker.
uint32_t wav_channel_mask(const char *matrix);

/// Opens the raw output, once, and has it take frames of format (bits 8,
/// 16 or 24 as the frames hold them): as they are, or converted to the
/// declared format. A FIFO is waited for until it has a reader; a named
/// file is created or emptied. 1 when ready; 0 after the line that says why,
/// or when it gave up waiting (raw_given_up()), or when it failed before.
int raw_open(const ao_sample_format &format);
/// 1 when the last raw_open gave up waiting for a FIFO's reader.
int raw_given_up();
/// Writes size bytes of frames in the format of raw_open. To a pipe, a
/// FIFO or a device they go as the reader takes them, waiting in the one
/// poll (output_settings.wait); a waiting request ends the wait and the
/// rest goes first at the next call. A regular file takes them in blocks.
/// 1 when fine; 0 once a write has failed (the output is not used again).
int raw_play(const unsigned char *bytes, std::size_t size);
/// The stream ends: a regular file gets what is held. 0 when that failed.
int raw_end_stream();
/// See output_cut() and output_jumped().
void raw_cut();
void raw_jumped();
/// Flushes the rate converter, writes what is held (to a pipe for at most
/// two seconds, and not while a signal ends the run) and closes the
/// output. 1 when every write and the close succeeded (or none was open).
int raw_close();
/// 1 when the raw output path (or standard output, for "-") is neither a
/// regular file nor missing: written as its reader takes it.
int raw_target_paced(const char *path);
/// 1 once a write to the raw output has failed.
int raw_failed();
/// Opens the FIFO at path for writing once a reader has it open, waiting
/// in the one poll (output_settings.wait) meanwhile; output_settings
/// .give_up abandons the wait, and sets *given_up. The descriptor; -1 with
/// errno set.
int fifo_open_writer(const char *path, int *given_up);
