// Where a stream's bytes come from: a file, a pipe or standard input, native
// FLAC or the links of a chained Ogg FLAC stream.
#pragma once

#include "playback/reason.h"

#include <FLAC/stream_decoder.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

/// Opens path ("-": standard input; an http:// or https:// URL: fetched)
/// and initialises decoder on it with the
/// handlers below and file_info as client data: libFLAC's Ogg decoder when
/// the stream begins as Ogg FLAC (and then on its first link only), its
/// native decoder otherwise, from the first whole frame of a cut stream.
/// When the metadata iterator cannot read the stream (Ogg, or a stream that
/// cannot be read twice) the decoder is set to hand over its VORBIS_COMMENT
/// blocks and *pass_tags is 1, else 0. 1 when initialised; 0 with nothing
/// left open, and *why says why when it can tell (what the path is instead
/// of FLAC, or what opening it met). What it opened is released by the
/// decoder's finish and source_close().
int source_init(FLAC__StreamDecoder *decoder, const char *path, int *pass_tags, open_failure *why);
/// When the decoder has reached the end of an Ogg link: moves on to the
/// next link that holds FLAC, past junk and links that hold none (counted
/// in *skipped). 1 when one follows; 0 when none does (always for native
/// FLAC).
int source_next_link(int *skipped);
/// Initialises the finished decoder afresh on the link source_next_link
/// moved to (its tags handed over as above). 1 when initialised.
int source_restart(FLAC__StreamDecoder *decoder);
/// What the open stream's Ogg framing has lost so far: pages that failed
/// their checksum or are missing from the sequence, and runs of stray
/// pages. 0 for native FLAC.
uint64_t source_damage();
/// To be called after the decoder has sought: what it reads next is where
/// the stream is checked from.
void source_sought();
/// 1 when the open stream can seek: a regular file, not a pipe; native
/// FLAC from a server that honours ranges.
int source_seekable();
/// What a URL that did not begin as FLAC held, when it was text (no NUL in
/// it): its first source_text_max bytes (empty otherwise), whether that was
/// all, and the type its server said it is. Kept until the next
/// source_init.
inline constexpr std::size_t source_text_max = 1u << 20;
struct rejected_text {
	std::string bytes;
	int whole;
	std::string type;  // Content-Type, "" when none was given
};
const rejected_text &source_rejected();
/// For a URL that did not begin as FLAC: keeps what it holds for
/// source_rejected (the bytes held, then the rest of the transfer), when it
/// is text. url_source_forget_text forgets it.
void url_source_keep_text();
void url_source_forget_text();
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
/// The bytes read ahead and not yet served, and how many there are.
const unsigned char *source_ahead();
std::size_t source_held();
/// Serves n of the bytes held (no more than there are) to nobody.
void source_consume(std::size_t n);
/// The network source (source_net.cpp): one transfer at a time. Opens it
/// (1), or notes why not (0).
int url_source_open(const char *url);
/// Up to n bytes of the transfer once there are any, waiting in the front
/// ends' poll for as long as give_up lets it and, when deadline_ms is not
/// 0, until then: the count, 0 at the end, -1 when it failed, gave up or
/// ran out of time.
ssize_t url_source_read(unsigned char *buf, std::size_t n, double deadline_ms);
/// 1 when the server honours ranges.
int url_source_seekable();
/// Why the transfer failed ("" when it has not).
const char *url_source_failure();
/// Ends the transfer.
void url_source_close();
/// libFLAC's seek, tell, length and eof callbacks on the transfer: a seek
/// drops the bytes held and is a ranged request.
FLAC__StreamDecoderSeekStatus url_seek_hdl(const FLAC__StreamDecoder *, FLAC__uint64 offset, void *);
FLAC__StreamDecoderTellStatus url_tell_hdl(const FLAC__StreamDecoder *, FLAC__uint64 *offset, void *);
FLAC__StreamDecoderLengthStatus url_length_hdl(const FLAC__StreamDecoder *, FLAC__uint64 *length, void *);
FLAC__bool url_eof_hdl(const FLAC__StreamDecoder *, void *);

/// The decoder's read status for got bytes (0: the end, -1: failure), and
/// the count it is given.
FLAC__StreamDecoderReadStatus source_read_status(ssize_t got, std::size_t *bytes);
