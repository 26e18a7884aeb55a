// Hostile FLAC files made from a valid fixture: cut short, corrupted, lying
// about themselves, at the limits of the format, or not files at all. Each
// either fails to open ("Error opening") or plays exactly the frames that
// decode (checked sample for sample in a WAV output), with one error line
// for each fault the decoder reports; and a playlist holding them all, each
// followed by a good file, plays every good file and ends with status 0.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "playback/probe.h"

#include "fixture.h"
#include "process.h"
#include "testenv.h"
#include "wav.h"

namespace {
const std::string decoder_error = "error handler called!\n";

std::string repeat(const std::string &s, int n)
{
	std::string out;
	while (n-- > 0)
		out += s;
	return out;
}

std::string padded(const std::string &tag) { return tag + std::string(30 - tag.size(), ' '); }

std::vector<unsigned char> le32(uint32_t v)
{
	return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
		static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
}

std::vector<unsigned char> cat(std::initializer_list<std::vector<unsigned char>> parts)
{
	std::vector<unsigned char> out;
	for (const auto &p : parts)
		out.insert(out.end(), p.begin(), p.end());
	return out;
}

std::vector<unsigned char> text(const std::string &s) { return {s.begin(), s.end()}; }

struct hostile {
	std::string name;
	std::vector<unsigned char> bytes;  // written to the file name
	bool opens = true;
	std::vector<unsigned char> pcm{};  // the WAV data of a run on it alone
	unsigned channels = 2, bits = 16;
	std::string title = "Hostile", artist = "";
	std::string props{};               // the stream line, when it matters
	// Audio and error count are what the reference decoder, decoding
	// through errors, makes of the same bytes: libFLAC's recovery decides
	// which frames survive, not this program.
	bool as_reference = false;
	std::string err{};                 // its error lines, "Error opening" aside
	// Its stated total does not fit a WAV file: refused there, played live.
	bool too_big_for_wav = false;
	uint64_t stated_total = 6000;
	std::string why = "cut short";     // the reason a file that does not open gives
};

struct HostileFiles : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);
	// 16-bit stereo at 8 kHz: six frames of 1000 samples of noise (stored
	// verbatim, so a flipped bit changes a sample, not the decoding), a
	// title, and padding after it.
	flac_fixture base;
	flac_layout layout;
	std::vector<unsigned char> bytes;

	void SetUp() override
	{
		base.rate = 8000;
		base.blocksize = 1000;
		base.samples = make_signal(signal_kind::noise, 16, 2, 6000, 8000, 7);
		base.comment_blocks = {{"TITLE=Hostile"}};
		base.raw_blocks = {{1, std::vector<unsigned char>(64, 0)}};
		bytes = encode_flac(base, &layout);
		ASSERT_FALSE(bytes.empty());
		ASSERT_EQ(layout.frames.size(), 6u);
	}

	// The base stream's frames in the order given, as 16-bit output.
	std::vector<unsigned char> frames(std::initializer_list<int> which) const
	{
		std::vector<int32_t> out;
		for (int f : which)
			out.insert(out.end(), base.samples.begin() + f * 2000, base.samples.begin() + (f + 1) * 2000);
		return pcm_bytes(out, 16);
	}
	// What the output holds, frame by frame: "3" for the base's fourth
	// frame, "-" for silence, "?" for anything else.
	std::string describe(const std::vector<unsigned char> &data) const
	{
		const std::vector<unsigned char> all = pcm_bytes(base.samples, 16), quiet(4000, 0);
		std::string d;
		for (std::size_t at = 0; at < data.size(); at += 4000) {
			std::vector<unsigned char> chunk(data.begin() + at, data.begin() + std::min(data.size(), at + 4000));
			std::string what = chunk == quiet ? "-" : "?";
			for (std::size_t f = 0; f < 6; f++)
				if (std::equal(chunk.begin(), chunk.end(), all.begin() + f * 4000, all.begin() + f * 4000 + chunk.size()))
					what = std::to_string(f);
			d += what + (chunk.size() < 4000 ? "(part) " : " ");
		}
		return d;
	}
	std::vector<unsigned char> cut(std::size_t size) const { return {bytes.begin(), bytes.begin() + size}; }
	std::vector<unsigned char> flipped(std::vector<std::size_t> at) const
	{
		std::vector<unsigned char> b = bytes;
		for (std::size_t i : at)
			b[i] ^= 0x10;
		return b;
	}
	std::size_t middle_of_frame(std::size_t i) const
	{
		std::size_t end = i + 1 < layout.frames.size() ? layout.frames[i + 1] : bytes.size();
		return (layout.frames[i] + end) / 2;
	}
	std::vector<unsigned char> encoded(const flac_fixture &f) const
	{
		std::vector<unsigned char> b = encode_flac(f);
		EXPECT_FALSE(b.empty());
		return b;
	}

	std::string write(hostile &c)
	{
		std::string path = dir.file(c.name + ".flac");
		EXPECT_TRUE(write_file(path, c.bytes));
		if (c.as_reference) {
			reference_decode ref = flac_reference_through_errors(path, 16, dir.file("ref.raw"));
			EXPECT_TRUE(ref.ok);
			EXPECT_GT(ref.errors, 0) << "the damage went unnoticed";
			c.pcm = ref.data;
			c.err = repeat(decoder_error, ref.errors);
		}
		return path;
	}
	// Fewer samples than the stream states: one line says how many.
	static std::string short_line(const hostile &c, const std::string &path)
	{
		const uint64_t played = c.pcm.size() / (c.channels * c.bits / 8);
		if (!c.opens || played >= c.stated_total)
			return "";
		return "Stream ended early: " + path + " (" + std::to_string(played) + " of " +
		       std::to_string(c.stated_total) + " samples)\n";
	}
	// Error reports make a damaged stream; its audio fails the MD5 check
	// only when it was decoded whole and differs.
	std::string damage_line(const hostile &c, const std::string &path) const
	{
		int errors = 0;
		for (std::size_t p = 0; (p = c.err.find(decoder_error, p)) != std::string::npos; p++)
			errors++;
		if (!c.opens || errors == 0)
			return "";
		const bool mismatch = short_line(c, path).empty() && c.pcm != frames({0, 1, 2, 3, 4, 5});
		return "Damaged stream: " + path + " (" + (mismatch ? "MD5 mismatch, " : "") + std::to_string(errors) +
		       (errors == 1 ? " damaged frame)\n" : " damaged frames)\n");
	}
	std::string expected_err(const hostile &c, const std::string &path) const
	{
		return c.err + short_line(c, path) + damage_line(c, path) +
		       (c.opens ? "" : "Error opening " + path + " (" + c.why + ")\n");
	}

	// Alone, into a WAV file: the error lines, the tags, the decoded audio.
	void plays_alone(const hostile &c, const std::string &path)
	{
		std::string wav = dir.file("out.wav");
		unlink(wav.c_str());
		run_result r = run(wendrop_args({"--wav", wav, path}), "", 60, {.env = env});
		// A WAV file that misses any of the stream, or holds damaged audio,
		// is a failed conversion.
		EXPECT_EQ(r.status, c.opens && !c.too_big_for_wav && short_line(c, path).empty() && damage_line(c, path).empty() ? 0 : 1);
		if (c.too_big_for_wav) {
			EXPECT_EQ(r.err, "Stream too big for a WAV file: " + path + "\nError opening " + path +
						 " (too big for a WAV file)\n");
			EXPECT_EQ(access(wav.c_str(), F_OK), -1) << "a stream too big for WAV wrote output";
			r = run(wendrop_args({"-d", "null", path}), "", 60, {.env = env});
			EXPECT_EQ(r.err, expected_err(c, path));
			EXPECT_NE(r.out.find(c.props), std::string::npos) << r.out;
			return;
		}
		EXPECT_EQ(r.err, expected_err(c, path));
		if (!c.opens) {
			EXPECT_EQ(access(wav.c_str(), F_OK), -1) << "a file that does not open wrote output";
			return;
		}
		EXPECT_NE(r.out.find("\nTitle  : " + padded(c.title) + " Artist: " + padded(c.artist) + "\n"),
			  std::string::npos)
			<< r.out;
		EXPECT_NE(r.out.find(c.props), std::string::npos) << r.out;
		std::vector<unsigned char> bytes = read_file(wav);
		wav_info w = parse_wav(bytes);
		ASSERT_TRUE(w.ok);
		EXPECT_TRUE(wav_states_its_size(bytes)) << "the header does not state the data";
		EXPECT_EQ(w.channels, c.channels);
		EXPECT_EQ(w.bits, c.bits);
		EXPECT_TRUE(w.data == c.pcm) << w.data.size() << " bytes against " << c.pcm.size()
					     << "; frames " << describe(w.data);
	}

	// All of them in one playlist, each followed by the good file; run by
	// as_user when it is given (a command that runs the rest as another).
	void playlist_goes_on(const std::vector<hostile> &cases, const std::vector<std::string> &paths,
			      std::vector<std::string> as_user = {})
	{
		std::string good = dir.file("good.flac");
		ASSERT_TRUE(write_file(good, bytes));
		std::vector<std::string> args = {"-d", "null"};
		std::string err;
		for (std::size_t i = 0; i < cases.size(); i++) {
			args.insert(args.end(), {paths[i], good});
			err += expected_err(cases[i], paths[i]);
		}
		std::vector<std::string> argv = wendrop_args(args);
		argv.insert(argv.begin(), as_user.begin(), as_user.end());
		run_result r = run(argv, "", 60, {.env = env});
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, err);
		std::size_t played = 0;
		for (std::size_t p = 0; (p = r.out.find("\nPlaying FLAC stream from good.flac\n", p)) != std::string::npos; p++)
			played++;
		EXPECT_EQ(played, cases.size());
	}

	void check(std::vector<hostile> cases)
	{
		std::vector<std::string> paths;
		for (hostile &c : cases) {
			SCOPED_TRACE(c.name);
			paths.push_back(write(c));
			plays_alone(c, paths.back());
		}
		playlist_goes_on(cases, paths);
	}
};
}

