// Streams that FLAC allows and that players tend to refuse or mangle: cut
// from the middle of another (no metadata), changing format between frames,
// chained Ogg links. The WAV bytes are checked against what the reference
// decoder makes of each part on its own.
#include <gtest/gtest.h>

#include "fixture.h"
#include "process.h"
#include "testenv.h"
#include "wav.h"

namespace {
using bytes = std::vector<unsigned char>;

bytes operator+(bytes a, const bytes &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

struct part {
	bytes file, pcm;  // the encoded stream, and what flac -d makes of it
	bytes frames() const { return {file.begin() + static_cast<std::ptrdiff_t>(first_frame_offset(file)), file.end()}; }
};

struct LegalStreams : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);
	std::string wav = dir.file("out.wav");

	part make(unsigned bits, unsigned channels, unsigned rate, uint64_t frames, long serial = 0,
		  std::vector<std::string> tags = {})
	{
		flac_fixture f;
		f.bits = bits;
		f.channels = channels;
		f.rate = rate;
		f.blocksize = 1152;
		f.ogg = serial > 0;
		f.ogg_serial = serial;
		f.samples = make_signal(signal_kind::noise, bits, channels, frames, rate, static_cast<uint32_t>(serial + bits));
		if (!tags.empty())
			f.comment_blocks.push_back(tags);
		part p = {encode_flac(f), {}};
		p.pcm = reference(p.file, bits);
		return p;
	}
	bytes reference(const bytes &file, unsigned bits)
	{
		// The reference decoder tells Ogg by the name.
		std::string path = dir.file(file.size() > 4 && file[0] == 'O' ? "ref.oga" : "ref.flac");
		EXPECT_TRUE(write_file(path, file));
		return flac_reference(path, bits, dir.file("ref.raw"));
	}
	std::string write(const std::string &name, const bytes &b)
	{
		EXPECT_TRUE(write_file(dir.file(name), b));
		return dir.file(name);
	}
	run_result wendrop(std::vector<std::string> args, const bytes &input = {})
	{
		return run(wendrop_args(std::move(args)), std::string(input.begin(), input.end()), 60, {.env = env});
	}
};

// The two WAV streams of standard output: the second begins where the
// first one's data of first_size bytes ends.
std::pair<wav_info, wav_info> two_streams(const std::string &out, std::size_t first_size)
{
	wav_info first = parse_wav({out.begin(), out.end()});
	first.data.resize(std::min(first.data.size(), first_size));
	std::size_t at = std::min(out.size(), first.data_offset + first_size);
	return {first, parse_wav({out.begin() + static_cast<std::ptrdiff_t>(at), out.end()})};
}
}

TEST_F(LegalStreams, ACutStreamPlaysFromItsFirstWholeFrame)
{
	part whole = make(16, 2, 44100, 1152 * 8);
	const bytes frames = whole.frames();
	bytes noise(40000);
	for (std::size_t i = 0; i < noise.size(); i++)
		noise[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
	const bytes from_second(whole.pcm.begin() + 1152 * 4, whole.pcm.end());
	struct {
		std::string name;
		bytes file, pcm;
	} cases[] = {
		{"frames-only", frames, whole.pcm},
		{"cut-in-a-frame", {frames.begin() + 100, frames.end()}, from_second},
		{"after-40k-of-noise", noise + frames, whole.pcm},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		run_result r = wendrop({"--wav", wav, write(c.name + ".flac", c.file)});
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "");
		EXPECT_NE(r.out.find("16 bit, 44100 Hz, 2 channels, 0 total samples, 0.00 total seconds\n"), std::string::npos);
		EXPECT_TRUE(parse_wav(read_file(wav)).data == c.pcm);
		// The same through a pipe, which is read only once.
		r = wendrop({"-q", "--wav=-", "-"}, c.file);
		EXPECT_TRUE(r.err.empty() && parse_wav({r.out.begin(), r.out.end()}).data == c.pcm);
	}
}

