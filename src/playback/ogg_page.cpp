// Ogg pages and the links they make (see ogg_page.h).
#include "playback/ogg_page.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {
// The Ogg checksum: CRC-32 with polynomial 0x04c11db7, most significant
// bit first, from 0, over the page with its checksum field taken as 0.
// Eight bytes at a time (table k: a byte followed by k zero bytes), as
// every page played is checked.
using crc_tables = std::array<std::array<uint32_t, 256>, 8>;
constexpr crc_tables make_crc_tables()
{
	crc_tables t{};
	for (uint32_t i = 0; i < 256; i++) {
		uint32_t r = i << 24;
		for (int bit = 0; bit < 8; bit++)
			r = (r & 0x80000000u) ? (r << 1) ^ 0x04c11db7u : r << 1;
		t[0][i] = r;
	}
	for (std::size_t k = 1; k < 8; k++)
		for (uint32_t i = 0; i < 256; i++)
			t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
	return t;
}
constexpr crc_tables crc_table = make_crc_tables();

uint32_t be32(const unsigned char *b)
{
	return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

uint32_t crc_update(uint32_t crc, const unsigned char *b, std::size_t n)
{
	const auto &t = crc_table;
	for (; n >= 8; b += 8, n -= 8) {
		const uint32_t a = crc ^ be32(b);
		crc = t[7][a >> 24] ^ t[6][(a >> 16) & 0xff] ^ t[5][(a >> 8) & 0xff] ^ t[4][a & 0xff] ^ t[3][b[4]] ^
		      t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]];
	}
	for (; n > 0; b++, n--)
		crc = (crc << 8) ^ t[0][((crc >> 24) ^ *b) & 0xff];
	return crc;
}

uint32_t le32(const unsigned char *b)
{
	return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
}

int ogg_page_parse(const unsigned char *b, std::size_t n, ogg_page_head *h)
{
	static const unsigned char capture[5] = {'O', 'g', 'g', 'S', 0};
	if (memcmp(b, capture, std::min<std::size_t>(n, 5)) != 0)
		return 0;
	if (n < ogg_header_size || n < ogg_header_size + b[26])
		return -1;
	h->flags = b[5];
	h->serial = le32(b + 14);
	h->sequence = le32(b + 18);
	h->size = ogg_header_size + b[26];
	for (unsigned i = 0; i < b[26]; i++)
		h->size += b[ogg_header_size + i];
	return 1;
}

int ogg_page_crc_ok(const unsigned char *b, std::size_t size)
{
	static const unsigned char zero[4] = {};
	uint32_t crc = crc_update(0, b, 22);
	crc = crc_update(crc, zero, 4);
	crc = crc_update(crc, b + 26, size - 26);
	return crc == le32(b + 22);
}

int ogg_page_begins_flac(const unsigned char *b, const ogg_page_head &h)
{
	const std::size_t body = ogg_header_size + b[26];
	return (h.flags & ogg_bos) && h.size >= body + 5 && memcmp(b + body, "\x7f" "FLAC", 5) == 0;
}

// A page of the FLAC stream: the sequence numbers tell what went missing
// before it.
static void count_flac_page(ogg_link_pages *l, const ogg_page_head &h)
{
	const uint32_t skipped = h.sequence - l->sequence_next;
	if (l->sequence_known && skipped != 0)
		// A number that goes back (a page repeated) loses one at most.
		l->lost += skipped < 0x80000000u ? skipped : 1;
	l->sequence_known = 1;
	l->sequence_next = h.sequence + 1;
}

int ogg_link_take(ogg_link_pages *l, const ogg_page_head &h, int flac_bos)
{
	const bool bos = h.flags & ogg_bos;
	if (ogg_link_over(*l) || (bos && l->data))
		return page_next_link;
	const bool known = std::find(l->open.begin(), l->open.end(), h.serial) != l->open.end();
	int role;
	if (bos) {
		l->begun = 1;
		if (!known)
			l->open.push_back(h.serial);
		role = page_other;
		if (flac_bos && !l->has_flac) {
			l->has_flac = 1;
			l->flac_serial = h.serial;
			role = page_flac;
		}
	} else if (!l->begun || !known) {
		// A stream this link never began: its first page was lost, and
		// what it holds cannot be played.
		ogg_link_stray(l);
		return page_stray;
	} else {
		l->data = 1;
		role = l->has_flac && h.serial == l->flac_serial ? page_flac : page_other;
	}
	l->in_strays = 0;
	if (role == page_flac)
		count_flac_page(l, h);
	if (h.flags & ogg_eos) {
		std::erase(l->open, h.serial);
		if (role == page_flac)
			l->flac_ended = 1;
	}
	return role;
}

void ogg_link_stray(ogg_link_pages *l)
{
	if (!l->in_strays)
		l->lost++;
	l->in_strays = 1;
}

int ogg_link_over(const ogg_link_pages &l)
{
	return l.begun && l.open.empty();
}

int ogg_link_not_flac(const ogg_link_pages &l)
{
	return l.begun && (l.data || l.open.empty()) && !l.has_flac;
}
