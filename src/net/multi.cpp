// The poll's side of the net room: libcurl's sockets and timer, which the
// caller's one poll watches (net_watch), and what the poll found handed to
// libcurl (net_take), which moves the transfers on.
#include "net/curl.h"
#include "net/net.h"

#include <time.h>

#include <algorithm>
#include <vector>

namespace {
struct watched_socket {
	curl_socket_t fd;
	int what;  // CURL_POLL_IN, _OUT, _INOUT
};
}

static CURLM *multi;
static std::vector<watched_socket> sockets;
static int64_t timer_due = -1;  // monotonic ms; -1: none

int64_t net_now_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

static int socket_hdl(CURL *, curl_socket_t fd, int what, void *, void *)
{
	auto at = std::find_if(sockets.begin(), sockets.end(), [fd](const watched_socket &s) { return s.fd == fd; });
	if (what == CURL_POLL_REMOVE) {
		if (at != sockets.end())
			sockets.erase(at);
	} else if (at != sockets.end()) {
		at->what = what;
	} else {
		sockets.push_back({fd, what});
	}
	return 0;
}

static int timer_hdl(CURLM *, long timeout_ms, void *)
{
	timer_due = timeout_ms < 0 ? -1 : net_now_ms() + timeout_ms;
	return 0;
}

CURLM *net_multi()
{
	if (multi || !curl_load() || !(multi = curl.multi_init()))
		return multi;
	curl.multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, socket_hdl);
	curl.multi_setopt(multi, CURLMOPT_TIMERFUNCTION, timer_hdl);
	return multi;
}

int net_watch(pollfd *fds, int room, int *timeout_ms)
{
	int n = 0;
	for (const watched_socket &s : sockets) {
		if (n == room)
			break;
		const short events = static_cast<short>(((s.what & CURL_POLL_IN) ? POLLIN : 0) |
							((s.what & CURL_POLL_OUT) ? POLLOUT : 0));
		fds[n++] = {s.fd, events, 0};
	}
	int64_t due = transfers_due();
	if (timer_due >= 0 && (due < 0 || timer_due < due))
		due = timer_due;
	if (due >= 0) {
		const int64_t wait = std::max<int64_t>(due - net_now_ms(), 0);
		if (*timeout_ms < 0 || wait < *timeout_ms)
			*timeout_ms = static_cast<int>(wait);
	}
	return n;
}

void net_take(const pollfd *fds, int n)
{
	if (!multi)
		return;
	int running;
	for (int i = 0; i < n; i++) {
		if (!fds[i].revents)
			continue;
		const int action = ((fds[i].revents & (POLLIN | POLLHUP)) ? CURL_CSELECT_IN : 0) |
				   ((fds[i].revents & POLLOUT) ? CURL_CSELECT_OUT : 0) |
				   ((fds[i].revents & (POLLERR | POLLNVAL)) ? CURL_CSELECT_ERR : 0);
		curl.multi_socket_action(multi, fds[i].fd, action, &running);
	}
	if (timer_due >= 0 && net_now_ms() >= timer_due) {
		timer_due = -1;
		curl.multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running);
	}
	int left;
	while (CURLMsg *m = curl.multi_info_read(multi, &left)) {
		if (m->msg != CURLMSG_DONE)
			continue;
		net_transfer *t = nullptr;
		curl.easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, &t);
		if (t)
			transfer_ended(t, m->data.result);
	}
	transfers_resume_due();
}