TEST_F(HostileFiles, CutShortAtEveryBlockBoundaryAndInsideFrames)
{
	std::vector<hostile> cases;
	cases.push_back({"marker-only", cut(4), false});
	for (std::size_t i = 0; i + 1 < layout.block_ends.size(); i++)
		cases.push_back({"after-block-" + std::to_string(i), cut(layout.block_ends[i]), false});
	cases.push_back({"metadata-only", cut(layout.block_ends.back())});
	// A frame whose header is cut short is not a frame yet.
	cases.push_back({"in-a-frame-header", cut(layout.frames[2] + 3), true, frames({0, 1})});
	cases.push_back({.name = "in-a-frame", .bytes = cut(middle_of_frame(2)), .as_reference = true});
	cases.push_back({.name = "last-byte-missing", .bytes = cut(bytes.size() - 1), .as_reference = true});
	check(cases);
}

TEST_F(HostileFiles, FlippedBitsInFrames)
{
	std::vector<std::size_t> every;
	for (std::size_t i = 0; i < 6; i++)
		every.push_back(middle_of_frame(i));
	struct {
		std::string name;
		std::vector<std::size_t> at;
	} flips[] = {
		{"sample-bit", {middle_of_frame(3)}},
		{"bit-in-every-frame", every},
		{"checksum-bit", {layout.frames[3] - 1}},
		{"sync-bit", {layout.frames[1]}},
		{"header-bit", {layout.frames[3] + 2}},
		{"header-checksum-bit", {layout.frames[3] + 5}},
	};
	std::vector<hostile> cases;
	for (const auto &f : flips)
		cases.push_back({.name = f.name, .bytes = flipped(f.at), .as_reference = true});
	check(cases);
}

