// libao's alsa driver into real ALSA PCMs: a private ~/.asoundrc whose
// PCMs are files of raw samples (behind the null PCM, which takes them as
// fast as they come), compared with flac -d.
#include <gtest/gtest.h>

#include "fixture.h"
#include "process.h"
#include "testenv.h"
#include "wav.h"

namespace {
struct Alsa : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);

	void SetUp() override
	{
		// libao opens "front" for two channels, "default" for others; both
		// lead to the one file.
		const std::string pcms = "pcm.!default {\n type file\n slave.pcm \"null\"\n file \"" + dir.file("default.raw") +
					 "\"\n format \"raw\"\n}\n"
					 "pcm.!front {\n type empty\n slave.pcm \"default\"\n}\n"
					 "pcm.second {\n type file\n slave.pcm \"null\"\n file \"" + dir.file("second.raw") +
					 "\"\n format \"raw\"\n}\n";
		const std::string rc = dir.file("home/.asoundrc");
		ASSERT_TRUE(write_file(rc, std::vector<unsigned char>(pcms.begin(), pcms.end())));
	}
	std::string make(unsigned bits, unsigned channels, unsigned rate)
	{
		flac_fixture f;
		f.bits = bits;
		f.channels = channels;
		f.rate = rate;
		f.samples = make_signal(signal_kind::noise, bits, channels, rate / 4, rate);
		std::string path = dir.file(std::to_string(bits) + "-" + std::to_string(channels) + ".flac");
		EXPECT_TRUE(write_flac(path, f));
		return path;
	}
};

// What the PCM gets for the samples of flac -d at bits: 8 and 16 bits as
// they are; 24 bits, and the top 24 of 32, as 32-bit words shifted left by 8.
std::vector<unsigned char> as_played(const std::vector<unsigned char> &reference, unsigned bits)
{
	if (bits <= 16)
		return reference;
	const std::size_t in = bits / 8;
	std::vector<unsigned char> words;
	for (std::size_t at = 0; at + in <= reference.size(); at += in) {
		words.push_back(0);
		words.insert(words.end(), reference.begin() + static_cast<std::ptrdiff_t>(at + in - 3),
			     reference.begin() + static_cast<std::ptrdiff_t>(at + in));
	}
	return words;
}
}

// libao's alsa driver takes a 24-bit sample for 4 bytes: 7 in 8 samples
// were lost, the rest among garbage.
TEST_F(Alsa, EveryWidthReachesThePcmWhole)
{
	struct {
		unsigned bits, channels, rate;
	} cases[] = {{16, 2, 44100}, {24, 2, 48000}, {24, 1, 96000}, {32, 2, 44100}, {8, 1, 8000}};
	for (const auto &c : cases) {
		const std::string file = make(c.bits, c.channels, c.rate);
		run_result r = run(wendrop_args({"-q", "-d", "alsa", file}), "", 30, {.env = env});
		EXPECT_EQ(r.status, 0) << file;
		EXPECT_EQ(r.err, "") << file;
		const std::vector<unsigned char> expected = as_played(flac_reference(file, c.bits, dir.file("ref.raw")), c.bits);
		std::vector<unsigned char> got = read_file(dir.file("default.raw"));
		ASSERT_GE(got.size(), expected.size()) << file;
		EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin())) << file;
		// Then silence, which carries the end through a server.
		const unsigned char silent = c.bits == 8 ? 0x80 : 0;
		EXPECT_TRUE(std::all_of(got.begin() + static_cast<std::ptrdiff_t>(expected.size()), got.end(),
					[=](unsigned char b) { return b == silent; }))
			<< file;
	}
}

TEST_F(Alsa, ADeviceOptionPicksAnotherPcm)
{
	const std::string file = make(24, 2, 48000);
	run_result r = run(wendrop_args({"-q", "-d", "alsa", "-o", "dev=second", file}), "", 30, {.env = env});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	const std::vector<unsigned char> expected = as_played(flac_reference(file, 24, dir.file("ref.raw")), 24);
	std::vector<unsigned char> got = read_file(dir.file("second.raw"));
	got.resize(std::min(got.size(), expected.size()));
	EXPECT_EQ(got, expected);
	EXPECT_TRUE(read_file(dir.file("default.raw")).empty());
}
