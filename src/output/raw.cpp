// Raw PCM output: headerless signed little-endian samples for a reader of
// one fixed format (Snapcast's pipe:// and process:// sources), to a named
// file, a FIFO or standard output, opened once for the whole run.
//
// A regular file is written in blocks, as fast as the frames come. Anything
// else is written as its reader takes it: in pieces no larger than PIPE_BUF
// once poll says there is room, which a pipe takes whole without blocking,
// so the descriptor stays as it was given (standard output may be shared)
// and every wait is the one poll, where keys, the desktop and commands are
// heard. A piece is whole sample frames, so what an interrupted wait leaves
// begins a frame, and can be dropped whole.
#include "output/output.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

// A regular file takes its bytes in blocks, not a system call per frame.
static constexpr std::size_t block_size = 65536;
// What the output still writes at the end of the run, when its reader is
// slow or stuck, before it gives up.
static constexpr int close_wait_ms = 2000;
// The dither's seed: the same input gives the same bytes every run.
static constexpr uint64_t dither_seed = 0x9e3779b97f4a7c15ULL;

static struct {
	int fd = -1;
	int owned;    // a named file: closed here
	int paced;    // not a regular file: written as the reader takes it
	int failed;   // a write failed: the output is not used again
	int given_up; // the last open gave up waiting for a reader
	pcm_format in;          // the frames' format
	std::size_t in_frame;   // bytes of one sample frame of it
	std::size_t out_frame;  // ... of what pending holds
	int converting;         // to output_config.raw_format
	pcm_converter converter;
	std::vector<unsigned char> pending;  // written from sent on
	std::size_t sent;
} raw;

int raw_target_paced(const char *path)
{
	struct stat st;
	const int found = strcmp(path, "-") == 0 ? fstat(STDOUT_FILENO, &st) == 0 : stat(path, &st) == 0;
	return found && !S_ISREG(st.st_mode);
}

const char *output_raw_file()
{
	// Once open, it holds what this run wrote: looked at no more.
	const char *path = output_config.raw;
	return path && strcmp(path, "-") != 0 && raw.fd < 0 ? path : nullptr;
}

int raw_given_up()
{
	return raw.given_up;
}

int raw_failed()
{
	return raw.failed;
}

static bool asked(int (*hook)())
{
	return hook && hook();
}

// Waits in the one poll until fd has events, something else happens, or
// timeout_ms pass. 1 when fd has them.
static int wait_for(int fd, short events, int timeout_ms)
{
	if (output_config.wait)
		return output_config.wait(fd, events, timeout_ms);
	pollfd p = {fd, events, 0};
	return poll(&p, 1, timeout_ms) > 0;
}

static int open_target()
{
	const char *path = output_config.raw;
	raw.owned = strcmp(path, "-") != 0;
	struct stat st;
	int fd;
	if (!raw.owned)
		fd = STDOUT_FILENO;
	else if (stat(path, &st) == 0 && S_ISFIFO(st.st_mode))
		fd = fifo_open_writer(path, &raw.given_up);
	else
		fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
	if (fd < 0)
		return 0;
	raw.fd = fd;
	raw.paced = fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
	return 1;
}

static void fail(int error)
{
	raw.failed = 1;
	// Without SIGPIPE (the process was started ignoring it) the run still
	// ends when its reader goes.
	if (error == EPIPE && output_config.reader_gone)
		output_config.reader_gone();
}

static void write_whole(const unsigned char *p, std::size_t n)
{
	while (n && !raw.failed) {
		const ssize_t w = write(raw.fd, p, n);
		if (w < 0 && errno != EINTR)
			fail(errno);
		if (w > 0) {
			p += w;
			n -= static_cast<std::size_t>(w);
		}
	}
}

static bool writable_now()
{
	pollfd p = {raw.fd, POLLOUT, 0};
	return poll(&p, 1, 0) > 0;
}

