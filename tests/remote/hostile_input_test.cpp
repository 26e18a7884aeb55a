// Hostile command input in remote mode: random bytes, over-long lines, zero
// bytes, commands cut at every byte, hostile files loaded while playing, a
// flood of JUMPs, and a standard input that cannot be read or whose writer
// vanishes mid-line. The player never crashes, hangs or spins: it ends at
// the end of its input with status 0, using CPU time in proportion to the
// input, and every event line it printed reaches the reader.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "fixture.h"
#include "process.h"
#include "testenv.h"
#include "wav.h"

namespace {
const std::string greeting = "@R WENDROP\n";

std::vector<std::string> without_progress(const std::string &out)
{
	std::vector<std::string> lines = lines_of(out);
	std::erase_if(lines, [](const std::string &l) { return l.starts_with("@F "); });
	return lines;
}

std::string last_progress(const std::string &out)
{
	std::vector<std::string> lines = lines_of(out);
	auto it = std::find_if(lines.rbegin(), lines.rend(), [](const std::string &l) { return l.starts_with("@F "); });
	return it == lines.rend() ? "" : *it;
}

struct HostileInput : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);

	// 8 kHz mono in frames of 1000 samples.
	std::string make(const std::string &name, uint64_t frames)
	{
		flac_fixture f;
		f.channels = 1;
		f.rate = 8000;
		f.blocksize = 1000;
		f.samples = make_signal(signal_kind::music, 16, 1, frames, 8000);
		std::string path = dir.file(name);
		EXPECT_TRUE(write_flac(path, f));
		return path;
	}
	void start(process &p, const spawn_options &extra = {})
	{
		spawn_options opt = extra;
		opt.env = env;
		ASSERT_TRUE(process_start(p, wendrop_args({"--remote", "-d", "null"}), opt));
	}
	// Sends text and waits until the player has read all of it, so that
	// the next text arrives in a read of its own.
	void deliver(process &p, const std::string &text)
	{
		ASSERT_TRUE(process_send(p, text));
		for (double end = now_seconds() + 30;;) {
			int unread = -1;
			ASSERT_EQ(ioctl(p.in, FIONREAD, &unread), 0);
			if (unread == 0)
				return;
			ASSERT_LT(now_seconds(), end) << "the player stopped reading";
			// Keeps its output flowing meanwhile.
			process_wait_until(p, [](const process &) { return false; }, 0.001);
		}
	}
	// Status 0 within the time limit, and CPU time within the budget: a
	// player that spins uses all the time it is given.
	void ends_cleanly(const run_result &r, double budget)
	{
		EXPECT_EQ(r.status, 0);
		EXPECT_FALSE(r.timed_out);
		EXPECT_LT(r.cpu_seconds, budget) << "CPU seconds";
	}
	void ends_cleanly(process &p, double seconds, double budget)
	{
		process_finish(p, seconds);
		ends_cleanly({p.status, p.timed_out, "", "", p.cpu_seconds}, budget);
	}
};
}

TEST_F(HostileInput, AMegabyteOfRandomBytes)
{
	std::mt19937 rng(20240611);
	std::string input(1 << 20, '\0');
	for (char &c : input)
		c = static_cast<char>(rng());
	process p;
	start(p);
	// In pieces, reading the answers in between, so neither side blocks.
	for (std::size_t at = 0; at < input.size(); at += 4096)
		deliver(p, input.substr(at, 4096));
	// Sent once the noise is read: text that shares a read with a zero byte
	// after a line end is dropped, by design.
	deliver(p, "\nV 0.25\n");
	ends_cleanly(p, 120, 20);
	// Nothing loads; every line is an answer to a command, and the last one
	// is there.
	for (const std::string &l : lines_of(p.err_text))
		ASSERT_TRUE(l.starts_with("@E ")) << l;
	for (const std::string &l : lines_of(p.out_text))
		ASSERT_TRUE(l == "@R WENDROP" || l.starts_with("@V ")) << l;
	EXPECT_TRUE(p.out_text.ends_with("@V 0.250000\n"));
}

TEST_F(HostileInput, LinesOfTenThousandBytesAreDroppedWhole)
{
	std::string input = "LOAD " + std::string(9995, 'x') + "\n" + std::string(10000, 'z') + "\n";
	for (int i = 0; i < 2500; i++)
		input += " \t\r\f";
	input += "\nV 0.25\n";
	process p;
	start(p);
	// One write, so no line reaches the player cut short.
	ASSERT_TRUE(process_send(p, input));
	ASSERT_TRUE(process_wait_stdout(p, "@V 0.250000\n", 10));
	ends_cleanly(p, 10, 5);
	// None of them runs, not even in part; each is reported once.
	EXPECT_EQ(p.err_text, "@E Command line too long\n@E Command line too long\n@E Command line too long\n");
	EXPECT_EQ(p.out_text, greeting + "@V 0.250000\n");
}

