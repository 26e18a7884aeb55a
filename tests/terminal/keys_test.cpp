// Keys from terminal bytes, and the status line's text.
#include "terminal/terminal.h"

#include <gtest/gtest.h>

// The keys that the bytes make, fed one at a time, as "action:amount "
// (actions: 1 pause, 2 seek, 3 next, 4 previous, 5 volume, 6 quit, 7 help).
static std::string keys_of(const std::string &bytes)
{
	key_decoder d = {};
	std::string keys;
	key_request k;
	for (unsigned char b : bytes)
		if (key_decode(&d, b, &k))
			keys += std::to_string(k.action) + ":" + std::to_string(k.amount) + " ";
	return keys;
}

TEST(Keys, PlainKeysArrowsInEitherModeAndNothingElse)
{
	EXPECT_EQ(keys_of(" pn><+-q?h"), "1:0 1:0 3:0 3:0 4:0 5:1 5:-1 6:0 7:0 7:0 ");
	// Normal and application cursor modes, a modifier's parameters, and a
	// sequence split anywhere (bytes come one by one).
	EXPECT_EQ(keys_of("\x1b[C\x1b[D\x1b[A\x1b[B\x1bOC\x1b[1;5D"), "2:10 2:-10 2:60 2:-60 2:10 2:-10 ");
	// A lone ESC is nothing and the key after it counts; unknown keys and
	// sequences are nothing.
	EXPECT_EQ(keys_of("\x1bq"), "6:0 ");
	EXPECT_EQ(keys_of("x\x1b[Z\x1b[15~\r"), "");
}

TEST(Status, PositionTotalPercentPlaceAndState)
{
	EXPECT_EQ(status_text({83 * 44100, 225 * 44100, 44100, 2, 10, 0, 1.0f}), "[2/10]  1:23 / 3:45 (36%)");
	// Past an hour, hours; the position as wide as the total.
	EXPECT_EQ(status_text({65 * 44100, 3723ull * 44100, 44100, 1, 1, 1, 0.8f}),
		  "[1/1]     1:05 / 1:02:03 (1%)  paused  volume 80%");
	// Without a stated total, the position alone.
	EXPECT_EQ(status_text({3723ull * 8000, 0, 8000, 3, 3, 0, 2.0f}), "[3/3]  1:02:03  volume 200%");
	// While the list is still being walked its count is not known.
	EXPECT_EQ(status_text({83 * 44100, 225 * 44100, 44100, 2, 0, 0, 1.0f}), "[2/?]  1:23 / 3:45 (36%)");
}
