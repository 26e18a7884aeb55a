// The desktop's front end on a private session bus, seen and steered by
// playerctl, dbus-monitor and busctl as a desktop would, while minute-long
// files play in real time into a private sound server.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <cstring>
#include <thread>

#include "fixture.h"
#include "live.h"
#include "session_bus.h"

namespace {
const std::string player_name = "org.mpris.MediaPlayer2.wendrop";
// playerctl shows an object path quoted, and a list's items joined by ", ".
const std::string metadata_format =
	"{{mpris:trackid}}|{{mpris:length}}|{{xesam:title}}|{{xesam:artist}}|{{xesam:album}}|{{xesam:genre}}|{{xesam:url}}";
const std::string more_format =
	"{{xesam:albumArtist}}|{{xesam:trackNumber}}|{{xesam:contentCreated}}|{{mpris:artUrl}}";
// A name and a title longer than the announcement shows, and a
// noncharacter (U+FFFE, U+FDD0), which sd-bus refuses: the desktop is
// sent U+FFFD instead.
const std::string long_title = "Alpha, a title longer than thirty characters";
const std::string noncharacter = "\xef\xbf\xbe", nonchar_name = "\xef\xb7\x90", replaced = "\xef\xbf\xbd";

// A PICTURE block of the given type (3: the front cover).
raw_block picture(uint32_t type, const std::string &mime, const std::vector<unsigned char> &data)
{
	std::vector<unsigned char> b;
	auto u32 = [&](uint32_t v) {
		for (int shift = 24; shift >= 0; shift -= 8)
			b.push_back(static_cast<unsigned char>(v >> shift));
	};
	u32(type);
	u32(static_cast<uint32_t>(mime.size()));
	b.insert(b.end(), mime.begin(), mime.end());
	for (uint32_t v : {0u, 1u, 1u, 24u, 0u, static_cast<uint32_t>(data.size())})
		u32(v);
	b.insert(b.end(), data.begin(), data.end());
	return {6, b};
}

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
	std::vector<unsigned char> cover = {0x89, 'P', 'N', 'G', 0, 1, 2, 3};
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
		f.comment_blocks = {{"TITLE=" + long_title, "ARTIST=The Ramps", "ARTIST=Guest" + noncharacter,
				     "ALBUM=Tests", "GENRE=Noise", "ALBUMARTIST=Various", "TRACKNUMBER=03/12",
				     "DATE=2001-02-03"}};
		f.raw_blocks = {picture(4, "image/png", {'b', 'a', 'c', 'k'}), picture(3, "image/png", cover)};
		files = {dir.file("a.flac"), dir.file("b c" + nonchar_name + ".flac")};
		ASSERT_TRUE(write_flac(files[0], f));
		f.comment_blocks = {};
		f.raw_blocks = {};
		ASSERT_TRUE(write_flac(files[1], f));
		ASSERT_TRUE(write_file(dir.file("Folder.jpg"), {'j', 'p', 'g'}));
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
	std::string property(const std::string &name)
	{
		return busctl(bus, {"get-property", player_name, "/org/mpris/MediaPlayer2", name == "SupportedUriSchemes"
										       ? "org.mpris.MediaPlayer2"
										       : "org.mpris.MediaPlayer2.Player",
				    name})
			.out;
	}
	bool tells(const std::string &name, const std::string &answer)
	{
		return eventually([&] { return property(name) == answer + "\n"; });
	}
};
}

