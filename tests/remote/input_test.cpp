// Command framing: text from descriptor 0 cut into lines, trimmed and split,
// observed through what the executed commands print.
#include "app/settings.h"
#include "playback/stream.h"
#include "remote/remote.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "fixture.h"
#include "testenv.h"

namespace {
struct Framing : testing::Test {
	temp_dir dir;
	int feed = -1;           // the write end of descriptor 0's pipe
	int saved[3] = {-1, -1, -1};
	std::string out_path = dir.file("out"), err_path = dir.file("err");

	void SetUp() override
	{
		int p[2];
		ASSERT_EQ(pipe(p), 0);
		fflush(nullptr);
		for (int fd = 0; fd < 3; fd++)
			saved[fd] = dup(fd);
		dup2(p[0], 0);
		close(p[0]);
		feed = p[1];
		int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		dup2(out, 1);
		dup2(err, 2);
		close(out);
		close(err);
		remote_input_reset();
	}
	void TearDown() override
	{
		fflush(nullptr);
		for (int fd = 0; fd < 3; fd++) {
			dup2(saved[fd], fd);
			close(saved[fd]);
		}
		if (feed >= 0)
			close(feed);
		remote_input_reset();
		volume = 1.0f;
	}
	void send(const std::string &text)
	{
		ASSERT_EQ(write(feed, text.data(), text.size()), static_cast<ssize_t>(text.size()));
	}
	void end_input()
	{
		close(feed);
		feed = -1;
	}
	static std::string contents(const std::string &path)
	{
		fflush(nullptr);
		auto b = read_file(path);
		return {b.begin(), b.end()};
	}
	std::string out() { return contents(out_path); }
	std::string err() { return contents(err_path); }
};
}

TEST(Trim, RemovesPosixWhiteSpaceOnlyAtTheEnds)
{
	char a[] = " \t\v\f\r\nx  y\r\n";
	trim_whitespace(a);
	EXPECT_STREQ(a, "x  y");
	char b[] = "\xa0x\xa0";  // bytes of 128 and above are not white space
	trim_whitespace(b);
	EXPECT_STREQ(b, "\xa0x\xa0");
	char c[] = " \t \n";
	trim_whitespace(c);
	EXPECT_STREQ(c, "");
	char d[] = "";
	trim_whitespace(d);
	EXPECT_STREQ(d, "");
	trim_whitespace(nullptr);
}

TEST_F(Framing, TwoLinesInOneReadRunOnTwoCalls)
{
	send("V 1\nv 0.25\n");
	EXPECT_EQ(remote_read_command(), 0);
	EXPECT_EQ(out(), "@V 1.000000\n");
	EXPECT_EQ(remote_poll(), 0);
	EXPECT_EQ(out(), "@V 1.000000\n@V 0.250000\n");
	// Nothing more is ready: nothing runs, nothing waits.
	EXPECT_EQ(remote_poll(), 0);
	EXPECT_EQ(remote_read_command(), 0);
	EXPECT_EQ(out(), "@V 1.000000\n@V 0.250000\n");
	EXPECT_EQ(err(), "");
}

TEST_F(Framing, LinesAreTrimmedAndSplitAtTheFirstBlank)
{
	send("FOO\r\n");
	remote_wait();
	send(" \t \n");
	EXPECT_EQ(remote_wait(), 0);
	send("  BAR  baz  \n");
	remote_wait();
	send("LOAD\t/x.flac\n");
	remote_wait();
	send("LOAD   /no/such dir/x.flac  \n");
	remote_wait();
	send("L\n");
	remote_wait();
	// Echoes are printable: the tab shows as "?".
	EXPECT_EQ(err(), "@E Unknown command 'FOO'\n"
			 "@E Unknown command 'BAR'\n"
			 "@E Unknown command 'LOAD?/x.flac'\n"
			 "@E Error opening /no/such dir/x.flac\n"
			 "@E Missing argument to 'L'\n");
	// A LOAD that leaves nothing playing ends with the end of a track.
	EXPECT_EQ(out(), "@P 0\n@P 0\n");
}

TEST_F(Framing, PartialTextRunsAsItStands)
{
	send("LO");
	remote_wait();
	send("AD x\n");
	remote_wait();
	EXPECT_EQ(err(), "@E Unknown command 'LO'\n@E Unknown command 'AD'\n");
}

TEST_F(Framing, AZeroByteEndsALineAndWhatFollowsTheNextOneIsDropped)
{
	send(std::string("V 1\0V 2\n", 8));
	remote_wait();
	remote_poll();
	EXPECT_EQ(out(), "@V 1.000000\n@V 2.000000\n");
	send(std::string("V 3\nV 4\0V 5\n", 12));
	remote_wait();
	remote_poll();
	EXPECT_EQ(remote_poll(), 0);
	EXPECT_EQ(out(), "@V 1.000000\n@V 2.000000\n@V 3.000000\n@V 4.000000\n");
}

TEST_F(Framing, ALineTooLongForTheBufferIsDroppedToItsEndAndNeverRun)
{
	// A LOAD of the longest legal path fits, and so does one byte more.
	send(std::string(4103, 'A') + "\n");
	EXPECT_EQ(remote_wait(), 0);
	// Run in pieces, the tail of the LOAD would end remote mode. A zero
	// byte ends a line too long as well as a line feed does.
	send(std::string(4104, 'B') + "\n" + "LOAD " + std::string(5000, 'x') + "QUIT\nV 1\n" +
	     std::string(9000, 'C') + std::string("\0V 2\n", 5));
	for (int i = 0; i < 12; i++)
		EXPECT_EQ(remote_poll(), 0);
	const std::string too_long = "@E Command line too long\n";
	EXPECT_EQ(err(), "@E Unknown command '" + std::string(4103, 'A') + "'\n" + too_long + too_long + too_long);
	EXPECT_EQ(out(), "@V 1.000000\n@V 2.000000\n");
}

TEST_F(Framing, PendingTextRunsAfterTheEndOfInputThenRemoteModeEnds)
{
	send("V 1\nV 2");
	end_input();
	EXPECT_EQ(remote_wait(), 0);
	EXPECT_EQ(remote_poll(), 0);
	EXPECT_EQ(out(), "@V 1.000000\n@V 2.000000\n");
	EXPECT_EQ(remote_poll(), -1);
}

TEST_F(Framing, QuitWithoutALineFeedEndsRemoteMode)
{
	send("QUIT");
	EXPECT_EQ(remote_wait(), -1);
	EXPECT_EQ(out() + err(), "");
}

TEST_F(Framing, ADescriptorThatCannotBeAskedCountsAsTheEndOfInput)
{
	send("V 1\nV 2\n");
	EXPECT_EQ(remote_wait(), 0);
	close(0);
	// What was pending still runs; then every call ends remote mode at once.
	EXPECT_EQ(remote_poll(), 0);
	EXPECT_EQ(out(), "@V 1.000000\n@V 2.000000\n");
	EXPECT_EQ(remote_poll(), -1);
	EXPECT_EQ(remote_wait(), -1);
	EXPECT_EQ(remote_read_command(), -1);
}
