// Playlist mode end to end: what is announced for each file, and how the
// run goes on past files that cannot be played.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "fixture.h"
#include "process.h"
#include "testenv.h"

namespace {
const std::string banner = "wendrop version 2.1.1   'wendrop --help' for more info\n";
const std::string blank30(30, ' ');

std::string blank_tags()
{
	return "\nTitle  : " + blank30 + " Artist: " + blank30 + "\nAlbum  : " + blank30 +
	       " Year  :     \nComment: " + blank30 + " Genre : " + blank30 + "\n";
}

struct Playlist : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);

	std::string make(const std::string &name, unsigned bits, unsigned channels, unsigned rate,
			 uint64_t frames, std::vector<std::string> tags = {})
	{
		flac_fixture f;
		f.bits = bits;
		f.channels = channels;
		f.rate = rate;
		f.samples = make_signal(signal_kind::noise, bits, channels, frames, rate);
		if (!tags.empty())
			f.comment_blocks.push_back(std::move(tags));
		std::string path = dir.file(name);
		EXPECT_TRUE(write_flac(path, f));
		return path;
	}
	run_result wendrop(std::vector<std::string> args)
	{
		return run(wendrop_args(std::move(args)), "", 60, {.env = env});
	}
};
}

TEST_F(Playlist, AnnouncesTagsNameAndStreamPropertiesExactly)
{
	std::string a = make("a.flac", 16, 2, 44100, 44100,
			     {"TITLE=Morning", "ARTIST=The Band", "ALBUM=First", "DATE=2001-02-03",
			      "DESCRIPTION=Recorded live", "GENRE=Rock"});
	std::string b = make("b.flac", 24, 1, 96000, 24000);
	run_result r = wendrop({"-d", "null", a, b});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out, banner +
				 "\nTitle  : Morning                        Artist: The Band                      \n"
				 "Album  : First                          Year  : 2001\n"
				 "Comment: Recorded live                  Genre : Rock                          \n"
				 "\nPlaying FLAC stream from a.flac\n"
				 "16 bit, 44100 Hz, 2 channels, 44100 total samples, 1.00 total seconds\n" +
				 blank_tags() +
				 "\nPlaying FLAC stream from b.flac\n"
				 "24 bit, 96000 Hz, 1 channels, 24000 total samples, 0.25 total seconds\n");
}

TEST_F(Playlist, FilesThatFailToOpenAreReportedAndTheRunGoesOn)
{
	std::string a = make("a.flac", 16, 2, 44100, 4410);
	std::string b = make("b.flac", 8, 1, 8000, 800);
	std::string garbage = dir.file("garbage.flac"), truncated = dir.file("truncated.flac");
	ASSERT_TRUE(write_file(garbage, std::vector<unsigned char>(5000, 'x')));
	auto bytes = read_file(a);
	bytes.resize(30);  // inside STREAMINFO
	ASSERT_TRUE(write_file(truncated, bytes));
	// A name reaches the terminal printable, whatever the line.
	std::string missing = dir.file("missing\x1b[2J.flac"), shown = dir.file("missing?[2J.flac");

	run_result r = wendrop({"-q", "-d", "null", missing, a, garbage, truncated, b});
	EXPECT_EQ(r.status, 0);
	// What does not begin as FLAC is refused before the decoder sees it:
	// one line each.
	EXPECT_EQ(r.err, "Error opening " + shown + " (no such file)\nError opening " + garbage +
				 " (not FLAC)\nError opening " + truncated + " (cut short)\n");
	r = wendrop({"-d", "null", missing, a, garbage, b});
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.out.find("\nPlaying FLAC stream from a.flac\n"), std::string::npos);
	EXPECT_NE(r.out.find("\nPlaying FLAC stream from b.flac\n8 bit, 8000 Hz, 1 channels, 800 total samples"),
		  std::string::npos);
}

