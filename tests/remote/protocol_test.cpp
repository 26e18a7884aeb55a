// The remote-control protocol end to end: wendrop --remote driven through
// pipes. Commands sent in one write are read together and run one per
// step, so the exact event lines are known in advance.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstring>

#include "fixture.h"
#include "process.h"
#include "testenv.h"
#include "wav.h"

namespace {
const std::string greeting = "@R WENDROP\n";
const std::string pad30(30, ' ');

struct Remote : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);

	// 8 kHz mono in blocks of 1000 samples: frames of 0.125 s.
	std::string make(const std::string &name, uint64_t frames, std::vector<std::string> tags = {},
			 std::optional<uint64_t> stated_total = {}, unsigned bits = 16,
			 std::vector<int32_t> *samples = nullptr, bool ogg = false)
	{
		flac_fixture f;
		f.ogg = ogg;
		f.bits = bits;
		f.channels = 1;
		f.rate = 8000;
		f.blocksize = 1000;
		f.samples = make_signal(signal_kind::noise, bits, 1, frames, 8000);
		if (samples)
			*samples = f.samples;
		if (!tags.empty())
			f.comment_blocks.push_back(std::move(tags));
		f.stated_total = stated_total;
		std::string path = dir.file(name);
		EXPECT_TRUE(write_flac(path, f));
		return path;
	}
	// Runs a whole session: the input in one write, then the end of input.
	run_result session(const std::string &input, std::vector<std::string> args = {"-d", "null"})
	{
		args.insert(args.begin(), "--remote");
		return run(wendrop_args(args), input, 30, {.env = env});
	}
	// Starts a session and keeps its input open.
	void start(process &p, std::vector<std::string> args = {"-d", "null"})
	{
		args.insert(args.begin(), "--remote");
		ASSERT_TRUE(process_start(p, wendrop_args(args), {.env = env}));
		ASSERT_TRUE(process_wait_stdout(p, greeting, 10));
	}
};
}

TEST_F(Remote, GreetsAndEndsWithTheInput)
{
	run_result r = session("");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, greeting);
	EXPECT_EQ(r.err, "");
	// Unknown driver: reported before the greeting, default driver used.
	r = session("", {"-d", "nosuch", "-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, greeting);
	EXPECT_EQ(r.err, "Error identifying libao driver nosuch\n");
}

TEST_F(Remote, PlaysToTheEndWithProgressAndReportsTheEnd)
{
	std::string a = make("a.flac", 3500, {"TITLE=Song", "DATE=2020"});
	process p;
	start(p);
	process_send(p, "LOAD " + a + "\n");
	ASSERT_TRUE(process_wait_stdout(p, "@P 0\n", 10));
	process_send(p, "QUIT\n");
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_EQ(p.out_text, greeting +
				      "@F 1000 2500 0.12 0.31\n"
				      "@F 2000 1500 0.25 0.19\n"
				      "@F 3000 500 0.38 0.06\n"
				      "@F 3500 0 0.44 0.00\n"
				      "@P 0\n");
	EXPECT_EQ(p.err_text, "@I ID3:Song" + std::string(26, ' ') + pad30 + pad30 + "2020" + pad30 + pad30 + "\n");
}

TEST_F(Remote, UntaggedStreamsAreAnnouncedByPathAndUnknownTotalsRepeatTheCount)
{
	std::string z = make("z.flac", 2500, {}, 0);
	process p;
	start(p);
	process_send(p, "load " + z + "\n");
	ASSERT_TRUE(process_wait_stdout(p, "@P 0\n", 10));
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_EQ(p.out_text, greeting +
				      "@F 1000 1000 0.12 0.00\n"
				      "@F 2000 2000 0.25 0.00\n"
				      "@F 2500 2500 0.31 0.00\n"
				      "@P 0\n");
	EXPECT_EQ(p.err_text, "@I " + dir.file("z") + "\n");
}

TEST_F(Remote, PauseStopAndVolume)
{
	std::string a = make("a.flac", 8000);
	// Beyond the float range a volume is infinite, not undefined.
	run_result r = session("PAUSE\nV\nV 1e39\nV -1e400\nV 0.5\nV abc\nLOAD " + a +
			       "\nPAUSE\nJ 0\nPAUSE\nSTOP\nSTOP\nPAUSE\n");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, greeting +
				 "@V inf\n"
				 "@V -inf\n"
				 "@V 0.500000\n"
				 "@V 0.000000\n"
				 "@F 1000 7000 0.12 0.88\n"
				 "@P 1\n"
				 "@P 2\n"
				 "@F 2000 6000 0.25 0.75\n"
				 "@P 0\n");
	EXPECT_EQ(r.err, "@I " + dir.file("a") + "\n");
}

