// Keys and the status line at a real pseudo-terminal, playing two minute
// long files into a private sound server in real time.
#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fixture.h"
#include "live.h"
#include "process.h"
#include "wav.h"

namespace {
// Whether the terminal is as a new one: line mode and echo given back.
bool untouched(const termios &t)
{
	int master, slave;
	termios fresh = {};
	if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || tcgetattr(master, &fresh) != 0)
		return false;
	close(master);
	close(slave);
	return t.c_iflag == fresh.c_iflag && t.c_oflag == fresh.c_oflag && t.c_lflag == fresh.c_lflag &&
	       memcmp(t.c_cc, fresh.c_cc, sizeof t.c_cc) == 0;
}

// The position the last status line shows, in seconds; -1 for none.
int last_position(const std::string &screen)
{
	std::size_t at = screen.rfind("\r[");
	unsigned index, count, minutes, seconds;
	if (at == std::string::npos || sscanf(screen.c_str() + at, "\r[%u/%u] %u:%u", &index, &count, &minutes, &seconds) != 4)
		return -1;
	return static_cast<int>(minutes * 60 + seconds);
}

// The first child of a process (a shell's job), or -1.
pid_t child_of(pid_t parent)
{
	std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
	pid_t child = -1;
	children >> child;
	return child;
}

// A process's state as /proc shows it: R running, S asleep, T stopped.
char state_of(pid_t pid)
{
	std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
	std::string fields[3];
	stat >> fields[0] >> fields[1] >> fields[2];
	return fields[2].empty() ? '?' : fields[2][0];
}

// The CPU seconds a process has used so far.
double cpu_seconds(pid_t pid)
{
	std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
	std::string field;
	unsigned long long ticks = 0;
	// Past the name in parentheses, utime and stime are the 12th and 13th.
	std::getline(stat, field, ')');
	for (int i = 1; i <= 13 && stat >> field; i++)
		if (i >= 12)
			ticks += std::stoull(field);
	return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Whether a process stays asleep at ten looks over a second: one that
// spins is seen running.
bool sleeps(pid_t pid)
{
	for (int i = 0; i < 10; i++, usleep(100000))
		if (state_of(pid) != 'S')
			return false;
	return true;
}

struct AtTheTerminal : LiveTest {
	std::vector<std::string> args;
	process p;

	void SetUp() override
	{
		LiveTest::SetUp();
		args = wendrop_args({"-d", "pulse"});
		for (const char *name : {"a.flac", "b.flac"}) {
			flac_fixture f;
			f.samples = make_signal(signal_kind::music, 16, 2, 44100 * 60, 44100, static_cast<uint32_t>(args.size()));
			args.push_back(dir.file(name));
			ASSERT_TRUE(write_flac(args.back(), f));
		}
	}
	void start(const std::vector<std::string> &argv)
	{
		ASSERT_TRUE(process_start(p, argv, {.env = env, .terminal = true}));
	}
	bool shows(const std::string &text, double seconds) { return process_wait_stdout(p, text, seconds); }
	bool position_becomes(const std::function<bool(int)> &test, double seconds)
	{
		return process_wait_until(p, [&](const process &q) { return test(last_position(q.out_text)); }, seconds);
	}
	void listen(double seconds)
	{
		process_wait_until(p, [](const process &) { return false; }, seconds);
	}
};
}

