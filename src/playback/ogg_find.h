// Finding Ogg pages where they are read: a regular file at an offset, or
// the source's stream, read once, through its read-ahead.
#pragma once

#include "playback/ogg_page.h"

#include <sys/types.h>

#include <cstddef>

/// Where pages are read: a regular file at an offset, or the source's
/// stream (fd -1), where reading consumes.
struct ogg_cursor {
	int fd = -1;
	off_t at = 0;
};

/// Moves the cursor to the next page and gives its header in *h and its
/// bytes in *p (its header at least; the whole page when it was verified),
/// valid until the cursor is next used. Bytes that are no page are passed
/// over and noted in *junk; a page found after them, one that verify asks
/// for, and one that begins or ends a stream must hold its checksum (a page
/// that does not is junk too). 1 at a page; 0 at the end; -1 when reading
/// failed or gave up.
int ogg_find_page(ogg_cursor &c, bool verify, ogg_page_head *h, const unsigned char **p, int *junk);
/// Moves the cursor n bytes on (for a stream, bytes it already holds).
void ogg_advance(ogg_cursor &c, std::size_t n);
