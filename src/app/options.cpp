// Command-line options: the option table and its parsing with popt.
#include "app/settings.h"
#include "playback/printable.h"
#include "playback/tags.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

char *opt_driver;
char *opt_wav;
char *opt_raw;
pcm_format opt_raw_format;
char *opt_buffer_time;
int opt_remote;
int opt_quiet;
int opt_version;
int opt_buffer_ms;
int opt_skip_printing_frames = 1;
int opt_mpeg_frames;
int opt_shuffle;
int opt_repeat;
int opt_no_keys;
int opt_no_cue;
int opt_no_mpris;
int opt_replaygain;
char **opt_device_options;
// The options' texts as given; checked and turned into the values above.
static char *skip_frames_text;
static char *replaygain_text;
static char *raw_format_text;

// Every entry stores straight into its setting and has no option code, so
// poptGetNextOpt only ever hands back -1 or an error.
static struct poptOption option_table[] = {
	{"driver", 'd', POPT_ARG_STRING, &opt_driver, 0,
	 "set libao output driver (pulse, macosx, oss, etc).  Default is oss", nullptr},
	{"wav", 'w', POPT_ARG_STRING, &opt_wav, 0,
	 "send output to wav file (use --wav=- and -q for stdout)", "FILENAME"},
	{"raw", '\0', POPT_ARG_STRING, &opt_raw, 0,
	 "send raw PCM to a file, a FIFO or stdout (-), as Snapcast reads it", "FILENAME"},
	{"raw-format", '\0', POPT_ARG_STRING, &raw_format_text, 0,
	 "convert every stream sent with --raw to RATE:BITS:CHANNELS, e.g. 48000:16:2", "FORMAT"},
	{"remote", 'R', POPT_ARG_NONE, &opt_remote, 0,
	 "set remote mode for programmatic control", nullptr},
	{"buffer-time", 'b', POPT_ARG_STRING, &opt_buffer_time, 0,
	 "override default hardware buffer size (in milliseconds)", "INT"},
	{"quiet", 'q', POPT_ARG_NONE, &opt_quiet, 0, "suppress text output", nullptr},
	{"version", 'v', POPT_ARG_NONE, &opt_version, 0, "version info", nullptr},
	{"device-option", 'o', POPT_ARG_ARGV, &opt_device_options, 0,
	 "set an option of the live driver (dev=hw:1, sink=NAME); repeatable", "KEY=VAL"},
	{"shuffle", 'z', POPT_ARG_NONE, &opt_shuffle, 0, "play the list in a random order", nullptr},
	{"repeat", 'r', POPT_ARG_NONE, &opt_repeat, 0, "play the list again and again", nullptr},
	{"replaygain", '\0', POPT_ARG_STRING, &replaygain_text, 0,
	 "apply the ReplayGain tags: track or album", "MODE"},
	{"no-keys", '\0', POPT_ARG_NONE, &opt_no_keys, 0, "take no keys from the terminal", nullptr},
	{"no-cue", '\0', POPT_ARG_NONE, &opt_no_cue, 0, "play whole files: no tracks from cue sheets", nullptr},
	{"no-mpris", '\0', POPT_ARG_NONE, &opt_no_mpris, 0, "stay off the desktop's session bus (MPRIS)", nullptr},
	{"skip-printing-frames", '\0', POPT_ARG_STRING, &skip_frames_text, 0,
	 "remote mode: print one @F line in every N frames (default 1)", "N"},
	{"mpeg-frames", '\0', POPT_ARG_NONE, &opt_mpeg_frames, 0,
	 "remote mode: a JUMP number counts MPEG frames of 1152 samples, as for mpg321", nullptr},
	{nullptr, '\0', POPT_ARG_INCLUDE_TABLE, poptHelpOptions, 0, "Help options:", nullptr},
	POPT_TABLEEND,
};

// The value of a number option: decimal digits only, 1 to max. 0 for
// anything else.
static int whole_number(const char *text, int max)
{
	int n = 0;
	for (const char *p = text; *p; p++) {
		if (*p < '0' || *p > '9')
			return 0;
		n = n * 10 + (*p - '0');
		if (n > max)
			return 0;
	}
	return n;
}

