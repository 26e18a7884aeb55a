// Output selection: libao, its option list and the live driver.
#include "app/settings.h"
#include "playback/stream.h"

#include <cstdio>

ao_option *ao_options;
int driver_id;

int output_init()
{
	ao_initialize();

	ao_options = nullptr;
	if (opt_buffer_time)
		ao_append_option(&ao_options, "buffer_time", opt_buffer_time);

	// A WAV output is opened per stream; no live driver is needed then.
	if (opt_wav)
		return 0;

	if (opt_driver) {
		driver_id = ao_driver_id(opt_driver);
		if (driver_id >= 0)
			return 0;
		fprintf(stderr, "Error identifying libao driver %s\n", opt_driver);
	}
	driver_id = ao_default_driver_id();
	if (driver_id < 0) {
		fprintf(stderr, "No fallback libao driver found, exiting.\n");
		ao_free_options(ao_options);
		ao_options = nullptr;
		ao_shutdown();
		return 1;
	}
	return 0;
}

void output_shutdown()
{
	stream_release_device();
	ao_free_options(ao_options);
	ao_options = nullptr;
	ao_shutdown();
}
