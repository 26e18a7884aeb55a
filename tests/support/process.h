// Running the built program (and other tools) from tests: arguments,
// environment, standard input, captured output, exit status, and a time
// limit on everything so that a hang fails one case instead of the suite.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct spawn_options {
	std::vector<std::string> env{};  // NAME=VALUE, added to or replacing the inherited ones
	bool no_stdin = false;         // start with descriptor 0 closed
	bool no_stdout = false;        // start with descriptor 1 closed
	std::string stdout_path{};     // send stdout to this file instead of a pipe
	bool stderr_to_stdout = false; // stderr goes where stdout goes (a server's log)
	std::string stdin_path{};      // descriptor 0 opened on this path ...
	int stdin_flags = 0;           // ... with these open flags
	// At a new pseudo-terminal, as its foreground job: standard input,
	// output and error are the terminal, whose screen is out_text.
	bool terminal = false;
};

struct process {
	pid_t pid = -1;
	int in = -1, out = -1, err = -1;
	std::string out_text, err_text;
	int status = -1;        // exit code, or 128 + signal number
	bool timed_out = false;
	double cpu_seconds = 0; // user and system time, once reaped
	int terminal = -1;      // the pseudo-terminal, while it runs at one
	termios settings{};     // ... and its settings as it left them, once reaped
};

/// This process's environment with env's NAME=VALUE entries added or
/// replacing the inherited ones.
std::vector<std::string> environment_with(const std::vector<std::string> &env);
/// Starts argv[0] (a path) with the given arguments. SIGINT and SIGPIPE get
/// their default dispositions in the child whatever the test runner had.
bool process_start(process &p, const std::vector<std::string> &argv, const spawn_options &opt = {});
/// The settings of the child's terminal now, or as it left them at its end.
termios terminal_settings(const process &p);
/// Writes text to the child's standard input; false if it cannot.
bool process_send(process &p, std::string_view text);
void process_close_input(process &p);
/// Collects output until done(p) holds; false when the time runs out or
/// the child's output ends first.
bool process_wait_until(process &p, const std::function<bool(const process &)> &done, double seconds);
/// Collects output until stdout holds needle.
bool process_wait_stdout(process &p, std::string_view needle, double seconds);
/// Closes standard input, collects everything and reaps the child. Kills it
/// (and sets timed_out) if it does not end in time. Gives status.
int process_finish(process &p, double seconds);

struct run_result {
	int status;
	bool timed_out;
	std::string out, err;
	double cpu_seconds = 0;
};

/// Runs a program to its end with input on standard input.
run_result run(const std::vector<std::string> &argv, std::string_view input = {}, double seconds = 60,
	       const spawn_options &opt = {});

/// The writing end of a FIFO (blocking), once a reader has it open; -1 when
/// none comes within seconds.
int fifo_writer(const std::string &fifo, double seconds = 20);

/// Monotonic seconds, for measuring how long a run took.
double now_seconds();
