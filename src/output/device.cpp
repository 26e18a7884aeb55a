// The output device: libao, the live driver, and the device that outlives
// streams while their sample format stays the same.
#include "output/output.h"

#include <cstdio>

output_settings output_config;

static ao_option *ao_options;
static int driver_id;
static ao_device *device;
// A write or close of the output failed in this run.
static int failures;
// The format the open live device was opened with.
static struct {
	int bits, rate, channels;
} last_format;

int output_init()
{
	ao_initialize();

	ao_options = nullptr;
	if (output_config.buffer_time)
		ao_append_option(&ao_options, "buffer_time", output_config.buffer_time);

	// A WAV output is opened per stream; no live driver is needed then.
	if (output_config.wav)
		return 0;

	if (output_config.driver) {
		driver_id = ao_driver_id(output_config.driver);
		if (driver_id >= 0)
			return 0;
		fprintf(stderr, "Error identifying libao driver %s\n", output_config.driver);
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
	output_close();
	ao_free_options(ao_options);
	ao_options = nullptr;
	ao_shutdown();
}

int output_driver_id()
{
	return driver_id;
}

void output_close()
{
	if (device) {
		ao_close(device);
		device = nullptr;
	}
}

static bool same_as_last_format(const ao_sample_format &f)
{
	return f.bits == last_format.bits && f.rate == last_format.rate &&
	       f.channels == last_format.channels;
}

int output_open(const ao_sample_format &format)
{
	ao_sample_format f = format;
	if (output_config.wav) {
		// The earlier output is closed first, so a named file is complete
		// before it is opened again.
		output_close();
		device = wav_open(output_config.wav, &f);
		if (!device) {
			fprintf(stderr, "Error opening wav file %s\n", output_config.wav);
			return 0;
		}
		return 1;
	}
	if (device && same_as_last_format(f))
		return 1;
	output_close();
	device = ao_open_live(driver_id, &f, ao_options);
	if (!device) {
		fprintf(stderr, "Error opening ao device %d\n", driver_id);
		return 0;
	}
	last_format = {f.bits, f.rate, f.channels};
	return 1;
}

int output_play(const unsigned char *bytes, std::size_t size)
{
	int ok = output_config.wav
			 ? wav_play(device, bytes, size)
			 : ao_play(device, reinterpret_cast<char *>(const_cast<unsigned char *>(bytes)),
				   static_cast<uint_32>(size)) != 0;
	if (ok)
		return 1;
	failures = 1;
	// A failed device is not used again.
	output_close();
	return 0;
}

int output_end_stream()
{
	if (!output_config.wav || !device)
		return 1;
	int ok = wav_close(device);
	device = nullptr;
	if (!ok)
		failures = 1;
	return ok;
}

void output_print_failure(const char *prefix)
{
	if (output_config.wav)
		fprintf(stderr, "%sError writing wav file %s\n", prefix, output_config.wav);
	else
		fprintf(stderr, "%sError writing to ao device %d\n", prefix, driver_id);
}

int output_failed()
{
	return failures;
}
