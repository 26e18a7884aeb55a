// Where a stream is read from: a named file or standard input, holding
// native or Ogg FLAC, and the decoder that suits it. A file that is not
// regular (a pipe, a FIFO, a device) may have nothing to read for ever, so
// it is only read once poll says so, and every wait gives way when the
// front end asks (playback_config.give_up). Ogg links are read by the Ogg
// link reader, from the bytes this holds back. A URL is read as a pipe is
// (source_net.cpp), and seeks when its server honours ranges.
#include "playback/source.h"
#include "net/net.h"
#include "playback/ogg.h"
#include "playback/probe.h"
#include "playback/reason.h"
#include "playback/stream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

namespace {
struct stream_source {
	int fd = -1;
	int owned = 0;     // opened here, closed by source_close()
	int seekable = 0;  // a regular file, not standard input
	int ogg = 0;
	int url = 0;       // fetched by the network source
	// Bytes read but not yet served: the first bytes, read to tell what the
	// stream is, and Ogg page headers read ahead.
	std::size_t head_size = 0, head_used = 0;
};
}

static stream_source source;
static unsigned char head[probe_file_room];

// How often a wait looks at give_up and the time, in milliseconds, when
// nothing has come.
static constexpr int wait_slice_ms = 100;

static double monotonic_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) * 1000 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Reads up to n bytes of fd once there are any, for as long as give_up
// lets it and, when deadline_ms is not 0, until then. Gives the bytes read,
// 0 at the end of the stream, -1 when reading failed, gave up (noted in
// file_info.stopped) or ran out of time.
static ssize_t wait_read(int fd, unsigned char *buf, std::size_t n, double deadline_ms)
{
	if (source.url)
		return url_source_read(buf, n, deadline_ms);
	for (;;) {
		int ready;
		if (playback_config.wait) {
			ready = playback_config.wait(fd, wait_slice_ms);
		} else {
			pollfd p = {fd, POLLIN, 0};
			ready = poll(&p, 1, wait_slice_ms) > 0;
		}
		if (ready) {
			ssize_t got = read(fd, buf, n);
			if (got >= 0)
				return got;
			if (errno != EINTR && errno != EAGAIN)
				return -1;
		}
		if (playback_config.give_up && playback_config.give_up()) {
			file_info.stopped = stop_given_up;
			return -1;
		}
		if (deadline_ms && monotonic_ms() >= deadline_ms)
			return -1;
	}
}

ssize_t source_pull(unsigned char *buf, std::size_t n)
{
	if (source.head_used < source.head_size) {
		n = std::min(n, source.head_size - source.head_used);
		memcpy(buf, head + source.head_used, n);
		source.head_used += n;
		return static_cast<ssize_t>(n);
	}
	return wait_read(source.fd, buf, n, 0);
}

// Makes at least n bytes wait unserved in head. 1 when they do; 0 at the
// end of the stream; -1 when reading failed or gave up.
int source_fill(std::size_t n)
{
	// Bytes are moved to the front only when n of them would not fit.
	if (source.head_used + n > sizeof head) {
		memmove(head, head + source.head_used, source.head_size - source.head_used);
		source.head_size -= source.head_used;
		source.head_used = 0;
	}
	n += source.head_used;
	while (source.head_size < n) {
		ssize_t got = wait_read(source.fd, head + source.head_size, sizeof head - source.head_size, 0);
		if (got <= 0)
			return got < 0 ? -1 : 0;
		source.head_size += static_cast<std::size_t>(got);
	}
	return 1;
}

const unsigned char *source_ahead()
{
	return head + source.head_used;
}

std::size_t source_held()
{
	return source.head_size - source.head_used;
}

void source_consume(std::size_t n)
{
	source.head_used += std::min(n, source_held());
}

FLAC__StreamDecoderReadStatus source_read_status(ssize_t got, std::size_t *bytes)
{
	*bytes = got > 0 ? static_cast<std::size_t>(got) : 0;
	if (got > 0)
		return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
	return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_ABORT;
}

static FLAC__StreamDecoderReadStatus pipe_read_hdl(const FLAC__StreamDecoder *, FLAC__byte buffer[],
						   std::size_t *bytes, void *)
{
	return source_read_status(source_pull(buffer, *bytes), bytes);
}

