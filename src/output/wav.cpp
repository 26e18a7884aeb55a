// WAV output, and its standard-output form "-".
//
// For "-", libao writes to the process's stdout FILE, closes that FILE on
// ao_close, and on close seeks back to patch the sizes into the header. On a
// regular file the seek would rewrite earlier streams and rewind the shared
// offset; closing would take standard output away from later streams and
// event lines. So libao is handed, in place of stdout for the length of
// ao_open_file, a FILE of our own: writes go to descriptor 1, seeks fail as
// on a pipe, and closing it leaves descriptor 1 open.
#include "output/output.h"

#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

static int sink_closed;

static ssize_t write_all(const char *buf, size_t size)
{
	size_t done = 0;
	while (done < size) {
		ssize_t n = write(STDOUT_FILENO, buf + done, size - done);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			return done ? static_cast<ssize_t>(done) : -1;
		}
		done += static_cast<size_t>(n);
	}
	return static_cast<ssize_t>(done);
}

static int sink_close(void *)
{
	sink_closed = 1;
	return 0;
}

#if defined(__GLIBC__)
static ssize_t sink_write(void *, const char *buf, size_t size) { return write_all(buf, size); }
static int sink_seek(void *, off64_t *, int)
{
	errno = ESPIPE;
	return -1;
}

static FILE *stdout_sink_open()
{
	cookie_io_functions_t io = {nullptr, sink_write, sink_seek, sink_close};
	return fopencookie(nullptr, "w", io);
}
#else
static int sink_write(void *, const char *buf, int size)
{
	return static_cast<int>(write_all(buf, static_cast<size_t>(size)));
}
static fpos_t sink_seek(void *, fpos_t, int)
{
	errno = ESPIPE;
	return -1;
}

static FILE *stdout_sink_open()
{
	return funopen(nullptr, nullptr, sink_write, sink_seek, sink_close);
}
#endif

ao_device *wav_open(const char *path, ao_sample_format *format)
{
	int wav_id = ao_driver_id("wav");
	if (strcmp(path, "-") != 0)
		return ao_open_file(wav_id, path, 1, format, nullptr);

	FILE *sink = stdout_sink_open();
	if (!sink)
		return nullptr;
	// Unbuffered, so the audio keeps its place among the event lines.
	setvbuf(sink, nullptr, _IONBF, 0);
	sink_closed = 0;

	FILE *saved = stdout;
	stdout = sink;
	ao_device *device = ao_open_file(wav_id, "-", 1, format, nullptr);
	stdout = saved;

	if (!device && !sink_closed)
		fclose(sink);
	return device;
}
