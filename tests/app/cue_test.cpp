// Albums in one file: the tracks of a CUESHEET block, of a CUESHEET tag and
// of .cue files, their bytes against flac -d, their announcements, the
// folder rule and the cue sheets that cannot be used.
#include <gtest/gtest.h>

#include <filesystem>

#include "fixture.h"
#include "process.h"
#include "testenv.h"
#include "wav.h"

namespace {
const std::string blank30(30, ' ');

// A tag text as the announcement pads it.
std::string padded(const std::string &text, std::size_t width = 30)
{
	return text + std::string(width - text.size(), ' ');
}

std::string announcement(const std::string &title, const std::string &artist, const std::string &album,
			 const std::string &year, const std::string &comment, const std::string &genre,
			 const std::string &name, uint64_t samples, const std::string &seconds)
{
	return "\nTitle  : " + padded(title) + " Artist: " + padded(artist) + "\nAlbum  : " + padded(album) +
	       " Year  : " + padded(year, 4) + "\nComment: " + padded(comment) + " Genre : " + padded(genre) +
	       "\n\nPlaying FLAC stream from " + name + "\n16 bit, 44100 Hz, 2 channels, " + std::to_string(samples) +
	       " total samples, " + seconds + " total seconds\n";
}

// Four tracks, the second one CD frame long with a pregap before it: every
// boundary falls inside a 4096-sample frame.
const std::string four_tracks = "FILE \"album.wav\" WAVE\n"
				"  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
				"  TRACK 02 AUDIO\n    INDEX 00 00:01:20\n    INDEX 01 00:02:10\n"
				"  TRACK 03 AUDIO\n    INDEX 01 00:02:11\n"
				"  TRACK 04 AUDIO\n    INDEX 01 00:04:00\n";
const std::vector<uint64_t> four_lengths = {94080, 588, 81732, 88200};

// Samples from to to (0: the end) of raw frames of frame_bytes.
std::vector<unsigned char> part(const std::vector<unsigned char> &raw, uint64_t from, uint64_t to, unsigned frame_bytes)
{
	return {raw.begin() + static_cast<std::ptrdiff_t>(from * frame_bytes),
		to ? raw.begin() + static_cast<std::ptrdiff_t>(to * frame_bytes) : raw.end()};
}

struct Cue : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);

	std::string make(const std::string &name, uint64_t frames, std::vector<std::string> tags = {},
			 unsigned rate = 44100, unsigned channels = 2)
	{
		flac_fixture f;
		f.rate = rate;
		f.channels = channels;
		f.samples = make_signal(signal_kind::music, 16, channels, frames, rate);
		if (!tags.empty())
			f.comment_blocks.push_back(std::move(tags));
		const std::string path = dir.file(name);
		EXPECT_TRUE(write_flac(path, f));
		return path;
	}
	void write_text(const std::string &name, const std::string &text)
	{
		ASSERT_TRUE(write_file(dir.file(name), {text.begin(), text.end()}));
	}
	// Imports cue text into the file as its CUESHEET block.
	void import_cue(const std::string &flac, const std::string &text)
	{
		write_text("import.cue", text);
		const std::string metaflac = std::filesystem::path(flac_tool()).replace_filename("metaflac");
		run_result r = run({metaflac, "--import-cuesheet-from=" + dir.file("import.cue"), flac});
		ASSERT_EQ(r.status, 0) << r.err;
	}
	run_result wendrop(std::vector<std::string> args)
	{
		return run(wendrop_args(std::move(args)), "", 60, {.env = env});
	}
	// What flac -d gives for a --cue range, as raw samples.
	std::vector<unsigned char> flac_cue(const std::string &flac, const std::string &range)
	{
		run_result r = run({flac_tool(), "-d", "-s", "-f", "--force-raw-format", "--endian=little",
				    "--sign=signed", "--cue=" + range, "-o", dir.file("ref.raw"), flac});
		EXPECT_EQ(r.status, 0) << r.err;
		return read_file(dir.file("ref.raw"));
	}
};

// Standard output's WAV streams, one per track, of the given sample frames
// (and bytes per frame).
std::vector<std::vector<unsigned char>> wav_streams(const std::string &out,
						    const std::vector<std::pair<uint64_t, unsigned>> &frames)
{
	std::vector<std::vector<unsigned char>> streams;
	std::size_t at = 0;
	for (auto [n, frame_bytes] : frames) {
		const std::size_t size = 68 + n * frame_bytes;
		if (out.compare(at, 4, "RIFF") != 0 || at + size > out.size())
			break;
		streams.emplace_back(out.begin() + static_cast<std::ptrdiff_t>(at + 68),
				     out.begin() + static_cast<std::ptrdiff_t>(at + size));
		at += size;
	}
	EXPECT_EQ(at, out.size());
	return streams;
}
}

