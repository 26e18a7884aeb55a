// What the harnesses share: fuzzed bytes as a file that the player opens by
// path, kept in memory so that millions of inputs never touch the disk, and
// libao set up with its null driver.
#pragma once

#include "output/output.h"
#include "playback/stream.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

/// A path naming a memory-backed regular file that holds exactly the bytes.
/// The same file is rewritten for every call.
inline const char *bytes_as_file(const uint8_t *data, size_t size)
{
	static int fd = -1;
	static char path[64];
	if (fd < 0) {
		fd = memfd_create("wendrop-fuzz", 0);
		snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
	}
	if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
		__builtin_trap();
	return path;
}

/// libao initialised, live output on its null driver.
inline void null_output_init()
{
	output_config = {nullptr, "null", 0};
	if (output_init() != 0 || output_driver_id() != ao_driver_id("null"))
		__builtin_trap();
}
