// The tracks that cue text gives, in samples of a stream.
#include "playlist/cue.h"

#include <algorithm>

namespace {
// Audio before an image's first track at least this long is a track of its
// own (a hidden track); shorter, it is the first track's pregap.
constexpr uint64_t hidden_track_seconds = 10;

// The samples of a time of frames CD frames (75 a second), rounded down as
// (mm*60+ss)*rate + ff*rate/75.
uint64_t frames_to_samples(long frames, int rate)
{
	const uint64_t f = static_cast<uint64_t>(frames), r = static_cast<uint64_t>(rate);
	return f / 75 * r + f % 75 * r / 75;
}

// What the sheet says of the album, as a track with no text of its own.
cue_track album_of(const cue_sheet &sheet)
{
	return {.performer = sheet.performer, .album = sheet.title, .date = sheet.date, .genre = sheet.genre};
}

// Track t of sheet, numbered number, from sample start: its own texts, else
// the album's; its title is its own alone.
cue_track described(const cue_sheet &sheet, const cue_sheet::track &t, int number, uint64_t start)
{
	cue_track d = album_of(sheet);
	d.number = number;
	d.start = start;
	d.title = t.title;
	if (!t.performer.empty())
		d.performer = t.performer;
	if (!t.date.empty())
		d.date = t.date;
	if (!t.genre.empty())
		d.genre = t.genre;
	return d;
}

// Tracks of a sheet, each with the number it is shown with.
using numbered_tracks = std::vector<std::pair<const cue_sheet::track *, int>>;

// The tracks of sheet in file (all of them when file is null), numbered by
// their TRACK lines, else by their places in the sheet.
numbered_tracks tracks_in(const cue_sheet &sheet, const std::string *file)
{
	numbered_tracks in;
	int place = 0;
	for (const cue_sheet::track &t : sheet.tracks) {
		place++;
		if (!file || t.file == *file)
			in.push_back({&t, t.number > 0 ? t.number : place});
	}
	return in;
}

// Ends each track where the next begins, and drops those that begin at or
// beyond the stream's end. What lies before the first track is its own:
// long enough to be a hidden track, an entry of its own with the album's
// texts (lead's); else the start of the first. A cue_verdict.
int settle(std::vector<cue_track> *tracks, uint64_t total, int rate, cue_track lead)
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
	cue_track &first = tracks->front();
	if (first.start >= hidden_track_seconds * static_cast<uint64_t>(rate)) {
		lead.number = first.number > 0 ? first.number - 1 : 0;
		tracks->insert(tracks->begin(), lead);
	} else {
		first.start = 0;
	}
	for (std::size_t i = 0; i + 1 < tracks->size(); i++)
		(*tracks)[i].end = (*tracks)[i + 1].start;
	tracks->back().end = 0;
	return verdict;
}

// The tracks of a stream's CUESHEET block, with the texts of texts (its
// tracks in file) when it has as many. A cue_verdict.
int block_tracks(const stream_cue_facts &facts, const cue_sheet *texts, const std::string *file,
		 std::vector<cue_track> *tracks)
{
	const numbered_tracks titled = texts ? tracks_in(*texts, file) : numbered_tracks{};
	const bool take_texts = texts && titled.size() == facts.block_tracks.size();
	for (std::size_t i = 0; i < facts.block_tracks.size(); i++) {
		const cue_point &p = facts.block_tracks[i];
		if (p.start < 0) {
			tracks->clear();
			return cue_bad;
		}
		const uint64_t start = static_cast<uint64_t>(p.start);
		tracks->push_back(take_texts ? described(*texts, *titled[i].first, p.number, start)
					     : cue_track{.number = p.number, .start = start});
	}
	return settle(tracks, facts.total, facts.rate, take_texts ? album_of(*texts) : cue_track{});
}
}

int cue_tracks(const cue_sheet &sheet, const std::string *file, int rate, uint64_t total,
	       std::vector<cue_track> *tracks)
{
	tracks->clear();
	if (rate <= 0)
		return cue_bad;
	const auto in = tracks_in(sheet, file);
	// A file of its own for each track (as rippers leave them, with or
	// without the gap before each): already cut, it plays whole.
	const bool per_track = file && in.size() == 1 &&
			       std::any_of(sheet.tracks.begin(), sheet.tracks.end(),
					   [&](const cue_sheet::track &t) { return t.file != *file; });
	if (per_track) {
		tracks->push_back(described(sheet, *in[0].first, in[0].second, 0));
		return cue_ok;
	}
	for (const auto &[t, number] : in) {
		if (t->index1 < 0) {
			tracks->clear();
			return cue_bad;
		}
		tracks->push_back(described(sheet, *t, number, frames_to_samples(t->index1, rate)));
	}
	return settle(tracks, total, rate, album_of(sheet));
}

int stream_tracks(const stream_cue_facts &facts, std::vector<cue_track> *tracks, const cue_sheet *named,
		  const std::string *file)
{
	tracks->clear();
	cue_sheet tag;
	const bool tag_read = facts.has_tag && cue_parse(facts.tag, &tag);
	if (!facts.has_block) {
		if (!facts.has_tag)
			return cue_ok;
		return tag_read ? cue_tracks(tag, nullptr, facts.rate, facts.total, tracks) : cue_bad;
	}
	if (!facts.block_legal || facts.block_tracks.empty()) {
		// Taggers write blocks that libFLAC rightly refuses (a CD's with no
		// lead-in): a good tag stands in for it, as a .cue file would.
		if (tag_read && cue_tracks(tag, nullptr, facts.rate, facts.total, tracks) != cue_bad)
			return cue_stood_in;
		tracks->clear();
		return cue_bad;
	}
	// The block holds where the tracks lie, and no text: a sheet named for
	// the stream gives its texts, else the tag, when they have as many.
	const std::string *named_file = named ? file : nullptr;
	if (named && tracks_in(*named, named_file).size() == facts.block_tracks.size())
		return block_tracks(facts, named, named_file, tracks);
	return block_tracks(facts, tag_read ? &tag : nullptr, nullptr, tracks);
}
