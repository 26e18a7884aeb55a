// The tag reader: one comment entry at a time, and whole files with one or
// several VORBIS_COMMENT blocks.
#include "playback/stream.h"
#include "playback/tags.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "fixture.h"
#include "testenv.h"

namespace {
std::string padded(const std::string &s, std::size_t width = tag_width)
{
	return s + std::string(width - s.size(), ' ');
}

int apply_entry(stream_record &r, const std::string &entry)
{
	return apply_vorbis_comment(&r, reinterpret_cast<const unsigned char *>(entry.data()),
				    static_cast<uint32_t>(entry.size()));
}

struct Tags : testing::Test {
	stream_record rec{};
	void SetUp() override { tags_reset(&rec); }
};

flac_fixture tagged(std::vector<std::vector<std::string>> blocks)
{
	flac_fixture f;
	f.samples = make_signal(signal_kind::ramp, 16, 2, 1000, 44100);
	f.comment_blocks = std::move(blocks);
	return f;
}
}

TEST_F(Tags, ResetFillsEveryFieldWithBlanks)
{
	for (const char *f : {rec.title, rec.artist, rec.album, rec.genre, rec.comment})
		EXPECT_EQ(std::string(f), padded(""));
	EXPECT_EQ(std::string(rec.year), "    ");
}

TEST_F(Tags, KnownNamesFillTheirFieldPaddedWithBlanks)
{
	EXPECT_EQ(apply_entry(rec, "ARTIST=Foo"), 1);
	EXPECT_EQ(std::string(rec.artist), padded("Foo"));
	EXPECT_EQ(apply_entry(rec, "album=Bar"), 1);
	EXPECT_EQ(apply_entry(rec, "TiTle=T"), 1);
	EXPECT_EQ(apply_entry(rec, "GENRE=G"), 1);
	EXPECT_EQ(apply_entry(rec, "DESCRIPTION=d=e"), 1);
	EXPECT_EQ(std::string(rec.album), padded("Bar"));
	EXPECT_EQ(std::string(rec.title), padded("T"));
	EXPECT_EQ(std::string(rec.genre), padded("G"));
	EXPECT_EQ(std::string(rec.comment), padded("d=e"));
}

TEST_F(Tags, CommentFillsTheCommentUnlessThereIsADescription)
{
	// What sox, EasyTag and foobar2000 write; a DESCRIPTION, before or
	// after it, is the one shown.
	for (const auto &[entries, shown] : std::vector<std::pair<std::vector<std::string>, std::string>>{
		     {{"COMMENT=Live"}, "Live"},
		     {{"comment=a", "Comment=b"}, "b"},
		     {{"DESCRIPTION=Desc", "COMMENT=Live"}, "Desc"},
		     {{"COMMENT=Live", "DESCRIPTION=Desc"}, "Desc"}}) {
		tags_reset(&rec);
		for (const std::string &e : entries)
			EXPECT_EQ(apply_entry(rec, e), 1) << e;
		EXPECT_EQ(std::string(rec.comment), padded(shown)) << entries[0];
	}
}

TEST_F(Tags, DateKeepsFourCharactersAndLongValuesAreCut)
{
	apply_entry(rec, "DATE=2024-05-01");
	EXPECT_EQ(std::string(rec.year), "2024");
	apply_entry(rec, "DATE=24");
	EXPECT_EQ(std::string(rec.year), "24  ");
	apply_entry(rec, "TITLE=" + std::string(100000, 'x'));
	EXPECT_EQ(std::string(rec.title), std::string(30, 'x'));
	// Cut after whole characters: 29 letters and an "é" are 30 (31 bytes).
	apply_entry(rec, "ARTIST=" + std::string(29, 'a') + "\xc3\xa9" + "b");
	EXPECT_EQ(std::string(rec.artist), std::string(29, 'a') + "\xc3\xa9");
}

TEST_F(Tags, ControlsAndBadBytesShowAsQuestionMarks)
{
	// Terminal escapes (clear, set title), a forged event line, C1
	// controls, DEL and a zero byte; then bytes outside valid UTF-8: stray
	// continuation, overlong, surrogate, cut short, beyond U+10FFFF.
	apply_entry(rec, "TITLE=\x1b[2J\x1b]0;owned\x07");
	apply_entry(rec, "ARTIST=a\n@P 0\r\t");
	apply_entry(rec, std::string("ALBUM=\xc2\x9b" "1m\xc2\x85\x7f\0z", 15));
	apply_entry(rec, "GENRE=\xff\x80\xc0\xaf\xed\xa0\x80\xe2\x82x\xf4\x90\x80\x80");
	apply_entry(rec, "DESCRIPTION=\xc2\xa0\xe2\x82\xac\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf");
	EXPECT_EQ(std::string(rec.title), padded("?[2J?]0;owned?"));
	EXPECT_EQ(std::string(rec.artist), padded("a?@P 0??"));
	EXPECT_EQ(std::string(rec.album), padded("?1m???z"));
	EXPECT_EQ(std::string(rec.genre), padded("?????????x????"));
	// Printable characters beyond ASCII stay, each padded as one.
	EXPECT_EQ(std::string(rec.comment), "\xc2\xa0\xe2\x82\xac\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf" + std::string(26, ' '));
}

