// Where the samples go: a live libao device, kept from stream to stream
// while the sample format stays, or a WAV output (a named file or standard
// output) opened anew for every stream.
#pragma once

#include <ao/ao.h>

#include <cstddef>

/// What the command line chose. Set by start-up before output_init() and
/// read-only afterwards; texts are absent (null) and numbers 0 when not
/// given.
struct output_settings {
	const char *wav;     // WAV output path, "-" for standard output
	const char *driver;  // libao driver name for live output
	int buffer_time_ms;  // libao "buffer_time" for live devices, 1 to 10000
};
extern output_settings output_config;

/// Initialises libao and, unless a WAV output is chosen, picks the live
/// driver. 0 on success; 1 (libao already shut down) when no live driver is
/// usable.
int output_init();
/// Closes the device still open and shuts libao down.
void output_shutdown();
/// The libao driver id for live output (after output_init()).
int output_driver_id();

/// Makes the output ready for a stream of the given format: a live device
/// is kept while the format equals the last one, otherwise (re)opened; a
/// WAV output is opened anew. Either is opened with the channel layout that
/// FLAC fixes for the channel count (none beyond 8 channels), and a live
/// device with the buffer time the driver can hold (a line on standard
/// error when the one asked for had to be cut). 1 when ready; 0 after
/// printing the line that says why, with no device open.
int output_open(const ao_sample_format &format);
/// Plays size bytes on the open device.
void output_play(const unsigned char *bytes, std::size_t size);
/// Closes the open device, if there is one.
void output_close();

/// Opens the WAV output at path for one stream; "-" writes to standard
/// output, which stays open after the device is closed.
ao_device *wav_open(const char *path, ao_sample_format *format);