// Reads the first bytes of a stream into head until they tell what it is,
// dropping ID3v2 tags and what comes before the first whole frame of a
// cut stream (libFLAC is then given what follows them). What it is instead
// of FLAC goes to *why.
static int read_start(int fd, double deadline_ms, open_failure *why)
{
	std::size_t n = 0, skip = 0;
	bool at_end = false;
	int tags = 0;
	uint64_t tag_bytes = 0;
	for (;;) {
		int kind = probe_start(head, n, at_end || n == sizeof head, &skip);
		if (kind == probe_not_flac)
			why->reason = not_flac_reason(head, n, tags == 0);
		if (kind == probe_tag && id3v2_chain_ended(++tags, tag_bytes += skip))
			return probe_not_flac;
		if ((kind == probe_tag || kind == probe_frames) && skip <= n) {
			memmove(head, head + skip, n - skip);
			n -= skip;
			if (kind == probe_frames)
				kind = probe_native;
			else
				continue;
		} else if (kind == probe_tag) {
			// Read past the rest of the tag, exactly.
			for (skip -= n; skip > 0;) {
				ssize_t got = wait_read(fd, head, std::min(skip, sizeof head), deadline_ms);
				if (got <= 0) {
					*why = got < 0 ? failure_from_errno(errno) : open_failure{reason_not_flac};
					return probe_not_flac;
				}
				skip -= static_cast<std::size_t>(got);
			}
			n = 0;
			continue;
		}
		if (kind != probe_more) {
			source.head_size = n;
			return kind;
		}
		ssize_t got = wait_read(fd, head + n, sizeof head - n, deadline_ms);
		if (got < 0) {
			*why = failure_from_errno(errno);
			return probe_not_flac;
		}
		at_end = got == 0;
		n += static_cast<std::size_t>(got);
	}
}

// The pictures a stream holds, when the desktop is to be shown its cover.
static void ask_for_pictures(FLAC__StreamDecoder *decoder)
{
	if (playback_config.cover_art)
		FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_PICTURE);
}

// Sets the decoder up for a stream: the settings every stream gets, then
// an init on the open source.
static int init_decoder(FLAC__StreamDecoder *decoder)
{
	FLAC__stream_decoder_set_md5_checking(decoder, true);
	ask_for_pictures(decoder);
	// The decoder's own pass gives the tags of what cannot be read twice
	// (Ogg, which libFLAC's metadata iterator does not read, and pipes).
	if (source.ogg || !source.seekable || source.url)
		FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
	// A URL's tracks are known only from its own pass.
	if (source.url)
		FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_CUESHEET);
	const bool ranges = source.url && source.seekable;
	FLAC__StreamDecoderInitStatus status =
		source.ogg ? ogg_init(decoder, flac_write_hdl, flac_metadata_hdl, flac_error_hdl, &file_info)
			   : FLAC__stream_decoder_init_stream(
				     decoder, pipe_read_hdl, ranges ? url_seek_hdl : nullptr, ranges ? url_tell_hdl : nullptr,
				     ranges ? url_length_hdl : nullptr, ranges ? url_eof_hdl : nullptr, flac_write_hdl,
				     flac_metadata_hdl, flac_error_hdl, &file_info);
	return status == FLAC__STREAM_DECODER_INIT_STATUS_OK;
}

// A native FLAC file: libFLAC reads, seeks and closes it, from start on.
static int init_on_file(FLAC__StreamDecoder *decoder, int fd, off_t start)
{
	FILE *file = lseek(fd, start, SEEK_SET) == start ? fdopen(fd, "rb") : nullptr;
	if (!file) {
		close(fd);
		return 0;
	}
	FLAC__stream_decoder_set_md5_checking(decoder, true);
	ask_for_pictures(decoder);
	if (FLAC__stream_decoder_init_FILE(decoder, file, flac_write_hdl, flac_metadata_hdl, flac_error_hdl,
					   &file_info) == FLAC__STREAM_DECODER_INIT_STATUS_OK)
		return 1;
	// An init that failed before it took the file closes nothing.
	if (FLAC__stream_decoder_get_state(decoder) == FLAC__STREAM_DECODER_UNINITIALIZED)
		fclose(file);
	return 0;
}

