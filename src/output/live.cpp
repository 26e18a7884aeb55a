// The options a live device opens with: the buffer (the latency asked of a
// pulse server) and the user's own -o options.
#include "output/live.h"
#include "output/output.h"

#include <cstdlib>
#include <cstring>
#include <string>

// The buffer of the device whose options were made last.
static int buffer_ms = 100;

int driver_is(int driver, const char *name)
{
	ao_info *info = ao_driver_info(driver);
	return info && strcmp(info->short_name, name) == 0;
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
// Gives the latency in force.
static int pulse_latency_request(int requested, int rate)
{
	// Taken before the first device sets it; an empty value counts as unset.
	// One that libpulse cannot read leaves libpulse's default of 2 s.
	static const int users_own = [] {
		const char *v = getenv("PULSE_LATENCY_MSEC");
		const long ms = v && *v ? strtol(v, nullptr, 10) : 0;
		return !v || !*v ? 0 : ms > 0 && ms < 100000 ? static_cast<int>(ms) : 2000;
	}();
	if (!requested && users_own)
		return users_own;
	int ms = requested ? requested : pulse_default_latency(rate);
	setenv("PULSE_LATENCY_MSEC", std::to_string(ms).c_str(), 1);
	return ms;
}

ao_option *live_options(int driver, int rate)
{
	int ms = output_config.buffer_time_ms;
	buffer_ms = ms ? ms : 100;
	if (driver_is(driver, "pulse")) {
		buffer_ms = pulse_latency_request(ms, rate);
		ms = pulse_buffer_time(rate);
	}
	ao_option *options = nullptr;
	if (ms)
		ao_append_option(&options, "buffer_time", std::to_string(ms).c_str());
	for (const char *const *o = output_config.device_options; o && *o; o++) {
		const char *eq = strchr(*o, '=');
		ao_append_option(&options, std::string(*o, static_cast<std::size_t>(eq - *o)).c_str(), eq + 1);
	}
	return options;
}

int live_buffer_ms()
{
	return buffer_ms;
}

const char *device_option(const char *key)
{
	const char *value = nullptr;
	const std::size_t n = strlen(key);
	for (const char *const *o = output_config.device_options; o && *o; o++)
		if (strncmp(*o, key, n) == 0 && (*o)[n] == '=')
			value = *o + n + 1;
	return value;
}
