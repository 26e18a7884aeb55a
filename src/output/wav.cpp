// WAV output: a named file, or standard output ("-").
//
// Written here rather than through libao's wav driver: using that driver
// takes ao_initialize, which loads every driver plugin libao has (and the
// sound server's client library with its dozens of dependencies) for a
// conversion that uses none of them, and that driver ignores every failed
// write, seek and close. The header is the one libao's driver writes, byte
// for byte (WAVE_FORMAT_EXTENSIBLE, 68 bytes, its channel mask taken from
// the channel layout, sizes that say "unknown" until they are known). A
// named regular file's header is patched on close to state what the file
// holds; standard output cannot seek (a pipe, or a file shared with other
// writers): its header keeps those sizes, and descriptor 1 stays open for
// later streams and event lines.
#include "output/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <pthread.h>
#include <unistd.h>

// The header is 68 bytes; the data chunk and the RIFF size are 32-bit, so
// this much audio is all a WAV file can state.
static constexpr std::size_t header_size = 68;
static constexpr uint64_t wav_data_max = 0xffffffffu - header_size;

// The one WAV output open at a time.
static struct {
	int fd;
	int open;
	int owned;     // a named file: closed here
	int seekable;  // a regular file: the header is patched on close
	int failed;    // a write, seek or close failed
	uint64_t data; // audio bytes written
	unsigned frame_bytes;  // one sample of every channel
	unsigned sample_bytes;
} sink;

// A write to a named FIFO or socket whose reader has gone fails with EPIPE
// and no SIGPIPE: that is a failed output, reported like a full disk, not
// the end of the process. (Standard output keeps the usual SIGPIPE.)
static ssize_t write_without_sigpipe(int fd, const char *buf, size_t size)
{
	sigset_t pipe_set, old;
	sigemptyset(&pipe_set);
	sigaddset(&pipe_set, SIGPIPE);
	pthread_sigmask(SIG_BLOCK, &pipe_set, &old);
	ssize_t n = write(fd, buf, size);
	const int saved = errno;
	// A reader that leaves during a write raises SIGPIPE also when part of
	// it went through: whatever is pending now is this write's.
	sigset_t pending;
	if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
		const timespec none = {0, 0};
		sigtimedwait(&pipe_set, nullptr, &none);
	}
	pthread_sigmask(SIG_SETMASK, &old, nullptr);
	errno = saved;
	return n;
}

// Writes all of buf; a failure is noted, and after it nothing more is
// written.
static void write_out(const unsigned char *buf, size_t size)
{
	size_t done = 0;
	const char *bytes = reinterpret_cast<const char *>(buf);
	while (!sink.failed && done < size) {
		ssize_t n = sink.owned && !sink.seekable ? write_without_sigpipe(sink.fd, bytes + done, size - done)
							 : write(sink.fd, bytes + done, size - done);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			sink.failed = 1;
			break;
		}
		done += static_cast<size_t>(n);
	}
}

// A named file takes the bytes in blocks, as stdio would give them, not a
// system call per frame; standard output takes each frame at once, so the
// audio keeps its place among the event lines.
static constexpr std::size_t block_size = 65536;
static unsigned char block[block_size];
static std::size_t block_used;

static void flush_block()
{
	write_out(block, block_used);
	block_used = 0;
}

static void write_all(const unsigned char *buf, size_t size)
{
	if (!sink.owned) {
		write_out(buf, size);
		return;
	}
	if (block_used + size > block_size)
		flush_block();
	if (size >= block_size) {
		write_out(buf, size);
		return;
	}
	memcpy(block + block_used, buf, size);
	block_used += size;
}

static bool put_le32(uint32_t v, off_t at)
{
	const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
				    static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
	return pwrite(sink.fd, b, 4, at) == 4;
}

// Makes the header state the whole sample frames the file holds: the RIFF
// size at byte 4, the data size just before the data. A write that failed
// part way may have left part of a frame: the file is cut to whole frames.
// Neither needs new space on a full disk.
static void patch_header()
{
	const off_t header = static_cast<off_t>(header_size);
	const off_t end = lseek(sink.fd, 0, SEEK_END);
	if (end < header) {
		sink.failed = 1;
		return;
	}
	off_t data = end - header;
	data -= data % static_cast<off_t>(sink.frame_bytes ? sink.frame_bytes : 1);
	if (ftruncate(sink.fd, header + data) != 0 || !put_le32(static_cast<uint32_t>(header + data - 8), 4) ||
	    !put_le32(static_cast<uint32_t>(data), header - 4))
		sink.failed = 1;
}

static void le16(unsigned char *at, unsigned v)
{
	at[0] = static_cast<unsigned char>(v);
	at[1] = static_cast<unsigned char>(v >> 8);
}