static int same_file(const struct stat &a, int fd)
{
	struct stat b;
	return fd >= 0 && fstat(fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// What the regular file fd holds instead of FLAC, from start on (past
// ID3v2 tags).
static open_failure file_not_flac(int fd, off_t start)
{
	// An Ogg page's first packet comes after up to 255 lacing values.
	unsigned char b[512];
	const ssize_t got = pread(fd, b, sizeof b, start);
	if (got < 0)
		return failure_from_errno(errno);
	return {not_flac_reason(b, static_cast<std::size_t>(got), start == 0)};
}

// A URL: read once, as a pipe, seekable when its server honours ranges
// and it holds native FLAC.
static int init_on_url(FLAC__StreamDecoder *decoder, const char *url, int *pass_tags, open_failure *why)
{
	source.url = 1;
	if (!url_source_open(url)) {
		*why = {reason_network, 0, url_source_failure()};
		source_close();
		return 0;
	}
	const int kind = read_start(-1, 0, why);
	source.ogg = kind == probe_ogg;
	source.seekable = kind != probe_not_flac && !source.ogg && url_source_seekable();
	if (source.ogg)
		ogg_begin(-1, 0);
	*pass_tags = 1;
	if (kind == probe_not_flac) {
		// Text may be a playlist, which takes the URL's place.
		if (*url_source_failure() == '\0' && file_info.stopped != stop_given_up) {
			if (why->reason == reason_unknown)
				*why = {reason_not_flac};
			url_source_keep_text();
		}
	} else if (init_decoder(decoder)) {
		return 1;
	}
	if (*url_source_failure())
		*why = {reason_network, 0, url_source_failure()};
	source_close();
	return 0;
}

int source_init(FLAC__StreamDecoder *decoder, const char *path, int *pass_tags, open_failure *why)
{
	*why = {};
	url_source_forget_text();
	if (net_is_url(path)) {
		source = {};
		return init_on_url(decoder, path, pass_tags, why);
	}
	const int from_stdin = strcmp(path, "-") == 0;
	// Opening a FIFO without a writer would wait in open(2) itself.
	int fd = from_stdin ? STDIN_FILENO : open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0) {
		*why = failure_of_path(errno, path);
		return 0;
	}
	struct stat st;
	source = {};
	source.fd = fd;
	source.owned = !from_stdin;
	// A folder opens but cannot be read; the front end's own input is
	// never a stream.
	const int stat_failed = fstat(fd, &st) != 0;
	if (stat_failed || S_ISDIR(st.st_mode) || same_file(st, playback_config.attention_fd)) {
		if (stat_failed)
			*why = failure_from_errno(errno);
		else if (S_ISDIR(st.st_mode))
			*why = {reason_folder};
		source_close();
		return 0;
	}
	if (source.owned)
		fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);

	// Standard input is never rewound: a second "-" goes on where the
	// first one stopped.
	source.seekable = !from_stdin && S_ISREG(st.st_mode);
	int kind;
	if (source.seekable) {
		off_t start;
		kind = probe_file(fd, head, sizeof head, &start);
		if (kind != probe_not_flac && kind != probe_ogg) {
			// libFLAC's metadata iterator reads the tags of a file whose
			// metadata begins with STREAMINFO; the decoder's own pass
			// gives those of any other.
			unsigned char b[5];
			*pass_tags = pread(fd, b, 5, start) != 5 || memcmp(b, "fLaC", 4) != 0 || (b[4] & 0x7f) != 0;
			if (*pass_tags)
				FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
			// libFLAC reads, seeks and closes the file itself.
			source = {};
			source.seekable = 1;
			return init_on_file(decoder, fd, start);
		}
		if (kind == probe_not_flac)
			*why = file_not_flac(fd, start);
		ogg_begin(fd, start);
	} else {
		const int wait = playback_config.first_bytes_wait_ms;
		kind = read_start(fd, wait ? monotonic_ms() + wait : 0, why);
	}
	source.ogg = kind == probe_ogg;
	if (source.ogg && !source.seekable)
		ogg_begin(-1, 0);
	*pass_tags = 1;
	if (kind == probe_not_flac || !init_decoder(decoder)) {
		source_close();
		return 0;
	}
	return 1;
}

int source_next_link(int *skipped)
{
	return source.ogg && ogg_next_link(skipped);
}

int source_restart(FLAC__StreamDecoder *decoder)
{
	// A finished decoder is as a new one: settings and all.
	return init_decoder(decoder);
}

uint64_t source_damage()
{
	return source.ogg ? ogg_damage() : 0;
}

void source_sought()
{
	if (source.ogg)
		ogg_sought();
}

int source_seekable()
{
	return source.seekable;
}

void source_close()
{
	if (source.url)
		url_source_close();
	if (source.owned)
		close(source.fd);
	source = {};
}
