#include "pseudo_tty.h"

#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

// In the child: signals as a shell would leave them for a job.
static void default_signals()
{
	for (int sig : {SIGINT, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU, SIGHUP, SIGTERM, SIGQUIT})
		signal(sig, SIG_DFL);
	sigset_t none;
	sigemptyset(&none);
	sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The session leader of a background run: the program in a process group
// of its own, brought to the foreground when the control pipe says so; its
// end is the leader's.
[[noreturn]] static void lead_background(char **args, char **envp, int control)
{
	pid_t job = fork();
	if (job == 0) {
		setpgid(0, 0);
		execve(args[0], args, envp);
		_exit(127);
	}
	setpgid(job, job);
	for (int st;;) {
		pid_t r = waitpid(job, &st, WNOHANG);
		if (r == job)
			_exit(WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st));
		pollfd p = {control, POLLIN, 0};
		char c;
		if (poll(&p, 1, 20) > 0 && read(control, &c, 1) == 1)
			tcsetpgrp(STDIN_FILENO, job);
	}
}

bool pty_start(pty_process &p, const std::vector<std::string> &argv, const std::vector<std::string> &env,
	       bool background)
{
	int control[2] = {-1, -1};
	if (background && pipe2(control, O_CLOEXEC) != 0)
		return false;
	std::vector<std::string> env_strings = environment_with(env);
	std::vector<char *> args, envp;
	for (const std::string &a : argv)
		args.push_back(const_cast<char *>(a.c_str()));
	args.push_back(nullptr);
	for (std::string &e : env_strings)
		envp.push_back(e.data());
	envp.push_back(nullptr);

	int master = -1;
	pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
	if (pid < 0)
		return false;
	if (pid == 0) {
		default_signals();
		if (background)
			lead_background(args.data(), envp.data(), control[0]);
		execve(args[0], args.data(), envp.data());
		_exit(127);
	}
	if (background)
		close(control[0]);
	fcntl(master, F_SETFD, FD_CLOEXEC);
	p = pty_process{};
	p.pid = pid;
	p.master = master;
	p.control = control[1];
	return true;
}

bool pty_foreground(pty_process &p)
{
	return p.control >= 0 && write(p.control, "f", 1) == 1;
}

bool pty_send(pty_process &p, std::string_view text)
{
	return write(p.master, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

// Reads what the terminal shows within timeout_ms; false once the program
// has closed it.
static bool collect(pty_process &p, int timeout_ms)
{
	pollfd f = {p.master, POLLIN, 0};
	if (poll(&f, 1, timeout_ms) <= 0)
		return true;
	char buf[4096];
	ssize_t n = read(p.master, buf, sizeof buf);
	if (n > 0) {
		p.screen.append(buf, static_cast<std::size_t>(n));
		return true;
	}
	return n < 0 && errno == EINTR;
}

bool pty_wait(pty_process &p, const std::function<bool(const std::string &)> &done, double seconds)
{
	const double end = now_seconds() + seconds;
	while (!done(p.screen)) {
		double left = end - now_seconds();
		if (left <= 0 || !collect(p, static_cast<int>(left * 1000) + 1))
			return done(p.screen);
	}
	return true;
}

termios pty_settings(const pty_process &p)
{
	termios t = p.settings;
	if (p.master >= 0)
		tcgetattr(p.master, &t);
	return t;
}

int pty_finish(pty_process &p, double seconds)
{
	const double end = now_seconds() + seconds;
	int st = 0;
	for (;;) {
		collect(p, 10);
		pid_t r = waitpid(p.pid, &st, WNOHANG);
		if (r == p.pid)
			break;
		if (now_seconds() > end && !p.timed_out) {
			p.timed_out = true;
			kill(p.pid, SIGKILL);
		}
	}
	// What it wrote last, until the terminal is closed or stays quiet.
	for (int quiet = 0; quiet < 3;) {
		const std::size_t before = p.screen.size();
		if (!collect(p, 10))
			break;
		quiet = p.screen.size() == before ? quiet + 1 : 0;
	}
	tcgetattr(p.master, &p.settings);
	close(p.master);
	if (p.control >= 0)
		close(p.control);
	p.master = p.control = -1;
	p.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
	return p.status;
}
