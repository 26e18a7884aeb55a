// JUMP arithmetic: where each argument takes a stream, without a decoder.
#include "playback/stream.h"
#include "remote/remote.h"

#include <gtest/gtest.h>

namespace {
struct Jump : testing::Test {
	stream_record s{};
	int mpeg_frames = 0;
	void SetUp() override { at(882000, 20.0f, 2646000); }
	// A 44.1 kHz stream of the given total, at the given position.
	void at(uint64_t sample, float elapsed, uint64_t total)
	{
		s.format.rate = 44100;
		s.current_sample = sample;
		s.elapsed_time = elapsed;
		s.total_samples = total;
		s.total_time = static_cast<float>(total) / 44100.0f;
	}
	// "sample elapsed" for a jump that seeks, "ignored" for one that does not.
	std::string jump(const char *arg)
	{
		uint64_t sample = 12345;
		float elapsed = -1;
		if (!jump_target(s, arg, mpeg_frames, &sample, &elapsed))
			return "ignored";
		return std::to_string(sample) + " " + std::to_string(elapsed);
	}
};
}

TEST_F(Jump, AbsoluteTargetsAreWholeSecondsFromTheStart)
{
	EXPECT_EQ(jump("30"), "1323000 30.000000");
	EXPECT_EQ(jump("0"), "0 0.000000");
	EXPECT_EQ(jump("10.5"), "441000 10.000000");
	EXPECT_EQ(jump("abc"), "0 0.000000");
	// Not checked against the length: the seek decides.
	EXPECT_EQ(jump("1000"), "44100000 1000.000000");
}

TEST_F(Jump, RelativeTargetsMoveFromTheCurrentSample)
{
	EXPECT_EQ(jump("-5"), "661500 15.000000");
	EXPECT_EQ(jump("+5"), "1102500 25.000000");
	EXPECT_EQ(jump("+40"), "2646000 60.000000");
	EXPECT_EQ(jump("-20"), "0 0.000000");
	EXPECT_EQ(jump("-"), "882000 20.000000");
	EXPECT_EQ(jump("+0"), "882000 20.000000");
	EXPECT_EQ(jump("-0"), "882000 20.000000");
}

TEST_F(Jump, PastTheStartIsTheStartAndPastTheEndIsIgnored)
{
	EXPECT_EQ(jump("-100"), "0 0.000000");
	EXPECT_EQ(jump("-21"), "0 0.000000");
	EXPECT_EQ(jump("+41"), "ignored");
	EXPECT_EQ(jump("+99999999999999999999"), "ignored");
	EXPECT_EQ(jump("-99999999999999999999"), "0 0.000000");
}

TEST_F(Jump, WithoutATotalOnlyForwardRelativeJumpsAreIgnored)
{
	at(441000, 10.0f, 0);
	EXPECT_EQ(jump("+1"), "ignored");
	EXPECT_EQ(jump("5"), "220500 5.000000");
	EXPECT_EQ(jump("-3"), "308700 7.000000");
}

TEST_F(Jump, RelativeJumpsCountFromTheSamplePositionHoweverLongTheStream)
{
	// Three hours in, 10 s from the end, with a float clock that drifted.
	at(476280000, 10790.2f, 476721000);
	EXPECT_EQ(jump("+10"), "476721000 10810.000000");
	EXPECT_EQ(jump("+11"), "ignored");
	EXPECT_EQ(jump("-10795"), "220500 5.000000");
}

TEST_F(Jump, TargetsNeverWrap)
{
	// The elapsed time ran ahead of the sample count: back to the start,
	// not to a wrapped sample number.
	at(1000, 5.0f, 2646000);
	EXPECT_EQ(jump("-3"), "0 0.000000");
	// A target beyond any 64-bit product stays the largest one.
	EXPECT_EQ(jump("99999999999999999999"), "9223372036854775807 9223372036854775808.000000");
}
