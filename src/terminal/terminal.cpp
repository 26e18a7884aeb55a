// The controlling terminal: keys without waiting for a line end and
// without echo (ISIG stays, so Ctrl-C and Ctrl-Z keep their meaning), and
// the status line. The terminal is only touched while this process is in
// its foreground: in the background (wendrop a.flac &) nothing is read,
// set or drawn, so SIGTTIN and SIGTTOU never stop it; brought to the
// foreground, it takes the keys. A terminal that hangs up is given up for
// good, so that nothing waits on it or spins on it.
#include "terminal/terminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

terminal_settings terminal_config;

static struct {
	int active;     // standard error is a terminal, not hung up: ours to draw on
	int tty = -1;   // the controlling terminal, for keys
	int dumb;       // TERM names one without cursor control: blanks erase
	termios saved;  // the settings found, given back on every way out
	volatile sig_atomic_t raw;    // ours are in force
	volatile sig_atomic_t shown;  // columns of the status line on the screen; 0: none
	int foreground;  // as last looked at
	double looked;   // when, in seconds
	double drawn;    // when the status line was drawn last
	key_decoder decoder;
} term;

// How often the foreground is looked at while nothing says it changed.
static constexpr double look_interval = 0.1;
// How long a wait in the background may last before it looks again.
static constexpr int background_wait_ms = 1000;

static double now_seconds()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Async-signal-safe. 1 when all of it was written.
static int write_all(int fd, const char *buf, std::size_t size)
{
	while (size > 0) {
		ssize_t n = write(fd, buf, size);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return 0;
		buf += n;
		size -= static_cast<std::size_t>(n);
	}
	return 1;
}

// Async-signal-safe.
static void erase_status()
{
	const int columns = term.shown;
	if (!columns)
		return;
	term.shown = 0;
	if (!term.dumb) {
		write_all(STDERR_FILENO, "\r\033[K", 4);
		return;
	}
	static const char blanks[] = "                                                                ";
	write_all(STDERR_FILENO, "\r", 1);
	for (int left = columns; left > 0; left -= static_cast<int>(sizeof blanks - 1))
		write_all(STDERR_FILENO, blanks, std::min<std::size_t>(static_cast<std::size_t>(left), sizeof blanks - 1));
	write_all(STDERR_FILENO, "\r", 1);
}

// Every line printed through stdio erases the status line first, so that
// no line is printed over a half status line, wherever standard output
// goes. So standard output and standard error are FILEs of ours; a failed
// write fails the FILE, as it would have.
static ssize_t erasing_write(void *cookie, const char *buf, size_t size)
{
	erase_status();
	return write_all(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), buf, size) ? static_cast<ssize_t>(size) : -1;
}

static FILE *erasing_stream(int fd)
{
	cookie_io_functions_t io = {nullptr, erasing_write, nullptr, nullptr};
	FILE *f = fopencookie(reinterpret_cast<void *>(static_cast<intptr_t>(fd)), "w", io);
	if (f)
		setvbuf(f, nullptr, _IONBF, 0);
	return f;
}

static int terminal_fd()
{
	return term.tty >= 0 ? term.tty : STDERR_FILENO;
}

// Async-signal-safe: tcgetpgrp and getpgrp are.
static int in_foreground()
{
	pid_t group = tcgetpgrp(terminal_fd());
	return group >= 0 && group == getpgrp();
}

static void hang_up()
{
	if (term.tty >= 0)
		close(term.tty);
	term.tty = -1;
	term.active = term.foreground = 0;
	term.raw = 0;
	term.shown = 0;
}

// Whether this process is in the terminal's foreground, looked at afresh
// when asked to (force) or when the last look is old. A terminal that can
// no longer say (hung up: EIO) is given up.
static int foreground_now(int force)
{
	if (!term.active)
		return 0;
	const double t = now_seconds();
	if (!force && t - term.looked < look_interval)
		return term.foreground;
	term.looked = t;
	pid_t group = tcgetpgrp(terminal_fd());
	if (group < 0 && errno != EINTR)
		hang_up();
	term.foreground = group >= 0 && group == getpgrp();
	return term.foreground;
}

