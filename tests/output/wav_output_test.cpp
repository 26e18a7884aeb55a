// WAV output end to end: the bytes written equal what the reference decoder
// makes of the same file, odd widths land in their container, and standard
// output carries whole streams.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>

#include "output/output.h"

#include "fixture.h"
#include "process.h"
#include "testenv.h"
#include "wav.h"

namespace {
struct WavOutput : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);

	std::string make(const std::string &name, unsigned bits, unsigned channels, unsigned rate,
			 uint64_t frames, std::vector<int32_t> *samples = nullptr, bool ogg = false)
	{
		flac_fixture f;
		f.ogg = ogg;
		f.bits = bits;
		f.channels = channels;
		f.rate = rate;
		f.samples = make_signal(signal_kind::noise, bits, channels, frames, rate, bits * 31 + channels);
		if (samples)
			*samples = f.samples;
		std::string path = dir.file(name);
		EXPECT_TRUE(write_flac(path, f));
		return path;
	}
	run_result wendrop(std::vector<std::string> args, const spawn_options &opt)
	{
		return run(wendrop_args(std::move(args)), "", 60, opt);
	}
	run_result wendrop(std::vector<std::string> args) { return wendrop(std::move(args), {.env = env}); }
};

std::size_t count(const std::string &hay, const std::string &needle)
{
	std::size_t n = 0;
	for (std::size_t p = 0; (p = hay.find(needle, p)) != std::string::npos; p++)
		n++;
	return n;
}
}

TEST_F(WavOutput, DataEqualsTheReferenceDecoderForEveryCommonFormat)
{
	// The channel mask names FLAC's speakers for the channel count; a
	// mono stream has no speaker of its own.
	struct {
		unsigned bits, channels, rate;
		uint32_t mask;
	} formats[] = {{8, 1, 8000, 0},       {8, 2, 11025, 0x3},    {16, 1, 22050, 0},
		       {16, 2, 44100, 0x3},   {16, 4, 44100, 0x33},  {16, 6, 48000, 0x3F},
		       {24, 2, 96000, 0x3},   {24, 6, 44100, 0x3F},  {24, 7, 48000, 0x70F},
		       {16, 8, 48000, 0x63F}, {24, 8, 96000, 0x63F}, {24, 1, 192000, 0}};
	for (const auto &f : formats) {
		std::string name = std::to_string(f.bits) + "-" + std::to_string(f.channels) + "-" + std::to_string(f.rate);
		std::string flac = make(name + ".flac", f.bits, f.channels, f.rate, f.rate / 2 + 333);
		std::string wav = dir.file(name + ".wav");
		run_result r = wendrop({"-q", "--wav", wav, flac});
		ASSERT_EQ(r.status, 0) << name;
		EXPECT_EQ(r.err, "") << name;
		wav_info w = parse_wav(read_file(wav));
		ASSERT_TRUE(w.ok) << name;
		EXPECT_EQ(w.bits, f.bits) << name;
		EXPECT_EQ(w.channels, f.channels) << name;
		EXPECT_EQ(w.rate, f.rate) << name;
		EXPECT_EQ(w.channel_mask, f.mask) << name;
		std::vector<unsigned char> reference = flac_reference(flac, f.bits, dir.file(name + ".raw"));
		ASSERT_FALSE(reference.empty()) << name;
		EXPECT_TRUE(w.data == reference) << name << ": " << w.data.size() << " bytes against " << reference.size();
	}
}