TEST_F(HostileFiles, StreaminfoThatDisagreesWithTheFrames)
{
	auto stating = [&](auto set) {
		flac_fixture f = base;
		set(f);
		return encoded(f);
	};
	// The output follows the frames, whatever STREAMINFO says: every sample,
	// none in the wrong format. The announcement says what the stream
	// states.
	const std::vector<unsigned char> all = frames({0, 1, 2, 3, 4, 5});
	const uint64_t beyond = (uint64_t(1) << 32) + 1, largest = (uint64_t(1) << 36) - 1;
	std::vector<hostile> cases = {
		{.name = "fewer-channels", .bytes = stating([](flac_fixture &f) { f.stated_channels = 1; }), .pcm = all,
		 .props = "16 bit, 8000 Hz, 1 channels, 6000 total samples"},
		{.name = "more-channels", .bytes = stating([](flac_fixture &f) { f.stated_channels = 8; }), .pcm = all},
		{.name = "wider", .bytes = stating([](flac_fixture &f) { f.stated_bits = 24; }), .pcm = all,
		 .props = "24 bit, 8000 Hz, 2 channels"},
		{.name = "narrower", .bytes = stating([](flac_fixture &f) { f.stated_bits = 8; }), .pcm = all},
		{.name = "widest", .bytes = stating([](flac_fixture &f) { f.stated_bits = 32; }), .pcm = all},
		{.name = "other-rate", .bytes = stating([](flac_fixture &f) { f.stated_rate = 96000; }), .pcm = all,
		 .props = "16 bit, 96000 Hz, 2 channels, 6000 total samples, 0.06 total seconds\n"},
		{.name = "rate-zero", .bytes = stating([](flac_fixture &f) { f.stated_rate = 0; }), .pcm = all,
		 .props = "16 bit, 0 Hz, 2 channels, 6000 total samples, 0.00 total seconds\n"},
		{.name = "total-too-small", .bytes = stating([](flac_fixture &f) { f.stated_total = 1000; }), .pcm = all,
		 .props = "1000 total samples, 0.12 total seconds\n", .stated_total = 1000},
		{.name = "total-beyond-32-bits", .bytes = stating([&](flac_fixture &f) { f.stated_total = beyond; }),
		 .pcm = all, .props = "4294967297 total samples, 536870.94 total seconds\n", .too_big_for_wav = true,
		 .stated_total = beyond},
		{.name = "largest-total", .bytes = stating([&](flac_fixture &f) { f.stated_total = largest; }),
		 .pcm = all, .props = "68719476735 total samples, 8589935.00 total seconds\n", .too_big_for_wav = true,
		 .stated_total = largest},
		// Without STREAMINFO the first frame gives the format, and the
		// total is not known.
		{.name = "no-streaminfo", .bytes = stating([](flac_fixture &f) { f.drop_streaminfo = true; }), .pcm = all,
		 .props = "16 bit, 8000 Hz, 2 channels, 0 total samples, 0.00 total seconds\n"},
	};
	check(cases);
}