TEST_F(Cue, BlockTracksAreFlacCueRangesTogetherTheWholeFileCheckedByItsSignature)
{
	const std::string album = make("album.flac", 264600, {"ARTIST=The Band", "TITLE=Whole", "DATE=2001"});
	import_cue(album, four_tracks);

	run_result r = wendrop({"-q", "--wav=-", album});
	EXPECT_EQ(r.status, 0);
	// Played from start to end, track after track: the MD5 signature holds.
	EXPECT_EQ(r.err, "");
	const auto streams = wav_streams(r.out, {{94080, 4}, {588, 4}, {81732, 4}, {88200, 4}});
	ASSERT_EQ(streams.size(), 4u);
	std::vector<unsigned char> joined;
	for (int n = 1; n <= 4; n++) {
		const std::string range = n < 4 ? std::to_string(n) + ".1-" + std::to_string(n + 1) + ".1" : "4.1";
		EXPECT_EQ(streams[n - 1], flac_cue(album, range)) << "track " << n;
		joined.insert(joined.end(), streams[n - 1].begin(), streams[n - 1].end());
	}
	EXPECT_EQ(joined, flac_reference(album, 16, dir.file("whole.raw")));

	// Announced track by track, the file's TITLE left out; a named WAV file
	// holds the last track.
	r = wendrop({"-w", dir.file("o.wav"), album});
	EXPECT_EQ(r.status, 0);
	const std::vector<std::string> seconds = {"2.13", "0.01", "1.85", "2.00"};
	std::string expected = "wendrop version 2.1.1   'wendrop --help' for more info\n";
	for (int n = 0; n < 4; n++)
		expected += announcement("Track 0" + std::to_string(n + 1), "The Band", "", "2001", "", "", "album.flac",
					 four_lengths[n], seconds[n]);
	EXPECT_EQ(r.out, expected);
	EXPECT_EQ(parse_wav(read_file(dir.file("o.wav"))).data, streams[3]);

	// Remote mode plays the whole stream.
	process p;
	ASSERT_TRUE(process_start(p, wendrop_args({"-R"}), {.env = env}));
	process_send(p, "LOAD " + album + "\n");
	EXPECT_TRUE(process_wait_stdout(p, "@F 264600 0 6.00 0.00\n@P 0\n", 10)) << p.out_text;
	EXPECT_EQ(process_finish(p, 10), 0);

	// Tracks played back to back to the stream's end check its signature.
	flac_fixture f;
	f.samples = make_signal(signal_kind::music, 16, 2, 264600, 44100);
	f.stated_md5 = std::array<unsigned char, 16>{1, 2, 3};
	ASSERT_TRUE(write_flac(album, f));
	import_cue(album, four_tracks);
	r = wendrop({"-q", "-w", dir.file("o.wav"), album});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "Damaged stream: " + album + " (MD5 mismatch)\n");
}

TEST_F(Cue, TitlesComeFromTheTagAndTheFileFillsTheRest)
{
	// An unquoted value is the whole rest of its line.
	const std::string text = "REM GENRE Rock\nREM DATE 1999\nPERFORMER The Band\nTITLE \"First Album\"\n"
				 "FILE \"x.flac\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
				 "  TRACK 02 AUDIO\n    PERFORMER \"Guest\"\n    INDEX 01 00:01:00\n";
	std::vector<std::string> tags = {"TITLE=Whole", "ARTIST=File Artist", "ALBUM=File Album", "DESCRIPTION=Live"};
	// A block with a sheet named for its file (flac --cuesheet=x.cue).
	const std::string named = make("x.flac", 88200, tags);
	import_cue(named, text);
	write_text("x.cue", text);
	// The tag alone, the tag titling a block with the same tracks, and a
	// tag behind a block that libFLAC refuses (a CD's without lead-in).
	tags.push_back("CUESHEET=" + text);
	const std::string tagged = make("tagged.flac", 88200, tags);
	const std::string both = make("both.flac", 88200, tags);
	import_cue(both, text);
	const std::string refused = make("refused.flac", 88200, tags);
	import_cue(refused, text);
	std::vector<unsigned char> bytes = read_file(refused);
	std::size_t at = 4;
	while ((bytes[at] & 0x7f) != 5)
		at += 4 + (std::size_t{bytes[at + 1]} << 16 | std::size_t{bytes[at + 2]} << 8 | bytes[at + 3]);
	std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at + 4 + 128), 8, 0);
	ASSERT_TRUE(write_file(refused, bytes));

	run_result r = wendrop({"-d", "null", tagged, both, dir.file("x.cue"), refused});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Error reading cue sheet " + refused + "\n");
	std::string expected = "wendrop version 2.1.1   'wendrop --help' for more info\n";
	for (const char *name : {"tagged.flac", "both.flac", "x.flac", "refused.flac"})
		expected += announcement("One", "The Band", "First Album", "1999", "Live", "Rock", name, 44100, "1.00") +
			    announcement("Track 02", "Guest", "First Album", "1999", "Live", "Rock", name, 44100, "1.00");
	EXPECT_EQ(r.out, expected);
}

