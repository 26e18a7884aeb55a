// Program settings, output selection and interrupt flags: set at start-up
// (and by the SIGINT handler), read by playback and the loops.
#pragma once

#include <popt.h>

#include <csignal>

inline constexpr const char *wendrop_version = "2.1.1";

/// Option values. Texts are null when the option was not given; they are
/// owned by the settings and released by options_free().
extern char *opt_driver;
extern char *opt_wav;
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
/// No keys from the terminal; 0 or 1.
extern int opt_no_keys;

/// Set by the SIGINT handler; the playlist loop reads them afresh at every
/// test and clears interrupted after each file that opened.
extern volatile sig_atomic_t interrupted;
extern volatile sig_atomic_t quit_requested;
/// The signal that ends the run (SIGTERM, SIGHUP, SIGPIPE, and SIGINT in
/// remote mode) once the output is finished; 0 while none has come.
extern volatile sig_atomic_t fatal_signal;

/// The SIGINT handler: sets interrupted, and quit_requested as well when
/// the previous interrupt fell into the same whole second.
void sigint_hdl(int sig);
/// Installs sigint_hdl for SIGINT (kept installed, interrupted calls
/// restarted). 0 on success.
int sigint_install();
/// Installs the handler that notes a signal ending the run in fatal_signal,
/// for every such signal the process was not started ignoring.
void signals_install(int remote);
/// Has release (async-signal-safe) give the terminal its settings back
/// before Ctrl-Z stops the process and before a second signal ends it at
/// once.
void signals_install_terminal(void (*release)());
/// 1 once a signal has asked the run to end.
int stop_requested();
/// Ends the process by the signal that asked for it, with that signal's
/// default disposition; returns when none did.
void signals_end_run();
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
/// be read or opened, a playlist file too deep or not text, or a stream
/// that ended before its stated total (a Ctrl-C skip is not a miss); 0
/// otherwise.
int playlist_loop(poptContext con);
/// Prints the line for a playlist_problem met with path: "Error opening
/// %s", "No FLAC files in %s", "Playlist nested too deep: %s" or "Not a
/// playlist: %s", the path in printable form.
void playlist_report(int problem, const char *path);

/// The whole program: start-up, the chosen loop, shutdown. Gives the exit
/// status.
int wendrop_main(int argc, const char **argv);