TEST_F(HostileFiles, LargestFrames)
{
	flac_fixture f;
	f.bits = 32;
	f.channels = 8;
	f.rate = 192000;
	f.blocksize = 65535;
	f.samples = make_signal(signal_kind::noise, 32, 8, 65535 + 100, 192000, 3);
	f.comment_blocks = {{"TITLE=Hostile"}};
	std::vector<int32_t> out;
	for (int32_t v : f.samples)
		out.push_back(v >> 8);
	check({{.name = "65535-samples-8-channels-32-bits", .bytes = encoded(f), .pcm = pcm_bytes(out, 24), .channels = 8,
		.bits = 24, .stated_total = 65635}});
}

TEST_F(HostileFiles, CommentBlocksThatLieOrAbuse)
{
	// The block under test comes first; a sound one after it must still
	// be found, so a bad block costs its own tags and nothing more.
	auto commented = [&](std::vector<std::vector<std::string>> blocks, std::vector<unsigned char> raw = {}) {
		flac_fixture f = base;
		f.comment_blocks = std::move(blocks);
		f.raw_blocks = {};
		if (!raw.empty())
			f.raw_blocks.push_back({4, raw});
		f.raw_blocks.push_back({4, cat({le32(6), text("vendor"), le32(1), le32(11), text("TITLE=After")})});
		return encoded(f);
	};
	const std::vector<unsigned char> vendor = cat({le32(6), text("vendor")}), all = frames({0, 1, 2, 3, 4, 5});
	auto plays = [&](std::string name, std::vector<unsigned char> b, std::string title = "After", std::string artist = "") {
		return hostile{.name = name, .bytes = b, .pcm = all, .title = title, .artist = artist};
	};
	check({
		plays("vendor-past-the-block", commented({}, cat({le32(1000), text("vendor")}))),
		plays("count-past-the-block", commented({}, cat({vendor, le32(0xffffffff)}))),
		plays("entry-past-the-block", commented({}, cat({vendor, le32(1), le32(100000), text("TITLE=Liar")}))),
		plays("no-equals-and-empty-names", commented({{"TITLE", "=Nameless", "", "NOEQUALS"}})),
		plays("100000-byte-value", commented({{"ARTIST=" + std::string(100000, 'v'), "TITLE=Long"}}), "Long",
		      std::string(30, 'v')),
		// Terminal escapes and a forged line reach the terminal as "?".
		plays("control-bytes", commented({{"TITLE=\x1b]0;owned\x07\x1b[2J", "ARTIST=a\n@P 0\xff"}}),
		      "?]0;owned??[2J", "a?@P 0?"),
	});
}