// Runs f with SIGTTOU held back: from the background, setting the terminal
// would stop the process instead of failing.
template <typename F> static void without_ttou(F f)
{
	sigset_t block, old;
	sigemptyset(&block);
	sigaddset(&block, SIGTTOU);
	sigprocmask(SIG_BLOCK, &block, &old);
	f();
	sigprocmask(SIG_SETMASK, &old, nullptr);
}

// Keys come one by one, unechoed: the terminal's line mode and echo off.
static void take_terminal()
{
	// Looked at afresh: a process stopped and continued in the background
	// may still think it is in the foreground, and settings made from there
	// would become the shell's.
	if (term.raw || term.tty < 0 || !term.foreground || !in_foreground() || tcgetattr(term.tty, &term.saved) != 0)
		return;
	termios t = term.saved;
	t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
	t.c_cc[VMIN] = 1;
	t.c_cc[VTIME] = 0;
	without_ttou([&] {
		if (tcsetattr(term.tty, TCSANOW, &t) == 0)
			term.raw = 1;
	});
}

int terminal_present()
{
	return isatty(STDERR_FILENO);
}

void terminal_start()
{
	if (!terminal_present())
		return;
	term.active = 1;
	const char *name = getenv("TERM");
	term.dumb = !name || !*name || strcmp(name, "dumb") == 0 || strcmp(name, "emacs") == 0;
	if (terminal_config.status) {
		fflush(nullptr);
		if (FILE *f = erasing_stream(STDOUT_FILENO))
			stdout = f;
		if (FILE *f = erasing_stream(STDERR_FILENO))
			stderr = f;
	}
	if (terminal_config.keys)
		term.tty = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	// Taken at once, so that no key typed while the first stream is awaited
	// is echoed.
	terminal_recheck();
}

void terminal_recheck()
{
	if (foreground_now(1))
		take_terminal();
}

void terminal_release()
{
	// From the background the terminal is the shell's, which has put its
	// own settings back; a status line there would stop the process.
	if (!term.active || !in_foreground())
		return;
	without_ttou([] {
		erase_status();
		if (term.raw) {
			term.raw = 0;
			tcsetattr(term.tty, TCSANOW, &term.saved);
		}
	});
}

void terminal_stop()
{
	fflush(nullptr);
	terminal_release();
}

int terminal_watch(pollfd *p, int *timeout_ms)
{
	if (!foreground_now(0)) {
		// Not ours now: looked at again soon, and (continued) at once.
		if (term.active && (*timeout_ms < 0 || *timeout_ms > background_wait_ms))
			*timeout_ms = background_wait_ms;
		return 0;
	}
	if (term.tty < 0)
		return 0;
	take_terminal();
	*p = {term.tty, POLLIN, 0};
	return 1;
}

void terminal_take(short revents)
{
	if (term.tty < 0)
		return;
	if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
		hang_up();
		return;
	}
	// Every key waiting, not one a frame: a burst is taken at once.
	unsigned char bytes[256];
	for (;;) {
		ssize_t n = read(term.tty, bytes, sizeof bytes);
		if (n < 0 && (errno == EAGAIN || errno == EINTR))
			return;
		if (n <= 0) {
			hang_up();
			return;
		}
		request key;
		for (ssize_t i = 0; i < n; i++)
			if (key_decode(&term.decoder, bytes[i], &key))
				request_push(key);
		if (static_cast<std::size_t>(n) < sizeof bytes)
			return;
	}
}

static int terminal_width()
{
	winsize size;
	return ioctl(terminal_fd(), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void terminal_status(const status_info &info, int now)
{
	if (!term.active || !terminal_config.status)
		return;
	const double t = now_seconds();
	if ((!now && t - term.drawn < 0.1) || !foreground_now(0))
		return;
	term.drawn = t;
	const std::string text = status_text(info, terminal_width());
	// Built by appending: GCC 12 warns falsely about "literal" + string.
	std::string line = "\r";
	line.append(text);
	const int columns = static_cast<int>(text.size());
	if (term.dumb)
		line.append(static_cast<std::size_t>(std::max(term.shown - columns, 0)), ' ');
	else
		line.append("\033[K");
	write_all(STDERR_FILENO, line.data(), line.size());
	const int before = term.shown;
	term.shown = std::max(std::max(before, columns), 1);
}

void terminal_help()
{
	fputs(key_help_text, stderr);
}
