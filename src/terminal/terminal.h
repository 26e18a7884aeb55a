// The terminal front end of playlist mode: keys read from the controlling
// terminal, and a status line on standard error. Keys ask for the playback
// actions that remote commands ask for too; the playlist loop carries them
// out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// What the command line chose. Set by start-up, read-only afterwards.
struct terminal_settings {
	int keys;    // take keys from the controlling terminal (no --no-keys)
	int status;  // show the status line (no -q)
};
extern terminal_settings terminal_config;

/// What a key asks for.
enum key_action {
	key_none,
	key_pause,     // pause or resume
	key_seek,      // by amount seconds
	key_next,
	key_previous,  // the file before, or the start of this one
	key_volume,    // by amount tenths
	key_quit,
	key_help,
};
struct key_request {
	int action;  // a key_action
	int amount;
};

/// Turns terminal bytes into keys, escape sequences split across reads
/// included. A lone ESC and unknown keys are nothing.
struct key_decoder {
	int state;   // where in an escape sequence
};
/// Takes one byte; 1 with *key filled when it completes a key, else 0.
int key_decode(key_decoder *d, unsigned char byte, key_request *key);

/// What the status line shows.
struct status_info {
	uint64_t position, total;  // samples; total 0 when not stated
	int rate;
	int index, count;          // the file's place in the list, from 1; count 0: not known yet
	int paused;
	float volume;
};
/// The status line's text, e.g. "[2/10]   1:23 / 3:45 (37%)", or "[2/?]" while the
/// count is not known.
std::string status_text(const status_info &info);
/// A time of seconds as m:ss, or h:mm:ss from an hour on.
std::string clock_text(uint64_t seconds);

/// The key list printed for "h" and "?".
extern const char *const key_help_text;

/// Starts the front end when standard error is a terminal: opens the
/// controlling terminal for keys (unless terminal_config.keys is 0), and
/// has every line printed through stdout or stderr erase the status line
/// first. Nothing at all is done otherwise. The terminal's settings are
/// only touched while this process is in its foreground.
void terminal_start();
/// Erases the status line and gives the terminal its settings back.
void terminal_stop();
/// The same, from a signal handler: async-signal-safe.
void terminal_release();
/// Takes what the terminal has (without waiting, or up to wait_ms
/// milliseconds when nothing has come) and gives the first key; key_none
/// when there is none, or when keys are not active (no terminal, in the
/// background).
key_request terminal_key(int wait_ms);
/// Draws the status line when it is due: at most about ten times a second,
/// or at once with now.
void terminal_status(const status_info &info, int now);
/// Prints the key list, the status line erased first.
void terminal_help();