TEST_F(AtTheTerminal, KeysPauseSeekAndSkipAndQuitGivesTheTerminalBack)
{
	start(args);
	ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 10)) << p.out_text;
	// The keys have the terminal now: no line mode, no echo.
	EXPECT_EQ(terminal_settings(p).c_lflag & (ICANON | ECHO), 0u);

	// Paused, the position stands still; resumed, it moves on.
	process_send(p, " ");
	ASSERT_TRUE(shows("paused", 2));
	const int paused_at = last_position(p.out_text);
	listen(1.5);
	EXPECT_EQ(last_position(p.out_text), paused_at);
	process_send(p, "p");
	EXPECT_TRUE(position_becomes([&](int s) { return s > paused_at; }, 3));

	// Right arrow: 10 s on, at once.
	const int before = last_position(p.out_text);
	process_send(p, "\x1b[C");
	EXPECT_TRUE(position_becomes([&](int s) { return s >= before + 9 && s <= before + 12; }, 2)) << before;

	// The next file, then back to the one before (b is less than 3 s in).
	process_send(p, "n");
	ASSERT_TRUE(shows("Playing FLAC stream from b.flac", 5));
	ASSERT_TRUE(shows("[2/2]", 5));
	process_send(p, "<");
	EXPECT_TRUE(process_wait_until(
		p, [](const process &q) { return q.out_text.rfind("from a.flac") > q.out_text.rfind("from b.flac"); }, 5));

	// Paused, n and < open their entry paused: announced, shown paused, and
	// still.
	const std::size_t resumed = p.out_text.size();
	process_send(p, " ");
	ASSERT_TRUE(process_wait_until(p, [&](const process &q) { return q.out_text.find("paused", resumed) != std::string::npos; }, 2));
	for (const char *key : {"n", "<"}) {
		const std::size_t from = p.out_text.size();
		process_send(p, key);
		ASSERT_TRUE(process_wait_until(p, [&](const process &q) {
			const std::size_t at = q.out_text.find("Playing FLAC stream from", from);
			return at != std::string::npos && q.out_text.find("paused", at) != std::string::npos;
		}, 5)) << key << p.out_text.substr(from);
		listen(1);
		EXPECT_EQ(last_position(p.out_text), 0) << key;
	}
	EXPECT_TRUE(p.out_text.rfind("from a.flac") > p.out_text.rfind("from b.flac"));
	process_send(p, "p");
	ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 5));

	// q ends the run at once, with status 0 and the terminal as it was,
	// whatever burst of keys came before it.
	std::string burst;
	for (int i = 0; i < 60; i++)
		burst += "\x1b[D";
	process_send(p, burst + "q");
	const double asked = now_seconds();
	EXPECT_EQ(process_finish(p, 10), 0);
	EXPECT_LT(now_seconds() - asked, 1.0);
	EXPECT_TRUE(untouched(terminal_settings(p)));
}

// An album in one file: n, a seek past a track's end and < move by track,
// and the status line counts tracks and time from the track's start.
TEST_F(AtTheTerminal, KeysMoveByTrackInAnAlbumOfOneFile)
{
	const std::string cue = dir.file("a.cue");
	const std::string text = "FILE a.wav WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
				 " TRACK 02 AUDIO\n  INDEX 01 00:20:00\n TRACK 03 AUDIO\n  INDEX 01 00:40:00\n";
	ASSERT_TRUE(write_file(cue, {text.begin(), text.end()}));
	const std::string metaflac = std::filesystem::path(flac_tool()).replace_filename("metaflac");
	ASSERT_EQ(run({metaflac, "--import-cuesheet-from=" + cue, args[3]}).status, 0);
	start({args[0], args[1], args[2], args[3]});
	ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 10)) << p.out_text;
	EXPECT_TRUE(shows("[1/3]", 1));
	process_send(p, "n");
	ASSERT_TRUE(shows("Title  : Track 02", 5));
	ASSERT_TRUE(shows("[2/3]  0:0", 5));
	EXPECT_TRUE(shows("/ 0:20 (", 5));
	// 60 s on is past the track's end: the next track.
	process_send(p, "\x1b[A");
	ASSERT_TRUE(shows("[3/3]", 5));
	process_send(p, "<");
	ASSERT_TRUE(process_wait_until(
		p, [](const process &q) { return q.out_text.rfind("[2/3]") > q.out_text.rfind("[3/3]"); }, 5));
	process_send(p, "q");
	EXPECT_EQ(process_finish(p, 5), 0);
}

