// What a FLAC file says of its tracks, read with libFLAC's metadata
// interfaces apart from any decoder: for the list, before it plays.
#include "playback/tags.h"

#include <FLAC/metadata.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {
void take_cue_block(const FLAC__StreamMetadata_CueSheet &cs, stream_cue_facts *facts)
{
	facts->has_block = true;
	facts->block_legal = FLAC__format_cuesheet_is_legal(&cs, cs.is_cd, nullptr);
	facts->block_tracks.clear();
	// The last track is the lead-out: where the disc ends, no track.
	for (uint32_t i = 0; i + 1 < cs.num_tracks; i++) {
		const FLAC__StreamMetadata_CueSheet_Track &t = cs.tracks[i];
		int64_t start = -1;
		for (uint32_t k = 0; k < t.num_indices; k++)
			if (t.indices[k].number == 1)
				start = static_cast<int64_t>(t.offset + t.indices[k].offset);
		facts->block_tracks.push_back({t.number, start});
	}
}

void take_cue_tag(const FLAC__StreamMetadata_VorbisComment &vc, stream_cue_facts *facts)
{
	static constexpr std::string_view name = "CUESHEET=";
	for (uint32_t i = 0; i < vc.num_comments && !facts->has_tag; i++) {
		const FLAC__StreamMetadata_VorbisComment_Entry &e = vc.comments[i];
		const char *text = reinterpret_cast<const char *>(e.entry);
		if (e.entry && e.length >= name.size() && strncasecmp(text, name.data(), name.size()) == 0) {
			facts->has_tag = true;
			facts->tag.assign(text + name.size(), e.length - name.size());
		}
	}
}

void take_block(const FLAC__StreamMetadata &block, stream_cue_facts *facts)
{
	if (block.type == FLAC__METADATA_TYPE_STREAMINFO) {
		facts->rate = static_cast<int>(block.data.stream_info.sample_rate);
		facts->total = block.data.stream_info.total_samples;
	} else if (block.type == FLAC__METADATA_TYPE_CUESHEET) {
		take_cue_block(block.data.cue_sheet, facts);
	} else if (block.type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
		take_cue_tag(block.data.vorbis_comment, facts);
	}
}

}

void cue_facts_take(const FLAC__StreamMetadata &block, stream_cue_facts *facts)
{
	take_block(block, facts);
}

namespace {
bool wanted(FLAC__MetadataType type)
{
	return type == FLAC__METADATA_TYPE_STREAMINFO || type == FLAC__METADATA_TYPE_CUESHEET ||
	       type == FLAC__METADATA_TYPE_VORBIS_COMMENT;
}

// Native FLAC, block by block: only the blocks wanted are read whole, so a
// file's pictures cost a seek each.
int read_native(const char *path, stream_cue_facts *facts)
{
	FLAC__Metadata_SimpleIterator *it = FLAC__metadata_simple_iterator_new();
	if (!it)
		return 0;
	int read = FLAC__metadata_simple_iterator_init(it, path, true, false);
	if (read) {
		do {
			if (!wanted(FLAC__metadata_simple_iterator_get_block_type(it)))
				continue;
			if (FLAC__StreamMetadata *block = FLAC__metadata_simple_iterator_get_block(it)) {
				take_block(*block, facts);
				FLAC__metadata_object_delete(block);
			}
		} while (FLAC__metadata_simple_iterator_next(it));
	}
	FLAC__metadata_simple_iterator_delete(it);
	return read;
}

// Ogg FLAC, which only libFLAC's chain reads. Anything else is not handed
// to it: its Ogg reader would look for a page through the whole file.
int read_ogg(const char *path, stream_cue_facts *facts)
{
	char magic[4] = {};
	if (FILE *f = fopen(path, "rbe")) {
		if (fread(magic, 1, sizeof magic, f) != sizeof magic)
			magic[0] = 0;
		fclose(f);
	}
	if (memcmp(magic, "OggS", 4) != 0)
		return 0;
	FLAC__Metadata_Chain *chain = FLAC__metadata_chain_new();
	if (!chain)
		return 0;
	int read = FLAC__metadata_chain_read_ogg(chain, path);
	FLAC__Metadata_Iterator *it = read ? FLAC__metadata_iterator_new() : nullptr;
	if (it) {
		FLAC__metadata_iterator_init(it, chain);
		do
			take_block(*FLAC__metadata_iterator_get_block(it), facts);
		while (FLAC__metadata_iterator_next(it));
		FLAC__metadata_iterator_delete(it);
	}
	FLAC__metadata_chain_delete(chain);
	return read && it;
}
}

int read_cue_facts(const char *path, stream_cue_facts *facts)
{
	*facts = {};
	// A FIFO cannot be read twice, and one without a writer would wait.
	struct stat st;
	if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
		return 0;
	if (!read_native(path, facts) && !read_ogg(path, facts))
		return 0;
	return facts->rate > 0;
}
