// Frame conversion: interleaving, output widths, volume, saturation, and
// the "@F" progress line.
#include "playback/stream.h"
#include "playback/convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "wav.h"

namespace {
// Converts per-channel samples (all of one length) and gives the bytes.
std::vector<unsigned char> convert(const std::vector<std::vector<int32_t>> &chans, int bits, float gain,
				   unsigned out_channels = 0)
{
	std::vector<const FLAC__int32 *> ptrs;
	for (const auto &c : chans)
		ptrs.push_back(c.data());
	if (!out_channels)
		out_channels = static_cast<unsigned>(chans.size());
	std::vector<unsigned char> out(sample_buffer_size);
	std::size_t n = convert_frame(ptrs.data(), static_cast<unsigned>(chans[0].size()),
				      static_cast<unsigned>(chans.size()), out_channels, bits, gain, out.data());
	out.resize(n);
	return out;
}

std::vector<int16_t> as16(const std::vector<unsigned char> &b)
{
	std::vector<int16_t> v(b.size() / 2);
	memcpy(v.data(), b.data(), v.size() * 2);
	return v;
}

// 24-bit output read back as signed values.
std::vector<int32_t> as24(const std::vector<unsigned char> &b)
{
	std::vector<int32_t> v;
	for (std::size_t i = 0; i + 2 < b.size(); i += 3) {
		int32_t x = b[i] | (b[i + 1] << 8) | (b[i + 2] << 16);
		v.push_back(x >= 0x800000 ? x - 0x1000000 : x);
	}
	return v;
}

using bytes = std::vector<unsigned char>;
constexpr float nan_gain = std::numeric_limits<float>::quiet_NaN();
constexpr float inf_gain = std::numeric_limits<float>::infinity();
}

TEST(Conversion, OutputWidthIsSmallestContainerUpTo24)
{
	EXPECT_EQ(container_bits(4), 8);
	EXPECT_EQ(container_bits(8), 8);
	EXPECT_EQ(container_bits(9), 16);
	EXPECT_EQ(container_bits(16), 16);
	EXPECT_EQ(container_bits(17), 24);
	EXPECT_EQ(container_bits(24), 24);
	EXPECT_EQ(container_bits(32), 24);
}

TEST(Conversion, SixteenBitInterleavesChannelsInNativeOrder)
{
	auto out = convert({{1, -1, 32767}, {-32768, 0, 12345}}, 16, 1.0f);
	EXPECT_EQ(as16(out), (std::vector<int16_t>{1, -32768, -1, 0, 32767, 12345}));
}

TEST(Conversion, SixteenBitVolumeTruncatesTowardZeroAndSaturates)
{
	EXPECT_EQ(as16(convert({{3, -3, 32767, -32768}}, 16, 0.5f)), (std::vector<int16_t>{1, -1, 16383, -16384}));
	EXPECT_EQ(as16(convert({{20000, -20000, 100, -7}}, 16, 2.0f)),
		  (std::vector<int16_t>{32767, -32768, 200, -14}));
	// Inverting the most negative sample has no 16-bit home: it saturates.
	EXPECT_EQ(as16(convert({{32767, -32768, 5}}, 16, -1.0f)), (std::vector<int16_t>{-32767, 32767, -5}));
	EXPECT_EQ(as16(convert({{32767, -32768, 5}}, 16, 0.0f)), (std::vector<int16_t>{0, 0, 0}));
}

TEST(Conversion, NotANumberIsSilenceAndHugeGainsClamp)
{
	EXPECT_EQ(as16(convert({{32767, -32768, 5}}, 16, nan_gain)), (std::vector<int16_t>{0, 0, 0}));
	EXPECT_EQ(as16(convert({{1, -1, 0}}, 16, 1e30f)), (std::vector<int16_t>{32767, -32768, 0}));
	// 0 times infinity is not a number.
	EXPECT_EQ(as16(convert({{1, -1, 0}}, 16, inf_gain)), (std::vector<int16_t>{32767, -32768, 0}));
	EXPECT_EQ(as24(convert({{1, -1, 0}}, 24, 1e30f)), (std::vector<int32_t>{8388607, -8388608, 0}));
	EXPECT_EQ(convert({{1, -1, 0}}, 8, -1e30f), (bytes{0, 255, 128}));
}

TEST(Conversion, EightBitFlipsTheSignBitAndFollowsTheVolume)
{
	EXPECT_EQ(convert({{-128, 0, 127}}, 8, 1.0f), (bytes{0, 128, 255}));
	EXPECT_EQ(convert({{-128, 127, 3, -3}}, 8, 0.5f), (bytes{64, 191, 129, 127}));
	EXPECT_EQ(convert({{100, -100}}, 8, 2.0f), (bytes{255, 0}));
	EXPECT_EQ(convert({{-128, 5}}, 8, -1.0f), (bytes{255, 123}));
	EXPECT_EQ(convert({{-128, 127}}, 8, 0.0f), (bytes{128, 128}));
	EXPECT_EQ(convert({{-128, 127}}, 8, nan_gain), (bytes{128, 128}));
}

TEST(Conversion, TwentyFourBitPacksThreeBytesLeastSignificantFirst)
{
	EXPECT_EQ(convert({{-1, 0x123456}, {8388607, -8388608}}, 24, 1.0f),
		  (bytes{0xff, 0xff, 0xff, 0xff, 0xff, 0x7f, 0x56, 0x34, 0x12, 0x00, 0x00, 0x80}));
	EXPECT_EQ(as24(convert({{5000000, -5000000, -3, 3}}, 24, 2.0f)),
		  (std::vector<int32_t>{8388607, -8388608, -6, 6}));
	EXPECT_EQ(as24(convert({{-3, 3, -8388608}}, 24, 0.5f)), (std::vector<int32_t>{-1, 1, -4194304}));
	EXPECT_EQ(as24(convert({{-8388608, 7}}, 24, -1.0f)), (std::vector<int32_t>{8388607, -7}));
}