// Two Ctrl-C within a second, SIGTERM, and any other signal that ends the
// process: the run ends as it always did (by the signal, core and all),
// the terminal has its settings back, and no half status line is left.
TEST_F(AtTheTerminal, InterruptsAndSignalsGiveTheTerminalBack)
{
	for (int sig : {SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGALRM}) {
		std::vector<std::string> job = {"/bin/sh", "-c", "ulimit -c 0; exec \"$@\"", "sh"};
		job.insert(job.end(), args.begin(), args.end());
		start(job);
		ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 10));
		if (sig == SIGINT) {
			// Early in a second, so that both fall into it.
			timespec ts;
			clock_gettime(CLOCK_REALTIME, &ts);
			usleep(static_cast<useconds_t>((1e9 - static_cast<double>(ts.tv_nsec)) / 1000) + 20000);
			process_send(p, "\x03");
			usleep(100000);
			process_send(p, "\x03");
		} else {
			kill(p.pid, sig);
		}
		EXPECT_EQ(process_finish(p, 10), sig == SIGINT ? 0 : 128 + sig);
		EXPECT_TRUE(untouched(terminal_settings(p))) << sig;
		EXPECT_GT(p.out_text.rfind("\r\x1b[K") + 1, p.out_text.rfind("\r[") + 1) << sig;
	}
}

// Paused and sent to the background (Ctrl-Z, bg) it sleeps; back in the
// foreground it takes keys again. Stopped (SIGSTOP) and continued in the
// background, it plays to the end of its list and exits: it never stops
// itself for the terminal.
TEST_F(AtTheTerminal, PausedInTheBackgroundItSleepsAndContinuedThereItEnds)
{
	flac_fixture f;
	f.samples = make_signal(signal_kind::music, 16, 2, 3 * 44100, 44100);
	ASSERT_TRUE(write_flac(dir.file("short.flac"), f));
	std::vector<std::string> job = {BASH_BIN, "-mc",
					"\"$@\"; bg %1 >/dev/null; read -r; fg %1 >/dev/null; bg %1 >/dev/null; wait %1", "bash"};
	job.insert(job.end(), {args[0], args[1], args[2], args[3], dir.file("short.flac")});
	start(job);
	ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 10));
	process_send(p, "p");
	ASSERT_TRUE(shows("paused", 5));
	process_send(p, "\x1a");
	const pid_t player = child_of(p.pid);
	ASSERT_GT(player, 0);
	// Stopped, then continued by bg.
	ASSERT_TRUE(shows("Stopped", 5));
	for (double end = now_seconds() + 5; state_of(player) == 'T' && now_seconds() < end;)
		usleep(10000);
	usleep(300000);
	EXPECT_TRUE(sleeps(player));
	process_send(p, "\n");
	ASSERT_TRUE(process_wait_until(p, [](const process &q) { return (terminal_settings(q).c_lflag & ECHO) == 0; }, 5));
	process_send(p, "n");
	// Skipped to while paused, it opens paused.
	ASSERT_TRUE(process_wait_until(p, [](const process &q) {
		const std::size_t at = q.out_text.find("Playing FLAC stream from short.flac");
		return at != std::string::npos && q.out_text.find("paused", at) != std::string::npos;
	}, 5));
	// Resumed (no key left unread when it is stopped).
	process_send(p, "p");
	ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 5));
	kill(player, SIGSTOP);
	EXPECT_EQ(process_finish(p, 10), 0);
}

// With SIGHUP ignored, a terminal that goes away is given up: the player
// stays paused, asleep, until a signal ends it.
TEST_F(AtTheTerminal, AHungUpTerminalIsGivenUp)
{
	std::vector<std::string> job = {"/bin/sh", "-c", "trap '' HUP; exec \"$@\"", "sh"};
	job.insert(job.end(), args.begin(), args.end());
	start(job);
	ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 10));
	process_send(p, "p");
	ASSERT_TRUE(shows("paused", 2));
	for (int *fd : {&p.in, &p.out, &p.terminal}) {
		close(*fd);
		*fd = -1;
	}
	usleep(300000);
	EXPECT_TRUE(sleeps(p.pid));
	kill(p.pid, SIGTERM);
	EXPECT_EQ(process_finish(p, 5), 128 + SIGTERM);
}

