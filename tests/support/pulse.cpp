#include "pulse.h"

#include "fixture.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>

bool pactl(const pulse_server &s, const std::vector<std::string> &args, std::string *out)
{
	std::vector<std::string> argv = {PACTL_BIN};
	argv.insert(argv.end(), args.begin(), args.end());
	run_result r = run(argv, {}, 10, {.env = s.env});
	if (out)
		*out = r.out;
	return r.status == 0;
}

bool pulse_start(pulse_server &s, const std::string &dir, unsigned rate, unsigned channels)
{
	s = pulse_server{};
	s.dir = dir;
	std::string runtime = dir + "/run", home = dir + "/home";
	mkdir(runtime.c_str(), 0700);
	mkdir(home.c_str(), 0700);
	s.env = {"XDG_RUNTIME_DIR=" + runtime, "HOME=" + home,
		 "PULSE_SERVER=unix:" + runtime + "/pulse/native", "PULSE_SINK=" + std::string(pulse_sink)};

	std::string sink = "module-null-sink sink_name=" + std::string(pulse_sink) +
			   " rate=" + std::to_string(rate) + " channels=" + std::to_string(channels) +
			   " format=s16le";
	std::vector<std::string> argv = {PULSEAUDIO_BIN, "-n", "--daemonize=no", "--exit-idle-time=-1",
					 "--disallow-exit", "--log-target=stderr", "-L", sink, "-L",
					 "module-native-protocol-unix auth-anonymous=1"};
	pid_t pid = fork();
	if (pid < 0)
		return false;
	if (pid == 0) {
		for (const std::string &e : s.env)
			putenv(const_cast<char *>(e.c_str()));
		int log = open((dir + "/pulse.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		int null = open("/dev/null", O_RDONLY);
		dup2(null, 0);
		dup2(log, 1);
		dup2(log, 2);
		std::vector<char *> args;
		for (std::string &a : argv)
			args.push_back(a.data());
		args.push_back(nullptr);
		execv(args[0], args.data());
		_exit(127);
	}
	s.pid = pid;
	for (double end = now_seconds() + 20; now_seconds() < end; usleep(100000)) {
		if (waitpid(pid, nullptr, WNOHANG) == pid) {
			s.pid = -1;
			return false;
		}
		if (pactl(s, {"info"}))
			return true;
	}
	pulse_stop(s);
	return false;
}

void pulse_stop(pulse_server &s)
{
	if (s.pid <= 0)
		return;
	kill(s.pid, SIGTERM);
	for (double end = now_seconds() + 5; now_seconds() < end; usleep(20000))
		if (waitpid(s.pid, nullptr, WNOHANG) == s.pid) {
			s.pid = -1;
			return;
		}
	kill(s.pid, SIGKILL);
	waitpid(s.pid, nullptr, 0);
	s.pid = -1;
}

bool pulse_record_start(const pulse_server &s, process &rec, unsigned rate, unsigned channels, const std::string &format)
{
	if (!process_start(rec, {PAREC_BIN, "-d", std::string(pulse_sink) + ".monitor", "--raw", "--latency-msec=20",
				 "--format=" + format, "--rate=" + std::to_string(rate),
				 "--channels=" + std::to_string(channels)},
			   {.env = s.env, .stdout_path = s.dir + "/recording.raw"}))
		return false;
	std::string outputs;
	for (double end = now_seconds() + 10; now_seconds() < end; usleep(50000))
		if (pactl(s, {"list", "short", "source-outputs"}, &outputs) && !outputs.empty())
			return true;
	return false;
}

std::vector<unsigned char> pulse_record_stop(const pulse_server &s, process &rec)
{
	kill(rec.pid, SIGINT);
	process_finish(rec, 10);
	return read_file(s.dir + "/recording.raw");
}

bool pulse_subscribe_start(const pulse_server &s, process &sub)
{
	if (!process_start(sub, {PACTL_BIN, "subscribe"}, {.env = s.env}))
		return false;
	// Make an event of our own and wait until the subscription reports it.
	for (double end = now_seconds() + 10; now_seconds() < end;) {
		std::string index;
		if (!pactl(s, {"load-module", "module-null-sink", "sink_name=subscription_probe"}, &index))
			return false;
		bool seen = process_wait_until(
			sub, [](const process &p) { return p.out_text.find("'new' on module") != std::string::npos; },
			1.0);
		pactl(s, {"unload-module", index.substr(0, index.find('\n'))});
		if (seen)
			return true;
	}
	return false;
}

int pulse_new_sink_inputs(const process &sub)
{
	int n = 0;
	for (std::size_t p = 0; (p = sub.out_text.find("Event 'new' on sink-input", p)) != std::string::npos; p++)
		n++;
	return n;
}

std::map<std::string, std::string> pulse_sink_input(const pulse_server &s, double seconds)
{
	std::map<std::string, std::string> props;
	std::string list;
	for (double end = now_seconds() + seconds; now_seconds() < end; usleep(50000))
		if (pactl(s, {"list", "sink-inputs"}, &list) && list.find("Buffer Latency:") != std::string::npos &&
		    list.find("Buffer Latency: 0 usec") == std::string::npos)
			break;
	std::size_t block_end = list.find("Sink Input #", 1);
	for (std::size_t at = 0; at < std::min(block_end, list.size());) {
		std::size_t eol = list.find('\n', at);
		std::string line = list.substr(at, eol - at);
		at = eol == std::string::npos ? list.size() : eol + 1;
		std::size_t colon = line.find(": ");
		std::size_t name = line.find_first_not_of('\t');
		if (colon != std::string::npos && name == 1)
			props[line.substr(1, colon - 1)] = line.substr(colon + 2);
	}
	return props;
}