// HELP (as mpg123 has it) lists the commands and changes nothing else.
TEST_F(Remote, ErrorsAreReportedAndChangeNothing)
{
	std::string a = make("a.flac", 8000);
	std::string missing = dir.file("missing.flac");
	// Standard input carries the commands, so "-" is never a stream.
	run_result r = session("FOO bar\nhElP\nL\nload\nLOAD " + missing + "\nLOAD -\nJ 3\nLOAD " + a + "\nFOO\nH\nQUIT\n");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "@E Unknown command 'FOO'\n"
			 "@E Missing argument to 'L'\n"
			 "@E Missing argument to 'load'\n"
			 "@E Error opening " + missing + "\n"
			 "@E Error opening -\n"
			 "@I " + dir.file("a") + "\n"
			 "@E Unknown command 'FOO'\n");
	// Every LOAD that left nothing playing ended with "@P 0", so that a
	// front end moves on to its next track.
	const std::string help =
		"@H {\n"
		"@H LOAD/L PATH: close the open stream, open the file at PATH and play it\n"
		"@H JUMP/J [+|-]N[s]: seek to N seconds (MPEG frames with --mpeg-frames, unless Ns), or N on or back\n"
		"@H STOP/S: stop and close the open stream\n"
		"@H VOLUME/V N: set the volume factor (1 plays as encoded)\n"
		"@H PAUSE/P: pause, or resume\n"
		"@H QUIT/Q: close the open stream and end\n"
		"@H HELP/H: this list (any command in any case)\n"
		"@H }\n";
	EXPECT_EQ(r.out, greeting + help + "@P 0\n@P 0\n@P 0\n@P 0\n@F 1000 7000 0.12 0.88\n@F 2000 6000 0.25 0.75\n" + help +
				 "@F 3000 5000 0.38 0.62\n");
}

TEST_F(Remote, LoadWhilePlayingReplacesTheStreamWithoutAnEndReport)
{
	std::string a = make("a.flac", 8000), b = make("b.flac", 1500);
	std::string missing = dir.file("missing.flac");
	process p;
	start(p);
	process_send(p, "LOAD " + a + "\nLOAD " + b + "\n");
	ASSERT_TRUE(process_wait_stdout(p, "@P 0\n", 10));
	// A failed LOAD while playing leaves nothing loaded.
	process_send(p, "LOAD " + a + "\nPAUSE\nLOAD " + missing + "\nPAUSE\n");
	ASSERT_TRUE(process_wait_until(
		p, [](const process &q) { return q.err_text.find("@E Error opening") != std::string::npos; }, 10));
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_EQ(p.out_text, greeting +
				      "@F 1000 7000 0.12 0.88\n"
				      "@F 1000 500 0.12 0.06\n"
				      "@F 1500 0 0.19 0.00\n"
				      "@P 0\n"
				      "@F 1000 7000 0.12 0.88\n"
				      "@P 1\n"
				      "@P 0\n");
	EXPECT_EQ(p.err_text, "@I " + dir.file("a") + "\n@I " + dir.file("b") + "\n@I " + dir.file("a") +
				      "\n@E Error opening " + missing + "\n");
}

