// The list functions on their own: natural order, shuffled rounds, playlist
// files as other programs write them, and the walk that finds the entries.
#include "playlist/playlist.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "fixture.h"
#include "testenv.h"

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

	// Switched off at run time, what has not played goes back to list
	// order; what has played stays where it was.
	list.position = 4;
	const std::vector<std::string> played = paths_of(list);
	playlist_shuffle(&list, false);
	std::vector<std::string> now = paths_of(list);
	EXPECT_EQ(std::vector<std::string>(now.begin(), now.begin() + 5), std::vector<std::string>(played.begin(), played.begin() + 5));
	EXPECT_TRUE(std::is_sorted(now.begin() + 5, now.end(), [](auto &a, auto &b) { return natural_compare(a, b) < 0; }));
	// Put in after the entry playing, it is next also in list order; the
	// next round without shuffle is all list order.
	EXPECT_EQ(playlist_insert(&list, "file:///no/such/x.flac"), 1u);
	EXPECT_EQ(list.entries[5].path, "/no/such/x.flac");
	playlist_shuffle(&list, true);
	ASSERT_EQ(playlist_next_round(&list), 1);
	playlist_shuffle(&list, false);
	list.position = 20;
	ASSERT_EQ(playlist_next_round(&list), 1);
	now = paths_of(list);
	const auto at = std::find(now.begin(), now.end(), played[4]);
	ASSERT_NE(at, now.end());
	EXPECT_EQ(*(at + 1), "/no/such/x.flac");
	now.erase(at + 1);
	EXPECT_TRUE(std::is_sorted(now.begin(), now.end(), [](auto &a, auto &b) { return natural_compare(a, b) < 0; }));
}

TEST(M3u, ListsAsOtherProgramsWriteThem)
{
	struct row {
		std::string bytes;
		bool text;
		std::vector<std::string> entries;  // of lists/x.m3u
	};
	const auto utf16 = [](bool big, std::u16string s) {
		std::string b = big ? "\xfe\xff" : "\xff\xfe";
		for (char16_t c : s) {
			const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xff);
			b += big ? std::string{hi, lo} : std::string{lo, hi};
		}
		return b;
	};
	const row rows[] = {
		{" \ta.flac \t\r\n\t# not a path\n", true, {"lists/a.flac"}},
		{"file:///m/A%20b%c3%a9.flac\nfile://localhost/m/c.flac\nFILE:///m/%zz%4\n", true,
		 {"/m/A b\xc3\xa9.flac", "/m/c.flac", "/m/%zz%4"}},
		// Another host, or a NUL in the path, is a URL that fails in turn.
		{"file://nas/m/a.flac\nfile:///m/%00x\nhttp://h/x.flac\n", true,
		 {"file://nas/m/a.flac", "file:///m/%00x", "http://h/x.flac"}},
		{"-\n", true, {"lists/-"}},
		// Old Mac line ends.
		{"a.flac\rb.flac\r\rc.flac", true, {"lists/a.flac", "lists/b.flac", "lists/c.flac"}},
		{utf16(false, u"\u00e9t\u00e9.flac\r\n\U0001F3B5.flac"), true,
		 {"lists/\xc3\xa9t\xc3\xa9.flac", "lists/\xf0\x9f\x8e\xb5.flac"}},
		{utf16(true, u"a.flac"), true, {"lists/a.flac"}},
		{"\xef\xbb\xbf" "a.flac\n", true, {"lists/a.flac"}},
		{utf16(false, u"a\xd800.flac"), false, {}},
		{std::string("a.flac\n\0\n", 9), false, {}},
		{"caf\xe9.flac\n", false, {}},
		{"\xc0\xaf.flac\n", false, {}},
		// Only the first 4 KiB are judged, and a character cut there is whole.
		{std::string(4095, 'a') + "\xc3\xa9\n" + "\xff", true, {"lists/" + std::string(4095, 'a') + "\xc3\xa9", "lists/\xff"}},
		// PLS, told by its first line: FileN in the order of N, the last
		// line for an N winning; the rest read past.
		{"\r\n [Playlist]\r\nNumberOfEntries=3\r\nFile2=b.flac\r\nTitle2=B\r\nFile1=http://h/a.flac?x=1\r\n"
		 "File10=/m/c.flac\nFile10=/m/d.flac\nFileX=e\nFile=f\nFile3=\nfile4=file:///m/g.flac\nVersion=2\n",
		 true, {"http://h/a.flac?x=1", "lists/b.flac", "/m/g.flac", "/m/d.flac"}},
		{"[playlist]\n", true, {}},
		{"a.flac\n[playlist]\n", true, {"lists/a.flac", "lists/[playlist]"}},
	};
	for (const row &r : rows) {
		std::string text;
		ASSERT_EQ(m3u_text(r.bytes, &text), r.text) << r.bytes.substr(0, 40);
		if (!r.text)
			continue;
		EXPECT_EQ(list_entries(text, "lists/x.m3u"), r.entries) << r.bytes.substr(0, 40);
		// Read in pieces of any size, cut anywhere (in a character, in a
		// CR-LF), an M3U list names the same (a PLS one is taken whole).
		for (const std::size_t size : {1, 2, 3, 5}) {
			if (pls_text(text))
				break;
			m3u_reader reader{.encoding = m3u_judge(r.bytes)};
			std::vector<std::string> entries;
			for (std::size_t at = 0; at < r.bytes.size(); at += size)
				ASSERT_TRUE(m3u_take(&reader, std::string_view(r.bytes).substr(at, size), at + size >= r.bytes.size(),
						     "lists/x.m3u", &entries));
			EXPECT_EQ(entries, r.entries) << size << " " << r.bytes.substr(0, 40);
		}
	}
	// "-" beside a list in the current folder is that file, not standard input.
	EXPECT_EQ(m3u_entries("-\na.flac\n", "x.m3u"), (std::vector<std::string>{"./-", "a.flac"}));
}

