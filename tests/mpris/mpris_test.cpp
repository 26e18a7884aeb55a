// The desktop's front end without sound: the entry's URL, the text the bus
// takes, a run that prints exactly the same bytes with a bus, without one,
// and with a bus that cannot be reached, and a conversion that stays off
// the bus.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "fixture.h"
#include "mpris/mpris.h"
#include "playback/printable.h"
#include "process.h"
#include "session_bus.h"
#include "testenv.h"

TEST(FileUrl, PercentEncodesEveryByteButTheUnreservedOnesAndSlashes)
{
	const struct {
		const char *path, *cwd, *url;
	} rows[] = {
		{"/home/a/Music/a b.flac", "/elsewhere", "file:///home/a/Music/a%20b.flac"},
		{"a.flac", "/home/a", "file:///home/a/a.flac"},
		{"x/\xc3\xa9#?%+.flac", "/", "file:///x/%C3%A9%23%3F%25%2B.flac"},
		{"\xff~_-.flac", "/m/", "file:///m/%FF~_-.flac"},
	};
	for (const auto &row : rows)
		EXPECT_EQ(mpris_file_url(row.path, row.cwd), row.url) << row.path;
}

// What sd-bus refuses (bytes that are not UTF-8, NUL, noncharacters)
// becomes U+FFFD; everything else, controls included, stays.
TEST(FileUrl, TextForTheBusIsWholeAndValid)
{
	const std::string r = "\xef\xbf\xbd";
	const struct {
		std::string text, sent;
	} rows[] = {
		{"A title longer than thirty characters, \xc3\xa9t\xc3\xa9", "A title longer than thirty characters, \xc3\xa9t\xc3\xa9"},
		{"a\xef\xbf\xbe" "b\xef\xbf\xbf" "c\xef\xb7\x90" "d\xef\xb7\xaf" "e\xf0\x9f\xbf\xbe", "a" + r + "b" + r + "c" + r + "d" + r + "e" + r},
		{"\xef\xb7\x8f\xef\xb7\xb0\xef\xbf\xbd", "\xef\xb7\x8f\xef\xb7\xb0\xef\xbf\xbd"},
		{std::string("x\0y\xff\xc3\t", 6), "x" + r + "y" + r + r + "\t"},
		{"\xed\xa0\x80", r + r + r},
	};
	for (const auto &row : rows)
		EXPECT_EQ(unicode_text(row.text), row.sent) << row.text;
}

TEST(NoBus, PrintsTheSameBytesAsWithoutMpris)
{
	if (std::string missing = session_bus_missing(); !missing.empty())
		GTEST_SKIP() << missing;
	temp_dir dir;
	flac_fixture f;
	f.samples = make_signal(signal_kind::ramp, 16, 2, 4410, 44100);
	f.comment_blocks = {{"TITLE=One", "ARTIST=Some One"}};
	ASSERT_TRUE(write_flac(dir.file("a.flac"), f));
	session_bus bus;
	ASSERT_TRUE(session_bus_start(bus));
	// With no bus at the default place; "unset": DBUS_SESSION_BUS_ADDRESS
	// taken away.
	auto play = [&](const std::string &address, bool on) {
		std::vector<std::string> argv = {"/usr/bin/env", "-u", "DBUS_SESSION_BUS_ADDRESS", wendrop_bin(), "-d", "null"};
		if (!on)
			argv.push_back("--no-mpris");
		argv.insert(argv.end(), {dir.file("a.flac"), dir.file("missing.flac")});
		std::vector<std::string> env = player_env(dir);
		env.push_back("XDG_RUNTIME_DIR=" + dir.path);
		if (address != "unset")
			env.push_back("DBUS_SESSION_BUS_ADDRESS=" + address), argv.erase(argv.begin(), argv.begin() + 3);
		return run(argv, {}, 30, {.env = env});
	};
	const run_result off = play("unset", false);
	ASSERT_NE(off.out.find("Playing FLAC stream from a.flac"), std::string::npos) << off.out;
	ASSERT_EQ(off.err, "Error opening " + dir.file("missing.flac") + " (no such file)\n");
	const std::string bus_address = bus.env[0].substr(bus.env[0].find('=') + 1);
	const std::string addresses[] = {"unset", "unix:path=" + dir.file("none"), "nonsense", bus_address};
	for (const std::string &address : addresses) {
		const run_result r = play(address, true);
		EXPECT_EQ(r.status, off.status) << address;
		EXPECT_EQ(r.out, off.out) << address;
		EXPECT_EQ(r.err, off.err) << address;
	}
	session_bus_stop(bus);
}

// A conversion is no media player: with a WAV output, a named file or
// standard output, wendrop stays off the bus, so that no media key meant
// for a player halts it. A live player started after it takes the plain
// name, which it would have taken first.
TEST(NoBus, AConversionStaysOffTheBus)
{
	if (std::string missing = session_bus_missing(); !missing.empty())
		GTEST_SKIP() << missing;
	temp_dir dir;
	const std::string fifo = dir.file("fifo.flac");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	session_bus bus;
	ASSERT_TRUE(session_bus_start(bus));
	std::vector<std::string> env = player_env(dir);
	env.insert(env.end(), bus.env.begin(), bus.env.end());
	process to_file, to_stdout, live;
	ASSERT_TRUE(process_start(to_file, wendrop_args({"-q", "-w", dir.file("out.wav"), fifo}), {.env = env}));
	ASSERT_TRUE(process_start(to_stdout, wendrop_args({"-q", "--wav=-", fifo}), {.env = env}));
	usleep(300000);
	ASSERT_TRUE(process_start(live, wendrop_args({"-q", "-d", "null", fifo}), {.env = env}));
	std::vector<std::string> names;
	for (double end = now_seconds() + 10; now_seconds() < end; usleep(50000)) {
		names = session_bus_names(bus);
		if (std::find(names.begin(), names.end(), "org.mpris.MediaPlayer2.wendrop") != names.end())
			break;
	}
	EXPECT_NE(std::find(names.begin(), names.end(), "org.mpris.MediaPlayer2.wendrop"), names.end());
	for (const std::string &name : names)
		EXPECT_EQ(name.find("instance"), std::string::npos) << name;
	for (process *p : {&to_file, &to_stdout, &live}) {
		kill(p->pid, SIGTERM);
		EXPECT_EQ(process_finish(*p, 5), 128 + SIGTERM);
	}
	session_bus_stop(bus);
}