TEST_F(Playlist, UnknownAndHugeTotalsAreShownAtFullWidth)
{
	flac_fixture f;
	f.samples = make_signal(signal_kind::noise, 16, 2, 4410, 44100);
	f.stated_total = 0;
	ASSERT_TRUE(write_flac(dir.file("zero.flac"), f));
	f.stated_total = (uint64_t(1) << 32) + 44100;
	ASSERT_TRUE(write_flac(dir.file("huge.flac"), f));

	run_result r = wendrop({"-d", "null", dir.file("zero.flac"), dir.file("huge.flac")});
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.out.find("16 bit, 44100 Hz, 2 channels, 0 total samples, 0.00 total seconds\n"), std::string::npos);
	EXPECT_NE(r.out.find("16 bit, 44100 Hz, 2 channels, 4295011396 total samples, 97392.55 total seconds\n"),
		  std::string::npos)
		<< r.out;
}

TEST_F(Playlist, OddWidthsAreAnnouncedWithTheirOwnWidth)
{
	std::string a = make("a.flac", 12, 3, 22050, 2205);
	std::string b = make("b.flac", 32, 8, 192000, 1920);
	run_result r = wendrop({"-d", "null", a, b});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_NE(r.out.find("12 bit, 22050 Hz, 3 channels, 2205 total samples, 0.10 total seconds\n"), std::string::npos);
	EXPECT_NE(r.out.find("32 bit, 192000 Hz, 8 channels, 1920 total samples, 0.01 total seconds\n"), std::string::npos);
}

TEST_F(Playlist, StandardInputIsOneStreamNamedDashWithTheTagsOfItsOnlyPass)
{
	// The first block that names a known tag gives the tags, as in a file.
	flac_fixture f;
	f.samples = make_signal(signal_kind::noise, 16, 2, 4410, 44100);
	f.comment_blocks = {{"FOO=1"}, {"ARTIST=Second", "DATE=1999"}, {"TITLE=Third"}};
	std::string a = dir.file("a.flac");
	ASSERT_TRUE(write_flac(a, f));
	const std::string announced =
		"\nTitle  : " + blank30 + " Artist: Second                        \nAlbum  : " + blank30 +
		" Year  : 1999\nComment: " + blank30 + " Genre : " + blank30 +
		"\n\nPlaying FLAC stream from -\n"
		"16 bit, 44100 Hz, 2 channels, 4410 total samples, 0.10 total seconds\n";
	std::vector<unsigned char> bytes = read_file(a);
	// A second "-" finds the input at its end; the file itself still plays.
	run_result r = run(wendrop_args({"-d", "null", "-", "-", a}), std::string(bytes.begin(), bytes.end()), 60,
			   {.env = env});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Error opening - (empty)\n");
	std::string from_file = announced;
	from_file.replace(from_file.find("from -"), 6, "from a.flac");
	EXPECT_EQ(r.out, banner + announced + from_file);
	// Standard input redirected from a file is read once all the same.
	r = run(wendrop_args({"-d", "null", "-", "-"}), "", 60, {.env = env, .stdin_path = a, .stdin_flags = O_RDONLY});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Error opening - (empty)\n");
	EXPECT_EQ(r.out, banner + announced);
}

TEST_F(Playlist, OggFlacIsAnnouncedLikeNativeFlac)
{
	flac_fixture f;
	f.samples = make_signal(signal_kind::noise, 16, 2, 4410, 44100);
	f.comment_blocks = {{"TITLE=Morning", "ARTIST=The Band", "GENRE=Rock"}};
	ASSERT_TRUE(write_flac(dir.file("a.flac"), f));
	f.ogg = true;
	ASSERT_TRUE(write_flac(dir.file("a.oga"), f));
	f.comment_blocks.clear();
	ASSERT_TRUE(write_flac(dir.file("b.ogg"), f));
	run_result native = wendrop({"-d", "null", dir.file("a.flac")});
	run_result r = wendrop({"-d", "null", dir.file("a.oga"), dir.file("b.ogg")});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::string a = native.out.substr(banner.size());
	a.replace(a.find("a.flac"), 6, "a.oga");
	EXPECT_NE(a.find("Title  : Morning"), std::string::npos) << a;
	EXPECT_EQ(r.out, banner + a + blank_tags() + "\nPlaying FLAC stream from b.ogg\n"
				  "16 bit, 44100 Hz, 2 channels, 4410 total samples, 0.10 total seconds\n");
}

