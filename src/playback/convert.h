// Frame conversion and the progress arithmetic: pure functions, buffer in,
// buffer out, no I/O.
#pragma once

#include <FLAC/ordinals.h>

#include <cstddef>
#include <cstdint>

/// Room for the largest FLAC frame: 65,535 samples of 8 channels at 4 bytes.
inline constexpr std::size_t sample_buffer_size = 2097120;

/// Output width for a stream width: the smallest of 8, 16, 24 that holds
/// it, 24 above that.
int container_bits(int bits_per_sample);
/// Interleaves block_size samples of out_channels channels into out at the
/// output width of bits_per_sample, scaled by gain and saturated. Channels
/// the frame lacks (frame_channels < out_channels) are written as silence.
/// Gives the number of bytes of output; out must have room for one byte
/// more, which may be overwritten.
std::size_t convert_frame(const FLAC__int32 *const channels[], unsigned block_size,
			  unsigned frame_channels, unsigned out_channels, int bits_per_sample,
			  float gain, unsigned char *out);
/// Seconds that samples last at rate, in single precision; 0 at rate 0.
float sample_seconds(uint64_t samples, int rate);
/// Room for the longest progress line (two 20-digit counts, two float
/// times of up to 42 characters each).
inline constexpr std::size_t progress_line_max = 160;
/// Formats the remote progress line "@F ..." for position current of a
/// stream of total samples (0: not stated) at rate into buf (NUL-terminated)
/// and gives its length, cut to fit size. The seconds come from the sample
/// counts: current / rate played, (total - current) / rate left.
int format_progress(char *buf, std::size_t size, uint64_t current, uint64_t total, int rate);