TEST_F(HostileInput, LongPathsLoadAndALongLineEndingInQuitDoesNotQuit)
{
	// Ten folders of 200 bytes: a path of over 2,000 bytes.
	std::string rel;
	for (int i = 0; i < 10; i++) {
		rel += std::string(200, static_cast<char>('a' + i)) + "/";
		ASSERT_EQ(mkdir(dir.file(rel).c_str(), 0755), 0);
	}
	std::string a = make(rel + "a.flac", 1000);
	ASSERT_GT(a.size(), 2000u);
	process p;
	start(p);
	ASSERT_TRUE(process_send(p, "LOAD " + a + "\nLOAD " + std::string(5000, '/') + "QUIT\nV 0.25\n"));
	ASSERT_TRUE(process_wait_stdout(p, "@V 0.250000\n", 10));
	ends_cleanly(p, 10, 5);
	EXPECT_EQ(p.err_text, "@I " + dir.file(rel + "a") + "\n@E Command line too long\n");
	EXPECT_EQ(p.out_text, greeting + "@F 1000 0 0.12 0.00\n@P 0\n@V 0.250000\n");
}

TEST_F(HostileInput, ZeroBytesEndLinesAndNothingElse)
{
	process p;
	start(p);
	deliver(p, std::string(200000, '\0'));
	deliver(p, "V 0.25\n");
	ends_cleanly(p, 30, 5);
	EXPECT_EQ(p.out_text, greeting + "@V 0.250000\n");
	EXPECT_EQ(p.err_text, "");
}

// A command cut in two at any byte runs as two lines: the same as sending
// the two pieces as lines of their own.
TEST_F(HostileInput, CommandsCutAtEveryByte)
{
	const std::vector<std::string> lines = {"VOLUME 0.25\n", "LOAD " + dir.file("missing.flac") + "\n",
						" pause \n", "FOO bar\n"};
	process cut, whole;
	start(cut);
	start(whole);
	for (const std::string &line : lines)
		for (std::size_t k = 1; k < line.size(); k++) {
			deliver(cut, line.substr(0, k));
			deliver(cut, line.substr(k));
			deliver(whole, line.substr(0, k) + "\n");
			deliver(whole, line.substr(k));
		}
	ends_cleanly(cut, 30, 5);
	ASSERT_EQ(process_finish(whole, 30), 0);
	EXPECT_EQ(cut.out_text, whole.out_text);
	EXPECT_EQ(cut.err_text, whole.err_text);
	// The pieces did run: "VOLUME 0" sets a volume, "FOO" is unknown.
	EXPECT_NE(cut.out_text.find("@V 0.000000\n"), std::string::npos);
	EXPECT_NE(cut.err_text.find("@E Unknown command 'FOO'\n"), std::string::npos);
}

// Each LOAD replaces the stream after one frame; what each hostile file
// does at open is known, so the error lines are too.
TEST_F(HostileInput, HostileFilesLoadedWhilePlaying)
{
	std::string good = make("good.flac", 64000);
	flac_fixture f;
	f.channels = 1;
	f.rate = 8000;
	f.blocksize = 1000;
	f.samples = make_signal(signal_kind::noise, 16, 1, 4000, 8000);
	flac_layout layout;
	std::vector<unsigned char> bytes = encode_flac(f, &layout);
	auto file = [&](const std::string &name, std::vector<unsigned char> b) {
		EXPECT_TRUE(write_file(dir.file(name + ".flac"), b));
		return dir.file(name + ".flac");
	};
	std::vector<unsigned char> flipped = bytes;
	flipped[(layout.frames[0] + layout.frames[1]) / 2] ^= 0x10;
	flac_fixture no_streaminfo = f;
	no_streaminfo.drop_streaminfo = true;
	std::string cut = file("cut", {bytes.begin(), bytes.begin() + static_cast<long>(layout.block_ends[0])});
	std::string garbage = file("garbage", std::vector<unsigned char>(5000, 'x'));
	std::string empty = file("empty", {bytes.begin(), bytes.begin() + static_cast<long>(layout.frames[0])});
	std::string bad_frame = file("bad-frame", flipped);
	std::string no_info = file("no-info", encode_flac(no_streaminfo));
	std::string folder = dir.file("folder.flac");
	ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);

	// libFLAC reports the damaged first frame, and the sync it loses with
	// it, while the stream opens: the first frame is decoded then.
	reference_decode ref = flac_reference_through_errors(bad_frame, 16, dir.file("ref.raw"));
	ASSERT_GT(ref.errors, 0);
	std::string damage;
	for (int i = 0; i < ref.errors; i++)
		damage += "error handler called!\n";

	process p;
	start(p);
	std::string loads;
	for (const std::string &path : {good, cut, good, garbage, good, folder, good, empty, good, bad_frame, no_info, good})
		loads += "LOAD " + path + "\n";
	ASSERT_TRUE(process_send(p, loads));
	ASSERT_TRUE(process_wait_stdout(p, "@F 64000 0 8.00 0.00\n@P 0\n", 60));
	// Killed, not ended: whatever was printed must already be out.
	kill(p.pid, SIGKILL);
	EXPECT_EQ(process_finish(p, 10), 128 + SIGKILL);
	EXPECT_LT(p.cpu_seconds, 10);

	const std::string i_good = "@I " + dir.file("good") + "\n";
	// A stream of no frames ends at once, short of its total; one without
	// STREAMINFO plays what its frames hold. The damaged one, replaced
	// part way, is told by its error reports alone: its MD5 signature can
	// tell nothing of what it did not play.
	EXPECT_EQ(p.err_text, i_good + "@E Error opening " + cut + "\n" +
				      i_good + "@E Error opening " + garbage + "\n" +
				      i_good + "@E Error opening " + folder + "\n" +
				      i_good + "@I " + dir.file("empty") + "\n@E Stream ended early: " + empty +
				      " (0 of 4000 samples)\n" +
				      i_good + damage + "@I " + dir.file("bad-frame") + "\n" + "@E Damaged stream: " + bad_frame +
				      " (" + std::to_string(ref.errors) + " damaged frames)\n" + "@I " + dir.file("no-info") + "\n" +
				      i_good);
	// Each failed LOAD leaves nothing playing, and says so, as the end of
	// the empty stream does.
	EXPECT_EQ(without_progress(p.out_text),
		  (std::vector<std::string>{"@R WENDROP", "@P 0", "@P 0", "@P 0", "@P 0", "@P 0"}));
	EXPECT_EQ(last_progress(p.out_text), "@F 64000 0 8.00 0.00");
}

