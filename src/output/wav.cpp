// WAV output: a named file, or standard output ("-").
//
// libao's wav driver writes through a FILE, closes that FILE on ao_close, and
// before that seeks back to patch the sizes into the header. It ignores every
// failed write, seek and close and reports success, so a full disk would go
// unnoticed. So the FILE is ours: libao is handed "-" and, in place of stdout
// for the length of ao_open_file, a FILE whose writes go to a descriptor we
// hold and whose failures are noted. For a named file the descriptor is the
// file opened here; when it is a regular file the header is patched on close
// to state what the file holds (libao's own patch states what it was handed,
// and is lost once a write has failed). For "-" it is descriptor 1: seeks
// fail as on a pipe (patching the header would rewrite earlier streams and
// rewind the shared offset), and closing leaves descriptor 1 open for later
// streams and event lines.
#include "output/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

// libao's header (WAVE_FORMAT_EXTENSIBLE) is 68 bytes; the data chunk and the
// RIFF size are 32-bit, so this much audio is all a WAV file can state.
static constexpr uint64_t wav_data_max = 0xffffffffu - 68;

// The one WAV output open at a time.
static struct {
	int fd;
	int owned;     // a named file: closed with the FILE
	int seekable;  // a regular file: the header is patched on close
	int failed;    // a write, seek or close failed
	int closed;
	uint64_t data; // audio bytes handed to libao
	unsigned frame_bytes;  // one sample of every channel
	uint64_t handed;  // bytes libao has written through the FILE
	uint64_t header;  // of them, its header's: the data chunk's header ends it
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

// Reports every write as done: a failure is noted here and seen by the
// caller after ao_play or ao_close. libao closes the FILE twice when its
// driver's open fails on a write (the header on a full disk), so a write
// must never fail as far as it can tell. After a failure nothing more is
// written.
static size_t write_all(const char *buf, size_t size)
{
	sink.handed += size;
	size_t done = 0;
	while (!sink.failed && done < size) {
		ssize_t n = sink.owned && !sink.seekable ? write_without_sigpipe(sink.fd, buf + done, size - done)
							 : write(sink.fd, buf + done, size - done);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			sink.failed = 1;
			break;
		}
		done += static_cast<size_t>(n);
	}
	return size;
}

static int sink_seek_to(off_t *offset, int whence)
{
	if (!sink.seekable) {
		errno = ESPIPE;
		return -1;
	}
	off_t at = lseek(sink.fd, *offset, whence);
	if (at < 0) {
		sink.failed = 1;
		return -1;
	}
	*offset = at;
	return 0;
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
	const off_t header = static_cast<off_t>(sink.header);
	const off_t end = lseek(sink.fd, 0, SEEK_END);
	if (header < 12 || end < header) {
		sink.failed = 1;
		return;
	}
	off_t data = end - header;
	data -= data % static_cast<off_t>(sink.frame_bytes ? sink.frame_bytes : 1);
	if (ftruncate(sink.fd, header + data) != 0 || !put_le32(static_cast<uint32_t>(header + data - 8), 4) ||
	    !put_le32(static_cast<uint32_t>(data), header - 4))
		sink.failed = 1;
}

static int sink_close(void *)
{
	sink.closed = 1;
	if (sink.seekable)
		patch_header();
	if (sink.owned && close(sink.fd) != 0)
		sink.failed = 1;
	return 0;
}

#if defined(__GLIBC__)
static ssize_t sink_write(void *, const char *buf, size_t size)
{
	return static_cast<ssize_t>(write_all(buf, size));
}
static int sink_seek(void *, off64_t *offset, int whence)
{
	off_t at = static_cast<off_t>(*offset);
	int r = sink_seek_to(&at, whence);
	*offset = at;
	return r;
}

static FILE *sink_open()
{
	cookie_io_functions_t io = {nullptr, sink_write, sink_seek, sink_close};
	return fopencookie(nullptr, "w", io);
}
#else
static int sink_write(void *, const char *buf, int size)
{
	return static_cast<int>(write_all(buf, static_cast<size_t>(size)));
}
static fpos_t sink_seek(void *, fpos_t offset, int whence)
{
	off_t at = static_cast<off_t>(offset);
	return sink_seek_to(&at, whence) ? -1 : static_cast<fpos_t>(at);
}

static FILE *sink_open()
{
	return funopen(nullptr, nullptr, sink_write, sink_seek, sink_close);
}
#endif

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

ao_device *wav_open(const char *path, ao_sample_format *format)
{
	int owned = strcmp(path, "-") != 0;
	// Without O_NONBLOCK a FIFO with no reader would hold open(2) for ever;
	// with it, that open fails (ENXIO). Writes then wait as usual.
	int fd = owned ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666) : STDOUT_FILENO;
	if (fd < 0)
		return nullptr;
	if (owned)
		fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
	struct stat st;
	sink = {fd, owned, owned && fstat(fd, &st) == 0 && S_ISREG(st.st_mode), 0, 0, 0,
		static_cast<unsigned>(format->channels * (format->bits / 8)), 0, 0};

	FILE *file = sink_open();
	if (!file) {
		if (owned)
			close(fd);
		return nullptr;
	}
	// Standard output unbuffered, so the audio keeps its place among the
	// event lines.
	if (owned)
		setvbuf(file, nullptr, _IOFBF, 65536);
	else
		setvbuf(file, nullptr, _IONBF, 0);

	FILE *saved = stdout;
	stdout = file;
	ao_device *device = ao_open_file(ao_driver_id("wav"), "-", 1, format, nullptr);
	stdout = saved;

	if (!device && !sink.closed)
		fclose(file);
	// The header is all libao has written so far: out of the FILE's buffer
	// with it, to know where the data begins.
	if (device) {
		fflush(file);
		sink.header = sink.handed;
	}
	return device;
}

int wav_play(ao_device *device, const unsigned char *bytes, std::size_t size)
{
	// Nothing goes past what the header can state: the stream ends here,
	// and the header patched on close states the data held.
	if (sink.data + size > wav_data_max)
		return 0;
	sink.data += size;
	ao_play(device, reinterpret_cast<char *>(const_cast<unsigned char *>(bytes)),
		static_cast<uint_32>(size));
	return !sink.failed;
}

int wav_close(ao_device *device)
{
	ao_close(device);
	return !sink.failed;
}