TEST_F(Tags, LongUtf8ValuesKeepThirtyWholeCharacters)
{
	const std::string poem = "Я помню чудное мгновенье: передо мной явилась ты";
	apply_entry(rec, "TITLE=" + poem);
	// 30 characters of the line, 55 bytes; nothing cut in a character.
	EXPECT_EQ(std::string(rec.title), "Я помню чудное мгновенье: пере");
	apply_entry(rec, "DATE=二〇二四年");
	EXPECT_EQ(std::string(rec.year), "二〇二四");
	apply_entry(rec, "ALBUM=春");
	EXPECT_EQ(std::string(rec.album), "春" + std::string(29, ' '));
}

TEST_F(Tags, OnlyExactNamesMatchAndTheLaterEntryWins)
{
	EXPECT_EQ(apply_entry(rec, "TITLEX=a"), 0);
	EXPECT_EQ(apply_entry(rec, "COMMENTS=a"), 0);
	EXPECT_EQ(apply_entry(rec, "TITL=a"), 0);
	EXPECT_EQ(apply_entry(rec, "no equals sign"), 0);
	EXPECT_EQ(apply_entry(rec, "=value"), 0);
	EXPECT_EQ(apply_entry(rec, ""), 0);
	EXPECT_EQ(std::string(rec.title), padded(""));
	apply_entry(rec, "TITLE=first");
	apply_entry(rec, "TITLE=second");
	EXPECT_EQ(std::string(rec.title), padded("second"));
	// An empty value is still a tag.
	EXPECT_EQ(apply_entry(rec, "TITLE="), 1);
	EXPECT_EQ(std::string(rec.title), padded(""));
}

TEST_F(Tags, ReadsStayWithinTheEntryLength)
{
	// The bytes after the entry would make it a tag if they were read.
	const char memory[] = "TITLE=Sneaky";
	EXPECT_EQ(apply_vorbis_comment(&rec, reinterpret_cast<const unsigned char *>(memory), 5), 0);
	EXPECT_EQ(apply_vorbis_comment(&rec, reinterpret_cast<const unsigned char *>(memory), 8), 1);
	EXPECT_EQ(std::string(rec.title), padded("Sn"));
}

TEST_F(Tags, ReplayGainValuesAreTakenOnlyWhenWellFormedAndAreNoTag)
{
	const std::string gain = "REPLAYGAIN_TRACK_GAIN=", peak = "replaygain_album_peak=";
	const std::pair<std::string, double> rows[] = {
		{gain + "-7.52 dB", -7.52}, {gain + "+3 dB", 3}, {gain + "0.5dB", 0.5}, {gain + "-60.00 dB", -60},
		{peak + "0.988312", 0.988312}, {peak + "1", 1}, {gain + "abc", NAN}, {gain + "-7.52", NAN},
		{gain + "+inf dB", NAN}, {gain + "1e2 dB", NAN}, {gain + ".5 dB", NAN}, {gain + "-7.52 dB ", NAN},
		{gain + "60.01 dB", NAN}, {gain + std::string(1 << 20, '1') + " dB", NAN}, {peak + "-0.5", NAN},
		{peak + "1e0", NAN}, {peak + "0.9 ", NAN}};
	for (const auto &[entry, value] : rows) {
		tags_reset(&rec);
		EXPECT_EQ(apply_entry(rec, entry), 0) << entry.substr(0, 40);
		const double got = entry.starts_with(gain) ? rec.replaygain.track_gain : rec.replaygain.album_peak;
		EXPECT_TRUE(std::isnan(value) ? std::isnan(got) : got == value) << entry.substr(0, 40);
	}
}

TEST(TagFiles, FirstBlockWithAKnownNameIsTheOneUsed)
{
	temp_dir dir;
	std::string path = dir.file("t.flac");
	ASSERT_TRUE(write_flac(path, tagged({{"FOO=1", "BAR=2"}, {}, {"ARTIST=Second"}, {"TITLE=Third"}})));
	tags_reset(&file_info);
	EXPECT_EQ(read_vorbis_tags(path.c_str()), 1);
	EXPECT_EQ(std::string(file_info.artist), padded("Second"));
	EXPECT_EQ(std::string(file_info.title), padded(""));
}

TEST(TagFiles, FilesWithoutKnownNamesGiveNoTags)
{
	temp_dir dir;
	std::string unknown = dir.file("u.flac"), bare = dir.file("b.flac");
	ASSERT_TRUE(write_flac(unknown, tagged({{"TITLEX=a", "COMMENTS=b", "no equals"}, {"=x"}})));
	ASSERT_TRUE(write_flac(bare, tagged({})));
	for (const std::string &p : {unknown, bare, dir.file("missing.flac"), dir.path}) {
		tags_reset(&file_info);
		EXPECT_EQ(read_vorbis_tags(p.c_str()), 0) << p;
		EXPECT_EQ(std::string(file_info.title), padded("")) << p;
	}
}
