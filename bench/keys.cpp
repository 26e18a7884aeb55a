// How the keys answer at a pseudo-terminal, and what a paused player left in
// the background costs:
//   1. key to effect: "p" sent, until the status line says "paused" (and
//      back), ROUNDS times; the median and the slowest;
//   2. a burst of 200 volume keys, then "q": until the player has exited;
//   3. paused, sent to the background (Ctrl-Z, then bg from a job-control
//      shell): its CPU seconds over 10 s;
//   4. with --walk LIST: paused at the terminal while the walk of LIST (a
//      list that does not end soon) goes on: its CPU seconds over 10 s.
//
//   bench_keys [--walk LIST] ROUNDS BASH WENDROP ARGS...
//
// The player runs with ARGS (a long file on a live driver, for instance).
// Prints: key_median_ms=N key_max_ms=N burst_exit_ms=N paused_background_cpu_s=N
// [paused_walk_cpu_s=N]
#include <dirent.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

static double now()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct session {
	pid_t pid = -1;
	int master = -1;
	std::string screen;
};

static bool start(session &s, std::vector<std::string> argv)
{
	std::vector<char *> args;
	for (std::string &a : argv)
		args.push_back(a.data());
	args.push_back(nullptr);
	s.pid = forkpty(&s.master, nullptr, nullptr, nullptr);
	if (s.pid == 0) {
		execvp(args[0], args.data());
		_exit(127);
	}
	return s.pid > 0;
}

// Reads the screen until it holds needle after from, or seconds pass.
static bool wait_for(session &s, const std::string &needle, std::size_t from, double seconds)
{
	for (double end = now() + seconds; now() < end;) {
		if (s.screen.find(needle, from) != std::string::npos)
			return true;
		pollfd p = {s.master, POLLIN, 0};
		if (poll(&p, 1, 10) > 0) {
			char buf[4096];
			ssize_t n = read(s.master, buf, sizeof buf);
			if (n <= 0)
				return false;
			s.screen.append(buf, static_cast<std::size_t>(n));
		}
	}
	return false;
}

static void send(session &s, const std::string &text)
{
	(void)!write(s.master, text.data(), text.size());
}

// Seconds until the process ends, reading its screen meanwhile.
static double until_exit(session &s, double seconds)
{
	const double start = now();
	while (now() - start < seconds) {
		int status;
		if (waitpid(s.pid, &status, WNOHANG) == s.pid)
			return now() - start;
		wait_for(s, "\x01", s.screen.size(), 0.005);
	}
	kill(s.pid, SIGKILL);
	waitpid(s.pid, nullptr, 0);
	return -1;
}

// Seconds on a CPU, to the nanosecond, of all of the process's threads.
static double cpu_seconds(pid_t pid)
{
	const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
	double total = 0;
	if (DIR *dir = opendir(tasks.c_str())) {
		while (const dirent *e = readdir(dir)) {
			std::ifstream stat(tasks + "/" + e->d_name + "/schedstat");
			double ns = 0;
			if (stat >> ns)
				total += ns / 1e9;
		}
		closedir(dir);
	}
	return total;
}

// The CPU seconds over 10 s of the player, paused at the terminal as soon
// as it plays.
static double paused_cpu(const std::vector<std::string> &player)
{
	session s;
	if (!start(s, player) || !wait_for(s, "\r[", 0, 20))
		return -1;
	send(s, "p");
	wait_for(s, "paused", 0, 5);
	usleep(500000);
	const double before = cpu_seconds(s.pid);
	sleep(10);
	const double cpu = cpu_seconds(s.pid) - before;
	send(s, "q");
	until_exit(s, 5);
	return cpu;
}

int main(int argc, char **argv)
{
	std::string walk;
	if (argc > 2 && strcmp(argv[1], "--walk") == 0) {
		walk = argv[2];
		argc -= 2;
		argv += 2;
	}
	if (argc < 4) {
		fputs("usage: bench_keys [--walk LIST] ROUNDS BASH WENDROP ARGS...\n", stderr);
		return 2;
	}
	const int rounds = std::max(1, atoi(argv[1]));
	const std::string bash = argv[2];
	std::vector<std::string> player(argv + 3, argv + argc);

	// 1 and 2: the player alone at a terminal.
	session s;
	if (!start(s, player) || !wait_for(s, "\r[", 0, 20))
		return 1;
	std::vector<double> delays;
	for (int i = 0; i < 2 * rounds; i++) {
		const std::size_t from = s.screen.size();
		const double sent = now();
		send(s, "p");
		// Paused, then resumed: the first status line drawn after the key.
		const bool paused = i % 2 == 0;
		if (!wait_for(s, paused ? "paused" : ")\x1b[K", from, 5))
			return 1;
		delays.push_back((now() - sent) * 1000);
		usleep(200000);
	}
	std::string burst;
	for (int i = 0; i < 100; i++)
		burst += "+-";
	send(s, burst + "q");
	const double burst_exit = until_exit(s, 10);

	// 3: paused, stopped and continued in the background by a shell.
	std::vector<std::string> job = {bash, "-mc", "\"$@\"; bg %1 >/dev/null; sleep 30", "bash"};
	job.insert(job.end(), player.begin(), player.end());
	session j;
	if (!start(j, job) || !wait_for(j, "\r[", 0, 20))
		return 1;
	send(j, "p");
	wait_for(j, "paused", 0, 5);
	send(j, "\x1a");
	wait_for(j, "Stopped", 0, 5);
	usleep(500000);
	pid_t child = -1;
	std::ifstream("/proc/" + std::to_string(j.pid) + "/task/" + std::to_string(j.pid) + "/children") >> child;
	const double before = cpu_seconds(child);
	sleep(10);
	const double background_cpu = cpu_seconds(child) - before;
	kill(child, SIGTERM);
	kill(j.pid, SIGTERM);
	until_exit(j, 5);

	// 4: paused while the walk goes on.
	std::string walk_cpu;
	if (!walk.empty()) {
		std::vector<std::string> walking = player;
		walking.push_back(walk);
		walk_cpu = " paused_walk_cpu_s=" + std::to_string(paused_cpu(walking));
	}

	std::sort(delays.begin(), delays.end());
	printf("key_median_ms=%.1f key_max_ms=%.1f burst_exit_ms=%.1f paused_background_cpu_s=%.3f%s\n",
	       delays[delays.size() / 2], delays.back(), burst_exit * 1000, background_cpu, walk_cpu.c_str());
	return 0;
}
