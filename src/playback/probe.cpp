// What a stream's first bytes say it is. Only what begins as FLAC goes to
// libFLAC: given anything else, its decoder searches every byte for a frame
// (an error line for each false start, and for ever on /dev/zero).
#include "playback/probe.h"

#include <algorithm>
#include <cstring>

// CRC-8 of a FLAC frame header (polynomial x^8 + x^2 + x + 1).
static unsigned char crc8(const unsigned char *b, std::size_t n)
{
	unsigned crc = 0;
	for (std::size_t i = 0; i < n; i++) {
		crc ^= b[i];
		for (int bit = 0; bit < 8; bit++)
			crc = (crc & 0x80) ? ((crc << 1) ^ 0x07) & 0xff : (crc << 1) & 0xff;
	}
	return static_cast<unsigned char>(crc);
}

int frame_header_length(const unsigned char *b, std::size_t n)
{
	if (n < 2)
		return -1;
	if (b[0] != 0xff || (b[1] & 0xfe) != 0xf8)
		return 0;
	if (n < 5)
		return -1;
	const unsigned block_code = b[2] >> 4, rate_code = b[2] & 0x0f;
	const unsigned channels_code = b[3] >> 4, width_code = (b[3] >> 1) & 7;
	// Reserved codes, and the reserved bit, are not a frame.
	if (block_code == 0 || rate_code == 15 || channels_code > 10 || width_code == 3 || (b[3] & 1))
		return 0;
	// The frame or sample number, UTF-8 coded in 1 to 7 bytes.
	std::size_t len = 1;
	for (unsigned char lead = b[4]; lead & 0x80; lead = static_cast<unsigned char>(lead << 1))
		len++;
	if (len == 2 || len > 8)
		return 0;
	len = len == 1 ? 1 : len - 1;
	if (n < 4 + len)
		return -1;
	for (std::size_t i = 1; i < len; i++)
		if ((b[4 + i] & 0xc0) != 0x80)
			return 0;
	std::size_t at = 4 + len;
	at += block_code == 6 ? 1 : block_code == 7 ? 2 : 0;
	at += rate_code == 12 ? 1 : (rate_code == 13 || rate_code == 14) ? 2 : 0;
	if (n < at + 1)
		return -1;
	return crc8(b, at) == b[at] ? static_cast<int>(at + 1) : 0;
}

// The length of the ID3v2 tag at b, footer included; 0 when its header is
// not one.
static std::size_t id3v2_length(const unsigned char *b)
{
	if (b[3] == 0xff || b[4] == 0xff || ((b[6] | b[7] | b[8] | b[9]) & 0x80))
		return 0;
	const std::size_t size = (std::size_t(b[6]) << 21) | (std::size_t(b[7]) << 14) |
				 (std::size_t(b[8]) << 7) | b[9];
	return 10 + size + ((b[5] & 0x10) ? 10 : 0);
}

// CRC-16 of a FLAC frame (polynomial x^16 + x^15 + x^2 + 1), one byte on.
static unsigned crc16_step(unsigned crc, unsigned char byte)
{
	crc ^= unsigned(byte) << 8;
	for (int bit = 0; bit < 8; bit++)
		crc = (crc & 0x8000) ? ((crc << 1) ^ 0x8005) & 0xffff : (crc << 1) & 0xffff;
	return crc;
}

// Whether a whole frame begins at b: its CRC-16, over the frame and the
// footer that holds it, comes to 0 where either the stream ends or the next
// frame's header begins. 1 yes, 0 no, -1 when n bytes cannot tell yet.
static int frame_checks(const unsigned char *b, std::size_t n, bool at_end, std::size_t header)
{
	unsigned crc = 0;
	for (std::size_t i = 0; i < header; i++)
		crc = crc16_step(crc, b[i]);
	for (std::size_t end = header; end < n; end++) {
		crc = crc16_step(crc, b[end]);
		if (crc != 0 || end < header + 2)
			continue;
		if (end + 1 == n)
			return at_end ? 1 : -1;
		int next = frame_header_length(b + end + 1, n - end - 1);
		if (next < 0 && !at_end)
			return -1;
		if (next > 0)
			return 1;
	}
	return at_end ? 0 : -1;
}

// A file's first bytes begin with a FLAC frame's sync code.
static bool begins_with_sync(const unsigned char *b, std::size_t n)
{
	return n < 2 ? n == 0 || b[0] == 0xff : b[0] == 0xff && (b[1] & 0xfe) == 0xf8;
}

int probe_start(const unsigned char *b, std::size_t n, bool at_end, std::size_t *skip, bool anywhere)
{
	// Each test first asks for the bytes it needs, so a short read that
	// could still become FLAC is never refused.
	auto begins = [&](const char *magic, std::size_t length) { return memcmp(b, magic, std::min(n, length)) == 0; };
	const int more = at_end ? probe_not_flac : probe_more;
	if (begins("fLaC", 4))
		return n < 4 ? more : probe_native;
	if (begins("ID3", 3)) {
		if (n < 10)
			return more;
		*skip = id3v2_length(b);
		return *skip ? probe_tag : probe_not_flac;
	}
	if (begins("OggS", 4)) {
		// An Ogg FLAC stream's first page holds one packet, which begins
		// "\x7f" "FLAC", right after the page's segment table.
		if (n < 27)
			return more;
		const std::size_t packet = 27 + std::size_t(b[26]);
		if (n < packet + 5)
			return more;
		return memcmp(b + packet, "\x7f" "FLAC", 5) == 0 ? probe_ogg : probe_not_flac;
	}
	if (!anywhere && !begins_with_sync(b, n))
		return probe_not_flac;
	// A stream cut from the middle of another: its first whole frame, found
	// within the first 64 KiB. Header and frame both check out, so noise
	// or another format does not pass for one by chance.
	for (std::size_t at = 0; at < n && at < probe_window; at++) {
		if (b[at] != 0xff)
			continue;
		int header = frame_header_length(b + at, n - at);
		int whole = header > 0 ? frame_checks(b + at, n - at, at_end, static_cast<std::size_t>(header)) : header;
		if (whole < 0)
			return more;
		if (whole > 0) {
			*skip = at;
			return probe_frames;
		}
	}
	return n < probe_window ? more : probe_not_flac;
}

int id3v2_chain_ended(int tags, uint64_t bytes)
{
	return tags > id3v2_chain_max || bytes > id3v2_bytes_max;
}
