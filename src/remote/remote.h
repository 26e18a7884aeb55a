// Remote mode: command lines on standard input, event lines on standard
// output and standard error.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>

struct stream_record;

/// What the command line chose for remote mode. Set by start-up,
/// read-only afterwards.
struct remote_settings {
	// A JUMP number without the "s" suffix counts MPEG audio frames of
	// 1,152 samples, as front ends written for mpg321 mean it; 0: seconds.
	int mpeg_frames;
	// Asked between steps and while input is awaited: nonzero ends remote
	// mode (a signal asked the run to end). May be null.
	int (*stop_requested)();
	// The one poll over the front ends and the network (frontends_wait),
	// waited in while a stream is loaded and paused, so that its transfer
	// goes on reading ahead; it takes in the command input itself. Null:
	// the input alone is waited on.
	int (*wait)(int fd, int timeout_ms);
};
extern remote_settings remote_config;

/// How long a LOAD waits for the first bytes of a stream that is not a
/// regular file, in milliseconds: a FIFO with no writer, a device with
/// nothing to read, are refused this soon.
inline constexpr int load_first_bytes_ms = 500;
/// Samples in an MPEG audio frame (layers II and III).
inline constexpr int mpeg_frame_samples = 1152;

/// Room for pending command text (a terminating zero follows it): a LOAD
/// of the longest legal path (4,095 bytes) with its line end fits. A line
/// that fills it without ending is never run.
inline constexpr std::size_t remote_buffer_size = 4096 + 8;

/// Greets, then plays and takes commands until QUIT or the end of input.
void remote_loop();

/// Takes in what standard input has ready and executes at most one command
/// line; a line too long for the buffer is dropped to its end with one
/// "@E Command line too long". 0 to go on, -1 to end remote mode.
int remote_read_command();
/// As remote_read_command, but never waits.
int remote_poll();
/// As remote_read_command, waiting for input while none is pending.
int remote_wait();
/// Waits up to ms milliseconds for input. 1 when some is pending or ready
/// (or standard input cannot be read), 0 when the time ran out.
int remote_input_within(int ms);
/// Forgets pending text and the end of input (for a new session).
void remote_input_reset();
/// For the one poll while a stream waits for data: fills *p with the
/// command input when it is to be read (1), else gives 0: after its end,
/// and while the buffer is full, so that the front end waits.
int remote_watch(pollfd *p);
/// Takes in what the command input has, without running it. A line too
/// long for the buffer with nothing before it is dropped at once (with its
/// "@E Command line too long").
void remote_take();
/// Playback's give_up while a stream waits for data: 1 when what has come
/// cannot wait for the stream: the end of input, a line whose command ends
/// or replaces the stream (LOAD, STOP, QUIT), or a signal ending the run.
/// Those run once the decoder has given way.
int remote_give_up();
/// 1 while text is pending, or the end of input has been seen.
int remote_has_input();

/// Removes leading and trailing POSIX-locale white space from text in
/// place; null and empty texts are left alone.
void trim_whitespace(char *text);

/// Executes one command: word as typed, arg a malloc'd copy or null, which
/// this releases on every path. 0 to go on, -1 to end remote mode.
int remote_execute(const char *word, char *arg);
/// 1 when the command word names a command that ends or replaces the open
/// stream (LOAD, STOP, QUIT).
int command_ends_stream(const char *word);

/// Where a JUMP with argument arg takes stream s: 1 with the target sample
/// and elapsed seconds, 0 when the command is to be ignored. The number is
/// seconds, or with mpeg_frames and no "s" suffix MPEG audio frames.
/// Relative jumps count from current_sample and are bounded by
/// total_samples.
int jump_target(const stream_record &s, const char *arg, int mpeg_frames, uint64_t *sample, float *elapsed);
