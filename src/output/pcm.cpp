// Raw PCM conversion, stage by stage: the frames as they are, or their
// channels mixed and their width widened exactly or narrowed with TPDF
// dither, for a declared format. Pure functions, buffer in, buffer out.
#include "output/pcm.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

// A whole number of at most max, read up to end (':' or the text's end).
static bool whole(const char *&p, int max, int *value)
{
	long n = 0;
	const char *start = p;
	for (; *p >= '0' && *p <= '9'; p++)
		if ((n = n * 10 + (*p - '0')) > max)
			return false;
	*value = static_cast<int>(n);
	return p != start;
}

int pcm_format_parse(const char *text, pcm_format *f)
{
	pcm_format g;
	const char *p = text;
	if (!whole(p, pcm_rate_max, &g.rate) || *p++ != ':' || !whole(p, 32, &g.bits) || *p++ != ':' ||
	    !whole(p, pcm_channels_max, &g.channels) || *p)
		return 0;
	if (g.rate < pcm_rate_min || (g.bits != 16 && g.bits != 24 && g.bits != 32) || g.channels < 1)
		return 0;
	*f = g;
	return 1;
}

int pcm_declared_bytes(int bits)
{
	return bits == 16 ? 2 : 4;
}

static void put_le(unsigned char *p, uint32_t v, int bytes)
{
	for (int i = 0; i < bytes; i++)
		p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void pcm_signed_le(const unsigned char *in, std::size_t size, int bits, unsigned char *out)
{
	if (bits == 8) {
		for (std::size_t i = 0; i < size; i++)
			out[i] = in[i] ^ 0x80;
	} else if (bits == 16 && std::endian::native == std::endian::big) {
		for (std::size_t i = 0; i + 1 < size; i += 2) {
			const unsigned char hi = in[i];
			out[i] = in[i + 1];
			out[i + 1] = hi;
		}
	} else if (out != in) {
		memcpy(out, in, size);
	}
}

// The integer value of sample i of the frames.
static int32_t sample_at(const unsigned char *in, std::size_t i, int bits)
{
	if (bits == 8)
		return static_cast<int32_t>(in[i]) - 128;
	if (bits == 16) {
		int16_t s;
		memcpy(&s, in + 2 * i, 2);
		return s;
	}
	const unsigned char *p = in + 3 * i;
	const uint32_t u = p[0] | p[1] << 8 | static_cast<uint32_t>(p[2]) << 16;
	return static_cast<int32_t>(u << 8) >> 8;
}

void pcm_unpack(const unsigned char *in, std::size_t samples, int bits, float *out)
{
	const float step = std::ldexp(1.0f, 1 - bits);
	for (std::size_t i = 0; i < samples; i++)
		out[i] = static_cast<float>(sample_at(in, i, bits)) * step;
}

std::size_t pcm_widen(const unsigned char *in, std::size_t samples, int bits, int out_bits, unsigned char *out)
{
	const int bytes = pcm_declared_bytes(out_bits), shift = out_bits - bits;
	if (shift == 0 && bits == 16 && std::endian::native == std::endian::little) {
		memcpy(out, in, samples * 2);
		return samples * 2;
	}
	for (std::size_t i = 0; i < samples; i++)
		put_le(out + i * bytes, static_cast<uint32_t>(sample_at(in, i, bits)) << shift, bytes);
	return samples * bytes;
}

namespace {
enum speaker { L, R, C, LFE, BL, BR, BC, SL, SR };
// FLAC's speakers for each channel count.
const std::vector<speaker> layouts[pcm_channels_max] = {
	{C}, {L, R}, {L, R, C}, {L, R, BL, BR}, {L, R, C, BL, BR}, {L, R, C, LFE, BL, BR},
	{L, R, C, LFE, BC, SL, SR}, {L, R, C, LFE, BL, BR, SL, SR},
};
// Where a speaker the output lacks goes, in order of preference: the first
// pair (or one) the output has, at -3 dB.
struct fold {
	speaker from;
	speaker to[3][2];
};
constexpr speaker none = LFE;
const fold folds[] = {
	{C, {{L, R}, {none, none}, {none, none}}},
	{BL, {{SL, none}, {BC, none}, {L, none}}},
	{BR, {{SR, none}, {BC, none}, {R, none}}},
	{SL, {{BL, none}, {L, none}, {none, none}}},
	{SR, {{BR, none}, {R, none}, {none, none}}},
	{BC, {{BL, BR}, {SL, SR}, {L, R}}},
};
}

void pcm_mix_matrix(int in_channels, int out_channels, float *matrix)
{
	std::fill(matrix, matrix + in_channels * out_channels, 0.0f);
	auto at = [&](int out, int in) -> float & { return matrix[out * in_channels + in]; };
	if (in_channels == out_channels || in_channels == 1 || out_channels == 1) {
		for (int o = 0; o < out_channels; o++)
			for (int i = 0; i < in_channels; i++)
				at(o, i) = out_channels == 1 ? 1.0f / static_cast<float>(in_channels)
							     : in_channels == 1 || i == o ? 1.0f : 0.0f;
		return;
	}
	const std::vector<speaker> &in = layouts[in_channels - 1], &out = layouts[out_channels - 1];
	auto place = [&](speaker s) { return static_cast<int>(std::find(out.begin(), out.end(), s) - out.begin()); };
	const float minus_3db = std::sqrt(0.5f);
	for (int i = 0; i < in_channels; i++) {
		if (place(in[i]) < out_channels) {
			at(place(in[i]), i) = 1.0f;
			continue;
		}
		for (const fold &f : folds) {
			if (f.from != in[i])
				continue;
			for (const auto &pair : f.to) {
				if (pair[0] == none || place(pair[0]) == out_channels)
					continue;
				for (speaker s : pair)
					if (s != none)
						at(place(s), i) += minus_3db;
				break;
			}
		}
	}
	// One scale for every output keeps their balance; the loudest one
	// reaches full scale only when all it takes does.
	float loudest = 0;
	for (int o = 0; o < out_channels; o++) {
		float sum = 0;
		for (int i = 0; i < in_channels; i++)
			sum += at(o, i);
		loudest = std::max(loudest, sum);
	}
	if (loudest > 1.0f)
		for (int k = 0; k < in_channels * out_channels; k++)
			matrix[k] /= loudest;
}

void pcm_mix(const float *in, std::size_t frames, int in_channels, int out_channels, const float *matrix,
	     float *out)
{
	for (std::size_t f = 0; f < frames; f++, in += in_channels, out += out_channels)
		for (int o = 0; o < out_channels; o++) {
			float sum = 0;
			for (int i = 0; i < in_channels; i++)
				sum += matrix[o * in_channels + i] * in[i];
			out[o] = sum;
		}
}

// xorshift64*: fast, and plenty for dither.
static uint64_t next_random(uint64_t *state)
{
	uint64_t x = *state;
	x ^= x >> 12;
	x ^= x << 25;
	x ^= x >> 27;
	*state = x;
	return x * 0x2545F4914F6CDD1DULL;
}

std::size_t pcm_quantize(const float *in, std::size_t samples, int bits, bool dither, uint64_t *seed,
			 unsigned char *out)
{
	const double scale = std::ldexp(1.0, bits - 1), lo = -scale, hi = scale - 1;
	const int bytes = pcm_declared_bytes(bits);
	// Two uniform values in [0, 1) summed, less 1: triangular in (-1, 1).
	const double unit = std::ldexp(1.0, -32);
	for (std::size_t i = 0; i < samples; i++) {
		double x = static_cast<double>(in[i]) * scale;
		if (dither) {
			const uint64_t r = next_random(seed);
			x += static_cast<double>(r >> 32) * unit + static_cast<double>(r & 0xffffffffu) * unit - 1.0;
		}
		// Not a number (never from finite samples) is silence.
		x = std::clamp(std::floor(x + 0.5), lo, hi);
		put_le(out + i * bytes, static_cast<uint32_t>(static_cast<int32_t>(x == x ? x : 0)), bytes);
	}
	return samples * bytes;
}
