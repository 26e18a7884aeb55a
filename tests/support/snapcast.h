// A private Snapcast: snapserver with a pipe source on free loopback ports,
// and a snapclient that writes what it plays into a file, as a room's
// speaker would play it.
#pragma once

#include "process.h"

#include <string>
#include <vector>

struct snapcast {
	process server, client;
	std::string fifo;       // the pipe source, made by the server
	std::string recording;  // what the client played: raw PCM of the source's format
};

/// Starts both in dir, the source in format ("44100:16:2"), and waits until
/// the client is connected and in time with the server, so that it plays
/// all the source gets from then on. false (nothing left running) on
/// failure.
bool snapcast_start(snapcast &s, const std::string &dir, const std::string &format);
void snapcast_stop(snapcast &s);
