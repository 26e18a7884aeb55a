// Signals, all in one place. In playlist mode a keyboard interrupt skips to
// the next file and a second within one second of it stops the playlist.
// SIGTERM, SIGHUP, SIGPIPE (and SIGINT in remote mode) end the run: the
// loops stop, the open output is finished (a WAV header states what its
// file holds), and the process then ends by the same signal, so its parent
// sees what it always saw. Every other signal that would end the process
// gives the terminal back first, then ends it as it would have. A signal
// the process was started ignoring stays ignored.
//
// Every handler also writes a byte into a pipe that the waits poll, so a
// wait wakes for a signal even when its handler ran on another thread (a
// sound server's).
#include "app/settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <initializer_list>

volatile sig_atomic_t interrupted;
volatile sig_atomic_t quit_requested;
volatile sig_atomic_t fatal_signal;

// The monotonic time of the previous interrupt in nanoseconds, -1 before
// the first; only the handler reads it.
static volatile int64_t last_sigint_ns = -1;
// Gives the terminal its settings back; async-signal-safe. Null while the
// terminal is not ours.
static void (*volatile release_terminal)();
// The process was continued, or the terminal resized.
static volatile sig_atomic_t terminal_changed;
// The wake-up pipe: read end, write end.
static int wake[2] = {-1, -1};
// Signals the process was started ignoring, by number: each looked at
// when first installed, not all at start (a short run pays for every
// system call).
static bool ignored_at_start[NSIG];
static bool looked_at[NSIG];

static void wake_up()
{
	const int saved = errno;
	if (wake[1] >= 0) {
		const char byte = 0;
		// Full, it is awake already.
		(void)!write(wake[1], &byte, 1);
	}
	errno = saved;
}

void sigint_hdl(int sig)
{
	// clock_gettime is async-signal-safe. Measured on the wall clock's
	// whole seconds, two presses 0.2 s apart on either side of a second's
	// turn would count as two skips, and a clock stepped by NTP would
	// join or part any pair.
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	const int64_t now = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
	if (sig != SIGINT)
		return;
	interrupted = 1;
	if (last_sigint_ns >= 0 && now - last_sigint_ns < 1000000000)
		quit_requested = 1;
	last_sigint_ns = now;
	wake_up();
}

// Delivers sig with its default disposition, now: the process stops or
// ends as it would have without a handler.
static void raise_default(int sig)
{
	signal(sig, SIG_DFL);
	sigset_t set;
	sigemptyset(&set);
	sigaddset(&set, sig);
	sigprocmask(SIG_UNBLOCK, &set, nullptr);
	raise(sig);
}

static void fatal_hdl(int sig)
{
	// A second TERM, HUP or INT means the first one is not being heard
	// (the output is stuck): end now. Every write to a closed pipe raises
	// SIGPIPE again, so that one never hurries the end.
	if (fatal_signal && sig != SIGPIPE) {
		if (release_terminal)
			release_terminal();
		raise_default(sig);
		return;
	}
	if (!fatal_signal)
		fatal_signal = sig;
	wake_up();
}

// Installs handler for sig, unless the process was started with sig
// ignored (nohup, a shell's background job): that choice is kept.
static int install(int sig, void (*handler)(int))
{
	if (!looked_at[sig]) {
		looked_at[sig] = true;
		struct sigaction old;
		ignored_at_start[sig] = sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
	}
	if (ignored_at_start[sig])
		return 0;
	struct sigaction sa = {};
	sa.sa_handler = handler;
	sigemptyset(&sa.sa_mask);
	// The handler stays installed, and the decoder's reads and the
	// device's writes restart instead of failing. Nothing waits in a call
	// that restarts: input waits in poll, which a signal always ends.
	sa.sa_flags = SA_RESTART;
	return sigaction(sig, &sa, nullptr);
}

// Ctrl-Z: the terminal gets its settings back before the process stops,
// as the shell expects; the keys take it again once in the foreground.
static void tstp_hdl(int sig)
{
	const int saved = errno;
	if (release_terminal)
		release_terminal();
	raise_default(sig);
	// Continued.
	install(sig, tstp_hdl);
	terminal_changed = 1;
	wake_up();
	errno = saved;
}

static void terminal_hdl(int)
{
	terminal_changed = 1;
	wake_up();
}

// Any other signal that ends the process: the terminal as it was found,
// the status line erased, then the end it would have had, core and all.
static void last_hdl(int sig)
{
	if (release_terminal)
		release_terminal();
	raise_default(sig);
}

void signals_install_terminal(void (*release)())
{
	release_terminal = release;
	install(SIGTSTP, tstp_hdl);
	for (int sig : {SIGCONT, SIGWINCH})
		install(sig, terminal_hdl);
	for (int sig : {SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1, SIGSEGV, SIGUSR2, SIGALRM,
			SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSYS})
		install(sig, last_hdl);
	for (int sig = SIGRTMIN; sig <= SIGRTMAX; sig++)
		install(sig, last_hdl);
}

int sigint_install()
{
	return install(SIGINT, sigint_hdl);
}

static void install_ending(int remote)
{
	for (int sig : {SIGTERM, SIGHUP, SIGPIPE})
		install(sig, fatal_hdl);
	// Remote mode has no interrupt of its own: SIGINT ends it as SIGTERM does.
	if (remote)
		install(SIGINT, fatal_hdl);
}

void signals_install(int remote)
{
	if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
		wake[0] = wake[1] = -1;
	install_ending(remote);
}

void signals_reclaim()
{
	install_ending(0);
}

int signals_wake_fd()
{
	return wake[0];
}

int signals_take_wake()
{
	char bytes[64];
	while (wake[0] >= 0 && read(wake[0], bytes, sizeof bytes) > 0)
		;
	const int changed = terminal_changed;
	terminal_changed = 0;
	return changed;
}

void signals_output_gone()
{
	if (!fatal_signal)
		fatal_signal = SIGPIPE;
}

int stop_requested()
{
	return fatal_signal != 0;
}

int signals_end_run()
{
	if (!fatal_signal)
		return 0;
	// Started ignoring it, the process is not to die of it: it ends with a
	// failure instead.
	if (!ignored_at_start[fatal_signal])
		raise_default(fatal_signal);
	return 1;
}

void standard_descriptors_open()
{
	for (int fd = 0; fd <= 2; fd++) {
		if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
			continue;
		// Opened in order, so the lowest free number is fd itself.
		int null_fd = open("/dev/null", O_RDWR);
		if (null_fd >= 0 && null_fd != fd) {
			dup2(null_fd, fd);
			close(null_fd);
		}
	}
}