TEST_F(WavOutput, OggFlacAndStandardInputDecodeLikeTheReferenceDecoder)
{
	struct {
		unsigned bits, channels, rate;
	} formats[] = {{8, 2, 11025}, {16, 2, 44100}, {24, 6, 48000}};
	for (const auto &f : formats) {
		std::string name = std::to_string(f.bits) + "-" + std::to_string(f.channels);
		std::string native = make(name + ".flac", f.bits, f.channels, f.rate, f.rate / 2 + 333);
		std::string ogg = make(name + ".oga", f.bits, f.channels, f.rate, f.rate / 2 + 333, nullptr, true);
		std::vector<unsigned char> reference = flac_reference(native, f.bits, dir.file(name + ".raw"));
		ASSERT_FALSE(reference.empty()) << name;
		ASSERT_TRUE(flac_reference(ogg, f.bits, dir.file(name + ".oga.raw")) == reference) << name;

		// The Ogg file by name; native and Ogg FLAC through a pipe, and
		// native FLAC from a file on standard input.
		std::string wav = dir.file(name + ".wav");
		auto decoded = [&](const std::string &what, const run_result &r) {
			EXPECT_EQ(r.status, 0) << what;
			EXPECT_EQ(r.err, "") << what;
			wav_info w = parse_wav(read_file(wav));
			EXPECT_TRUE(w.ok && w.bits == f.bits && w.channels == f.channels && w.rate == f.rate) << what;
			EXPECT_TRUE(w.data == reference) << what << ": " << w.data.size() << " bytes against "
							 << reference.size();
		};
		decoded(name + " ogg", wendrop({"-q", "--wav", wav, ogg}));
		for (const std::string &file : {native, ogg}) {
			std::vector<unsigned char> bytes = read_file(file);
			decoded(file + " piped", run(wendrop_args({"-q", "--wav", wav, "-"}),
						     std::string(bytes.begin(), bytes.end()), 60, {.env = env}));
		}
		decoded(name + " redirected", wendrop({"-q", "--wav", wav, "-"},
						      {.env = env, .stdin_path = native, .stdin_flags = O_RDONLY}));
		// Not quiet, with standard output closed: the WAV file must not
		// take its number and collect the announcement.
		decoded(name + " stdout closed", wendrop({"--wav", wav, "-"}, {.env = env, .no_stdout = true,
									   .stdin_path = native, .stdin_flags = O_RDONLY}));
	}
}

TEST_F(WavOutput, ReplayGainScalesTheReferenceAsTheVolumeDoesAndAddsNoClipping)
{
	flac_fixture f;
	f.samples = make_signal(signal_kind::noise, 16, 2, 30000, 44100);
	f.comment_blocks = {{"REPLAYGAIN_TRACK_GAIN=-7.52 dB", "REPLAYGAIN_ALBUM_GAIN=+6.00 dB",
			     "REPLAYGAIN_ALBUM_PEAK=1.000000"}};
	const std::string flac = dir.file("rg.flac"), wav = dir.file("rg.wav");
	ASSERT_TRUE(write_flac(flac, f));
	const std::vector<unsigned char> reference = flac_reference(flac, 16, dir.file("rg.raw"));
	// Scaled in single precision, saturated, truncated toward zero.
	std::vector<unsigned char> scaled = reference;
	const float gain = static_cast<float>(std::pow(10.0, -7.52 / 20));
	for (std::size_t i = 0; i + 1 < scaled.size(); i += 2) {
		float v = static_cast<float>(static_cast<int16_t>(scaled[i] | scaled[i + 1] << 8)) * gain;
		auto s = static_cast<uint16_t>(static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f)));
		scaled[i] = static_cast<unsigned char>(s);
		scaled[i + 1] = static_cast<unsigned char>(s >> 8);
	}
	ASSERT_EQ(wendrop({"-q", "--replaygain=track", "--wav", wav, flac}).status, 0);
	EXPECT_TRUE(!reference.empty() && parse_wav(read_file(wav)).data == scaled);
	// Raw output in a declared format takes the samples so scaled.
	ASSERT_EQ(wendrop({"-q", "--replaygain=track", "--raw", wav, "--raw-format=44100:16:2", flac}).status, 0);
	EXPECT_TRUE(read_file(wav) == scaled);
	// +6 dB would clip noise over the whole range: a peak of 1.0 holds it at unity.
	ASSERT_EQ(wendrop({"-q", "--replaygain=album", "--wav", wav, flac}).status, 0);
	EXPECT_TRUE(parse_wav(read_file(wav)).data == reference);
}

TEST_F(WavOutput, OddWidthsFillTheirContainer)
{
	struct {
		unsigned bits, container;
		int up, down;
	} widths[] = {{4, 8, 4, 0}, {12, 16, 4, 0}, {20, 24, 4, 0}, {28, 24, 0, 4}, {32, 24, 0, 8}};
	for (const auto &wd : widths) {
		std::vector<int32_t> samples;
		std::string name = std::to_string(wd.bits);
		std::string flac = make(name + ".flac", wd.bits, 2, 44100, 5000, &samples);
		std::string wav = dir.file(name + ".wav");
		ASSERT_EQ(wendrop({"-q", "--wav", wav, flac}).status, 0);
		for (int32_t &s : samples)
			s = static_cast<int32_t>((int64_t(s) << wd.up) >> wd.down);
		wav_info w = parse_wav(read_file(wav));
		ASSERT_TRUE(w.ok);
		EXPECT_EQ(w.bits, wd.container) << name;
		EXPECT_TRUE(w.data == pcm_bytes(samples, wd.container)) << name;
	}
}

