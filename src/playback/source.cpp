// Where a stream is read from: a named file or standard input, holding
// native or Ogg FLAC, and the decoder that suits it. A file that is not
// regular (a pipe, a FIFO, a device) may have nothing to read for ever, so
// it is only read once poll says so, and every wait gives way when the
// front end asks (playback_config.give_up).
#include "playback/stream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace {
// The open stream's descriptor, when the decoder reads it through our read
// handler (anything but a regular file, and standard input).
struct stream_source {
	int fd;
	int owned;  // opened here, closed by source_close()
	// The first bytes, read to tell what the stream is, served again
	// before the rest of it.
	std::size_t head_size, head_used;
};
}

static stream_source source = {-1, 0, 0, 0};
static unsigned char head[4096];

// How often a wait looks at give_up, in milliseconds: a signal's handler
// may run on another thread (a sound server's) and leave poll asleep.
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
	const int attention = playback_config.attention_fd;
	for (;;) {
		pollfd fds[2] = {{fd, POLLIN, 0}, {attention, POLLIN, 0}};
		int r = poll(fds, attention >= 0 ? 2 : 1, wait_slice_ms);
		if (r > 0 && fds[0].revents) {
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

static FLAC__StreamDecoderReadStatus source_read_hdl(const FLAC__StreamDecoder *, FLAC__byte buffer[],
						     std::size_t *bytes, void *)
{
	if (source.head_used < source.head_size) {
		std::size_t n = std::min(*bytes, source.head_size - source.head_used);
		memcpy(buffer, head + source.head_used, n);
		source.head_used += n;
		*bytes = n;
		return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
	}
	ssize_t got = wait_read(source.fd, buffer, *bytes, 0);
	*bytes = got > 0 ? static_cast<std::size_t>(got) : 0;
	if (got > 0)
		return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
	return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_ABORT;
}

// Reads the first bytes of a stream into head until they tell what it is,
// dropping ID3v2 tags on the way (libFLAC is then given what follows them).
static int read_start(int fd, double deadline_ms)
{
	std::size_t n = 0, skip = 0;
	for (;;) {
		int kind = probe_start(head, n, &skip);
		if (kind == probe_tag && skip <= n) {
			memmove(head, head + skip, n - skip);
			n -= skip;
			continue;
		}
		if (kind == probe_tag) {
			// Read past the rest of the tag, exactly.
			for (skip -= n; skip > 0;) {
				ssize_t got = wait_read(fd, head, std::min(skip, sizeof head), deadline_ms);
				if (got <= 0)
					return probe_not_flac;
				skip -= static_cast<std::size_t>(got);
			}
			n = 0;
			continue;
		}
		if (kind != probe_more) {
			source.head_size = n;
			return kind;
		}
		ssize_t got = n < sizeof head ? wait_read(fd, head + n, sizeof head - n, deadline_ms) : 0;
		if (got <= 0)
			return probe_not_flac;
		n += static_cast<std::size_t>(got);
	}
}

// What a regular file begins with, read without moving its offset.
static int probe_file(int fd)
{
	unsigned char b[512];
	off_t at = 0;
	for (;;) {
		ssize_t n = pread(fd, b, sizeof b, at);
		std::size_t skip = 0;
		int kind = n < 0 ? probe_not_flac : probe_start(b, static_cast<std::size_t>(n), &skip);
		if (kind != probe_tag)
			return kind == probe_more ? probe_not_flac : kind;
		at += static_cast<off_t>(skip);
	}
}

int file_holds_flac(const char *path)
{
	struct stat st;
	if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
		return 0;
	int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return 0;
	int kind = probe_file(fd);
	close(fd);
	return kind == probe_native || kind == probe_ogg;
}

// Initialises the decoder on a regular file at its start; libFLAC reads,
// seeks and closes it.
static int init_on_file(FLAC__StreamDecoder *decoder, int fd, int ogg)
{
	FILE *file = fdopen(fd, "rb");
	if (!file) {
		close(fd);
		return 0;
	}
	auto init = ogg ? FLAC__stream_decoder_init_ogg_FILE : FLAC__stream_decoder_init_FILE;
	if (init(decoder, file, flac_write_hdl, flac_metadata_hdl, flac_error_hdl, &file_info) ==
	    FLAC__STREAM_DECODER_INIT_STATUS_OK)
		return 1;
	// An init that failed before it took the file closes nothing.
	if (FLAC__stream_decoder_get_state(decoder) == FLAC__STREAM_DECODER_UNINITIALIZED)
		fclose(file);
	return 0;
}

// Initialises the decoder on the source through our read handler, without
// seeking.
static int init_on_source(FLAC__StreamDecoder *decoder, int ogg)
{
	auto init = ogg ? FLAC__stream_decoder_init_ogg_stream : FLAC__stream_decoder_init_stream;
	if (init(decoder, source_read_hdl, nullptr, nullptr, nullptr, nullptr, flac_write_hdl, flac_metadata_hdl,
		 flac_error_hdl, &file_info) == FLAC__STREAM_DECODER_INIT_STATUS_OK)
		return 1;
	source_close();
	return 0;
}

static int same_file(const struct stat &a, int fd)
{
	struct stat b;
	return fd >= 0 && fstat(fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int source_init(FLAC__StreamDecoder *decoder, const char *path, int *pass_tags)
{
	const int from_stdin = strcmp(path, "-") == 0;
	// Opening a FIFO without a writer would wait in open(2) itself.
	int fd = from_stdin ? STDIN_FILENO : open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return 0;
	struct stat st;
	source = {fd, !from_stdin, 0, 0};
	// A folder opens but cannot be read; the front end's own input is
	// never a stream.
	if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || same_file(st, playback_config.attention_fd)) {
		source_close();
		return 0;
	}
	if (source.owned)
		fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);

	// Standard input is never rewound: a second "-" goes on where the
	// first one stopped.
	if (!from_stdin && S_ISREG(st.st_mode)) {
		int kind = probe_file(fd);
		source = {-1, 0, 0, 0};
		if (kind != probe_native && kind != probe_ogg) {
			close(fd);
			return 0;
		}
		// libFLAC's metadata iterator reads native FLAC files only.
		*pass_tags = kind == probe_ogg;
		if (*pass_tags)
			FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
		return init_on_file(decoder, fd, *pass_tags);
	}

	// Whatever cannot seek back is read once: the decoder's own pass has
	// to give the tags.
	const int wait = playback_config.first_bytes_wait_ms;
	int kind = read_start(fd, wait ? monotonic_ms() + wait : 0);
	if (kind != probe_native && kind != probe_ogg) {
		source_close();
		return 0;
	}
	*pass_tags = 1;
	FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
	return init_on_source(decoder, kind == probe_ogg);
}

void source_close()
{
	if (source.owned)
		close(source.fd);
	source = {-1, 0, 0, 0};
}
