// Running the built program at a real pseudo-terminal (forkpty): what it
// shows there, the keys it is sent, the terminal's settings, and whether it
// runs in the terminal's foreground or in the background.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct pty_process {
	pid_t pid = -1;
	int master = -1;
	int control = -1;   // to the session leader of a background run
	std::string screen; // everything written to the terminal
	int status = -1;    // exit code, or 128 + signal number
	bool timed_out = false;
	termios settings{}; // the terminal's settings when the program ended
};

/// Starts argv[0] with the given arguments on a new pseudo-terminal, as its
/// foreground job; with background, in a process group of its own that the
/// terminal does not read for, as "argv &" would. env as for process_start.
bool pty_start(pty_process &p, const std::vector<std::string> &argv, const std::vector<std::string> &env,
	       bool background = false);
/// Makes a background run the terminal's foreground job, as "fg" does.
bool pty_foreground(pty_process &p);
/// Types text at the terminal.
bool pty_send(pty_process &p, std::string_view text);
/// Collects what the terminal shows until done(screen) holds; false when
/// the time runs out or the program has ended first.
bool pty_wait(pty_process &p, const std::function<bool(const std::string &)> &done, double seconds);
/// The terminal's settings as the program last left them (once it has
/// ended: as it left them at its end).
termios pty_settings(const pty_process &p);
/// Collects everything and reaps the program, killing it if it does not end
/// in time. Gives status.
int pty_finish(pty_process &p, double seconds);