static int ms_since(const timespec &start)
{
	timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	return static_cast<int>((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000);
}

// Writes what is pending: to a regular file at once; otherwise as the
// reader takes it, waiting in the one poll, until it is all written, the
// run is ending, or (interruptible) a request waits, or limit_ms (-1: no
// limit) have passed.
static void send(bool interruptible, int limit_ms = -1)
{
	timespec start;
	clock_gettime(CLOCK_MONOTONIC, &start);
	const std::size_t piece = PIPE_BUF - PIPE_BUF % std::max<std::size_t>(raw.out_frame, 1);
	while (raw.sent < raw.pending.size() && !raw.failed) {
		const std::size_t left = raw.pending.size() - raw.sent;
		if (!raw.paced || writable_now()) {
			const std::size_t n = raw.paced ? std::min(left, piece) : left;
			write_whole(raw.pending.data() + raw.sent, n);
			raw.sent += n;
			continue;
		}
		const int waited = ms_since(start);
		if (asked(output_config.ending) || (interruptible && asked(output_config.interrupt)) ||
		    (limit_ms >= 0 && waited >= limit_ms))
			return;
		wait_for(raw.fd, POLLOUT, limit_ms >= 0 ? limit_ms - waited : -1);
	}
	raw.pending.clear();
	raw.sent = 0;
}

static bool same(const pcm_format &a, const pcm_format &b)
{
	return a.rate == b.rate && a.bits == b.bits && a.channels == b.channels;
}

// The converter takes frames of format in from now on: the signal in the
// old format ends first, and what it left is written before the new
// format's bytes. 1 when ready.
static int follow(const pcm_format &in)
{
	const pcm_format &declared = output_config.raw_format;
	raw.in_frame = static_cast<std::size_t>((in.bits / 8) * in.channels);
	if (raw.converting && same(raw.converter.in, in))
		return 1;
	if (raw.converting)
		pcm_converter_flush(&raw.converter, &raw.pending);
	send(false);
	raw.converting = declared.rate != 0;
	if (!raw.converting) {
		raw.out_frame = raw.in_frame;
		return 1;
	}
	raw.out_frame = static_cast<std::size_t>(pcm_declared_bytes(declared.bits) * declared.channels);
	if (pcm_converter_start(&raw.converter, in, declared, dither_seed))
		return 1;
	raw.converting = 0;
	return 0;
}

int raw_open(const ao_sample_format &format)
{
	raw.given_up = 0;
	if (raw.failed) {
		output_print_open_failure();
		return 0;
	}
	if (raw.fd < 0 && !open_target()) {
		if (!raw.given_up)
			output_print_open_failure();
		return 0;
	}
	const pcm_format in = {format.rate, format.bits, format.channels};
	if (!follow(in))
		return 0;
	raw.in = in;
	return 1;
}

int raw_play(const unsigned char *bytes, std::size_t size)
{
	if (raw.failed)
		return 0;
	// What an interrupted wait left goes first, so that no more than a
	// frame is ever held.
	if (raw.paced)
		send(false);
	if (raw.converting) {
		pcm_convert(&raw.converter, bytes, size / raw.in_frame, &raw.pending);
	} else {
		const std::size_t at = raw.pending.size();
		raw.pending.resize(at + size);
		pcm_signed_le(bytes, size, raw.in.bits, raw.pending.data() + at);
	}
	if (raw.paced)
		send(true);
	else if (!raw.owned || raw.pending.size() >= block_size)
		send(false);
	return !raw.failed;
}

int raw_end_stream()
{
	if (raw.failed || raw.paced)
		return 1;
	send(false);
	return !raw.failed;
}

void raw_cut()
{
	// A file converted into keeps everything; a listener's rooms do not
	// play what they were not meant to hear any more.
	if (!raw.paced)
		return;
	raw.pending.clear();
	raw.sent = 0;
	if (raw.converting)
		pcm_converter_reset(&raw.converter);
}

void raw_jumped()
{
	if (raw.converting)
		pcm_converter_reset(&raw.converter);
}

int raw_close()
{
	if (raw.fd < 0)
		return 1;
	if (raw.converting && !raw.failed)
		pcm_converter_flush(&raw.converter, &raw.pending);
	pcm_converter_end(&raw.converter);
	raw.converting = 0;
	send(false, close_wait_ms);
	raw.pending.clear();
	raw.sent = 0;
	if (raw.owned && close(raw.fd) != 0)
		raw.failed = 1;
	raw.fd = -1;
	return !raw.failed;
}
