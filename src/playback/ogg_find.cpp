// Finding Ogg pages (see ogg_find.h).
#include "playback/ogg_find.h"
#include "playback/source.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

// What a cursor on a regular file reads into: room for the largest page.
static unsigned char file_bytes[ogg_max_page];

// Up to n bytes at the cursor (fewer only at the end of the stream), in *p
// and *got. 1, or -1 when reading failed.
static int peek(const ogg_cursor &c, std::size_t n, const unsigned char **p, std::size_t *got)
{
	if (c.fd >= 0) {
		ssize_t r = pread(c.fd, file_bytes, std::min(n, sizeof file_bytes), c.at);
		*p = file_bytes;
		*got = r > 0 ? static_cast<std::size_t>(r) : 0;
		return r < 0 ? -1 : 1;
	}
	if (source_fill(n) < 0)
		return -1;
	*p = source_ahead();
	*got = std::min(n, source_held());
	return 1;
}

void ogg_advance(ogg_cursor &c, std::size_t n)
{
	if (c.fd >= 0)
		c.at += static_cast<off_t>(n);
	else
		source_consume(n);
}

int ogg_find_page(ogg_cursor &c, bool verify, ogg_page_head *h, const unsigned char **p, int *junk)
{
	for (;;) {
		std::size_t got;
		if (peek(c, ogg_max_header, p, &got) < 0)
			return -1;
		if (got == 0)
			return 0;
		// Too few bytes for a header (-1) happens only at the end.
		int r = ogg_page_parse(*p, got, h);
		if (r > 0) {
			if (!verify && !*junk && !(h->flags & (ogg_bos | ogg_eos)))
				return 1;
			if (peek(c, h->size, p, &got) < 0)
				return -1;
			if (got == h->size && ogg_page_crc_ok(*p, h->size))
				return 1;
		}
		*junk = 1;
		// On to the next capture pattern, looked for in as much as a file
		// gives at once or a stream holds already; a capture pattern cut
		// by the end of those bytes is looked at again with more.
		if (r == 0 && peek(c, c.fd >= 0 ? sizeof file_bytes : std::max(got, source_held()), p, &got) < 0)
			return -1;
		const void *next = got > 1 ? memmem(*p + 1, got - 1, "OggS", 4) : nullptr;
		std::size_t to = got > 3 && r >= 0 ? got - 3 : got;
		if (next)
			to = static_cast<std::size_t>(static_cast<const unsigned char *>(next) - *p);
		ogg_advance(c, to);
	}
}