TEST_F(Cue, AnExternalSheetCutsTheFilesItNamesInTurn)
{
	std::filesystem::create_directories(dir.file("rip"));
	const std::string album = make("rip/Album.flac", 132300);
	const std::string b = make("rip/Bj\xc3\xb6rk.flac", 16000, {}, 8000, 1);
	// Windows-1252 and CR-LF, as rippers on other systems write it, the
	// second file named in it and in UTF-8 on disk; Album.wav is
	// Album.flac. Numbered from 05. At 8 kHz a CD frame is 106.67 samples;
	// what lies before a file's first INDEX 01 is its first track's.
	write_text("rip/Album.cue", "PERFORMER \"Band\"\r\nTITLE \"Caf\xe9\"\r\nFILE \"Album.wav\" WAVE\r\n"
				    "  TRACK 05 AUDIO\r\n    TITLE \"Don\x92t Stop \x96 Now\x85\"\r\n    INDEX 01 00:00:00\r\n"
				    "  TRACK 06 AUDIO\r\n    INDEX 01 00:01:37\r\n"
				    "FILE \"Bj\xf6rk.flac\" WAVE\r\n  TRACK 07 AUDIO\r\n    INDEX 01 00:00:01\r\n"
				    "  TRACK 08 AUDIO\r\n    INDEX 01 00:01:37\r\n");
	run_result r = wendrop({"-q", "--wav=-", dir.file("rip/Album.cue")});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	const auto streams = wav_streams(r.out, {{65856, 4}, {66444, 4}, {11946, 2}, {4054, 2}});
	ASSERT_EQ(streams.size(), 4u);
	const std::vector<unsigned char> a = flac_reference(album, 16, dir.file("a.raw"));
	const std::vector<unsigned char> c = flac_reference(b, 16, dir.file("b.raw"));
	EXPECT_EQ(streams, (std::vector{part(a, 0, 65856, 4), part(a, 65856, 0, 4), part(c, 0, 11946, 2),
					 part(c, 11946, 0, 2)}));

	// Numbered as the sheet numbers them; its text as UTF-8.
	r = wendrop({"-d", "null", dir.file("rip/Album.cue")});
	EXPECT_NE(r.out.find("Title  : Don\xe2\x80\x99t Stop \xe2\x80\x93 Now\xe2\x80\xa6 "), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("Title  : Track 06"), std::string::npos);
	EXPECT_NE(r.out.find("Title  : Track 07"), std::string::npos);
	EXPECT_NE(r.out.find("\nAlbum  : Caf\xc3\xa9 "), std::string::npos) << r.out;
}

