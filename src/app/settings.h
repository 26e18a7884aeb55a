// Program settings, output selection and interrupt flags: set at start-up
// (and by the SIGINT handler), read by playback and the loops.
#pragma once

#include "mpris/mpris.h"
#include "output/pcm.h"
#include "playback/request.h"
#include "playlist/playlist.h"

#include <popt.h>

#include <csignal>

inline constexpr const char *wendrop_version = "2.1.1";

/// Option values. Texts are null when the option was not given; they are
/// owned by the settings and released by options_free().
extern char *opt_driver;
extern char *opt_wav;
extern char *opt_raw;
extern char *opt_buffer_time;
/// Flags, 0 or 1.
extern int opt_remote;
extern int opt_quiet;
extern int opt_version;
/// The buffer time in milliseconds, 1 to buffer_ms_max; 0 when the option
/// was not given.
extern int opt_buffer_ms;
inline constexpr int buffer_ms_max = 10000;
/// One "@F" line in this many frames, 1 to skip_frames_max; 1 when the
/// option was not given.
extern int opt_skip_printing_frames;
inline constexpr int skip_frames_max = 1000000;
/// Remote JUMP numbers count MPEG audio frames; 0 or 1.
extern int opt_mpeg_frames;
/// Playlist order: shuffled, repeated; 0 or 1.
extern int opt_shuffle;
extern int opt_repeat;
/// A replaygain_mode; replaygain_off when the option was not given.
extern int opt_replaygain;
/// The -o KEY=VALUE texts, in order, ending with a null; null when none
/// was given. Each holds a "=" after a key of at least one character.
extern char **opt_device_options;
/// No keys from the terminal; 0 or 1.
extern int opt_no_keys;
/// Whole files, no tracks from cue sheets; 0 or 1.
extern int opt_no_cue;
/// Not on the session bus (MPRIS); 0 or 1.
extern int opt_no_mpris;
/// The raw output's declared format; rate 0 when the option was not given.
extern pcm_format opt_raw_format;

/// Set by the SIGINT handler; the playlist loop reads them afresh at every
/// test and clears interrupted after each file that opened.
extern volatile sig_atomic_t interrupted;
extern volatile sig_atomic_t quit_requested;
/// The signal that ends the run (SIGTERM, SIGHUP, SIGPIPE, and SIGINT in
/// remote mode) once the output is finished; 0 while none has come.
extern volatile sig_atomic_t fatal_signal;

/// The SIGINT handler: sets interrupted, and quit_requested as well when
/// the previous interrupt came less than a second before, by the monotonic
/// clock.
void sigint_hdl(int sig);
/// Installs sigint_hdl for SIGINT (kept installed, interrupted calls
/// restarted), unless the process was started ignoring it. 0 on success.
int sigint_install();
/// Notes which signals the process was started ignoring (they stay so),
/// opens the wake-up pipe, and installs the handler that notes a signal
/// ending the run in fatal_signal for every such signal.
void signals_install(int remote);
/// Installs those handlers again: a library may have taken one (libpulse
/// sets SIGPIPE to be ignored when it connects).
void signals_reclaim();
/// While the terminal is ours: release (async-signal-safe) gives it its
/// settings back before Ctrl-Z stops the process, before a second signal
/// ends it at once, and before any other signal ends it; a continued
/// process, or a resized terminal, is noted for signals_take_wake().
void signals_install_terminal(void (*release)());
/// The descriptor that becomes readable when a signal has come; -1 when
/// there is none, and waits must then wake by themselves now and then.
int signals_wake_fd();
/// Empties the wake-up pipe. 1 when the process was continued or the
/// terminal resized since the last call.
int signals_take_wake();
/// Standard output's reader has gone (a line could not be written): the
/// run ends as by SIGPIPE.
void signals_output_gone();
/// 1 once a signal has asked the run to end.
int stop_requested();
/// Ends the process by the signal that asked for it, with that signal's
/// default disposition, unless the process was started ignoring it. 0 when
/// no signal asked; 1 when one did and the process lives on.
int signals_end_run();
/// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so
/// that no file opened later takes a standard descriptor's number.
void standard_descriptors_open();

