// Live playback into a real sound server: a private PulseAudio with a null
// sink, recorded from its monitor.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <unistd.h>

#include "fixture.h"
#include "live.h"
#include "process.h"
#include "wav.h"

namespace {
struct Live : LiveTest {
	std::string make(const std::string &name, unsigned rate, uint64_t frames, std::vector<int32_t> *samples = nullptr)
	{
		flac_fixture f;
		f.rate = rate;
		f.samples = make_signal(signal_kind::ramp, 16, 2, frames, rate);
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
	// A generous buffer keeps a loaded machine from underrunning the stream.
	run_result r = wendrop({"-q", "-d", "pulse", "--buffer-time", "500", a});
	usleep(300000);
	std::vector<unsigned char> recorded = pulse_record_stop(server, rec);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	// The server's monitor loses the first few milliseconds of a new stream
	// (it rewinds what it had already recorded), so the check asks for every
	// sample from the first tenth of the file on, in order and bit for bit.
	std::vector<unsigned char> expected = pcm_bytes(samples, 16);
	expected.erase(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(expected.size() / 40 * 4));
	auto found = std::search(recorded.begin(), recorded.end(),
				 std::boyer_moore_searcher(expected.begin(), expected.end()));
	EXPECT_NE(found, recorded.end()) << "recorded " << recorded.size() << " bytes without the file's "
					 << expected.size();
}

TEST_F(Live, TheDeviceIsReusedWhileTheFormatStays)
{
	std::string a = make("a.flac", 44100, 4410), b = make("b.flac", 44100, 4410),
		    c = make("c.flac", 48000, 4800);
	process sub;
	ASSERT_TRUE(pulse_subscribe_start(server, sub));
	// A short buffer keeps the drain at each close short.
	run_result r = wendrop({"-q", "-d", "pulse", "-b", "200", a, b, c});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	process_wait_until(sub, [](const process &p) { return pulse_new_sink_inputs(p) >= 3; }, 1.0);
	EXPECT_EQ(pulse_new_sink_inputs(sub), 2) << sub.out_text;

	// Changing back and forth opens a device for every change.
	r = wendrop({"-q", "-d", "pulse", "-b", "200", a, c, b, b});
	EXPECT_EQ(r.status, 0);
	process_wait_until(sub, [](const process &p) { return pulse_new_sink_inputs(p) >= 6; }, 1.0);
	EXPECT_EQ(pulse_new_sink_inputs(sub), 5) << sub.out_text;
	kill(sub.pid, SIGTERM);
	process_finish(sub, 5);
}
