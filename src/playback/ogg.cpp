// The Ogg link reader (see ogg.h).
#include "playback/ogg.h"
#include "playback/source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {
struct ogg_link {
	// A regular file: the current link's bytes, and the read position.
	int fd = -1;
	off_t link_start = 0, link_end = 0, at = 0;
	// Read once: bytes of the current page still to serve, whether it is
	// its link's last, pages served in the link, and the link's end.
	std::size_t page_left = 0;
	int last_page = 0, pages = 0, link_over = 0;
};
}

static ogg_link reader;

// The size of the Ogg page whose header (27 bytes and its segment table)
// is at h.
static std::size_t page_size(const unsigned char *h)
{
	std::size_t size = 27 + std::size_t(h[26]);
	for (unsigned i = 0; i < h[26]; i++)
		size += h[27 + i];
	return size;
}

// Looks at the next page of a pipe's Ogg stream, read ahead by the source.
// 1 when it belongs to the current link; 0 when the link has ended (after
// its last page, or before the first page of another); -1 on failure.
static int next_page()
{
	if (reader.link_over)
		return 0;
	int r = source_fill(27);
	if (r <= 0)
		return r;
	const unsigned char *h = source_ahead();
	if (memcmp(h, "OggS", 4) != 0) {
		// Not at a page: the rest goes as it comes, the decoder resyncs.
		reader.page_left = SIZE_MAX;
		return 1;
	}
	if ((r = source_fill(27 + std::size_t(h[26]))) <= 0)
		return r;
	h = source_ahead();
	if (reader.pages > 0 && (h[5] & 0x02)) {
		reader.link_over = 1;
		return 0;
	}
	reader.pages++;
	reader.page_left = page_size(h);
	reader.last_page = (h[5] & 0x04) != 0;
	return 1;
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
	if (got > 0 && reader.page_left != SIZE_MAX && (reader.page_left -= static_cast<std::size_t>(got)) == 0)
		reader.link_over = reader.last_page;
	return source_read_status(got, bytes);
}

// A link of a regular file, seen by the decoder as a stream of its own.
static FLAC__StreamDecoderReadStatus file_read_hdl(const FLAC__StreamDecoder *, FLAC__byte buffer[],
						   std::size_t *bytes, void *)
{
	std::size_t n = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(*bytes), reader.link_end - reader.at));
	ssize_t got = n ? pread(reader.fd, buffer, n, reader.at) : 0;
	if (got > 0)
		reader.at += got;
	return source_read_status(got, bytes);
}

static FLAC__StreamDecoderSeekStatus file_seek_hdl(const FLAC__StreamDecoder *, FLAC__uint64 offset, void *)
{
	if (offset > static_cast<FLAC__uint64>(reader.link_end - reader.link_start))
		return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
	reader.at = reader.link_start + static_cast<off_t>(offset);
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

// Where the link that begins at start ends: after its last page, or where
// another link's first page begins; the end of the file when the pages
// stop making sense.
static off_t link_end(int fd, off_t start)
{
	struct stat st;
	const off_t size = fstat(fd, &st) == 0 ? st.st_size : start;
	unsigned char h[27 + 255];
	for (off_t at = start;;) {
		if (pread(fd, h, 27, at) != 27 || memcmp(h, "OggS", 4) != 0 ||
		    pread(fd, h + 27, h[26], at + 27) != h[26])
			return size;
		if (at > start && (h[5] & 0x02))
			return at;
		at += static_cast<off_t>(page_size(h));
		if (h[5] & 0x04)
			return std::min(at, size);
	}
}

void ogg_begin(int fd, off_t start)
{
	reader = {};
	reader.fd = fd;
	if (fd >= 0) {
		reader.link_start = reader.at = start;
		reader.link_end = link_end(fd, start);
	}
}

FLAC__StreamDecoderInitStatus ogg_init(FLAC__StreamDecoder *decoder, FLAC__StreamDecoderWriteCallback write,
				       FLAC__StreamDecoderMetadataCallback metadata,
				       FLAC__StreamDecoderErrorCallback error, void *client_data)
{
	if (reader.fd >= 0)
		return FLAC__stream_decoder_init_ogg_stream(decoder, file_read_hdl, file_seek_hdl, file_tell_hdl,
							    file_length_hdl, file_eof_hdl, write, metadata, error,
							    client_data);
	return FLAC__stream_decoder_init_ogg_stream(decoder, pipe_read_hdl, nullptr, nullptr, nullptr, nullptr, write,
						    metadata, error, client_data);
}

int ogg_next_link()
{
	unsigned char h[27 + 255 + 5];
	if (reader.fd >= 0) {
		// The next link begins where this one ended, with a first page.
		const off_t at = reader.link_end;
		if (pread(reader.fd, h, 27, at) != 27 || pread(reader.fd, h + 27, h[26] + 5u, at + 27) != h[26] + 5)
			return 0;
	} else {
		if (!reader.link_over || source_fill(27) <= 0 || source_fill(27 + source_ahead()[26] + 5u) <= 0)
			return 0;
		memcpy(h, source_ahead(), 27 + source_ahead()[26] + 5u);
	}
	if (memcmp(h, "OggS", 4) != 0 || !(h[5] & 0x02) || memcmp(h + 27 + h[26], "\x7f" "FLAC", 5) != 0)
		return 0;
	ogg_begin(reader.fd, reader.link_end);
	return 1;
}
