// A stream read from a URL: the transfer's bytes come through the same
// reading path as a pipe's (source_pull), and while none are there the
// read waits in the front ends' poll, which also moves the transfer on.
// When the server honours ranges, the decoder's seeks are ranged requests.
#include "net/net.h"
#include "playback/source.h"
#include "playback/stream.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <string>

static net_transfer *transfer;
static std::string reason;
// What a URL held that was not FLAC.
static rejected_text rejected;

// How often a wait looks at give_up and the time when nothing has come.
static constexpr int wait_slice_ms = 100;

static double monotonic_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) * 1000 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Without a front end to wait with (a unit of the room alone), the
// transfer's own sockets are waited on.
static void wait_alone(int timeout_ms)
{
	pollfd fds[8];
	const int n = net_watch(fds, 8, &timeout_ms);
	poll(fds, static_cast<nfds_t>(n), timeout_ms);
	net_take(fds, n);
}

int url_source_open(const char *url)
{
	reason.clear();
	transfer = net_open(url, &reason);
	return transfer != nullptr;
}

ssize_t url_source_read(unsigned char *buf, std::size_t n, double deadline_ms)
{
	for (;;) {
		const ssize_t got = net_read(transfer, buf, n);
		if (got > 0 && playback_config.wait && net_held(transfer) < net_config.read_ahead / 2) {
			// The transfer moves on at a read too when the read-ahead runs
			// low: remote mode has no poll between frames.
			playback_config.wait(-1, 0);
		}
		if (got >= 0)
			return got;
		if (got == -1) {
			reason = net_reason(transfer);
			return -1;
		}
		if (playback_config.wait)
			playback_config.wait(-1, wait_slice_ms);
		else
			wait_alone(wait_slice_ms);
		if (playback_config.give_up && playback_config.give_up()) {
			file_info.stopped = stop_given_up;
			return -1;
		}
		if (deadline_ms && monotonic_ms() >= deadline_ms)
			return -1;
	}
}

int url_source_seekable()
{
	return transfer && net_seekable(transfer);
}

void url_source_keep_text()
{
	std::string &bytes = rejected.bytes;
	bytes.assign(reinterpret_cast<const char *>(source_ahead()), source_held());
	unsigned char buf[65536];
	ssize_t got = 1;
	while (bytes.find('\0') == std::string::npos && bytes.size() <= source_text_max &&
	       (got = url_source_read(buf, sizeof buf, 0)) > 0)
		bytes.append(reinterpret_cast<const char *>(buf), static_cast<std::size_t>(got));
	if (got < 0 || bytes.find('\0') != std::string::npos) {
		bytes.clear();
		return;
	}
	rejected.whole = bytes.size() <= source_text_max;
	bytes.resize(std::min(bytes.size(), source_text_max));
	rejected.type = net_content_type(transfer);
}

void url_source_forget_text()
{
	rejected = {};
}

const rejected_text &source_rejected()
{
	return rejected;
}

const char *url_source_failure()
{
	return reason.c_str();
}

void url_source_close()
{
	net_close(transfer);
	transfer = nullptr;
}

FLAC__StreamDecoderSeekStatus url_seek_hdl(const FLAC__StreamDecoder *, FLAC__uint64 offset, void *)
{
	// What the source held back is no longer what comes next.
	source_consume(source_held());
	return net_seek(transfer, offset) ? FLAC__STREAM_DECODER_SEEK_STATUS_OK
					  : FLAC__STREAM_DECODER_SEEK_STATUS_UNSUPPORTED;
}

FLAC__StreamDecoderTellStatus url_tell_hdl(const FLAC__StreamDecoder *, FLAC__uint64 *offset, void *)
{
	*offset = net_position(transfer) - source_held();
	return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus url_length_hdl(const FLAC__StreamDecoder *, FLAC__uint64 *length, void *)
{
	*length = net_length(transfer);
	return *length ? FLAC__STREAM_DECODER_LENGTH_STATUS_OK : FLAC__STREAM_DECODER_LENGTH_STATUS_UNSUPPORTED;
}

FLAC__bool url_eof_hdl(const FLAC__StreamDecoder *, void *)
{
	const uint64_t length = net_length(transfer);
	return source_held() == 0 && length && net_position(transfer) >= length;
}
