// Interrupts that arrive while the player waits for a file that has nothing
// to read: a FIFO without a writer holds it until the test has sent them, so
// nothing depends on timing. The wait gives way as playback does: one
// interrupt skips the file, two within a second stop the playlist.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <functional>

#include "fixture.h"
#include "process.h"
#include "testenv.h"
#include "wav.h"

namespace {
// Whether SIGINT is in one of the signal masks of /proc/PID/status.
bool sigint_in(pid_t pid, const std::string &mask)
{
	std::ifstream status("/proc/" + std::to_string(pid) + "/status");
	std::string line;
	while (std::getline(status, line))
		if (line.rfind(mask + ":", 0) == 0)
			return std::stoull(line.substr(mask.size() + 1), nullptr, 16) & (1ull << (SIGINT - 1));
	return false;
}

// Waits until the process has a handler for SIGINT (true), or no SIGINT
// is pending any more (false).
bool wait_for_sigint_mask(pid_t pid, const std::string &mask, bool set)
{
	for (double end = now_seconds() + 10; now_seconds() < end; usleep(1000))
		if (sigint_in(pid, mask) == set)
			return true;
	return false;
}

// Whole seconds of the wall clock.
time_t wall_seconds()
{
	timespec ts;
	clock_gettime(CLOCK_REALTIME, &ts);
	return ts.tv_sec;
}

struct InterruptWhileOpening : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);
	std::string fifo = dir.file("fifo.flac");
	std::vector<int32_t> b_samples, c_samples;
	std::string b, c;

	void SetUp() override
	{
		ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
		b = make("b.flac", 5000, b_samples);
		c = make("c.flac", 3000, c_samples);
	}
	std::string make(const std::string &name, uint64_t frames, std::vector<int32_t> &samples)
	{
		flac_fixture f;
		f.blocksize = 1152;
		f.samples = samples = make_signal(signal_kind::noise, 16, 2, frames, 44100, static_cast<uint32_t>(frames));
		EXPECT_TRUE(write_flac(dir.file(name), f));
		return dir.file(name);
	}
	// Runs wendrop with args, sending the interrupts once the handler is in
	// place and ready() has returned; it ends with status. Two or more
	// begin at first_at seconds into a wall-clock second, gap seconds apart:
	// a gap of 0 keeps them in that second, a pair from .9 with a gap of .2
	// straddles the next.
	void play_interrupted(process &p, const std::vector<std::string> &args, int interrupts,
			      const std::function<void()> &ready = [] {}, int status = 0, double first_at = 0.02,
			      double gap = 0)
	{
		ASSERT_TRUE(process_start(p, wendrop_args(args), {.env = env}));
		ready();
		ASSERT_TRUE(wait_for_sigint_mask(p.pid, "SigCgt", true));
		if (interrupts > 1) {
			timespec ts;
			clock_gettime(CLOCK_REALTIME, &ts);
			usleep(static_cast<useconds_t>((1e9 - static_cast<double>(ts.tv_nsec)) / 1000 + first_at * 1e6));
		}
		time_t first = wall_seconds();
		for (int i = 0; i < interrupts; i++) {
			const double sent = now_seconds();
			kill(p.pid, SIGINT);
			// Signals of one kind do not queue: let each one land.
			ASSERT_TRUE(wait_for_sigint_mask(p.pid, "ShdPnd", false));
			ASSERT_TRUE(wait_for_sigint_mask(p.pid, "SigPnd", false));
			if (const double left = sent + gap - now_seconds(); i + 1 < interrupts && left > 0)
				usleep(static_cast<useconds_t>(left * 1e6));
		}
		const bool same_second = wall_seconds() == first;
		EXPECT_EQ(process_finish(p, 20), status);
		EXPECT_FALSE(p.timed_out);
		// Only a double interrupt depends on the second it falls into.
		ASSERT_TRUE(interrupts < 2 || same_second == (first_at + gap < 1))
			<< "the interrupts did not fall as meant into the seconds";
	}
};
}

TEST_F(InterruptWhileOpening, OneSkipsTheFileItWaitsForAndTheNextPlaysWhole)
{
	process p;
	// Skipped by the user: no line, but the conversion misses it.
	play_interrupted(p, {"-q", "--wav=-", fifo, b, c}, 1, [] {}, 1);
	EXPECT_EQ(p.err_text, "");
	std::vector<unsigned char> out(p.out_text.begin(), p.out_text.end());
	std::vector<unsigned char> b_data = pcm_bytes(b_samples, 16), c_data = pcm_bytes(c_samples, 16);
	wav_info first = parse_wav(out);
	ASSERT_TRUE(first.ok);
	ASSERT_GE(out.size(), first.data_offset + b_data.size());
	ASSERT_TRUE(std::equal(b_data.begin(), b_data.end(), out.begin() + static_cast<std::ptrdiff_t>(first.data_offset)));
	std::vector<unsigned char> rest(out.begin() + static_cast<std::ptrdiff_t>(first.data_offset + b_data.size()), out.end());
	wav_info second = parse_wav(rest);
	ASSERT_TRUE(second.ok) << "no second stream right after b";
	EXPECT_TRUE(second.data == c_data);
}

// Within one second by the clock that never steps: in the same wall-clock
// second, or 0.2 s apart on either side of its turn.
TEST_F(InterruptWhileOpening, TwoWithinOneSecondStopThePlaylist)
{
	for (const auto &[first_at, gap] : {std::pair{0.02, 0.0}, {0.9, 0.2}}) {
		process p;
		play_interrupted(p, {"-q", "--wav=-", fifo, fifo, b}, 2, [] {}, 1, first_at, gap);
		EXPECT_EQ(p.err_text, "") << first_at;
		EXPECT_EQ(p.out_text.size(), 0u) << first_at;
	}
}

TEST_F(InterruptWhileOpening, RepeatPlaysTheListAgainUntilTwoInTheSameSecond)
{
	const std::string fifo2 = dir.file("fifo2.flac");
	ASSERT_EQ(mkfifo(fifo2.c_str(), 0600), 0);
	const std::vector<unsigned char> bytes = read_file(c);
	process p;
	int idle = -1;
	play_interrupted(p, {"-r", b, fifo, fifo2}, 2, [&] {
		// The first round: each FIFO gets the whole of c from a writer.
		for (const std::string &f : {fifo, fifo2}) {
			int fd = fifo_writer(f);
			EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
			close(fd);
		}
		// The second: b again, then the first FIFO has a writer that sends nothing.
		idle = fifo_writer(fifo);
	});
	close(idle);
	EXPECT_EQ(p.err_text, "");
	EXPECT_EQ(played_names(p.out_text), (std::vector<std::string>{"b.flac", "fifo.flac", "fifo2.flac", "b.flac"}));
}
