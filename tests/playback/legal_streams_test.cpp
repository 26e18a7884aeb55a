// Streams that FLAC allows and that players tend to refuse or mangle: cut
// from the middle of another (no metadata), changing format between frames,
// chained Ogg links. The WAV bytes are checked against what the reference
// decoder makes of each part on its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "fixture.h"
#include "process.h"
#include "testenv.h"
#include "wav.h"

namespace {
struct part {
	std::string path;
	std::vector<unsigned char> bytes, pcm;  // the file, and flac -d's samples
	unsigned bits;
};

struct LegalStreams : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);

	part make(const std::string &name, unsigned bits, unsigned channels, unsigned rate, uint64_t frames,
		  bool ogg = false, long serial = 1, std::vector<std::string> tags = {})
	{
		flac_fixture f;
		f.bits = bits;
		f.channels = channels;
		f.rate = rate;
		f.blocksize = 1152;
		f.ogg = ogg;
		f.ogg_serial = serial;
		f.samples = make_signal(signal_kind::noise, bits, channels, frames, rate, static_cast<uint32_t>(serial));
		if (!tags.empty())
			f.comment_blocks.push_back(tags);
		part p{dir.file(name), encode_flac(f), {}, bits};
		EXPECT_TRUE(write_file(p.path, p.bytes));
		p.pcm = flac_reference(p.path, bits, dir.file(name + ".raw"));
		EXPECT_FALSE(p.pcm.empty()) << name;
		return p;
	}
	// A file of the given bytes, and what flac -d makes of it.
	part file(const std::string &name, std::vector<unsigned char> bytes, unsigned bits)
	{
		part p{dir.file(name), std::move(bytes), {}, bits};
		EXPECT_TRUE(write_file(p.path, p.bytes));
		p.pcm = flac_reference(p.path, bits, dir.file(name + ".raw"));
		return p;
	}
	run_result wendrop(std::vector<std::string> args, std::string input = "")
	{
		return run(wendrop_args(std::move(args)), input, 60, {.env = env});
	}
};

std::vector<unsigned char> frames_of(const part &p)
{
	return {p.bytes.begin() + static_cast<std::ptrdiff_t>(first_frame_offset(p.bytes)), p.bytes.end()};
}

std::vector<unsigned char> operator+(std::vector<unsigned char> a, const std::vector<unsigned char> &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

// The WAV streams written one after another to standard output.
std::vector<wav_info> wav_streams(const std::string &out)
{
	std::vector<wav_info> streams;
	std::vector<unsigned char> rest(out.begin(), out.end());
	for (wav_info w; (w = parse_wav(rest)).ok;) {
		std::size_t end = w.data_offset + w.data.size();
		// Over a pipe the size is open: the data runs to the next header.
		for (std::size_t at = w.data_offset; at + 4 <= rest.size(); at++)
			if (memcmp(rest.data() + at, "RIFF", 4) == 0 && parse_wav({rest.begin() + static_cast<std::ptrdiff_t>(at), rest.end()}).ok) {
				end = at;
				break;
			}
		w.data.resize(end - w.data_offset);
		streams.push_back(w);
		rest.erase(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(end));
	}
	return streams;
}
}

TEST_F(LegalStreams, ACutStreamPlaysFromItsFirstWholeFrame)
{
	part whole = make("whole.flac", 16, 2, 44100, 1152 * 8);
	std::vector<unsigned char> noise(40000);
	for (std::size_t i = 0; i < noise.size(); i++)
		noise[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
	const std::vector<unsigned char> all = whole.pcm,
					 from_second(whole.pcm.begin() + 1152 * 4, whole.pcm.end());
	struct {
		std::string name;
		std::vector<unsigned char> bytes, pcm;
	} cases[] = {
		{"frames-only", frames_of(whole), all},
		{"cut-in-a-frame", {whole.bytes.begin() + static_cast<std::ptrdiff_t>(first_frame_offset(whole.bytes) + 100),
				    whole.bytes.end()}, from_second},
		{"after-40k-of-noise", noise + frames_of(whole), all},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		part p = file(c.name + ".flac", c.bytes, 16);
		std::string wav = dir.file("out.wav");
		run_result r = wendrop({"--wav", wav, p.path});
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "");
		EXPECT_NE(r.out.find("16 bit, 44100 Hz, 2 channels, 0 total samples, 0.00 total seconds\n"),
			  std::string::npos) << r.out;
		EXPECT_TRUE(parse_wav(read_file(wav)).data == c.pcm);
		// The same through a pipe, where it can be read only once.
		r = wendrop({"-q", "--wav=-", "-"}, std::string(c.bytes.begin(), c.bytes.end()));
		EXPECT_EQ(r.err, "");
		EXPECT_TRUE(parse_wav({r.out.begin(), r.out.end()}).data == c.pcm);
	}
}