// The ReplayGain mode a name gives; replaygain_off for any other text.
static int replaygain_mode_named(const char *name)
{
	if (strcmp(name, "track") == 0)
		return replaygain_track;
	return strcmp(name, "album") == 0 ? replaygain_album : replaygain_off;
}

// The raw output's options: one output, and a format that Snapcast's
// notation states and the converter can make. 1 when they may be used;
// 0 after the line that says why not.
static int raw_options_valid()
{
	opt_raw_format = {};
	if (opt_raw && opt_wav) {
		fputs("--raw and --wav: only one output may be given\n", stderr);
		return 0;
	}
	if (!raw_format_text)
		return 1;
	const std::string shown = printable(raw_format_text);
	if (!pcm_format_parse(raw_format_text, &opt_raw_format)) {
		fprintf(stderr, "--raw-format=%s: not RATE:BITS:CHANNELS (%d to %d Hz, 16, 24 or 32 bits, 1 to %d channels)\n",
			shown.c_str(), pcm_rate_min, pcm_rate_max, pcm_channels_max);
		return 0;
	}
	if (!opt_raw) {
		fprintf(stderr, "--raw-format=%s: only with --raw\n", shown.c_str());
		return 0;
	}
	return 1;
}

poptContext options_parse(int argc, const char **argv)
{
	poptContext con = poptGetContext("wendrop", argc, argv, option_table, 0);
	poptSetOtherOptionHelp(con, "[OPTIONS] FILES...");

	int rc;
	while ((rc = poptGetNextOpt(con)) >= 0)
		;
	if (rc != -1) {
		fprintf(stderr, "%s: %s\n", printable(poptBadOption(con, POPT_BADOPTION_NOALIAS)).c_str(),
			poptStrerror(rc));
		options_free(con);
		return nullptr;
	}
	// libao's PulseAudio client hangs on a buffer time it cannot use, so
	// nothing but a whole number of milliseconds may reach it.
	if (opt_buffer_time && !(opt_buffer_ms = whole_number(opt_buffer_time, buffer_ms_max))) {
		fprintf(stderr, "--buffer-time=%s: not a whole number of milliseconds from 1 to %d\n",
			printable(opt_buffer_time).c_str(), buffer_ms_max);
		options_free(con);
		return nullptr;
	}
	if (skip_frames_text && !(opt_skip_printing_frames = whole_number(skip_frames_text, skip_frames_max))) {
		fprintf(stderr, "--skip-printing-frames=%s: not a whole number from 1 to %d\n",
			printable(skip_frames_text).c_str(), skip_frames_max);
		options_free(con);
		return nullptr;
	}
	// libao would take "dev" without a value as an option of that name,
	// and ignore it.
	for (char **o = opt_device_options; o && *o; o++)
		if (**o == '=' || !strchr(*o, '=')) {
			fprintf(stderr, "--device-option=%s: not KEY=VALUE\n", printable(*o).c_str());
			options_free(con);
			return nullptr;
		}
	if (replaygain_text && !(opt_replaygain = replaygain_mode_named(replaygain_text))) {
		fprintf(stderr, "--replaygain=%s: not track or album\n", printable(replaygain_text).c_str());
		options_free(con);
		return nullptr;
	}
	if (!raw_options_valid()) {
		options_free(con);
		return nullptr;
	}
	return con;
}

void options_free(poptContext con)
{
	poptFreeContext(con);
	// popt hands over a fresh copy for each text option it stores.
	free(opt_driver);
	free(opt_wav);
	free(opt_raw);
	free(raw_format_text);
	free(opt_buffer_time);
	free(skip_frames_text);
	free(replaygain_text);
	opt_driver = opt_wav = opt_raw = opt_buffer_time = skip_frames_text = replaygain_text = raw_format_text =
		nullptr;
	for (char **o = opt_device_options; o && *o; o++)
		free(*o);
	free(opt_device_options);
	opt_device_options = nullptr;
}
