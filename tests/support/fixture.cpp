#include "fixture.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {
struct memory_sink {
	std::vector<unsigned char> bytes;
	std::size_t pos = 0;
	std::vector<std::size_t> frames;  // where each frame was written
};

FLAC__StreamEncoderWriteStatus sink_write(const FLAC__StreamEncoder *, const FLAC__byte buffer[],
					  size_t n, uint32_t samples, uint32_t, void *data)
{
	auto *s = static_cast<memory_sink *>(data);
	// libFLAC hands over each frame in one call, and only frames carry samples.
	if (samples)
		s->frames.push_back(s->pos);
	if (s->pos + n > s->bytes.size())
		s->bytes.resize(s->pos + n);
	memcpy(s->bytes.data() + s->pos, buffer, n);
	s->pos += n;
	return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

FLAC__StreamEncoderSeekStatus sink_seek(const FLAC__StreamEncoder *, FLAC__uint64 offset, void *data)
{
	static_cast<memory_sink *>(data)->pos = offset;
	return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus sink_tell(const FLAC__StreamEncoder *, FLAC__uint64 *offset, void *data)
{
	*offset = static_cast<memory_sink *>(data)->pos;
	return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

FLAC__StreamEncoderReadStatus sink_read(const FLAC__StreamEncoder *, FLAC__byte buffer[], size_t *n, void *data)
{
	auto *s = static_cast<memory_sink *>(data);
	*n = std::min(*n, s->bytes.size() - std::min(s->pos, s->bytes.size()));
	if (*n == 0)
		return FLAC__STREAM_ENCODER_READ_STATUS_END_OF_STREAM;
	memcpy(buffer, s->bytes.data() + s->pos, *n);
	s->pos += *n;
	return FLAC__STREAM_ENCODER_READ_STATUS_CONTINUE;
}

void put_le32(std::vector<unsigned char> &v, uint32_t x)
{
	for (int i = 0; i < 4; i++)
		v.push_back(static_cast<unsigned char>(x >> (8 * i)));
}

std::vector<unsigned char> comment_block_body(const std::vector<std::string> &entries)
{
	static const std::string vendor = "wendrop fixture";
	std::vector<unsigned char> body;
	put_le32(body, static_cast<uint32_t>(vendor.size()));
	body.insert(body.end(), vendor.begin(), vendor.end());
	put_le32(body, static_cast<uint32_t>(entries.size()));
	for (const std::string &e : entries) {
		put_le32(body, static_cast<uint32_t>(e.size()));
		body.insert(body.end(), e.begin(), e.end());
	}
	return body;
}

struct block {
	int type;
	std::vector<unsigned char> body;
};

// Splits an encoded file into its metadata blocks and the audio after them.
bool split_metadata(const std::vector<unsigned char> &f, std::vector<block> &blocks, std::size_t &audio)
{
	if (f.size() < 4 || memcmp(f.data(), "fLaC", 4) != 0)
		return false;
	std::size_t p = 4;
	for (bool last = false; !last;) {
		if (p + 4 > f.size())
			return false;
		last = f[p] & 0x80;
		int type = f[p] & 0x7f;
		std::size_t len = (std::size_t(f[p + 1]) << 16) | (std::size_t(f[p + 2]) << 8) | f[p + 3];
		p += 4;
		if (p + len > f.size())
			return false;
		blocks.push_back({type, {f.begin() + p, f.begin() + p + len}});
		p += len;
	}
	audio = p;
	return true;
}

// STREAMINFO from byte 10: rate (20 bits), channels - 1 (3), bits - 1 (5),
// total (36).
void set_total(std::vector<unsigned char> &streaminfo, uint64_t total)
{
	streaminfo[13] = static_cast<unsigned char>((streaminfo[13] & 0xf0) | ((total >> 32) & 0x0f));
	for (int i = 0; i < 4; i++)
		streaminfo[14 + i] = static_cast<unsigned char>(total >> (24 - 8 * i));
}

void patch_streaminfo(std::vector<unsigned char> &si, const flac_fixture &f)
{
	if (f.stated_md5)
		std::copy(f.stated_md5->begin(), f.stated_md5->end(), si.begin() + 18);
	if (f.stated_total)
		set_total(si, *f.stated_total);
	if (f.stated_rate) {
		unsigned r = *f.stated_rate;
		si[10] = static_cast<unsigned char>(r >> 12);
		si[11] = static_cast<unsigned char>(r >> 4);
		si[12] = static_cast<unsigned char>((si[12] & 0x0f) | ((r & 0x0f) << 4));
	}
	if (f.stated_channels)
		si[12] = static_cast<unsigned char>((si[12] & 0xf1) | (((*f.stated_channels - 1) & 7) << 1));
	if (f.stated_bits) {
		unsigned b = *f.stated_bits - 1;
		si[12] = static_cast<unsigned char>((si[12] & 0xfe) | ((b >> 4) & 1));
		si[13] = static_cast<unsigned char>((si[13] & 0x0f) | ((b & 0x0f) << 4));
	}
}

// A small, repeatable generator: the same seed gives the same audio on
// every machine.
struct xorshift {
	uint64_t s;
	uint64_t next()
	{
		s ^= s << 13;
		s ^= s >> 7;
		s ^= s << 17;
		return s;
	}
	double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0 * 2 - 1; }
};
}

std::vector<int32_t> make_signal(signal_kind kind, unsigned bits, unsigned channels, uint64_t frames,
				 unsigned rate, uint32_t seed)
{
	const int64_t hi = (int64_t(1) << (bits - 1)) - 1, lo = -(int64_t(1) << (bits - 1));
	const int64_t span = hi - lo + 1;
	std::vector<int32_t> out(frames * channels);
	xorshift rng{0x9e3779b97f4a7c15ull ^ (uint64_t(seed) * 0x2545f4914f6cdd1dull)};
	std::vector<double> filtered(channels, 0.0);
	const double pi = 3.14159265358979323846;
	for (uint64_t i = 0; i < frames; i++) {
		for (unsigned c = 0; c < channels; c++) {
			int64_t v = 0;
			switch (kind) {
			case signal_kind::ramp:
				// A different step per channel keeps the channels apart.
				v = ((int64_t(i) * (2 * c + 3) + c * 1000) % span + span) % span + lo;
				break;
			case signal_kind::noise:
				v = lo + int64_t(rng.next() % uint64_t(span));
				break;
			case signal_kind::music: {
				double t = double(i) / rate;
				filtered[c] = 0.97 * filtered[c] + 0.03 * rng.unit();
				double x = 0.30 * std::sin(2 * pi * (220.0 * (c + 1)) * t) +
					   0.15 * std::sin(2 * pi * 660.0 * t + c) + 2.0 * filtered[c];
				v = std::llround(std::clamp(x, -1.0, 1.0) * 0.5 * double(hi));
				break;
			}
			}
			out[i * channels + c] = static_cast<int32_t>(v);
		}
	}
	return out;
}

std::vector<unsigned char> encode_flac(const flac_fixture &f, flac_layout *layout)
{
	FLAC__StreamEncoder *enc = FLAC__stream_encoder_new();
	if (!enc)
		return {};
	const uint64_t frames = f.samples.size() / f.channels;
	FLAC__stream_encoder_set_channels(enc, f.channels);
	FLAC__stream_encoder_set_bits_per_sample(enc, f.bits);
	FLAC__stream_encoder_set_sample_rate(enc, f.rate);
	FLAC__stream_encoder_set_compression_level(enc, 5);
	// Outside the streamable subset any width from 4 to 32 bits and any
	// block size is allowed.
	FLAC__stream_encoder_set_streamable_subset(enc, false);
	FLAC__stream_encoder_set_total_samples_estimate(enc, frames);
	if (f.blocksize)
		FLAC__stream_encoder_set_blocksize(enc, f.blocksize);

	memory_sink sink;
	FLAC__StreamMetadata *comments = nullptr;
	bool ok;
	if (f.ogg) {
		// The Ogg encoder writes the metadata itself: the comment block
		// goes in whole, as the fixture gives it.
		ok = f.comment_blocks.size() <= 1 && FLAC__stream_encoder_set_ogg_serial_number(enc, f.ogg_serial);
		if (ok && !f.comment_blocks.empty()) {
			comments = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
			ok = comments != nullptr;
			for (const std::string &e : f.comment_blocks[0]) {
				FLAC__StreamMetadata_VorbisComment_Entry entry = {
					static_cast<uint32_t>(e.size()),
					reinterpret_cast<FLAC__byte *>(const_cast<char *>(e.data()))};
				ok = ok && FLAC__metadata_object_vorbiscomment_append_comment(comments, entry, true);
			}
			ok = ok && FLAC__stream_encoder_set_metadata(enc, &comments, 1);
		}
		ok = ok && FLAC__stream_encoder_init_ogg_stream(enc, sink_read, sink_write, sink_seek, sink_tell,
								nullptr, &sink) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
	} else {
		ok = FLAC__stream_encoder_init_stream(enc, sink_write, sink_seek, sink_tell, nullptr, &sink) ==
		     FLAC__STREAM_ENCODER_INIT_STATUS_OK;
	}
	const std::size_t chunk = 4096;
	for (uint64_t done = 0; ok && done < frames; done += chunk) {
		uint64_t n = std::min<uint64_t>(chunk, frames - done);
		ok = FLAC__stream_encoder_process_interleaved(enc, f.samples.data() + done * f.channels,
							      static_cast<uint32_t>(n));
	}
	ok = FLAC__stream_encoder_finish(enc) && ok;
	FLAC__stream_encoder_delete(enc);
	if (comments)
		FLAC__metadata_object_delete(comments);
	if (!ok)
		return {};
	if (f.ogg && f.stated_md5) {
		// In the first page's packet: "\x7f" "FLAC", version, header count,
		// "fLaC", and STREAMINFO after its 4-byte block header.
		const std::size_t first = ogg_pages(sink.bytes).at(0).size(), at = 27 + sink.bytes[26] + 17 + 18;
		std::copy(f.stated_md5->begin(), f.stated_md5->end(), sink.bytes.begin() + static_cast<std::ptrdiff_t>(at));
		ogg_page_seal(sink.bytes.data(), first);
	}
	if (f.ogg)
		return sink.bytes;

	std::vector<block> blocks;
	std::size_t audio = 0;
	if (!split_metadata(sink.bytes, blocks, audio) || blocks.empty())
		return {};
	patch_streaminfo(blocks[0].body, f);
	if (f.drop_streaminfo)
		blocks.erase(blocks.begin());
	if (!f.comment_blocks.empty()) {
		std::erase_if(blocks, [](const block &b) { return b.type == 4; });
		for (const auto &entries : f.comment_blocks)
			blocks.push_back({4, comment_block_body(entries)});
	}
	for (const raw_block &r : f.raw_blocks)
		blocks.push_back({r.type, r.body});
	if (layout)
		*layout = {};

	std::vector<unsigned char> out = {'f', 'L', 'a', 'C'};
	for (std::size_t i = 0; i < blocks.size(); i++) {
		std::size_t len = blocks[i].body.size();
		out.push_back(static_cast<unsigned char>((i + 1 == blocks.size() ? 0x80 : 0) | blocks[i].type));
		out.push_back(static_cast<unsigned char>(len >> 16));
		out.push_back(static_cast<unsigned char>(len >> 8));
		out.push_back(static_cast<unsigned char>(len));
		out.insert(out.end(), blocks[i].body.begin(), blocks[i].body.end());
		if (layout)
			layout->block_ends.push_back(out.size());
	}
	if (layout)
		for (std::size_t at : sink.frames)
			layout->frames.push_back(out.size() + at - audio);
	out.insert(out.end(), sink.bytes.begin() + static_cast<std::ptrdiff_t>(audio), sink.bytes.end());
	return out;
}

bool write_file(const std::string &path, const std::vector<unsigned char> &bytes)
{
	std::ofstream o(path, std::ios::binary | std::ios::trunc);
	o.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
	return static_cast<bool>(o);
}

bool write_flac(const std::string &path, const flac_fixture &f)
{
	std::vector<unsigned char> bytes = encode_flac(f);
	return !bytes.empty() && write_file(path, bytes);
}

std::vector<unsigned char> read_file(const std::string &path)
{
	std::ifstream i(path, std::ios::binary);
	return {std::istreambuf_iterator<char>(i), std::istreambuf_iterator<char>()};
}

std::size_t first_frame_offset(const std::vector<unsigned char> &flac)
{
	std::vector<block> blocks;
	std::size_t audio = 0;
	return split_metadata(flac, blocks, audio) ? audio : 0;
}

std::vector<std::vector<unsigned char>> ogg_pages(const std::vector<unsigned char> &ogg)
{
	std::vector<std::vector<unsigned char>> pages;
	for (std::size_t at = 0, size; at + 27 <= ogg.size(); at += size) {
		size = 27 + ogg[at + 26];
		for (unsigned i = 0; i < ogg[at + 26]; i++)
			size += ogg[at + 27 + i];
		pages.emplace_back(ogg.begin() + static_cast<std::ptrdiff_t>(at),
				   ogg.begin() + static_cast<std::ptrdiff_t>(std::min(at + size, ogg.size())));
	}
	return pages;
}

std::vector<unsigned char> ogg_page(unsigned flags, uint32_t serial, uint32_t sequence,
				    const std::vector<unsigned char> &packet)
{
	// Lacing: 255 for each whole segment, then the rest (0 when it divides).
	const std::size_t segments = packet.size() / 255 + 1;
	std::vector<unsigned char> page(27 + segments, 255);
	const unsigned char fixed[] = {'O', 'g', 'g', 'S', 0, static_cast<unsigned char>(flags)};
	std::copy(std::begin(fixed), std::end(fixed), page.begin());
	std::fill(page.begin() + 6, page.begin() + 14, 0);  // granule position 0
	for (int i = 0; i < 4; i++) {
		page[14 + i] = static_cast<unsigned char>(serial >> (8 * i));
		page[18 + i] = static_cast<unsigned char>(sequence >> (8 * i));
	}
	page[26] = static_cast<unsigned char>(segments);
	page.back() = static_cast<unsigned char>(packet.size() % 255);
	page.insert(page.end(), packet.begin(), packet.end());
	ogg_page_seal(page.data(), page.size());
	return page;
}

void ogg_page_seal(unsigned char *page, std::size_t size)
{
	// CRC-32, polynomial 0x04c11db7, most significant bit first, from 0,
	// over the page with its checksum field as 0.
	std::fill(page + 22, page + 26, 0);
	uint32_t crc = 0;
	for (std::size_t i = 0; i < size; i++) {
		crc ^= uint32_t(page[i]) << 24;
		for (int bit = 0; bit < 8; bit++)
			crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04c11db7u : crc << 1;
	}
	for (int i = 0; i < 4; i++)
		page[22 + i] = static_cast<unsigned char>(crc >> (8 * i));
}
