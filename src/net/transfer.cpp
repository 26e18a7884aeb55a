// Transfers: one request at a time per transfer, on one multi handle whose
// sockets and timer the caller's poll watches. A transfer's life:
// running (a request in flight) → done, or failed; a cut one waits
// (waiting) for its resume, which is a ranged request from the next byte
// wanted. A seek is such a request too.
#include "net/curl.h"
#include "net/net.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <vector>

net_settings net_config = {"wendrop", nullptr, 10000, 15000, 4u << 20, 3, 1000};

namespace {
enum phase { phase_running, phase_waiting, phase_done, phase_failed };

struct watched_socket {
	curl_socket_t fd;
	int what;  // CURL_POLL_IN, _OUT, _INOUT
};

// What a server may send as headers, at most: libcurl limits each line
// but not their number, so an endless run of headers would never end.
constexpr std::size_t header_bytes_max = 256 * 1024;
// libcurl's receive buffer: larger than its default, fewer calls a second.
constexpr long receive_buffer = 64 * 1024;
}

struct net_transfer {
	std::string url;
	CURL *easy = nullptr;
	int phase = phase_running;
	// The read-ahead: body bytes from position() to end, received and not
	// yet read.
	std::vector<unsigned char> held;
	std::size_t held_start = 0;
	uint64_t end = 0;        // the body offset after the last byte held
	uint64_t received = 0;   // the body offset of the next byte the server sends
	uint64_t requested = 0;  // where the request in flight asked to start
	uint64_t length = 0;
	int seekable = 0;
	int answered = 0;        // a response of this transfer was taken
	int request_answered = 0;
	int paused = 0;          // the read-ahead is full: libcurl holds on
	int tries = 0;           // resumes since bytes last came
	int64_t retry_at = 0;    // waiting: when to resume, monotonic ms
	// The response in flight: its Content-Range and header bytes so far.
	uint64_t range_from = 0, range_total = 0;
	int has_range = 0;
	std::size_t header_bytes = 0;
	std::string content_type, reason;
	char range[32] = "";
};

static CURLM *multi;
static std::vector<watched_socket> sockets;
static int64_t timer_due = -1;  // monotonic ms; -1: none
static std::vector<net_transfer *> transfers;

static int64_t now_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

static std::size_t held_count(const net_transfer *t)
{
	return t->held.size() - t->held_start;
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
	timer_due = timeout_ms < 0 ? -1 : now_ms() + timeout_ms;
	return 0;
}

static int multi_ready()
{
	if (multi)
		return 1;
	if (!curl_load() || !(multi = curl.multi_init()))
		return 0;
	curl.multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, socket_hdl);
	curl.multi_setopt(multi, CURLMOPT_TIMERFUNCTION, timer_hdl);
	return 1;
}

// The response of the request in flight begins (its first body byte, or
// its end without one): a 206 for the range asked seeks and resumes; a 200
// is the whole body from its start, of which what is had already is
// dropped. 0 when it cannot be used.
static int take_response(net_transfer *t)
{
	long code = 0;
	curl.easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code);
	t->request_answered = 1;
	if (code == 206 && t->has_range && t->range_from == t->requested) {
		t->seekable = 1;
		if (t->range_total)
			t->length = t->range_total;
	} else if (code == 200) {
		curl_off_t size = -1;
		curl.easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
		t->received = 0;
		t->seekable = 0;
		t->length = size > 0 ? static_cast<uint64_t>(size) : 0;
	} else {
		char reason[32];
		snprintf(reason, sizeof reason, "HTTP %ld", code);
		t->reason = reason;
		return 0;
	}
	t->answered = 1;
	return 1;
}

static std::size_t write_hdl(char *data, std::size_t, std::size_t n, void *user)
{
	auto *t = static_cast<net_transfer *>(user);
	if (!t->request_answered && !take_response(t))
		return 0;
	if (held_count(t) >= net_config.read_ahead) {
		t->paused = 1;
		return CURL_WRITEFUNC_PAUSE;
	}
	// What came before the byte wanted next was had already (a 200 to a
	// resume or a seek begins at the start).
	const uint64_t from = t->received;
	t->received += n;
	if (t->received <= t->end)
		return n;
	const std::size_t drop = from < t->end ? static_cast<std::size_t>(t->end - from) : 0;
	if (t->held_start > t->held.size() / 2) {
		t->held.erase(t->held.begin(), t->held.begin() + static_cast<std::ptrdiff_t>(t->held_start));
		t->held_start = 0;
	}
	t->held.insert(t->held.end(), data + drop, data + n);
	t->end = t->received;
	t->tries = 0;
	return n;
}