TEST_F(WavOutput, ANamedFileEndsUpHoldingTheLastStreamWhole)
{
	std::string a = make("a.flac", 16, 2, 44100, 30000);
	std::string b = make("b.flac", 8, 1, 8000, 1234);
	std::string wav = dir.file("out.wav");
	ASSERT_EQ(wendrop({"-q", "--wav", wav, a, b}).status, 0);
	std::vector<unsigned char> bytes = read_file(wav);
	wav_info w = parse_wav(bytes);
	ASSERT_TRUE(w.ok);
	EXPECT_EQ(w.bits, 8u);
	EXPECT_TRUE(w.data == flac_reference(b, 8, dir.file("b.raw")));
	// The header's sizes were patched on close and nothing of a's longer
	// stream is left behind the data.
	uint32_t riff_size = bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) | (uint32_t(bytes[7]) << 24);
	EXPECT_EQ(riff_size, bytes.size() - 8);
	EXPECT_EQ(bytes.size() - w.data.size(), 68u);
}

TEST_F(WavOutput, StandardOutputCarriesOneWholeStreamPerFileAndStaysOpen)
{
	std::string a = make("a.flac", 16, 2, 44100, 3000);
	std::string b = make("b.flac", 24, 1, 48000, 2000);
	auto ra = flac_reference(a, 16, dir.file("a.raw")), rb = flac_reference(b, 24, dir.file("b.raw"));

	run_result quiet = wendrop({"-q", "--wav=-", a, b});
	ASSERT_EQ(quiet.status, 0);
	EXPECT_EQ(quiet.err, "");
	std::vector<unsigned char> out(quiet.out.begin(), quiet.out.end());
	wav_info first = parse_wav(out);
	ASSERT_TRUE(first.ok);
	// Over a stream the data size is open; the second stream starts right
	// after the first one's samples.
	std::size_t header = first.data_offset;
	std::vector<unsigned char> second(out.begin() + static_cast<std::ptrdiff_t>(header + ra.size()), out.end());
	wav_info w2 = parse_wav(second);
	ASSERT_TRUE(w2.ok);
	EXPECT_EQ(w2.bits, 24u);
	EXPECT_EQ(w2.channels, 1u);
	EXPECT_TRUE(w2.data == rb);
	EXPECT_TRUE(std::equal(ra.begin(), ra.end(), out.begin() + static_cast<std::ptrdiff_t>(header)));

	// Not quiet: the text keeps its place among the streams. The output is
	// opened (header written) before the stream is announced.
	run_result loud = wendrop({"--wav=-", a, b});
	ASSERT_EQ(loud.status, 0);
	std::size_t wav1 = loud.out.find("RIFF"), wav2 = loud.out.find("RIFF", wav1 + 1);
	std::size_t name1 = loud.out.find("Playing FLAC stream from a.flac"),
		    name2 = loud.out.find("Playing FLAC stream from b.flac");
	std::size_t data1 = loud.out.find(std::string(ra.begin(), ra.end()));
	ASSERT_NE(wav2, std::string::npos);
	EXPECT_EQ(loud.out.find("wendrop version 2.1.1"), 0u);
	EXPECT_LT(wav1, name1);
	EXPECT_LT(name1, data1);
	EXPECT_EQ(data1 + ra.size(), wav2);
	EXPECT_LT(wav2, name2);
	EXPECT_EQ(count(loud.out, "RIFF"), 2u);
}

TEST_F(WavOutput, StandardOutputRedirectedToAFileHoldsTheSameBytesAsAPipe)
{
	std::string a = make("a.flac", 16, 2, 44100, 7000);
	std::string b = make("b.flac", 16, 1, 22050, 3000);
	run_result piped = wendrop({"--wav=-", a, b});
	ASSERT_EQ(piped.status, 0);
	std::string file = dir.file("stdout.bin");
	run_result to_file = wendrop({"--wav=-", a, b}, {.env = env, .stdout_path = file});
	ASSERT_EQ(to_file.status, 0);
	std::vector<unsigned char> written = read_file(file);
	std::vector<unsigned char> through_pipe(piped.out.begin(), piped.out.end());
	ASSERT_EQ(written.size(), through_pipe.size());
	std::size_t differs = static_cast<std::size_t>(
		std::mismatch(written.begin(), written.end(), through_pipe.begin()).first - written.begin());
	EXPECT_EQ(differs, written.size()) << "first difference at byte " << differs;
}

