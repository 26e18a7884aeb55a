// A private D-Bus session bus for tests, and the clients a desktop uses on
// it: playerctl for the player, busctl for the names.
#pragma once

#include "process.h"

#include <string>
#include <vector>

struct session_bus {
	process daemon;
	/// Environment that puts a client on this bus.
	std::vector<std::string> env;
};

/// Why the bus tests cannot run here (a tool missing); "" when they can.
std::string session_bus_missing();
/// Starts a dbus-daemon of its own and waits for its address. false (with
/// nothing left running) on failure.
bool session_bus_start(session_bus &b);
void session_bus_stop(session_bus &b);
/// The names owned on the bus now.
std::vector<std::string> session_bus_names(const session_bus &b);
/// Starts dbus-monitor on the signals that match and waits until it
/// watches. false on failure.
bool session_bus_monitor(const session_bus &b, process &monitor, const std::string &match);
/// Sends count calls to the player at name all at once (bus_burst) and
/// waits for every answer: "calls=N errors=N seconds=S".
run_result session_bus_burst(const session_bus &b, const std::string &name, int count);
/// Runs `busctl --user ARGS...` on the bus, at the player's object when
/// args begin with a method or property verb.
run_result busctl(const session_bus &b, const std::vector<std::string> &args);
/// Runs `playerctl -p player ARGS...` on the bus; its output and status.
run_result playerctl(const session_bus &b, const std::vector<std::string> &args, const std::string &player = "wendrop");
