// The command line: help, usage, version, banner, bad options, driver
// selection and exit statuses, seen from outside the built program.
#include <ao/ao.h>
#include <gtest/gtest.h>

#include "fixture.h"
#include "process.h"
#include "testenv.h"

namespace {
const std::string banner = "wendrop version 2.1.1   'wendrop --help' for more info\n";

const std::string help_text =
	"Usage: wendrop [OPTIONS] FILES...\n"
	"  -d, --driver=STRING              set libao output driver (pulse, macosx,\n"
	"                                   oss, etc).  Default is oss\n"
	"  -w, --wav=FILENAME               send output to wav file (use --wav=- and -q\n"
	"                                   for stdout)\n"
	"      --raw=FILENAME               send raw PCM to a file, a FIFO or stdout\n"
	"                                   (-), as Snapcast reads it\n"
	"      --raw-format=FORMAT          convert every stream sent with --raw to\n"
	"                                   RATE:BITS:CHANNELS, e.g. 48000:16:2\n"
	"  -R, --remote                     set remote mode for programmatic control\n"
	"  -b, --buffer-time=INT            override default hardware buffer size (in\n"
	"                                   milliseconds)\n"
	"  -q, --quiet                      suppress text output\n"
	"  -v, --version                    version info\n"
	"  -o, --device-option KEY=VAL      set an option of the live driver (dev=hw:1,\n"
	"                                   sink=NAME); repeatable\n"
	"  -z, --shuffle                    play the list in a random order\n"
	"  -r, --repeat                     play the list again and again\n"
	"      --replaygain=MODE            apply the ReplayGain tags: track or album\n"
	"      --no-keys                    take no keys from the terminal\n"
	"      --no-cue                     play whole files: no tracks from cue sheets\n"
	"      --no-mpris                   stay off the desktop's session bus (MPRIS)\n"
	"      --skip-printing-frames=N     remote mode: print one @F line in every N\n"
	"                                   frames (default 1)\n"
	"      --mpeg-frames                remote mode: a JUMP number counts MPEG\n"
	"                                   frames of 1152 samples, as for mpg321\n"
	"\n"
	"Help options:\n"
	"  -?, --help                       Show this help message\n"
	"      --usage                      Display brief usage message\n";

const std::string usage_text =
	"Usage: wendrop [-Rqvzr?] [-d|--driver=STRING] [-w|--wav=FILENAME]\n"
	"        [--raw=FILENAME] [--raw-format=FORMAT] [-R|--remote]\n"
	"        [-b|--buffer-time=INT] [-q|--quiet] [-v|--version]\n"
	"        [-o|--device-option=KEY=VAL] [-z|--shuffle] [-r|--repeat]\n"
	"        [--replaygain=MODE] [--no-keys] [--no-cue] [--no-mpris]\n"
	"        [--skip-printing-frames=N] [--mpeg-frames] [-?|--help] [--usage]\n"
	"        [OPTIONS] FILES...\n";

struct Cli : testing::Test {
	temp_dir dir;
	std::vector<std::string> env = player_env(dir);
	run_result wendrop(std::vector<std::string> args, const std::string &input = "")
	{
		return run(wendrop_args(std::move(args)), input, 30, {.env = env});
	}
	// A short 16-bit stereo file, a.flac.
	std::string short_file()
	{
		flac_fixture f;
		f.samples = make_signal(signal_kind::ramp, 16, 2, 2000, 44100);
		EXPECT_TRUE(write_flac(dir.file("a.flac"), f));
		return dir.file("a.flac");
	}
};
}

TEST_F(Cli, HelpAndUsageComeFromTheOptionTable)
{
	for (const char *opt : {"--help", "-?"}) {
		run_result r = wendrop({opt, "ignored.flac"});
		EXPECT_EQ(r.status, 0) << opt;
		EXPECT_EQ(r.out, help_text) << opt;
		EXPECT_EQ(r.err, "") << opt;
	}
	run_result r = wendrop({"--usage"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, usage_text);
}

TEST_F(Cli, VersionPrintsOneLineBeforeAnythingElse)
{
	for (auto args : std::vector<std::vector<std::string>>{{"-v"}, {"--version", "-q"}, {"-R", "-v", "x.flac"}}) {
		run_result r = wendrop(args);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.out, "wendrop version 2.1.1\n");
		EXPECT_EQ(r.err, "");
	}
}

