// Live playback into a real sound server: a private PulseAudio with a null
// sink, recorded from its monitor.
#include <gtest/gtest.h>

#include <ao/ao.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <unistd.h>

#include "fixture.h"
#include "live.h"
#include "process.h"
#include "wav.h"

namespace {
struct Live : LiveTest {
	std::string make(const std::string &name, unsigned rate, uint64_t frames, std::vector<int32_t> *samples = nullptr,
			 unsigned channels = 2, bool ogg = false)
	{
		flac_fixture f;
		f.ogg = ogg;
		f.rate = rate;
		f.channels = channels;
		f.samples = make_signal(signal_kind::ramp, 16, channels, frames, rate);
		if (samples)
			*samples = f.samples;
		std::string path = dir.file(name);
		EXPECT_TRUE(write_flac(path, f));
		return path;
	}
	run_result wendrop(std::vector<std::string> args)
	{
		return run(wendrop_args(std::move(args)), "", 60, {.env = env});
	}
};
}

TEST_F(Live, TheRecordedSinkHoldsTheFileSamples)
{
	std::vector<int32_t> samples;
	std::string a = make("a.flac", 44100, 22050, &samples);
	process rec;
	ASSERT_TRUE(pulse_record_start(server, rec, 44100, 2));
	// A buffer of 100 ms keeps a loaded machine from underrunning the stream.
	run_result r = wendrop({"-q", "-d", "pulse", "--buffer-time", "100", a});
	usleep(300000);
	std::vector<unsigned char> recorded = pulse_record_stop(server, rec);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	// The server's monitor can lose a few milliseconds of a stream (the
	// start of it, when it rewinds what it had recorded, or a moment on a
	// loaded machine), so the check cuts the file into 10 ms blocks and
	// asks for half of them, bit for bit and in order: any fault in the
	// samples themselves leaves none.
	std::vector<unsigned char> expected = pcm_bytes(samples, 16);
	const std::size_t block = 441 * 4;
	std::size_t blocks = 0, found = 0;
	auto from = recorded.begin();
	for (std::size_t at = 0; at + block <= expected.size(); at += block, blocks++) {
		auto b = expected.begin() + static_cast<std::ptrdiff_t>(at);
		auto hit = std::search(from, recorded.end(), std::boyer_moore_searcher(b, b + block));
		if (hit != recorded.end()) {
			found++;
			from = hit + block;
		}
	}
	EXPECT_GE(found * 2, blocks) << found << " of " << blocks << " blocks recorded, in "
					  << recorded.size() << " bytes";
}

TEST_F(Live, TheDeviceIsReusedWhileTheFormatStays)
{
	// b is Ogg FLAC: the container makes no difference to the device.
	std::string a = make("a.flac", 44100, 4410), b = make("b.oga", 44100, 4410, nullptr, 2, true),
		    c = make("c.flac", 48000, 4800);
	process sub;
	ASSERT_TRUE(pulse_subscribe_start(server, sub));
	// The buffer asked for is more than libao's pulse driver can hold at
	// either rate; it reaches the server all the same, without a line.
	run_result r = wendrop({"-q", "-d", "pulse", "-b", "200", a, b, c});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	process_wait_until(sub, [](const process &p) { return pulse_new_sink_inputs(p) >= 3; }, 1.0);
	EXPECT_EQ(pulse_new_sink_inputs(sub), 2) << sub.out_text;

	// Changing back and forth opens a device for every change.
	r = wendrop({"-q", "-d", "pulse", "-b", "200", a, c, b, b});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	process_wait_until(sub, [](const process &p) { return pulse_new_sink_inputs(p) >= 6; }, 1.0);
	EXPECT_EQ(pulse_new_sink_inputs(sub), 5) << sub.out_text;
	kill(sub.pid, SIGTERM);
	process_finish(sub, 5);
}

// The server goes away mid-stream: libao's write fails, the stream ends with
// one line, the next file finds no server (which is said once), and the run
// ends with status 1.
TEST_F(Live, ALostServerEndsTheStreamWithOneLine)
{
	std::string a = make("a.flac", 44100, 44100 * 10), b = make("b.flac", 44100, 4410);
	process sub, p;
	ASSERT_TRUE(pulse_subscribe_start(server, sub));
	ASSERT_TRUE(process_start(p, wendrop_args({"-q", "-d", "pulse", a, b}), {.env = env}));
	EXPECT_TRUE(process_wait_until(sub, [](const process &q) { return pulse_new_sink_inputs(q) >= 1; }, 10));
	usleep(200000);
	pulse_stop(server);
	process_finish(sub, 5);
	EXPECT_EQ(process_finish(p, 30), 1);
	ao_initialize();
	std::string id = std::to_string(ao_driver_id("pulse"));
	ao_shutdown();
	EXPECT_EQ(p.err_text, "Error writing to ao device " + id + "\nError opening ao device " + id + "\nError opening " + b +
				      " (no sound device)\nNo sound from libao's \"pulse\" driver: is a sound server running? "
				      "Choose another with -d, or write a file with --wav.\n");
}

