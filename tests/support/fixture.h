// FLAC fixtures made with libFLAC's encoder, with exact control over the
// metadata the player reads.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// A metadata block written byte for byte (its body may lie about itself).
struct raw_block {
	int type;
	std::vector<unsigned char> body;
};

struct flac_fixture {
	unsigned bits = 16;
	unsigned channels = 2;
	unsigned rate = 44100;
	std::vector<int32_t> samples;  // interleaved, whole frames
	unsigned blocksize = 0;        // 0: the encoder's default
	// Each inner list becomes one VORBIS_COMMENT block, entries taken byte
	// for byte (so they may lack "=" or hold any bytes). When empty, the
	// encoder's own empty block is kept.
	std::vector<std::vector<std::string>> comment_blocks;
	// Replaces the total sample count that STREAMINFO states (0: unknown).
	std::optional<uint64_t> stated_total;
	// Replace what STREAMINFO states; the frames keep what they were
	// encoded with.
	std::optional<unsigned> stated_channels, stated_bits, stated_rate;
	bool drop_streaminfo = false;
	// Written after the comment blocks, before the audio.
	std::vector<raw_block> raw_blocks;
	// Replaces the MD5 signature that STREAMINFO states (all zeros: none).
	std::optional<std::array<unsigned char, 16>> stated_md5;
	// Ogg FLAC from libFLAC's Ogg encoder: at most one comment block, and
	// of the stated_* changes only stated_md5 applies; drop_streaminfo and
	// raw_blocks do not.
	bool ogg = false;
	long ogg_serial = 1;  // the Ogg stream's serial number: links of a chain differ
};

/// Where the parts of an encoded file lie.
struct flac_layout {
	std::vector<std::size_t> block_ends;  // just past each metadata block
	std::vector<std::size_t> frames;      // start of each audio frame
};

/// Signal shapes for generated audio.
enum class signal_kind {
	ramp,   // distinct consecutive values: easy to find again in a recording
	noise,  // seeded white noise over the whole range
	music,  // tones plus low-pass filtered noise, compressible like real audio
};

/// Interleaved samples of the given shape, within the signed range of bits.
std::vector<int32_t> make_signal(signal_kind kind, unsigned bits, unsigned channels,
				 uint64_t frames, unsigned rate, uint32_t seed = 1);

/// Encodes the fixture and gives the file's bytes (empty on failure), and
/// where its blocks and frames are when layout is given (native FLAC only).
std::vector<unsigned char> encode_flac(const flac_fixture &f, flac_layout *layout = nullptr);
/// Encodes the fixture into a file; false on failure.
bool write_flac(const std::string &path, const flac_fixture &f);

/// Writes bytes to a file; false on failure.
bool write_file(const std::string &path, const std::vector<unsigned char> &bytes);
/// Reads a whole file (empty when it cannot be read).
std::vector<unsigned char> read_file(const std::string &path);

/// Offset of the first audio frame of an encoded file (after the metadata).
std::size_t first_frame_offset(const std::vector<unsigned char> &flac);

/// The pages of an Ogg stream (the last one cut where the bytes end).
std::vector<std::vector<unsigned char>> ogg_pages(const std::vector<unsigned char> &ogg);
/// One Ogg page holding one packet (less than 65025 bytes) whole, with its
/// checksum; flags 2 begins a logical stream, 4 ends it.
std::vector<unsigned char> ogg_page(unsigned flags, uint32_t serial, uint32_t sequence,
				    const std::vector<unsigned char> &packet);
/// Sets the checksum of the whole Ogg page at page to what its bytes give.
void ogg_page_seal(unsigned char *page, std::size_t size);
