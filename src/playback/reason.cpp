// Reasons a stream or an output could not be opened, and their texts.
#include "playback/reason.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iterator>

open_failure failure_from_errno(int err, bool creating)
{
	switch (err) {
	case ENOENT:
	case ENOTDIR:
		// Creating a file fails so only when the folder it goes in is not
		// there.
		return {creating ? reason_no_folder : reason_no_file, err};
	case EACCES:
	case EPERM:
		return {reason_permission, err};
	case EISDIR:
		return {reason_folder, err};
	case ELOOP:
		return {reason_link_loop, err};
	case ENAMETOOLONG:
		return {reason_name_too_long, err};
	case ENXIO:
		if (creating)
			return {reason_no_reader, err};
		break;
	}
	return {reason_system, err};
}

open_failure failure_of_path(int err, const char *path)
{
	struct stat st;
	if (err == ENOENT && lstat(path, &st) == 0 && S_ISLNK(st.st_mode))
		return {reason_dangling, err};
	return failure_from_errno(err);
}

std::string failure_text(const open_failure &f)
{
	static const char *const texts[] = {
		"", "", "no such file", "no such folder", "permission denied", "a folder", "a dangling link",
		"a loop of links", "name too long", "no reader", "empty", "not FLAC", "not FLAC: an MP3 file",
		"not FLAC: an MPEG audio file", "not FLAC: an Ogg Vorbis file", "not FLAC: an Ogg Opus file",
		"not FLAC: an Ogg file", "not FLAC: a WAV file", "not text", "damaged", "cut short", "no audio",
		"track out of reach", "too big for a WAV file", "a FLAC file", "an input file", "no sound device", "no output file",
	};
	static_assert(std::size(texts) == reason_no_output + 1);
	if (f.reason == reason_network)
		return f.text;
	if (f.reason != reason_system)
		return texts[f.reason];
	// The C library's words, as a line goes on: "read-only file system".
	std::string text = strerror(f.err);
	if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
		text[0] = static_cast<char>(text[0] - 'A' + 'a');
	return text;
}

// An MPEG audio frame header (MPEG 1, 2 or 2.5): sync, and no reserved
// version, layer, bit rate or sample rate. Its layer, 1 to 3; 0 when none.
// A FLAC frame's sync code has the reserved layer, so it is never one.
static int mpeg_layer(const unsigned char *b, std::size_t n)
{
	if (n < 3 || b[0] != 0xff || (b[1] & 0xe0) != 0xe0)
		return 0;
	const int version = (b[1] >> 3) & 3, layer = (b[1] >> 1) & 3;
	if (version == 1 || layer == 0 || (b[2] >> 4) == 15 || ((b[2] >> 2) & 3) == 3)
		return 0;
	return 4 - layer;
}

// What the first packet of an Ogg page at b (n bytes) holds.
static open_reason ogg_reason(const unsigned char *b, std::size_t n)
{
	const std::size_t packet = n >= 27 ? 27 + std::size_t(b[26]) : n;
	auto holds = [&](const char *magic, std::size_t length) {
		return packet + length <= n && memcmp(b + packet, magic, length) == 0;
	};
	if (holds("\x01vorbis", 7))
		return reason_ogg_vorbis;
	return holds("OpusHead", 8) ? reason_ogg_opus : reason_ogg_other;
}

open_reason not_flac_reason(const unsigned char *b, std::size_t n, bool at_start)
{
	if (n == 0)
		return at_start ? reason_empty : reason_not_flac;
	if (n >= 4 && memcmp(b, "OggS", 4) == 0)
		return ogg_reason(b, n);
	if (n >= 12 && (memcmp(b, "RIFF", 4) == 0 || memcmp(b, "RF64", 4) == 0) && memcmp(b + 8, "WAVE", 4) == 0)
		return reason_wav;
	const int layer = mpeg_layer(b, n);
	return layer == 3 ? reason_mp3 : layer ? reason_mpeg_audio : reason_not_flac;
}