TEST_F(Cli, NoFilesPrintsTheBannerUnlessQuiet)
{
	run_result r = wendrop({});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, banner);
	EXPECT_EQ(r.err, "");
	r = wendrop({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
}

TEST_F(Cli, UnparsableCommandLinesExitWithStatusOne)
{
	const std::string ms_range = ": not a whole number of milliseconds from 1 to 10000\n";
	const std::string raw_format_rule =
		": not RATE:BITS:CHANNELS (1000 to 768000 Hz, 16, 24 or 32 bits, 1 to 8 channels)\n";
	struct {
		std::vector<std::string> args;
		std::string err;
	} cases[] = {
		{{"--bogus", "a.flac"}, "--bogus: unknown option\n"},
		{{"-x"}, "-x: unknown option\n"},
		{{"--driver"}, "--driver: missing argument\n"},
		{{"-q", "-w"}, "-w: missing argument\n"},
		{{"--quiet=yes"}, "--quiet=yes: option does not take an argument\n"},
		{{"--skip-printing-frames"}, "--skip-printing-frames: missing argument\n"},
		// A buffer time is checked before the banner and before any file.
		{{"-b", "abc", "a.flac"}, "--buffer-time=abc" + ms_range},
		{{"-b", "0", "a.flac"}, "--buffer-time=0" + ms_range},
		{{"-b", "-5"}, "--buffer-time=-5" + ms_range},
		{{"-b", ""}, "--buffer-time=" + ms_range},
		{{"--buffer-time=10001"}, "--buffer-time=10001" + ms_range},
		{{"-b", "99999999999999999999"}, "--buffer-time=99999999999999999999" + ms_range},
		{{"-R", "--buffer-time", "20.5"}, "--buffer-time=20.5" + ms_range},
		{{"-b", " 20"}, "--buffer-time= 20" + ms_range},
		{{"--replaygain=Track", "a.flac"}, "--replaygain=Track: not track or album\n"},
		{{"--replaygain", ""}, "--replaygain=: not track or album\n"},
		// Snapcast's notation, a format the converter makes, one output.
		{{"--raw=-", "--raw-format=44100:20:2"}, "--raw-format=44100:20:2" + raw_format_rule},
		{{"--raw=-", "--raw-format", "48000:16"}, "--raw-format=48000:16" + raw_format_rule},
		{{"-R", "--raw=-", "--raw-format=48000:16:9"}, "--raw-format=48000:16:9" + raw_format_rule},
		{{"--raw=-", "--raw-format=500:16:2", "a.flac"}, "--raw-format=500:16:2" + raw_format_rule},
		{{"--raw=-", "--raw-format=48k:16:2"}, "--raw-format=48k:16:2" + raw_format_rule},
		{{"--raw-format=48000:16:2", "a.flac"}, "--raw-format=48000:16:2: only with --raw\n"},
		{{"--raw=-", "-w", "x.wav"}, "--raw and --wav: only one output may be given\n"},
		// A device option needs a key and a "=", even with --wav, which
		// ignores it.
		{{"-o", "dev", "a.flac"}, "--device-option=dev: not KEY=VALUE\n"},
		{{"-o", "dev=hw:1", "--device-option==hw:1"}, "--device-option==hw:1: not KEY=VALUE\n"},
		{{"-w", "out.wav", "-o", ""}, "--device-option=: not KEY=VALUE\n"},
	};
	for (const auto &c : cases) {
		run_result r = wendrop(c.args);
		EXPECT_EQ(r.status, 1) << c.err;
		EXPECT_EQ(r.err, c.err);
		EXPECT_EQ(r.out, "") << c.err;
	}
}

TEST_F(Cli, FramesPerProgressLineMustBeAWholeNumberFromOneToAMillion)
{
	const std::string rule = ": not a whole number from 1 to 1000000\n";
	for (std::string bad : {"0", "1000001", "99999999999999999999", "-5", "+5", " 5", "5x", "1.5", "", "ten"}) {
		for (auto args : std::vector<std::vector<std::string>>{{"--skip-printing-frames=" + bad},
									{"-R", "--skip-printing-frames", bad}}) {
			run_result r = wendrop(args, "LOAD x\n");
			EXPECT_EQ(r.status, 1) << bad;
			EXPECT_EQ(r.err, "--skip-printing-frames=" + bad + rule);
			EXPECT_EQ(r.out, "") << bad;
		}
	}
	for (std::string good : {"1", "10", "007", "1000000"}) {
		run_result r = wendrop({"-R", "--skip-printing-frames=" + good});
		EXPECT_EQ(r.status, 0) << good;
		EXPECT_EQ(r.out, "@R WENDROP\n") << good;
		EXPECT_EQ(r.err, "") << good;
	}
}

TEST_F(Cli, BufferTimesFromOneToTenThousandAreTaken)
{
	std::string flac = short_file();
	// The null driver takes any of them as it is: only the pulse driver's
	// are cut to what it can hold.
	for (const char *ms : {"1", "0100", "10000"}) {
		run_result r = wendrop({"-q", "-b", ms, flac});
		EXPECT_EQ(r.status, 0) << ms;
		EXPECT_EQ(r.err, "") << ms;
	}
}

TEST_F(Cli, UnknownDriverFallsBackToTheDefaultWithAMessage)
{
	std::string flac = short_file();

	// The default driver here is null, so the file plays.
	run_result r = wendrop({"-q", "-d", "nosuch", flac});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Error identifying libao driver nosuch\n");

	// With a WAV output the driver is never looked at, nor its options.
	r = wendrop({"-q", "-d", "nosuch", "-o", "dev=nosuch", "--wav", dir.file("o.wav"), flac});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_GT(read_file(dir.file("o.wav")).size(), 8000u);
}

TEST_F(Cli, LiveDeviceThatCannotOpenIsReportedPerFile)
{
	std::string flac = short_file();
	// No sound server runs at this address, so the pulse device fails.
	auto no_server = env;
	no_server.push_back("PULSE_SERVER=unix:" + dir.file("no-such-socket"));
	run_result r = run(wendrop_args({"-q", "-d", "pulse", flac, flac}), "", 30, {.env = no_server});
	EXPECT_EQ(r.status, 0);
	ao_initialize();
	std::string device_line = "Error opening ao device " + std::to_string(ao_driver_id("pulse")) + "\n";
	ao_shutdown();
	EXPECT_EQ(r.err, device_line + "Error opening " + flac + "\n" + device_line + "Error opening " + flac + "\n");

	// libao does not say which option it refused: the line after names
	// them all, as given, in their printable form.
	const std::string socket = "unix:" + dir.file("no-such-socket");
	r = run(wendrop_args({"-q", "-d", "pulse", "-o", "server=" + socket, "-o", "client_name=a\tb", flac}), "", 30,
		{.env = env});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, device_line + "Device options given: server=" + socket + " client_name=a?b\nError opening " +
				 flac + "\n");
}
