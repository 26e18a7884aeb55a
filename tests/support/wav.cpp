#include "wav.h"

#include "fixture.h"
#include "process.h"
#include "testenv.h"

#include <cstdio>
#include <cstring>

static uint32_t le(const unsigned char *p, int n)
{
	uint32_t v = 0;
	for (int i = n - 1; i >= 0; i--)
		v = (v << 8) | p[i];
	return v;
}

wav_info parse_wav(const std::vector<unsigned char> &b)
{
	wav_info w;
	if (b.size() < 12 || memcmp(b.data(), "RIFF", 4) || memcmp(b.data() + 8, "WAVE", 4))
		return w;
	std::size_t p = 12;
	bool have_fmt = false;
	while (p + 8 <= b.size()) {
		uint32_t size = le(&b[p + 4], 4);
		const unsigned char *body = &b[p + 8];
		std::size_t avail = b.size() - p - 8;
		if (!memcmp(&b[p], "fmt ", 4) && avail >= 16) {
			w.channels = le(body + 2, 2);
			w.rate = le(body + 4, 4);
			w.bits = le(body + 14, 2);
			if (le(body, 2) == 0xFFFE && size >= 24 && avail >= 24)
				w.channel_mask = le(body + 20, 4);
			have_fmt = true;
		} else if (!memcmp(&b[p], "data", 4)) {
			w.data.assign(body, body + std::min<std::size_t>(size, avail));
			w.data_offset = p + 8;
			w.ok = have_fmt;
			return w;
		}
		p += 8 + size + (size & 1);
	}
	return w;
}

bool wav_states_its_size(const std::vector<unsigned char> &file)
{
	wav_info w = parse_wav(file);
	if (!w.ok || file.size() < w.data_offset)
		return false;
	const std::size_t held = file.size() - w.data_offset;
	return le(&file[4], 4) == file.size() - 8 && le(&file[w.data_offset - 4], 4) == held &&
	       held % (w.channels * (w.bits / 8)) == 0;
}

std::vector<unsigned char> pcm_bytes(const std::vector<int32_t> &samples, unsigned bits)
{
	std::vector<unsigned char> out;
	const unsigned bytes = bits / 8;
	out.reserve(samples.size() * bytes);
	for (int32_t s : samples) {
		if (bits == 8) {
			out.push_back(static_cast<unsigned char>(s + 128));
			continue;
		}
		for (unsigned i = 0; i < bytes; i++)
			out.push_back(static_cast<unsigned char>(static_cast<uint32_t>(s) >> (8 * i)));
	}
	return out;
}

std::vector<unsigned char> flac_reference(const std::string &flac_path, unsigned bits,
					  const std::string &scratch_path)
{
	run_result r = run({flac_tool(), "-d", "-s", "-f", "--force-raw-format", "--endian=little",
			    bits == 8 ? "--sign=unsigned" : "--sign=signed", "-o", scratch_path, flac_path});
	if (r.status != 0)
		return {};
	return read_file(scratch_path);
}

reference_decode flac_reference_through_errors(const std::string &flac_path, unsigned bits,
					       const std::string &scratch_path)
{
	// A tool that gives up early must not leave an earlier run's output.
	std::remove(scratch_path.c_str());
	run_result r = run({flac_tool(), "-d", "-s", "-F", "-f", "--force-raw-format", "--endian=little",
			    bits == 8 ? "--sign=unsigned" : "--sign=signed", "-o", scratch_path, flac_path});
	reference_decode d;
	d.ok = !r.timed_out;
	d.data = read_file(scratch_path);
	for (std::size_t p = 0; (p = r.err.find("*** Got error code", p)) != std::string::npos; p++)
		d.errors++;
	return d;
}
