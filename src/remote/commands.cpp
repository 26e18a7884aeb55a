// The remote loop and the command set. JUMP, VOLUME and PAUSE ask for the
// playback actions that keys ask for, carried out where theirs are.
#include "remote/remote.h"
#include "playback/request.h"
#include "playback/stream.h"
#include "playback/printable.h"
#include "playback/reason.h"
#include "playback/source.h"
#include "net/net.h"
#include "playback/convert.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

namespace {
struct command {
	const char *short_word;
	const char *long_word;
	int (*run)(const char *word, const char *arg);
	int ends_stream;  // closes or replaces the open stream
	const char *help; // its "@H" line after the words: the argument, then what it does
};
}

remote_settings remote_config;

// Event lines go through write_event, which notes a reader that has gone.
static void event(const char *line)
{
	write_event(line, strlen(line));
}

static int cmd_load(const char *word, const char *arg)
{
	if (!arg) {
		fprintf(stderr, "@E Missing argument to '%s'\n", printable(word).c_str());
	} else {
		if (file_info.is_loaded == 1)
			stream_close();
		// Standard input carries the commands: "-" (or any other name of
		// it) is never opened as a stream.
		if (!stream_open(arg)) {
			// A URL's line says why; a file's stays as front ends have
			// always read it.
			const std::string why = net_is_url(arg) ? failure_text(file_info.failure) : "";
			fprintf(stderr, why.empty() ? "@E Error opening %s\n" : "@E Error opening %s (%s)\n",
				shown_name(arg).c_str(), why.c_str());
		}
	}
	// A front end moves to its next track when this one ends: a LOAD that
	// leaves nothing playing says so.
	if (!file_info.is_loaded)
		event("@P 0\n");
	return 0;
}