// libpulse shows about three quarters of a short latency request as the
// stream's buffer, and half of a long one plus 20 ms.
TEST_F(Live, TheServerGetsTheLatencyAskedFor)
{
	struct {
		unsigned rate;
		std::vector<std::string> args;
		std::string users;  // the user's own PULSE_LATENCY_MSEC
		double low_ms, high_ms;  // the buffer latency pactl shows
	} cases[] = {
		// Without -b: near 100 ms, and at 44.1 kHz short enough that a
		// 4096-sample frame (92.9 ms) and the buffer are heard within 150.
		{44100, {}, "", 50, 150 - 92.9},
		{192000, {}, "", 50, 150},
		// Within a factor of 2 of -b.
		{44100, {"-b", "20"}, "", 10, 40},
		{44100, {"-b", "200"}, "", 100, 400},
		{44100, {"-b", "2000"}, "", 1000, 4000},
		{192000, {"-b", "20"}, "", 10, 40},
		{192000, {"-b", "200"}, "", 100, 400},
		{192000, {"-b", "2000"}, "", 1000, 4000},
		// The user's own request beats the default, and -b beats it.
		{44100, {}, "300", 150, 600},
		{192000, {"-b", "20"}, "300", 10, 40},
	};
	for (const auto &c : cases) {
		std::string name = std::to_string(c.rate) + (c.args.empty() ? "" : "-b" + c.args[1]) +
				   (c.users.empty() ? "" : "-env" + c.users);
		// Half a second; longer than a 2 s buffer, or pactl shows only the
		// part of it the file fills.
		std::string file = make(name + ".flac", c.rate, c.low_ms < 1000 ? c.rate / 2 : c.rate * 3);
		std::vector<std::string> args = {"-q", "-d", "pulse"}, e = env;
		args.insert(args.end(), c.args.begin(), c.args.end());
		args.push_back(file);
		std::erase_if(e, [](const std::string &v) { return v.starts_with("PULSE_LATENCY_MSEC="); });
		e.push_back("PULSE_LATENCY_MSEC=" + c.users);
		process p;
		ASSERT_TRUE(process_start(p, wendrop_args(args), {.env = e}));
		// The buffer fills over the first moments: the largest of a few
		// readings.
		double ms = 0;
		for (int i = 0; i < 5; i++, usleep(100000))
			ms = std::max(ms, std::atof(pulse_sink_input(server, i ? 0.2 : 10)["Buffer Latency"].c_str()) / 1000);
		EXPECT_EQ(process_finish(p, 20), 0) << name;
		EXPECT_EQ(p.err_text, "") << name;
		EXPECT_GE(ms, c.low_ms) << name;
		EXPECT_LE(ms, c.high_ms) << name;
	}
}

TEST_F(Live, MultichannelStreamsReachTheirSpeakers)
{
	struct {
		unsigned channels;
		std::string map;
	} layouts[] = {
		{6, "front-left,front-right,front-center,lfe,rear-left,rear-right"},
		{8, "front-left,front-right,front-center,lfe,rear-left,rear-right,side-left,side-right"},
	};
	for (const auto &l : layouts) {
		std::string file = make(std::to_string(l.channels) + ".flac", 48000, 24000, nullptr, l.channels);
		process p;
		ASSERT_TRUE(process_start(p, wendrop_args({"-q", "-d", "pulse", file}), {.env = env}));
		EXPECT_EQ(pulse_sink_input(server, 10)["Channel Map"], l.map);
		EXPECT_EQ(process_finish(p, 20), 0) << l.channels;
		EXPECT_EQ(p.err_text, "") << l.channels;
	}
}

// A stream whose format changes between frames (two encodes joined, no
// metadata between) reopens the device in the new format at the change.
TEST_F(Live, TheDeviceFollowsAFormatChangeMidStream)
{
	flac_fixture a, b;
	a.samples = make_signal(signal_kind::music, 16, 2, 44100 / 5, 44100);
	b.bits = 24;
	b.channels = 1;
	b.rate = 48000;
	b.samples = make_signal(signal_kind::music, 24, 1, 48000, 48000);
	std::vector<unsigned char> joined = encode_flac(a), second = encode_flac(b);
	joined.insert(joined.end(), second.begin() + static_cast<std::ptrdiff_t>(first_frame_offset(second)), second.end());
	std::string path = dir.file("joined.flac");
	ASSERT_TRUE(write_file(path, joined));
	process sub, p;
	ASSERT_TRUE(pulse_subscribe_start(server, sub));
	ASSERT_TRUE(process_start(p, wendrop_args({"-q", "-d", "pulse", path}), {.env = env}));
	// The first device is gone when the second opens.
	EXPECT_TRUE(process_wait_until(sub, [](const process &q) { return pulse_new_sink_inputs(q) >= 2; }, 10));
	// The stream's sample format, as pactl lists it among its properties.
	auto input = pulse_sink_input(server, 10);
	EXPECT_TRUE(std::any_of(input.begin(), input.end(), [](const auto &p) { return p.second == "s24le 1ch 48000Hz"; }))
		<< input.size() << " properties";
	EXPECT_EQ(process_finish(p, 20), 0);
	EXPECT_EQ(p.err_text, "");
	process_wait_until(sub, [](const process &q) { return pulse_new_sink_inputs(q) >= 3; }, 1.0);
	EXPECT_EQ(pulse_new_sink_inputs(sub), 2) << sub.out_text;
	kill(sub.pid, SIGTERM);
	process_finish(sub, 5);
}
