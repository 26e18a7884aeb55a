// Where a stream's bytes come from: a file, a pipe or standard input, native
// FLAC or the links of a chained Ogg FLAC stream.
#pragma once

#include <FLAC/stream_decoder.h>
#include <sys/types.h>

#include <cstddef>

/// Opens path ("-": standard input) and initialises decoder on it with the
/// handlers below and file_info as client data: libFLAC's Ogg decoder when
/// the stream begins as Ogg FLAC (and then on its first link only), its
/// native decoder otherwise, from the first whole frame of a cut stream.
/// When the metadata iterator cannot read the stream (Ogg, or a stream that
/// cannot be read twice) the decoder is set to hand over its VORBIS_COMMENT
/// blocks and *pass_tags is 1, else 0. 1 when initialised; 0 with nothing
/// left open. What it opened is released by the decoder's finish and
/// source_close().
int source_init(FLAC__StreamDecoder *decoder, const char *path, int *pass_tags);
/// When the decoder has reached the end of an Ogg link and another Ogg FLAC
/// link follows, finishes the decoder and initialises it afresh on that
/// link (its tags handed over as above). 1 when it has; 0 when no link
/// follows, the decoder untouched.
int source_next_link(FLAC__StreamDecoder *decoder);
/// 1 when the open stream can seek: a regular file, not a pipe.
int source_seekable();
/// Closes what the last source_init opened that the decoder does not close
/// itself (never standard input). Called after the decoder is finished.
void source_close();

/// For the Ogg link reader, on a stream read once: up to n bytes, those
/// held back first, then fresh ones as they come (0 at the end, -1 when
/// reading failed or gave up).
ssize_t source_pull(unsigned char *buf, std::size_t n);
/// Makes at least n bytes wait unserved (see source_ahead): 1 when they do;
/// 0 at the end of the stream; -1 when reading failed or gave up.
int source_fill(std::size_t n);
/// The bytes read ahead and not yet served.
const unsigned char *source_ahead();
/// The decoder's read status for got bytes (0: the end, -1: failure), and
/// the count it is given.
FLAC__StreamDecoderReadStatus source_read_status(ssize_t got, std::size_t *bytes);
