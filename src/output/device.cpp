// The output device: libao, the live driver, and the device that outlives
// streams while their sample format stays the same.
#include "output/output.h"
#include "output/live.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
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
// The format of the stream the open live device plays, and the width the
// device was opened with: 32 for 24-bit samples that go out widened.
static struct {
	int bits, rate, channels;
} last_format;
static int device_bits;
// What the live device holds that is still to be heard: set by every
// write, cleared by a deliberate stop and once played out.
static int tail_waiting;
static timespec last_write;
// The sink's rate the server told when the device opened last, still to be
// told of (0: nothing to tell).
static int untold_sink_rate;

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

std::string output_explain(int err)
{
	return output_config.explain ? output_config.explain(err) : "";
}

std::string output_default_driver()
{
	ao_initialize();
	const int id = ao_default_driver_id();
	const ao_info *info = id >= 0 ? ao_driver_info(id) : nullptr;
	std::string name = info && info->short_name ? info->short_name : "";
	ao_shutdown();
	return name;
}

const char *output_driver_name()
{
	const ao_info *info = ao_ready ? ao_driver_info(driver_id) : nullptr;
	return info && info->short_name ? info->short_name : "";
}

void output_close()
{
	if (output_config.raw)
		raw_close();
	if (output_config.wav)
		wav_close();
	if (device) {
		output_play_tail();
		ao_close(device);
		device = nullptr;
	}
	tail_waiting = 0;
	untold_sink_rate = 0;
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
			output_print_open_failure(output_explain(errno));
			return 0;
		}
		return 1;
	}
	if (device && same_as_last_format(f))
		return 1;
	output_close();
	last_format = {f.bits, f.rate, f.channels};
	// libao's alsa driver takes a 24-bit sample for 4 bytes and plays one
	// in 8 of them, among garbage: it gets 32-bit words instead.
	if (f.bits == 24 && driver_is(driver_id, "alsa"))
		f.bits = 32;
	device_bits = f.bits;
	ao_option *options = live_options(driver_id, f.rate);
	device = ao_open_live(driver_id, &f, options);
	ao_free_options(options);
	if (!device) {
		output_print_open_failure();
		return 0;
	}
	if (output_config.tell_resampling && driver_is(driver_id, "pulse")) {
		const int sink_rate = pulse_sink_rate(device_option("server"));
		untold_sink_rate = sink_rate && sink_rate != f.rate ? sink_rate : 0;
	}
	return 1;
}

void output_tell_resampling()
{
	if (untold_sink_rate)
		fprintf(stderr, "Resampled by the sound server: %d Hz stream, sink at %d Hz\n", last_format.rate,
			untold_sink_rate);
	untold_sink_rate = 0;
}

// Plays size bytes of 24-bit samples on a device that takes them widened,
// a piece at a time.
static int play_widened(const unsigned char *bytes, std::size_t size)
{
	constexpr std::size_t piece = 4096;  // samples
	static unsigned char words[piece * 4];
	for (std::size_t at = 0; size - at >= 3;) {
		const std::size_t samples = std::min((size - at) / 3, piece);
		widen_24_to_32(bytes + at, samples, words);
		if (!ao_play(device, reinterpret_cast<char *>(words), static_cast<uint_32>(samples * 4)))
			return 0;
		at += samples * 3;
	}
	return 1;
}

void widen_24_to_32(const unsigned char *in, std::size_t samples, unsigned char *out)
{
	for (std::size_t i = 0; i < samples; i++, in += 3, out += 4) {
		const uint32_t word = (uint32_t{in[0]} << 8) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 24);
		memcpy(out, &word, 4);
	}
}

// Plays size bytes on the live device, in the format it was opened with.
static int live_play(const unsigned char *bytes, std::size_t size)
{
	return device_bits == 32 ? play_widened(bytes, size)
				 : ao_play(device, reinterpret_cast<char *>(const_cast<unsigned char *>(bytes)),
					   static_cast<uint_32>(size)) != 0;
}

