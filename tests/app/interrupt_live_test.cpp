// Ctrl-C while files play in real time into a private sound server. The
// files last 4 s and every bound leaves a second or more of slack, so a
// loaded machine does not make the cases flaky.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <ctime>

#include "fixture.h"
#include "live.h"
#include "process.h"

namespace {
struct Interrupt : LiveTest {
	std::vector<std::string> files;
	process p;

	void SetUp() override
	{
		LiveTest::SetUp();
		flac_fixture f;
		f.samples = make_signal(signal_kind::music, 16, 2, 4 * 44100, 44100);
		for (const char *name : {"a.flac", "b.flac", "c.flac"}) {
			files.push_back(dir.file(name));
			ASSERT_TRUE(write_flac(files.back(), f));
		}
	}
	void TearDown() override
	{
		if (p.pid > 0 && p.status < 0)
			process_finish(p, 1);
		LiveTest::TearDown();
	}
	void start()
	{
		std::vector<std::string> args = {"-d", "pulse", "-b", "40"};
		args.insert(args.end(), files.begin(), files.end());
		ASSERT_TRUE(process_start(p, wendrop_args(args), {.env = env}));
	}
	// Waits for the announcement of a file and gives the time it came.
	double playing(const char *name, double seconds = 20)
	{
		EXPECT_TRUE(process_wait_stdout(p, std::string("Playing FLAC stream from ") + name + "\n", seconds))
			<< name << " did not start";
		return now_seconds();
	}
};

// Sleeps until just after the next whole wall-clock second.
void sleep_into_next_second()
{
	timespec ts;
	clock_gettime(CLOCK_REALTIME, &ts);
	usleep(static_cast<useconds_t>((1e9 - static_cast<double>(ts.tv_nsec)) / 1000) + 20000);
}
}

TEST_F(Interrupt, OneSkipsToTheNextFile)
{
	start();
	playing("a.flac");
	usleep(500000);
	double sent = now_seconds();
	kill(p.pid, SIGINT);
	double b_started = playing("b.flac");
	EXPECT_LT(b_started - sent, 2.0) << "a went on playing after the interrupt";
	playing("c.flac");
	EXPECT_EQ(process_finish(p, 30), 0);
	EXPECT_GT(now_seconds() - b_started, 6.0) << "b and c did not play whole";
}

TEST_F(Interrupt, TwoInOneSecondEndTheRun)
{
	start();
	playing("a.flac");
	sleep_into_next_second();
	double sent = now_seconds();
	kill(p.pid, SIGINT);
	usleep(30000);
	kill(p.pid, SIGINT);
	EXPECT_EQ(process_finish(p, 20), 0);
	EXPECT_LT(now_seconds() - sent, 3.0);
	EXPECT_EQ(p.out_text.find("b.flac"), std::string::npos);
	EXPECT_EQ(p.err_text, "");
}

TEST_F(Interrupt, TwoOneAndAHalfSecondsApartSkipOneFileEach)
{
	start();
	playing("a.flac");
	usleep(300000);
	double first = now_seconds();
	kill(p.pid, SIGINT);
	double b_started = playing("b.flac");
	double wait = first + 1.5 - now_seconds();
	if (wait > 0)
		usleep(static_cast<useconds_t>(wait * 1e6));
	kill(p.pid, SIGINT);
	double c_started = playing("c.flac");
	EXPECT_LT(c_started - b_started, 3.0) << "b was not skipped";
	EXPECT_EQ(process_finish(p, 30), 0);
	EXPECT_GT(now_seconds() - c_started, 3.0) << "c did not play whole";
}

TEST_F(Interrupt, RemoteModeKeepsTheDefaultDisposition)
{
	ASSERT_TRUE(process_start(p, wendrop_args({"--remote", "-d", "pulse", "-b", "40"}), {.env = env}));
	ASSERT_TRUE(process_wait_stdout(p, "@R WENDROP\n", 10));
	process_send(p, "LOAD " + files[0] + "\n");
	ASSERT_TRUE(process_wait_stdout(p, "@F ", 20));
	kill(p.pid, SIGINT);
	EXPECT_EQ(process_finish(p, 10), 128 + SIGINT);
	EXPECT_FALSE(p.timed_out);
}

// A background job of a shell without job control starts with SIGINT
// ignored: it stays so, and the file plays on.
TEST_F(Interrupt, OneIgnoredAtStartStaysIgnored)
{
	std::vector<std::string> args = {"/bin/sh", "-c", "trap '' INT; exec \"$0\" -d pulse \"$1\"", wendrop_args({})[0],
					 files[0]};
	ASSERT_TRUE(process_start(p, args, {.env = env}));
	const double started = playing("a.flac");
	kill(p.pid, SIGINT);
	EXPECT_EQ(process_finish(p, 20), 0);
	EXPECT_GT(now_seconds() - started, 3.0) << "a did not play whole";
}

// The sound server's client ignores SIGPIPE for itself; the reader of the
// announcements going away still ends the run as it would without it.
TEST_F(Interrupt, AReaderGoneFromStandardOutputEndsTheRun)
{
	start();
	playing("a.flac");
	close(p.out);
	p.out = -1;
	EXPECT_EQ(process_finish(p, 20), 128 + SIGPIPE);
	EXPECT_EQ(p.err_text, "");
}
