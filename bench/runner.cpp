// Runs one command and reports what it cost: wall time, user and system CPU
// seconds and peak resident memory (the kernel's figures, as `time -v`
// reports them).
//
//   runner [--load FILE | --pty | --stderr FILE] -- COMMAND [ARGS...]
//
// Without options the command gets /dev/null for input and output. With
// --load it is driven as a remote-mode player: "LOAD FILE" is sent, every
// line it prints is read until the end report "@P 0", then its input is
// closed. With --pty it runs at a pseudo-terminal of its own (input, output
// and standard error), whose output is read and dropped; with --stderr its
// standard error goes to FILE.
//
// Prints: wall=S user=S sys=S maxrss_kb=N status=N progress_lines=N
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

static double now()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Reads the player's output until the end report; counts progress lines.
static long drive(int out)
{
	static char buf[1 << 16];
	std::string tail;
	long lines = 0;
	for (;;) {
		ssize_t n = read(out, buf, sizeof buf);
		if (n <= 0)
			return lines;
		tail.append(buf, static_cast<std::size_t>(n));
		std::size_t start = 0, nl;
		while ((nl = tail.find('\n', start)) != std::string::npos) {
			if (tail.compare(start, 3, "@F ") == 0)
				lines++;
			if (tail.compare(start, nl - start, "@P 0") == 0)
				return lines;
			start = nl + 1;
		}
		tail.erase(0, start);
	}
}

static void report(double start, pid_t pid, long lines)
{
	int status = 0;
	rusage ru{};
	wait4(pid, &status, 0, &ru);
	const double wall = now() - start;
	printf("wall=%.4f user=%.4f sys=%.4f maxrss_kb=%ld status=%d progress_lines=%ld\n", wall,
	       static_cast<double>(ru.ru_utime.tv_sec) + static_cast<double>(ru.ru_utime.tv_usec) / 1e6,
	       static_cast<double>(ru.ru_stime.tv_sec) + static_cast<double>(ru.ru_stime.tv_usec) / 1e6,
	       ru.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), lines);
}

// The command at a pseudo-terminal: everything it shows there is read.
static int at_terminal(char **command)
{
	int master;
	const double start = now();
	pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
	if (pid < 0)
		return 1;
	if (pid == 0) {
		execvp(command[0], command);
		_exit(127);
	}
	static char sink[1 << 16];
	while (read(master, sink, sizeof sink) > 0)
		;
	report(start, pid, 0);
	return 0;
}

int main(int argc, char **argv)
{
	const char *load = nullptr, *err_file = nullptr;
	bool pty = false;
	int i = 1;
	if (i + 1 < argc && strcmp(argv[i], "--load") == 0) {
		load = argv[i + 1];
		i += 2;
	} else if (i + 1 < argc && strcmp(argv[i], "--stderr") == 0) {
		err_file = argv[i + 1];
		i += 2;
	} else if (i < argc && strcmp(argv[i], "--pty") == 0) {
		pty = true;
		i++;
	}
	if (i >= argc || strcmp(argv[i], "--") != 0 || i + 1 >= argc) {
		fputs("usage: runner [--load FILE | --pty | --stderr FILE] -- COMMAND [ARGS...]\n", stderr);
		return 2;
	}
	char **command = argv + i + 1;
	if (pty)
		return at_terminal(command);

	int in[2], out[2];
	if (pipe(in) || pipe(out))
		return 1;
	signal(SIGPIPE, SIG_IGN);
	const double start = now();
	pid_t pid = fork();
	if (pid == 0) {
		int null = open("/dev/null", O_RDWR);
		dup2(load ? in[0] : null, 0);
		dup2(load ? out[1] : null, 1);
		if (err_file) {
			int err = open(err_file, O_WRONLY | O_CREAT | O_TRUNC, 0644);
			dup2(err, 2);
			close(err);
		}
		for (int fd : {in[0], in[1], out[0], out[1], null})
			close(fd);
		signal(SIGPIPE, SIG_DFL);
		execvp(command[0], command);
		_exit(127);
	}
	close(in[0]);
	close(out[1]);
	long lines = 0;
	if (load) {
		std::string line = std::string("LOAD ") + load + "\n";
		if (write(in[1], line.data(), line.size()) != static_cast<ssize_t>(line.size()))
			return 1;
		lines = drive(out[0]);
	}
	close(in[1]);
	// Whatever comes after the end report is read and dropped.
	static char sink[1 << 16];
	while (read(out[0], sink, sizeof sink) > 0)
		;
	report(start, pid, lines);
	return 0;
}