// A stream whose audio does not match its MD5 signature is told by an
// event line before its "@P 0" once it has played to its end; not when it
// was sought in, stopped or replaced, which leave nothing to compare.
TEST_F(Remote, ADamagedStreamIsToldBeforeItsEnd)
{
	flac_fixture f;
	f.channels = 1;
	f.rate = 8000;
	f.blocksize = 1000;
	f.samples = make_signal(signal_kind::noise, 16, 1, 4000, 8000);
	f.stated_md5 = std::array<unsigned char, 16>{1};
	const std::string bad = dir.file("bad.flac"), good = make("good.flac", 1000);
	ASSERT_TRUE(write_flac(bad, f));
	// Standard error joins standard output, so that the order shows.
	process p;
	ASSERT_TRUE(process_start(p, {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", wendrop_bin(), "--remote", "-d", "null"},
				  {.env = env}));
	const std::string load = "LOAD " + bad + "\n";
	std::size_t ends = 0;
	for (const std::string &commands : {load, load + "J 0\n", load + "STOP\n", load + "LOAD " + good + "\n"}) {
		process_send(p, commands);
		ends = p.out_text.size();
		ASSERT_TRUE(process_wait_until(p, [&](const process &q) { return q.out_text.find("@P 0\n", ends) != std::string::npos; }, 10))
			<< commands;
	}
	EXPECT_EQ(process_finish(p, 10), 0);
	std::vector<std::string> events;
	for (const std::string &line : lines_of(p.out_text))
		if (!line.starts_with("@F "))
			events.push_back(line);
	const std::string i_bad = "@I " + dir.file("bad");
	EXPECT_EQ(events, (std::vector<std::string>{"@R WENDROP", i_bad, "@E Damaged stream: " + bad + " (MD5 mismatch)",
						    "@P 0", i_bad, "@P 0", i_bad, "@P 0", i_bad, "@I " + dir.file("good"),
						    "@P 0"}));
}

TEST_F(Remote, QuitWhilePlayingEndsSilently)
{
	std::string a = make("a.flac", 8000);
	run_result r = session("LOAD " + a + "\nQUIT\nV 1\n");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, greeting + "@F 1000 7000 0.12 0.88\n");
	EXPECT_EQ(r.err, "@I " + dir.file("a") + "\n");
}

TEST_F(Remote, ClosedStandardInputEndsTheSessionPromptly)
{
	double t0 = now_seconds();
	process p;
	ASSERT_TRUE(process_start(p, wendrop_args({"--remote", "-d", "null"}), {.env = env, .no_stdin = true}));
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_FALSE(p.timed_out);
	EXPECT_LT(now_seconds() - t0, 5.0);
	EXPECT_EQ(p.out_text, greeting);
}

TEST_F(Remote, JumpSeeksAndCountsFromTheTarget)
{
	std::string a = make("a.flac", 24000);
	// Each step decodes a frame, then runs one command. A seek plays the
	// frame holding the target from that sample on.
	run_result r = session("LOAD " + a + "\nJ 1\nJ -1\nJ +1\nJ -9\nJ +5\nJ -\nQUIT\n");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "@I " + dir.file("a") + "\n");
	EXPECT_EQ(r.out, greeting +
				 "@F 1000 23000 0.12 2.88\n"
				 "@F 9000 15000 1.12 1.88\n"  // J 1
				 "@F 10000 14000 1.25 1.75\n"
				 "@F 3000 21000 0.38 2.62\n"  // J -1
				 "@F 4000 20000 0.50 2.50\n"
				 "@F 13000 11000 1.62 1.38\n" // J +1
				 "@F 14000 10000 1.75 1.25\n"
				 "@F 1000 23000 0.12 2.88\n"  // J -9: back past the start
				 "@F 2000 22000 0.25 2.75\n"  // J +5: beyond the end, ignored
				 "@F 3000 21000 0.38 2.62\n"
				 "@F 4000 20000 0.50 2.50\n"  // J -: the current sample again
				 "@F 5000 19000 0.62 2.38\n");
}

