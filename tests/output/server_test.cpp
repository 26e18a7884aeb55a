// Live output into real sound servers: every sample reaches the sink, and
// what the server does to the stream is told. PipeWire (with its pulse
// server and session manager) as Debian's desktops run it, and PulseAudio,
// each recorded from its null sink's monitor and compared with flac -d.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <unistd.h>

#include "fixture.h"
#include "live.h"
#include "pipewire.h"
#include "process.h"
#include "wav.h"

namespace {
// A played file and what flac -d makes of it.
struct played {
	std::string path;
	std::vector<unsigned char> reference;  // little-endian, at the file's width
	unsigned bits;
};

// The reference's samples as the 32-bit words a recording holds.
std::vector<unsigned char> as_words(const played &p)
{
	const unsigned bytes = p.bits / 8;
	std::vector<unsigned char> words;
	for (std::size_t at = 0; at + bytes <= p.reference.size(); at += bytes) {
		words.insert(words.end(), 4 - bytes, 0);
		words.insert(words.end(), p.reference.begin() + static_cast<std::ptrdiff_t>(at),
			     p.reference.begin() + static_cast<std::ptrdiff_t>(at + bytes));
	}
	return words;
}

// Whether recorded holds the last bytes of expected, bit for bit: the end
// of a stream, which a server that is not drained keeps back.
bool holds_end(const std::vector<unsigned char> &recorded, const std::vector<unsigned char> &expected, std::size_t bytes)
{
	if (expected.size() < bytes)
		return false;
	const auto end = expected.end() - static_cast<std::ptrdiff_t>(bytes);
	return std::search(recorded.begin(), recorded.end(), std::boyer_moore_searcher(end, expected.end())) !=
	       recorded.end();
}

// The end checked: 4096 sample frames (93 ms at 44.1 kHz), well more than
// the period a server plays a stream in.
constexpr std::size_t end_frames = 4096;

// What a test needs of a server: its clients' environment and folder.
struct ServerCase {
	temp_dir dir;
	std::vector<std::string> env;

	played make(const std::string &name, unsigned rate, unsigned bits, double seconds, uint32_t seed = 1)
	{
		flac_fixture f;
		f.rate = rate;
		f.bits = bits;
		f.samples = make_signal(signal_kind::noise, bits, 2, static_cast<uint64_t>(seconds * rate), rate, seed);
		played p{dir.file(name), {}, bits};
		EXPECT_TRUE(write_flac(p.path, f));
		p.reference = flac_reference(p.path, bits, dir.file("reference.raw"));
		return p;
	}
	// Plays args while the sink's monitor is recorded (at rate, in format);
	// gives the recording.
	std::vector<unsigned char> record(const pulse_server &s, const std::function<void()> &play, unsigned rate,
					  const std::string &format)
	{
		process rec;
		EXPECT_TRUE(pulse_record_start(s, rec, rate, 2, format));
		play();
		// What the server still holds reaches the monitor.
		usleep(300000);
		return pulse_record_stop(s, rec);
	}
	run_result wendrop(std::vector<std::string> args, const std::string &input = "")
	{
		return run(wendrop_args(std::move(args)), input, 60, {.env = env});
	}
};

const std::string resampled = "Resampled by the sound server: 44100 Hz stream, sink at 48000 Hz\n";

// One PipeWire for the whole program: starting it takes a second or two.
struct PipeWire : testing::Test, ServerCase {
	static inline temp_dir *server_dir;
	static inline pipewire_server *server;
	static inline std::string failure;  // the servers' logs, when they did not start

	static void SetUpTestSuite()
	{
		server_dir = new temp_dir;
		server = new pipewire_server;
		if (!pipewire_start(*server, server_dir->path, 2))
			failure = pipewire_logs(*server);
	}
	static void TearDownTestSuite()
	{
		pipewire_stop(*server);
		delete server;
		delete server_dir;
	}
	void SetUp() override
	{
		ASSERT_EQ(failure, "") << "cannot start PipeWire";
		env = player_env(dir, "pulse");
		env.insert(env.end(), server->clients.env.begin(), server->clients.env.end());
		env.push_back("PULSE_LATENCY_MSEC=");
	}
	std::vector<unsigned char> record(const std::function<void()> &play)
	{
		return ServerCase::record(server->clients, play, 44100, "s32le");
	}
};
}

// libao's pulse driver closes a stream of a buffer of a second or less
// without draining it, and pipewire-pulse plays a stream only in whole
// periods: the last 204 to 512 frames were lost at every end of a run, and
// before every reopening in another format.
TEST_F(PipeWire, TheLastSamplesOfARunReachTheSink)
{
	ASSERT_TRUE(pipewire_rates(*server, 44100, "[ 44100 ]"));
	played a = make("a.flac", 44100, 16, 1.0), b = make("b.flac", 44100, 16, 0.5, 2),
	       c = make("c.flac", 44100, 16, 0.5, 3), wide = make("wide.flac", 44100, 24, 0.5, 4);
	struct {
		std::vector<std::string> args;
		std::vector<const played *> ends;  // whose ends the recording holds
	} cases[] = {
		{{a.path}, {&a}},
		{{"-b", "500", a.path}, {&a}},
		{{b.path, c.path, a.path}, {&a}},
		// The 16-bit device closes before the 24-bit one opens.
		{{a.path, wide.path}, {&a, &wide}},
	};
	for (const auto &k : cases) {
		std::vector<std::string> args = {"-q", "-d", "pulse"};
		args.insert(args.end(), k.args.begin(), k.args.end());
		run_result r;
		std::vector<unsigned char> recorded = record([&] { r = wendrop(args); });
		EXPECT_EQ(r.status, 0) << args.back();
		EXPECT_EQ(r.err, "") << args.back();
		for (const played *p : k.ends)
			EXPECT_TRUE(holds_end(recorded, as_words(*p), end_frames * 8))
				<< p->path << " in the run of " << k.args.size() << " arguments ending with "
				<< k.args.back() << ", in " << recorded.size() << " bytes";
	}
}