// A live device's write blocks until the device has room, for about a
// frame's duration. While a front end has a burst waiting, the frame goes
// out in parts, and the front ends are looked at after each: the device
// has just been filled then, so a look no longer than before a frame is as
// safe for the sound, and comes several times a frame.
static int live_play_attending(const unsigned char *bytes, std::size_t size)
{
	constexpr std::size_t parts = 4;
	const std::size_t frame = static_cast<std::size_t>(last_format.channels) * static_cast<std::size_t>(last_format.bits / 8);
	const std::size_t part = frame ? (size / parts + frame - 1) / frame * frame : size;
	for (std::size_t at = 0; at < size;) {
		const std::size_t n = std::min(part ? part : size, size - at);
		if (!live_play(bytes + at, n))
			return 0;
		at += n;
		if (at < size && output_config.busy())
			output_config.wait(-1, 0, 0);
	}
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
	int ok = output_config.wav						 ? wav_play(bytes, size)
		 : output_config.busy && output_config.wait && output_config.busy() ? live_play_attending(bytes, size)
										     : live_play(bytes, size);
	if (ok) {
		if (!output_config.wav) {
			tail_waiting = 1;
			clock_gettime(CLOCK_MONOTONIC, &last_write);
		}
		return 1;
	}
	failures = 1;
	// A failed device is not used again, nor waited for.
	tail_waiting = 0;
	output_close();
	return 0;
}

void output_drop_tail()
{
	tail_waiting = 0;
}

// The silence written after the last samples: at least the period in which
// a sound server plays a stream's data, and no more than needed. libao's
// pulse driver closes a stream whose buffer holds a second or less without
// draining it, and pipewire-pulse plays a stream's data only in whole
// periods of its graph (up to 8192 frames, 186 ms at 44.1 kHz): what is
// left of the last one is never played, unless more data follows.
static int tail_silence_ms()
{
	const int ms = live_buffer_ms();
	return ms < 50 ? 50 : ms > 200 ? 200 : ms;
}

int output_tail_grace_ms()
{
	if (!device || !tail_waiting)
		return -1;
	// Well before the buffer runs dry.
	timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	const long long since = (now.tv_sec - last_write.tv_sec) * 1000LL + (now.tv_nsec - last_write.tv_nsec) / 1000000;
	const long long left = live_buffer_ms() / 2 - since;
	return left < 0 ? 0 : static_cast<int>(left);
}

void output_play_tail()
{
	if (!device || !tail_waiting)
		return;
	tail_waiting = 0;
	// Unsigned 8-bit samples are silent at 128.
	static unsigned char silence[16384];
	memset(silence, device_bits == 8 ? 0x80 : 0, sizeof silence);
	const std::size_t frame = static_cast<std::size_t>(last_format.channels) * static_cast<std::size_t>(device_bits / 8);
	const std::size_t piece = sizeof silence / frame * frame;
	std::size_t left = static_cast<std::size_t>(last_format.rate) * static_cast<std::size_t>(tail_silence_ms()) / 1000 * frame;
	// A device that fails here fails the next write too, which says so.
	while (left) {
		const std::size_t n = std::min(left, piece);
		if (!ao_play(device, const_cast<char *>(reinterpret_cast<const char *>(silence)), static_cast<uint_32>(n)))
			return;
		left -= n;
	}
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

void output_print_open_failure(const std::string &why)
{
	// The reason, when there is one: after the name, in brackets.
	const std::string reason = why.empty() ? "" : " (" + why + ")";
	if (output_config.raw && raw_failed())
		fprintf(stderr, "Error writing raw output %s\n", raw_name());
	else if (output_config.raw)
		fprintf(stderr, "Error opening raw output %s%s\n", raw_name(), reason.c_str());
	else if (output_config.wav)
		fprintf(stderr, "Error opening wav file %s%s\n", wav_name(), reason.c_str());
	else
		fprintf(stderr, "Error opening ao device %d\n", driver_id);
	// libao does not say which option it refused.
	if (!output_config.wav && output_config.device_options_shown)
		fprintf(stderr, "Device options given: %s\n", output_config.device_options_shown);
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