TEST_F(Playlist, FoldersPlayTheirFlacByContentInNaturalOrderInTheirPlace)
{
	std::filesystem::create_directories(dir.file("Album/CD 2"));
	std::filesystem::create_directories(dir.file("Empty/sub"));
	for (const char *name : {"intro.flac", "outro.flac", "Album/10 - a.flac", "Album/2 - b.flac",
				 "Album/.hidden.flac", "Album/CD 2/1.flac"})
		make(name, 16, 2, 44100, 441);
	flac_fixture f;
	f.samples = make_signal(signal_kind::noise, 16, 2, 441, 44100);
	f.ogg = true;
	ASSERT_TRUE(write_flac(dir.file("Album/3.oga"), f));
	for (const char *name : {"Album/cover.jpg", "Album/fake.flac", "Album/rip.log", "Empty/sub/notes.txt"})
		ASSERT_TRUE(write_file(dir.file(name), {'n', 'o', '\n'}));
	ASSERT_EQ(symlink("..", dir.file("Album/CD 2/loop").c_str()), 0);

	run_result r = wendrop({"-d", "null", dir.file("intro.flac"), dir.file("Album/"), dir.file("Empty"),
				dir.file("outro.flac")});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "No FLAC files in " + dir.file("Empty") + "\n");
	EXPECT_EQ(played_names(r.out), (std::vector<std::string>{"intro.flac", "2 - b.flac", "3.oga", "10 - a.flac", "1.flac",
							   "outro.flac"}));
}

TEST_F(Playlist, M3uEntriesPlayFromBesideTheListAndTheMissingFailInTurn)
{
	std::filesystem::create_directories(dir.file("lists/Album"));
	make("lists/Album/a.flac", 16, 2, 44100, 441);
	std::string b = make("b.flac", 16, 2, 44100, 441);
	// The list names itself, and a folder; and a URL whose host has a
	// label too long to be looked up (no query leaves the machine).
	const std::string url = "http://" + std::string(64, 'h') + ".invalid/x.flac";
	const std::string list = "\xef\xbb\xbf#EXTM3U\r\n#EXTINF:1,Band - A\r\nAlbum\r\nmissing.flac\r\n\r\nfav.m3u\r\n" +
				 b + "\r\n" + url + "\r\n";
	ASSERT_TRUE(write_file(dir.file("lists/fav.m3u"), {list.begin(), list.end()}));
	run_result r = wendrop({"-d", "null", dir.file("lists/fav.m3u")});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Error opening " + dir.file("lists/missing.flac") + " (no such file)\nError opening " + url +
				 " (host not found)\n");
	EXPECT_EQ(played_names(r.out), (std::vector<std::string>{"a.flac", "b.flac"}));
}

TEST_F(Playlist, ShufflePlaysEachFileOnceAndARepeatWithNothingToPlayEnds)
{
	const std::vector<std::string> names = {"a.flac", "b.flac", "c.flac", "d.flac", "e.flac", "f.flac"};
	for (const std::string &name : names)
		make(name, 8, 1, 8000, 80);
	std::vector<std::string> got = played_names(wendrop({"-d", "null", "-z", dir.path}).out);
	std::sort(got.begin(), got.end());
	EXPECT_EQ(got, names);
	// One round of lines, then the end; a WAV output misses the folder.
	std::filesystem::create_directories(dir.file("none"));
	run_result r = wendrop({"-q", "-r", "-w", dir.file("o.wav"), dir.file("none"), dir.file("missing.flac")});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "No FLAC files in " + dir.file("none") + "\nError opening " + dir.file("missing.flac") +
				 " (no such file)\n");
}

