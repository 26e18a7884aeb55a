// The list functions on their own: natural order, playlist file lines, and
// the order of shuffled rounds.
#include "playlist/playlist.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(NaturalOrder, DigitRunsCompareAsNumbersEverythingElseByByte)
{
	const std::vector<std::string> sorted = {
		"01.flac", "1.flac", "2 - b.flac", "9.flac", "10 - a.flac", "99999999999999999999.flac",
		"100000000000000000000.flac", "B.flac", "a.flac", "a2", "a2b", "a10", "x 1/y"};
	std::vector<std::string> v = sorted;
	for (uint64_t seed = 1; seed <= 5; seed++) {
		shuffle_paths(&v, seed, 0);
		std::sort(v.begin(), v.end(), [](auto &a, auto &b) { return natural_compare(a, b) < 0; });
		EXPECT_EQ(v, sorted);
	}
	EXPECT_EQ(natural_compare("a007", "a7"), -1);
	EXPECT_EQ(natural_compare("a7", "a7"), 0);
}

TEST(M3u, LinesBecomePathsBesideTheList)
{
	const std::string text = "\xef\xbb\xbf#EXTM3U\r\n#EXTINF:123,Band - Song\r\nsong.flac\r\n\r\n  \n"
				 "sub/two.flac\r\n../up.flac\n/abs/a.flac\r\nhttp://host/x.flac\r\nlast.flac";
	const std::vector<std::string> in_folder = {"lists/song.flac", "lists/sub/two.flac", "lists/../up.flac",
						    "/abs/a.flac", "http://host/x.flac", "lists/last.flac"};
	EXPECT_EQ(m3u_entries(text, "lists/fav.m3u"), in_folder);
	const std::vector<std::string> here = {"song.flac", "sub/two.flac", "../up.flac",
					       "/abs/a.flac", "http://host/x.flac", "last.flac"};
	EXPECT_EQ(m3u_entries(text, "fav.m3u8"), here);
	EXPECT_TRUE(m3u_entries("#EXTM3U\r\n\r\n", "a.m3u").empty());
}

TEST(Rounds, EachEntryOnceAFreshOrderEachRoundAndNoRoundWithoutRepeat)
{
	std::vector<std::string> args;
	for (int i = 0; i < 20; i++)
		args.push_back("/no/such/" + std::to_string(i) + ".flac");
	playlist_settings settings = {1, 1, 42, nullptr};
	playlist list, again;
	std::vector<std::string> empty;
	playlist_start(&list, args, settings, &empty);
	playlist_start(&again, args, settings, &empty);
	EXPECT_EQ(list.paths, again.paths);  // the seed decides
	EXPECT_NE(list.paths, args);
	std::vector<std::string> first = list.paths;
	list.position = 7;
	ASSERT_EQ(playlist_next_round(&list, settings), 1);
	EXPECT_EQ(list.position, 0u);
	EXPECT_NE(list.paths, first);
	std::sort(list.paths.begin(), list.paths.end());
	std::sort(args.begin(), args.end());
	EXPECT_EQ(list.paths, args);
	EXPECT_TRUE(empty.empty());

	settings = {0, 0, 42, nullptr};
	playlist_start(&list, args, settings, &empty);
	EXPECT_EQ(list.paths, args);  // missing paths stay, in their order
	EXPECT_EQ(playlist_next_round(&list, settings), 0);
}