TEST(Conversion, OddWidthsAreShiftedIntoTheirContainer)
{
	// 4 and 12 bits move up to 8 and 16, 20 up to 24.
	EXPECT_EQ(convert({{7, -8, 1}}, 4, 1.0f), (bytes{240, 0, 144}));
	EXPECT_EQ(as16(convert({{2047, -2048, 1}}, 12, 1.0f)), (std::vector<int16_t>{32752, -32768, 16}));
	EXPECT_EQ(as16(convert({{2047, -2048, 1}}, 12, 0.5f)), (std::vector<int16_t>{16376, -16384, 8}));
	EXPECT_EQ(as16(convert({{2047, -2048}}, 12, 2.0f)), (std::vector<int16_t>{32767, -32768}));
	EXPECT_EQ(as24(convert({{0x7ffff, -1, -0x80000}}, 20, 1.0f)),
		  (std::vector<int32_t>{0x7ffff0, -16, -8388608}));
	// 28 and 32 bits come down to 24.
	EXPECT_EQ(as24(convert({{0x7fffffff, -1, 256, 0x12345678}}, 32, 1.0f)),
		  (std::vector<int32_t>{0x7fffff, -1, 1, 0x123456}));
	EXPECT_EQ(as24(convert({{0x7ffffff, -0x8000000}}, 28, 1.0f)), (std::vector<int32_t>{0x7fffff, -0x800000}));
	EXPECT_EQ(as24(convert({{0x7fffffff, -0x7fffffff - 1}}, 32, -1.0f)),
		  (std::vector<int32_t>{-0x7fffff, 0x7fffff}));
}

TEST(Conversion, SamplesBeyondTheStatedWidthSaturate)
{
	// A frame may hold wider samples than STREAMINFO promised.
	EXPECT_EQ(as16(convert({{40000, -40000}}, 16, 1.0f)), (std::vector<int16_t>{32767, -32768}));
	EXPECT_EQ(convert({{300, -300}}, 8, 1.0f), (bytes{255, 0}));
}

TEST(Conversion, UnityVolumeIsBitIdenticalForManyChannels)
{
	std::mt19937 rng(7);
	for (int bits : {8, 16, 24}) {
		for (unsigned channels : {1u, 2u, 3u, 6u, 8u}) {
			std::uniform_int_distribution<int32_t> dist(-(1 << (bits - 1)), (1 << (bits - 1)) - 1);
			std::vector<std::vector<int32_t>> chans(channels, std::vector<int32_t>(1023));
			std::vector<int32_t> interleaved;
			for (auto &c : chans)
				for (auto &s : c)
					s = dist(rng);
			for (std::size_t i = 0; i < 1023; i++)
				for (auto &c : chans)
					interleaved.push_back(c[i]);
			EXPECT_EQ(convert(chans, bits, 1.0f), pcm_bytes(interleaved, static_cast<unsigned>(bits)))
				<< bits << " bits, " << channels << " channels";
		}
	}
}

TEST(Conversion, ChannelsTheFrameLacksAreSilentAndTheByteCountFollowsTheDevice)
{
	EXPECT_EQ(convert({{-128, 127}}, 8, 1.0f, 2), (bytes{0, 128, 255, 128}));
	auto out = convert({{1, 2}, {3, 4}}, 24, 1.0f, 3);
	EXPECT_EQ(as24(out), (std::vector<int32_t>{1, 3, 0, 2, 4, 0}));
	std::vector<std::vector<int32_t>> largest(8, std::vector<int32_t>(65535, -1));
	EXPECT_EQ(convert(largest, 32, 1.0f).size(), 65535u * 8 * 3);
}

TEST(Progress, CountsAndTimesWithAStatedTotal)
{
	char buf[progress_line_max];
	int n = format_progress(buf, sizeof buf, 4096, 10000, 8192);
	EXPECT_STREQ(buf, "@F 4096 5904 0.50 0.72\n");
	EXPECT_EQ(n, 23);
	format_progress(buf, sizeof buf, 10000, 10000, 4000);
	EXPECT_STREQ(buf, "@F 10000 0 2.50 0.00\n");
}

TEST(Progress, ZeroTotalRepeatsTheCountAndPastATotalNothingIsLeft)
{
	char buf[progress_line_max];
	format_progress(buf, sizeof buf, 500, 0, 1000);
	EXPECT_STREQ(buf, "@F 500 500 0.50 0.00\n");
	format_progress(buf, sizeof buf, 12000, 10000, 4000);
	EXPECT_STREQ(buf, "@F 12000 0 3.00 0.00\n");
	format_progress(buf, sizeof buf, 5000000000ull, 5000000001ull, 44100);
	EXPECT_STREQ(buf, "@F 5000000000 1 113378.69 0.00\n");
	format_progress(buf, sizeof buf, 8000, 16000, 0);
	EXPECT_STREQ(buf, "@F 8000 8000 0.00 0.00\n");
}

TEST(Progress, TheLongestLineFits)
{
	char buf[progress_line_max];
	int n = format_progress(buf, sizeof buf, UINT64_MAX, 1, 1);
	ASSERT_LT(static_cast<std::size_t>(n), sizeof buf);
	EXPECT_EQ(buf[n - 1], '\n');
	EXPECT_EQ(strlen(buf), static_cast<std::size_t>(n));
	// A short buffer cuts the line instead of overrunning.
	char small[8];
	EXPECT_EQ(format_progress(small, sizeof small, 123456789, 0, 1), 7);
	EXPECT_STREQ(small, "@F 1234");
}
