// The desktop's front end without sound: the entry's URL, and a run that
// prints exactly the same bytes with a bus, without one, and with a bus
// that cannot be reached.
#include <gtest/gtest.h>

#include "fixture.h"
#include "mpris/mpris.h"
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
