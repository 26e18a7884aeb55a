// A test with its own sound server: a private PulseAudio whose null sink
// runs at 44.1 kHz stereo, and the environment that sends the player to it
// (with no latency request of the user's).
#pragma once

#include <gtest/gtest.h>

#include "pulse.h"
#include "testenv.h"

struct LiveTest : testing::Test {
	temp_dir dir;
	pulse_server server;
	std::vector<std::string> env;

	void SetUp() override
	{
		ASSERT_TRUE(pulse_start(server, dir.path, 44100, 2)) << "cannot start PulseAudio";
		env = player_env(dir, "pulse");
		env.insert(env.end(), server.env.begin(), server.env.end());
		env.push_back("PULSE_LATENCY_MSEC=");
	}
	void TearDown() override { pulse_stop(server); }
};