TEST_F(Playlist, ReplayGainLineFollowsTheProperties)
{
	using tags = std::vector<std::string>;
	std::string a = make("a.flac", 16, 2, 44100, 441, tags{"REPLAYGAIN_ALBUM_GAIN=-7.52 dB", "REPLAYGAIN_TRACK_GAIN=+1.5 dB"});
	std::string b = make("b.flac", 16, 2, 44100, 441, tags{"REPLAYGAIN_TRACK_GAIN=-3 dB", "REPLAYGAIN_ALBUM_GAIN=-7.52"});
	std::string c = make("c.flac", 16, 2, 44100, 441);
	std::string d = make("d.flac", 16, 2, 44100, 441, tags{"REPLAYGAIN_TRACK_GAIN=+12 dB", "REPLAYGAIN_TRACK_PEAK=0.5"});
	// Without a usable peak a gain above unity could clip: none is taken.
	std::string e = make("e.flac", 16, 2, 44100, 441, tags{"REPLAYGAIN_TRACK_GAIN=+10 dB"});
	std::string f = make("f.flac", 16, 2, 44100, 441, tags{"REPLAYGAIN_TRACK_GAIN=+10 dB", "REPLAYGAIN_TRACK_PEAK=0"});
	std::string g = make("g.flac", 16, 2, 44100, 441, tags{"REPLAYGAIN_TRACK_GAIN=-0.004 dB"});
	// A broken second copy leaves the first.
	std::string h = make("h.flac", 16, 2, 44100, 441,
			     tags{"REPLAYGAIN_TRACK_GAIN=-4 dB", "REPLAYGAIN_TRACK_GAIN=loud", "REPLAYGAIN_TRACK_GAIN=-9 dB"});
	run_result r = wendrop({"-d", "null", "--replaygain=album", a, b, c, d, e, f, g, h});
	const std::string properties = "16 bit, 44100 Hz, 2 channels, 441 total samples, 0.01 total seconds\n";
	std::string expected = banner;
	for (const auto &[name, gain] : std::vector<std::pair<std::string, std::string>>{
		     {"a.flac", "-7.52 dB (album)"}, {"b.flac", "-3.00 dB (track)"}, {"c.flac", "0.00 dB (none)"},
		     {"d.flac", "6.02 dB (track)"}, {"e.flac", "0.00 dB (track)"}, {"f.flac", "0.00 dB (track)"},
		     {"g.flac", "0.00 dB (track)"}, {"h.flac", "-4.00 dB (track)"}})
		expected += blank_tags() + "\nPlaying FLAC stream from " + name + "\n" + properties + "ReplayGain: " + gain + "\n";
	EXPECT_EQ(r.out, expected);
}