TEST_F(OnTheBus, PlayerctlSeesAndSteersThePlayer)
{
	start(p);
	ASSERT_TRUE(says({"status"}, "Playing"));
	// Whole texts, every artist, valid for the bus.
	EXPECT_EQ(ask({"metadata", "--format", metadata_format}),
		  "'/org/wendrop/track/0'|60000000|" + long_title + "|The Ramps, Guest" + replaced +
			  "|Tests|Noise|file://" + files[0] + "\n");
	// The front cover (not the back one), written to a file of its own.
	const std::string more = ask({"metadata", "--format", more_format});
	const std::string art_prefix = "Various|3|2001-02-03|file://" + dir.path + "/";
	ASSERT_EQ(more.substr(0, art_prefix.size()), art_prefix) << more;
	const std::string art = more.substr(strlen("Various|3|2001-02-03|file://"), more.size() - 29);
	EXPECT_EQ(read_file(art), cover) << art;
	EXPECT_LT(position(), 5);
	EXPECT_EQ(property("SupportedUriSchemes"), "as 3 \"file\" \"http\" \"https\"\n");
	EXPECT_EQ(property("CanGoNext"), "b true\n");

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

	// Paused, the next entry opens paused. Without a title the file's name
	// stands in; a picture beside it is its cover. The last entry has none
	// after it.
	ask({"pause"});
	ASSERT_TRUE(says({"status"}, "Paused"));
	ask({"next"});
	EXPECT_TRUE(says({"metadata", "--format", metadata_format},
			 "'/org/wendrop/track/1'|60000000|b c" + replaced + ".flac||||file://" + dir.path +
				 "/b%20c%EF%B7%90.flac"));
	EXPECT_EQ(ask({"status"}), "Paused\n");
	EXPECT_EQ(ask({"metadata", "mpris:artUrl"}), "file://" + dir.path + "/Folder.jpg\n");
	EXPECT_TRUE(tells("CanGoNext", "b false"));
	ask({"previous"});
	EXPECT_TRUE(says({"metadata", "mpris:trackid"}, "'/org/wendrop/track/0'"));
	EXPECT_EQ(ask({"status"}), "Paused\n");
	ask({"play"});

	// Repeat switched on: past the last entry the list goes round. A single
	// track's repeat is not offered.
	ask({"loop", "Playlist"});
	EXPECT_TRUE(says({"loop"}, "Playlist"));
	EXPECT_NE(playerctl(bus, {"loop", "Track"}).status, 0);
	ask({"next"});
	ASSERT_TRUE(says({"metadata", "mpris:trackid"}, "'/org/wendrop/track/1'"));
	EXPECT_EQ(property("CanGoNext"), "b true\n");
	ask({"next"});
	EXPECT_TRUE(says({"metadata", "mpris:trackid"}, "'/org/wendrop/track/0'"));
	EXPECT_EQ(ask({"loop"}), "Playlist\n");

	// Two seeks as far as the interface goes add up without wrapping: past
	// the end, to the next entry.
	std::thread seeks[2];
	for (std::thread &t : seeks)
		t = std::thread([&] {
			busctl(bus, {"call", player_name, "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2.Player", "Seek",
				     "x", "9223372036854775807"});
		});
	for (std::thread &t : seeks)
		t.join();
	EXPECT_TRUE(says({"metadata", "mpris:trackid"}, "'/org/wendrop/track/1'"));

	// Shuffle is the desktop's to switch; a file:// URI plays at once, the
	// list going on after it.
	ask({"shuffle", "On"});
	EXPECT_TRUE(says({"shuffle"}, "On"));
	ask({"shuffle", "Off"});
	EXPECT_TRUE(says({"shuffle"}, "Off"));
	ask({"open", "file://" + dir.path + "/a.flac"});
	EXPECT_TRUE(says({"metadata", "--format", "{{mpris:trackid}}|{{xesam:title}}"},
			 "'/org/wendrop/track/2'|" + long_title));
	EXPECT_NE(playerctl(bus, {"open", "ftp://host/a.flac"}).status, 0);

	ask({"stop"});
	EXPECT_EQ(process_finish(p, 5), 0);
	EXPECT_FALSE(owned(player_name));
	// The cover's file goes with the run.
	struct stat st;
	EXPECT_NE(stat(art.c_str(), &st), 0);
}

// A burst of calls from one client is served at the bus's pace: all of them
// answered, another client answered meanwhile, the sound going on. An entry
// awaited (a FIFO without a writer) is shown as it is taken up.
TEST_F(OnTheBus, ABurstIsServedAndAnAwaitedEntryIsShown)
{
	const std::string fifo = dir.file("fifo.flac");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	files.push_back(fifo);
	start(p);
	ASSERT_TRUE(says({"status"}, "Playing"));
	const double before = position(), started = now_seconds();
	run_result burst;
	std::thread flood([&] { burst = session_bus_burst(bus, player_name, 10000); });
	usleep(200000);
	const double asked = now_seconds();
	EXPECT_EQ(ask({"status"}), "Playing\n");
	const double answered_in = now_seconds() - asked;
	flood.join();
	const double took = now_seconds() - started;
	EXPECT_EQ(burst.out.substr(0, 22), "calls=10000 errors=0 s") << burst.out << burst.err;
	// Generous bounds: a loaded machine is slower; the benchmark measures.
	EXPECT_LT(took, 20) << burst.out;
	EXPECT_LT(answered_in, 5) << burst.out;
	EXPECT_GT(position(), before + took - 2) << "the sound stopped for the bus";

	process monitor;
	ASSERT_TRUE(session_bus_monitor(bus, monitor, "type='signal',member='PropertiesChanged'"));
	ask({"next"});
	ask({"next"});
	EXPECT_TRUE(process_wait_until(monitor, [](const process &m) {
		return m.out_text.find("/org/wendrop/track/2") != std::string::npos &&
		       m.out_text.find("string \"Stopped\"") != std::string::npos;
	}, 5)) << monitor.out_text;
	EXPECT_TRUE(says({"metadata", "xesam:title"}, "fifo.flac"));
	EXPECT_EQ(ask({"status"}), "Stopped\n");
	kill(monitor.pid, SIGTERM);
	process_finish(monitor, 5);
	ask({"stop"});
	EXPECT_EQ(process_finish(p, 5), 0);
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

