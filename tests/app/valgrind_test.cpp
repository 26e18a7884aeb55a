// The built program under valgrind: no invalid access, no uninitialised
// read, and nothing definitely or indirectly lost, in each mode and on the
// failure paths. valgrind's own report goes to a file, so the program's
// output can still be checked exactly.
#include <gtest/gtest.h>

#include <algorithm>

#include "fixture.h"
#include "process.h"
#include "testenv.h"
#include "wav.h"

namespace {
struct Valgrind : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);
	std::string a = dir.file("a.flac"), b = dir.file("b.flac");

	void SetUp() override
	{
		// Two formats, so the live device is replaced between them.
		flac_fixture f;
		f.rate = 8000;
		f.blocksize = 1000;
		f.samples = make_signal(signal_kind::noise, 16, 2, 3000, 8000);
		f.comment_blocks = {{"TITLE=Checked", "ARTIST=valgrind"}};
		ASSERT_TRUE(write_flac(a, f));
		f.bits = 8;
		f.channels = 1;
		f.samples = make_signal(signal_kind::noise, 8, 1, 2500, 8000);
		f.comment_blocks = {};
		ASSERT_TRUE(write_flac(b, f));
	}
	run_result under_valgrind(std::vector<std::string> args, const std::string &input = "")
	{
		std::string log = dir.file("valgrind.log");
		std::vector<std::string> argv = {VALGRIND_BIN, "--error-exitcode=1", "--leak-check=full",
						 "--errors-for-leak-kinds=definite,indirect", "--log-file=" + log,
						 wendrop_bin()};
		argv.insert(argv.end(), args.begin(), args.end());
		run_result r = run(argv, input, 120, {.env = env});
		std::vector<unsigned char> report = read_file(log);
		EXPECT_EQ(r.status, 0) << std::string(report.begin(), report.end());
		EXPECT_FALSE(r.timed_out);
		return r;
	}
};

std::vector<std::string> without_progress(const std::string &out)
{
	std::vector<std::string> lines = lines_of(out);
	std::erase_if(lines, [](const std::string &l) { return l.starts_with("@F "); });
	return lines;
}
}

TEST_F(Valgrind, PlaylistWithAFailingFile)
{
	std::string garbage = dir.file("garbage.flac"), missing = dir.file("missing.flac");
	ASSERT_TRUE(write_file(garbage, std::vector<unsigned char>(3000, 0x5a)));
	// Standard input is read through the player's own wait and read.
	std::vector<unsigned char> piped = read_file(b);
	run_result r = under_valgrind({"-q", "-d", "null", a, missing, garbage, "-", b, a},
				      std::string(piped.begin(), piped.end()));
	EXPECT_EQ(r.err, "Error opening " + missing + " (no such file)\nError opening " + garbage + " (not FLAC)\n");
}

TEST_F(Valgrind, WavOutputReopenedPerStream)
{
	std::string wav = dir.file("out.wav");
	run_result r = under_valgrind({"-q", "--wav", wav, a, b});
	EXPECT_EQ(r.err, "");
	// The file holds the last stream whole: 2500 one-byte samples.
	wav_info w = parse_wav(read_file(wav));
	ASSERT_TRUE(w.ok);
	EXPECT_EQ(w.bits, 8u);
	EXPECT_EQ(w.data.size(), 2500u);
}

TEST_F(Valgrind, RemoteSession)
{
	run_result r = under_valgrind({"--remote", "-d", "null"},
				      "LOAD " + a + "\nJUMP 0\nPAUSE\nVOLUME 0.5\nSTOP\nLOAD " + b + "\nQUIT\n");
	EXPECT_EQ(without_progress(r.out),
		  (std::vector<std::string>{"@R WENDROP", "@P 1", "@V 0.500000", "@P 0"}));
	EXPECT_EQ(r.err, "@I ID3:Checked" + std::string(23, ' ') + "valgrind" + std::string(22, ' ') +
				 std::string(30 + 4 + 30 + 30, ' ') + "\n@I " + dir.file("b") + "\n");
}
