// The Ogg link reader: libFLAC's Ogg decoder ends at the end of the first
// logical stream of a chain ("cat a.oga b.oga", an internet radio capture),
// so the reader hands it one link at a time, and of a multiplexed link only
// the FLAC stream. In a regular file each link is a byte range of its own,
// in which the decoder seeks; in a pipe only the FLAC stream's pages are
// served, and the link ends after its last one, what follows kept back for
// the next link. Junk (bytes that are no page) and links that hold no FLAC
// are passed over; pages that fail their checksum or are missing from the
// sequence, and stray pages of a stream whose first page was lost, are
// counted as lost. Junk costs no audio, and is not.
#pragma once

#include <FLAC/stream_decoder.h>
#include <sys/types.h>

#include <cstdint>

/// Starts reading the link that begins at start of the regular file fd
/// (which the source owns), or, for a stream read once, the link whose
/// first bytes the source holds (fd is then -1). What the stream has lost
/// is counted from here on.
void ogg_begin(int fd, off_t start);
/// Initialises decoder as libFLAC's Ogg decoder on the current link's FLAC
/// stream, with the given handlers and client data.
FLAC__StreamDecoderInitStatus ogg_init(FLAC__StreamDecoder *decoder, FLAC__StreamDecoderWriteCallback write,
				       FLAC__StreamDecoderMetadataCallback metadata,
				       FLAC__StreamDecoderErrorCallback error, void *client_data);
/// Once the decoder has left the current link: moves the reader onto the
/// next link that holds FLAC, past the rest of this one, junk, and links
/// that hold no FLAC (counted in *skipped). 1 when one follows (the
/// decoder is to be initialised afresh); 0 when none does.
int ogg_next_link(int *skipped);
/// After the decoder has sought: pages are checked again from where it
/// reads next. (While it seeks, the pages it looks at are not counted.)
void ogg_sought();
/// Pages the FLAC streams of the links have lost so far, and runs of stray
/// pages (see above).
uint64_t ogg_damage();