TEST_F(Playlist, WhatTheWalkCannotReadIsOneLineEachAndAMissForAWavOutput)
{
	// Root reads everything: the player runs as nobody.
	if (getuid() != 0)
		GTEST_SKIP() << "needs root to run the player as another user";
	std::filesystem::create_directories(dir.file("lib/locked"));
	make("lib/a.flac", 16, 2, 44100, 441);
	make("lib/locked/b.flac", 16, 2, 44100, 441);
	make("lib/secret.flac", 16, 2, 44100, 441);
	make("lib/z.flac", 16, 2, 44100, 441);
	ASSERT_EQ(symlink("nowhere", dir.file("lib/dangling").c_str()), 0);
	ASSERT_EQ(symlink("loop2", dir.file("lib/loop1").c_str()), 0);
	ASSERT_EQ(symlink("loop1", dir.file("lib/loop2").c_str()), 0);
	// A folder entered already, by a link to it, stays silent.
	ASSERT_EQ(symlink(".", dir.file("lib/again").c_str()), 0);
	chmod(dir.path.c_str(), 0755);
	chmod(dir.file("lib/locked").c_str(), 0);
	chmod(dir.file("lib/secret.flac").c_str(), 0);
	std::vector<std::string> as_nobody = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
					      wendrop_bin(), "-q"};
	const std::string lines = "Error opening " + dir.file("lib/dangling") + " (a dangling link)\nError opening " +
				  dir.file("lib/locked") + " (permission denied)\nError opening " + dir.file("lib/loop1") +
				  " (a loop of links)\nError opening " + dir.file("lib/loop2") +
				  " (a loop of links)\nError opening " + dir.file("lib/secret.flac") + " (permission denied)\n";
	for (const char *output : {"-w/dev/null", "-dnull"}) {
		std::vector<std::string> argv = as_nobody;
		argv.insert(argv.end(), {output, dir.file("lib")});
		run_result r = run(argv, "", 60, {.env = env});
		EXPECT_EQ(r.err, lines) << output;
		// Live, the listener has seen the lines; a WAV output misses files.
		EXPECT_EQ(r.status, output[1] == 'w' ? 1 : 0) << output;
	}
}

TEST_F(Playlist, ListsFromOtherProgramsPlayAndJunkNamedM3uIsOneLine)
{
	std::filesystem::create_directories(dir.file("lists"));
	std::string a = make("a b.flac", 16, 2, 44100, 441);
	make("lists/-", 16, 2, 44100, 441);
	make("lists/c.flac", 16, 2, 44100, 441);
	// UTF-16 as a desktop player exports it: a byte-order mark, file://
	// URLs, blanks around the lines.
	std::string url = "file://" + dir.file("a%20b.flac");
	std::u16string text = u"#EXTM3U\r\n  " + std::u16string(url.begin(), url.end()) + u"\t\r\n\t-\r\n c.flac \r\n";
	std::vector<unsigned char> utf16 = {0xff, 0xfe};
	for (char16_t c : text)
		utf16.insert(utf16.end(), {static_cast<unsigned char>(c & 0xff), static_cast<unsigned char>(c >> 8)});
	ASSERT_TRUE(write_file(dir.file("lists/desk.m3u8"), utf16));
	std::vector<unsigned char> junk(50000, '\n');
	junk[100] = 0;
	ASSERT_TRUE(write_file(dir.file("lists/junk.m3u"), junk));
	// Old Mac line ends; a list that names nothing.
	ASSERT_TRUE(write_file(dir.file("lists/mac.m3u"), {'c', '.', 'f', 'l', 'a', 'c', '\r', '-', '\r'}));
	ASSERT_TRUE(write_file(dir.file("lists/empty.m3u"), {'#', 'E', 'X', 'T', 'M', '3', 'U', '\n'}));

	// The list named from its own folder: "-" is still the file beside it.
	run_result r = run({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" -d null desk.m3u8 junk.m3u mac.m3u empty.m3u",
			    dir.file("lists"), wendrop_bin()},
			   "not a stream", 60, {.env = env});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Not a playlist: junk.m3u (not text)\nNo entries in empty.m3u\n");
	EXPECT_EQ(played_names(r.out), (std::vector<std::string>{"a b.flac", "-", "c.flac", "c.flac", "-"}));
	for (const char *list : {"junk.m3u", "empty.m3u"}) {
		r = wendrop({"-q", "-w", dir.file("o.wav"), dir.file("lists/") + list, a});
		EXPECT_EQ(r.status, 1) << list;
		EXPECT_EQ(r.err, (list[0] == 'j' ? "Not a playlist: " : "No entries in ") + dir.file("lists/") + list +
					 (list[0] == 'j' ? " (not text)\n" : "\n"));
	}
}