// A conversion that could not write its output fails: a missing folder, a
// folder, a FIFO that nobody reads (refused at once, not waited for). And a
// FIFO's reader that goes away mid-stream is a failed write, with status 1,
// not the end of the process by SIGPIPE.
TEST_F(WavOutput, AWavOutputThatCannotBeCreatedOrWhoseReaderLeavesFails)
{
	std::string a = make("a.flac", 16, 2, 44100, 44100 * 2), fifo = dir.file("fifo.wav");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	for (const std::string &wav : {dir.file("no/such/dir/out.wav"), dir.path, fifo}) {
		run_result r = wendrop({"-q", "--wav", wav, a, a});
		EXPECT_TRUE(r.status == 1 && !r.timed_out) << wav;
		std::string lines = "Error opening wav file " + wav + "\nError opening " + a + "\n";
		EXPECT_EQ(r.err, lines + lines);
	}
	int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	process p;
	ASSERT_TRUE(reader >= 0 && process_start(p, wendrop_args({"-q", "--wav", fifo, a, a}), {.env = env}));
	char buf[8192];
	ssize_t n = 0;
	for (std::size_t got = 0; got < 100000 && n >= 0; got += static_cast<std::size_t>(std::max<ssize_t>(n, 0))) {
		pollfd f = {reader, POLLIN, 0};
		n = poll(&f, 1, 20000) > 0 ? read(reader, buf, sizeof buf) : -1;
	}
	close(reader);
	ASSERT_GT(n, 0) << "the player wrote less than was read for";
	EXPECT_EQ(process_finish(p, 20), 1);
	EXPECT_EQ(p.err_text, "Error writing wav file " + fifo + "\nError opening wav file " + fifo + "\nError opening " +
				      a + "\n");
}

// libao's wav driver reports success on a full disk; the player sees the
// failed writes itself. Each stream ends at its first failed write with one
// line, and the run goes on and ends with status 1. b's few bytes wait in
// the file's buffer until it is closed: the close is checked too.
TEST_F(WavOutput, AFullDiskEndsEachStreamWithOneLineAndStatusOne)
{
	std::string a = make("a.flac", 16, 2, 44100, 44100 * 3), b = make("b.flac", 8, 1, 8000, 1000);
	std::string missing = dir.file("missing.flac");
	run_result r = wendrop({"-q", "--wav=/dev/full", a, missing, b});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "Error writing wav file /dev/full\nError opening " + missing +
				 "\nError writing wav file /dev/full\n");
	r = wendrop({"-q", "--wav=-", a, b}, {.env = env, .stdout_path = "/dev/full"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "Error writing wav file -\nError writing wav file -\n");
	// A raw output holds the whole run: once it failed, it takes no more.
	r = wendrop({"-q", "--raw=/dev/full", a, b});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "Error writing raw output /dev/full\nError writing raw output /dev/full\nError opening " + b + "\n");
	// A file that cannot be opened is missing from the output too.
	EXPECT_EQ(wendrop({"-q", "--wav=/dev/full", missing}).status, 1);
}

// A disk that fills up part way: what was written stays readable, with a
// header that states it (patching the header needs no new space).
TEST_F(WavOutput, AFileSystemThatFillsUpKeepsAHeaderThatStatesTheFile)
{
	std::string small = dir.file("small");
	ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
	if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=200k") != 0)
		GTEST_SKIP() << "cannot mount a small file system here: " << strerror(errno);
	std::string a = make("a.flac", 24, 2, 48000, 48000 * 2), wav = small + "/out.wav";
	run_result r = wendrop({"-q", "--wav", wav, a});
	std::vector<unsigned char> bytes = read_file(wav);
	umount(small.c_str());
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "Error writing wav file " + wav + "\n");
	EXPECT_GT(bytes.size(), 100000u);
	EXPECT_TRUE(wav_states_its_size(bytes));
	std::vector<unsigned char> reference = flac_reference(a, 24, dir.file("a.raw"));
	wav_info w = parse_wav(bytes);
	EXPECT_TRUE(std::equal(w.data.begin(), w.data.end(), reference.begin()));
}