/// Parses the command line into the settings. Gives the popt context (its
/// remaining arguments are the files) or null after printing the error;
/// help and usage requests end the process inside. The caller releases a
/// context with options_free().
poptContext options_parse(int argc, const char **argv);
/// Releases the context and the option texts.
void options_free(poptContext con);

/// Plays what the remaining arguments of the context stand for (folders
/// walked, playlist files read, as they play) in turn, round after round
/// with repeat, until the list is done, a round opened no file, a double
/// interrupt or a signal ends the run. Gives 1 when a WAV output misses
/// part of what was named: a folder without FLAC, an entry that could not
/// be read or opened, a playlist file too deep, too long, empty or not
/// text, a stream that ended before its stated total, or one that a
/// listener left before its end (a skip, a stop, Ctrl-C); and when nothing
/// played because the live device did not open. 0 otherwise.
int playlist_loop(poptContext con);
/// Prints the line for a playlist_problem met with path (err: the error
/// number behind it, 0 when none): "Error opening %s (%s)" with the reason
/// err gives (or without one), "No FLAC files in %s", "Playlist nested too
/// deep: %s", "Not a playlist: %s (not text)", "Error reading cue sheet
/// %s", "Playlist too long: %s" or "No entries in %s", the path in
/// printable form.
void playlist_report(int problem, const char *path, int err);
/// Where playlist mode's list goes after an entry.
enum file_end { file_done, file_skipped, file_previous, run_quit, file_replaced };
/// What playlist mode carries from entry to entry.
struct playlist_run {
	int repeat;       // as the command line set it, switched at run time by a request
	int stay_paused;  // the listener moved to another entry while paused: it opens paused
};
extern playlist_run playlist_state;
/// Carries out a request on the playing entry of list (or the one being
/// opened): the list's own here (a seek past the end, next, previous, a
/// URI put in to play next, stop: a file_end; shuffle and repeat
/// switched), the stream's by request_apply. -1 when playback of the entry
/// goes on.
int playlist_carry_out(playlist *list, const request &r);
/// Notes that a request moved off the entry with end, and gives end: one
/// moved to from a paused stream opens paused, as the desktop's Next does.
int playlist_moved(int end);
/// After a read of the stream gave up waiting (the stream opening, or one
/// that stalled): the request that moved off it, carried out there and
/// only there, with those before it; an interrupt skips it. A file_end.
int playlist_moved_off(playlist *list);
/// The list as the desktop sees it.
mpris_list playlist_list_state(const playlist &list);
/// Tells the desktop what request r, carried out, changed, and of every
/// seek.
void playlist_tell_desktop(const playlist &list, const request &r);
/// What playback asks while a read of the stream waits in playlist mode:
/// nonzero for an interrupt, a signal, or a front end that moved on (a
/// key). Once the entry being opened is awaited, the desktop is told of it.
int playlist_give_up();

/// The one poll over the front ends (the terminal's keys, the desktop's
/// bus) and the signals' wake-up pipe, and fd when it is not -1: waits up
/// to timeout_ms (-1: no limit) until one of them has something, and takes
/// in what the front ends have as requests. 1 when fd is readable.
int frontends_wait(int fd, int timeout_ms);
/// The same, for events on fd (POLLOUT: room to write): 1 when fd has them.
int frontends_wait_for(int fd, short events, int timeout_ms);
/// 1 once after the process was continued or the terminal resized: the
/// status line is to be drawn afresh.
int frontends_take_redraw();

/// The whole program: start-up, the chosen loop, shutdown. Gives the exit
/// status.
int wendrop_main(int argc, const char **argv);
