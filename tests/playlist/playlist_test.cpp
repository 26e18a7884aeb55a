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

// The paths of the entries, in playing order.
static std::vector<std::string> paths_of(const playlist &list)
{
	std::vector<std::string> paths;
	for (const playlist_entry &e : list.entries)
		paths.push_back(e.path);
	return paths;
}

TEST(Rounds, EachEntryOnceInAFreshOrderEachRound)
{
	std::vector<std::string> args;
	for (int i = 0; i < 20; i++)
		args.push_back("/no/such/" + std::to_string(i) + ".flac");  // kept, to fail in turn
	const playlist_settings settings = {1, 1, 42, nullptr, nullptr, nullptr};
	playlist list;
	playlist_start(&list, args, settings);
	playlist_entry entry;
	ASSERT_EQ(playlist_entry_at(&list, 0, &entry), 1);
	EXPECT_EQ(playlist_count(list), 20u);
	const std::vector<std::string> first = paths_of(list);
	list.position = 7;
	ASSERT_EQ(playlist_next_round(&list), 1);
	EXPECT_EQ(list.position, 0u);
	std::vector<std::string> second = paths_of(list);
	EXPECT_NE(second, first);
	std::sort(second.begin(), second.end(), [](auto &a, auto &b) { return natural_compare(a, b) < 0; });
	EXPECT_EQ(second, args);
}