static bool starts_nocase(const char *s, std::size_t n, const char *prefix)
{
	const std::size_t p = strlen(prefix);
	return n >= p && strncasecmp(s, prefix, p) == 0;
}

static std::size_t header_hdl(char *line, std::size_t, std::size_t n, void *user)
{
	auto *t = static_cast<net_transfer *>(user);
	if ((t->header_bytes += n) > header_bytes_max) {
		t->reason = "headers too long";
		return 0;
	}
	// Each response of a redirect begins with its status line.
	if (starts_nocase(line, n, "HTTP/")) {
		t->has_range = 0;
		t->range_from = t->range_total = 0;
		t->content_type.clear();
	} else if (starts_nocase(line, n, "Content-Range:")) {
		unsigned long long from = 0, to = 0, total = 0;
		const std::string value(line + 14, n - 14);
		if (sscanf(value.c_str(), " bytes %llu-%llu/%llu", &from, &to, &total) >= 2) {
			t->has_range = 1;
			t->range_from = from;
			t->range_total = total;
		}
	} else if (starts_nocase(line, n, "Content-Type:")) {
		std::string value(line + 13, n - 13);
		const std::size_t first = value.find_first_not_of(" \t");
		const std::size_t last = value.find_last_not_of(" \t\r\n");
		t->content_type = first == std::string::npos ? "" : value.substr(first, last + 1 - first);
	}
	return n;
}

// Starts a request for the body from offset end on.
static int start_request(net_transfer *t)
{
	CURL *e = curl.easy_init();
	if (!e)
		return 0;
	t->easy = e;
	t->requested = t->received = t->end;
	t->request_answered = t->paused = 0;
	t->header_bytes = 0;
	t->has_range = 0;
	snprintf(t->range, sizeof t->range, "%llu-", static_cast<unsigned long long>(t->end));
	curl.easy_setopt(e, CURLOPT_URL, t->url.c_str());
	curl.easy_setopt(e, CURLOPT_PRIVATE, t);
	// Only the web, for the first request and every redirect: no file://,
	// no other protocol a page could name.
	curl.easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
	curl.easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
	curl.easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
	curl.easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
	curl.easy_setopt(e, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
	curl.easy_setopt(e, CURLOPT_USERAGENT, net_config.user_agent);
	curl.easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
	curl.easy_setopt(e, CURLOPT_FAILONERROR, 1L);
	curl.easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(net_config.connect_timeout_ms));
	// Less than a byte a second for the stall time is a stall.
	curl.easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
	curl.easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>((net_config.stall_ms + 999) / 1000));
	curl.easy_setopt(e, CURLOPT_BUFFERSIZE, receive_buffer);
	if (net_config.ca_bundle)
		curl.easy_setopt(e, CURLOPT_CAINFO, net_config.ca_bundle);
	curl.easy_setopt(e, CURLOPT_RANGE, t->range);
	curl.easy_setopt(e, CURLOPT_WRITEFUNCTION, write_hdl);
	curl.easy_setopt(e, CURLOPT_WRITEDATA, t);
	curl.easy_setopt(e, CURLOPT_HEADERFUNCTION, header_hdl);
	curl.easy_setopt(e, CURLOPT_HEADERDATA, t);
	t->phase = phase_running;
	if (curl.multi_add_handle(multi, e) != CURLM_OK) {
		curl.easy_cleanup(e);
		t->easy = nullptr;
		return 0;
	}
	return 1;
}

static void end_request(net_transfer *t)
{
	if (!t->easy)
		return;
	curl.multi_remove_handle(multi, t->easy);
	curl.easy_cleanup(t->easy);
	t->easy = nullptr;
}

net_transfer *net_open(const char *url, std::string *reason)
{
	if (!multi_ready()) {
		*reason = "libcurl missing";
		return nullptr;
	}
	auto *t = new net_transfer;
	t->url = url;
	if (!start_request(t)) {
		delete t;
		*reason = "cannot start";
		return nullptr;
	}
	transfers.push_back(t);
	return t;
}

void net_close(net_transfer *t)
{
	if (!t)
		return;
	end_request(t);
	transfers.erase(std::find(transfers.begin(), transfers.end(), t));
	delete t;
}

ssize_t net_read(net_transfer *t, unsigned char *buf, std::size_t n)
{
	const std::size_t have = held_count(t);
	if (have == 0)
		return t->phase == phase_done ? 0 : t->phase == phase_failed ? -1 : net_again;
	n = std::min(n, have);
	memcpy(buf, t->held.data() + t->held_start, n);
	t->held_start += n;
	// Room again: libcurl goes on with what it held back.
	if (t->paused && held_count(t) <= net_config.read_ahead / 2 && t->easy) {
		t->paused = 0;
		curl.easy_pause(t->easy, CURLPAUSE_CONT);
	}
	return static_cast<ssize_t>(n);
}

