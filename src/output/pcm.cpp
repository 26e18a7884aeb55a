// Raw PCM conversion: the frames as they are, or in a declared format, its
// rate converted by libsoxr at its very high quality, its channels mixed,
// its width widened exactly or narrowed with TPDF dither.
#include "output/pcm.h"
#include "output/libsoxr.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

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

int pcm_converter_start(pcm_converter *c, const pcm_format &in, const pcm_format &out, uint64_t seed)
{
	pcm_converter_end(c);
	c->in = in;
	c->out = out;
	c->mixing = in.channels != out.channels;
	c->resampling = in.rate != out.rate;
	c->dither = out.bits < in.bits;
	c->seed = seed ? seed : 1;
	pcm_mix_matrix(in.channels, out.channels, c->matrix);
	if (!c->resampling)
		return 1;
	// Each frame is converted whole, so its size bounds memory: a frame of
	// the largest size and channel count, made 32 times longer, is 64 MiB.
	if (out.rate > static_cast<int64_t>(in.rate) * pcm_rate_up_max) {
		fprintf(stderr, "Cannot convert the rate: %d Hz to %d Hz is more than %d times\n", in.rate, out.rate,
			pcm_rate_up_max);
		return 0;
	}
	if (!soxr_load())
		return 0;
	// Fewer channels are cheaper to resample: before an upmix, after a
	// downmix. One thread: the player has one.
	const soxr_io_spec_t io = soxr_lib.io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
	const soxr_quality_spec_t quality = soxr_lib.quality_spec(SOXR_VHQ, 0);
	const soxr_runtime_spec_t runtime = soxr_lib.runtime_spec(1);
	soxr_error_t error = nullptr;
	c->resampler = soxr_lib.create(in.rate, out.rate, static_cast<unsigned>(std::min(in.channels, out.channels)),
				       &error, &io, &quality, &runtime);
	if (!c->resampler || error) {
		fprintf(stderr, "Cannot convert the rate: %s\n", error ? error : "libsoxr failed");
		pcm_converter_end(c);
		return 0;
	}
	return 1;
}

// Resamples frames of in (frames null: the end of the signal) into
// c->resampled; gives the frames there.
static std::size_t resample(pcm_converter *c, const float *in, std::size_t frames)
{
	const std::size_t channels = static_cast<std::size_t>(std::min(c->in.channels, c->out.channels));
	// Room for what the frames make, and then some of what is held.
	const std::size_t room = frames * static_cast<std::size_t>(c->out.rate) / static_cast<std::size_t>(c->in.rate) + 1024;
	std::size_t made = 0, used = 0, done;
	auto *s = static_cast<soxr_t>(c->resampler);
	do {
		c->resampled.resize((made + room) * channels);
		std::size_t took = 0;
		soxr_lib.process(s, in ? in + used * channels : nullptr, frames - used, in ? &took : nullptr,
				 c->resampled.data() + made * channels, room, &done);
		used += took;
		made += done;
		// Until the input is taken and what came did not fill the room.
		if (!took && !done && in)
			break;
	} while (used < frames || done == room);
	return made;
}

// Mixes, resamples and quantizes the floats in c->unpacked (frames of the
// in format; null for the rate converter's tail), appending to out.
static void finish(pcm_converter *c, std::size_t frames, bool tail, std::vector<unsigned char> *out)
{
	const float *samples = c->unpacked.data();
	int channels = c->in.channels;
	auto mix = [&] {
		c->mixed.resize(frames * static_cast<std::size_t>(c->out.channels));
		pcm_mix(samples, frames, channels, c->out.channels, c->matrix, c->mixed.data());
		samples = c->mixed.data();
		channels = c->out.channels;
	};
	if (c->mixing && !tail && c->out.channels < c->in.channels)
		mix();
	if (c->resampling) {
		frames = resample(c, tail ? nullptr : samples, tail ? 0 : frames);
		samples = c->resampled.data();
		channels = std::min(c->in.channels, c->out.channels);
	}
	if (c->mixing && channels != c->out.channels)
		mix();
	const std::size_t count = frames * static_cast<std::size_t>(c->out.channels);
	const std::size_t at = out->size();
	out->resize(at + count * static_cast<std::size_t>(pcm_declared_bytes(c->out.bits)));
	pcm_quantize(samples, count, c->out.bits, c->dither, &c->seed, out->data() + at);
}

void pcm_convert(pcm_converter *c, const unsigned char *in, std::size_t frames, std::vector<unsigned char> *out)
{
	const std::size_t samples = frames * static_cast<std::size_t>(c->in.channels);
	if (!c->mixing && !c->resampling && !c->dither) {
		const std::size_t at = out->size();
		out->resize(at + samples * static_cast<std::size_t>(pcm_declared_bytes(c->out.bits)));
		pcm_widen(in, samples, c->in.bits, c->out.bits, out->data() + at);
		return;
	}
	c->unpacked.resize(samples);
	pcm_unpack(in, samples, c->in.bits, c->unpacked.data());
	finish(c, frames, false, out);
}

void pcm_converter_flush(pcm_converter *c, std::vector<unsigned char> *out)
{
	if (!c->resampler)
		return;
	finish(c, 0, true, out);
	soxr_lib.clear(static_cast<soxr_t>(c->resampler));
}

void pcm_converter_reset(pcm_converter *c)
{
	if (c->resampler)
		soxr_lib.clear(static_cast<soxr_t>(c->resampler));
}

void pcm_converter_end(pcm_converter *c)
{
	if (c->resampler)
		soxr_lib.destroy(static_cast<soxr_t>(c->resampler));
	c->resampler = nullptr;
}