// "s" always means seconds; --mpeg-frames makes a bare number count frames
// of 1,152 samples, as front ends written for mpg321 send it.
TEST_F(Remote, JumpUnitsAreSecondsOrMpegFrames)
{
	std::string a = make("a.flac", 24000);
	run_result r = session("LOAD " + a + "\nJ +1s\nJ 1\nQUIT\n");
	EXPECT_EQ(progress_counts(r.out), (std::vector<std::string>{"1000 23000", "10000 14000", "11000 13000",
								   "9000 15000", "10000 14000"}));
	r = session("LOAD " + a + "\nJ +5\nJ 2\nJ -1s\nJ +1S\nQUIT\n", {"-d", "null", "--mpeg-frames"});
	EXPECT_EQ(progress_counts(r.out),
		  (std::vector<std::string>{"1000 23000", "7000 17000", "8000 16000",  // 6760: 5 frames on
					    "3000 21000", "4000 20000",                // 2304: frame 2
					    "1000 23000", "2000 22000",                // back 1 s, past the start
					    "11000 13000", "12000 12000"}));           // on 1 s
}

TEST_F(Remote, AJumpThatCannotSeekKeepsThePosition)
{
	std::string a = make("a.flac", 4000);
	// An absolute JUMP at the stated total is refused without moving.
	run_result r = session("LOAD " + a + "\nJ 10\nJ 0\nQUIT\n");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, greeting +
				 "@F 1000 3000 0.12 0.38\n"
				 "@F 2000 2000 0.25 0.25\n"
				 "@F 1000 3000 0.12 0.38\n"
				 "@F 2000 2000 0.25 0.25\n");

	// Without a stated total the decoder tries, fails, and is brought back.
	std::string z = make("z.flac", 4000, {}, 0);
	process p;
	start(p);
	process_send(p, "LOAD " + z + "\nJ 30\n");
	ASSERT_TRUE(process_wait_stdout(p, "@P 0\n", 10));
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_EQ(p.err_text, "@I " + dir.file("z") + "\n");
	EXPECT_EQ(p.out_text, greeting +
				      "@F 1000 1000 0.12 0.00\n"
				      "@F 2000 2000 0.25 0.00\n"
				      "@F 3000 3000 0.38 0.00\n"
				      "@F 4000 4000 0.50 0.00\n"
				      "@P 0\n");
}

TEST_F(Remote, VolumeReachesTheWavOutput)
{
	struct {
		unsigned bits;
		std::string volume;
		float gain;
	} cases[] = {{16, "0.5", 0.5f}, {16, "2.0", 2.0f}, {8, "0.5", 0.5f}, {8, "-2", -2.0f},
		     {24, "-1", -1.0f}, {16, "1e39", INFINITY}, {24, "-1e39", -INFINITY}};
	for (const auto &c : cases) {
		std::vector<int32_t> samples;
		std::string name = std::to_string(c.bits) + "_" + c.volume;
		std::string flac = make(name + ".flac", 3000, {}, {}, c.bits, &samples);
		std::string wav = dir.file(name + ".wav");
		process p;
		start(p, {"--wav", wav});
		process_send(p, "V " + c.volume + "\nLOAD " + flac + "\n");
		ASSERT_TRUE(process_wait_stdout(p, "@P 0\n", 10));
		EXPECT_EQ(process_finish(p, 10), 0);
		const double hi = std::ldexp(1.0, static_cast<int>(c.bits) - 1) - 1, lo = -hi - 1;
		// An infinite volume makes full scale of every sample but 0,
		// whose product is not a number: silence.
		for (int32_t &s : samples)
			s = s == 0 ? 0 : static_cast<int32_t>(std::clamp(std::trunc(double(s) * c.gain), lo, hi));
		wav_info w = parse_wav(read_file(wav));
		ASSERT_TRUE(w.ok) << name;
		EXPECT_TRUE(w.data == pcm_bytes(samples, c.bits)) << name;
	}
}

