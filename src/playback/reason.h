// Why a stream, or the output it was to play on, could not be opened: a
// small value handed up by whatever opened it (the source, the look at its
// first bytes, the output), shown to the listener as "(REASON)" after the
// name. Openers of other kinds add their own reasons here.
#pragma once

#include <cstddef>
#include <string>

enum open_reason {
	reason_unknown,       // nothing to say: no text
	reason_system,        // the system's own words for an error number
	reason_no_file,       // "no such file"
	reason_no_folder,     // "no such folder": where an output was to be made
	reason_permission,    // "permission denied"
	reason_folder,        // "a folder"
	reason_dangling,      // "a dangling link"
	reason_link_loop,     // "a loop of links"
	reason_name_too_long, // "name too long"
	reason_no_reader,     // "no reader": a FIFO nobody reads
	reason_empty,         // "empty"
	reason_not_flac,      // "not FLAC", and with what it is instead:
	reason_mp3,           //   "not FLAC: an MP3 file"
	reason_mpeg_audio,    //   "not FLAC: an MPEG audio file" (layer I or II)
	reason_ogg_vorbis,    //   "not FLAC: an Ogg Vorbis file"
	reason_ogg_opus,      //   "not FLAC: an Ogg Opus file"
	reason_ogg_other,     //   "not FLAC: an Ogg file" of another codec
	reason_wav,           //   "not FLAC: a WAV file"
	reason_not_text,      // "not text": a playlist file
	reason_unreadable,    // "damaged": FLAC whose metadata cannot be read
	reason_cut_short,     // "cut short": FLAC that ends before its first frame
	reason_no_audio,      // "no audio": neither STREAMINFO nor a frame
	reason_no_track,      // "track out of reach": the decoder cannot get to it
	reason_too_big,       // "too big for a WAV file"
	reason_flac_file,     // "a FLAC file": a WAV output named over one
	reason_input_file,    // "an input file": a WAV output named over a playlist or cue sheet read
	reason_no_device,     // "no sound device": the live device did not open
	reason_no_output,     // "no output file": the WAV output did not open
	reason_network,       // a URL: the network's own words ("HTTP 404", "host not found")
};

/// A reason, the error number that reason_system shows, and the words of
/// reason_network.
struct open_failure {
	open_reason reason = reason_unknown;
	int err = 0;
	std::string text{};
};

/// The reason for error number err met opening a path for reading, or for
/// writing with creating (then a missing folder is "no such folder").
open_failure failure_from_errno(int err, bool creating = false);
/// The short text of a failure: "" for reason_unknown.
std::string failure_text(const open_failure &f);
/// What bytes that are not FLAC begin with (n of them, where the stream
/// begins or past its ID3v2 tags): one of the not-FLAC reasons, or
/// reason_empty when n is 0 and at_start.
open_reason not_flac_reason(const unsigned char *b, std::size_t n, bool at_start);
/// As failure_from_errno for opening path to read it, where a path that is
/// missing because it is a link to nothing is "a dangling link".
open_failure failure_of_path(int err, const char *path);
