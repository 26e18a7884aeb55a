// Frame output: each decoded frame interleaved at the output width, scaled
// by the volume, played, counted and, in remote mode, reported.
#include "app/settings.h"
#include "playback/stream.h"

#include <cinttypes>
#include <cstring>

float volume = 1.0f;

static unsigned char sample_buffer[sample_buffer_size];

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

template <int Bits> inline void store(unsigned char *p, int32_t v)
{
	if constexpr (Bits == 8) {
		p[0] = static_cast<unsigned char>(v ^ 0x80);
	} else if constexpr (Bits == 16) {
		int16_t s = static_cast<int16_t>(v);
		memcpy(p, &s, 2);
	} else {
		p[0] = static_cast<unsigned char>(v);
		p[1] = static_cast<unsigned char>(v >> 8);
		p[2] = static_cast<unsigned char>(v >> 16);
	}
}

// Saturating, so a loud passage stays loud instead of wrapping into noise;
// a product that is not a number is silence.
template <int Bits> inline int32_t scale(int64_t v, float gain)
{
	constexpr float hi = static_cast<float>(width<Bits>::hi);
	constexpr float lo = static_cast<float>(width<Bits>::lo);
	float f = static_cast<float>(v) * gain;
	if (f != f)
		return 0;
	if (f >= hi)
		return width<Bits>::hi;
	if (f <= lo)
		return width<Bits>::lo;
	return static_cast<int32_t>(f);
}

template <int Bits> inline int32_t clamp(int64_t v)
{
	return v > width<Bits>::hi ? width<Bits>::hi : v < width<Bits>::lo ? width<Bits>::lo
									   : static_cast<int32_t>(v);
}

// Brings a sample of bits_per_sample to the output width: shifted up to
// fill it, or down to 24 bits for wider streams.
struct resize {
	int up, down;
	int64_t operator()(int32_t s) const { return (static_cast<int64_t>(s) << up) >> down; }
};

template <int Bits, bool Unity>
void convert_channel(const FLAC__int32 *src, unsigned n, unsigned stride, unsigned char *out,
		     resize rs, float gain)
{
	for (unsigned i = 0; i < n; i++, out += stride) {
		int64_t v = rs(src[i]);
		store<Bits>(out, Unity ? clamp<Bits>(v) : scale<Bits>(v, gain));
	}
}

template <int Bits>
std::size_t convert(const FLAC__int32 *const channels[], unsigned block_size,
		    unsigned frame_channels, unsigned out_channels, resize rs, float gain,
		    unsigned char *out)
{
	constexpr unsigned bytes = width<Bits>::bytes;
	const unsigned stride = out_channels * bytes;
	for (unsigned c = 0; c < out_channels; c++) {
		unsigned char *dst = out + c * bytes;
		if (c >= frame_channels) {
			for (unsigned i = 0; i < block_size; i++)
				store<Bits>(dst + i * stride, 0);
		} else if (gain == 1.0f) {
			convert_channel<Bits, true>(channels[c], block_size, stride, dst, rs, gain);
		} else {
			convert_channel<Bits, false>(channels[c], block_size, stride, dst, rs, gain);
		}
	}
	return static_cast<std::size_t>(block_size) * stride;
}
}

std::size_t convert_frame(const FLAC__int32 *const channels[], unsigned block_size,
			  unsigned frame_channels, unsigned out_channels, int bits_per_sample,
			  float gain, unsigned char *out)
{
	const int bits = container_bits(bits_per_sample);
	const resize rs = bits_per_sample > 24 ? resize{0, bits_per_sample - 24}
					       : resize{bits - bits_per_sample, 0};
	switch (bits) {
	case 8:
		return convert<8>(channels, block_size, frame_channels, out_channels, rs, gain, out);
	case 16:
		return convert<16>(channels, block_size, frame_channels, out_channels, rs, gain, out);
	default:
		return convert<24>(channels, block_size, frame_channels, out_channels, rs, gain, out);
	}
}

int format_progress(char *buf, std::size_t size, uint64_t current, uint64_t total, float elapsed,
		    float total_time)
{
	uint64_t remaining = total ? total - current : current;
	float time_left = total_time - elapsed;
	if (time_left < 0)
		time_left = 0;
	int n = snprintf(buf, size, "@F %" PRIu64 " %" PRIu64 " %.2f %.2f\n", current, remaining,
			 static_cast<double>(elapsed), static_cast<double>(time_left));
	if (n < 0)
		return 0;
	return static_cast<std::size_t>(n) < size ? n : static_cast<int>(size - 1);
}

FLAC__StreamDecoderWriteStatus flac_write_hdl(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
					      const FLAC__int32 *const buffer[], void *client_data)
{
	auto *rec = static_cast<stream_record *>(client_data);
	const unsigned block = frame->header.blocksize;

	std::size_t bytes = convert_frame(buffer, block, frame->header.channels,
					  static_cast<unsigned>(rec->format.channels),
					  rec->bits_per_sample, volume, sample_buffer);
	ao_play(rec->device, reinterpret_cast<char *>(sample_buffer), static_cast<uint_32>(bytes));

	rec->current_sample += block;
	if (frame->header.sample_rate)
		rec->elapsed_time += static_cast<float>(block) / static_cast<float>(frame->header.sample_rate);

	if (opt_remote) {
		char line[progress_line_max];
		int n = format_progress(line, sizeof line, rec->current_sample, rec->total_samples,
					rec->elapsed_time, rec->total_time);
		// One write per line: stdout is unbuffered.
		fwrite(line, 1, static_cast<std::size_t>(n), stdout);
	}
	return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}
