// Keys and the status line at a real pseudo-terminal, playing two minute
// long files into a private sound server in real time.
#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "fixture.h"
#include "live.h"
#include "process.h"

namespace {
// Whether the terminal is as a new one: line mode and echo given back.
bool untouched(const termios &t)
{
	int master, slave;
	termios fresh = {};
	if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || tcgetattr(master, &fresh) != 0)
		return false;
	close(master);
	close(slave);
	return t.c_iflag == fresh.c_iflag && t.c_oflag == fresh.c_oflag && t.c_lflag == fresh.c_lflag &&
	       memcmp(t.c_cc, fresh.c_cc, sizeof t.c_cc) == 0;
}

// The position the last status line shows, in seconds; -1 for none.
int last_position(const std::string &screen)
{
	std::size_t at = screen.rfind("\r[");
	unsigned index, count, minutes, seconds;
	if (at == std::string::npos || sscanf(screen.c_str() + at, "\r[%u/%u] %u:%u", &index, &count, &minutes, &seconds) != 4)
		return -1;
	return static_cast<int>(minutes * 60 + seconds);
}

struct AtTheTerminal : LiveTest {
	std::vector<std::string> args;
	process p;

	void SetUp() override
	{
		LiveTest::SetUp();
		args = wendrop_args({"-d", "pulse"});
		for (const char *name : {"a.flac", "b.flac"}) {
			flac_fixture f;
			f.samples = make_signal(signal_kind::music, 16, 2, 44100 * 60, 44100, static_cast<uint32_t>(args.size()));
			args.push_back(dir.file(name));
			ASSERT_TRUE(write_flac(args.back(), f));
		}
	}
	void start(const std::vector<std::string> &argv)
	{
		ASSERT_TRUE(process_start(p, argv, {.env = env, .terminal = true}));
	}
	bool shows(const std::string &text, double seconds) { return process_wait_stdout(p, text, seconds); }
	bool position_becomes(const std::function<bool(int)> &test, double seconds)
	{
		return process_wait_until(p, [&](const process &q) { return test(last_position(q.out_text)); }, seconds);
	}
	void listen(double seconds)
	{
		process_wait_until(p, [](const process &) { return false; }, seconds);
	}
};
}

TEST_F(AtTheTerminal, KeysPauseSeekAndSkipAndQuitGivesTheTerminalBack)
{
	start(args);
	ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 10)) << p.out_text;
	// The keys have the terminal now: no line mode, no echo.
	EXPECT_EQ(terminal_settings(p).c_lflag & (ICANON | ECHO), 0u);

	// Paused, the position stands still; resumed, it moves on.
	process_send(p, " ");
	ASSERT_TRUE(shows("paused", 2));
	const int paused_at = last_position(p.out_text);
	listen(1.5);
	EXPECT_EQ(last_position(p.out_text), paused_at);
	process_send(p, "p");
	EXPECT_TRUE(position_becomes([&](int s) { return s > paused_at; }, 3));

	// Right arrow: 10 s on, at once.
	const int before = last_position(p.out_text);
	process_send(p, "\x1b[C");
	EXPECT_TRUE(position_becomes([&](int s) { return s >= before + 9 && s <= before + 12; }, 2)) << before;

	// The next file, then back to the one before (b is less than 3 s in).
	process_send(p, "n");
	ASSERT_TRUE(shows("Playing FLAC stream from b.flac", 5));
	ASSERT_TRUE(shows("[2/2]", 5));
	process_send(p, "<");
	EXPECT_TRUE(process_wait_until(
		p, [](const process &q) { return q.out_text.rfind("from a.flac") > q.out_text.rfind("from b.flac"); }, 5));

	// q ends the run at once, with status 0 and the terminal as it was.
	process_send(p, "q");
	const double asked = now_seconds();
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_LT(now_seconds() - asked, 1.0);
	EXPECT_TRUE(untouched(terminal_settings(p)));
}

// Two Ctrl-C within a second, and SIGTERM: the run ends as it always did,
// the terminal has its settings back, and no half status line is left.
TEST_F(AtTheTerminal, InterruptsAndSignalsGiveTheTerminalBack)
{
	for (int sig : {SIGINT, SIGTERM}) {
		start(args);
		ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 10));
		if (sig == SIGINT) {
			// Early in a second, so that both fall into it.
			timespec ts;
			clock_gettime(CLOCK_REALTIME, &ts);
			usleep(static_cast<useconds_t>((1e9 - static_cast<double>(ts.tv_nsec)) / 1000) + 20000);
			process_send(p, "\x03");
			usleep(100000);
			process_send(p, "\x03");
		} else {
			kill(p.pid, SIGTERM);
		}
		EXPECT_EQ(process_finish(p, 10), sig == SIGINT ? 0 : 128 + SIGTERM);
		EXPECT_TRUE(untouched(terminal_settings(p))) << sig;
		EXPECT_GT(p.out_text.rfind("\r\x1b[K") + 1, p.out_text.rfind("\r[") + 1) << sig;
	}
}

// Run in the background it never touches the terminal (and so is never
// stopped for it); brought to the foreground, it takes the keys.
TEST_F(AtTheTerminal, InTheBackgroundItLeavesTheTerminalAlone)
{
	// As a shell with job control runs "wendrop ... &", and "fg" 2 s later.
	std::vector<std::string> job = {BASH_BIN, "-mc", "\"$@\" & sleep 2; fg %1", "bash"};
	job.insert(job.end(), args.begin(), args.end());
	start(job);
	ASSERT_TRUE(shows("Playing FLAC stream from a.flac", 10));
	listen(1);
	EXPECT_TRUE(untouched(terminal_settings(p)));
	EXPECT_EQ(p.out_text.find("\r["), std::string::npos) << "a status line drawn from the background";
	ASSERT_TRUE(position_becomes([](int s) { return s >= 0; }, 5));
	process_send(p, "q");
	EXPECT_EQ(process_finish(p, 5), 0);
	EXPECT_TRUE(untouched(terminal_settings(p)));
}
