// Ogg pages and the links they make: a page's header and checksum, and
// which logical stream of a link each page belongs to, as the Ogg framing
// rules have it. A link begins with the BOS pages of its streams (several
// of them when it is multiplexed) and ends once each has had its EOS page;
// a BOS page after its data pages begins the next link early (the link is
// cut). The link's FLAC stream is the one whose BOS page came first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

/// The fixed part of a page header, and the most its segment table adds.
inline constexpr std::size_t ogg_header_size = 27;
inline constexpr std::size_t ogg_max_header = ogg_header_size + 255;
/// The largest page: the header and 255 segments of 255 bytes.
inline constexpr std::size_t ogg_max_page = ogg_max_header + 255 * 255;
/// Header flags.
inline constexpr unsigned ogg_bos = 0x02, ogg_eos = 0x04;

/// What a page header says.
struct ogg_page_head {
	unsigned flags;
	uint32_t serial;
	uint32_t sequence;
	std::size_t size;  // header, segment table and body
};

/// Reads the page header at b (n bytes): 1 when one is there (h filled), 0
/// when b holds no page header, -1 when n bytes are too few to tell.
int ogg_page_parse(const unsigned char *b, std::size_t n, ogg_page_head *h);
/// 1 when the whole page at b (size bytes, as parsed) holds its checksum.
int ogg_page_crc_ok(const unsigned char *b, std::size_t size);
/// 1 when the whole page at b begins a FLAC logical stream: a BOS page whose
/// first packet begins "\x7f" "FLAC".
int ogg_page_begins_flac(const unsigned char *b, const ogg_page_head &h);

/// What a page is to the link it is taken into.
enum ogg_page_role {
	page_flac,       // of the link's FLAC stream
	page_other,      // of another stream of the link: not ours to play
	page_stray,      // of no stream the link began: one whose first page was lost
	page_next_link,  // begins the next link; not taken
};

/// One link as its pages go by, and what its FLAC stream lost.
struct ogg_link_pages {
	std::vector<uint32_t> open;  // streams begun and not yet ended
	int begun = 0;               // a BOS page has been taken
	int data = 0;                // a page after the BOS pages has been taken
	int has_flac = 0;
	uint32_t flac_serial = 0;
	int flac_ended = 0;          // its EOS page has gone by
	// The FLAC stream's next sequence number (once a page has gone by).
	int sequence_known = 0;
	uint32_t sequence_next = 0;
	int in_strays = 0;           // the last page taken was a stray one
	// Pages lost: those missing from the FLAC stream's sequence, and a run
	// of stray pages (what is left of a stream whose first page was lost)
	// as one.
	uint64_t lost = 0;
};

/// Takes the page with header h (flac_bos: it begins a FLAC stream, as
/// ogg_page_begins_flac says) into the link and says what it is to it. A
/// page of the FLAC stream whose sequence number skips counts the pages
/// skipped as lost (a page that failed its checksum among them); the first
/// of a run of stray pages counts one. Bytes between pages that are no page
/// cost no audio and are never counted: libogg, which libFLAC reads
/// through, passes over them as well.
int ogg_link_take(ogg_link_pages *l, const ogg_page_head &h, int flac_bos);
/// Counts the first of a run of stray pages outside any link (after the
/// last one ended, before the next begins) as one lost page.
void ogg_link_stray(ogg_link_pages *l);
/// 1 once every stream the link began has ended: the next page, whatever
/// it is, is not the link's.
int ogg_link_over(const ogg_link_pages &l);
/// 1 when the link's BOS pages are all known and none begins a FLAC stream.
int ogg_link_not_flac(const ogg_link_pages &l);
