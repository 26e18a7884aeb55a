// A private PulseAudio server with a null sink, for real live playback in
// tests: started in its own runtime folder, stopped by its process id.
#pragma once

#include "process.h"

#include <map>
#include <string>
#include <vector>

inline constexpr const char *pulse_sink = "wendrop_test_sink";

struct pulse_server {
	pid_t pid = -1;
	std::string dir;
	/// Environment that points a client at this server.
	std::vector<std::string> env;
};

/// Runs `pactl ARGS...` as a client of the server; true when it succeeds,
/// with its output in *out when given.
bool pactl(const pulse_server &s, const std::vector<std::string> &args, std::string *out = nullptr);

/// Starts a server in dir whose null sink runs at rate and channels, and
/// waits until it answers. false (with the server stopped) on failure.
bool pulse_start(pulse_server &s, const std::string &dir, unsigned rate, unsigned channels);
void pulse_stop(pulse_server &s);

/// Starts parec on the sink's monitor (raw samples of format at rate and
/// channels, into a file, so that it never waits for a reader; with a
/// latency of 20 ms, so that the server hands them over as they come) and
/// waits until the server lists it as recording.
bool pulse_record_start(const pulse_server &s, process &rec, unsigned rate, unsigned channels,
			const std::string &format = "s16le");
/// Stops a recording and gives what it captured.
std::vector<unsigned char> pulse_record_stop(const pulse_server &s, process &rec);

/// Starts `pactl subscribe` and waits until it is listening.
bool pulse_subscribe_start(const pulse_server &s, process &sub);
/// Counts the sink inputs created so far in a subscription's output.
int pulse_new_sink_inputs(const process &sub);

/// The properties of the first sink input, as `pactl list sink-inputs`
/// shows them ("Buffer Latency" gives "14988 usec"), once one exists and
/// its latency is known (the server shows 0 before); otherwise, after
/// seconds, what was listed last (empty when nothing was).
std::map<std::string, std::string> pulse_sink_input(const pulse_server &s, double seconds);
