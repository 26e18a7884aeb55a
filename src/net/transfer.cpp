// Transfers: one request at a time per transfer, on one multi handle whose
// sockets and timer the caller's poll watches; a cut one is resumed, and a
// seek made, by a ranged request from the next byte wanted.
#include "net/curl.h"
#include "net/net.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

net_settings net_config = {"wendrop", nullptr, 10000, 15000, 4u << 20, 3, 1000};

static std::vector<net_transfer *> transfers;

// Starts a request for the body from offset end on.
static int start_request(net_transfer *t)
{
	CURL *e = curl.easy_init();
	if (!e)
		return 0;
	t->easy = e;
	t->requested = t->received = t->end;
	t->request_answered = t->paused = 0;
	t->last_heard = net_now_ms();
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
	curl.easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(receive_buffer));
	if (net_config.ca_bundle)
		curl.easy_setopt(e, CURLOPT_CAINFO, net_config.ca_bundle);
	curl.easy_setopt(e, CURLOPT_RANGE, t->range);
	curl.easy_setopt(e, CURLOPT_WRITEFUNCTION, transfer_write_hdl);
	curl.easy_setopt(e, CURLOPT_WRITEDATA, t);
	curl.easy_setopt(e, CURLOPT_HEADERFUNCTION, transfer_header_hdl);
	curl.easy_setopt(e, CURLOPT_HEADERDATA, t);
	t->phase = phase_running;
	if (curl.multi_add_handle(net_multi(), e) != CURLM_OK) {
		curl.easy_cleanup(e);
		t->easy = nullptr;
		return 0;
	}
	return 1;
}

void end_request(net_transfer *t)
{
	if (!t->easy)
		return;
	curl.multi_remove_handle(net_multi(), t->easy);
	curl.easy_cleanup(t->easy);
	t->easy = nullptr;
}

net_transfer *net_open(const char *url, std::string *reason)
{
	if (!net_multi()) {
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
	const std::size_t first = std::min(n, t->held.size() - t->held_start);
	memcpy(buf, t->held.data() + t->held_start, first);
	memcpy(buf + first, t->held.data(), n - first);
	held_drop(t, n);
	// Room again: libcurl goes on with what it held back.
	if (t->paused && held_count(t) <= net_config.read_ahead / 2 && t->easy) {
		t->paused = 0;
		t->last_heard = net_now_ms();
		curl.easy_pause(t->easy, CURLPAUSE_CONT);
	}
	return static_cast<ssize_t>(n);
}

const char *net_reason(const net_transfer *t)
{
	return t->phase == phase_failed ? t->reason.c_str() : "";
}

uint64_t net_length(const net_transfer *t)
{
	return t->length;
}

int net_seekable(const net_transfer *t)
{
	return t->seekable;
}

std::size_t net_held(const net_transfer *t)
{
	return held_count(t);
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
		held_drop(t, static_cast<std::size_t>(offset - at));
		return 1;
	}
	end_request(t);
	held_drop(t, held_count(t));
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

// A request that has received nothing for the stall time, while there was
// room for it, has stalled. (libcurl's low-speed limit takes an average over
// a window of its own, and notices a stall seconds late.)
static bool stalled(const net_transfer *t, int64_t now)
{
	return t->phase == phase_running && !t->paused && now - t->last_heard >= net_config.stall_ms;
}

int64_t transfers_due()
{
	int64_t due = -1;
	for (const net_transfer *t : transfers) {
		int64_t at = t->phase == phase_waiting ? t->retry_at : -1;
		if (t->phase == phase_running && !t->paused)
			at = t->last_heard + net_config.stall_ms;
		if (at >= 0 && (due < 0 || at < due))
			due = at;
	}
	return due;
}

void transfers_resume_due()
{
	const int64_t now = net_now_ms();
	for (net_transfer *t : transfers) {
		if (stalled(t, now))
			transfer_ended(t, CURLE_OPERATION_TIMEDOUT);
		if (t->phase == phase_waiting && now >= t->retry_at && !start_request(t)) {
			t->phase = phase_failed;
			t->reason = "cannot start";
		}
	}
}
