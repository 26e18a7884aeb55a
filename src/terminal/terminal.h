// The terminal front end of playlist mode: keys read from the controlling
// terminal, and a status line on standard error. Keys ask for the playback
// actions that every front end asks for (playback/request.h); the playlist
// loop carries them out.
#pragma once

#include "playback/request.h"

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <string>

/// What the command line chose. Set by start-up, read-only afterwards.
struct terminal_settings {
	int keys;    // take keys from the controlling terminal (no --no-keys)
	int status;  // show the status line (no -q)
};
extern terminal_settings terminal_config;

/// Turns terminal bytes into requests, escape sequences split across reads
/// included. A lone ESC and unknown keys are nothing.
struct key_decoder {
	int state;   // where in an escape sequence
};
/// Takes one byte; 1 with *key filled when it completes a key, else 0.
int key_decode(key_decoder *d, unsigned char byte, request *key);

/// What the status line shows.
struct status_info {
	uint64_t position, total;  // samples; total 0 when not stated
	int rate;
	int index, count;          // the entry's place in the list, from 1; count 0: not known yet
	int paused;
	float volume;
};
/// The status line's text, e.g. "[2/10]   1:23 / 3:45 (37%)", in fewer than
/// width columns (0: any width): the volume goes first, then the place,
/// then the percentage, and what still does not fit is cut.
std::string status_text(const status_info &info, int width = 0);
/// A time of seconds as m:ss, or h:mm:ss from an hour on.
std::string clock_text(uint64_t seconds);

/// The key list printed for "h" and "?".
extern const char *const key_help_text;

/// Starts the front end when standard error is a terminal: opens the
/// controlling terminal and, in the foreground, takes it for keys (no line
/// mode, no echo; unless terminal_config.keys is 0), and has every line
/// printed through stdout or stderr erase the status line first. Nothing at
/// all is done otherwise. The terminal's settings are only touched while
/// this process is in its foreground.
void terminal_start();
/// 1 when standard error is a terminal: the only case in which
/// terminal_start does anything, and the terminal may need giving back.
int terminal_present();
/// Erases the status line and gives the terminal its settings back.
void terminal_stop();
/// The same, from a signal handler: async-signal-safe. Touches the
/// terminal only while this process is in its foreground.
void terminal_release();
/// The process was continued or the terminal resized: the foreground and
/// the width are looked at afresh.
void terminal_recheck();
/// For the one poll over the front ends: fills *p with the terminal when
/// its keys are to be watched now (1), else gives 0. In the background the
/// foreground is looked at again within a second, so *timeout_ms (-1: no
/// limit) may be lowered.
int terminal_watch(pollfd *p, int *timeout_ms);
/// Takes in every key the terminal has, as requests (request_push), after
/// a poll gave revents for it. A terminal that has hung up is given up for
/// good: no keys and no status line from then on.
void terminal_take(short revents);
/// Draws the status line when it is due: at most about ten times a second,
/// or at once with now.
void terminal_status(const status_info &info, int now);
/// Prints the key list, the status line erased first.
void terminal_help();