// Two encodes joined frame by frame, no metadata between: 16-bit stereo at
// 44.1 kHz, then 24-bit mono at 48 kHz.
TEST_F(LegalStreams, AFormatChangeMidStreamIsFollowed)
{
	part a = make("a.flac", 16, 2, 44100, 1152 * 5), b = make("b.flac", 24, 1, 48000, 1152 * 4);
	part b_frames = file("b-frames.flac", frames_of(b), 24);
	ASSERT_EQ(b_frames.pcm, b.pcm);
	std::string joined = dir.file("joined.flac");
	ASSERT_TRUE(write_file(joined, a.bytes + frames_of(b)));

	// Standard output gets a WAV stream per format: every sample.
	run_result r = wendrop({"-q", "--wav=-", joined});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::vector<wav_info> streams = wav_streams(r.out);
	ASSERT_EQ(streams.size(), 2u);
	EXPECT_EQ(streams[1].bits, 24u);
	EXPECT_EQ(streams[1].rate, 48000u);
	EXPECT_TRUE(streams[0].data == a.pcm);
	EXPECT_TRUE(streams[1].data == b.pcm);

	// A named file holds one format: it ends, complete, at the change.
	std::string wav = dir.file("out.wav");
	r = wendrop({"-q", "--wav", wav, joined});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "Format changes mid-stream: " + joined + "\n");
	std::vector<unsigned char> bytes = read_file(wav);
	EXPECT_TRUE(wav_states_its_size(bytes));
	EXPECT_TRUE(parse_wav(bytes).data == a.pcm);

	// The progress counts go on across the change, to the end.
	process p;
	ASSERT_TRUE(process_start(p, wendrop_args({"-R", "-d", "null"}), {.env = env}));
	process_send(p, "LOAD " + joined + "\n");
	EXPECT_TRUE(process_wait_stdout(p, "@F 10368 0 0.22 0.00\n@P 0\n", 10)) << p.out_text;
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_EQ(p.err_text, "@I " + dir.file("joined") + "\n");
}

TEST_F(LegalStreams, AChainedOggStreamPlaysEveryLink)
{
	part one = make("one.oga", 16, 2, 44100, 1152 * 3, true, 1, {"TITLE=One"}),
	     two = make("two.oga", 16, 2, 44100, 1152 * 20, true, 2, {"TITLE=Two"}),
	     other = make("other.oga", 24, 1, 48000, 1152 * 2, true, 3);
	part same = file("same.oga", one.bytes + two.bytes, 16);
	std::string wav = dir.file("out.wav");
	// From the file and through a pipe: both links, each announced.
	for (const auto &[args, input] : {std::pair<std::vector<std::string>, std::string>{{"--wav", wav, same.path}, ""},
					  {{"--wav", wav, "-"}, std::string(same.bytes.begin(), same.bytes.end())}}) {
		run_result r = wendrop(args, input);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "");
		std::size_t first = r.out.find("Title  : One "), second = r.out.find("Title  : Two ");
		EXPECT_TRUE(first != std::string::npos && second != std::string::npos && first < second) << r.out;
		EXPECT_TRUE(parse_wav(read_file(wav)).data == one.pcm + two.pcm);
	}
	// Links of another format: a WAV stream each on standard output.
	std::string mixed = dir.file("mixed.oga");
	ASSERT_TRUE(write_file(mixed, one.bytes + other.bytes));
	std::vector<wav_info> streams = wav_streams(wendrop({"-q", "--wav=-", mixed}).out);
	ASSERT_EQ(streams.size(), 2u);
	EXPECT_TRUE(streams[0].data == one.pcm && streams[1].data == other.pcm);

	// Remote: each link is announced, and counted and sought in on its own.
	// One command runs after each step: the second link begins at the
	// fifth, where "J 0" goes to its start and "J 10" ten frames into it.
	run_result r = wendrop({"-R", "-d", "null", "--mpeg-frames"},
			       "LOAD " + same.path + "\nV 1\nV 1\nV 1\nV 1\nJ 0\nJ 10\nQUIT\n");
	const std::string pad = std::string(30 - 3, ' ') + std::string(30 * 2 + 4 + 30 * 2, ' ');
	EXPECT_EQ(r.err, "@I ID3:One" + pad + "\n@I ID3:Two" + pad + "\n");
	std::vector<std::string> progress;
	for (const std::string &line : lines_of(r.out))
		if (line.starts_with("@F "))
			progress.push_back(line.substr(3, line.find(' ', line.find(' ', 3) + 1) - 3));
	EXPECT_EQ(progress, (std::vector<std::string>{"1152 2304", "2304 1152", "3456 0", "1152 21888", "2304 20736",
						      "12672 10368", "13824 9216"}));
}

TEST_F(LegalStreams, AThousandLinksDoNotGrowMemory)
{
	part link = make("link.oga", 16, 1, 8000, 1152, true, 1);
	auto chain_of = [&](int links) {
		// Written link by link: the player's peak memory counts this
		// process's from before its exec.
		std::string path = dir.file(std::to_string(links) + ".oga");
		FILE *f = fopen(path.c_str(), "wb");
		for (int i = 0; f && i < links; i++)
			fwrite(link.bytes.data(), 1, link.bytes.size(), f);
		EXPECT_TRUE(f && fclose(f) == 0);
		std::string wav = dir.file("out.wav");
		// Under AddressSanitizer freed memory waits in a quarantine that
		// would pass for growth: none here, other options kept.
		const char *asan = getenv("ASAN_OPTIONS");
		std::vector<std::string> no_quarantine = env;
		no_quarantine.push_back("ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":quarantine_size_mb=0");
		run_result r = run(wendrop_args({"-q", "--wav", wav, path}), "", 60, {.env = no_quarantine});
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(parse_wav(read_file(wav)).data.size(), link.pcm.size() * static_cast<std::size_t>(links));
		return r.max_rss_kb;
	};
	const long ten = chain_of(10), thousand = chain_of(1000);
	EXPECT_LT(thousand - ten, 1024) << ten << " KiB for 10 links, " << thousand << " for 1000";
}