// A failed write is an event line, the stream ends as at its end, and the
// session goes on with status 0; a stream too big for WAV is refused.
TEST_F(Remote, WavOutputFailuresAreEventLinesAndTheSessionGoesOn)
{
	std::string a = make("a.flac", 800000), big = make("big.flac", 1000, {}, uint64_t(1) << 31);
	process p;
	start(p, {"--wav=/dev/full"});
	process_send(p, "LOAD " + a + "\n");
	ASSERT_TRUE(process_wait_stdout(p, "@P 0\n", 10));
	process_send(p, "LOAD " + big + "\nLOAD " + a + "\n");
	ASSERT_TRUE(process_wait_until(
		p, [](const process &q) { return lines_of(q.out_text).size() - progress_counts(q.out_text).size() == 4; },
		10));
	EXPECT_EQ(process_finish(p, 10), 0);
	const std::string fail = "@E Error writing wav file /dev/full\n", i_a = "@I " + dir.file("a") + "\n";
	EXPECT_EQ(p.err_text, i_a + fail + "@E Stream too big for a WAV file: " + big + "\n@E Error opening " + big +
				      "\n" + i_a + fail);
	// Nothing is decoded after the failure: progress stops within the first
	// of the file's buffers, long before the 800 frames of each stream.
	std::vector<std::string> events;
	std::size_t progress = 0;
	for (const std::string &line : lines_of(p.out_text))
		if (line.rfind("@F ", 0) == 0)
			progress++;
		else
			events.push_back(line);
	// The refused LOAD leaves nothing playing: "@P 0" for it too.
	EXPECT_EQ(events, (std::vector<std::string>{"@R WENDROP", "@P 0", "@P 0", "@P 0"}));
	EXPECT_LT(progress, 2u * 80);
}

TEST_F(Remote, WavOnStandardOutputKeepsEveryEventLineAndStreamWholeInARegularFile)
{
	std::vector<int32_t> a_samples, b_samples;
	std::string a = make("a.flac", 2500, {}, {}, 16, &a_samples);
	std::string b = make("b.flac", 1200, {}, {}, 8, &b_samples);
	std::string file = dir.file("stdout.bin");
	process p;
	ASSERT_TRUE(process_start(p, wendrop_args({"--remote", "--wav=-"}), {.env = env, .stdout_path = file}));
	process_send(p, "LOAD " + a + "\n");
	// Progress is only visible in the file: wait for the end report there.
	auto written = [&] {
		auto bytes = read_file(file);
		return std::string(bytes.begin(), bytes.end());
	};
	auto wait_for_end = [&](std::size_t from) {
		for (double end = now_seconds() + 10; now_seconds() < end; usleep(10000))
			if (std::size_t at = written().find("@P 0\n", from); at != std::string::npos)
				return at + 1;
		return std::string::npos;
	};
	std::size_t ended = wait_for_end(0);
	ASSERT_NE(ended, std::string::npos);
	process_send(p, "LOAD " + b + "\n");
	ASSERT_NE(wait_for_end(ended), std::string::npos);
	process_send(p, "QUIT\n");
	ASSERT_EQ(process_finish(p, 10), 0);
	std::string out = written();

	// Each stream: libao's header, then every frame's samples followed by
	// its progress line; the end report between the streams.
	auto stream = [&](const std::vector<int32_t> &samples, unsigned bits, const std::vector<std::string> &lines) {
		std::vector<unsigned char> pcm = pcm_bytes(samples, bits);
		std::string s;
		for (std::size_t i = 0; i < lines.size(); i++) {
			std::size_t from = i * 1000 * bits / 8, to = std::min(pcm.size(), (i + 1) * 1000 * bits / 8);
			s.append(pcm.begin() + static_cast<std::ptrdiff_t>(from), pcm.begin() + static_cast<std::ptrdiff_t>(to));
			s += lines[i];
		}
		return s;
	};
	std::size_t h1 = greeting.size();
	wav_info first = parse_wav(std::vector<unsigned char>(out.begin() + static_cast<std::ptrdiff_t>(h1), out.end()));
	ASSERT_TRUE(first.ok);
	std::string header1 = out.substr(h1, first.data_offset);
	std::string part1 = greeting + header1 +
			    stream(a_samples, 16,
				   {"@F 1000 1500 0.12 0.19\n", "@F 2000 500 0.25 0.06\n", "@F 2500 0 0.31 0.00\n"}) +
			    "@P 0\n";
	ASSERT_EQ(out.compare(0, part1.size(), part1), 0) << "the first stream or its event lines were overwritten";
	std::string rest = out.substr(part1.size());
	wav_info second = parse_wav(std::vector<unsigned char>(rest.begin(), rest.end()));
	ASSERT_TRUE(second.ok);
	EXPECT_EQ(second.bits, 8u);
	std::string part2 = rest.substr(0, second.data_offset) +
			    stream(b_samples, 8, {"@F 1000 200 0.12 0.03\n", "@F 1200 0 0.15 0.00\n"}) + "@P 0\n";
	EXPECT_EQ(rest.size(), part2.size());
	EXPECT_TRUE(rest == part2) << "the second stream or its event lines differ";
}

