// Frame conversion: planar decoded samples to interleaved output bytes at
// the output width, scaled by the volume. The loop is chosen once per frame
// (width, volume, channel layout), so the inner loops stay simple enough
// for the compiler to vectorise.
#include "playback/stream.h"
#include "playback/convert.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

int container_bits(int bits_per_sample)
{
	return bits_per_sample <= 8 ? 8 : bits_per_sample <= 16 ? 16 : 24;
}

namespace {
template <int Bits> struct width {
	static constexpr int32_t lo = -(1 << (Bits - 1));
	static constexpr int32_t hi = (1 << (Bits - 1)) - 1;
	static constexpr unsigned bytes = Bits / 8;
};

// Writes one sample. Loops that write in rising address order may let a
// 24-bit sample spill a fourth byte, which the next sample overwrites: one
// store instead of three.
template <int Bits, bool InOrder = false> inline void store(unsigned char *p, int32_t v)
{
	if constexpr (Bits == 8) {
		p[0] = static_cast<unsigned char>(v ^ 0x80);
	} else if constexpr (Bits == 16) {
		int16_t s = static_cast<int16_t>(v);
		memcpy(p, &s, 2);
	} else if constexpr (InOrder && std::endian::native == std::endian::little) {
		memcpy(p, &v, 4);
	} else {
		p[0] = static_cast<unsigned char>(v);
		p[1] = static_cast<unsigned char>(v >> 8);
		p[2] = static_cast<unsigned char>(v >> 16);
	}
}

// Brings a sample to the output width: held to the width the stream states
// (a corrupt frame may hold more), then shifted up to fill the container or
// down to 24 bits. The result always fits the container.
struct resize {
	int32_t lo, hi;
	int up, down;
	int32_t operator()(int32_t s) const { return (std::clamp(s, lo, hi) << up) >> down; }
};

// Scaling saturates, so a loud passage stays loud instead of wrapping into
// noise; truncation is toward zero.
template <int Bits> inline int32_t saturate(float f)
{
	f = std::min(std::max(f, static_cast<float>(width<Bits>::lo)), static_cast<float>(width<Bits>::hi));
	return static_cast<int32_t>(f);
}

// With a finite gain the product is never NaN.
template <int Bits> inline int32_t scale_finite(int32_t v, float gain)
{
	return saturate<Bits>(static_cast<float>(v) * gain);
}

// An infinite or NaN gain: a product that is not a number is silence.
template <int Bits> inline int32_t scale_any(int32_t v, float gain)
{
	float f = static_cast<float>(v) * gain;
	return std::isnan(f) ? 0 : saturate<Bits>(f);
}

// The output never overlaps the decoder's arrays; saying so, and indexing
// with size_t, lets the loops vectorise.
template <int Bits, class Op>
void interleave(const FLAC__int32 *const ch[], std::size_t n, unsigned frame_channels,
		unsigned out_channels, unsigned char *__restrict out, Op op)
{
	constexpr std::size_t bytes = width<Bits>::bytes;
	if (out_channels == 2 && frame_channels >= 2) {
		const FLAC__int32 *__restrict left = ch[0];
		const FLAC__int32 *__restrict right = ch[1];
		for (std::size_t i = 0; i < n; i++) {
			store<Bits, true>(out + 2 * i * bytes, op(left[i]));
			store<Bits, true>(out + (2 * i + 1) * bytes, op(right[i]));
		}
		return;
	}
	if (out_channels == 1 && frame_channels >= 1) {
		const FLAC__int32 *__restrict mono = ch[0];
		for (std::size_t i = 0; i < n; i++)
			store<Bits, true>(out + i * bytes, op(mono[i]));
		return;
	}
	const std::size_t stride = out_channels * bytes;
	for (unsigned c = 0; c < out_channels; c++) {
		unsigned char *__restrict dst = out + c * bytes;
		if (c < frame_channels) {
			const FLAC__int32 *__restrict src = ch[c];
			for (std::size_t i = 0; i < n; i++)
				store<Bits>(dst + i * stride, op(src[i]));
		} else {
			for (std::size_t i = 0; i < n; i++)
				store<Bits>(dst + i * stride, 0);
		}
	}
}

template <int Bits>
void convert(const FLAC__int32 *const ch[], unsigned n, unsigned frame_channels,
	     unsigned out_channels, resize rs, float gain, unsigned char *out)
{
	if (gain == 1.0f && rs.up == 0 && rs.down == 0)
		interleave<Bits>(ch, n, frame_channels, out_channels, out,
				 [rs](int32_t s) { return std::clamp(s, rs.lo, rs.hi); });
	else if (gain == 1.0f)
		interleave<Bits>(ch, n, frame_channels, out_channels, out, [rs](int32_t s) { return rs(s); });
	else if (std::isfinite(gain))
		interleave<Bits>(ch, n, frame_channels, out_channels, out,
				 [rs, gain](int32_t s) { return scale_finite<Bits>(rs(s), gain); });
	else
		interleave<Bits>(ch, n, frame_channels, out_channels, out,
				 [rs, gain](int32_t s) { return scale_any<Bits>(rs(s), gain); });
}
}

// Clamping 32-bit lanes is cheap with SSE4.1 (x86-64-v2): machines that
// have it get a copy of the 8- and 16-bit loops built for it, chosen at load
// time. (The 24-bit loops, with their byte stores, gain nothing from it.)
// GCC only: clang does not combine the clones with flatten, which they need
// for the loops inside to be built for the clone's machine.
#if defined(__x86_64__) && defined(__GLIBC__) && defined(__GNUC__) && !defined(__clang__) && \
	defined(__has_attribute) && !defined(WENDROP_NO_CPU_CLONES)
#if __has_attribute(target_clones)
#define WITH_CPU_CLONES __attribute__((target_clones("default", "arch=x86-64-v2"), flatten))
#endif
#endif
#ifndef WITH_CPU_CLONES
#define WITH_CPU_CLONES
#endif

WITH_CPU_CLONES
static void convert_narrow(int bits, const FLAC__int32 *const ch[], unsigned n, unsigned frame_channels,
			   unsigned out_channels, resize rs, float gain, unsigned char *out)
{
	if (bits == 8)
		convert<8>(ch, n, frame_channels, out_channels, rs, gain, out);
	else
		convert<16>(ch, n, frame_channels, out_channels, rs, gain, out);
}

std::size_t convert_frame(const FLAC__int32 *const channels[], unsigned block_size,
			  unsigned frame_channels, unsigned out_channels, int bits_per_sample,
			  float gain, unsigned char *out)
{
	const int stated = std::clamp(bits_per_sample, 1, 32);
	const int bits = container_bits(stated);
	const resize rs = {static_cast<int32_t>(-(int64_t(1) << (stated - 1))),
			   static_cast<int32_t>((int64_t(1) << (stated - 1)) - 1),
			   stated > 24 ? 0 : bits - stated, stated > 24 ? stated - 24 : 0};
	if (bits == 24)
		convert<24>(channels, block_size, frame_channels, out_channels, rs, gain, out);
	else
		convert_narrow(bits, channels, block_size, frame_channels, out_channels, rs, gain, out);
	return static_cast<std::size_t>(block_size) * out_channels * static_cast<unsigned>(bits / 8);
}