TEST_F(Cue, AFoldersSheetReplacesItsFilesAndNoCuePlaysThemWhole)
{
	std::filesystem::create_directories(dir.file("lib"));
	make("lib/Album.flac", 88200);
	make("lib/other.flac", 4410);
	make("outside.flac", 4410);
	write_text("lib/Album.cue", "FILE \"Album.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
				    "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n");
	// Another sheet for the same album, and one for a file elsewhere, are
	// none of the folder's; a junk one is told.
	write_text("lib/Album.flac.cue", "FILE \"Album.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
	write_text("lib/away.cue", "FILE \"../outside.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
	write_text("lib/junk.cue", "not a cue sheet\n\x01\x02");
	const std::string lib = dir.file("lib");

	run_result r = wendrop({"-d", "null", lib});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Error reading cue sheet " + dir.file("lib/junk.cue") + "\n");
	EXPECT_EQ(played_names(r.out), (std::vector<std::string>{"Album.flac", "Album.flac", "other.flac"}));
	EXPECT_EQ(r.out.find("Title  : Track 02"), r.out.rfind("Title  : Track 02"));
	// A junk sheet in a folder leaves no audio out.
	r = wendrop({"-q", "-w", dir.file("o.wav"), lib});
	EXPECT_EQ(r.status, 0);

	r = wendrop({"-d", "null", "--no-cue", lib, dir.file("lib/Album.cue")});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(played_names(r.out), (std::vector<std::string>{"Album.flac", "other.flac", "Album.flac"}));
	EXPECT_EQ(r.out.find("Track 0"), std::string::npos);
}

TEST_F(Cue, SheetsThatCannotBeUsedAreOneLineAndTheFilesPlayWhole)
{
	const std::string album = make("album.flac", 88200);
	const std::string header = "FILE \"album.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
	struct {
		std::string text;
		int played;  // entries of album.flac
		int status;  // of a WAV conversion
	} rows[] = {
		{"not a cue sheet\n", 0, 1},
		{"FILE \"gone.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", 0, 1},
		// Out of order, or no INDEX 01: the file plays whole.
		{header + "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n", 1, 0},
		{header + "  TRACK 02 AUDIO\n    INDEX 00 00:01:00\n", 1, 0},
		// Beyond the stream's end: that track is dropped, the rest stands.
		{header + "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n  TRACK 03 AUDIO\n    INDEX 01 00:02:00\n", 2, 0},
	};
	for (const auto &row : rows) {
		write_text("sheet.cue", row.text);
		run_result r = wendrop({"-w", dir.file("o.wav"), dir.file("sheet.cue")});
		EXPECT_EQ(r.status, row.status) << row.text;
		// libcue's own messages are not shown: this line is all.
		EXPECT_EQ(r.err, "Error reading cue sheet " + dir.file("sheet.cue") + "\n") << row.text;
		EXPECT_EQ(played_names(r.out).size(), static_cast<std::size_t>(row.played)) << row.text;
	}
	// A stream's own sheet, in its tag, with a track without INDEX 01.
	const std::string tagged = make("bad.flac", 88200, {"CUESHEET=FILE x WAVE\n  TRACK 01 AUDIO\n"});
	run_result r = wendrop({"-d", "null", tagged});
	EXPECT_EQ(r.err, "Error reading cue sheet " + tagged + "\n");
	EXPECT_EQ(played_names(r.out).size(), 1u);
}

// Every sample of every file, in a folder of per-track files that hold
// their gaps ("gaps prepended") and in images with audio before the first
// INDEX 01: a pregap begins the first track, a hidden track (10 s or more)
// is an entry of its own.
TEST_F(Cue, AudioBeforeAFilesFirstIndexIsNeverDropped)
{
	std::filesystem::create_directories(dir.file("gaps"));
	std::vector<std::string> files;
	for (uint64_t frames : {8000, 24000, 16000})
		files.push_back(make("gaps/0" + std::to_string(files.size() + 1) + ".flac", frames, {}, 8000, 1));
	write_text("gaps/Album.cue", "TITLE \"Gaps\"\nFILE \"01.flac\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n"
				     "    INDEX 01 00:00:00\nFILE \"02.flac\" WAVE\n  TRACK 02 AUDIO\n    TITLE \"Two\"\n"
				     "    INDEX 00 00:00:00\n    INDEX 01 00:02:00\nFILE \"03.flac\" WAVE\n  TRACK 03 AUDIO\n"
				     "    INDEX 00 00:00:00\n    INDEX 01 00:01:37\n");
	run_result r = wendrop({"-q", "--wav=-", dir.file("gaps")});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::vector<std::vector<unsigned char>> whole;
	for (const std::string &f : files)
		whole.push_back(flac_reference(f, 16, dir.file("ref.raw")));
	EXPECT_EQ(wav_streams(r.out, {{8000, 2}, {24000, 2}, {16000, 2}}), whole);
	r = wendrop({"-d", "null", dir.file("gaps")});
	for (const char *line : {"Title  : One ", "Title  : Two ", "Title  : Track 03 ", "Album  : Gaps "})
		EXPECT_NE(r.out.find(line), std::string::npos) << line;

	const std::string image = make("image.flac", 104000, {}, 8000, 1);
	const std::vector<unsigned char> all = flac_reference(image, 16, dir.file("image.raw"));
	struct {
		std::string indexes;  // of tracks 01 and 02
		std::vector<std::pair<uint64_t, unsigned>> streams;
		std::string first;    // the first entry's title
	} images[] = {
		{"    INDEX 00 00:00:00\n    INDEX 01 00:05:00\n  TRACK 02 AUDIO\n    INDEX 01 00:08:00\n",
		 {{64000, 2}, {40000, 2}}, "Track 01"},
		{"    INDEX 01 00:10:00\n  TRACK 02 AUDIO\n    INDEX 01 00:12:00\n", {{80000, 2}, {16000, 2}, {8000, 2}},
		 "Track 00"},
	};
	for (const auto &row : images) {
		write_text("image.cue", "FILE \"image.flac\" WAVE\n  TRACK 01 AUDIO\n" + row.indexes);
		r = wendrop({"-q", "--wav=-", dir.file("image.cue")});
		EXPECT_EQ(r.status, 0);
		std::vector<unsigned char> joined;
		for (const auto &s : wav_streams(r.out, row.streams))
			joined.insert(joined.end(), s.begin(), s.end());
		EXPECT_EQ(joined, all) << row.indexes;
		r = wendrop({"-d", "null", dir.file("image.cue")});
		EXPECT_EQ(r.out.find("Title  : "), r.out.find("Title  : " + row.first)) << r.out;
	}
}

// An image cut short (a download stopped) with the sheet of the whole: the
// tracks past its data play nothing, and its early end is told once,
// whichever of its tracks meets it first.
TEST_F(Cue, TracksPastTheEndOfACutImageAreToldOnce)
{
	flac_fixture f;
	f.rate = 8000;
	f.channels = 1;
	f.blocksize = 1000;
	f.samples = make_signal(signal_kind::music, 16, 1, 64000, 8000);
	flac_layout layout;
	const std::vector<unsigned char> bytes = encode_flac(f, &layout);
	ASSERT_EQ(layout.frames.size(), 64u);
	const std::string cut = dir.file("cut.flac");
	ASSERT_TRUE(write_file(dir.file("whole.flac"), bytes));
	const std::vector<unsigned char> data = flac_reference(dir.file("whole.flac"), 16, dir.file("whole.raw"));
	write_text("cut.cue", "FILE \"cut.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
			      "    INDEX 01 00:02:00\n  TRACK 03 AUDIO\n    INDEX 01 00:05:00\n  TRACK 04 AUDIO\n"
			      "    INDEX 01 00:06:00\n");
	// Cut in track 2: it ends early, and 3 and 4 are past the end.
	ASSERT_TRUE(write_file(cut, {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(layout.frames[30])}));
	run_result r = wendrop({"-q", "--wav=-", dir.file("cut.cue")});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "Stream ended early: " + cut + " (30000 of 64000 samples)\n");
	EXPECT_EQ(wav_streams(r.out, {{16000, 2}, {14000, 2}}), (std::vector{part(data, 0, 16000, 2), part(data, 16000, 30000, 2)}));

	// Cut where track 2 begins: in any order, the first of tracks 2-4
	// tells it, where seeking finds the data ends.
	ASSERT_TRUE(write_file(cut, {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(layout.frames[16])}));
	for (int round = 0; round < 4; round++) {
		r = wendrop({"-q", "-z", "-w", dir.file("o.wav"), dir.file("cut.cue")});
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.err, "Stream ended early: " + cut + " (16000 of 64000 samples)\n");
	}
}