// Damage that libFLAC plays through without an error report: an Ogg page
// that fails its checksum (dropped, its audio played as silence), and a
// STREAMINFO MD5 signature that the audio does not match. One line tells
// it when the stream ends, and a WAV conversion ends with status 1, as the
// reference decoder's does; live playback keeps 0.
TEST_F(HostileFiles, DamageWithoutErrorReportsIsToldAtTheEnd)
{
	// The Ogg streams are longer, for pages on both sides of the bad one.
	auto variant = [&](bool ogg, std::optional<std::array<unsigned char, 16>> md5) {
		flac_fixture f = base;
		f.ogg = ogg;
		f.stated_md5 = md5;
		if (ogg)
			f.samples = make_signal(signal_kind::noise, 16, 2, 24000, 8000, 7);
		return encoded(f);
	};
	std::array<unsigned char, 16> wrong{}, none{};
	wrong.fill(0x5a);
	struct {
		std::string name;
		std::vector<unsigned char> bytes;
		std::string reasons;
		int reference_status;  // of flac -t
	} cases[] = {
		{"bad-page-crc.oga", variant(true, {}), "MD5 mismatch, 1 damaged frame", 1},
		// Without a signature the lost page is still counted, where the
		// reference decoder passes the stream.
		{"bad-page-crc-no-md5.oga", variant(true, none), "1 damaged frame", 0},
		{"md5-mismatch.flac", variant(false, wrong), "MD5 mismatch", 1},
	};
	for (int i : {0, 1}) {
		// A page in the middle: its checksum's first byte flipped.
		std::vector<std::vector<unsigned char>> pages = ogg_pages(cases[i].bytes);
		ASSERT_GE(pages.size(), 6u);
		std::size_t at = 0;
		for (std::size_t p = 0; p < pages.size() / 2; p++)
			at += pages[p].size();
		cases[i].bytes[at + 22] ^= 0x01;
	}
	const std::string wav = dir.file("out.wav");
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		const std::string path = dir.file(c.name);
		ASSERT_TRUE(write_file(path, c.bytes));
		EXPECT_EQ(run({flac_tool(), "-t", "-s", path}).status, c.reference_status);
		reference_decode ref = flac_reference_through_errors(path, 16, dir.file("ref.raw"));
		for (bool piped : {false, true}) {
			const std::string name = piped ? "-" : path;
			run_result r = run(wendrop_args({"-q", "--wav", wav, name}), piped ? std::string(c.bytes.begin(), c.bytes.end()) : "",
					   60, {.env = env});
			EXPECT_EQ(r.status, 1);
			EXPECT_EQ(r.err, "Damaged stream: " + name + " (" + c.reasons + ")\n");
			EXPECT_TRUE(parse_wav(read_file(wav)).data == ref.data) << piped;
		}
		run_result r = run(wendrop_args({"-q", "-d", "null", path}), "", 60, {.env = env});
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "Damaged stream: " + path + " (" + c.reasons + ")\n");
	}
}

// An ID3v2 tag in front and an ID3v1 tag behind are skipped by libFLAC; it
// reports the trailer as lost sync.
TEST_F(HostileFiles, FlacBetweenId3TagsStillPlays)
{
	std::vector<unsigned char> id3v2 = cat({text("ID3"), {3, 0, 0, 0, 0, 7, 0x68}, std::vector<unsigned char>(1000)});
	std::vector<unsigned char> id3v1 = cat({text("TAGSong"), std::vector<unsigned char>(121)});
	check({{.name = "id3", .bytes = cat({id3v2, bytes, id3v1}), .pcm = frames({0, 1, 2, 3, 4, 5}), .err = decoder_error}});
}

