// The Ogg link reader: libFLAC's Ogg decoder ends at the end of the first
// logical stream of a chain ("cat a.oga b.oga", an internet radio capture),
// so the reader hands it one link at a time. In a regular file each link
// is a byte range of its own, in which the decoder seeks; in a pipe the
// link ends after its last page, the next one's first page kept back for
// the next decoder.
#pragma once

#include <FLAC/stream_decoder.h>
#include <sys/types.h>

/// Starts reading the link that begins at start of the regular file fd
/// (which the source owns), or, for a stream read once, the link whose
/// first bytes the source holds (fd is then -1).
void ogg_begin(int fd, off_t start);
/// Initialises decoder as libFLAC's Ogg decoder on the current link, with
/// the given handlers and client data.
FLAC__StreamDecoderInitStatus ogg_init(FLAC__StreamDecoder *decoder, FLAC__StreamDecoderWriteCallback write,
				       FLAC__StreamDecoderMetadataCallback metadata,
				       FLAC__StreamDecoderErrorCallback error, void *client_data);
/// Once the current link has ended: 1 when an Ogg FLAC link follows, and
/// the reader is moved onto it (the decoder is to be initialised afresh);
/// 0 when none does, nothing moved.
int ogg_next_link();
