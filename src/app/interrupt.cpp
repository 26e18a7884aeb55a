// Keyboard interruption in playlist mode: one interrupt skips to the next
// file, a second within the same wall-clock second stops the playlist.
#include "app/settings.h"

#include <cstdint>
#include <ctime>

volatile sig_atomic_t interrupted;
volatile sig_atomic_t quit_requested;

// Whole seconds of the previous interrupt; only the handler reads it.
static volatile int64_t last_sigint_sec;

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

int sigint_install()
{
	struct sigaction sa = {};
	sa.sa_handler = sigint_hdl;
	sigemptyset(&sa.sa_mask);
	// The handler stays installed, and the decoder's reads and the
	// device's writes restart instead of failing.
	sa.sa_flags = SA_RESTART;
	return sigaction(SIGINT, &sa, nullptr);
}