const char *net_reason(const net_transfer *t)
{
	return t->phase == phase_failed ? t->reason.c_str() : "";
}

int net_answered(const net_transfer *t)
{
	return t->answered;
}

uint64_t net_length(const net_transfer *t)
{
	return t->length;
}

int net_seekable(const net_transfer *t)
{
	return t->seekable;
}

uint64_t net_position(const net_transfer *t)
{
	return t->end - held_count(t);
}

const char *net_content_type(const net_transfer *t)
{
	return t->content_type.c_str();
}

int net_seek(net_transfer *t, uint64_t offset)
{
	if (!t->seekable)
		return 0;
	const uint64_t at = net_position(t);
	// Within the read-ahead: no request at all.
	if (offset >= at && offset <= t->end && t->phase != phase_failed) {
		t->held_start += static_cast<std::size_t>(offset - at);
		return 1;
	}
	end_request(t);
	t->held.clear();
	t->held_start = 0;
	t->end = offset;
	t->tries = 0;
	// At the end of what the server has there is nothing to ask for.
	if (t->length && offset >= t->length) {
		t->phase = phase_done;
		return 1;
	}
	if (!start_request(t)) {
		t->phase = phase_failed;
		t->reason = "cannot start";
	}
	return 1;
}

// What a failed request's result means, in a few words.
static std::string reason_for(CURLcode result, const net_transfer *t)
{
	long code = 0;
	switch (result) {
	case CURLE_HTTP_RETURNED_ERROR: {
		curl.easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code);
		return "HTTP " + std::to_string(code);
	}
	case CURLE_COULDNT_RESOLVE_HOST:
		return "host not found";
	case CURLE_COULDNT_CONNECT:
		return "cannot connect";
	case CURLE_OPERATION_TIMEDOUT:
	case CURLE_GOT_NOTHING:
		return "no answer";
	case CURLE_PEER_FAILED_VERIFICATION:
		return "certificate not trusted";
	case CURLE_SSL_CONNECT_ERROR:
		return "TLS failed";
	case CURLE_TOO_MANY_REDIRECTS:
		return "too many redirects";
	case CURLE_UNSUPPORTED_PROTOCOL:
		return "not http or https";
	case CURLE_URL_MALFORMAT:
		return "bad URL";
	case CURLE_PARTIAL_FILE:
		return "cut short";
	case CURLE_RECV_ERROR:
	case CURLE_SEND_ERROR:
		return "connection lost";
	default:
		return !t->reason.empty() ? t->reason : "network error " + std::to_string(static_cast<int>(result));
	}
}

// A request has ended with result.
static void request_done(net_transfer *t, CURLcode result)
{
	if (result == CURLE_OK && !t->request_answered && !take_response(t))
		result = CURLE_HTTP_RETURNED_ERROR;
	long code = 0;
	curl.easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code);
	const std::string reason = result == CURLE_OK ? "cut short" : reason_for(result, t);
	end_request(t);
	const bool short_of_length = t->length && t->end < t->length;
	if (result == CURLE_OK && !short_of_length) {
		t->phase = phase_done;
		return;
	}
	// A range past what the server has: it has no more than was had.
	if (code == 416 && t->requested > 0) {
		t->phase = phase_done;
		return;
	}
	// A body cut short of its stated length goes on from the next byte,
	// after a while, unless the server refused (an HTTP error) or it was
	// tried often enough.
	if (t->answered && short_of_length && result != CURLE_HTTP_RETURNED_ERROR &&
	    t->tries < net_config.resume_tries) {
		t->retry_at = now_ms() + (static_cast<int64_t>(net_config.resume_backoff_ms) << t->tries);
		t->tries++;
		t->phase = phase_waiting;
		return;
	}
	t->reason = reason;
	t->phase = phase_failed;
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
	int64_t due = timer_due;
	for (const net_transfer *t : transfers)
		if (t->phase == phase_waiting && (due < 0 || t->retry_at < due))
			due = t->retry_at;
	if (due >= 0) {
		const int64_t wait = std::max<int64_t>(due - now_ms(), 0);
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
	if (timer_due >= 0 && now_ms() >= timer_due) {
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
			request_done(t, m->data.result);
	}
	const int64_t now = now_ms();
	for (net_transfer *t : transfers)
		if (t->phase == phase_waiting && now >= t->retry_at && !start_request(t)) {
			t->phase = phase_failed;
			t->reason = "cannot start";
		}
}
