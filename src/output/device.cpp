// The output device: libao, the live driver, and the device that outlives
// streams while their sample format stays the same.
#include "output/output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

output_settings output_config;

static int driver_id;
// The live device (a WAV output is wav.cpp's).
static ao_device *device;
static int ao_ready;
// A write or close of the output failed in this run.
static int failures;
// The format the open live device was opened with.
static struct {
	int bits, rate, channels;
} last_format;

int output_init()
{
	// A WAV output is opened per stream and written without libao, whose
	// initialisation loads every driver plugin; so is a raw output.
	if (output_config.wav || output_config.raw)
		return 0;
	ao_initialize();
	ao_ready = 1;

	if (output_config.driver) {
		driver_id = ao_driver_id(output_config.driver);
		if (driver_id >= 0)
			return 0;
		fprintf(stderr, "Error identifying libao driver %s\n", output_config.driver);
	}
	driver_id = ao_default_driver_id();
	if (driver_id < 0) {
		fprintf(stderr, "No fallback libao driver found, exiting.\n");
		ao_shutdown();
		ao_ready = 0;
		return 1;
	}
	return 0;
}

void output_shutdown()
{
	output_close();
	if (ao_ready)
		ao_shutdown();
	ao_ready = 0;
}

int output_driver_id()
{
	return driver_id;
}

void output_close()
{
	if (output_config.raw)
		raw_close();
	if (output_config.wav)
		wav_close();
	if (device) {
		ao_close(device);
		device = nullptr;
	}
}

// libao's names for the speakers of FLAC's channel order; null beyond 8.
static const char *channel_matrix(int channels)
{
	// Without a matrix libao and the sound server guess: 5.1's LFE and rear
	// channels land on other speakers, and 7 or 8 channels do not open.
	static const char *const layouts[] = {
		"M", "L,R", "L,R,C", "L,R,BL,BR", "L,R,C,BL,BR", "L,R,C,LFE,BL,BR",
		"L,R,C,LFE,BC,SL,SR", "L,R,C,LFE,BL,BR,SL,SR",
	};
	return channels >= 1 && channels <= 8 ? layouts[channels - 1] : nullptr;
}

// The buffer time in ms to ask of libao's pulse driver for a stream at
// rate. libpulse replaces it with the latency request below whenever it can
// read one; only a PULSE_LATENCY_MSEC of the user's that libpulse cannot
// read leaves it in force, so it must still be one the driver holds.
static int pulse_buffer_time(int rate)
{
	// The driver multiplies the buffer time in microseconds by the rate in
	// an int, and a product past 2^31 - 1 wraps into a buffer of
	// milliseconds or of many seconds. Its own default of 20 ms wraps too
	// above 107 kHz, so it is passed explicitly and cut.
	long long limit = rate > 0 ? 2147483647LL / (rate * 1000LL) : 20;
	return static_cast<int>(limit < 1 ? 1 : limit < 20 ? limit : 20);
}

// The latency in ms the pulse driver asks for without -b, for a stream at
// rate: 100 ms, less where a frame is long. A pause, a seek or q is heard
// after the frame being played (4096 samples from the reference encoder)
// and the stream's buffer, which libpulse shows as three quarters of a
// request up to 80 ms (half of it plus 20 ms above); the request keeps the
// two within 147 ms. It goes no lower than a 51 ms buffer: a shorter one
// costs CPU in the server's wake-ups, and below 44.1 kHz the frame alone
// nearly fills the 150 ms anyway.
static int pulse_default_latency(int rate)
{
	double frame_ms = rate > 0 ? 4096000.0 / rate : 0;
	int ms = static_cast<int>((147 - frame_ms) * 4 / 3);
	return ms < 68 ? 68 : ms > 100 ? 100 : ms;
}