// Saturating 64-bit arithmetic: no argument can make the target wrap.
static int64_t mul_sat(int64_t a, int64_t b)
{
	int64_t r;
	if (__builtin_mul_overflow(a, b, &r))
		return (a < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
	return r;
}

static int64_t add_sat(int64_t a, int64_t b)
{
	int64_t r;
	if (__builtin_add_overflow(a, b, &r))
		return b < 0 ? INT64_MIN : INT64_MAX;
	return r;
}

int jump_target(const stream_record &s, const char *arg, int mpeg_frames, uint64_t *sample, float *elapsed)
{
	// strtol is atol with a defined result for out-of-range numbers.
	const int64_t n = strtol(arg, nullptr, 10);
	const std::size_t length = strlen(arg);
	const bool seconds = !mpeg_frames || (length && (arg[length - 1] == 's' || arg[length - 1] == 'S'));
	const int64_t unit = seconds ? s.format.rate : mpeg_frame_samples;
	const int64_t current = s.current_sample > INT64_MAX ? INT64_MAX : static_cast<int64_t>(s.current_sample);

	if (arg[0] != '-' && arg[0] != '+') {
		int64_t target = mul_sat(n, unit);
		*sample = target < 0 ? 0 : static_cast<uint64_t>(target);
		*elapsed = seconds ? static_cast<float>(n) : sample_seconds(*sample, s.format.rate);
		return 1;
	}
	// In samples, from the position "@F" reports: seconds summed as floats
	// drift from it on long streams.
	const int64_t step = mul_sat(n, unit);
	if (n > 0) {
		// Forward only up to the stated end; without one, never.
		const uint64_t left = s.total_samples > s.current_sample ? s.total_samples - s.current_sample : 0;
		if (left == 0 || static_cast<uint64_t>(step) > left)
			return 0;
	}
	// Going back past the start is the start.
	const int64_t target = std::max<int64_t>(add_sat(current, step), 0);
	*sample = static_cast<uint64_t>(target);
	*elapsed = sample_seconds(*sample, s.format.rate);
	return 1;
}

static int cmd_jump(const char *, const char *arg)
{
	if (!arg || file_info.is_playing == 0)
		return 0;
	uint64_t target;
	float elapsed;
	if (jump_target(file_info, arg, remote_config.mpeg_frames, &target, &elapsed))
		request_apply({act_seek_sample, static_cast<int64_t>(std::min<uint64_t>(target, INT64_MAX)), 0});
	return 0;
}

static int cmd_stop(const char *, const char *)
{
	// A damaged stream's line comes before its end.
	if (file_info.is_loaded == 1) {
		stream_close();
		event("@P 0\n");
	}
	return 0;
}

static int cmd_volume(const char *, const char *arg)
{
	if (!arg)
		return 0;
	double v = atof(arg);
	// Beyond the float range a volume is infinite; the C++ standard leaves
	// that narrowing undefined where IEEE arithmetic is not guaranteed.
	if (std::fabs(v) > FLT_MAX)
		v = std::copysign(HUGE_VAL, v);
	request_apply({act_volume_to, 0, static_cast<float>(v)});
	char line[64];  // "%f" of the largest float takes 46 characters
	snprintf(line, sizeof line, "@V %f\n", static_cast<double>(volume));
	event(line);
	return 0;
}

static int cmd_pause(const char *, const char *)
{
	if (file_info.is_loaded != 1)
		return 0;
	request_apply({act_toggle_pause, 0, 0});
	event(file_info.is_playing ? "@P 2\n" : "@P 1\n");
	return 0;
}

static int cmd_quit(const char *, const char *)
{
	if (file_info.is_loaded != 0)
		stream_close();
	return -1;
}

static int cmd_help(const char *, const char *);

static constexpr command commands[] = {
	{"L", "LOAD", cmd_load, 1, " PATH: close the open stream, open the file at PATH and play it"},
	{"J", "JUMP", cmd_jump, 0,
	 " [+|-]N[s]: seek to N seconds (MPEG frames with --mpeg-frames, unless Ns), or N on or back"},
	{"S", "STOP", cmd_stop, 1, ": stop and close the open stream"},
	{"V", "VOLUME", cmd_volume, 0, " N: set the volume factor (1 plays as encoded)"},
	{"P", "PAUSE", cmd_pause, 0, ": pause, or resume"},
	{"Q", "QUIT", cmd_quit, 1, ": close the open stream and end"},
	{"H", "HELP", cmd_help, 0, ": this list (any command in any case)"},
};

// The command list, one "@H" line each between "@H {" and "@H }", as
// mpg123's front ends read it.
static int cmd_help(const char *, const char *)
{
	event("@H {\n");
	for (const command &c : commands)
		event(("@H " + std::string(c.long_word) + "/" + c.short_word + c.help + "\n").c_str());
	event("@H }\n");
	return 0;
}

static const command *find_command(const char *word)
{
	for (const command &c : commands)
		if (strcasecmp(word, c.short_word) == 0 || strcasecmp(word, c.long_word) == 0)
			return &c;
	return nullptr;
}

int command_ends_stream(const char *word)
{
	const command *c = find_command(word);
	return c && c->ends_stream;
}

int remote_execute(const char *word, char *arg)
{
	int result = 0;
	if (const command *match = find_command(word))
		result = match->run(word, arg);
	else
		fprintf(stderr, "@E Unknown command '%s'\n", printable(word).c_str());
	free(arg);
	return result;
}

static int stopping()
{
	return remote_config.stop_requested && remote_config.stop_requested();
}

// A read of the stream gave way to commands that cannot wait for it: they
// run now, in order. A stream whose read gave up cannot go on: if none of
// them closed it, it ends here.
static int run_waiting_commands()
{
	int rc;
	do
		rc = remote_poll();
	while (rc == 0 && remote_has_input() && !stopping());
	// The end of input ends the session too: the front end still hears
	// that the stream is over.
	if (file_info.is_loaded && file_info.stopped == stop_given_up && !stopping()) {
		stream_close();
		event("@P 0\n");
	}
	return rc;
}

void remote_loop()
{
	event("@R WENDROP\n");
	int rc = 0;
	while (rc == 0 && !event_output_failed() && !stopping()) {
		if (file_info.is_playing != 1) {
			// The end of a stream that played out is heard even when no
			// command follows it.
			const int grace = file_info.is_loaded ? -1 : stream_tail_grace_ms();
			if (grace >= 0 && !remote_input_within(grace))
				stream_play_tail();
			rc = remote_wait();
			continue;
		}
		if (file_info.stopped == stop_given_up) {
			rc = run_waiting_commands();
			continue;
		}
		// A decoder that stops on purpose (the output failed, or cannot
		// follow the frames) has said why: the stream ends as at its end.
		// The next link of a chain plays on without one.
		if (stream_ended()) {
			if (!stream_next_link()) {
				stream_report_end();
				stream_close();
				event("@P 0\n");
			}
		} else if (!stream_decode() &&
			   FLAC__stream_decoder_get_state(file_info.decoder) != FLAC__STREAM_DECODER_ABORTED) {
			fputs("error decoding single frame!\n", stderr);
		}
		if (!event_output_failed() && file_info.stopped != stop_given_up)
			rc = remote_poll();
	}
	// Nobody reads the events any more: end as QUIT does, not play on unheard.
	if (event_output_failed())
		cmd_quit(nullptr, nullptr);
}