TEST_F(Remote, SkippingPrintsOneProgressLineInNFramesAndTheEdgesAlways)
{
	using counts = std::vector<std::string>;
	std::string a = make("a.flac", 23500), z = make("z.flac", 5000, {}, 0);
	// After the load and after a jump the first frame reports; then one
	// in every N; and the frame that reaches the stated total.
	process p;
	start(p, {"-d", "null", "--skip-printing-frames=5"});
	process_send(p, "LOAD " + a + "\nJ 1\n");
	ASSERT_TRUE(process_wait_stdout(p, "@P 0\n", 10));
	// Without a stated total the last frame is not known as such.
	const std::size_t first_end = p.out_text.size();
	process_send(p, "LOAD " + z + "\n");
	ASSERT_TRUE(process_wait_until(
		p, [&](const process &q) { return q.out_text.find("@P 0\n", first_end) != std::string::npos; }, 10));
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_EQ(p.err_text, "@I " + dir.file("a") + "\n@I " + dir.file("z") + "\n");
	EXPECT_EQ(progress_counts(p.out_text),
		  (counts{"1000 22500", "9000 14500", "14000 9500", "19000 4500", "23500 0", "1000 1000"}));
	EXPECT_EQ(p.out_text.substr(p.out_text.size() - 5), "@P 0\n");

	// The largest interval keeps only the edges; 1 is every frame.
	auto progress_of = [&](const std::string &file, const std::string &interval) {
		process q;
		start(q, {"-d", "null", "--skip-printing-frames", interval});
		process_send(q, "LOAD " + file + "\n");
		EXPECT_TRUE(process_wait_stdout(q, "@P 0\n", 10)) << interval;
		EXPECT_EQ(process_finish(q, 10), 0);
		return progress_counts(q.out_text);
	};
	EXPECT_EQ(progress_of(a, "1000000"), (counts{"1000 22500", "23500 0"}));
	// Past a total stated too small nothing is left, and skipping goes on.
	std::string longer = make("longer.flac", 5000, {}, 3000);
	EXPECT_EQ(progress_of(longer, "2"), (counts{"1000 2000", "3000 0", "5000 0"}));
	EXPECT_EQ(progress_of(z, "1"), (counts{"1000 1000", "2000 2000", "3000 3000", "4000 4000", "5000 5000"}));
}

TEST_F(Remote, OggFlacIsAnnouncedAndSeeksLikeNativeFlac)
{
	const std::vector<std::string> tags = {"TITLE=Song", "DATE=2020"};
	std::string native = make("a.flac", 24000, tags);
	std::string ogg = make("a.oga", 24000, tags, {}, 16, nullptr, true);
	ASSERT_EQ(read_file(ogg).size() > 4 && memcmp(read_file(ogg).data(), "OggS", 4) == 0, true);
	const std::string commands = "\nJ 1\nJ -1\nJ +1\nJ -9\nJ +5\nQUIT\n";
	run_result want = session("LOAD " + native + commands);
	run_result r = session("LOAD " + ogg + commands);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "@I ID3:Song" + std::string(26, ' ') + pad30 + pad30 + "2020" + pad30 + pad30 + "\n");
	EXPECT_EQ(r.err, want.err);
	EXPECT_EQ(r.out, want.out);
	EXPECT_EQ(progress_counts(r.out), (std::vector<std::string>{"1000 23000", "9000 15000", "10000 14000",
								   "3000 21000", "4000 20000", "13000 11000",
								   "14000 10000", "1000 23000", "2000 22000", "3000 21000"}));

	// Without tags the name is the path: only ".flac" is cut.
	std::string bare = make("b.oga", 1000, {}, {}, 16, nullptr, true);
	// QUIT comes with the LOAD: the end of input alone could come after the
	// stream's end, and that one frame would be followed by "@P 0".
	r = session("LOAD " + bare + "\nQUIT\n");
	EXPECT_EQ(r.err, "@I " + bare + "\n");
	EXPECT_EQ(r.out, greeting + "@F 1000 0 0.12 0.00\n");
}

