// Tag reader: the first VORBIS_COMMENT block that names a known tag.
#include "playback/stream.h"
#include "playback/printable.h"
#include "playback/tags.h"

#include <FLAC/metadata.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <strings.h>

namespace {
struct tag_field {
	const char *name;
	std::size_t field_offset;
	int width;
};
}

// COMMENT is what sox, EasyTag and foobar2000 write for the comment;
// DESCRIPTION, where a stream has both, is the one shown.
static constexpr tag_field tag_fields[] = {
	{"artist", offsetof(stream_record, artist), tag_width},
	{"album", offsetof(stream_record, album), tag_width},
	{"title", offsetof(stream_record, title), tag_width},
	{"genre", offsetof(stream_record, genre), tag_width},
	{"description", offsetof(stream_record, comment), tag_width},
	{"date", offsetof(stream_record, year), year_width},
	{"comment", offsetof(stream_record, comment), tag_width},
};
static constexpr std::size_t description = 4, comment = 6;

// The value's first width characters, printable, then blanks up to width
// characters: the field holds at most tag_room(width) bytes.
static void fill_field(char *field, int width, const unsigned char *value, std::size_t length)
{
	const std::size_t w = static_cast<std::size_t>(width);
	std::size_t chars = 0;
	std::size_t bytes = length ? printable_prefix(value, length, w, w * 4, field, &chars) : 0;
	memset(field + bytes, ' ', w - chars);
	field[bytes + w - chars] = '\0';
}

void tags_reset(stream_record *rec)
{
	for (const tag_field &t : tag_fields)
		fill_field(reinterpret_cast<char *>(rec) + t.field_offset, t.width, nullptr, 0);
	rec->has_description = 0;
	rec->whole = {};
	rec->replaygain = {NAN, NAN, NAN, NAN};
	rec->gain = replaygain_choose(rec->replaygain, replaygain_off);
}

// The entry's whole text, for the tags the desktop is shown.
static void take_whole(whole_tags *w, std::string_view name, std::string_view value)
{
	const auto is = [&](std::string_view tag) {
		return name.size() == tag.size() && strncasecmp(name.data(), tag.data(), tag.size()) == 0;
	};
	if (is("title"))
		w->title = value;
	else if (is("album"))
		w->album = value;
	else if (is("date"))
		w->date = value;
	else if (is("tracknumber"))
		w->track_number = value;
	else if (is("artist"))
		w->artists.emplace_back(value);
	else if (is("albumartist") || is("album artist"))
		w->album_artists.emplace_back(value);
	else if (is("genre"))
		w->genres.emplace_back(value);
}

int apply_vorbis_comment(stream_record *rec, const unsigned char *entry, uint32_t length)
{
	// Entries are not terminated: every read stays within length.
	const void *eq = memchr(entry, '=', length);
	if (!eq)
		return 0;
	std::size_t name_length = static_cast<std::size_t>(static_cast<const unsigned char *>(eq) - entry);
	take_whole(&rec->whole, {reinterpret_cast<const char *>(entry), name_length},
		   {reinterpret_cast<const char *>(entry) + name_length + 1, length - name_length - 1});
	for (std::size_t i = 0; i < std::size(tag_fields); i++) {
		const tag_field &t = tag_fields[i];
		if (strlen(t.name) != name_length ||
		    strncasecmp(t.name, reinterpret_cast<const char *>(entry), name_length) != 0)
			continue;
		if (i == description)
			rec->has_description = 1;
		if (i != comment || !rec->has_description)
			fill_field(reinterpret_cast<char *>(rec) + t.field_offset, t.width, entry + name_length + 1,
				   length - name_length - 1);
		return 1;
	}
	// Not a tag that is shown: a stream with only these has no tags.
	apply_replaygain_comment(&rec->replaygain, {reinterpret_cast<const char *>(entry), name_length},
				 {reinterpret_cast<const char *>(entry) + name_length + 1, length - name_length - 1});
	return 0;
}

// Applies every entry of one block to rec; 1 when any named a known tag.
static int apply_comment_block(stream_record *rec, const FLAC__StreamMetadata_VorbisComment &vc)
{
	int found = 0;
	for (uint32_t i = 0; i < vc.num_comments; i++) {
		const FLAC__StreamMetadata_VorbisComment_Entry &e = vc.comments[i];
		if (e.entry && apply_vorbis_comment(rec, e.entry, e.length))
			found = 1;
	}
	return found;
}

int read_vorbis_tags(const char *path)
{
	// The decoder has read the stream once already. A FIFO cannot give it
	// again, and opening one whose writer has gone waits for ever.
	struct stat st;
	if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
		return 0;
	FLAC__Metadata_SimpleIterator *it = FLAC__metadata_simple_iterator_new();
	if (!it)
		return 0;
	if (!FLAC__metadata_simple_iterator_init(it, path, true, true)) {
		FLAC__metadata_simple_iterator_delete(it);
		return 0;
	}

	int found = 0;
	do {
		if (FLAC__metadata_simple_iterator_get_block_type(it) != FLAC__METADATA_TYPE_VORBIS_COMMENT)
			continue;
		FLAC__StreamMetadata *block = FLAC__metadata_simple_iterator_get_block(it);
		if (!block)
			continue;
		found = apply_comment_block(&file_info, block->data.vorbis_comment);
		FLAC__metadata_object_delete(block);
	} while (!found && FLAC__metadata_simple_iterator_next(it));

	FLAC__metadata_simple_iterator_delete(it);
	return found;
}

void apply_cue_track(stream_record *rec, const cue_track &track)
{
	auto show = [](char *field, int width, const std::string &text) {
		if (!text.empty())
			fill_field(field, width, reinterpret_cast<const unsigned char *>(text.data()), text.size());
	};
	char number[16];
	snprintf(number, sizeof number, "Track %02d", track.number);
	show(rec->title, tag_width, track.title.empty() ? number : track.title);
	show(rec->artist, tag_width, track.performer);
	show(rec->album, tag_width, track.album);
	show(rec->year, year_width, track.date);
	show(rec->genre, tag_width, track.genre);
	whole_tags &w = rec->whole;
	w.title = track.title.empty() ? number : track.title;
	if (!track.performer.empty())
		w.artists = {track.performer};
	if (!track.album.empty())
		w.album = track.album;
	if (!track.date.empty())
		w.date = track.date;
	if (!track.genre.empty())
		w.genres = {track.genre};
	w.track_number = std::to_string(track.number);
}

void take_cover_art(stream_record *rec, const FLAC__StreamMetadata_Picture &picture)
{
	if (picture.type != FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER || !rec->cover.data.empty() ||
	    picture.data_length == 0 || picture.data_length > cover_art_max)
		return;
	rec->cover.mime = picture.mime_type ? picture.mime_type : "";
	rec->cover.data.assign(picture.data, picture.data + picture.data_length);
}

void take_pass_tags(stream_record *rec, const FLAC__StreamMetadata_VorbisComment &block)
{
	if (!rec->pass_tags)
		rec->pass_tags = apply_comment_block(rec, block);
}
