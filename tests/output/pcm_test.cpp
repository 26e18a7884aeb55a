// Raw PCM conversion, checked by identities: a stream in the declared
// format passes bit-exact, widening is exact, dither comes only with
// narrowing, channels mix without clipping, and a rate change keeps the
// length.
#include "output/pcm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <cstring>
#include <random>

namespace {
using bytes = std::vector<unsigned char>;

// Samples as the frames hold them: 16-bit native, 24-bit packed.
bytes frames_of(const std::vector<int32_t> &v, int bits)
{
	bytes b;
	for (int32_t s : v)
		for (int i = 0; i < bits / 8; i++)
			b.push_back(static_cast<unsigned char>(static_cast<uint32_t>(s) >> (8 * i)));
	return b;
}

// Little-endian declared samples read back as values (this machine's).
std::vector<int32_t> values_of(const bytes &b, int bits)
{
	std::vector<int32_t> v(b.size() / pcm_declared_bytes(bits));
	for (std::size_t i = 0; i < v.size(); i++) {
		int16_t s16;
		if (bits == 16)
			memcpy(&s16, &b[2 * i], 2), v[i] = s16;
		else
			memcpy(&v[i], &b[4 * i], 4);
	}
	return v;
}

std::vector<int32_t> noise(std::size_t n, int bits, uint32_t seed)
{
	std::mt19937 random(seed);
	std::uniform_int_distribution<int32_t> d(-(1 << (bits - 1)), (1 << (bits - 1)) - 1);
	std::vector<int32_t> v(n);
	for (int32_t &s : v)
		s = d(random);
	return v;
}

std::vector<int32_t> convert(const pcm_format &in, const pcm_format &out, const std::vector<int32_t> &samples,
			     uint64_t seed = 7)
{
	pcm_converter c;
	EXPECT_TRUE(pcm_converter_start(&c, in, out, seed));
	bytes result, input = frames_of(samples, in.bits);
	pcm_convert(&c, input.data(), samples.size() / static_cast<std::size_t>(in.channels), &result);
	pcm_converter_flush(&c, &result);
	pcm_converter_end(&c);
	return values_of(result, out.bits);
}
}

TEST(PcmFormat, SnapcastsNotationWithinTheLimits)
{
	pcm_format f;
	ASSERT_TRUE(pcm_format_parse("48000:16:2", &f));
	EXPECT_TRUE(f.rate == 48000 && f.bits == 16 && f.channels == 2);
	for (const char *good : {"1000:24:1", "768000:32:8", "044100:16:02"})
		EXPECT_TRUE(pcm_format_parse(good, &f)) << good;
	for (const char *bad : {"", "48000", "48000:16", "48000:16:2:", "48000:8:2", "48000:20:2", "48000:16:0",
				"48000:16:9", "999:16:2", "768001:16:2", "99999999999999999999:16:2", "-48000:16:2",
				"+48000:16:2", " 48000:16:2", "48000:16:2 ", "48000::2", "48k:16:2"})
		EXPECT_FALSE(pcm_format_parse(bad, &f)) << bad;
}

TEST(PcmConversion, TheDeclaredFormatPassesBitExactAndWideningIsExact)
{
	const std::vector<int32_t> s16 = noise(4096 * 2, 16, 1), s24 = noise(4096 * 2, 24, 2);
	// The same bytes for 16 bits; 24 bits in 32-bit words, sign-extended.
	EXPECT_EQ(convert({44100, 16, 2}, {44100, 16, 2}, s16), s16);
	EXPECT_EQ(convert({96000, 24, 2}, {96000, 24, 2}, s24), s24);
	for (auto [from, to, samples] : {std::tuple{16, 24, s16}, std::tuple{16, 32, s16}, std::tuple{24, 32, s24}}) {
		std::vector<int32_t> widened;
		for (int32_t s : samples)
			widened.push_back(static_cast<int32_t>(static_cast<uint32_t>(s) << (to - from)));
		EXPECT_EQ(convert({48000, from, 2}, {48000, to, 2}, samples), widened) << from << " to " << to;
	}
	// Headerless signed: 8-bit frames (unsigned) flip their sign bit.
	bytes eight = {0x00, 0x80, 0xff};
	pcm_signed_le(eight.data(), eight.size(), 8, eight.data());
	EXPECT_EQ(eight, (bytes{0x80, 0x00, 0x7f}));
}

TEST(PcmConversion, MonoIsCopiedToEveryChannelAndChannelsAreAveragedIntoMono)
{
	const std::vector<int32_t> mono = noise(1000, 16, 3);
	std::vector<int32_t> stereo = convert({44100, 16, 1}, {44100, 16, 2}, mono);
	ASSERT_EQ(stereo.size(), 2 * mono.size());
	for (std::size_t i = 0; i < mono.size(); i++)
		EXPECT_TRUE(stereo[2 * i] == mono[i] && stereo[2 * i + 1] == mono[i]) << i;
	EXPECT_EQ(convert({44100, 16, 2}, {44100, 16, 1}, {1000, 3000, -32768, -32768, 32767, -32767, 5, 6}),
		  (std::vector<int32_t>{2000, -32768, 0, 6}));
}