// Two encodes joined frame by frame, no metadata between: 16-bit stereo at
// 44.1 kHz, then 24-bit mono at 48 kHz.
TEST_F(LegalStreams, AFormatChangeMidStreamIsFollowed)
{
	part a = make(16, 2, 44100, 1152 * 5), b = make(24, 1, 48000, 1152 * 4);
	ASSERT_EQ(reference(b.frames(), 24), b.pcm);
	std::string joined = write("joined.flac", a.file + b.frames());

	// Standard output gets a WAV stream per format: every sample.
	run_result r = wendrop({"-q", "--wav=-", joined});
	EXPECT_TRUE(r.status == 0 && r.err.empty());
	auto [first, second] = two_streams(r.out, a.pcm.size());
	EXPECT_TRUE(first.data == a.pcm);
	EXPECT_TRUE(second.ok && second.bits == 24 && second.rate == 48000 && second.data == b.pcm);

	// A named file holds one format: it ends, complete, at the change.
	r = wendrop({"-q", "--wav", wav, joined});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "Format changes mid-stream: " + joined + "\n");
	EXPECT_TRUE(wav_states_its_size(read_file(wav)) && parse_wav(read_file(wav)).data == a.pcm);

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
	part one = make(16, 2, 44100, 1152 * 3, 1, {"TITLE=One"}), two = make(16, 2, 44100, 1152 * 20, 2, {"TITLE=Two"}),
	     other = make(24, 1, 48000, 1152 * 2, 3);
	const bytes same = one.file + two.file;
	// From a file and through a pipe: both links, each announced.
	for (bool piped : {false, true}) {
		run_result r = piped ? wendrop({"--wav", wav, "-"}, same) : wendrop({"--wav", wav, write("same.oga", same)});
		EXPECT_TRUE(r.status == 0 && r.err.empty()) << piped;
		std::size_t first = r.out.find("Title  : One "), second = r.out.find("Title  : Two ");
		EXPECT_TRUE(first < second && second != std::string::npos) << r.out;
		EXPECT_TRUE(parse_wav(read_file(wav)).data == one.pcm + two.pcm) << piped;
	}
	// Links of another format: a WAV stream each on standard output.
	run_result r = wendrop({"-q", "--wav=-", write("mixed.oga", one.file + other.file)});
	auto [first, second] = two_streams(r.out, one.pcm.size());
	EXPECT_TRUE(first.data == one.pcm && second.data == other.pcm);

	// Remote: each link is announced, and counted and sought in on its own.
	// One command runs after each step: the second link begins at the
	// fifth, where "J 0" goes to its start and "J 10" ten frames into it.
	r = run(wendrop_args({"-R", "-d", "null", "--mpeg-frames"}),
		"LOAD " + dir.file("same.oga") + "\nV 1\nV 1\nV 1\nV 1\nJ 0\nJ 10\nQUIT\n", 60, {.env = env});
	const std::string pad(30 - 3 + 30 * 2 + 4 + 30 * 2, ' ');
	EXPECT_EQ(r.err, "@I ID3:One" + pad + "\n@I ID3:Two" + pad + "\n");
	std::string counts;
	for (const std::string &line : lines_of(r.out))
		if (line.starts_with("@F "))
			counts += line.substr(3, line.find(' ', line.find(' ', 3) + 1) - 3) + ", ";
	EXPECT_EQ(counts, "1152 2304, 2304 1152, 3456 0, 1152 21888, 2304 20736, 12672 10368, 13824 9216, ");
}

namespace {
// A BOS page whose packet is Vorbis's: a stream that is not FLAC.
bytes vorbis_bos(uint32_t serial) { return ogg_page(2, serial, 0, {1, 'v', 'o', 'r', 'b', 'i', 's'}); }
}

