// Cue sheets: the tracks of an album kept as one file. Cue text is read
// with libcue; where a track lies is told in samples of its stream. What a
// stream says of itself (its CUESHEET block and tag, its rate and length)
// is asked of the playback room through playlist_settings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// One track of a cue sheet: a sample range of one stream, and what the
/// sheet says of it. Texts are UTF-8 as the sheet gives them (not yet in
/// printable form); empty where the sheet says nothing.
struct cue_track {
	int number = 0;       // the sheet's TRACK number (else its place there); a hidden track's is one less
	uint64_t start = 0;   // its first sample: its INDEX 01 (the first track's: 0)
	uint64_t end = 0;     // the next track's start; 0: the stream's end
	std::string title{};      // its own TITLE only
	std::string performer{};  // its PERFORMER, else the album's
	std::string album{};      // the sheet's TITLE
	std::string date{};       // REM DATE
	std::string genre{};      // REM GENRE
};

/// A track of a CUESHEET metadata block, where its INDEX 01 lies.
struct cue_point {
	int number;
	int64_t start;  // in samples; -1 when the track has no INDEX 01
};

/// What a FLAC stream says of itself, for its tracks.
struct stream_cue_facts {
	int rate = 0;        // samples per second (STREAMINFO)
	uint64_t total = 0;  // samples; 0 when not stated
	bool has_block = false;    // a CUESHEET block
	bool block_legal = false;  // ... that libFLAC finds legal
	std::vector<cue_point> block_tracks;  // its tracks, the lead-out left out
	bool has_tag = false;      // a CUESHEET comment ...
	std::string tag;           // ... holding cue text
};

/// Cue text as libcue reads it.
struct cue_sheet {
	struct track {
		std::string file;  // the FILE it is in, as written (bytes for a path)
		long index1;       // INDEX 01 in CD frames (75 a second); -1 when none
		std::string title, performer, date, genre;
		int number = 0;    // its TRACK number; 0 when the line has none
	};
	std::string title, performer, date, genre;  // the album's
	std::vector<track> tracks;
	bool utf8 = true;  // the text was UTF-8 (else Windows-1252, FILE names too)
};

/// Fields whose value libcue reads as one word unless it is quoted.
enum cue_quoted_field { cue_title, cue_performer, cue_songwriter };

/// Cue text made fit for libcue, and what libcue does not give back of it.
struct cue_prepared {
	std::string text;          // each line ends with a line feed
	std::vector<int> numbers;  // each TRACK line's number, in order (0: none)
	// The values quoted here with backslashes in them: (the TRACK lines
	// before it, 0 for the album's; a cue_quoted_field).
	std::vector<std::pair<int, int>> escaped;
};
/// Cue text as rippers write it, for libcue: a TITLE, PERFORMER or
/// SONGWRITER value not in quotes is the rest of its line, quoted (its
/// quotes and backslashes escaped, as told in escaped), so that libcue
/// reads it whole rather than its first word; every line ends with a line
/// feed, as libcue's grammar needs, the last one too.
cue_prepared cue_prepare(std::string_view text);
/// A value that cue_prepare escaped, as it was written.
std::string cue_unescaped(std::string_view value);
/// Windows-1252 text in UTF-8: Latin-1 outside 0x80-0x9F, where a byte
/// without a character stands for its own code point.
std::string cp1252_to_utf8(std::string_view s);

/// Cue text bigger than this is not read.
inline constexpr std::size_t cue_text_max = 1 << 20;

/// Reads cue text with libcue, in a child process of its own: whatever the
/// text makes libcue do (crash, leak, print) ends with that child, and its
/// messages never reach standard error. A UTF-8 byte-order mark is dropped,
/// and the text is made fit for libcue first (cue_prepare); texts (not FILE
/// names) of cue text that is not valid UTF-8 are read as Windows-1252.
/// false when libcue cannot read it, it is too big or it holds no track.
bool cue_parse(std::string_view text, cue_sheet *sheet);
/// The same, with libcue in this process (what the child runs): libcue
/// writes on standard error, and keeps what it built of text that does not
/// parse. For the fuzz harness.
bool cue_parse_here(std::string_view text, cue_sheet *sheet);

/// What turning a sheet into tracks found.
enum cue_verdict {
	cue_ok,
	cue_bad,  // a track without INDEX 01, or out of order, or none at all: play the stream whole
	cue_cut,  // tracks at or beyond the stream's end were dropped; the others stand
	cue_stood_in,  // the stream's CUESHEET block cannot be used: its tag's tracks stand in
};

/// The tracks of sheet that lie in file (every track when file is null: the
/// sheet of a stream itself), for a stream of rate samples a second and
/// total samples (0: not known). A sheet that names several files has cut
/// the album already: a file of one track plays whole, as that track. A
/// file of several tracks is an image: a time mm:ss:ff is (mm*60+ss)*rate +
/// ff*rate/75 samples, rounded down; each track ends where the next one's
/// INDEX 01 begins it, the last at the stream's end; INDEX 01 points must
/// rise. What lies before the first INDEX 01 begins the first track, or,
/// 10 s or longer (a hidden track), is an entry of its own before it, with
/// no title. Gives a cue_verdict; *tracks is empty for cue_bad.
int cue_tracks(const cue_sheet &sheet, const std::string *file, int rate, uint64_t total,
	       std::vector<cue_track> *tracks);
/// The tracks a stream's own cue sheet gives, as cue_tracks cuts an image:
/// its CUESHEET block's points with the texts of named (a cue sheet that
/// names the stream as file) when that has as many tracks for it, else of
/// its CUESHEET tag when that has as many (the block holds no texts); a
/// block that cannot be used gives way to a good tag (cue_stood_in);
/// without a block, its tag's. A cue_verdict; cue_ok with no tracks when
/// the stream has no cue sheet.
int stream_tracks(const stream_cue_facts &facts, std::vector<cue_track> *tracks, const cue_sheet *named = nullptr,
		  const std::string *file = nullptr);

/// Whether the whole of text is UTF-8.
bool utf8_valid(std::string_view text);