// Files of other kinds named .flac (a 10 MB WAV file among them) are refused
// from their first bytes, before libFLAC searches them for frames: one line
// each, which says what they are, from a file or a pipe alike (a front end's
// "@E" line stays as it was). A named WAV output keeps the stream before
// them, the run goes on, and a conversion that missed a file ends with
// status 1.
TEST_F(HostileFiles, FilesOfOtherKindsAreNotOpened)
{
	std::string good = dir.file("good.flac"), wav = dir.file("out.wav");
	ASSERT_TRUE(write_file(good, bytes));
	std::vector<unsigned char> noise;
	for (int32_t v : make_signal(signal_kind::noise, 32, 1, 5000, 8000, 11))
		noise.insert(noise.end(), {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)});
	ASSERT_EQ(run(wendrop_args({"-q", "--wav", wav, good}), "", 60, {.env = env}).status, 0);
	const std::vector<unsigned char> riff = read_file(wav), all = frames({0, 1, 2, 3, 4, 5});
	// An MPEG-1 layer III frame header (128 kbit/s, 44.1 kHz) behind an
	// ID3v2 tag, as an MP3 file begins; layer II's.
	const std::vector<unsigned char> id3 = cat({text("ID3"), {3, 0, 0, 0, 0, 0, 4}, text("TAGS")});
	struct {
		std::string name;
		std::vector<unsigned char> bytes;
		std::string why;
	} kinds[] = {
		{"wav", cat({riff, std::vector<unsigned char>(10000000)}), "not FLAC: a WAV file"},
		{"png", cat({{0x89}, text("PNG\r\n\x1a\n"), noise}), "not FLAC"},
		{"ogg-vorbis", cat({ogg_page(2, 5, 0, cat({text("\x01vorbis"), noise})), noise}), "not FLAC: an Ogg Vorbis file"},
		{"ogg-opus", cat({ogg_page(2, 5, 0, cat({text("OpusHead"), {1, 2}})), noise}), "not FLAC: an Ogg Opus file"},
		{"ogg-speex", ogg_page(2, 5, 0, text("Speex   ")), "not FLAC: an Ogg file"},
		{"mp3", cat({id3, {0xff, 0xfb, 0x90, 0x64}, noise}), "not FLAC: an MP3 file"},
		{"mp2", cat({{0xff, 0xfd, 0x90, 0x04}, noise}), "not FLAC: an MPEG audio file"},
		{"random", noise, "not FLAC"},
		{"empty", {}, "empty"},
	};
	for (const auto &k : kinds) {
		SCOPED_TRACE(k.name);
		std::string bad = dir.file(k.name + ".flac");
		ASSERT_TRUE(write_file(bad, k.bytes));
		run_result r = run(wendrop_args({"-q", "--wav", wav, good, bad}), "", 60, {.env = env});
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.err, "Error opening " + bad + " (" + k.why + ")\n");
		r = run(wendrop_args({"-q", "-d", "null", "-"}), std::string(k.bytes.begin(), k.bytes.end()), 60, {.env = env});
		EXPECT_EQ(r.err, "Error opening - (" + k.why + ")\n");
		wav_info w = parse_wav(read_file(wav));
		ASSERT_TRUE(w.ok);
		EXPECT_TRUE(w.data == all) << w.data.size() << " bytes";

		r = run(wendrop_args({"-d", "null", good, bad, good}), "", 60, {.env = env});
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.out.find("Playing FLAC stream from " + k.name), std::string::npos);
		std::size_t first = r.out.find("\nPlaying FLAC stream from good.flac\n");
		EXPECT_NE(r.out.find("\nPlaying FLAC stream from good.flac\n", first + 1), std::string::npos) << r.out;

		r = run(wendrop_args({"--remote", "-d", "null"}), "LOAD " + bad + "\n", 60, {.env = env});
		EXPECT_EQ(r.out, "@R WENDROP\n@P 0\n");
		EXPECT_EQ(r.err, "@E Error opening " + bad + "\n");
	}
}

TEST_F(HostileFiles, PathsThatAreNotFlacFiles)
{
	// A folder is walked whatever its name; LOAD takes files only.
	std::string folder = dir.file("folder.flac");
	ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
	run_result r = run(wendrop_args({"-q", "-d", "null", folder}), "", 60, {.env = env});
	EXPECT_EQ(r.err, "No FLAC files in " + folder + "\n");
	r = run(wendrop_args({"-R", "-d", "null"}), "LOAD " + folder + "\n", 60, {.env = env});
	EXPECT_EQ(r.err, "@E Error opening " + folder + "\n");
}

TEST_F(HostileFiles, UnreadableFile)
{
	std::string locked = dir.file("locked.flac");
	ASSERT_TRUE(write_file(locked, bytes));
	ASSERT_EQ(chmod(locked.c_str(), 0), 0);
	// Root reads a file whatever its mode says: the player runs as nobody,
	// in a folder it may enter.
	std::vector<std::string> as_nobody;
	if (geteuid() == 0) {
		as_nobody = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
		ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
	}
	playlist_goes_on({{.name = "locked", .bytes = {}, .opens = false, .why = "permission denied"}}, {locked}, as_nobody);
}

