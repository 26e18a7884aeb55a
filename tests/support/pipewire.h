// A private PipeWire, the sound server of Debian's desktops, for real live
// playback in tests: PipeWire, its session manager (WirePlumber) and its
// pulse server, started in a runtime folder of their own with a session
// bus of their own, and stopped by their process ids. Pulse clients (pactl,
// parec, the player) reach it as they reach a PulseAudio (pulse.h).
#pragma once

#include "pulse.h"
#include "session_bus.h"

struct pipewire_server {
	session_bus bus;
	process daemons[3];  // pipewire, wireplumber, pipewire-pulse
	/// What a pulse client needs: dir and env (its pid is not used).
	pulse_server clients;
};

/// Starts the three in dir as Debian ships them (a graph at 48 kHz, no
/// other rate allowed), with a null sink (pulse_sink) of channels as the
/// default sink, and waits until the session manager has made it so.
/// false (with nothing left running) on failure.
bool pipewire_start(pipewire_server &s, const std::string &dir, unsigned channels);
void pipewire_stop(pipewire_server &s);
/// What the three have logged, each log's name first (what to look at when
/// they did not start).
std::string pipewire_logs(const pipewire_server &s);
/// Sets the graph's rate settings at run time, as pw-metadata does:
/// force_rate (0: none) and the rates it may switch to when nothing plays.
bool pipewire_rates(const pipewire_server &s, unsigned force_rate, const std::string &allowed_rates);
