// Tags: the texts a stream announces, its ReplayGain tags and the gain
// chosen from them, and the announcement printed when it opens.
#pragma once

#include "playlist/cue.h"

#include <FLAC/format.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct stream_record;

/// A stream's tags as whole texts, the bytes the tags hold (neither cut nor
/// in printable form): what the desktop is shown. Of a tag given more than
/// once, a text takes the last (as the announcement does), a list every
/// one.
struct whole_tags {
	std::string title, album, date, track_number;
	std::vector<std::string> artists, album_artists, genres;
};
/// A stream's front cover: its first PICTURE block of that type, kept when
/// playback_settings.cover_art asks for it.
struct cover_art {
	std::string mime;
	std::vector<unsigned char> data;  // empty: none
};
/// A picture bigger than this is not kept.
inline constexpr std::size_t cover_art_max = 16 << 20;

/// Widths of the tag texts: characters in the tag block, bytes in "@I ID3:".
inline constexpr int tag_width = 30;
inline constexpr int year_width = 4;
/// Room for a tag text of width characters: UTF-8 takes up to 4 bytes each.
inline constexpr int tag_room(int width) { return width * 4 + 1; }

/// How ReplayGain tags are applied.
enum replaygain_mode {
	replaygain_off,
	replaygain_track,  // the track gain, else the album gain
	replaygain_album,  // the album gain, else the track gain
};

/// A stream's ReplayGain tags; NaN where one is absent or malformed.
struct replaygain_tags {
	double track_gain, album_gain;  // dB
	double track_peak, album_peak;  // fraction of full scale
};
/// The gain a stream plays with.
struct replaygain_choice {
	float factor;  // multiplied with the volume: 1 at unity
	double db;     // the factor in dB
	int source;    // the replaygain_mode of the gain used; replaygain_off: none
};

/// Sets every tag text of rec to blanks (its whole texts to none), its
/// ReplayGain tags to absent and its gain to unity.
void tags_reset(stream_record *rec);
/// Applies one comment entry (length bytes, not terminated) to the tag
/// texts of rec, in printable form, cut to whole characters, or to its
/// ReplayGain tags; and to its whole texts: TITLE, ARTIST, ALBUM, GENRE,
/// DATE, ALBUMARTIST (or ALBUM ARTIST) and TRACKNUMBER. COMMENT fills the
/// comment text unless a DESCRIPTION has (since tags_reset). 1 when its
/// name is a known tag (ReplayGain, ALBUMARTIST and TRACKNUMBER are none), 0
/// otherwise.
int apply_vorbis_comment(stream_record *rec, const unsigned char *entry, uint32_t length);
/// Applies one comment entry to tags when its name (any case) is
/// REPLAYGAIN_TRACK_GAIN, _ALBUM_GAIN ("-7.52 dB": a sign, digits, a
/// fraction, "dB"; within +-60 dB), _TRACK_PEAK or _ALBUM_PEAK (digits and
/// a fraction). A malformed or over-long value makes the tag absent; the
/// first valid value of a tag stays. 1 when the name is one of the four.
int apply_replaygain_comment(replaygain_tags *tags, std::string_view name, std::string_view value);
/// The gain for mode: the mode's own gain tag, else the other one, limited
/// so that the peak tag that goes with it, scaled, stays within full scale
/// (to 0 dB when that peak is absent, malformed or 0);
/// unity without a gain tag or with mode replaygain_off. The factor is
/// 10^(dB/20) worked out in double precision and rounded to float once.
replaygain_choice replaygain_choose(const replaygain_tags &tags, int mode);
/// Reads the tags of the file at path into file_info: the first
/// VORBIS_COMMENT block that holds a known tag. 1 when one was found; 0
/// also for anything but a regular file, which cannot be read twice.
int read_vorbis_tags(const char *path);
/// Takes the tags of a VORBIS_COMMENT block met in the decoder's own
/// metadata pass into rec, unless an earlier block gave one (pass_tags):
/// the same first-block-with-a-known-tag rule as read_vorbis_tags.
void take_pass_tags(stream_record *rec, const FLAC__StreamMetadata_VorbisComment &block);

/// What the regular file at path says of its tracks (see stream_cue_facts):
/// its STREAMINFO's rate and total, the tracks of its CUESHEET block (legal
/// by libFLAC's rules, CD-DA ones when the block says it is a CD's) and the
/// text of its CUESHEET tag; native or Ogg FLAC. 1 when it was read as FLAC.
int read_cue_facts(const char *path, stream_cue_facts *facts);
/// Takes into facts what a metadata block says of the tracks: a STREAMINFO,
/// CUESHEET or VORBIS_COMMENT block (others are passed over).
void cue_facts_take(const FLAC__StreamMetadata &block, stream_cue_facts *facts);
/// Shows track's texts in rec's tag texts, in printable form, and in its
/// whole texts: its title, or "Track NN" without one (the stream's TITLE
/// names the whole file), and its performer, album, date and genre where it
/// has them; the stream's own tags stay for the rest.
void apply_cue_track(stream_record *rec, const cue_track &track);
/// Keeps picture in rec->cover when it is a front cover, rec has none yet
/// and it is no bigger than cover_art_max.
void take_cover_art(stream_record *rec, const FLAC__StreamMetadata_Picture &picture);

/// The name shown after "Playing FLAC stream from": the text after the last
/// "/", unless the path is an http:// or https:// address.
std::string_view display_name(std::string_view path);
/// The name announced in remote mode for a stream without tags: the path cut
/// at its last "." when that is where ".flac" first occurs.
std::string remote_name(std::string_view path);
/// Prints the announcement of the stream just opened from path: names and
/// tags in printable form only.
void announce_stream(const char *path, int has_tags);