// A FIFO is read like any stream once its writer comes (the test is the
// writer, and closes it after the file), and it is read only once: the tags
// cannot be read again from it, so it plays untagged and the run goes on.
TEST_F(HostileFiles, FifoPlaysWhatItsWriterSends)
{
	std::string fifo = dir.file("fifo.flac"), good = dir.file("good.flac");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
	ASSERT_TRUE(write_file(good, bytes));
	process p;
	ASSERT_TRUE(process_start(p, wendrop_args({"-q", "--wav=-", fifo, good}), {.env = env}));
	int w = fifo_writer(fifo);
	ASSERT_GE(w, 0) << "the player never opened the FIFO";
	// Less than a pipe holds, so the write cannot wait for the reader.
	ASSERT_LT(bytes.size(), 65536u);
	EXPECT_EQ(::write(w, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
	close(w);
	EXPECT_EQ(process_finish(p, 30), 0);
	EXPECT_FALSE(p.timed_out);
	EXPECT_EQ(p.err_text, "");
	// Two identical streams: the FIFO's, then the good file's.
	const std::string &out = p.out_text;
	ASSERT_EQ(out.size() % 2, 0u);
	EXPECT_TRUE(out.substr(0, out.size() / 2) == out.substr(out.size() / 2));
	wav_info first = parse_wav(std::vector<unsigned char>(out.begin(), out.begin() + out.size() / 2));
	ASSERT_TRUE(first.ok);
	EXPECT_TRUE(first.data == frames({0, 1, 2, 3, 4, 5}));
}

namespace {
// What this process has read so far, by the kernel's count (the read of
// the count itself included, a few hundred bytes).
uint64_t bytes_read()
{
	std::vector<unsigned char> io = read_file("/proc/self/io");
	std::string text(io.begin(), io.end());
	return std::stoull(text.substr(text.find("rchar: ") + 7));
}
}

// A look at a file's first bytes reads what the verdict needs and no more:
// tags are stepped over by their sizes and a chain of them is given up on;
// the walk's verdict carries to the file's open, once, while the file is
// unchanged.
TEST_F(HostileFiles, SniffingReadsOnlyWhatTheVerdictNeeds)
{
	const std::vector<unsigned char> empty_tag = cat({text("ID3"), {4, 0, 0, 0, 0, 0, 0}});
	auto chain = [&](std::size_t tags) {
		std::vector<unsigned char> b;
		for (std::size_t i = 0; i < tags; i++)
			b.insert(b.end(), empty_tag.begin(), empty_tag.end());
		b.insert(b.end(), bytes.begin(), bytes.end());
		return b;
	};
	const std::string path = dir.file("chain.flac");
	for (auto [tags, holds] : {std::pair<std::size_t, int>{16, 1}, {17, 0}, {1000000, 0}}) {
		ASSERT_TRUE(write_file(path, chain(tags)));
		const uint64_t before = bytes_read();
		EXPECT_EQ(file_holds_flac(path.c_str()), holds) << tags;
		EXPECT_LT(bytes_read() - before, 2048u) << tags;
	}
	ASSERT_TRUE(write_file(path, std::vector<unsigned char>(1 << 20, 'x')));
	uint64_t before = bytes_read();
	EXPECT_EQ(file_sniff_flac(path.c_str()), 0);
	EXPECT_LT(bytes_read() - before, 1024u);

	ASSERT_TRUE(write_file(path, bytes));
	ASSERT_EQ(file_sniff_flac(path.c_str()), 1);
	std::vector<unsigned char> buf(probe_file_room);
	off_t start = -1;
	int fd = open(path.c_str(), O_RDONLY);
	before = bytes_read();
	EXPECT_EQ(probe_file(fd, buf.data(), buf.size(), &start), probe_native);
	EXPECT_EQ(start, 0);
	const uint64_t reused = bytes_read() - before;
	before = bytes_read();
	EXPECT_EQ(probe_file(fd, buf.data(), buf.size(), &start), probe_native);
	EXPECT_GT(bytes_read() - before, reused);  // used once: this look reads
	// A file changed since its verdict is looked at again.
	ASSERT_EQ(file_sniff_flac(path.c_str()), 1);
	const timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
	ASSERT_EQ(futimens(fd, times), 0);
	before = bytes_read();
	EXPECT_EQ(probe_file(fd, buf.data(), buf.size(), &start), probe_native);
	EXPECT_GT(bytes_read() - before, reused);
	close(fd);
}