// In remote mode the device stays open after "@P 0": the end of the stream
// reaches the sink all the same, whether a command follows or not.
TEST_F(PipeWire, ARemoteStreamsEndReachesTheSinkWithoutAnotherCommand)
{
	ASSERT_TRUE(pipewire_rates(*server, 44100, "[ 44100 ]"));
	played a = make("a.flac", 44100, 16, 1.0);
	for (bool quit_at_once : {false, true}) {
		process p;
		std::vector<unsigned char> recorded = record([&] {
			ASSERT_TRUE(process_start(p, wendrop_args({"-R", "-d", "pulse"}), {.env = env}));
			process_send(p, "LOAD " + a.path + "\n");
			ASSERT_TRUE(process_wait_stdout(p, "@P 0\n", 20));
			if (quit_at_once)
				process_send(p, "QUIT\n");
			else
				process_wait_until(p, [](const process &) { return false; }, 0.5);
		});
		EXPECT_TRUE(holds_end(recorded, as_words(a), end_frames * 8)) << quit_at_once;
		process_send(p, "QUIT\n");
		EXPECT_EQ(process_finish(p, 10), 0);
		EXPECT_EQ(p.err_text, "@I " + dir.file("a") + "\n");
	}
}

// Debian's PipeWire runs its graph at 48 kHz alone, so a 44.1 kHz stream
// is resampled; once the graph may run at the stream's rate, it is not.
TEST_F(PipeWire, ResamplingIsToldOncePerDeviceOpening)
{
	ASSERT_TRUE(pipewire_rates(*server, 0, "[ 48000 ]"));
	played at44 = make("44.flac", 44100, 16, 0.2), at48 = make("48.flac", 48000, 16, 0.2);
	struct {
		std::vector<std::string> args;
		std::string input, err;
	} cases[] = {
		{{at48.path}, "", ""},
		{{at44.path, at44.path, at48.path, at44.path}, "", resampled + resampled},
		{{"-q", at44.path}, "", ""},
		{{"-R"}, "LOAD " + at44.path + "\nQUIT\n", "@I " + dir.file("44") + "\n"},
	};
	for (const auto &k : cases) {
		std::vector<std::string> args = {"-d", "pulse"};
		args.insert(args.end(), k.args.begin(), k.args.end());
		run_result r = wendrop(args, k.input);
		EXPECT_EQ(r.status, 0) << args.back();
		EXPECT_EQ(r.err, k.err) << args.back();
	}
	// The status line keeps the stream's own rate; the announcement too.
	run_result r = wendrop({"-d", "pulse", at44.path});
	EXPECT_NE(r.out.find("16 bit, 44100 Hz, 2 channels"), std::string::npos) << r.out;
	EXPECT_EQ(r.err, resampled);

	ASSERT_TRUE(pipewire_rates(*server, 0, "[ 44100 48000 ]"));
	r = wendrop({"-d", "pulse", at44.path, at48.path});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
}

namespace {
struct PulseAudio : LiveTest, ServerCase {
	void SetUp() override
	{
		LiveTest::SetUp();
		ServerCase::env = LiveTest::env;
	}
};
}

TEST_F(PulseAudio, TheLastSamplesOfARunReachTheSink)
{
	played a = make("a.flac", 44100, 16, 1.0), b = make("b.flac", 44100, 16, 0.5, 2);
	for (const auto &files : std::vector<std::vector<std::string>>{{a.path}, {b.path, a.path}}) {
		std::vector<std::string> args = {"-q", "-d", "pulse"};
		args.insert(args.end(), files.begin(), files.end());
		run_result r;
		std::vector<unsigned char> recorded = record(server, [&] { r = wendrop(args); }, 44100, "s16le");
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "");
		EXPECT_TRUE(holds_end(recorded, a.reference, end_frames * 4)) << files.size() << " files";
	}
}

// -o sink= picks a sink, and the one the stream plays to is asked.
TEST_F(PulseAudio, ResamplingToASinkChosenWithADeviceOptionIsTold)
{
	ASSERT_TRUE(pactl(server, {"load-module", "module-null-sink", "sink_name=at48", "rate=48000"}));
	played at44 = make("44.flac", 44100, 16, 0.2);
	run_result r = wendrop({"-d", "pulse", at44.path});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	r = wendrop({"-d", "pulse", "-o", "sink=at48", at44.path});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, resampled);
}
