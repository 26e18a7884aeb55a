// The Ogg link reader (see ogg.h).
#include "playback/ogg.h"
#include "playback/ogg_find.h"
#include "playback/ogg_page.h"
#include "playback/source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {
struct ogg_reader {
	int fd = -1;
	// A regular file: the current link's bytes, the decoder's read
	// position, and its FLAC stream. The pages the decoder reads are
	// checked once each, in order: check_at is the next (-1: after a seek,
	// the first at or after the next read; -2: none while the decoder
	// seeks), checked_to the end of the last.
	off_t link_start = 0, link_end = 0, at = 0;
	off_t check_at = 0, checked_to = 0;
	uint32_t serial = 0;
	// Read once: bytes of the current page still to serve.
	std::size_t page_left = 0;
	// The current link's pages as checked or served, and what earlier
	// links and the stray pages between them lost.
	ogg_link_pages link;
	uint64_t damage = 0;
};
}

static ogg_reader reader;

// 1 when another page, or the end of the file, is at offset at of fd.
static int page_or_end_at(int fd, off_t at)
{
	unsigned char b[4];
	const ssize_t got = pread(fd, b, sizeof b, at);
	return got == 0 || (got == 4 && memcmp(b, "OggS", 4) == 0);
}

// The link of a regular file that begins at start: where it ends (after
// the page that ends its last stream, at the BOS page of the next link, or
// at the end of the file), with its pages taken into *l. Only the pages
// that matter to that are verified, and those that do not end where
// another begins: a page cut short claims the bytes of what follows it.
static off_t scan_link(int fd, off_t start, ogg_link_pages *l)
{
	ogg_cursor c{fd, start};
	for (bool verify = false;;) {
		ogg_page_head h;
		const unsigned char *p;
		int junk = 0;
		if (ogg_find_page(c, verify, &h, &p, &junk) <= 0)
			return c.at;
		const bool verified = verify || junk || (h.flags & (ogg_bos | ogg_eos));
		verify = !verified && !page_or_end_at(fd, c.at + static_cast<off_t>(h.size));
		if (verify)
			continue;
		if (ogg_link_take(l, h, (h.flags & ogg_bos) && ogg_page_begins_flac(p, h)) == page_next_link)
			return c.at;
		c.at += static_cast<off_t>(h.size);
		if (ogg_link_over(*l))
			return c.at;
	}
}

static void begin_file_link(off_t start, off_t end, uint32_t serial)
{
	reader.damage += reader.link.lost;
	reader.link = {};
	reader.link_start = reader.at = reader.check_at = reader.checked_to = start;
	reader.link_end = end;
	reader.serial = serial;
}

// Checks the pages of the link that the decoder's reads have reached, each
// once; from (where the last read began) is where checking goes on after
// a seek.
static void check_pages(off_t from)
{
	ogg_page_head h;
	const unsigned char *p;
	int junk = 0;
	if (reader.check_at == -1) {
		// Part of a page lies before the first whole one.
		ogg_cursor c{reader.fd, from};
		reader.check_at = ogg_find_page(c, true, &h, &p, &junk) > 0 ? c.at : reader.link_end;
		reader.link.sequence_known = 0;
	}
	while (reader.check_at >= 0 && reader.check_at < std::min(reader.at, reader.link_end)) {
		ogg_cursor c{reader.fd, reader.check_at};
		const bool inside = ogg_find_page(c, true, &h, &p, &junk) > 0 && c.at < reader.link_end;
		if (!inside) {
			reader.check_at = reader.checked_to = reader.link_end;
			break;
		}
		// What was checked before a seek back is not counted again.
		if (c.at >= reader.checked_to) {
			ogg_link_take(&reader.link, h, ogg_page_begins_flac(p, h));
			reader.checked_to = c.at + static_cast<off_t>(h.size);
		}
		reader.check_at = c.at + static_cast<off_t>(h.size);
	}
}

// A link of a regular file, seen by the decoder as a stream of its own.
static FLAC__StreamDecoderReadStatus file_read_hdl(const FLAC__StreamDecoder *, FLAC__byte buffer[],
						   std::size_t *bytes, void *)
{
	const off_t from = reader.at;
	std::size_t n = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(*bytes), reader.link_end - reader.at));
	ssize_t got = n ? pread(reader.fd, buffer, n, reader.at) : 0;
	if (got > 0) {
		reader.at += got;
		check_pages(from);
	}
	return source_read_status(got, bytes);
}