// A chained Ogg file whose first link has a cue sheet: the next link is
// no track of it, and plays whole with its own length.
TEST_F(Cue, AChainsLaterLinksAreNotCutByTheFirstLinksSheet)
{
	std::vector<unsigned char> chain;
	for (long serial : {1, 2}) {
		flac_fixture f;
		f.ogg = true;
		f.ogg_serial = serial;
		f.samples = make_signal(signal_kind::music, 16, 2, 88200, 44100, static_cast<uint32_t>(serial));
		if (serial == 1)
			f.comment_blocks = {{"CUESHEET=FILE x WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
					     " TRACK 02 AUDIO\n  INDEX 01 00:01:00\n"}};
		const std::vector<unsigned char> link = encode_flac(f);
		chain.insert(chain.end(), link.begin(), link.end());
	}
	const std::string path = dir.file("chain.oga");
	ASSERT_TRUE(write_file(path, chain));
	run_result r = wendrop({"-d", "null", path});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "wendrop version 2.1.1   'wendrop --help' for more info\n" +
				 announcement("Track 01", "", "", "", "", "", "chain.oga", 44100, "1.00") +
				 announcement("Track 02", "", "", "", "", "", "chain.oga", 44100, "1.00") +
				 announcement("", "", "", "", "", "", "chain.oga", 88200, "2.00"));
	r = wendrop({"-q", "--wav=-", path});
	const auto streams = wav_streams(r.out, {{44100, 4}, {132300, 4}});
	ASSERT_EQ(streams.size(), 2u);
	EXPECT_EQ(streams[1].size(), 132300u * 4);
}
