#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern char **environ;

double now_seconds()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::vector<std::string> environment_with(const std::vector<std::string> &env)
{
	std::vector<std::string> strings;
	for (char **e = environ; *e; e++) {
		std::string_view entry = *e;
		bool replaced = false;
		for (const std::string &o : env)
			if (entry.substr(0, entry.find('=') + 1) == std::string_view(o).substr(0, o.find('=') + 1))
				replaced = true;
		if (!replaced)
			strings.emplace_back(entry);
	}
	strings.insert(strings.end(), env.begin(), env.end());
	return strings;
}

bool process_start(process &p, const std::vector<std::string> &argv, const spawn_options &opt)
{
	int in[2], out[2], err[2];
	if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
		return false;
	int out_file = -1;
	if (!opt.stdout_path.empty()) {
		out_file = open(opt.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
		if (out_file < 0)
			return false;
	}
	std::vector<std::string> env_strings = environment_with(opt.env);
	std::vector<char *> args, envp;
	for (const std::string &a : argv)
		args.push_back(const_cast<char *>(a.c_str()));
	args.push_back(nullptr);
	for (std::string &e : env_strings)
		envp.push_back(e.data());
	envp.push_back(nullptr);

	int master = -1;
	pid_t pid = opt.terminal ? forkpty(&master, nullptr, nullptr, nullptr) : fork();
	if (pid < 0)
		return false;
	if (pid == 0) {
		// Signals as a shell leaves them for a job.
		for (int sig : {SIGINT, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU})
			signal(sig, SIG_DFL);
		sigset_t none;
		sigemptyset(&none);
		sigprocmask(SIG_SETMASK, &none, nullptr);
		if (opt.terminal) {
			execve(args[0], args.data(), envp.data());
			_exit(127);
		}
		if (opt.no_stdin) {
			close(0);
		} else if (!opt.stdin_path.empty()) {
			int fd = open(opt.stdin_path.c_str(), opt.stdin_flags);
			if (fd < 0)
				_exit(126);
			dup2(fd, 0);
		} else {
			dup2(in[0], 0);
		}
		if (opt.no_stdout)
			close(1);
		else
			dup2(out_file >= 0 ? out_file : out[1], 1);
		dup2(opt.stderr_to_stdout ? 1 : err[1], 2);
		execve(args[0], args.data(), envp.data());
		_exit(127);
	}
	close(in[0]);
	close(out[1]);
	close(err[1]);
	if (out_file >= 0)
		close(out_file);
	p = process{};
	p.pid = pid;
	p.in = in[1];
	p.out = out[0];
	p.err = err[0];
	if (opt.terminal) {
		close(in[1]);
		close(out[0]);
		close(err[0]);
		p.err = -1;
		p.out = master;
		p.in = fcntl(master, F_DUPFD_CLOEXEC, 0);
		p.terminal = fcntl(master, F_DUPFD_CLOEXEC, 0);
		fcntl(master, F_SETFD, FD_CLOEXEC);
	}
	return true;
}

termios terminal_settings(const process &p)
{
	termios t = p.settings;
	if (p.terminal >= 0)
		tcgetattr(p.terminal, &t);
	return t;
}

bool process_send(process &p, std::string_view text)
{
	if (p.in < 0)
		return false;
	struct sigaction ign = {}, old = {};
	ign.sa_handler = SIG_IGN;
	sigaction(SIGPIPE, &ign, &old);
	std::size_t done = 0;
	while (done < text.size()) {
		ssize_t n = write(p.in, text.data() + done, text.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		done += static_cast<std::size_t>(n);
	}
	sigaction(SIGPIPE, &old, nullptr);
	return done == text.size();
}

void process_close_input(process &p)
{
	if (p.in >= 0)
		close(p.in);
	p.in = -1;
}

// Reads whatever is ready within timeout_ms; false once both outputs ended.
static bool collect(process &p, int timeout_ms)
{
	pollfd fds[2] = {{p.out, POLLIN, 0}, {p.err, POLLIN, 0}};
	if (p.out < 0 && p.err < 0)
		return false;
	int r = poll(fds, 2, timeout_ms);
	if (r <= 0)
		return true;
	int *fd[2] = {&p.out, &p.err};
	std::string *text[2] = {&p.out_text, &p.err_text};
	for (int i = 0; i < 2; i++) {
		if (*fd[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
			continue;
		char buf[65536];
		ssize_t n = read(*fd[i], buf, sizeof buf);
		if (n > 0) {
			text[i]->append(buf, static_cast<std::size_t>(n));
		} else if (n == 0 || errno != EINTR) {
			close(*fd[i]);
			*fd[i] = -1;
		}
	}
	return true;
}

bool process_wait_until(process &p, const std::function<bool(const process &)> &done, double seconds)
{
	const double end = now_seconds() + seconds;
	while (!done(p)) {
		double left = end - now_seconds();
		if (left <= 0 || !collect(p, static_cast<int>(left * 1000) + 1))
			return done(p);
	}
	return true;
}

bool process_wait_stdout(process &p, std::string_view needle, double seconds)
{
	return process_wait_until(
		p, [&](const process &q) { return q.out_text.find(needle) != std::string::npos; }, seconds);
}

int process_finish(process &p, double seconds)
{
	process_close_input(p);
	const double end = now_seconds() + seconds;
	while (p.out >= 0 || p.err >= 0) {
		double left = end - now_seconds();
		if (left <= 0) {
			p.timed_out = true;
			kill(p.pid, SIGKILL);
			break;
		}
		collect(p, static_cast<int>(left * 1000) + 1);
	}
	int st = 0;
	rusage usage = {};
	while (true) {
		pid_t r = wait4(p.pid, &st, WNOHANG, &usage);
		if (r == p.pid)
			break;
		if (r < 0 && errno != EINTR)
			return p.status;
		if (now_seconds() > end && !p.timed_out) {
			p.timed_out = true;
			kill(p.pid, SIGKILL);
		}
		usleep(2000);
	}
	for (int *fd : {&p.out, &p.err})
		if (*fd >= 0) {
			close(*fd);
			*fd = -1;
		}
	if (p.terminal >= 0) {
		tcgetattr(p.terminal, &p.settings);
		close(p.terminal);
		p.terminal = -1;
	}
	p.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
	auto in_seconds = [](timeval t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
	p.cpu_seconds = in_seconds(usage.ru_utime) + in_seconds(usage.ru_stime);
	return p.status;
}

run_result run(const std::vector<std::string> &argv, std::string_view input, double seconds,
	       const spawn_options &opt)
{
	process p;
	if (!process_start(p, argv, opt))
		return {-1, false, "", "cannot start " + argv[0]};
	// Input is sent while output is read, so that neither side can block.
	std::size_t sent = 0;
	const double end = now_seconds() + seconds;
	while (sent < input.size() && p.in >= 0 && now_seconds() < end) {
		pollfd w = {p.in, POLLOUT, 0};
		if (poll(&w, 1, 0) > 0) {
			std::size_t n = std::min<std::size_t>(input.size() - sent, 4096);
			if (!process_send(p, input.substr(sent, n)))
				break;
			sent += n;
		}
		collect(p, 1);
	}
	process_finish(p, std::max(0.1, end - now_seconds()));
	return {p.status, p.timed_out, std::move(p.out_text), std::move(p.err_text), p.cpu_seconds};
}

int fifo_writer(const std::string &fifo, double seconds)
{
	// No reader yet gives ENXIO: wait for one.
	int fd = -1;
	for (double end = now_seconds() + seconds; fd < 0 && now_seconds() < end; usleep(1000))
		fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd >= 0)
		fcntl(fd, F_SETFL, 0);
	return fd;
}