// A signal that ends a conversion (SIGTERM, SIGHUP, SIGINT in remote mode,
// which has no interrupt of its own, and SIGPIPE from a reader of the event
// lines that has gone) lets the WAV file be finished first, its header
// stating what it holds; the process still ends by that signal. The input
// is a FIFO fed half the file, so the signal finds the player waiting for
// the rest.
TEST_F(WavOutput, ASignalEndingTheRunFinishesTheWavFileFirst)
{
	std::vector<int32_t> samples;
	std::string a = make("a.flac", 16, 2, 44100, 44100 * 4, &samples);
	const std::vector<unsigned char> flac = read_file(a), pcm = pcm_bytes(samples, 16);
	std::string fifo = dir.file("in.flac"), wav = dir.file("out.wav");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	struct {
		std::vector<std::string> args;
		std::string commands;
		int sig;
		std::size_t least;  // the data written by then
	} cases[] = {
		{{"-q", "--wav", wav, fifo}, "", SIGTERM, pcm.size() / 4},
		{{"-q", "--wav", wav, fifo}, "", SIGHUP, pcm.size() / 4},
		{{"-R", "--wav", wav}, "LOAD " + fifo + "\n", SIGINT, pcm.size() / 4},
		// The first "@F" line meets the closed pipe.
		{{"-R", "--wav", wav}, "LOAD " + fifo + "\n", SIGPIPE, 1},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(strsignal(c.sig));
		unlink(wav.c_str());
		process p;
		ASSERT_TRUE(process_start(p, wendrop_args(c.args), {.env = env}));
		process_send(p, c.commands);
		int w = fifo_writer(fifo);
		ASSERT_GE(w, 0) << "the player never opened the FIFO";
		if (c.sig == SIGPIPE) {
			close(p.out);
			p.out = -1;
		}
		// Once the player has gone the FIFO has no reader: no SIGPIPE here.
		signal(SIGPIPE, SIG_IGN);
		ssize_t sent = write(w, flac.data(), flac.size() / 2);
		signal(SIGPIPE, SIG_DFL);
		if (c.sig != SIGPIPE) {
			ASSERT_EQ(sent, static_cast<ssize_t>(flac.size() / 2));
		}
		// Everything sent is decoded once the file stops growing.
		for (std::size_t last = 1, now = 0; now != last; usleep(200000))
			last = std::exchange(now, read_file(wav).size());
		if (c.sig != SIGPIPE)
			kill(p.pid, c.sig);
		EXPECT_EQ(process_finish(p, 10), 128 + c.sig);
		close(w);
		std::vector<unsigned char> bytes = read_file(wav);
		EXPECT_TRUE(wav_states_its_size(bytes));
		wav_info wi = parse_wav(bytes);
		EXPECT_GE(wi.data.size(), c.least);
		EXPECT_TRUE(wi.data.size() <= pcm.size() && std::equal(wi.data.begin(), wi.data.end(), pcm.begin()));
	}
}