TEST_F(HostileInput, ThousandsOfJumpsWhilePlaying)
{
	std::string a = make("a.flac", 480000);  // one minute
	std::mt19937 rng(7);
	const char *forms[] = {"J %d", "J +%d", "J -%d", "JUMP %d", "j abc", "J 99999999999999999999",
			       "J -99999999999999999999", "J +0", "J -"};
	std::string input = "LOAD " + a + "\n";
	for (int i = 0; i < 5000; i++) {
		char cmd[64];
		snprintf(cmd, sizeof cmd, forms[rng() % std::size(forms)], static_cast<int>(rng() % 70));
		input += std::string(cmd) + "\n";
	}
	process p;
	start(p);
	ASSERT_TRUE(process_send(p, input));
	ASSERT_TRUE(process_wait_stdout(p, "@P 0\n", 90));
	ends_cleanly(p, 30, 30);
	EXPECT_EQ(p.err_text, "@I " + dir.file("a") + "\n");
	EXPECT_EQ(without_progress(p.out_text), (std::vector<std::string>{"@R WENDROP", "@P 0"}));
	// However the stream was thrown about, the counters agree with each
	// other, and it ends exactly at its end.
	std::size_t lines = 0;
	for (const std::string &l : lines_of(p.out_text)) {
		unsigned long long at = 0, left = 0;
		if (sscanf(l.c_str(), "@F %llu %llu", &at, &left) != 2)
			continue;
		lines++;
		ASSERT_EQ(at + left, 480000u) << l;
	}
	EXPECT_GT(lines, 1000u);
	EXPECT_TRUE(last_progress(p.out_text).starts_with("@F 480000 0 ")) << last_progress(p.out_text);
}

TEST_F(HostileInput, InputThatCannotBeReadEndsTheSession)
{
	struct {
		const char *name;
		std::string path;
		int flags;
	} inputs[] = {{"write-only", "/dev/null", O_WRONLY}, {"folder", dir.path, O_RDONLY}};
	for (const auto &in : inputs) {
		SCOPED_TRACE(in.name);
		process p;
		start(p, {.stdin_path = in.path, .stdin_flags = in.flags});
		ends_cleanly(p, 10, 2);
		EXPECT_EQ(p.out_text, greeting);
		EXPECT_EQ(p.err_text, "");
	}
}

TEST_F(HostileInput, WriterVanishingMidLine)
{
	std::string a = make("a.flac", 480000);
	process p;
	start(p);
	ASSERT_TRUE(process_send(p, "LOAD " + a + "\nV 0.5\nJUM"));
	// process_finish closes the input at once: the cut line still runs.
	ends_cleanly(p, 30, 5);
	EXPECT_EQ(p.err_text, "@I " + dir.file("a") + "\n@E Unknown command 'JUM'\n");
	std::vector<std::string> events = without_progress(p.out_text);
	EXPECT_GE(events.size(), 2u);
	EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 2),
		  (std::vector<std::string>{"@R WENDROP", "@V 0.500000"}));
}