namespace {
// A walk over a folder of its own, counting the files it looks at.
struct Walk : testing::Test {
	temp_dir dir;
	static inline int looked = 0, stop_after = -1;
	static inline std::vector<std::pair<int, std::string>> problems;
	static int is_flac(const char *path)
	{
		looked++;
		return std::string(path).ends_with(".flac") ? 1 : 0;
	}
	static int stop() { return stop_after >= 0 && looked >= stop_after; }
	static void report(int problem, const char *path, int) { problems.emplace_back(problem, path); }
	playlist_settings settings = {0, 0, 0, is_flac, stop, report};
	void SetUp() override
	{
		looked = 0;
		stop_after = -1;
		problems.clear();
	}
	void touch(const std::string &name) { ASSERT_TRUE(write_file(dir.file(name), {'x'})); }
};
}

TEST_F(Walk, TheFirstEntryComesBeforeTheRestIsLookedAtAndTheCountAfter)
{
	std::filesystem::create_directories(dir.file("a/b"));
	touch("a/1.flac");
	for (int i = 2; i < 50; i++)
		touch("a/b/" + std::to_string(i) + ".txt");
	touch("a/b/z.flac");
	playlist list;
	playlist_start(&list, {dir.file("a")}, settings);
	playlist_entry e;
	ASSERT_EQ(playlist_entry_at(&list, 0, &e), 1);
	EXPECT_EQ(e.path, dir.file("a/1.flac"));
	EXPECT_EQ(looked, 1);
	EXPECT_EQ(playlist_count(list), 0u);  // not known yet
	ASSERT_EQ(playlist_entry_at(&list, 1, &e), 1);
	EXPECT_EQ(e.path, dir.file("a/b/z.flac"));
	EXPECT_EQ(playlist_entry_at(&list, 2, &e), 0);
	EXPECT_EQ(playlist_count(list), 2u);
	EXPECT_TRUE(problems.empty());
}

TEST_F(Walk, StopEndsTheWalkWhereItIs)
{
	for (int i = 0; i < 20; i++)
		touch(std::to_string(i) + ".txt");
	touch("z.flac");
	stop_after = 5;
	playlist list;
	playlist_start(&list, {dir.path}, settings);
	playlist_entry e;
	EXPECT_EQ(playlist_entry_at(&list, 0, &e), 0);
	EXPECT_EQ(looked, 5);
	EXPECT_EQ(playlist_count(list), 0u);
	EXPECT_EQ(playlist_next_round(&list), 0);
}

// Lists that each name the next twice, 40 deep, would make 2^40 entries:
// the list holds what its cap allows, and the walk ends there, one line
// for the list it was reading.
TEST_F(Walk, AListEndsAtItsCap)
{
	for (int i = 0; i < 40; i++) {
		const std::string next = std::to_string(i + 1) + ".m3u\n";
		const std::string twice = next + next;
		ASSERT_TRUE(write_file(dir.file(std::to_string(i) + ".m3u"), {twice.begin(), twice.end()}));
	}
	ASSERT_TRUE(write_file(dir.file("40.m3u"), {'a', '\n', 'b', '\n'}));
	settings.entries_max = 1000;
	playlist list;
	playlist_start(&list, {dir.file("0.m3u")}, settings);
	playlist_entry e;
	EXPECT_EQ(playlist_entry_at(&list, 999, &e), 1);
	EXPECT_EQ(playlist_entry_at(&list, 1000, &e), 0);
	EXPECT_EQ(playlist_count(list), 1000u);
	EXPECT_EQ(problems, (std::vector<std::pair<int, std::string>>{{problem_too_long, dir.file("40.m3u")}}));
}

