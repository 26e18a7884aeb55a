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
	const std::string text = "REM GENRE Rock\nREM DATE 1999\nPERFORMER \"The Band\"\nTITLE \"First Album\"\n"
				 "FILE \"x.flac\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
				 "  TRACK 02 AUDIO\n    PERFORMER \"Guest\"\n    INDEX 01 00:01:00\n";
	const std::vector<std::string> tags = {"TITLE=Whole", "ARTIST=File Artist", "ALBUM=File Album",
					       "DESCRIPTION=Live", "CUESHEET=" + text};
	// The tag alone, and the tag titling a block with the same tracks.
	const std::string tagged = make("tagged.flac", 88200, tags);
	const std::string both = make("both.flac", 88200, tags);
	import_cue(both, text);
	run_result r = wendrop({"-d", "null", tagged, both});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::string expected = "wendrop version 2.1.1   'wendrop --help' for more info\n";
	for (const char *name : {"tagged.flac", "both.flac"})
		expected += announcement("One", "The Band", "First Album", "1999", "Live", "Rock", name, 44100, "1.00") +
			    announcement("Track 02", "Guest", "First Album", "1999", "Live", "Rock", name, 44100, "1.00");
	EXPECT_EQ(r.out, expected);
}

TEST_F(Cue, AnExternalSheetCutsTheFilesItNamesInTurn)
{
	std::filesystem::create_directories(dir.file("rip"));
	const std::string album = make("rip/Album.flac", 132300);
	const std::string b = make("rip/b.flac", 16000, {}, 8000, 1);
	// Latin-1 and CR-LF, as rippers on other systems write it; Album.wav is
	// Album.flac on disk. At 8 kHz a CD frame is 106.67 samples.
	write_text("rip/Album.cue", "PERFORMER \"Band\"\r\nTITLE \"Caf\xe9\"\r\nFILE \"Album.wav\" WAVE\r\n"
				    "  TRACK 01 AUDIO\r\n    TITLE \"Stra\xdf" "e\"\r\n    INDEX 01 00:00:00\r\n"
				    "  TRACK 02 AUDIO\r\n    INDEX 01 00:01:37\r\n"
				    "FILE \"b.flac\" WAVE\r\n  TRACK 03 AUDIO\r\n    INDEX 01 00:00:01\r\n"
				    "  TRACK 04 AUDIO\r\n    INDEX 01 00:01:37\r\n");
	run_result r = wendrop({"-q", "--wav=-", dir.file("rip/Album.cue")});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	const auto streams = wav_streams(r.out, {{65856, 4}, {66444, 4}, {11840, 2}, {4054, 2}});
	ASSERT_EQ(streams.size(), 4u);
	const std::vector<unsigned char> a = flac_reference(album, 16, dir.file("a.raw"));
	const std::vector<unsigned char> c = flac_reference(b, 16, dir.file("b.raw"));
	EXPECT_EQ(streams, (std::vector{part(a, 0, 65856, 4), part(a, 65856, 0, 4), part(c, 106, 11946, 2),
					 part(c, 11946, 0, 2)}));

	// Numbered in the sheet's order, across its files; the Latin-1 text as
	// UTF-8.
	r = wendrop({"-d", "null", dir.file("rip/Album.cue")});
	EXPECT_NE(r.out.find("Title  : Track 03"), std::string::npos);
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
