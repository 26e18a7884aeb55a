// The desktop's front end on a private session bus, seen and steered by
// playerctl, dbus-monitor and busctl as a desktop would, while minute-long
// files play in real time into a private sound server.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "fixture.h"
#include "live.h"
#include "session_bus.h"

namespace {
const std::string player_name = "org.mpris.MediaPlayer2.wendrop";
// playerctl shows an object path quoted.
const std::string metadata_format =
	"{{mpris:trackid}}|{{mpris:length}}|{{xesam:title}}|{{xesam:artist}}|{{xesam:album}}|{{xesam:genre}}|{{xesam:url}}";

// Whether f comes to hold within seconds, asked every 50 ms.
bool eventually(const std::function<bool()> &f, double seconds = 5)
{
	for (const double end = now_seconds() + seconds; now_seconds() < end; usleep(50000))
		if (f())
			return true;
	return f();
}

struct OnTheBus : LiveTest {
	session_bus bus;
	std::vector<std::string> files;
	process p;

	void SetUp() override
	{
		if (std::string missing = session_bus_missing(); !missing.empty())
			GTEST_SKIP() << missing;
		LiveTest::SetUp();
		ASSERT_TRUE(session_bus_start(bus));
		env.insert(env.end(), bus.env.begin(), bus.env.end());
		flac_fixture f;
		f.samples = make_signal(signal_kind::music, 16, 2, 44100 * 60, 44100);
		f.comment_blocks = {{"TITLE=Alpha", "ARTIST=The Ramps", "ALBUM=Tests", "GENRE=Noise"}};
		files = {dir.file("a.flac"), dir.file("b c.flac")};
		ASSERT_TRUE(write_flac(files[0], f));
		f.comment_blocks = {};
		ASSERT_TRUE(write_flac(files[1], f));
	}
	void TearDown() override
	{
		if (p.pid > 0 && p.status < 0) {
			kill(p.pid, SIGKILL);
			process_finish(p, 5);
		}
		session_bus_stop(bus);
		LiveTest::TearDown();
	}
	void start(process &q, bool terminal = false)
	{
		std::vector<std::string> argv = wendrop_args({"-d", "pulse"});
		argv.insert(argv.end(), files.begin(), files.end());
		ASSERT_TRUE(process_start(q, argv, {.env = env, .terminal = terminal}));
	}
	std::string ask(const std::vector<std::string> &args, const std::string &player = "wendrop")
	{
		return playerctl(bus, args, player).out;
	}
	bool says(const std::vector<std::string> &args, const std::string &answer)
	{
		return eventually([&] { return ask(args) == answer + "\n"; });
	}
	bool owned(const std::string &name)
	{
		const std::vector<std::string> names = session_bus_names(bus);
		return std::find(names.begin(), names.end(), name) != names.end();
	}
	double position() { return atof(ask({"position"}).c_str()); }
};
}

TEST_F(OnTheBus, PlayerctlSeesAndSteersThePlayer)
{
	start(p);
	ASSERT_TRUE(says({"status"}, "Playing"));
	EXPECT_EQ(ask({"metadata", "--format", metadata_format}),
		  "'/org/wendrop/track/0'|60000000|Alpha|The Ramps|Tests|Noise|file://" + files[0] + "\n");
	EXPECT_LT(position(), 5);

	ask({"play-pause"});
	ASSERT_TRUE(says({"status"}, "Paused"));
	ask({"play-pause"});
	EXPECT_TRUE(says({"status"}, "Playing"));

	const double before = position();
	ask({"position", "10+"});
	EXPECT_TRUE(eventually([&] { return position() >= before + 10; })) << before;
	EXPECT_LT(position(), before + 12);

	// The gain, clamped as the + key clamps it.
	ask({"volume", "0.5"});
	EXPECT_TRUE(says({"volume"}, "0.500000"));
	ask({"volume", "3"});
	EXPECT_TRUE(says({"volume"}, "2.000000"));

	// Without a title the file's name stands in.
	ask({"next"});
	EXPECT_TRUE(says({"metadata", "--format", metadata_format},
			 "'/org/wendrop/track/1'|60000000|b c.flac||||file://" + dir.path + "/b%20c.flac"));
	ask({"previous"});
	EXPECT_TRUE(says({"metadata", "mpris:trackid"}, "'/org/wendrop/track/0'"));

	// Repeat switched on: past the last entry the list goes round. A single
	// track's repeat is not offered.
	ask({"loop", "Playlist"});
	EXPECT_TRUE(says({"loop"}, "Playlist"));
	EXPECT_NE(playerctl(bus, {"loop", "Track"}).status, 0);
	ask({"next"});
	ASSERT_TRUE(says({"metadata", "mpris:trackid"}, "'/org/wendrop/track/1'"));
	ask({"next"});
	EXPECT_TRUE(says({"metadata", "mpris:trackid"}, "'/org/wendrop/track/0'"));
	EXPECT_EQ(ask({"loop"}), "Playlist\n");

	ask({"stop"});
	EXPECT_EQ(process_finish(p, 5), 0);
	EXPECT_FALSE(owned(player_name));
}

// The name comes at start, before the first device opens (here, a sound
// server that does not answer yet). Signals follow the keys (a seek, n); a
// second player takes a name of its own; neither q nor SIGTERM leaves a
// name behind.
TEST_F(OnTheBus, SignalsFollowKeysAndNoNameOutlivesItsPlayer)
{
	ASSERT_EQ(kill(server.pid, SIGSTOP), 0);
	const double started = now_seconds();
	start(p, true);
	ASSERT_TRUE(eventually([&] { return owned(player_name); }, 2));
	// busctl itself takes some of it.
	EXPECT_LT(now_seconds() - started, 0.5);
	ASSERT_EQ(kill(server.pid, SIGCONT), 0);
	process second, monitor;
	start(second);
	const std::string instance = "wendrop.instance" + std::to_string(second.pid);
	EXPECT_TRUE(eventually([&] { return owned("org.mpris.MediaPlayer2." + instance); }));
	ASSERT_TRUE(session_bus_monitor(bus, monitor, "type='signal',sender='" + player_name + "'"));

	process_send(p, "\x1b[C");
	long long seeked_to = -1;
	EXPECT_TRUE(process_wait_until(monitor, [&](const process &m) {
		const std::size_t at = m.out_text.find("member=Seeked");
		return at != std::string::npos && sscanf(m.out_text.c_str() + at, "%*[^\n]\n int64 %lld", &seeked_to) == 1;
	}, 5)) << monitor.out_text;
	EXPECT_GE(seeked_to, 10000000);
	EXPECT_LT(seeked_to, 15000000);
	process_send(p, "n");
	EXPECT_TRUE(process_wait_stdout(monitor, "\"/org/wendrop/track/1\"", 5)) << monitor.out_text;

	process_send(p, "q");
	EXPECT_EQ(process_finish(p, 5), 0);
	EXPECT_FALSE(owned(player_name));
	EXPECT_EQ(ask({"status"}, instance), "Playing\n");
	kill(second.pid, SIGTERM);
	EXPECT_EQ(process_finish(second, 5), 128 + SIGTERM);
	EXPECT_FALSE(owned("org.mpris.MediaPlayer2." + instance));
	kill(monitor.pid, SIGTERM);
	process_finish(monitor, 5);
}

