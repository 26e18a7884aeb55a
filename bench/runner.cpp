// Runs one command and reports what it cost: wall time, user and system CPU
// seconds and peak resident memory (the kernel's figures, as `time -v`
// reports them).
//
//   runner [--load FILE | --pty | --stderr FILE | --first-bytes N | --term-after S] -- COMMAND [ARGS...]
//   runner --drop FOLDER
//
// Without options the command gets /dev/null for input and output. With
// --load it is driven as a remote-mode player: "LOAD FILE" is sent, every
// line it prints is read until the end report "@P 0", then its input is
// closed. With --pty it runs at a pseudo-terminal of its own (input, output
// and standard error), whose output is read and dropped; with --stderr its
// standard error goes to FILE. With --first-bytes its standard output is
// read until N bytes have come (a WAV header and the first frame: the first
// sound), when the time and the bytes it has read so far (/proc/PID/io
// rchar) are noted and it is ended with SIGTERM. With --term-after it gets
// SIGTERM after S seconds, and the time it takes to end after it is noted.
// --drop drops every file below FOLDER from the page cache
// (POSIX_FADV_DONTNEED), so that the next run reads it cold.
//
// Prints: wall=S user=S sys=S maxrss_kb=N status=N progress_lines=N, then
// first=S first_rchar=N or term_exit=S when asked for.
#include <fcntl.h>
#include <ftw.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

static double now()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// When --term-after sent its signal; 0 when it did not.
static double term_sent;
// Figures asked for beyond the usual ones, added to the report line.
static std::string extra;

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
	if (term_sent > 0)
		extra += " term_exit=" + std::to_string(now() - term_sent);
	printf("wall=%.4f user=%.4f sys=%.4f maxrss_kb=%ld status=%d progress_lines=%ld%s\n", wall,
	       static_cast<double>(ru.ru_utime.tv_sec) + static_cast<double>(ru.ru_utime.tv_usec) / 1e6,
	       static_cast<double>(ru.ru_stime.tv_sec) + static_cast<double>(ru.ru_stime.tv_usec) / 1e6,
	       ru.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), lines, extra.c_str());
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

// What the process has read so far, by the kernel's count; -1 when unknown.
static long long rchar_of(pid_t pid)
{
	char path[64], text[512];
	snprintf(path, sizeof path, "/proc/%d/io", static_cast<int>(pid));
	int fd = open(path, O_RDONLY);
	if (fd < 0)
		return -1;
	ssize_t n = read(fd, text, sizeof text - 1);
	close(fd);
	if (n <= 0)
		return -1;
	text[n] = '\0';
	const char *at = strstr(text, "rchar: ");
	return at ? atoll(at + 7) : -1;
}

// Reads the command's output until n bytes have come; then notes the time
// and what it has read, and ends it.
static void first_bytes(int out, pid_t pid, long n, double start)
{
	static char buf[1 << 16];
	long got = 0;
	while (got < n) {
		ssize_t r = read(out, buf, sizeof buf);
		if (r <= 0)
			break;
		got += r;
	}
	const double first = now() - start;
	const long long rchar = rchar_of(pid);
	kill(pid, SIGTERM);
	while (read(out, buf, sizeof buf) > 0)
		;
	extra += " first=" + std::to_string(got >= n ? first : -1.0) + " first_rchar=" + std::to_string(rchar);
}

static int drop_file(const char *path, const struct stat *, int type, FTW *)
{
	if (type == FTW_F) {
		int fd = open(path, O_RDONLY);
		if (fd >= 0) {
			posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
			close(fd);
		}
	}
	return 0;
}

int main(int argc, char **argv)
{
	const char *load = nullptr, *err_file = nullptr;
	bool pty = false;
	long first = 0;
	double term_after = 0;
	int i = 1;
	if (argc == 3 && strcmp(argv[1], "--drop") == 0)
		return nftw(argv[2], drop_file, 64, FTW_PHYS) != 0;
	if (i + 1 < argc && strcmp(argv[i], "--first-bytes") == 0) {
		first = atol(argv[i + 1]);
		i += 2;
	} else if (i + 1 < argc && strcmp(argv[i], "--term-after") == 0) {
		term_after = atof(argv[i + 1]);
		i += 2;
	} else if (i + 1 < argc && strcmp(argv[i], "--load") == 0) {
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
		fputs("usage: runner [--load FILE | --pty | --stderr FILE | --first-bytes N | --term-after S] -- COMMAND [ARGS...]\n"
		      "       runner --drop FOLDER\n",
		      stderr);
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
		dup2(load || first ? out[1] : null, 1);
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
	if (first)
		first_bytes(out[0], pid, first, start);
	if (term_after > 0) {
		timespec wait = {static_cast<time_t>(term_after), static_cast<long>((term_after - static_cast<time_t>(term_after)) * 1e9)};
		nanosleep(&wait, nullptr);
		// The end is seen by report()'s wait; the time to it is taken there.
		term_sent = now();
		kill(pid, SIGTERM);
	}
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
