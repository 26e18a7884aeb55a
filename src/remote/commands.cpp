// The remote loop and the command set.
#include "remote/remote.h"
#include "playback/stream.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {
struct command {
	const char *short_word;
	const char *long_word;
	int (*run)(const char *word, const char *arg);
};
}

// Event lines go through write_event, which notes a reader that has gone.
static void event(const char *line)
{
	write_event(line, strlen(line));
}

static int cmd_load(const char *word, const char *arg)
{
	if (!arg) {
		fprintf(stderr, "@E Missing argument to '%s'\n", word);
		return 0;
	}
	if (file_info.is_loaded == 1)
		stream_close();
	// Standard input carries the commands: "-" is never a stream here.
	if (strcmp(arg, "-") == 0 || !stream_open(arg))
		fprintf(stderr, "@E Error opening %s\n", arg);
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

int jump_target(const stream_record &s, const char *arg, uint64_t *sample, float *elapsed)
{
	// strtol is atol with a defined result for out-of-range numbers.
	const int64_t n = strtol(arg, nullptr, 10);
	const int64_t rate = s.format.rate;
	const int64_t current = s.current_sample > INT64_MAX ? INT64_MAX : static_cast<int64_t>(s.current_sample);

	if (arg[0] != '-' && arg[0] != '+') {
		int64_t target = mul_sat(n, rate);
		*sample = target < 0 ? 0 : static_cast<uint64_t>(target);
		*elapsed = static_cast<float>(n);
		return 1;
	}
	// In samples, from the position "@F" reports: seconds summed as floats
	// drift from it on long streams.
	const int64_t step = mul_sat(n, rate);
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
	if (!jump_target(file_info, arg, &target, &elapsed))
		return 0;

	const uint64_t was_sample = file_info.current_sample;
	const float was_elapsed = file_info.elapsed_time;
	file_info.current_sample = target;
	file_info.elapsed_time = elapsed;
	// The frame the seek lands in reports where playback went on.
	file_info.frames_to_progress = 0;
	if (FLAC__stream_decoder_seek_absolute(file_info.decoder, target))
		return 0;

	// The decoder never got there: keep the position it has, and if the
	// failed seek left it unable to decode, bring it back to that position.
	file_info.current_sample = was_sample;
	file_info.elapsed_time = was_elapsed;
	if (FLAC__stream_decoder_get_state(file_info.decoder) == FLAC__STREAM_DECODER_SEEK_ERROR) {
		FLAC__stream_decoder_flush(file_info.decoder);
		if (!FLAC__stream_decoder_seek_absolute(file_info.decoder, was_sample))
			FLAC__stream_decoder_flush(file_info.decoder);
	}
	return 0;
}

static int cmd_stop(const char *, const char *)
{
	if (file_info.is_loaded == 1) {
		event("@P 0\n");
		stream_close();
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
	volume = static_cast<float>(v);
	char line[64];  // "%f" of the largest float takes 46 characters
	snprintf(line, sizeof line, "@V %f\n", static_cast<double>(volume));
	event(line);
	return 0;
}

static int cmd_pause(const char *, const char *)
{
	if (file_info.is_loaded != 1)
		return 0;
	if (file_info.is_playing == 1) {
		file_info.is_playing = 0;
		event("@P 1\n");
	} else {
		file_info.is_playing = 1;
		event("@P 2\n");
	}
	return 0;
}

static int cmd_quit(const char *, const char *)
{
	if (file_info.is_loaded != 0)
		stream_close();
	return -1;
}

static constexpr command commands[] = {
	{"L", "LOAD", cmd_load},   {"J", "JUMP", cmd_jump},   {"S", "STOP", cmd_stop},
	{"V", "VOLUME", cmd_volume}, {"P", "PAUSE", cmd_pause}, {"Q", "QUIT", cmd_quit},
};

int remote_execute(const char *word, char *arg)
{
	int result = 0;
	const command *match = nullptr;
	for (const command &c : commands)
		if (strcasecmp(word, c.short_word) == 0 || strcasecmp(word, c.long_word) == 0) {
			match = &c;
			break;
		}
	if (match)
		result = match->run(word, arg);
	else
		fprintf(stderr, "@E Unknown command '%s'\n", word);
	free(arg);
	return result;
}

void remote_loop()
{
	event("@R WENDROP\n");
	int rc = 0;
	while (rc == 0 && !event_output_failed()) {
		if (file_info.is_playing != 1) {
			rc = remote_wait();
			continue;
		}
		// The write handler aborts the decoder only when the output failed,
		// which it has reported: the stream ends as at its end.
		FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(file_info.decoder);
		if (state == FLAC__STREAM_DECODER_END_OF_STREAM || state == FLAC__STREAM_DECODER_ABORTED) {
			stream_close();
			event("@P 0\n");
		} else if (!FLAC__stream_decoder_process_single(file_info.decoder) &&
			   FLAC__stream_decoder_get_state(file_info.decoder) != FLAC__STREAM_DECODER_ABORTED) {
			fputs("error decoding single frame!\n", stderr);
		}
		if (!event_output_failed())
			rc = remote_poll();
	}
	// Nobody reads the events any more: end as QUIT does, not play on unheard.
	if (event_output_failed())
		cmd_quit(nullptr, nullptr);
}