// Keys are heard while a stream is awaited: the terminal is taken at once,
// n gives an awaited stream up, and a pause waits for the stream that
// comes. With a WAV output a skip is not a damaged file (no line), but the
// conversion misses it (status 1); a stream read once does not seek, not
// even past its end.
TEST_F(AtTheTerminal, KeysWhileAStreamIsAwaitedSkipsAndPipes)
{
	flac_fixture f;
	f.samples = make_signal(signal_kind::noise, 16, 2, 3 * 44100, 44100);
	ASSERT_TRUE(write_flac(dir.file("short.flac"), f));
	const std::vector<unsigned char> bytes = read_file(dir.file("short.flac"));
	const std::string idle = dir.file("idle.flac"), fifo = dir.file("fifo.flac"), wav = dir.file("out.wav");
	ASSERT_EQ(mkfifo(idle.c_str(), 0600), 0);
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	for (const std::string keys : {"\x1b[A\x1b[Cp", "n"}) {
		start(wendrop_args({"-w", wav, idle, fifo}));
		ASSERT_TRUE(process_wait_until(p, [](const process &q) { return (terminal_settings(q).c_lflag & ECHO) == 0; }, 5));
		process_send(p, "n");
		const int writer = fifo_writer(fifo, 5);
		ASSERT_GE(writer, 0);
		process_send(p, "p");
		listen(0.3);
		std::thread feed([&] {
			// A skipped stream is not read to its end.
			sigset_t pipe;
			sigemptyset(&pipe);
			sigaddset(&pipe, SIGPIPE);
			pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
			(void)!write(writer, bytes.data(), bytes.size());
			close(writer);
		});
		ASSERT_TRUE(shows("paused", 5));
		process_send(p, keys);
		// The idle stream skipped is missing from the conversion.
		EXPECT_EQ(process_finish(p, 5), 1) << keys;
		feed.join();
		EXPECT_EQ(p.out_text.find("idle.flac"), std::string::npos);
		// Nor is it checked against its MD5 signature, which what was not
		// played cannot match.
		EXPECT_EQ(p.out_text.find("Stream ended early"), std::string::npos) << keys;
		EXPECT_EQ(p.out_text.find("Damaged"), std::string::npos) << keys;
		if (keys != "n") {
			EXPECT_EQ(parse_wav(read_file(wav)).data, pcm_bytes(f.samples, 16));
		}
	}
}

// A stream that stalls mid-way (a pipe that stops giving) is left once:
// n goes to the next entry and plays it, q ends the run without opening
// another, and what was decoded before stays in the WAV file.
TEST_F(AtTheTerminal, AStalledStreamIsLeftOnceAndWhatWasDecodedStays)
{
	flac_fixture f;
	f.samples = make_signal(signal_kind::noise, 16, 2, 10 * 44100, 44100);
	const std::string stalled = dir.file("stalled.flac"), fifo = dir.file("fifo.flac"), wav = dir.file("out.wav");
	ASSERT_TRUE(write_flac(stalled, f));
	flac_fixture g;
	g.samples = make_signal(signal_kind::noise, 16, 2, 44100, 44100, 7);
	ASSERT_TRUE(write_flac(dir.file("short.flac"), g));
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	const std::vector<unsigned char> bytes = read_file(stalled), pcm = pcm_bytes(f.samples, 16);
	for (const std::string key : {"n", "q"}) {
		start(wendrop_args({"-w", wav, fifo, dir.file("short.flac")}));
		const int writer = fifo_writer(fifo, 5);
		ASSERT_GE(writer, 0);
		ASSERT_EQ(write(writer, bytes.data(), 200000), 200000);
		ASSERT_TRUE(shows("Playing FLAC stream from fifo.flac", 5));
		listen(0.5);
		process_send(p, key);
		EXPECT_EQ(process_finish(p, 5), 1) << key;
		close(writer);
		const wav_info out = parse_wav(read_file(wav));
		std::size_t opened = 0;
		for (std::size_t at = 0; (at = p.out_text.find("Playing FLAC stream from", at)) != std::string::npos; at++)
			opened++;
		if (key == "n") {
			EXPECT_EQ(opened, 2u);
			EXPECT_TRUE(out.data == pcm_bytes(g.samples, 16));
		} else {
			EXPECT_EQ(opened, 1u);
			ASSERT_GT(out.data.size(), 100000u);
			EXPECT_TRUE(std::equal(out.data.begin(), out.data.end(), pcm.begin()));
		}
	}
}

