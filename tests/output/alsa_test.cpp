// libao's alsa driver into real ALSA PCMs: a private ~/.asoundrc whose
// PCMs write raw samples into files (behind the null PCM, which takes them
// as fast as they come), compared with flac -d.
#include <gtest/gtest.h>

#include <algorithm>

#include "fixture.h"
#include "process.h"
#include "testenv.h"
#include "wav.h"

// libao's alsa driver took a 24-bit sample for 4 bytes: 7 in 8 samples
// were lost, the rest among garbage. 24 bits, and the top 24 of 32, now
// arrive as 32-bit words shifted left by 8; then silence, which carries
// the end through a sound server.
TEST(Alsa, EveryWidthReachesThePcmWhole)
{
	temp_dir dir;
	const std::vector<std::string> env = player_env(dir);
	// libao opens "front" for two channels, "default" for the others.
	std::string pcms = "pcm.!front { type empty slave.pcm \"default\" }\n";
	for (const char *name : {"default", "second"})
		pcms += std::string("pcm.") + (name[0] == 'd' ? "!" : "") + name +
			" { type file slave.pcm \"null\" format \"raw\" file \"" + dir.file(name) + "\" }\n";
	ASSERT_TRUE(write_file(dir.file("home/.asoundrc"), std::vector<unsigned char>(pcms.begin(), pcms.end())));
	struct {
		unsigned bits, channels, rate;
		std::vector<std::string> options;
		const char *pcm;
	} cases[] = {{16, 2, 44100, {}, "default"},   {24, 2, 48000, {}, "default"}, {24, 1, 96000, {}, "default"},
		     {32, 2, 44100, {}, "default"},   {8, 1, 8000, {}, "default"},
		     {24, 2, 48000, {"-o", "dev=second"}, "second"}};
	for (const auto &c : cases) {
		flac_fixture f;
		f.bits = c.bits;
		f.channels = c.channels;
		f.rate = c.rate;
		f.samples = make_signal(signal_kind::noise, c.bits, c.channels, c.rate / 4, c.rate);
		const std::string file = dir.file(std::to_string(c.bits) + "-" + std::to_string(c.channels) + ".flac");
		ASSERT_TRUE(write_flac(file, f));
		remove(dir.file(c.pcm).c_str());
		std::vector<std::string> args = {"-q", "-d", "alsa"};
		args.insert(args.end(), c.options.begin(), c.options.end());
		args.push_back(file);
		run_result r = run(wendrop_args(args), "", 30, {.env = env});
		EXPECT_EQ(r.status, 0) << file;
		EXPECT_EQ(r.err, "") << file;

		const std::vector<unsigned char> reference = flac_reference(file, c.bits, dir.file("ref.raw"));
		std::vector<unsigned char> expected;
		const std::size_t in = c.bits / 8, out = c.bits > 16 ? 4 : in;
		for (std::size_t at = 0; at + in <= reference.size(); at += in) {
			expected.insert(expected.end(), out - std::min<std::size_t>(in, 3), 0);
			expected.insert(expected.end(), reference.begin() + static_cast<std::ptrdiff_t>(at + in - std::min<std::size_t>(in, 3)),
					reference.begin() + static_cast<std::ptrdiff_t>(at + in));
		}
		std::vector<unsigned char> got = read_file(dir.file(c.pcm));
		ASSERT_GE(got.size(), expected.size()) << file;
		EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin())) << file;
		EXPECT_EQ(std::count(got.begin() + std::ssize(expected), got.end(), c.bits == 8 ? 0x80 : 0),
			  std::ssize(got) - std::ssize(expected))
			<< file;
	}
}
