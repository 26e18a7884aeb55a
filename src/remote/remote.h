// Remote mode: command lines on standard input, event lines on standard
// output and standard error.
#pragma once

#include <cstddef>
#include <cstdint>

struct stream_record;

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
/// Forgets pending text and the end of input (for a new session).
void remote_input_reset();

/// Removes leading and trailing POSIX-locale white space from text in
/// place; null and empty texts are left alone.
void trim_whitespace(char *text);

/// Executes one command: word as typed, arg a malloc'd copy or null, which
/// this releases on every path. 0 to go on, -1 to end remote mode.
int remote_execute(const char *word, char *arg);

/// Where a JUMP with argument arg takes stream s: 1 with the target sample
/// and elapsed seconds, 0 when the command is to be ignored. Relative jumps
/// count from current_sample and are bounded by total_samples.
int jump_target(const stream_record &s, const char *arg, uint64_t *sample, float *elapsed);