// A list is judged by its first bytes (a file of 64 GiB of zeros is not
// read), read in pieces, and not past 16 MiB; one that names nothing says
// so.
TEST_F(Walk, ListsAreJudgedFirstReadInPiecesAndCut)
{
	const int junk = open(dir.file("junk.m3u").c_str(), O_CREAT | O_WRONLY, 0600);
	ASSERT_GE(junk, 0);
	ASSERT_EQ(ftruncate(junk, int64_t(64) << 30), 0);
	close(junk);
	std::string big;
	for (const std::string comment = "# " + std::string(1021, 'x') + "\n"; big.size() < playlist_file_max;)
		big += comment;
	big += "late.flac\n";
	big.insert(0, "early.flac\n");
	ASSERT_TRUE(write_file(dir.file("big.m3u"), {big.begin(), big.end()}));
	ASSERT_TRUE(write_file(dir.file("empty.m3u"), {'#', '\r', '\n'}));
	playlist list;
	playlist_start(&list, {dir.file("junk.m3u"), dir.file("big.m3u"), dir.file("empty.m3u")}, settings);
	playlist_entry e;
	EXPECT_EQ(playlist_entry_at(&list, 1, &e), 0);
	EXPECT_EQ(paths_of(list), (std::vector<std::string>{dir.file("early.flac")}));
	EXPECT_EQ(problems, (std::vector<std::pair<int, std::string>>{{problem_not_text, dir.file("junk.m3u")},
								      {problem_too_long, dir.file("big.m3u")},
								      {problem_no_entries, dir.file("empty.m3u")}}));
	EXPECT_EQ(list.problems, 3u);
}

// A folder's names are read and sorted in short steps, and come out in
// natural order all the same.
TEST(NaturalOrder, AFolderIsListedInShortSteps)
{
	temp_dir dir;
	std::vector<std::string> names;
	uint64_t state = 7;
	for (int i = 0; i < 3000; i++) {
		state = state * 6364136223846793005ull + 1442695040888963407ull;
		names.push_back("track " + std::to_string(state >> 50) + "-" + std::to_string(i) + ".flac");
		ASSERT_TRUE(write_file(dir.file(names.back()), {}));
	}
	std::sort(names.begin(), names.end(), [](auto &a, auto &b) { return natural_compare(a, b) < 0; });
	folder_listing listing;
	ASSERT_EQ(folder_open(dir.path, &listing), 1);
	int steps = 0;
	for (std::size_t read = 0; !folder_step(&listing); steps++) {
		// No step reads more than a small batch of names.
		EXPECT_LE(listing.names.size(), read + 1024);
		read = listing.names.size();
	}
	EXPECT_GE(steps, 7);
	EXPECT_EQ(listing.names, names);
	EXPECT_FALSE(listing.dir);
}

TEST_F(Walk, ListsNestedBeyondTheLimitAreOneLineAndNoCrash)
{
	// 10,000 lists, each naming the next: the walk's own stack bounds it.
	const int depth = 10000;
	for (int i = 0; i < depth; i++) {
		const std::string next = std::to_string(i + 1) + ".m3u\n";
		ASSERT_TRUE(write_file(dir.file(std::to_string(i) + ".m3u"), {next.begin(), next.end()}));
	}
	playlist list;
	playlist_start(&list, {dir.file("0.m3u")}, settings);
	playlist_entry e;
	EXPECT_EQ(playlist_entry_at(&list, 0, &e), 0);
	EXPECT_EQ(problems, (std::vector<std::pair<int, std::string>>{
				    {problem_too_deep, dir.file(std::to_string(playlist_depth_max) + ".m3u")}}));
	EXPECT_EQ(list.problems, 1u);
}

