// Cue text read with libcue, and the tracks it gives in samples of a stream.
#include "playlist/cue.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include <libcue/libcue.h>

namespace {
// Latin-1 into UTF-8: every byte is the code point of its value.
std::string latin1_to_utf8(std::string_view s)
{
	std::string out;
	for (const char c : s) {
		const unsigned char b = static_cast<unsigned char>(c);
		if (b < 0x80) {
			out += c;
		} else {
			out += static_cast<char>(0xc0 | (b >> 6));
			out += static_cast<char>(0x80 | (b & 0x3f));
		}
	}
	return out;
}

// libcue writes a line on standard error for every character and line it
// cannot parse (to stderr, whatever FILE that is). The caller's one line
// says it instead, so descriptor 2 points at /dev/null for the call; only
// the descriptor is touched, the FILE stays.
Cd *parse_quietly(const std::string &text)
{
	fflush(stderr);
	const int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
	const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
	const bool hidden = saved >= 0 && null >= 0 && dup2(null, STDERR_FILENO) == STDERR_FILENO;
	Cd *cd = cue_parse_string(text.c_str());
	fflush(stderr);
	if (hidden)
		dup2(saved, STDERR_FILENO);
	if (saved >= 0)
		close(saved);
	if (null >= 0)
		close(null);
	return cd;
}

std::string text_of(const char *s, bool utf8)
{
	if (!s)
		return "";
	return utf8 ? std::string(s) : latin1_to_utf8(s);
}

// The samples of a time of frames CD frames (75 a second), rounded down as
// (mm*60+ss)*rate + ff*rate/75.
uint64_t frames_to_samples(long frames, int rate)
{
	const uint64_t f = static_cast<uint64_t>(frames), r = static_cast<uint64_t>(rate);
	return f / 75 * r + f % 75 * r / 75;
}

// Track t of sheet, numbered number, from sample start: its own texts, else
// the album's; its title is its own alone.
cue_track described(const cue_sheet &sheet, const cue_sheet::track &t, int number, uint64_t start)
{
	return {number, start, 0, t.title, t.performer.empty() ? sheet.performer : t.performer, sheet.title,
		t.date.empty() ? sheet.date : t.date, t.genre.empty() ? sheet.genre : t.genre};
}

// Ends each track where the next begins, and drops those that begin at or
// beyond the stream's end. A cue_verdict.
int settle(std::vector<cue_track> *tracks, uint64_t total)
{
	for (std::size_t i = 1; i < tracks->size(); i++)
		if ((*tracks)[i].start <= (*tracks)[i - 1].start) {
			tracks->clear();
			return cue_bad;
		}
	int verdict = cue_ok;
	while (total && !tracks->empty() && tracks->back().start >= total) {
		tracks->pop_back();
		verdict = cue_cut;
	}
	if (tracks->empty())
		return cue_bad;
	for (std::size_t i = 0; i + 1 < tracks->size(); i++)
		(*tracks)[i].end = (*tracks)[i + 1].start;
	tracks->back().end = 0;
	return verdict;
}
}

bool cue_parse(std::string_view text, cue_sheet *sheet)
{
	if (text.starts_with("\xef\xbb\xbf"))
		text.remove_prefix(3);
	if (text.size() > cue_text_max)
		return false;
	const bool utf8 = utf8_valid(text);
	Cd *cd = parse_quietly(std::string(text));
	if (!cd)
		return false;
	*sheet = {};
	const Cdtext *album = cd_get_cdtext(cd);
	sheet->title = text_of(cdtext_get(PTI_TITLE, album), utf8);
	sheet->performer = text_of(cdtext_get(PTI_PERFORMER, album), utf8);
	// libcue reads "REM GENRE" as the album's GENRE.
	sheet->genre = text_of(cdtext_get(PTI_GENRE, album), utf8);
	sheet->date = text_of(rem_get(REM_DATE, cd_get_rem(cd)), utf8);
	for (int i = 1; i <= cd_get_ntrack(cd); i++) {
		const Track *t = cd_get_track(cd, i);
		const Cdtext *own = track_get_cdtext(t);
		const char *file = track_get_filename(t);
		// libcue's times wrap past 2^31 frames into negative values.
		const long index1 = track_get_index(t, 1);
		sheet->tracks.push_back({file ? file : "", index1 < 0 ? -1 : index1,
					 text_of(cdtext_get(PTI_TITLE, own), utf8),
					 text_of(cdtext_get(PTI_PERFORMER, own), utf8),
					 text_of(rem_get(REM_DATE, track_get_rem(t)), utf8),
					 text_of(cdtext_get(PTI_GENRE, own), utf8)});
	}
	cd_delete(cd);
	return !sheet->tracks.empty();
}

int cue_tracks(const cue_sheet &sheet, const std::string *file, int rate, uint64_t total,
	       std::vector<cue_track> *tracks)
{
	tracks->clear();
	if (rate <= 0)
		return cue_bad;
	int number = 0;
	for (const cue_sheet::track &t : sheet.tracks) {
		number++;
		if (file && t.file != *file)
			continue;
		if (t.index1 < 0) {
			tracks->clear();
			return cue_bad;
		}
		tracks->push_back(described(sheet, t, number, frames_to_samples(t.index1, rate)));
	}
	return settle(tracks, total);
}

int stream_tracks(const stream_cue_facts &facts, std::vector<cue_track> *tracks)
{
	tracks->clear();
	cue_sheet sheet;
	const bool tag_read = facts.has_tag && cue_parse(facts.tag, &sheet);
	if (!facts.has_block) {
		if (!facts.has_tag)
			return cue_ok;
		return tag_read ? cue_tracks(sheet, nullptr, facts.rate, facts.total, tracks) : cue_bad;
	}
	if (!facts.block_legal || facts.block_tracks.empty())
		return cue_bad;
	// The block holds where the tracks lie, and no text: the tag's titles
	// go with it when they are as many.
	const bool titled = tag_read && sheet.tracks.size() == facts.block_tracks.size();
	for (std::size_t i = 0; i < facts.block_tracks.size(); i++) {
		const cue_point &p = facts.block_tracks[i];
		if (p.start < 0) {
			tracks->clear();
			return cue_bad;
		}
		const uint64_t start = static_cast<uint64_t>(p.start);
		tracks->push_back(titled ? described(sheet, sheet.tracks[i], p.number, start)
					 : cue_track{.number = p.number, .start = start});
	}
	return settle(tracks, facts.total);
}
