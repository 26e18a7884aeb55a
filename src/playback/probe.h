// What a stream's first bytes say it is.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

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
/// bytes will come, so that what cannot be told is not FLAC. A cut stream's
/// first whole frame is looked for within the first 64 KiB when anywhere,
/// else only when the stream begins with a frame's sync code.
int probe_start(const unsigned char *b, std::size_t n, bool at_end, std::size_t *skip, bool anywhere = true);
/// ID3v2 tags in front of a stream are given up on past this many, or this
/// many bytes of them: a chain of empty tags is no music.
inline constexpr int id3v2_chain_max = 16;
inline constexpr uint64_t id3v2_bytes_max = 16u << 20;
/// 1 when tags tags of bytes in all, in front of a stream, are past those
/// limits.
int id3v2_chain_ended(int tags, uint64_t bytes);
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
/// stream. Reads only what the verdict needs (4 bytes for "fLaC"; a tag's
/// header, then 4 bytes past it) and nothing when file_sniff_flac() left a
/// verdict for this very file, unchanged since: that verdict is used, once.
/// anywhere as for probe_start.
int probe_file(int fd, unsigned char *buf, std::size_t size, off_t *start, bool anywhere = true);
/// 1 when path is a regular file that begins as a FLAC stream does, by the
/// rule of probe_start (ID3v2 tags skipped): what the player would play.
/// A cut stream is looked for in as much of the file as a frame of the
/// largest kind takes, past the first 64 KiB.
int file_holds_flac(const char *path);
/// The folder walk's test of a regular file: 1 when it begins as FLAC (a
/// cut stream only when it begins with a frame's sync code), 0 when not, -1
/// when it cannot be opened (errno says why). Reads no more than probe_file needs, with no
/// read-ahead, and keeps a yes for the file's open (see probe_file).
int file_sniff_flac(const char *path);
