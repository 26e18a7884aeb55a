// Where a stream is read from: a named file or standard input, holding
// native or Ogg FLAC, and the decoder that suits it. A file that is not
// regular (a pipe, a FIFO, a device) may have nothing to read for ever, so
// it is only read once poll says so, and every wait gives way when the
// front end asks (playback_config.give_up).
//
// libFLAC's Ogg decoder ends at the end of the first logical stream of a
// chain ("cat a.oga b.oga", an internet radio capture). So the Ogg reader
// hands it one link at a time, and the decoder is started afresh on each
// next link: in a regular file each link is a byte range of its own (in
// which the decoder seeks), and in a pipe the link ends after its last
// page, the next one's first page kept back for the next decoder.
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
	// Bytes read but not yet served: the first bytes, read to tell what the
	// stream is, and Ogg page headers read ahead.
	std::size_t head_size = 0, head_used = 0;
	// Ogg in a regular file: the current link's bytes, and the read position.
	off_t link_start = 0, link_end = 0, at = 0;
	// Ogg read once: bytes of the current page still to serve, whether it
	// is its link's last, pages served in the link, and the link's end.
	std::size_t page_left = 0;
	int last_page = 0, pages = 0, link_over = 0;
};
}

static stream_source source;
// Room to find the first whole frame of a cut stream of any usual kind
// beyond the first 64 KiB.
static unsigned char head[4 * probe_window];

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

// Up to n bytes of the stream: what is held back first, then fresh ones.
static ssize_t pull(unsigned char *buf, std::size_t n)
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
static int fill_head(std::size_t n)
{
	memmove(head, head + source.head_used, source.head_size - source.head_used);
	source.head_size -= source.head_used;
	source.head_used = 0;
	while (source.head_size < n) {
		ssize_t got = wait_read(source.fd, head + source.head_size, sizeof head - source.head_size, 0);
		if (got <= 0)
			return got < 0 ? -1 : 0;
		source.head_size += static_cast<std::size_t>(got);
	}
	return 1;
}

static FLAC__StreamDecoderReadStatus read_status(ssize_t got, std::size_t *bytes)
{
	*bytes = got > 0 ? static_cast<std::size_t>(got) : 0;
	if (got > 0)
		return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
	return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_ABORT;
}

static FLAC__StreamDecoderReadStatus pipe_read_hdl(const FLAC__StreamDecoder *, FLAC__byte buffer[],
						   std::size_t *bytes, void *)
{
	return read_status(pull(buffer, *bytes), bytes);
}

// The size of the Ogg page whose header (27 bytes and its segment table)
// is at h.
static std::size_t page_size(const unsigned char *h)
{
	std::size_t size = 27 + std::size_t(h[26]);
	for (unsigned i = 0; i < h[26]; i++)
		size += h[27 + i];
	return size;
}

// Looks at the next page of a pipe's Ogg stream, read ahead into head. 1
// when it belongs to the current link; 0 when the link has ended (after its
// last page, or before the first page of another); -1 on failure.
static int next_page()
{
	if (source.link_over)
		return 0;
	int r = fill_head(27);
	if (r <= 0)
		return r;
	const unsigned char *h = head + source.head_used;
	if (memcmp(h, "OggS", 4) != 0) {
		// Not at a page: the rest goes as it comes, the decoder resyncs.
		source.page_left = SIZE_MAX;
		return 1;
	}
	if ((r = fill_head(27 + std::size_t(h[26]))) <= 0)
		return r;
	h = head + source.head_used;
	if (source.pages > 0 && (h[5] & 0x02)) {
		source.link_over = 1;
		return 0;
	}
	source.pages++;
	source.page_left = page_size(h);
	source.last_page = (h[5] & 0x04) != 0;
	return 1;
}

