// Raw output into a real Snapcast: Debian's snapserver reads it from its
// pipe source and a snapclient plays it into a file, in real time. What the
// client plays is compared with what the reference decoder makes.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fixture.h"
#include "process.h"
#include "session_bus.h"
#include "snapcast.h"
#include "testenv.h"
#include "wav.h"

namespace {
// The source's format, and the server's read size (chunk_ms) in its frames.
const std::string room_format = "44100:16:2";
constexpr std::size_t chunk_frames = 882;

struct Rooms : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);
	snapcast snap;

	void SetUp() override { ASSERT_TRUE(snapcast_start(snap, dir.path, room_format)) << "cannot start Snapcast"; }
	void TearDown() override { snapcast_stop(snap); }
	// What the client has played so far.
	std::vector<int16_t> heard()
	{
		const std::vector<unsigned char> bytes = read_file(snap.recording);
		std::vector<int16_t> samples(bytes.size() / 2);
		memcpy(samples.data(), bytes.data(), samples.size() * 2);
		return samples;
	}
};

// A 1 kHz tone at half scale, 24-bit 96 kHz stereo, begun at its peak.
flac_fixture tone(double seconds)
{
	flac_fixture f;
	f.bits = 24;
	f.rate = 96000;
	for (std::size_t i = 0; i < static_cast<std::size_t>(seconds * f.rate); i++)
		for (int c = 0; c < 2; c++)
			f.samples.push_back(static_cast<int32_t>(std::lround(0x3fffff * std::cos(2 * M_PI * 1000 * i / f.rate))));
	return f;
}
}

TEST_F(Rooms, AHiResStreamArrivesConvertedAndAMatchingOneBitExact)
{
	// The tone first, so that its end is followed: it arrives whole. The
	// stream that matches the source's format last: all but the server's
	// and the client's last partial chunks arrive.
	const std::string hires = dir.file("tone.flac"), cd = dir.file("cd.flac");
	ASSERT_TRUE(write_flac(hires, tone(2)));
	flac_fixture music;
	music.samples = make_signal(signal_kind::music, 16, 2, 44100 * 3, 44100, 42);
	ASSERT_TRUE(write_flac(cd, music));
	run_result r = run(wendrop_args({"-q", "--raw=" + snap.fifo, "--raw-format=" + room_format, hires, cd}), "",
			   30, {.env = env});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	// The client plays a second behind the server.
	usleep(1500000);
	snapcast_stop(snap);

	const std::vector<int16_t> room = heard();
	const std::vector<unsigned char> reference = flac_reference(cd, 16, dir.file("cd.raw"));
	std::vector<int16_t> expected(reference.size() / 2);
	memcpy(expected.data(), reference.data(), expected.size() * 2);
	auto at = std::search(room.begin(), room.end(), expected.begin(), expected.begin() + 4096);
	ASSERT_NE(at, room.end()) << "the CD stream never arrived";
	const auto [room_end, expected_end] = std::mismatch(at, room.end(), expected.begin(), expected.end());
	const std::size_t missing = static_cast<std::size_t>(expected.end() - expected_end) / 2;
	EXPECT_LE(missing, 70u * 44100 / 1000) << "frames of the CD stream not played bit-exact";

	// The tone: from its first sound to the CD stream, its length within a
	// chunk, its pitch by its zero crossings.
	const auto start = std::find_if(room.begin(), at, [](int16_t s) { return std::abs(s) > 1000; });
	const std::size_t frames = static_cast<std::size_t>(at - start) / 2;
	EXPECT_NEAR(static_cast<double>(frames), 2 * 44100.0, chunk_frames);
	int crossings = 0;
	for (auto s = start; s + 2 < at; s += 2)
		crossings += (s[0] < 0) != (s[2] < 0);
	EXPECT_NEAR(crossings / 2.0 / (static_cast<double>(frames) / 44100), 1000.0, 2.0);
	// Its level away from the edges, where a cut tone rings.
	EXPECT_NEAR(*std::max_element(start + frames / 2, start + frames), 0x3fff, 0x3fff / 100);
	EXPECT_TRUE(std::all_of(room.begin(), start, [](int16_t s) { return std::abs(s) < 1000; }));
}

TEST_F(Rooms, ThePlayerPausedFromTheDesktopSilencesTheRoomsAndQEndsIt)
{
	if (std::string missing = session_bus_missing(); !missing.empty())
		GTEST_SKIP() << missing;
	session_bus bus;
	ASSERT_TRUE(session_bus_start(bus));
	env.insert(env.end(), bus.env.begin(), bus.env.end());
	flac_fixture f;
	f.samples = make_signal(signal_kind::music, 16, 2, 44100 * 30, 44100, 7);
	ASSERT_TRUE(write_flac(dir.file("a.flac"), f));
	process p;
	ASSERT_TRUE(process_start(p, wendrop_args({"--raw=" + snap.fifo, dir.file("a.flac")}), {.env = env, .terminal = true}));

	// Playing, the rooms hear it; paused, the status line says so at once,
	// and once the pipe and the server's buffer have run out, silence.
	ASSERT_TRUE(process_wait_stdout(p, "[1/1]  0:02", 20)) << p.out_text;
	EXPECT_EQ(playerctl(bus, {"status"}).out, "Playing\n");
	// Raw PCM into a file, awaiting its input meanwhile, is a conversion:
	// nobody's player, it stays off the bus.
	const std::string input = dir.file("in.flac");
	ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
	process conversion;
	ASSERT_TRUE(process_start(conversion, wendrop_args({"-q", "--raw=" + dir.file("c.raw"), input}), {.env = env}));
	process_wait_until(conversion, [](const process &) { return false; }, 0.5);
	for (const std::string &name : session_bus_names(bus))
		EXPECT_EQ(name.find(std::to_string(conversion.pid)), std::string::npos) << name;
	kill(conversion.pid, SIGTERM);
	process_finish(conversion, 5);
	const double asked = now_seconds();
	EXPECT_EQ(playerctl(bus, {"pause"}).status, 0);
	EXPECT_TRUE(process_wait_stdout(p, "paused", 5)) << p.out_text;
	EXPECT_LT(now_seconds() - asked, 1.0);
	process_wait_until(p, [](const process &) { return false; }, 2.5);
	const std::size_t before = heard().size();
	process_wait_until(p, [](const process &) { return false; }, 1.0);
	const std::vector<int16_t> room = heard();
	ASSERT_GT(room.size(), before + 44100) << "the client stopped playing";
	EXPECT_TRUE(std::any_of(room.begin(), room.begin() + before, [](int16_t s) { return s != 0; }));
	EXPECT_TRUE(std::all_of(room.begin() + before, room.end(), [](int16_t s) { return s == 0; }));

	ASSERT_TRUE(process_send(p, "q"));
	const double quit = now_seconds();
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_LT(now_seconds() - quit, 1.0);
	EXPECT_EQ(p.out_text.find("Error"), std::string::npos) << p.out_text;
	session_bus_stop(bus);
}
