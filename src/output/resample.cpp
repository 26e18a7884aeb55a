// The streaming converter: the pure stages of pcm.cpp strung together for
// a stream, with libsoxr's rate converter and its history in between.
#include "output/pcm.h"
#include "output/libsoxr.h"

#include <algorithm>
#include <cstdio>

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