TEST_F(Remote, TagsAndPathsReachTheEventLinesPrintableAndCutByBytes)
{
	std::string t = make("t.flac", 1000, {"TITLE=Я помню чудное мгновенье", "ARTIST=\x1b]0;owned\x07\n@P 0", "DATE=1999"});
	std::string odd = make("\x1b[2J\xff.flac", 1000);
	std::string missing = dir.file("\x1b[0m\xff");
	run_result r = session("LOAD " + t + "\nLOAD " + odd + "\nLOAD " + missing + "\n");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, greeting + "@F 1000 0 0.12 0.00\n@F 1000 0 0.12 0.00\n@P 0\n");
	// The front end's own text comes back printable too.
	EXPECT_EQ(r.err, "@I ID3:Я помню чудное м ?]0;owned??@P 0" + std::string(15, ' ') + pad30 + "1999" + pad30 +
				 pad30 + "\n@I " + dir.file("?[2J?") + "\n@E Error opening " + dir.file("?[0m?") + "\n");
}

TEST_F(Remote, ProgressSecondsDoNotDriftOnLongStreams)
{
	// Six hours of silence at 100 Hz in frames of 10.24 s: a float sum of
	// the frame lengths runs 0.15 s ahead by the middle.
	flac_fixture f;
	f.channels = 1;
	f.rate = 100;
	f.blocksize = 1024;
	f.samples.assign(6 * 3600 * 100, 0);
	std::string path = dir.file("long.flac");
	ASSERT_TRUE(write_flac(path, f));
	process p;
	start(p);
	process_send(p, "LOAD " + path + "\n");
	ASSERT_TRUE(process_wait_stdout(p, "@P 0\n", 30));
	EXPECT_EQ(process_finish(p, 10), 0);
	std::vector<std::string> lines = lines_of(p.out_text);
	ASSERT_EQ(lines.size(), 2 + 2110u);
	EXPECT_EQ(lines[1054], "@F 1079296 1080704 10792.96 10807.04");
	EXPECT_EQ(lines[2110], "@F 2160000 0 21600.00 0.00");
}

TEST_F(Remote, AReaderThatClosesStandardOutputEndsTheSessionAsQuitDoes)
{
	// As under a sound server's library, which ignores SIGPIPE: every
	// write to the closed pipe fails with EPIPE instead.
	std::vector<int32_t> samples;
	std::string a = make("a.flac", 480000, {}, {}, 16, &samples);
	std::string wav = dir.file("a.wav");
	process p;
	ASSERT_TRUE(process_start(p, {"/bin/sh", "-c", "trap '' PIPE; exec \"$0\" \"$@\"", wendrop_bin(), "--remote",
				      "--wav", wav}, {.env = env}));
	ASSERT_TRUE(process_wait_stdout(p, greeting, 10));
	close(p.out);
	p.out = -1;
	double t0 = now_seconds();
	process_send(p, "LOAD " + a + "\n");
	// Its input stays open: the player ends by itself.
	process_wait_until(p, [](const process &) { return false; }, 10);
	EXPECT_LT(now_seconds() - t0, 5.0);
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_EQ(p.err_text, "@I " + dir.file("a") + "\n");
	// The stream was closed after its first frame, the WAV file completed.
	wav_info w = parse_wav(read_file(wav));
	ASSERT_TRUE(w.ok);
	samples.resize(1000);
	EXPECT_TRUE(w.data == pcm_bytes(samples, 16)) << w.data.size() << " bytes";
}

