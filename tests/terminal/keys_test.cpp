// Keys from terminal bytes, and the status line's text.
#include "terminal/terminal.h"

#include <gtest/gtest.h>

namespace {
// The keys that the bytes make, fed one at a time, as "action:amount".
std::vector<std::string> keys_of(const std::string &bytes)
{
	key_decoder d = {};
	std::vector<std::string> keys;
	for (unsigned char b : bytes) {
		key_request k;
		if (key_decode(&d, b, &k))
			keys.push_back(std::to_string(k.action) + ":" + std::to_string(k.amount));
	}
	return keys;
}
}

TEST(Keys, PlainKeysArrowsInEitherModeAndNothingElse)
{
	using keys = std::vector<std::string>;
	const std::string pause = std::to_string(key_pause) + ":0", seek = std::to_string(key_seek) + ":",
			  volume = std::to_string(key_volume) + ":";
	EXPECT_EQ(keys_of(" p"), (keys{pause, pause}));
	EXPECT_EQ(keys_of("n><q?h"), (keys{std::to_string(key_next) + ":0", std::to_string(key_next) + ":0",
					   std::to_string(key_previous) + ":0", std::to_string(key_quit) + ":0",
					   std::to_string(key_help) + ":0", std::to_string(key_help) + ":0"}));
	EXPECT_EQ(keys_of("+-"), (keys{volume + "1", volume + "-1"}));
	// Normal and application cursor modes, and a modifier's parameters.
	EXPECT_EQ(keys_of("\x1b[C\x1b[D\x1b[A\x1b[B"), (keys{seek + "10", seek + "-10", seek + "60", seek + "-60"}));
	EXPECT_EQ(keys_of("\x1bOC\x1b[1;5D"), (keys{seek + "10", seek + "-10"}));
	// A lone ESC is nothing, and the key after it counts; unknown keys and
	// sequences are nothing.
	EXPECT_EQ(keys_of("\x1bq"), (keys{std::to_string(key_quit) + ":0"}));
	EXPECT_EQ(keys_of("x\x1b[Z\x1b[15~\r"), keys{});
}

TEST(Status, PositionTotalPercentPlaceAndState)
{
	status_info s = {83 * 44100, 225 * 44100, 44100, 2, 10, 0, 1.0f};
	EXPECT_EQ(status_text(s), "[2/10]  1:23 / 3:45 (36%)");
	s.position = 5 * 44100;
	EXPECT_EQ(status_text(s), "[2/10]  0:05 / 3:45 (2%)");
	// Past an hour, hours; the position as wide as the total.
	s = {65 * 44100, 3723ull * 44100, 44100, 1, 1, 1, 0.8f};
	EXPECT_EQ(status_text(s), "[1/1]     1:05 / 1:02:03 (1%)  paused  volume 80%");
	// Without a stated total, the position alone.
	s = {3723ull * 8000, 0, 8000, 3, 3, 0, 2.0f};
	EXPECT_EQ(status_text(s), "[3/3]  1:02:03  volume 200%");
}