TEST(PcmConversion, FivePointOneFoldsIntoStereoWithoutClipping)
{
	float m[2 * 6];
	pcm_mix_matrix(6, 2, m);
	// L, R, C, LFE, BL, BR: centre and surrounds at -3 dB of the fronts,
	// LFE dropped, each side summing to unity.
	EXPECT_TRUE(m[3] == 0 && m[5] == 0 && m[0] == m[7] && m[2] == m[8] && m[4] == m[11]);
	EXPECT_FLOAT_EQ(m[2] / m[0], std::sqrt(0.5f));
	EXPECT_FLOAT_EQ(m[4] / m[0], std::sqrt(0.5f));
	EXPECT_FLOAT_EQ(m[0] + m[2] + m[4], 1.0f);
	// Every channel at full scale, of either sign, reaches full scale and
	// no further.
	const std::vector<int32_t> full = {32767, 32767, 32767, 32767, 32767, 32767,
					   -32768, -32768, -32768, -32768, -32768, -32768};
	std::vector<int32_t> out = convert({48000, 16, 6}, {48000, 24, 2}, full);
	ASSERT_EQ(out.size(), 4u);
	EXPECT_TRUE(std::abs(out[0] - (32767 << 8)) <= 1 && out[0] == out[1]);
	EXPECT_TRUE(std::abs(out[2] + (32768 << 8)) <= 1 && out[2] == out[3]);
	// Between any two channel counts no output can pass full scale, and
	// the loudest reaches it.
	for (int in = 1; in <= pcm_channels_max; in++)
		for (int to = 1; to <= pcm_channels_max; to++) {
			float matrix[pcm_channels_max * pcm_channels_max], loudest = 0;
			pcm_mix_matrix(in, to, matrix);
			for (int o = 0; o < to; o++) {
				float sum = 0;
				for (int i = 0; i < in; i++)
					sum += std::fabs(matrix[o * in + i]);
				loudest = std::max(loudest, sum);
			}
			EXPECT_NEAR(loudest, 1.0f, 1e-6f) << in << " to " << to;
		}
}

TEST(PcmConversion, DitherComesOnlyWithNarrowingAndIsSeeded)
{
	// A level between two 16-bit steps: dithered, the steps around it in a
	// mean that keeps it; widened, the same value every time.
	const std::vector<int32_t> level(20000, 0x123456 + 0x40);
	const std::vector<int32_t> narrowed = convert({44100, 24, 1}, {44100, 16, 1}, level);
	EXPECT_TRUE(std::all_of(narrowed.begin(), narrowed.end(), [](int32_t v) { return v >= 0x1234 && v <= 0x1236; }));
	EXPECT_NEAR(std::accumulate(narrowed.begin(), narrowed.end(), 0.0) / narrowed.size() * 256, 0x123456 + 0x40, 8);
	EXPECT_EQ(convert({44100, 24, 1}, {44100, 16, 1}, level), narrowed);
	EXPECT_NE(convert({44100, 24, 1}, {44100, 16, 1}, level, 8), narrowed);
	EXPECT_EQ(convert({44100, 16, 1}, {44100, 24, 1}, std::vector<int32_t>(20000, 0x1234)),
		  std::vector<int32_t>(20000, 0x1234 << 8));
	// The same width after another rate is rounded, not dithered: silence
	// stays silent.
	for (int32_t v : convert({48000, 16, 2}, {44100, 16, 2}, std::vector<int32_t>(9600, 0)))
		EXPECT_EQ(v, 0);
}

TEST(PcmConversion, ARateChangeKeepsTheLengthWithinASamplePerSecond)
{
	struct {
		int from, to, seconds;
	} rows[] = {{96000, 44100, 5}, {44100, 48000, 3}, {48000, 44100, 3}, {8000, 192000, 1}};
	for (const auto &r : rows) {
		pcm_converter c;
		ASSERT_TRUE(pcm_converter_start(&c, {r.from, 16, 2}, {r.to, 16, 2}, 1));
		// In frames of 4096, as a decoder gives them, the last one short.
		bytes out, in = frames_of(noise(4096 * 2, 16, 4), 16);
		for (int left = r.from * r.seconds; left > 0; left -= 4096)
			pcm_convert(&c, in.data(), static_cast<std::size_t>(std::min(left, 4096)), &out);
		pcm_converter_flush(&c, &out);
		pcm_converter_end(&c);
		EXPECT_NEAR(static_cast<double>(out.size() / 4), static_cast<double>(r.to) * r.seconds, r.seconds)
			<< r.from << " to " << r.to;
	}
	// A frame made more than 32 times longer is refused, not allocated.
	pcm_converter c;
	EXPECT_FALSE(pcm_converter_start(&c, {1000, 16, 2}, {48000, 16, 2}, 1));
}