// A LOAD of something that may never give a byte is answered at once: the
// command input itself, a FIFO without a writer, a device that is not
// FLAC. And a stream that stalls part way still lets QUIT, or the end of
// input, end the session. (Answered within half a second by design; the
// limits here catch a wait for ever, not a slow answer.)
TEST_F(Remote, LoadsThatCouldWaitForEverAreAnswered)
{
	std::string fifo = dir.file("fifo.flac");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	for (const std::string &path : {std::string("-"), std::string("/dev/stdin"), fifo, std::string("/dev/zero")}) {
		process p;
		start(p);
		process_send(p, "LOAD " + path + "\n");
		EXPECT_TRUE(process_wait_stdout(p, "@P 0\n", 2)) << path;
		process_send(p, "V 0.5\n");
		EXPECT_TRUE(process_wait_stdout(p, "@V 0.500000\n", 2)) << path;
		EXPECT_EQ(process_finish(p, 2), 0);
		EXPECT_EQ(p.err_text, "@E Error opening " + path + "\n");
	}

	// A stream that stalls part way: QUIT, or the end of input, ends the
	// session at once, once the commands before them ran. A flood of other
	// commands waits with the stream (the buffer full, the front end waits
	// too), and a line too long to be a command is dropped as it comes: the
	// stream plays on when its data does.
	std::string volumes;
	for (int i = 0; i < 460; i++)
		volumes += "VOLUME 1\n";
	const std::string quit = "V 0.5\nQUIT\n", end_of_input = "V 0.5\n", junk = std::string(65536, 'x') + "\n";
	std::vector<unsigned char> flac = read_file(make("a.flac", 24000));
	for (const std::string &sent : {quit, end_of_input, volumes, junk}) {
		process p;
		start(p);
		process_send(p, "LOAD " + fifo + "\n");
		int w = fifo_writer(fifo);
		ASSERT_GE(w, 0);
		// Half the stream, and the writer stays: the player waits mid-frame.
		ASSERT_EQ(write(w, flac.data(), flac.size() / 2), static_cast<ssize_t>(flac.size() / 2));
		ASSERT_TRUE(process_wait_stdout(p, "@F ", 5));
		// Until what was sent is played and the player waits.
		process_wait_until(p, [](const process &) { return false; }, 0.3);
		process_send(p, sent);
		if (sent == end_of_input)
			process_close_input(p);
		if (sent == quit || sent == end_of_input) {
			// Both outputs close when the player has ended; its input stays
			// open after QUIT, so that QUIT alone ends it.
			EXPECT_TRUE(process_wait_until(p, [](const process &q) { return q.out < 0 && q.err < 0; }, 2)) << sent;
			EXPECT_EQ(process_finish(p, 1), 0);
			// The end of input still tells that the stream is over.
			EXPECT_TRUE(p.out_text.ends_with(sent == quit ? "@V 0.500000\n" : "@V 0.500000\n@P 0\n")) << p.out_text;
			close(w);
			continue;
		}
		process_wait_until(p, [](const process &) { return false; }, 0.5);
		EXPECT_EQ(p.out_text.find("@P 0"), std::string::npos);
		const std::size_t rest = flac.size() - flac.size() / 2;
		ASSERT_EQ(write(w, flac.data() + flac.size() / 2, rest), static_cast<ssize_t>(rest));
		close(w);
		EXPECT_TRUE(process_wait_stdout(p, "@F 24000 0 3.00 0.00\n", 10));
		process_send(p, "QUIT\n");
		EXPECT_EQ(process_finish(p, 10), 0);
		EXPECT_EQ(p.out_text.find("@P 0"), p.out_text.rfind("@P 0"));
		std::size_t n = 0;
		for (std::size_t at = 0; (at = p.out_text.find("@V 1.000000\n", at)) != std::string::npos; at++)
			n++;
		EXPECT_EQ(n, sent == volumes ? 460u : 0u);
		EXPECT_EQ(p.err_text, "@I " + dir.file("fifo") + (sent == volumes ? "\n" : "\n@E Command line too long\n"));
	}
}