static void le32(unsigned char *at, uint32_t v)
{
	le16(at, v & 0xffff);
	le16(at + 2, v >> 16);
}

uint32_t wav_channel_mask(const char *matrix)
{
	// The speakers a WAV channel mask names, by libao's names for them. A
	// layout of other names ("M", mono) gives no mask.
	static const char *const speakers[] = {"L", "R", "C", "LFE", "BL", "BR", "CL", "CR", "BC", "SL", "SR"};
	uint32_t mask = 0;
	for (const char *name = matrix; name && *name;) {
		const std::size_t n = strcspn(name, ",");
		for (std::size_t bit = 0; bit < std::size(speakers); bit++)
			if (strlen(speakers[bit]) == n && strncmp(speakers[bit], name, n) == 0)
				mask |= 1u << bit;
		name += name[n] ? n + 1 : n;
	}
	return mask;
}

void wav_header(const ao_sample_format &format, unsigned char *header)
{
	static const unsigned char pcm_guid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71};
	const unsigned bytes = static_cast<unsigned>(format.bits + 7) / 8;
	const unsigned block = bytes * static_cast<unsigned>(format.channels);
	// Until they are known the sizes say "as much as there is", as libao's
	// driver has it.
	const uint32_t data = 0x7fffffffu - header_size;
	memcpy(header, "RIFF", 4);
	le32(header + 4, data + header_size - 8);
	memcpy(header + 8, "WAVEfmt ", 8);
	le32(header + 16, 40);
	le16(header + 20, 0xfffe);  // WAVE_FORMAT_EXTENSIBLE
	le16(header + 22, static_cast<unsigned>(format.channels));
	le32(header + 24, static_cast<uint32_t>(format.rate));
	le32(header + 28, static_cast<uint32_t>(format.rate) * block);
	le16(header + 32, block);
	le16(header + 34, bytes * 8);
	le16(header + 36, 22);
	le16(header + 38, static_cast<unsigned>(format.bits));
	le32(header + 40, wav_channel_mask(format.matrix));
	memcpy(header + 44, pcm_guid, 16);
	memcpy(header + 60, "data", 4);
	le32(header + 64, data);
}

int output_accepts(const char *stream_name, const ao_sample_format &format,
		   uint64_t total_samples, const char *prefix)
{
	if (!output_config.wav)
		return 1;
	uint64_t bytes = total_samples * static_cast<uint64_t>(format.channels) *
			 static_cast<uint64_t>(format.bits / 8);
	if (bytes > wav_data_max) {
		fprintf(stderr, "%sStream too big for a WAV file: %s\n", prefix, stream_name);
		return 0;
	}
	return 1;
}

int wav_open(const char *path, const ao_sample_format &format)
{
	int owned = strcmp(path, "-") != 0;
	// Without O_NONBLOCK a FIFO with no reader would hold open(2) for ever;
	// with it, that open fails (ENXIO). Writes then wait as usual.
	int fd = owned ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666) : STDOUT_FILENO;
	if (fd < 0)
		return 0;
	if (owned)
		fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
	struct stat st;
	const unsigned sample_bytes = static_cast<unsigned>(format.bits + 7) / 8;
	block_used = 0;
	sink = {fd, 1, owned, owned && fstat(fd, &st) == 0 && S_ISREG(st.st_mode), 0, 0,
		sample_bytes * static_cast<unsigned>(format.channels), sample_bytes};
	// A header that cannot be written (a full disk) fails the first write,
	// which reports it.
	unsigned char header[header_size];
	wav_header(format, header);
	write_all(header, sizeof header);
	return 1;
}

int wav_play(const unsigned char *bytes, std::size_t size)
{
	// Nothing goes past what the header can state: the stream ends here,
	// and the header patched on close states the data held.
	if (sink.data + size > wav_data_max)
		return 0;
	sink.data += size;
	if constexpr (std::endian::native == std::endian::little) {
		write_all(bytes, size);
	} else {
		// WAV samples are little-endian; the frames come in the machine's
		// order. (The room holds whole samples of every width.)
		static unsigned char swapped[65520];
		const std::size_t width = sink.sample_bytes;
		for (std::size_t done = 0; done < size;) {
			std::size_t n = std::min(size - done, sizeof swapped);
			memcpy(swapped, bytes + done, n);
			for (std::size_t i = 0; i + width <= n; i += width)
				std::reverse(swapped + i, swapped + i + width);
			write_all(swapped, n);
			done += n;
		}
	}
	return !sink.failed;
}

int wav_close()
{
	if (!sink.open)
		return 1;
	sink.open = 0;
	flush_block();
	if (sink.seekable)
		patch_header();
	if (sink.owned && close(sink.fd) != 0)
		sink.failed = 1;
	return !sink.failed;
}
