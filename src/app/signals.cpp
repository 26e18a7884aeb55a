// Signals, all in one place. In playlist mode a keyboard interrupt skips to
// the next file and a second within the same wall-clock second stops the
// playlist. SIGTERM, SIGHUP, SIGPIPE (and SIGINT in remote mode) end the
// run: the loops stop, the open output is finished (a WAV header states
// what its file holds), and the process then ends by the same signal, so
// its parent sees what it always saw.
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

// Whole seconds of the previous interrupt; only the handler reads it.
static volatile int64_t last_sigint_sec;
// Gives the terminal its settings back; async-signal-safe. Null while the
// terminal is not ours.
static void (*volatile release_terminal)();

void sigint_hdl(int sig)
{
	// clock_gettime is async-signal-safe; its seconds are gettimeofday's.
	timespec ts;
	clock_gettime(CLOCK_REALTIME, &ts);
	const int64_t now = ts.tv_sec;
	if (sig != SIGINT)
		return;
	interrupted = 1;
	if (now <= last_sigint_sec)
		quit_requested = 1;
	last_sigint_sec = now;
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
}

// Installs handler for sig, unless the process was started with sig
// ignored (nohup, a shell's background job): that choice is kept.
static int install(int sig, void (*handler)(int))
{
	struct sigaction old;
	if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
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
	errno = saved;
}

void signals_install_terminal(void (*release)())
{
	release_terminal = release;
	install(SIGTSTP, tstp_hdl);
}

int sigint_install()
{
	struct sigaction sa = {};
	sa.sa_handler = sigint_hdl;
	sigemptyset(&sa.sa_mask);
	sa.sa_flags = SA_RESTART;
	return sigaction(SIGINT, &sa, nullptr);
}

void signals_install(int remote)
{
	for (int sig : {SIGTERM, SIGHUP, SIGPIPE})
		install(sig, fatal_hdl);
	// Remote mode has no interrupt of its own: SIGINT ends it as SIGTERM does.
	if (remote)
		install(SIGINT, fatal_hdl);
}

int stop_requested()
{
	return fatal_signal != 0;
}

void signals_end_run()
{
	if (fatal_signal)
		raise_default(fatal_signal);
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
