// Keys and the status line at a real pseudo-terminal, playing into a
// private sound server in real time.
#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "fixture.h"
#include "live.h"
#include "process.h"
#include "pseudo_tty.h"

namespace {
// The settings of a terminal that nobody has touched.
termios fresh_settings()
{
	int master, slave;
	termios t = {};
	if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
		tcgetattr(master, &t);
		close(master);
		close(slave);
	}
	return t;
}

bool same_settings(const termios &a, const termios &b)
{
	return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
	       memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// The position of the last status line the screen shows, in seconds; -1
// when there is none.
int last_position(const std::string &screen)
{
	std::size_t at = screen.rfind("\r[");
	unsigned index, count, minutes, seconds;
	if (at == std::string::npos ||
	    sscanf(screen.c_str() + at, "\r[%u/%u] %u:%u", &index, &count, &minutes, &seconds) != 4)
		return -1;
	return static_cast<int>(minutes * 60 + seconds);
}

struct AtTheTerminal : LiveTest {
	std::vector<std::string> files;
	pty_process p;

	void SetUp() override
	{
		LiveTest::SetUp();
		for (const char *name : {"a.flac", "b.flac"}) {
			flac_fixture f;
			f.samples = make_signal(signal_kind::music, 16, 2, 44100 * 60, 44100, static_cast<uint32_t>(files.size()));
			files.push_back(dir.file(name));
			ASSERT_TRUE(write_flac(files.back(), f));
		}
	}
	void start(bool background = false)
	{
		std::vector<std::string> args = wendrop_args({"-d", "pulse"});
		args.insert(args.end(), files.begin(), files.end());
		ASSERT_TRUE(pty_start(p, args, env, background));
	}
	bool shows(const std::string &text, double seconds)
	{
		return pty_wait(p, [&](const std::string &s) { return s.find(text) != std::string::npos; }, seconds);
	}
	// Waits until the status line shows a position that passes test.
	bool position_becomes(const std::function<bool(int)> &test, double seconds)
	{
		return pty_wait(p, [&](const std::string &s) { return test(last_position(s)); }, seconds);
	}
	std::size_t count(const std::string &text) const
	{
		std::size_t n = 0;
		for (std::size_t at = 0; (at = p.screen.find(text, at)) != std::string::npos; at++)
			n++;
		return n;
	}
};
}

TEST_F(AtTheTerminal, KeysPauseSeekAndSkipAndQuitGivesTheTerminalBack)
{
	start();
	ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 10)) << p.screen;
	// The keys have the terminal now: no line mode, no echo.
	EXPECT_EQ(pty_settings(p).c_lflag & (ICANON | ECHO), 0u);

	// Paused, the position stands still; resumed, it moves on.
	pty_send(p, " ");
	ASSERT_TRUE(shows("paused", 2));
	const int paused_at = last_position(p.screen);
	pty_wait(p, [](const std::string &) { return false; }, 1.5);
	EXPECT_EQ(last_position(p.screen), paused_at);
	pty_send(p, "p");
	EXPECT_TRUE(position_becomes([&](int s) { return s > paused_at; }, 3));

	// Right arrow: 10 s on, at once.
	const int before = last_position(p.screen);
	pty_send(p, "\x1b[C");
	EXPECT_TRUE(position_becomes([&](int s) { return s >= before + 9 && s <= before + 12; }, 2)) << before;

	// The next file, and back to the one before (b is less than 3 s in).
	pty_send(p, "n");
	ASSERT_TRUE(shows("Playing FLAC stream from b.flac", 5));
	ASSERT_TRUE(shows("[2/2]", 5));
	pty_send(p, "<");
	EXPECT_TRUE(pty_wait(p, [&](const std::string &) { return count("Playing FLAC stream from a.flac") == 2; }, 5));

	// q ends the run at once, with status 0 and the terminal as it was.
	pty_send(p, "q");
	const double asked = now_seconds();
	EXPECT_EQ(pty_finish(p, 10), 0);
	EXPECT_LT(now_seconds() - asked, 1.0);
	EXPECT_TRUE(same_settings(pty_settings(p), fresh_settings()));
}

// Two Ctrl-C within a second, and SIGTERM: the run ends by them as it
// always did, and the terminal gets its settings back all the same.
TEST_F(AtTheTerminal, InterruptsAndSignalsGiveTheTerminalBack)
{
	for (int way : {0, 1}) {
		start();
		ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 10));
		ASSERT_EQ(pty_settings(p).c_lflag & ICANON, 0u);
		if (way == 0) {
			// Early in a second, so that both fall into it.
			timespec ts;
			clock_gettime(CLOCK_REALTIME, &ts);
			usleep(static_cast<useconds_t>((1e9 - static_cast<double>(ts.tv_nsec)) / 1000) + 20000);
			pty_send(p, "\x03");
			usleep(100000);
			pty_send(p, "\x03");
			EXPECT_EQ(pty_finish(p, 10), 0);
		} else {
			kill(p.pid, SIGTERM);
			EXPECT_EQ(pty_finish(p, 10), 128 + SIGTERM);
		}
		EXPECT_TRUE(same_settings(pty_settings(p), fresh_settings())) << way;
		// The last status line was erased: no half line is left.
		const std::size_t erased = p.screen.rfind("\r\x1b[K");
		ASSERT_NE(erased, std::string::npos) << way;
		EXPECT_GT(erased, p.screen.rfind("\r[")) << way;
	}
}

// In the background it never touches the terminal, and is never stopped
// for it; brought to the foreground, it takes the keys.
TEST_F(AtTheTerminal, InTheBackgroundItLeavesTheTerminalAlone)
{
	start(true);
	ASSERT_TRUE(shows("Playing FLAC stream from a.flac", 10));
	pty_wait(p, [](const std::string &) { return false; }, 1.5);
	EXPECT_TRUE(same_settings(pty_settings(p), fresh_settings()));
	EXPECT_EQ(p.screen.find("\r["), std::string::npos) << "a status line drawn from the background";
	ASSERT_TRUE(pty_foreground(p));
	EXPECT_TRUE(position_becomes([](int s) { return s >= 0; }, 5)) << "no status line in the foreground";
	pty_send(p, "q");
	EXPECT_EQ(pty_finish(p, 5), 0);
	EXPECT_TRUE(same_settings(pty_settings(p), fresh_settings()));
}
