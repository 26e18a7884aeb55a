// The one poll over the front ends (keys, the desktop's bus, command
// lines) and the network's transfers: between frames, while paused, while
// a stream's data is awaited and while a raw output's reader takes what it
// was given, their descriptors and the signals' wake-up pipe are watched
// together, so that a key, a desktop's request or a signal is heard at
// once, a transfer reads ahead, and no wait spins.
#include "app/settings.h"
#include "mpris/mpris.h"
#include "net/net.h"
#include "remote/remote.h"
#include "terminal/terminal.h"

#include <poll.h>

// A wait that cannot be woken by a signal wakes this often by itself.
static constexpr int unwoken_wait_ms = 100;
// Sockets of the network's transfers watched at most (one transfer has
// one, and its resolver's).
static constexpr int net_room = 8;

static int redraw;

int frontends_wait(int fd, int timeout_ms)
{
	return frontends_wait_for(fd, POLLIN, timeout_ms);
}

int frontends_wait_for(int fd, short events, int timeout_ms)
{
	pollfd fds[5 + net_room];
	int n = 0;
	const int stream = fd >= 0 ? n++ : -1;
	if (stream >= 0)
		fds[stream] = {fd, events, 0};
	const int wake = signals_wake_fd() >= 0 ? n++ : -1;
	if (wake >= 0)
		fds[wake] = {signals_wake_fd(), POLLIN, 0};
	else if (timeout_ms < 0 || timeout_ms > unwoken_wait_ms)
		timeout_ms = unwoken_wait_ms;
	int keys = -1, commands = -1, bus = -1;
	if (opt_remote) {
		if (remote_watch(&fds[n]))
			commands = n++;
	} else {
		if (terminal_watch(&fds[n], &timeout_ms))
			keys = n++;
		if (mpris_watch(&fds[n], &timeout_ms))
			bus = n++;
	}
	const int net_first = n;
	const int net_count = net_watch(&fds[n], net_room, &timeout_ms);
	n += net_count;
	const int ready = poll(fds, static_cast<nfds_t>(n), timeout_ms);
	// Transfers move on with what came, or with their timeouts.
	net_take(&fds[net_first], ready > 0 ? net_count : 0);
	// The bus is also due when its own timeout has passed.
	if (bus >= 0)
		mpris_take(ready > 0 ? fds[bus].revents : 0);
	// A signal may end the poll before its byte is seen (continued after
	// a stop, say).
	if (((ready < 0 && wake >= 0) || (ready > 0 && wake >= 0 && fds[wake].revents)) && signals_take_wake()) {
		terminal_recheck();
		redraw = 1;
	}
	if (ready <= 0)
		return 0;
	if (keys >= 0 && fds[keys].revents)
		terminal_take(fds[keys].revents);
	if (commands >= 0 && fds[commands].revents)
		remote_take();
	return stream >= 0 && fds[stream].revents != 0;
}

int frontends_take_redraw()
{
	const int due = redraw;
	redraw = 0;
	return due;
}
