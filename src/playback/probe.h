// What a stream's first bytes say it is.
#pragma once

#include <sys/types.h>

#include <cstddef>

/// What the first n bytes of a stream begin with.
enum probe_kind {
	probe_more = -1,     // n bytes cannot tell yet
	probe_not_flac = 0,  // anything else
	probe_native,        // "fLaC"
	probe_ogg,           // an Ogg page holding FLAC
	probe_tag,           // an ID3v2 tag of *skip bytes, after which to look again
	probe_frames,        // FLAC frames without metadata (a stream cut from another), from *skip on
};
/// How far into a stream its first whole frame is looked for.
inline constexpr std::size_t probe_window = 65536;
/// Classifies the start of a stream (see probe_kind); at_end when no more
/// bytes will come, so that what cannot be told is not FLAC.
int probe_start(const unsigned char *b, std::size_t n, bool at_end, std::size_t *skip);
/// The length of the FLAC frame header at b when its fields and CRC-8 check
/// out; 0 when it is none; -1 when n bytes are too few to tell.
int frame_header_length(const unsigned char *b, std::size_t n);
/// Room to find the first whole frame of a cut stream of any usual kind
/// beyond the first 64 KiB.
inline constexpr std::size_t probe_file_room = 4 * probe_window;
/// What the regular file fd begins with (a probe_kind, never probe_more or
/// probe_tag), read into buf (size bytes, probe_file_room to find any cut
/// stream) without moving the file's offset; *start is where the decoder
/// is to begin: past ID3v2 tags, or at the first whole frame of a cut
/// stream.
int probe_file(int fd, unsigned char *buf, std::size_t size, off_t *start);
/// 1 when path is a regular file that begins as a FLAC stream does, by the
/// rule of probe_start (ID3v2 tags skipped): what the player would play.
/// A cut stream is looked for in as much of the file as a frame of the
/// largest kind takes, past the first 64 KiB.
int file_holds_flac(const char *path);
