// Inside the output room: what a live device is opened with, and what its
// sound server is asked about it.
#pragma once

#include <ao/ao.h>

/// 1 when driver is libao's driver of that short name.
int driver_is(int driver, const char *name);
/// The libao options for a live device of driver at rate (null when there
/// are none): "buffer_time" from -b, then the -o options in their order,
/// so that one of those has the last word. With the pulse driver -b
/// becomes the stream's latency request (PULSE_LATENCY_MSEC) instead. The
/// caller releases them with ao_free_options.
ao_option *live_options(int driver, int rate);
/// The buffer, in milliseconds, of the device whose options were made
/// last: the latency asked of a pulse server, -b, or else 100.
int live_buffer_ms();
/// The value of the last -o option named key; null when none is.
const char *device_option(const char *key);

/// The rate of the sink that this process's newest playback stream on the
/// pulse server (server; null: libpulse's default) plays to, asked with
/// libpulse's introspection, libpulse loaded on the first call. 0 when it
/// cannot be told (no libpulse, no server, no such stream) within about a
/// second.
int pulse_sink_rate(const char *server);
