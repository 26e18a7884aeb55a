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
	const std::vector<std::string> files = {dir.file("a.flac"), dir.file("missing.flac"), dir.file("a.flac")};
	// Each run as the one with --no-mpris; unset: DBUS_SESSION_BUS_ADDRESS
	// taken away.
	auto play = [&](std::vector<std::string> env, bool unset, const char *option = nullptr) {
		std::vector<std::string> argv;
		if (unset)
			argv = {"/usr/bin/env", "-u", "DBUS_SESSION_BUS_ADDRESS", "--"};
		argv.insert(argv.end(), {wendrop_bin(), "-d", "null"});
		if (option)
			argv.push_back(option);
		argv.insert(argv.end(), files.begin(), files.end());
		env.push_back("XDG_RUNTIME_DIR=" + dir.path);  // with no bus in it
		std::vector<std::string> base = player_env(dir);
		env.insert(env.begin(), base.begin(), base.end());
		return run(argv, {}, 30, {.env = env});
	};
	const run_result off = play({}, true, "--no-mpris");
	ASSERT_NE(off.out.find("Playing FLAC stream from a.flac"), std::string::npos) << off.out;
	ASSERT_NE(off.err.find("Error opening"), std::string::npos) << off.err;
	const struct {
		const char *name;
		run_result r;
	} runs[] = {
		{"no address, no bus at the default place", play({}, true)},
		{"an address with nothing there", play({"DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir.file("none")}, false)},
		{"an address that is not one", play({"DBUS_SESSION_BUS_ADDRESS=nonsense"}, false)},
		{"a bus", play(bus.env, false)},
	};
	for (const auto &run : runs) {
		EXPECT_EQ(run.r.status, off.status) << run.name;
		EXPECT_EQ(run.r.out, off.out) << run.name;
		EXPECT_EQ(run.r.err, off.err) << run.name;
	}
	session_bus_stop(bus);
}
