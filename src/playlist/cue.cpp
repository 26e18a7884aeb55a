// The tracks that cue text gives, in samples of a stream.
#include "playlist/cue.h"

namespace {
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
