// What a stream is announced as: display name, remote name, and the exact
// announcement texts in each mode.
#include "playback/stream.h"
#include "playback/tags.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <unistd.h>

#include "fixture.h"
#include "testenv.h"

namespace {
// Runs fn with descriptor fd sent to a file, and gives what was written.
std::string capture(int fd, const std::function<void()> &fn)
{
	temp_dir dir;
	std::string path = dir.file("out");
	fflush(nullptr);
	int saved = dup(fd);
	FILE *f = fopen(path.c_str(), "w");
	dup2(fileno(f), fd);
	fn();
	fflush(nullptr);
	dup2(saved, fd);
	close(saved);
	fclose(f);
	auto b = read_file(path);
	return {b.begin(), b.end()};
}

struct Announcement : testing::Test {
	void SetUp() override
	{
		playback_config = {};
		tags_reset(&file_info);
		file_info.stated = {20, 48000, 6};
		file_info.total_samples = 4294967301ull;
		file_info.total_time = 89478.49f;
	}
	void TearDown() override { playback_config = {}; }
	void tag(const char *entry)
	{
		apply_vorbis_comment(&file_info, reinterpret_cast<const unsigned char *>(entry),
				     static_cast<uint32_t>(strlen(entry)));
	}
};
}

TEST(DisplayName, TextAfterTheLastSlashUnlessHttp)
{
	EXPECT_EQ(display_name("/music/some/a.flac"), "a.flac");
	EXPECT_EQ(display_name("a.flac"), "a.flac");
	EXPECT_EQ(display_name("dir/"), "");
	EXPECT_EQ(display_name("http://host/x/a.flac"), "http://host/x/a.flac");
	EXPECT_EQ(display_name("HtTp://host/a.flac"), "HtTp://host/a.flac");
	EXPECT_EQ(display_name("https://host/a.flac"), "https://host/a.flac");
	EXPECT_EQ(display_name("http:/"), "");
}

TEST(RemoteName, CutAtTheLastDotOnlyWhenItStartsTheFirstFlac)
{
	EXPECT_EQ(remote_name("/music/a.flac"), "/music/a");
	EXPECT_EQ(remote_name("a.flacx"), "a");
	EXPECT_EQ(remote_name("a.flac.flac"), "a.flac.flac");
	EXPECT_EQ(remote_name("A.FLAC"), "A.FLAC");
	EXPECT_EQ(remote_name("song.ogg"), "song.ogg");
	EXPECT_EQ(remote_name("/x.flac/b"), "/x");
	EXPECT_EQ(remote_name("noext"), "noext");
	EXPECT_EQ(remote_name(""), "");
}

TEST_F(Announcement, PlaylistModePrintsTagBlockNameAndStreamLine)
{
	tag("TITLE=Song");
	tag("DATE=1999-01-02");
	std::string out = capture(1, [] { announce_stream("/music/x/Song.flac", 1); });
	std::string pad26(26, ' '), pad30(30, ' ');
	EXPECT_EQ(out, "\nTitle  : Song" + pad26 + " Artist: " + pad30 + "\nAlbum  : " + pad30 +
			       " Year  : 1999\nComment: " + pad30 + " Genre : " + pad30 +
			       "\n\nPlaying FLAC stream from Song.flac\n"
			       "20 bit, 48000 Hz, 6 channels, 4294967301 total samples, 89478.49 total seconds\n");
}

TEST_F(Announcement, QuietPlaylistModePrintsNothing)
{
	playback_config.quiet = 1;
	EXPECT_EQ(capture(1, [] { announce_stream("a.flac", 1); }), "");
}

TEST_F(Announcement, RemoteModeWithTagsPrintsTheFieldsBackToBack)
{
	playback_config.remote = 1;
	playback_config.quiet = 1;  // remote announcements ignore it
	tag("ARTIST=");
	tag("genre=Jazz");
	tag("Description=Live");
	std::string err = capture(2, [] { announce_stream("/music/a.flac", 1); });
	std::string pad30(30, ' ');
	EXPECT_EQ(err, "@I ID3:" + pad30 + pad30 + pad30 + "    " + "Live" + std::string(26, ' ') + "Jazz" +
			       std::string(26, ' ') + "\n");
}

TEST_F(Announcement, RemoteModeWithoutTagsPrintsTheCutPath)
{
	playback_config.remote = 1;
	EXPECT_EQ(capture(2, [] { announce_stream("/music/a.flac", 0); }), "@I /music/a\n");
	EXPECT_EQ(capture(2, [] { announce_stream("A.FLAC", 0); }), "@I A.FLAC\n");
	std::string out;
	capture(2, [&] { out = capture(1, [] { announce_stream("A.FLAC", 0); }); });
	EXPECT_EQ(out, "");
}

TEST_F(Announcement, Utf8TagsFillCharactersInTheBlockAndBytesInTheEventLine)
{
	tag("TITLE=Я помню чудное мгновенье");
	tag("ARTIST=\x1b]0;x\x07\nA");
	tag("DATE=二〇二四");
	std::string out = capture(1, [] { announce_stream("/m/\x1b[2J\n\xff.flac", 1); });
	std::string pad30(30, ' ');
	// 24 characters and 6 blanks: the columns line up.
	EXPECT_EQ(out.substr(0, out.find("\n\nPlaying")),
		  "\nTitle  : Я помню чудное мгновенье       Artist: ?]0;x??A" + std::string(22, ' ') +
			  "\nAlbum  : " + pad30 + " Year  : 二〇二四\nComment: " + pad30 + " Genre : " + pad30);
	EXPECT_NE(out.find("\n\nPlaying FLAC stream from ?[2J??.flac\n"), std::string::npos) << out;

	// Front ends cut the event line by bytes: whole characters that fit in
	// 30 bytes (4 for the year), padded to exactly that many.
	playback_config.remote = 1;
	std::string err = capture(2, [] { announce_stream("a.flac", 1); });
	EXPECT_EQ(err, "@I ID3:Я помню чудное м " + std::string("?]0;x??A") + std::string(22, ' ') + pad30 +
			       "二 " + pad30 + pad30 + "\n");
	EXPECT_EQ(capture(2, [] { announce_stream("/m/\x1b[2J\n\xff\xc2\x9b.flac", 0); }), "@I /m/?[2J???\n");
}
