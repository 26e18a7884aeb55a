// WAV output: a named file, or standard output ("-").
//
// libao's wav driver writes through a FILE, closes that FILE on ao_close, and
// before that seeks back to patch the sizes into the header. It ignores every
// failed write, seek and close and reports success, so a full disk would go
// unnoticed. So the FILE is ours: libao is handed "-" and, in place of stdout
// for the length of ao_open_file, a FILE whose writes go to a descriptor we
// hold and whose failures are noted. For a named file the descriptor is the
// file opened here; the header can be patched when it is a regular file. For
// "-" it is descriptor 1: seeks fail as on a pipe (patching the header would
// rewrite earlier streams and rewind the shared offset), and closing leaves
// descriptor 1 open for later streams and event lines.
#include "output/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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
} sink;

// Reports every write as done: a failure is noted here and seen by the
// caller after ao_play or ao_close. libao closes the FILE twice when its
// driver's open fails on a write (the header on a full disk), so a write
// must never fail as far as it can tell. After a failure nothing more is
// written.
static size_t write_all(const char *buf, size_t size)
{
	size_t done = 0;
	while (!sink.failed && done < size) {
		ssize_t n = write(sink.fd, buf + done, size - done);
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

static int sink_close(void *)
{
	sink.closed = 1;
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

// Whether the existing file at path must not be overwritten: it is the
// stream being played ("-" is standard input), or FLAC audio, native or in
// Ogg (the output named where an input was meant).
static int holds_flac(const char *path, const char *stream_path)
{
	struct stat out, in;
	if (stat(path, &out) != 0)
		return 0;
	int in_ok = strcmp(stream_path, "-") == 0 ? fstat(STDIN_FILENO, &in) : stat(stream_path, &in);
	if (in_ok == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
		return 1;
	if (!S_ISREG(out.st_mode))
		return 0;
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return 0;
	// An Ogg FLAC file's first page holds "\x7fFLAC" right after its
	// 27-byte header and one lacing value.
	unsigned char head[33];
	ssize_t n = read(fd, head, sizeof head);
	close(fd);
	if (n >= 4 && memcmp(head, "fLaC", 4) == 0)
		return 1;
	return n == sizeof head && memcmp(head, "OggS", 4) == 0 && memcmp(head + 28, "\x7f" "FLAC", 5) == 0;
}

int output_accepts(const char *stream_path, const ao_sample_format &format,
		   uint64_t total_samples, const char *prefix)
{
	const char *path = output_config.wav;
	if (!path)
		return 1;
	uint64_t bytes = total_samples * static_cast<uint64_t>(format.channels) *
			 static_cast<uint64_t>(format.bits / 8);
	if (bytes > wav_data_max) {
		fprintf(stderr, "%sStream too big for a WAV file: %s\n", prefix, stream_path);
		return 0;
	}
	if (strcmp(path, "-") != 0 && holds_flac(path, stream_path)) {
		fprintf(stderr, "Error opening wav file %s\n", path);
		return 0;
	}
	return 1;
}

ao_device *wav_open(const char *path, ao_sample_format *format)
{
	int owned = strcmp(path, "-") != 0;
	int fd = owned ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666) : STDOUT_FILENO;
	if (fd < 0)
		return nullptr;
	struct stat st;
	sink = {fd, owned, owned && fstat(fd, &st) == 0 && S_ISREG(st.st_mode), 0, 0, 0};

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