TEST(CueText, LibcueReadsItAndTheTracksLieInSamples)
{
	const std::string one = "FILE a.flac WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
	struct row {
		std::string text;
		int verdict;                  // of the tracks of a.flac, 8000 Hz, 2 s (or total)
		std::vector<uint64_t> starts;
		std::string title;            // of the first track
		std::vector<int> numbers = {};  // when given
		uint64_t total = 16000;
	} rows[] = {
		// UTF-8 stays; anything else is Windows-1252. A byte-order mark is
		// dropped.
		{"\xef\xbb\xbfTITLE \"\xc3\xa9t\xc3\xa9\"\n" + one, cue_ok, {0}, ""},
		{"PERFORMER \"Caf\xe9\"\n" + one + "    TITLE \"\xe0 la\"\n", cue_ok, {0}, "\xc3\xa0 la"},
		{one + "    TITLE \"Don\x92t Stop \x96 Now\x85\x81\"\n", cue_ok, {0},
		 "Don\xe2\x80\x99t Stop \xe2\x80\x93 Now\xe2\x80\xa6\xc2\x81"},
		// An unquoted value is the rest of its line, quotes and all.
		{one + "    TITLE Two words here \r\n", cue_ok, {0}, "Two words here"},
		{one + "    TITLE 12\" Mix \\ b\\\n", cue_ok, {0}, "12\" Mix \\ b\\"},
		// A file of one track in a sheet of several plays whole, numbered
		// as its TRACK line says.
		{"FILE b.flac WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:05\n"
		 "FILE a.flac WAVE\n  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:01:00\n", cue_ok, {0}, "", {2}},
		{one + "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n", cue_bad, {}, ""},
		{one + "  TRACK 02 AUDIO\n    INDEX 01 99999999999:00:00\n", cue_bad, {}, ""},
		{one + "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n", cue_cut, {0}, ""},
		// libcue needs a line feed after the last line; a tag often lacks it.
		{one + "  TRACK 02 AUDIO\n    INDEX 01 00:01:00", cue_ok, {0, 8000}, ""},
		// Before the first INDEX 01 of an image: the first track's start,
		// or from 10 s on a hidden track of its own.
		{"FILE a.flac WAVE\n  TRACK 05 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:01:00\n"
		 "  TRACK 06 AUDIO\n    INDEX 01 00:01:40\n", cue_ok, {0, 12266}, "", {5, 6}},
		{"FILE a.flac WAVE\n  TRACK 01 AUDIO\n    TITLE One\n    INDEX 01 00:10:00\n"
		 "  TRACK 02 AUDIO\n    INDEX 01 00:11:00\n", cue_ok, {0, 80000, 88000}, "", {0, 1, 2}, 96000},
	};
	for (const row &r : rows) {
		cue_sheet sheet;
		ASSERT_TRUE(cue_parse(r.text, &sheet)) << r.text;
		std::vector<cue_track> tracks;
		const std::string file = "a.flac";
		EXPECT_EQ(cue_tracks(sheet, &file, 8000, r.total, &tracks), r.verdict) << r.text;
		std::vector<uint64_t> starts;
		std::vector<int> numbers;
		for (const cue_track &t : tracks) {
			starts.push_back(t.start);
			numbers.push_back(t.number);
		}
		EXPECT_EQ(starts, r.starts) << r.text;
		if (!r.numbers.empty()) {
			EXPECT_EQ(numbers, r.numbers) << r.text;
		}
		if (!tracks.empty()) {
			EXPECT_EQ(tracks[0].title, r.title) << r.text;
		}
	}
	cue_sheet sheet;
	ASSERT_TRUE(cue_parse(rows[1].text, &sheet));
	EXPECT_EQ(sheet.performer, "Caf\xc3\xa9");
	ASSERT_TRUE(cue_parse(rows[0].text, &sheet));
	EXPECT_EQ(sheet.title, "\xc3\xa9t\xc3\xa9");
	EXPECT_EQ(cue_parse("junk", &sheet), false);
}

// (A tag titling a block of as many tracks is played in the cue sheet case.)
TEST(CueText, AStreamsBlockTakesTheTitlesOfItsTagOnlyWhenTheyAreAsMany)
{
	stream_cue_facts facts{44100, 88200, true, true, {{1, 0}, {2, 30000}, {3, 60000}}, true,
			       "FILE x WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n TRACK 02 AUDIO\n  TITLE Two\n"
			       "  INDEX 01 00:00:01\n"};
	std::vector<cue_track> tracks;
	ASSERT_EQ(stream_tracks(facts, &tracks), cue_ok);
	ASSERT_EQ(tracks.size(), 3u);
	EXPECT_EQ(tracks[1].title, "");
	// A block that cannot be used gives way to the tag.
	facts.block_legal = false;
	EXPECT_EQ(stream_tracks(facts, &tracks), cue_stood_in);
	ASSERT_EQ(tracks.size(), 2u);
	EXPECT_EQ(tracks[1].title, "Two");
}
