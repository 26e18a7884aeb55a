// Inside the net room: libcurl, loaded when the first URL is met. Linked,
// it and what it needs (TLS, SSH, LDAP, Kerberos, IDN...) would load at
// every start, for runs that play only files.
#pragma once

#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#include <cstdint>
#include <string>
#include <vector>

/// The libcurl functions the room calls, by their names less "curl_".
struct curl_functions {
	decltype(&curl_global_init) global_init;
	decltype(&curl_multi_init) multi_init;
	decltype(&curl_multi_setopt) multi_setopt;
	decltype(&curl_multi_add_handle) multi_add_handle;
	decltype(&curl_multi_remove_handle) multi_remove_handle;
	decltype(&curl_multi_socket_action) multi_socket_action;
	decltype(&curl_multi_info_read) multi_info_read;
	decltype(&curl_easy_init) easy_init;
	decltype(&curl_easy_setopt) easy_setopt;
	decltype(&curl_easy_getinfo) easy_getinfo;
	decltype(&curl_easy_cleanup) easy_cleanup;
	decltype(&curl_easy_pause) easy_pause;
	decltype(&curl_slist_append) slist_append;
	decltype(&curl_slist_free_all) slist_free_all;
};
/// Filled by curl_load(); null until then.
extern curl_functions curl;

/// Loads libcurl and every function above, once, and initialises it. 1
/// when they are all there; 0 (nothing kept) when not.
int curl_load();

/// libcurl's receive buffer, the most one write callback gives: larger
/// than its default, fewer calls a second.
inline constexpr std::size_t receive_buffer = 256 * 1024;

/// A transfer's life: running (a request in flight) → done, or failed; a
/// cut one waits (waiting) for its resume.
enum transfer_phase { phase_running, phase_waiting, phase_done, phase_failed };

struct net_transfer {
	std::string url;
	CURL *easy = nullptr;
	int phase = phase_running;  // a transfer_phase
	// The read-ahead: body bytes from position() to end, received and not
	// yet read.
	// The read-ahead, a ring: body bytes from position() to end, received
	// and not yet read, held_count of them from held_start on.
	std::vector<unsigned char> held;
	std::size_t held_start = 0, held_count = 0;
	uint64_t end = 0;        // the body offset after the last byte held
	uint64_t received = 0;   // the body offset of the next byte the server sends
	uint64_t requested = 0;  // where the request in flight asked to start
	uint64_t length = 0;
	int seekable = 0;
	int answered = 0;        // a response of this transfer was taken
	int request_answered = 0;
	int paused = 0;          // the read-ahead is full: libcurl holds on
	int64_t last_heard = 0;  // when the request last received anything, or began (monotonic ms)
	int tries = 0;           // resumes since bytes last came
	int64_t retry_at = 0;    // waiting: when to resume, monotonic ms
	// The response in flight: its Content-Range and header bytes so far.
	uint64_t range_from = 0, range_total = 0;
	int has_range = 0;
	std::size_t header_bytes = 0;
	std::string content_type, reason;
	char range[32] = "";
};


/// The bytes t holds, received and not yet read.
inline std::size_t held_count(const net_transfer *t)
{
	return t->held_count;
}
/// Drops the first n bytes held (no more than there are).
inline void held_drop(net_transfer *t, std::size_t n)
{
	t->held_count -= n;
	t->held_start = t->held_count ? (t->held_start + n) % t->held.size() : 0;
}

/// Between the poll's side of the room (multi.cpp) and the transfers
/// (transfer.cpp):
/// The multi handle all requests run on, made with libcurl loaded on first
/// use; null when libcurl cannot be had.
CURLM *net_multi();
/// Monotonic milliseconds.
int64_t net_now_ms();
/// A request of t has ended with result: the transfer is done, failed, or
/// waits to be resumed.
void transfer_ended(net_transfer *t, CURLcode result);
/// When the first transfer that waits to be resumed is due (monotonic ms;
/// -1: none); and resuming those that are due now.
int64_t transfers_due();
void transfers_resume_due();
/// libcurl's write and header callbacks for a request of a transfer (its
/// user data), and the end of that request (its handle released).
std::size_t transfer_write_hdl(char *data, std::size_t, std::size_t n, void *user);
std::size_t transfer_header_hdl(char *line, std::size_t, std::size_t n, void *user);
void end_request(net_transfer *t);