// Sets the latency libpulse asks of the server for the next stream: -b when
// given, else the user's own PULSE_LATENCY_MSEC, else the default. libpulse
// reads the variable at every stream it connects, and it carries any
// latency, where the driver's buffer time wraps; no libpulse thread runs
// between devices, so the environment is changed while nothing reads it.
static void pulse_latency_request(int requested, int rate)
{
	// Taken before the first device sets it; an empty value counts as unset.
	static const bool users_own = [] {
		const char *v = getenv("PULSE_LATENCY_MSEC");
		return v && *v;
	}();
	if (!requested && users_own)
		return;
	int ms = requested ? requested : pulse_default_latency(rate);
	setenv("PULSE_LATENCY_MSEC", std::to_string(ms).c_str(), 1);
}

// The libao options for a live device at rate, built for each opening
// since the buffer depends on the rate. Null when there are none.
static ao_option *live_options(int rate)
{
	ao_info *info = ao_driver_info(driver_id);
	bool pulse = info && strcmp(info->short_name, "pulse") == 0;
	int ms = output_config.buffer_time_ms;
	if (pulse) {
		pulse_latency_request(ms, rate);
		ms = pulse_buffer_time(rate);
	}
	ao_option *options = nullptr;
	if (ms)
		ao_append_option(&options, "buffer_time", std::to_string(ms).c_str());
	return options;
}

static bool same_as_last_format(const ao_sample_format &f)
{
	return f.bits == last_format.bits && f.rate == last_format.rate &&
	       f.channels == last_format.channels;
}

int output_open(const ao_sample_format &format)
{
	if (output_config.raw)
		return raw_open(format);
	ao_sample_format f = format;
	f.matrix = const_cast<char *>(channel_matrix(f.channels));
	if (output_config.wav) {
		// The earlier output is closed first, so a named file is complete
		// before it is opened again.
		output_close();
		if (!wav_open(output_config.wav, f)) {
			output_print_open_failure();
			return 0;
		}
		return 1;
	}
	if (device && same_as_last_format(f))
		return 1;
	output_close();
	ao_option *options = live_options(f.rate);
	device = ao_open_live(driver_id, &f, options);
	ao_free_options(options);
	if (!device) {
		output_print_open_failure();
		return 0;
	}
	last_format = {f.bits, f.rate, f.channels};
	return 1;
}

int output_play(const unsigned char *bytes, std::size_t size)
{
	// A raw output is opened once for the run: after a failure it stays
	// failed, and refuses the streams that follow.
	if (output_config.raw) {
		if (raw_play(bytes, size))
			return 1;
		failures = 1;
		return 0;
	}
	int ok = output_config.wav
			 ? wav_play(bytes, size)
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
	if (!output_config.wav && !output_config.raw)
		return 1;
	int ok = output_config.raw ? raw_end_stream() : wav_close();
	if (!ok)
		failures = 1;
	return ok;
}

static const char *wav_name()
{
	return output_config.wav_name ? output_config.wav_name : output_config.wav;
}

static const char *raw_name()
{
	return output_config.raw_name ? output_config.raw_name : output_config.raw;
}

void output_print_open_failure()
{
	if (output_config.raw)
		fprintf(stderr, raw_failed() ? "Error writing raw output %s\n" : "Error opening raw output %s\n", raw_name());
	else if (output_config.wav)
		fprintf(stderr, "Error opening wav file %s\n", wav_name());
	else
		fprintf(stderr, "Error opening ao device %d\n", driver_id);
}

void output_print_failure(const char *prefix)
{
	if (output_config.raw)
		fprintf(stderr, "%sError writing raw output %s\n", prefix, raw_name());
	else if (output_config.wav)
		fprintf(stderr, "%sError writing wav file %s\n", prefix, wav_name());
	else
		fprintf(stderr, "%sError writing to ao device %d\n", prefix, driver_id);
}

int output_given_up()
{
	return output_config.raw && raw_given_up();
}

int output_is_conversion()
{
	return output_config.wav || (output_config.raw && !raw_target_paced(output_config.raw));
}

void output_cut()
{
	if (output_config.raw)
		raw_cut();
}

void output_jumped()
{
	if (output_config.raw)
		raw_jumped();
}

const char *output_wav_file()
{
	const char *path = output_config.wav;
	return path && strcmp(path, "-") != 0 ? path : nullptr;
}

int output_failed()
{
	return failures;
}
