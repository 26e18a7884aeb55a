// The responses of a transfer's requests: their headers and status, the
// body into the read-ahead, and how each request ends: done, failed with
// a reason, or cut short and resumed after a while.
#include "net/curl.h"
#include "net/net.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

// What a server may send as headers, at most: libcurl limits each line
// but not their number, so an endless run of headers would never end.
static constexpr std::size_t header_bytes_max = 256 * 1024;

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

std::size_t transfer_write_hdl(char *data, std::size_t, std::size_t n, void *user)
{
	auto *t = static_cast<net_transfer *>(user);
	t->last_heard = net_now_ms();
	if (!t->request_answered && !take_response(t))
		return 0;
	// Room for the read-ahead and one more of libcurl's chunks, made once.
	if (t->held.empty())
		t->held.resize(net_config.read_ahead + receive_buffer);
	if (held_count(t) >= net_config.read_ahead || n > t->held.size() - held_count(t)) {
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
	const std::size_t size = t->held.size(), at = (t->held_start + t->held_count) % size;
	const std::size_t count = n - drop, first = std::min(count, size - at);
	memcpy(t->held.data() + at, data + drop, first);
	memcpy(t->held.data(), data + drop + first, count - first);
	t->held_count += count;
	t->end = t->received;
	t->tries = 0;
	return n;
}

static bool starts_nocase(const char *s, std::size_t n, const char *prefix)
{
	const std::size_t p = strlen(prefix);
	return n >= p && strncasecmp(s, prefix, p) == 0;
}

std::size_t transfer_header_hdl(char *line, std::size_t, std::size_t n, void *user)
{
	auto *t = static_cast<net_transfer *>(user);
	t->last_heard = net_now_ms();
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

void transfer_ended(net_transfer *t, CURLcode result)
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
		t->retry_at = net_now_ms() + (static_cast<int64_t>(net_config.resume_backoff_ms) << t->tries);
		t->tries++;
		t->phase = phase_waiting;
		return;
	}
	t->reason = reason;
	t->phase = phase_failed;
}

