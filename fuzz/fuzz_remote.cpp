// Command framing and the command set on arbitrary byte streams: the bytes
// arrive on descriptor 0 through a pipe, and remote mode runs until they
// end. A LOAD never reaches the file system with a fuzzed path: an argument
// that starts with "a" loads a small generated stream, any other fails to
// open. (The link wraps stream_open for that.)
#include "playback/stream.h"
#include "remote/remote.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "fixture.h"
#include "harness.h"

static const char *fixture_path;

extern "C" int __real__Z11stream_openPKc(const char *path);
extern "C" int __wrap__Z11stream_openPKc(const char *path)
{
	return __real__Z11stream_openPKc(path[0] == 'a' ? fixture_path : "/nonexistent/wendrop.flac");
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	playback_config.remote = 1;
	null_output_init();
	// Four frames of 0.125 s with tags, and a stated total, so that JUMP
	// has somewhere to go and something to refuse.
	flac_fixture f;
	f.channels = 1;
	f.rate = 8000;
	f.blocksize = 1000;
	f.samples = make_signal(signal_kind::noise, 16, 1, 4000, 8000);
	f.comment_blocks = {{"TITLE=fuzz", "DATE=2024"}};
	std::vector<unsigned char> bytes = encode_flac(f);
	if (bytes.empty())
		__builtin_trap();
	static char path[64];
	int fd = memfd_create("wendrop-fixture", 0);
	if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
		__builtin_trap();
	snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
	fixture_path = path;
	return 0;
}

// Descriptor 0 becomes a pipe holding the bytes, its writer already gone.
static void feed_stdin(const uint8_t *data, size_t size)
{
	int p[2];
	if (pipe(p) != 0)
		__builtin_trap();
	// A pipe holds 64 KiB without a reader: more would block this writer.
	size = std::min<size_t>(size, 65536);
	if (size && write(p[1], data, size) != static_cast<ssize_t>(size))
		__builtin_trap();
	close(p[1]);
	dup2(p[0], STDIN_FILENO);
	close(p[0]);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	feed_stdin(data, size);
	remote_input_reset();
	volume = 1.0f;
	remote_loop();
	if (file_info.is_loaded)
		stream_close();
	return 0;
}