// Paused, the walk of a list that will not end (lists each naming the next
// twice, 40 deep) goes on now and then, and the player sleeps between.
TEST_F(AtTheTerminal, APausedWalkSleeps)
{
	for (int i = 0; i < 40; i++) {
		const std::string next = std::to_string(i + 1) + ".m3u\n";
		const std::string twice = next + next;
		ASSERT_TRUE(write_file(dir.file(std::to_string(i) + ".m3u"), {twice.begin(), twice.end()}));
	}
	ASSERT_TRUE(write_file(dir.file("40.m3u"), {'b', '.', 'f', 'l', 'a', 'c', '\n'}));
	start({args[0], args[1], args[2], dir.file("0.m3u")});
	ASSERT_TRUE(shows("[1/?]  0:01", 10));
	process_send(p, "p");
	ASSERT_TRUE(shows("paused", 2));
	const double cpu = cpu_seconds(p.pid);
	listen(2);
	EXPECT_LT(cpu_seconds(p.pid) - cpu, 0.3);
	process_send(p, "q");
	EXPECT_EQ(process_finish(p, 5), 0);
}

// The status line fits a narrow terminal, is drawn without escape
// sequences for TERM=dumb, and is erased before every line, wherever
// standard output goes.
TEST_F(AtTheTerminal, NarrowDumbAndPipedTerminals)
{
	start(args);
	ASSERT_TRUE(position_becomes([](int s) { return s >= 1; }, 10));
	winsize narrow = {24, 20, 0, 0};
	ioctl(p.terminal, TIOCSWINSZ, &narrow);
	listen(0.5);
	const std::size_t end = p.out_text.rfind("\x1b[K"), last = p.out_text.rfind('\r', end);
	EXPECT_EQ(p.out_text.substr(last + 1, end - last - 1).size(), 16u) << p.out_text.substr(last);
	process_send(p, "q");
	EXPECT_EQ(process_finish(p, 5), 0);

	// Without cursor control, and with standard output a pipe: blanks
	// erase the status line before each line that goes to the pipe.
	std::vector<std::string> dumb = env;
	dumb.push_back("TERM=dumb");
	std::vector<std::string> piped = {"/bin/sh", "-c", "\"$@\" | cat", "sh"};
	piped.insert(piped.end(), args.begin(), args.end());
	ASSERT_TRUE(process_start(p, piped, {.env = dumb, .terminal = true}));
	ASSERT_TRUE(process_wait_stdout(p, "\r[1/2]  0:01", 10));
	process_send(p, "n");
	ASSERT_TRUE(shows("Playing FLAC stream from b.flac", 5));
	process_send(p, "q");
	EXPECT_EQ(process_finish(p, 5), 0);
	EXPECT_EQ(p.out_text.find('\x1b'), std::string::npos);
	const std::size_t title = p.out_text.rfind("Title"), drawn = p.out_text.rfind("\r[", title);
	const std::size_t columns = p.out_text.find('\r', drawn + 1) - drawn - 1;
	std::string erased = "\r";
	erased.append(columns, ' ').append("\r");
	EXPECT_EQ(p.out_text.find(erased, drawn), p.out_text.find('\r', drawn + 1));
	EXPECT_LT(p.out_text.find('\r', drawn + 1), title);
}

// Run in the background it never touches the terminal (and so is never
// stopped for it); brought to the foreground, it takes the keys.
TEST_F(AtTheTerminal, InTheBackgroundItLeavesTheTerminalAlone)
{
	// As a shell with job control runs "wendrop ... &", and "fg" 2 s later.
	std::vector<std::string> job = {BASH_BIN, "-mc", "\"$@\" & sleep 2; fg %1", "bash"};
	job.insert(job.end(), args.begin(), args.end());
	start(job);
	ASSERT_TRUE(shows("Playing FLAC stream from a.flac", 10));
	listen(1);
	EXPECT_TRUE(untouched(terminal_settings(p)));
	EXPECT_EQ(p.out_text.find("\r["), std::string::npos) << "a status line drawn from the background";
	ASSERT_TRUE(position_becomes([](int s) { return s >= 0; }, 5));
	process_send(p, "q");
	EXPECT_EQ(process_finish(p, 5), 0);
	EXPECT_TRUE(untouched(terminal_settings(p)));
}