static FLAC__StreamDecoderSeekStatus file_seek_hdl(const FLAC__StreamDecoder *, FLAC__uint64 offset, void *)
{
	if (offset > static_cast<FLAC__uint64>(reader.link_end - reader.link_start))
		return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
	reader.at = reader.link_start + static_cast<off_t>(offset);
	reader.check_at = -2;
	return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

static FLAC__StreamDecoderTellStatus file_tell_hdl(const FLAC__StreamDecoder *, FLAC__uint64 *offset, void *)
{
	*offset = static_cast<FLAC__uint64>(reader.at - reader.link_start);
	return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

static FLAC__StreamDecoderLengthStatus file_length_hdl(const FLAC__StreamDecoder *, FLAC__uint64 *length, void *)
{
	*length = static_cast<FLAC__uint64>(reader.link_end - reader.link_start);
	return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

static FLAC__bool file_eof_hdl(const FLAC__StreamDecoder *, void *)
{
	return reader.at >= reader.link_end;
}

// The next page that checks, at c or after it. Bytes before it that are no
// page (padding, a byte too many) cost no audio.
static int find_page(ogg_cursor &c, ogg_page_head *h, const unsigned char **p)
{
	int junk = 0;
	return ogg_find_page(c, true, h, p, &junk);
}

// Read once: moves on to the next page of the link's FLAC stream, passing
// over the pages of its other streams and junk. 1 when one is there to
// serve; 0 when the FLAC stream has ended, with its last page or where
// its link was cut; -1 when reading failed or gave up.
static int next_page()
{
	ogg_cursor c;
	while (!reader.link.flac_ended) {
		ogg_page_head h;
		const unsigned char *p;
		int r = find_page(c, &h, &p);
		if (r <= 0)
			return r;
		int role = ogg_link_take(&reader.link, h, ogg_page_begins_flac(p, h));
		if (role == page_next_link)
			return 0;
		if (role == page_flac) {
			reader.page_left = h.size;
			return 1;
		}
		ogg_advance(c, h.size);
	}
	return 0;
}

static FLAC__StreamDecoderReadStatus pipe_read_hdl(const FLAC__StreamDecoder *, FLAC__byte buffer[],
						   std::size_t *bytes, void *)
{
	if (reader.page_left == 0) {
		int r = next_page();
		if (r <= 0)
			return source_read_status(r, bytes);
	}
	ssize_t got = source_pull(buffer, std::min(*bytes, reader.page_left));
	if (got > 0)
		reader.page_left -= static_cast<std::size_t>(got);
	return source_read_status(got, bytes);
}

void ogg_begin(int fd, off_t start)
{
	reader = {};
	reader.fd = fd;
	if (fd >= 0) {
		ogg_link_pages l;
		const off_t end = scan_link(fd, start, &l);
		begin_file_link(start, end, l.flac_serial);
	}
}

FLAC__StreamDecoderInitStatus ogg_init(FLAC__StreamDecoder *decoder, FLAC__StreamDecoderWriteCallback write,
				       FLAC__StreamDecoderMetadataCallback metadata,
				       FLAC__StreamDecoderErrorCallback error, void *client_data)
{
	if (reader.fd >= 0) {
		// Of a multiplexed link, libFLAC would take the first page's stream.
		FLAC__stream_decoder_set_ogg_serial_number(decoder, static_cast<long>(reader.serial));
		return FLAC__stream_decoder_init_ogg_stream(decoder, file_read_hdl, file_seek_hdl, file_tell_hdl,
							    file_length_hdl, file_eof_hdl, write, metadata, error,
							    client_data);
	}
	return FLAC__stream_decoder_init_ogg_stream(decoder, pipe_read_hdl, nullptr, nullptr, nullptr, nullptr, write,
						    metadata, error, client_data);
}

// A regular file: the links after the current one, each scanned whole.
static int next_file_link(int *skipped)
{
	for (off_t at = reader.link_end;;) {
		ogg_cursor c{reader.fd, at};
		ogg_page_head h;
		const unsigned char *p;
		int junk = 0, r;
		// Junk between links costs nothing; pages of no link (of one whose
		// first page was lost) cost its audio.
		while ((r = ogg_find_page(c, true, &h, &p, &junk)) > 0 && !(h.flags & ogg_bos)) {
			ogg_link_stray(&reader.link);
			c.at += static_cast<off_t>(h.size);
		}
		if (r <= 0)
			return 0;
		ogg_link_pages l;
		const off_t end = scan_link(reader.fd, c.at, &l);
		if (l.has_flac) {
			begin_file_link(c.at, end, l.flac_serial);
			return 1;
		}
		(*skipped)++;
		at = end;
	}
}

// Read once: the rest of the current link, then links until one whose
// BOS pages begin a FLAC stream; its first FLAC page is left for the
// decoder.
static int next_pipe_link(int *skipped)
{
	ogg_cursor c;
	// What the decoder left of the page it was served (held whole).
	source_consume(reader.page_left);
	reader.page_left = 0;
	for (int told = 0;;) {
		ogg_page_head h;
		const unsigned char *p;
		int r = find_page(c, &h, &p);
		if (r > 0 && (ogg_link_over(reader.link) || ((h.flags & ogg_bos) && reader.link.data))) {
			reader.damage += reader.link.lost;
			reader.link = {};
			told = 0;
		}
		const bool flac_bos = r > 0 && ogg_page_begins_flac(p, h);
		if (r > 0 && flac_bos && !reader.link.has_flac && !reader.link.data) {
			reader.page_left = 0;
			return 1;
		}
		// A link that began without FLAC and has gone on to its data, or
		// ended, is told once.
		if (r > 0)
			ogg_link_take(&reader.link, h, 0);
		if (!told && reader.link.begun && !reader.link.has_flac && (r <= 0 || ogg_link_not_flac(reader.link))) {
			(*skipped)++;
			told = 1;
		}
		if (r <= 0)
			return 0;
		ogg_advance(c, h.size);
	}
}

int ogg_next_link(int *skipped)
{
	return reader.fd >= 0 ? next_file_link(skipped) : next_pipe_link(skipped);
}

void ogg_sought()
{
	if (reader.fd >= 0)
		reader.check_at = -1;
}

uint64_t ogg_damage()
{
	return reader.damage + reader.link.lost;
}
