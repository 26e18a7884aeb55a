// The controlling terminal: keys without waiting for a line end and
// without echo (ISIG stays, so Ctrl-C and Ctrl-Z keep their meaning), and
// the status line. The terminal is only touched while this process is in
// its foreground: in the background (wendrop a.flac &) nothing is read,
// set or drawn, so SIGTTIN and SIGTTOU never stop it; brought to the
// foreground, it takes the keys.
#include "terminal/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

terminal_settings terminal_config;

static struct {
	int active;  // standard error is a terminal: terminal_start did its work
	int tty = -1;  // the controlling terminal, for keys
	termios saved;  // the settings found, given back on every way out
	volatile sig_atomic_t raw;    // ours are in force
	volatile sig_atomic_t shown;  // the status line is on the screen
	double drawn;  // when it was drawn last, in seconds
	double looked;  // when the foreground was last looked at, for keys
	key_decoder decoder;
	unsigned char pending[64];  // read from the terminal, not yet decoded
	std::size_t pending_size, pending_used;
} term;

static const char erase_line[] = "\r\033[K";

static double now_seconds()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

static void write_all(int fd, const char *buf, std::size_t size)
{
	while (size > 0) {
		ssize_t n = write(fd, buf, size);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return;
		buf += n;
		size -= static_cast<std::size_t>(n);
	}
}

static void erase_status()
{
	if (term.shown) {
		term.shown = 0;
		write_all(STDERR_FILENO, erase_line, sizeof erase_line - 1);
	}
}

// Every line printed through stdio erases the status line first, so that
// no line is printed over a half status line. So standard output and
// standard error, when they are the terminal, are FILEs of ours.
static ssize_t erasing_write(void *cookie, const char *buf, size_t size)
{
	erase_status();
	write_all(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), buf, size);
	return static_cast<ssize_t>(size);
}

static FILE *erasing_stream(int fd)
{
	cookie_io_functions_t io = {nullptr, erasing_write, nullptr, nullptr};
	FILE *f = fopencookie(reinterpret_cast<void *>(static_cast<intptr_t>(fd)), "w", io);
	if (f)
		setvbuf(f, nullptr, _IONBF, 0);
	return f;
}

static int in_foreground()
{
	const int fd = term.tty >= 0 ? term.tty : STDERR_FILENO;
	pid_t group = tcgetpgrp(fd);
	return group >= 0 && group == getpgrp();
}

void terminal_start()
{
	if (!isatty(STDERR_FILENO))
		return;
	term.active = 1;
	if (terminal_config.status) {
		fflush(nullptr);
		if (isatty(STDOUT_FILENO))
			if (FILE *f = erasing_stream(STDOUT_FILENO))
				stdout = f;
		if (FILE *f = erasing_stream(STDERR_FILENO))
			stderr = f;
	}
	if (terminal_config.keys)
		term.tty = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

// Keys come one by one, unechoed: the terminal's line mode and echo off.
static void take_terminal()
{
	if (term.raw || term.tty < 0 || !in_foreground() || tcgetattr(term.tty, &term.saved) != 0)
		return;
	termios t = term.saved;
	t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
	t.c_cc[VMIN] = 1;
	t.c_cc[VTIME] = 0;
	if (tcsetattr(term.tty, TCSANOW, &t) == 0)
		term.raw = 1;
}

void terminal_release()
{
	erase_status();
	if (term.raw) {
		term.raw = 0;
		tcsetattr(term.tty, TCSANOW, &term.saved);
	}
}

void terminal_stop()
{
	fflush(nullptr);
	terminal_release();
}

key_request terminal_key(int wait_ms)
{
	key_request key = {key_none, 0};
	if (term.tty < 0)
		return key;
	// Not ours yet, or given back (Ctrl-Z): taken in the foreground, which
	// is looked at ten times a second, not at every frame.
	if (!term.raw) {
		const double t = now_seconds();
		if (t - term.looked < 0.1 && !wait_ms)
			return key;
		term.looked = t;
		take_terminal();
		if (!term.raw)
			return key;
	}
	for (;;) {
		while (term.pending_used < term.pending_size)
			if (key_decode(&term.decoder, term.pending[term.pending_used++], &key))
				return key;
		// Reading in the background would stop the process (SIGTTIN).
		pollfd p = {term.tty, POLLIN, 0};
		if (poll(&p, 1, wait_ms) <= 0 || !in_foreground())
			return key;
		ssize_t n = read(term.tty, term.pending, sizeof term.pending);
		if (n <= 0)
			return key;
		term.pending_size = static_cast<std::size_t>(n);
		term.pending_used = 0;
		wait_ms = 0;
	}
}

void terminal_status(const status_info &info, int now)
{
	if (!term.active || !terminal_config.status)
		return;
	const double t = now_seconds();
	if ((!now && t - term.drawn < 0.1) || !in_foreground())
		return;
	term.drawn = t;
	// Built by appending: GCC 12 warns falsely about "literal" + string.
	std::string line = "\r";
	line.append(status_text(info)).append("\033[K");
	write_all(STDERR_FILENO, line.data(), line.size());
	term.shown = 1;
}

void terminal_help()
{
	fputs(key_help_text, stderr);
}
