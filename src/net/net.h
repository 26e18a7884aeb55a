// Bytes from the network: HTTP(S) transfers through libcurl's multi
// interface, loaded when the first URL is met. A transfer hands its body
// up into a bounded read-ahead; ranged requests seek it and resume it when
// it is cut short. Knows nothing of FLAC. Its sockets and its timeout join
// the caller's one poll (net_watch, net_take): there is no loop and no
// thread of its own.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

/// What the program chose for transfers. Set by start-up, read-only
/// afterwards.
struct net_settings {
	const char *user_agent;
	// Another bundle of trusted certificates than the system's (the
	// CURL_CA_BUNDLE of the environment, as curl takes it); null: none.
	const char *ca_bundle;
	int connect_timeout_ms;  // to have a connection
	int stall_ms;            // nothing received for this long is a stall
	std::size_t read_ahead;  // bytes held at most, received and not yet read
	int resume_tries;        // a cut transfer is resumed this often at most
	int resume_backoff_ms;   // before the first resume; doubled for each next
};
extern net_settings net_config;

/// 1 when text is an http:// or https:// URL (the scheme in any case).
int net_is_url(std::string_view text);
/// What of a URL may be shown: scheme://host[:port]/path, without user,
/// password, query or fragment (the scheme and host in lower case). A text
/// without "://" is given back whole.
std::string net_stripped_url(std::string_view url);

/// One transfer; its fields are the room's own.
struct net_transfer;

/// What net_read gives when no byte is there yet, and the transfer goes on.
inline constexpr ssize_t net_again = -2;

/// Starts fetching url from its start (libcurl is loaded on first use),
/// asking for a byte range so that a server that honours ranges says so.
/// Null, with *reason, when it cannot start. Released by net_close().
net_transfer *net_open(const char *url, std::string *reason);
/// Ends the transfer and releases it. Null is ignored.
void net_close(net_transfer *t);
/// Takes up to n bytes of the body in order: the count; 0 at its end;
/// net_again when none is there yet; -1 when the transfer failed
/// (net_reason says why). Never waits.
ssize_t net_read(net_transfer *t, unsigned char *buf, std::size_t n);
/// Why the transfer failed, in a few words ("HTTP 404", "host not found",
/// "certificate not trusted", "no answer", "too many redirects"...); ""
/// while it has not.
const char *net_reason(const net_transfer *t);
/// The length of the whole body when the server stated it; 0 when not.
uint64_t net_length(const net_transfer *t);
/// 1 when the server answered the range asked for with 206: seeks are
/// ranged requests.
int net_seekable(const net_transfer *t);
/// The bytes read ahead, received and not yet read.
std::size_t net_held(const net_transfer *t);
/// The offset in the body of the next byte net_read gives.
uint64_t net_position(const net_transfer *t);
/// What the server said the body is (Content-Type), "" when nothing.
const char *net_content_type(const net_transfer *t);
/// Moves a seekable transfer to offset: what is held is dropped and a new
/// ranged request starts there (nothing when it is there already). 1 when
/// it did; 0 when the transfer cannot seek.
int net_seek(net_transfer *t, uint64_t offset);

/// For the one poll: fills fds (room entries at most) with the sockets of
/// the transfers and gives their count; lowers *timeout_ms (-1: no limit)
/// to when the transfers are next due.
int net_watch(pollfd *fds, int room, int *timeout_ms);
/// After that poll, with the entries net_watch filled and their revents:
/// moves the transfers on (received bytes read ahead, finished or failed
/// transfers noted, cut ones resumed when due).
void net_take(const pollfd *fds, int n);
