// Remote mode at the pace of a real sound server.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>

#include "fixture.h"
#include "live.h"
#include "process.h"

namespace {
struct RemoteLive : LiveTest {
	std::string file;
	process p;

	void SetUp() override
	{
		LiveTest::SetUp();
		flac_fixture f;
		f.samples = make_signal(signal_kind::music, 16, 2, 3 * 44100, 44100);
		file = dir.file("a.flac");
		ASSERT_TRUE(write_flac(file, f));
		ASSERT_TRUE(process_start(p, wendrop_args({"--remote", "-d", "pulse", "-b", "40"}), {.env = env}));
		ASSERT_TRUE(process_wait_stdout(p, "@R WENDROP\n", 10));
	}
	std::size_t progress_lines() const
	{
		std::size_t n = 0;
		for (std::size_t at = 0; (at = p.out_text.find("@F ", at)) != std::string::npos; at++)
			n++;
		return n;
	}
	// Collects output for a while.
	void listen(double seconds)
	{
		process_wait_until(p, [](const process &) { return false; }, seconds);
	}
};
}

TEST_F(RemoteLive, PauseStopsTheFlowOfFramesUntilTheNextPause)
{
	process_send(p, "LOAD " + file + "\n");
	ASSERT_TRUE(process_wait_until(p, [&](const process &) { return progress_lines() >= 5; }, 20));
	process_send(p, "PAUSE\n");
	ASSERT_TRUE(process_wait_stdout(p, "@P 1\n", 5));
	std::size_t paused_at = progress_lines();
	listen(1.0);
	EXPECT_EQ(progress_lines(), paused_at) << "frames went on while paused";
	process_send(p, "PAUSE\n");
	ASSERT_TRUE(process_wait_stdout(p, "@P 2\n", 5));
	EXPECT_TRUE(process_wait_until(p, [&](const process &) { return progress_lines() >= paused_at + 5; }, 10));
	ASSERT_TRUE(process_wait_stdout(p, "@P 0\n", 20));
	EXPECT_EQ(process_finish(p, 10), 0);
}

TEST_F(RemoteLive, TheEndOfInputEndsASessionMidStream)
{
	process_send(p, "LOAD " + file + "\n");
	ASSERT_TRUE(process_wait_stdout(p, "@F ", 20));
	double closed = now_seconds();
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_LT(now_seconds() - closed, 2.0);
	EXPECT_EQ(p.out_text.find("@P 0"), std::string::npos);
}

namespace {
struct EmmsLive : LiveTest {
	// Runs the EMMS session in mode on the tracks and gives what it noted.
	std::string emms(const std::string &mode, const std::vector<std::string> &tracks)
	{
		const std::string log = dir.file("emms.log");
		std::vector<std::string> args = {EMACS_BIN, "--batch", "-Q", "-L", EMMS_LISP_DIR, "-l", EMMS_SESSION_EL,
						 log, mode};
		args.insert(args.end(), tracks.begin(), tracks.end());
		std::vector<std::string> emacs_env = env;
		emacs_env.push_back(std::string("WENDROP=") + wendrop_bin());
		run_result r = run(args, "", 60, {.env = emacs_env});
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_FALSE(r.timed_out);
		std::vector<unsigned char> noted = read_file(log);
		return std::string(noted.begin(), noted.end());
	}
};
}

// EMMS plays a playlist with its stock remote backend, the one made for
// mpg321, which starts the player with --skip-printing-frames=10 -R - and
// the --mpeg-frames the README adds, and takes "@P 0" as the end of a
// track. A file in the middle that is not FLAC ends at once, and the
// playlist goes on by itself.
TEST_F(EmmsLive, PlaysAPlaylistThroughTheStockRemoteBackend)
{
	std::vector<std::string> tracks;
	for (const char *name : {"a.flac", "b.flac"}) {
		flac_fixture f;
		f.samples = make_signal(signal_kind::music, 16, 2, 44100 / 2, 44100, static_cast<uint32_t>(tracks.size() + 1));
		tracks.push_back(dir.file(name));
		ASSERT_TRUE(write_flac(tracks.back(), f));
	}
	tracks.insert(tracks.begin() + 1, dir.file("notes.flac"));
	ASSERT_TRUE(write_file(tracks[1], std::vector<unsigned char>(1000, 'n')));
	process sub;
	ASSERT_TRUE(pulse_subscribe_start(server, sub));
	EXPECT_EQ(emms("play", tracks),
		  "started a.flac\nfinished a.flac\nstarted notes.flac\nfinished notes.flac\n"
		  "started b.flac\nfinished b.flac\nexit exit 0\n");
	// Both tracks went to the sound server, through one device.
	process_wait_until(sub, [](const process &p) { return pulse_new_sink_inputs(p) >= 2; }, 1.0);
	EXPECT_EQ(pulse_new_sink_inputs(sub), 1) << sub.out_text;
	kill(sub.pid, SIGTERM);
	process_finish(sub, 5);
}

// EMMS seeks by 10 s as "jump +350", MPEG frames: 9.14 s at 44.1 kHz.
TEST_F(EmmsLive, SeeksTenSecondsEachWay)
{
	flac_fixture f;
	f.samples = make_signal(signal_kind::music, 16, 2, 44100 * 30, 44100);
	std::string track = dir.file("long.flac");
	ASSERT_TRUE(write_flac(track, f));
	std::vector<std::string> lines = lines_of(emms("seek", {track}));
	ASSERT_EQ(lines.size(), 4u);
	EXPECT_EQ(lines[0], "started long.flac");
	EXPECT_EQ(lines[3], "exit exit 0");
	double forward = 0, back = 0;
	ASSERT_EQ(sscanf(lines[1].c_str(), "forward %lf", &forward), 1) << lines[1];
	ASSERT_EQ(sscanf(lines[2].c_str(), "back %lf", &back), 1) << lines[2];
	EXPECT_TRUE(forward >= 9 && forward <= 11) << forward;
	EXPECT_TRUE(back <= -9 && back >= -11) << back;
}