// A typo (-w for an input) or the input named as output: the FLAC file is
// not touched, whether it begins with its signature or, behind an ID3 tag,
// is the very stream being played.
TEST_F(WavOutput, NeverOverwritesAFlacFileOrTheStreamItself)
{
	std::string a = make("a.flac", 16, 2, 44100, 3000), b = make("b.flac", 16, 1, 8000, 900);
	std::vector<unsigned char> tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 16};
	tagged.resize(26);
	std::vector<unsigned char> flac = read_file(a);
	tagged.insert(tagged.end(), flac.begin(), flac.end());
	std::string c = dir.file("c.flac");
	ASSERT_TRUE(write_file(c, tagged));
	ASSERT_EQ(wendrop({"-q", "--wav=" + dir.file("c.wav"), c}).status, 0);

	// Refused, the conversion fails.
	for (const std::string &target : {a, c}) {
		run_result r = wendrop({"-q", "-w", target, b});
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.err, "Error opening wav file " + target + "\nError opening " + b + "\n");
	}
	EXPECT_TRUE(read_file(a) == flac);
	run_result r = wendrop({"-q", "--raw=" + a, b});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "Error opening raw output " + a + "\nError opening " + b + "\n");
	EXPECT_TRUE(read_file(a) == flac);
	r = wendrop({"-q", "--wav=" + c, c});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "Error opening wav file " + c + "\nError opening " + c + "\n");
	EXPECT_TRUE(read_file(c) == tagged);

	// FLAC in Ogg is FLAC too; and standard input is the stream itself.
	flac_fixture f;
	f.ogg = true;
	f.samples = make_signal(signal_kind::noise, 16, 2, 1000, 44100);
	std::string d = dir.file("d.oga");
	ASSERT_TRUE(write_flac(d, f));
	std::vector<unsigned char> ogg = read_file(d);
	r = wendrop({"-q", "-w", d, b});
	EXPECT_EQ(r.err, "Error opening wav file " + d + "\nError opening " + b + "\n");
	EXPECT_TRUE(read_file(d) == ogg);
	r = wendrop({"-q", "--wav=" + c, "-"}, {.env = env, .stdin_path = c});
	EXPECT_EQ(r.err, "Error opening wav file " + c + "\nError opening -\n");
	EXPECT_TRUE(read_file(c) == tagged);

	// Nor a list or a cue sheet read on the way: named, found in the folder
	// named, or named after the stream that would overwrite it.
	ASSERT_EQ(mkdir(dir.file("album").c_str(), 0755), 0);
	const std::string album = make("album/Album.flac", 16, 1, 8000, 900);
	const std::string sheet = dir.file("album/Album.cue"), list = dir.file("list.m3u");
	const std::string sheet_text = "FILE \"Album.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
	ASSERT_TRUE(write_file(sheet, {sheet_text.begin(), sheet_text.end()}));
	ASSERT_TRUE(write_file(list, {b.begin(), b.end()}));
	const std::vector<unsigned char> list_bytes = read_file(list);
	struct {
		std::string target;
		std::vector<std::string> args;
		std::string opened;
	} lists[] = {
		{sheet, {sheet}, album},
		{sheet, {dir.file("album")}, album},
		{list, {list}, b},
		{list, {b, list}, b},
	};
	for (const auto &row : lists) {
		std::vector<std::string> args = {"-q", "-w", row.target};
		args.insert(args.end(), row.args.begin(), row.args.end());
		r = wendrop(args);
		EXPECT_EQ(r.status, 1) << row.args.back();
		EXPECT_EQ(r.err.substr(0, r.err.find('\n', r.err.find('\n') + 1) + 1),
			  "Error opening wav file " + row.target + "\nError opening " + row.opened + "\n");
	}
	EXPECT_EQ(read_file(sheet), std::vector<unsigned char>(sheet_text.begin(), sheet_text.end()));
	EXPECT_EQ(read_file(list), list_bytes);
}

// The WAV output is written without libao; its header and data are what
// libao's own wav driver writes, for every layout the player uses and every
// width it plays in.
TEST(WavHeader, EqualsWhatLibaosWavDriverWrites)
{
	ao_initialize();
	static const char *const layouts[] = {"M", "L,R", "L,R,C", "L,R,BL,BR", "L,R,C,BL,BR", "L,R,C,LFE,BL,BR",
					      "L,R,C,LFE,BC,SL,SR", "L,R,C,LFE,BL,BR,SL,SR", nullptr};
	for (int channels = 1; channels <= 9; channels++) {
		for (int bits : {8, 16, 24}) {
			ao_sample_format f = {bits, 44100 + channels, channels, AO_FMT_NATIVE,
					      const_cast<char *>(layouts[channels - 1])};
			const std::size_t frame = static_cast<std::size_t>(channels * bits / 8);
			std::vector<unsigned char> data(frame);
			for (std::size_t i = 0; i < frame; i++)
				data[i] = static_cast<unsigned char>(0x81 + i);
			// libao's driver on a pipe, as it writes standard output: it
			// cannot seek back, so the sizes stay as first written.
			int p[2];
			ASSERT_EQ(pipe(p), 0);
			FILE *saved = stdout;
			stdout = fdopen(p[1], "w");
			ao_device *d = ao_open_file(ao_driver_id("wav"), "-", 1, &f, nullptr);
			ASSERT_NE(d, nullptr);
			ao_play(d, reinterpret_cast<char *>(data.data()), static_cast<uint_32>(frame));
			ao_close(d);
			stdout = saved;
			std::vector<unsigned char> libao(68 + frame + 1);
			ssize_t got = read(p[0], libao.data(), libao.size());
			close(p[0]);
			ASSERT_EQ(got, static_cast<ssize_t>(68 + frame)) << channels << " channels, " << bits << " bits";
			std::vector<unsigned char> ours(68);
			wav_header(f, ours.data());
			ours.insert(ours.end(), data.begin(), data.end());
			libao.resize(68 + frame);
			EXPECT_EQ(ours, libao) << channels << " channels, " << bits << " bits";
		}
	}
	ao_shutdown();
}

