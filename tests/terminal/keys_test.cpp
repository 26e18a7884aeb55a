// Keys from terminal bytes, the request queue they go into, and the status
// line's text.
#include "terminal/terminal.h"

#include <gtest/gtest.h>

// A request as "name:amount".
static std::string shown(const request &r)
{
	static const char *const names[] = {"none",   "pause", "play",     "hold", "seek",   "seek-to",
					    "sample", "volume", "volume-to", "next", "previous", "quit",
					    "help",   "repeat", "open",     "shuffle"};
	return std::string(names[r.action]) + ":" + std::to_string(r.amount) + " ";
}

// The keys that the bytes make, fed one at a time.
static std::string keys_of(const std::string &bytes)
{
	key_decoder d = {};
	std::string keys;
	request k;
	for (unsigned char b : bytes)
		if (key_decode(&d, b, &k))
			keys += shown(k);
	return keys;
}

// What the queue holds after the keys of bytes went in, taken out.
static std::string queued_after(const std::string &bytes)
{
	key_decoder d = {};
	request k;
	for (unsigned char b : bytes)
		if (key_decode(&d, b, &k))
			request_push(k);
	std::string queued;
	while (request_pop(&k))
		queued += shown(k);
	return queued;
}

TEST(Keys, PlainKeysArrowsInEitherModeAndNothingElse)
{
	EXPECT_EQ(keys_of(" pn><+-q?h"),
		  "pause:0 pause:0 next:0 next:0 previous:0 volume:1 volume:-1 quit:0 help:0 help:0 ");
	// Normal and application cursor modes, a modifier's parameters, and a
	// sequence split anywhere (bytes come one by one); seeks in microseconds.
	EXPECT_EQ(keys_of("\x1b[C\x1b[D\x1b[A\x1b[B\x1bOC\x1b[1;5D"),
		  "seek:10000000 seek:-10000000 seek:60000000 seek:-60000000 seek:10000000 seek:-10000000 ");
	// A lone ESC is nothing and the key after it counts; unknown keys and
	// sequences are nothing.
	EXPECT_EQ(keys_of("\x1bq"), "quit:0 ");
	EXPECT_EQ(keys_of("x\x1b[Z\x1b[15~\r"), "");
}

TEST(Keys, ABurstAddsItsSeeksUpAndAMoveDropsWhatItMakesMoot)
{
	const std::string right = "\x1b[C", left = "\x1b[D";
	// Ten to the right are one seek of 100 s; a volume key between two runs
	// keeps them apart.
	EXPECT_EQ(queued_after(std::string() + right + right + right + right + right + right + right + right + right + right),
		  "seek:100000000 ");
	EXPECT_EQ(queued_after(right + right + left + "+" + right), "seek:10000000 volume:1 seek:10000000 ");
	// The desktop's seeks may be as far as an int64 goes: they saturate,
	// past any end, instead of wrapping back.
	for (const int64_t far : {INT64_MAX, INT64_MIN}) {
		request r;
		ASSERT_EQ(request_push({act_seek_by, far, 0}), 1);
		ASSERT_EQ(request_push({act_seek_by, far, 0}), 1);
		ASSERT_EQ(request_pop(&r), 1);
		EXPECT_EQ(r.amount, far > 0 ? int64_t(1) << 60 : -(int64_t(1) << 60));
		EXPECT_EQ(request_pop(&r), 0);
	}
	// Next, previous and quit drop the seeks and pauses before them; the
	// volume stays, and what comes after them is kept.
	EXPECT_EQ(queued_after(right + "p+" + right + "n" + right), "volume:1 next:0 seek:10000000 ");
	EXPECT_EQ(queued_after("p" + right + "<"), "previous:0 ");
	// A queue full of keys that do not add up still takes a quit.
	std::string burst;
	for (int i = 0; i < request_queue_size; i++)
		burst += "+-";
	EXPECT_EQ(queued_after(burst + "q"), "quit:0 ");
}

TEST(Status, PositionTotalPercentPlaceStateAndWidth)
{
	EXPECT_EQ(status_text({83 * 44100, 225 * 44100, 44100, 2, 10, 0, 1.0f}), "[2/10]  1:23 / 3:45 (36%)");
	// Past an hour, hours; the position as wide as the total.
	EXPECT_EQ(status_text({65 * 44100, 3723ull * 44100, 44100, 1, 1, 1, 0.8f}),
		  "[1/1]     1:05 / 1:02:03 (1%)  paused  volume 80%");
	// Without a stated total, the position alone; the count not yet known.
	EXPECT_EQ(status_text({3723ull * 8000, 0, 8000, 3, 0, 0, 2.0f}), "[3/?]  1:02:03  volume 200%");
	// A narrow terminal (always fewer columns than it has) loses the volume,
	// then the place, then the percentage.
	const status_info s = {65 * 44100, 3723ull * 44100, 44100, 12, 340, 1, 0.8f};
	EXPECT_EQ(status_text(s, 53), "[12/340]     1:05 / 1:02:03 (1%)  paused  volume 80%");
	EXPECT_EQ(status_text(s, 52), "[12/340]     1:05 / 1:02:03 (1%)  paused");
	EXPECT_EQ(status_text(s, 40), "   1:05 / 1:02:03 (1%)  paused");
	EXPECT_EQ(status_text(s, 30), "   1:05 / 1:02:03  paused");
	EXPECT_EQ(status_text(s, 11), "   1:05 / ");
}
