// The list functions on their own: natural order and shuffled rounds.
#include "playlist/playlist.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(NaturalOrder, DigitRunsCompareAsNumbersEverythingElseByByte)
{
	const std::vector<std::string> sorted = {
		"01.flac", "1.flac", "2 - b.flac", "9.flac", "10 - a.flac", "99999999999999999999.flac",
		"100000000000000000000.flac", "B.flac", "a.flac", "a2", "a2b", "a10", "x 1/y"};
	std::vector<std::string> v(sorted.rbegin(), sorted.rend());
	std::sort(v.begin(), v.end(), [](auto &a, auto &b) { return natural_compare(a, b) < 0; });
	EXPECT_EQ(v, sorted);
	EXPECT_EQ(natural_compare("a007", "a7"), -1);
	EXPECT_EQ(natural_compare("a7", "a7"), 0);
}

TEST(Rounds, EachEntryOnceInAFreshOrderEachRound)
{
	std::vector<std::string> args;
	for (int i = 0; i < 20; i++)
		args.push_back("/no/such/" + std::to_string(i) + ".flac");  // kept, to fail in turn
	const playlist_settings settings = {1, 1, 42, nullptr};
	playlist list;
	std::vector<std::string> empty;
	playlist_start(&list, args, settings, &empty);
	const std::vector<std::string> first = list.paths;
	list.position = 7;
	ASSERT_EQ(playlist_next_round(&list, settings), 1);
	EXPECT_EQ(list.position, 0u);
	EXPECT_NE(list.paths, first);
	std::sort(list.paths.begin(), list.paths.end(), [](auto &a, auto &b) { return natural_compare(a, b) < 0; });
	EXPECT_EQ(list.paths, args);
}