// Past junk, a link that is not FLAC, or a link cut short, the chain plays
// on from the next FLAC link, from a file and through a pipe. What costs
// audio is told, and a WAV conversion that lacks audio ends with status 1;
// junk that costs no page (as tools pad a file) is no damage, wherever it
// lies, as the reference decoder (libogg) passes over it too.
TEST_F(LegalStreams, AChainPlaysOnPastABadLink)
{
	part one = make(16, 2, 44100, 1152 * 20, 1), two = make(16, 2, 44100, 1152 * 4, 2);
	bytes junk(3000);
	for (std::size_t i = 0; i < junk.size(); i++)
		junk[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
	const bytes vorbis = vorbis_bos(9) + ogg_page(0, 9, 1, bytes(3000, 0x55)) + ogg_page(4, 9, 2, bytes(100, 0xaa));
	// The first link cut in its last page but one: what plays of it is what
	// the page before completes (its granule position, in samples).
	const std::vector<bytes> pages = ogg_pages(one.file);
	const std::size_t n = pages.size();
	ASSERT_GE(n, 5u);
	bytes cut(one.file.begin(), one.file.end() - static_cast<long>(pages[n - 1].size() + pages[n - 2].size() / 2));
	uint64_t kept = 0;
	for (int i = 13; i >= 6; i--)
		kept = kept << 8 | pages[n - 3][static_cast<std::size_t>(i)];
	// A zero byte between two pages whose numbers run on; the second link
	// without its first page, the rest of it stray.
	bytes padded, headless;
	for (std::size_t i = 0; i < n; i++)
		padded = padded + (i == n / 2 ? bytes{0} : bytes{}) + pages[i];
	for (const bytes &page : ogg_pages(two.file))
		headless = headless + (headless.empty() && page[5] == 2 ? bytes{} : page);
	struct {
		std::string name;
		bytes file, pcm;
		std::string err;  // FILE for the path
	} cases[] = {
		{"junk", one.file + junk + two.file, one.pcm + two.pcm, ""},
		{"zero-between-pages", padded + two.file, one.pcm + two.pcm, ""},
		{"zeros-after-the-end", one.file + two.file + bytes(100, 0), one.pcm + two.pcm, ""},
		{"not-flac", one.file + vorbis + two.file, one.pcm + two.pcm, "Skipped a link that is not FLAC in FILE\n"},
		{"cut", cut + two.file, bytes(one.pcm.begin(), one.pcm.begin() + static_cast<long>(kept * 4)) + two.pcm,
		 "Stream ended early: FILE (" + std::to_string(kept) + " of 23040 samples)\n"},
		{"stray-pages", one.file + headless, one.pcm, "Damaged stream: FILE (1 damaged frames)\n"},
	};
	for (const auto &c : cases) {
		for (bool piped : {false, true}) {
			SCOPED_TRACE(c.name + (piped ? " piped" : ""));
			const std::string path = piped ? "-" : write(c.name + ".oga", c.file);
			std::string err = c.err;
			if (!err.empty())
				err.replace(err.find("FILE"), 4, path);
			run_result r = wendrop({"-q", "--wav", wav, path}, piped ? c.file : bytes{});
			EXPECT_EQ(r.status, err.empty() ? 0 : 1);
			EXPECT_EQ(r.err, err);
			const bytes got = parse_wav(read_file(wav)).data;
			EXPECT_TRUE(got == c.pcm) << got.size() << " bytes against " << c.pcm.size();
		}
	}
}

// Several BOS pages before the first data page are one link: its FLAC
// stream plays, the other's pages go by unheard and unreported, and the
// next link begins only once both have ended. (A file's first page must
// begin FLAC, so a link whose FLAC stream comes second follows another.)
TEST_F(LegalStreams, AMultiplexedLinkPlaysItsFlacStream)
{
	part flac = make(16, 2, 44100, 1152 * 8, 1), next = make(16, 2, 44100, 1152 * 2, 2);
	const std::vector<bytes> pages = ogg_pages(flac.file);
	ASSERT_GE(pages.size(), 4u);
	for (bool flac_first : {true, false}) {
		bytes mux = flac_first ? pages[0] + vorbis_bos(7) : vorbis_bos(7) + pages[0];
		uint32_t seq = 1;
		for (std::size_t i = 1; i < pages.size(); i++)
			mux = mux + pages[i] + ogg_page(0, 7, seq++, bytes(500, static_cast<unsigned char>(i)));
		// The other stream ends after the FLAC one, and a page of it comes
		// after the FLAC stream's last.
		mux = mux + ogg_page(4, 7, seq, bytes(10, 1)) + next.file;
		const bytes before = flac_first ? bytes{} : next.file, pcm = (flac_first ? bytes{} : next.pcm) + flac.pcm + next.pcm;
		for (bool piped : {false, true}) {
			SCOPED_TRACE(std::string(flac_first ? "FLAC first" : "FLAC second") + (piped ? ", piped" : ""));
			run_result r = piped ? wendrop({"-q", "--wav", wav, "-"}, before + mux)
					     : wendrop({"-q", "--wav", wav, write("mux.oga", before + mux)});
			EXPECT_EQ(r.status, 0);
			EXPECT_EQ(r.err, "");
			EXPECT_TRUE(parse_wav(read_file(wav)).data == pcm);
		}
	}
}
