// Raw PCM for a fixed-format reader (Snapcast): the declared format, and
// the frames converted to it. The stages are pure functions, buffer in,
// buffer out; the converter strings them together for a stream, with the
// rate converter's history in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

/// A sample format: rate in Hz, bits per sample, channels.
struct pcm_format {
	int rate, bits, channels;
};

/// The declared format's limits.
inline constexpr int pcm_rate_min = 1000, pcm_rate_max = 768000, pcm_channels_max = 8;

/// Reads RATE:BITS:CHANNELS, Snapcast's notation ("48000:16:2"): whole
/// numbers, RATE from pcm_rate_min to pcm_rate_max, BITS 16, 24 or 32,
/// CHANNELS 1 to 8. 1 with *f filled; 0 for anything else.
int pcm_format_parse(const char *text, pcm_format *f);

/// Bytes of one sample in the declared format: 24 bits travel in the lower
/// three bytes of a sign-extended 32-bit word.
int pcm_declared_bytes(int bits);

/// The frames' bytes as headerless signed little-endian PCM: 8-bit samples
/// (unsigned in the frames) get their sign bit flipped, 16-bit ones are put
/// in little-endian order, packed 24-bit ones stay. out may be in.
void pcm_signed_le(const unsigned char *in, std::size_t size, int bits, unsigned char *out);

/// Samples of the frames (bits 8 unsigned, 16 native, 24 packed little
/// endian) as floats of full scale 1: exact, -1 <= x < 1.
void pcm_unpack(const unsigned char *in, std::size_t samples, int bits, float *out);

/// The mixing matrix from in to out channels (FLAC's speaker order), row by
/// output channel: the same count is the identity; mono is copied to every
/// channel; every channel is averaged into mono; otherwise a speaker the
/// output lacks folds into its neighbours at -3 dB (centre to left and
/// right, back to side or front, side to back or front, back centre to a
/// pair), LFE is dropped, and the whole is scaled so that no output can
/// pass full scale. matrix holds out_channels * in_channels.
void pcm_mix_matrix(int in_channels, int out_channels, float *matrix);
/// Mixes frames sample frames by matrix. out must not be in.
void pcm_mix(const float *in, std::size_t frames, int in_channels, int out_channels, const float *matrix,
	     float *out);

/// Quantizes samples of full scale 1 to bits (16, 24 or 32) and writes them
/// little-endian in the declared layout. With dither, TPDF dither of one
/// least significant bit (two uniform values from *seed, which advances) is
/// added first; without, samples are rounded to the nearest step, so what
/// came exactly from fewer bits goes back exactly. Beyond full scale is
/// held at it. Gives the bytes written.
std::size_t pcm_quantize(const float *in, std::size_t samples, int bits, bool dither, uint64_t *seed,
			 unsigned char *out);
/// Widens integer samples of the frames (bits 8, 16, 24) to the declared
/// width out_bits (at least as wide), exactly: the value shifted up. Gives
/// the bytes written.
std::size_t pcm_widen(const unsigned char *in, std::size_t samples, int bits, int out_bits, unsigned char *out);

/// A stream converted to a declared format.
struct pcm_converter {
	pcm_format in, out;  // in.bits: 8, 16 or 24, as the frames hold them
	bool mixing, resampling, dither;
	float matrix[pcm_channels_max * pcm_channels_max];
	void *resampler = nullptr;  // libsoxr's, while the rates differ
	uint64_t seed;       // the dither's
	std::vector<float> unpacked, mixed, resampled;
};

/// How many times higher than a stream's rate the declared one may be.
inline constexpr int pcm_rate_up_max = 32;

/// Sets c up to convert frames of format in to out, the dither seeded with
/// seed. 0 (after the line that says why) when the rates differ and libsoxr
/// cannot be loaded or refuses, or out's rate is more than pcm_rate_up_max
/// times in's.
int pcm_converter_start(pcm_converter *c, const pcm_format &in, const pcm_format &out, uint64_t seed);
/// Converts frames sample frames of bytes in the in format, appending the
/// result to *out.
void pcm_convert(pcm_converter *c, const unsigned char *in, std::size_t frames, std::vector<unsigned char> *out);
/// The signal ends: what the rate converter still holds is appended to
/// *out, and it is ready for a fresh signal.
void pcm_converter_flush(pcm_converter *c, std::vector<unsigned char> *out);
/// The next frames do not follow the last (a seek): the rate converter's
/// history is dropped.
void pcm_converter_reset(pcm_converter *c);
/// Releases the rate converter.
void pcm_converter_end(pcm_converter *c);