// Raw output: every stream of the run in its own format, back to back, as
// `flac -d --force-raw-format --sign=signed` writes each; in a declared
// format that matches, the same values (24 bits in 32-bit words). Into a
// regular file it is a conversion: a file missing from it is a failure.
TEST_F(WavOutput, RawOutputHoldsEveryStreamOfTheRunBackToBack)
{
	const std::string a = make("a.flac", 8, 1, 8000, 5000), b = make("b.flac", 16, 2, 44100, 30000),
			  c = make("c.flac", 24, 6, 48000, 7000), raw = dir.file("out.raw");
	std::vector<unsigned char> all, c_only;
	for (auto [flac, bits] : {std::pair{a, 8u}, std::pair{b, 16u}, std::pair{c, 24u}}) {
		std::vector<unsigned char> ref = flac_reference(flac, bits, dir.file("ref.raw"));
		ASSERT_FALSE(ref.empty());
		for (unsigned char &byte : ref)
			byte ^= bits == 8 ? 0x80 : 0;
		all.insert(all.end(), ref.begin(), ref.end());
		c_only = ref;
	}
	run_result r = wendrop({"-q", "--raw=" + raw, a, b, c});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_TRUE(read_file(raw) == all);
	r = wendrop({"-q", "--raw=-", a, b, c});
	EXPECT_TRUE(r.status == 0 && std::vector<unsigned char>(r.out.begin(), r.out.end()) == all);

	ASSERT_EQ(wendrop({"-q", "--raw=" + raw, "--raw-format=48000:24:6", c}).status, 0);
	std::vector<unsigned char> words;
	for (std::size_t i = 0; i + 3 <= c_only.size(); i += 3)
		words.insert(words.end(), {c_only[i], c_only[i + 1], c_only[i + 2],
					   static_cast<unsigned char>(c_only[i + 2] & 0x80 ? 0xff : 0)});
	EXPECT_TRUE(read_file(raw) == words);

	r = wendrop({"-q", "--raw=" + raw, dir.file("missing.flac"), c});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "Error opening " + dir.file("missing.flac") + "\n");
	EXPECT_TRUE(read_file(raw) == c_only);
}

// A FIFO is played, not converted into: it is awaited until a reader comes,
// without spinning and without holding up QUIT (or q), and then written as
// the reader takes it; a reader that goes away ends the run by SIGPIPE, as
// with --wav=-.
TEST_F(WavOutput, ARawFifoAwaitsItsReaderAndEndsTheRunWhenTheReaderGoes)
{
	const std::string a = make("a.flac", 16, 2, 44100, 44100 * 3), fifo = dir.file("room");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	process p;
	ASSERT_TRUE(process_start(p, wendrop_args({"-R", "--raw=" + fifo}), {.env = env}));
	process_send(p, "LOAD " + a + "\n");
	process_wait_until(p, [](const process &) { return false; }, 1.0);
	EXPECT_EQ(p.out_text, "@R WENDROP\n");
	const double quit = now_seconds();
	process_send(p, "QUIT\n");
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_LT(now_seconds() - quit, 1.0);
	EXPECT_LT(p.cpu_seconds, 0.3);

	// A reader that comes later gets all of it; one that leaves ends it.
	const std::vector<unsigned char> reference = flac_reference(a, 16, dir.file("a.raw"));
	for (const bool stays : {true, false}) {
		std::thread reader([&] {
			usleep(300000);
			int fd = open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
			std::vector<unsigned char> got(reference.size() + 1);
			std::size_t n = 0;
			for (ssize_t r = 1; r > 0 && n < (stays ? got.size() : 10000); n += static_cast<std::size_t>(std::max<ssize_t>(r, 0)))
				r = read(fd, got.data() + n, got.size() - n);
			close(fd);
			got.resize(n);
			EXPECT_TRUE(!stays || got == reference);
		});
		run_result r = wendrop({"-q", "--raw=" + fifo, a, dir.file("missing.flac")});
		reader.join();
		EXPECT_EQ(r.status, stays ? 0 : 128 + SIGPIPE);
	}
}