static FLAC__StreamDecoderReadStatus ogg_pipe_read_hdl(const FLAC__StreamDecoder *, FLAC__byte buffer[],
						       std::size_t *bytes, void *)
{
	if (source.page_left == 0) {
		int r = next_page();
		if (r <= 0)
			return read_status(r, bytes);
	}
	ssize_t got = pull(buffer, std::min(*bytes, source.page_left));
	if (got > 0 && source.page_left != SIZE_MAX && (source.page_left -= static_cast<std::size_t>(got)) == 0)
		source.link_over = source.last_page;
	return read_status(got, bytes);
}

// An Ogg link of a regular file, seen by the decoder as a stream of its own.
static FLAC__StreamDecoderReadStatus ogg_file_read_hdl(const FLAC__StreamDecoder *, FLAC__byte buffer[],
						       std::size_t *bytes, void *)
{
	std::size_t n = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(*bytes), source.link_end - source.at));
	ssize_t got = n ? pread(source.fd, buffer, n, source.at) : 0;
	if (got > 0)
		source.at += got;
	return read_status(got, bytes);
}

static FLAC__StreamDecoderSeekStatus ogg_file_seek_hdl(const FLAC__StreamDecoder *, FLAC__uint64 offset, void *)
{
	if (offset > static_cast<FLAC__uint64>(source.link_end - source.link_start))
		return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
	source.at = source.link_start + static_cast<off_t>(offset);
	return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

static FLAC__StreamDecoderTellStatus ogg_file_tell_hdl(const FLAC__StreamDecoder *, FLAC__uint64 *offset, void *)
{
	*offset = static_cast<FLAC__uint64>(source.at - source.link_start);
	return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

static FLAC__StreamDecoderLengthStatus ogg_file_length_hdl(const FLAC__StreamDecoder *, FLAC__uint64 *length, void *)
{
	*length = static_cast<FLAC__uint64>(source.link_end - source.link_start);
	return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

static FLAC__bool ogg_file_eof_hdl(const FLAC__StreamDecoder *, void *)
{
	return source.at >= source.link_end;
}

// Where the Ogg link that begins at start ends: after its last page, or
// where another link's first page begins; the end of the file when the
// pages stop making sense.
static off_t ogg_link_end(int fd, off_t start)
{
	struct stat st;
	const off_t size = fstat(fd, &st) == 0 ? st.st_size : start;
	unsigned char h[27 + 255];
	for (off_t at = start;;) {
		if (pread(fd, h, 27, at) != 27 || memcmp(h, "OggS", 4) != 0 ||
		    pread(fd, h + 27, h[26], at + 27) != h[26])
			return size;
		if (at > start && (h[5] & 0x02))
			return at;
		at += static_cast<off_t>(page_size(h));
		if (h[5] & 0x04)
			return std::min(at, size);
	}
}

// What a regular file begins with, read into buf (the size of head)
// without moving the file's offset; *start is where the decoder is to
// begin (past ID3v2 tags, or at the first whole frame of a cut stream).
static int probe_file(int fd, unsigned char *buf, off_t *start)
{
	for (*start = 0;;) {
		ssize_t n = pread(fd, buf, sizeof head, *start);
		std::size_t skip = 0;
		// A file longer than the buffer may go on past it: what cannot be
		// told from the buffer is not taken for FLAC.
		int kind = n < 0 ? probe_not_flac
				 : probe_start(buf, static_cast<std::size_t>(n), n < static_cast<ssize_t>(sizeof head), &skip);
		if (kind == probe_tag || kind == probe_frames)
			*start += static_cast<off_t>(skip);
		if (kind != probe_tag)
			return kind == probe_more ? probe_not_flac : kind;
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
	// Not into head: the open stream's unserved bytes may be waiting there.
	std::vector<unsigned char> buf(sizeof head);
	off_t start;
	int kind = probe_file(fd, buf.data(), &start);
	close(fd);
	return kind != probe_not_flac;
}

// Reads the first bytes of a stream into head until they tell what it is,
// dropping ID3v2 tags and what comes before the first whole frame of a
// cut stream (libFLAC is then given what follows them).
static int read_start(int fd, double deadline_ms)
{
	std::size_t n = 0, skip = 0;
	bool at_end = false;
	for (;;) {
		int kind = probe_start(head, n, at_end || n == sizeof head, &skip);
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
		ssize_t got = wait_read(fd, head + n, sizeof head - n, deadline_ms);
		if (got < 0)
			return probe_not_flac;
		at_end = got == 0;
		n += static_cast<std::size_t>(got);
	}
}

// Sets the decoder up for a stream: the settings every stream gets, then
// an init on the open source.
static int init_decoder(FLAC__StreamDecoder *decoder)
{
	FLAC__stream_decoder_set_md5_checking(decoder, true);
	// The decoder's own pass gives the tags of what cannot be read twice
	// (Ogg, which libFLAC's metadata iterator does not read, and pipes).
	if (source.ogg || !source.seekable)
		FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
	FLAC__StreamDecoderInitStatus status;
	if (source.ogg && source.seekable)
		status = FLAC__stream_decoder_init_ogg_stream(decoder, ogg_file_read_hdl, ogg_file_seek_hdl, ogg_file_tell_hdl,
							      ogg_file_length_hdl, ogg_file_eof_hdl, flac_write_hdl,
							      flac_metadata_hdl, flac_error_hdl, &file_info);
	else
		status = (source.ogg ? FLAC__stream_decoder_init_ogg_stream : FLAC__stream_decoder_init_stream)(
			decoder, source.ogg ? ogg_pipe_read_hdl : pipe_read_hdl, nullptr, nullptr, nullptr, nullptr,
			flac_write_hdl, flac_metadata_hdl, flac_error_hdl, &file_info);
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

int source_init(FLAC__StreamDecoder *decoder, const char *path, int *pass_tags)
{
	const int from_stdin = strcmp(path, "-") == 0;
	// Opening a FIFO without a writer would wait in open(2) itself.
	int fd = from_stdin ? STDIN_FILENO : open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return 0;
	struct stat st;
	source = {};
	source.fd = fd;
	source.owned = !from_stdin;
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
	source.seekable = !from_stdin && S_ISREG(st.st_mode);
	int kind;
	if (source.seekable) {
		off_t start;
		kind = probe_file(fd, head, &start);
		source.link_start = source.at = start;
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
		source.link_end = ogg_link_end(fd, start);
	} else {
		const int wait = playback_config.first_bytes_wait_ms;
		kind = read_start(fd, wait ? monotonic_ms() + wait : 0);
	}
	source.ogg = kind == probe_ogg;
	*pass_tags = 1;
	if (kind == probe_not_flac || !init_decoder(decoder)) {
		source_close();
		return 0;
	}
	return 1;
}

int source_next_link(FLAC__StreamDecoder *decoder)
{
	if (!source.ogg)
		return 0;
	unsigned char h[27 + 255 + 5];
	if (source.seekable) {
		// The next link begins where this one ended, with a first page.
		const off_t at = source.link_end;
		if (pread(source.fd, h, 27, at) != 27 || pread(source.fd, h + 27, h[26] + 5u, at + 27) != h[26] + 5)
			return 0;
	} else {
		if (!source.link_over || fill_head(27) <= 0 || fill_head(27 + head[source.head_used + 26] + 5u) <= 0)
			return 0;
		memcpy(h, head + source.head_used, 27 + head[source.head_used + 26] + 5u);
	}
	if (memcmp(h, "OggS", 4) != 0 || !(h[5] & 0x02) || memcmp(h + 27 + h[26], "\x7f" "FLAC", 5) != 0)
		return 0;
	// A finished decoder is as a new one: settings and all.
	FLAC__stream_decoder_finish(decoder);
	if (source.seekable) {
		source.link_start = source.at = source.link_end;
		source.link_end = ogg_link_end(source.fd, source.link_start);
	}
	source.page_left = 0;
	source.last_page = source.pages = source.link_over = 0;
	return init_decoder(decoder);
}

int source_seekable()
{
	return source.seekable;
}

void source_close()
{
	if (source.owned)
		close(source.fd);
	source = {};
}
