#include "pipewire.h"

#include "fixture.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

static const char *const daemon_bins[] = {PIPEWIRE_BIN, WIREPLUMBER_BIN, PIPEWIRE_PULSE_BIN};

static std::string log_path(const pipewire_server &s, int daemon)
{
	return s.clients.dir + "/daemon" + std::to_string(daemon) + ".log";
}

bool pipewire_start(pipewire_server &s, const std::string &dir, unsigned channels)
{
	s.clients = pulse_server{};
	s.clients.dir = dir;
	const std::string runtime = dir + "/run", home = dir + "/home", sink = pulse_sink;
	mkdir(runtime.c_str(), 0700);
	mkdir(home.c_str(), 0700);
	if (!session_bus_start(s.bus))
		return false;
	// The servers' configuration and state are under home, whatever the
	// user running the tests has.
	s.clients.env = {"XDG_RUNTIME_DIR=" + runtime, "HOME=" + home, "XDG_CONFIG_HOME=" + home, "XDG_STATE_HOME=" + home,
			 "PULSE_SERVER=unix:" + runtime + "/pulse/native", "PULSE_SINK=" + sink, s.bus.env[0]};
	// The other two give up at once when PipeWire is not there yet. The
	// sink is the default once the session manager has taken it: from then
	// on it links every stream.
	bool up = true, loaded = false;
	std::string info;
	const double end = now_seconds() + 20;
	for (int i = 0; i < 3 && up; i++) {
		up = process_start(s.daemons[i], {daemon_bins[i]},
				   {.env = s.clients.env, .stdout_path = log_path(s, i), .stderr_to_stdout = true});
		while (up && i == 0 && access((runtime + "/pipewire-0").c_str(), F_OK) != 0 && now_seconds() < end)
			usleep(20000);
	}
	for (; up && now_seconds() < end; usleep(100000)) {
		if (!loaded && pactl(s.clients, {"info"}))
			loaded = pactl(s.clients, {"load-module", "module-null-sink", "sink_name=" + sink,
						   "channels=" + std::to_string(channels)}) &&
				 pactl(s.clients, {"set-default-sink", sink});
		if (loaded && pactl(s.clients, {"info"}, &info) && info.find("Default Sink: " + sink + "\n") != std::string::npos)
			return true;
	}
	pipewire_stop(s);
	return false;
}

void pipewire_stop(pipewire_server &s)
{
	// The pulse server first, PipeWire last.
	for (int i = 2; i >= 0; i--)
		if (s.daemons[i].pid > 0 && s.daemons[i].status < 0) {
			kill(s.daemons[i].pid, SIGTERM);
			process_finish(s.daemons[i], 10);
		}
	session_bus_stop(s.bus);
}

bool pipewire_rates(const pipewire_server &s, unsigned force_rate, const std::string &allowed_rates)
{
	auto set = [&](const std::string &key, const std::string &value) {
		return run({PW_METADATA_BIN, "-n", "settings", "0", key, value}, {}, 10, {.env = s.clients.env}).status == 0;
	};
	return set("clock.allowed-rates", allowed_rates) && set("clock.force-rate", std::to_string(force_rate));
}

std::string pipewire_logs(const pipewire_server &s)
{
	std::string logs;
	for (int i = 0; i < 3; i++) {
		const std::vector<unsigned char> text = read_file(log_path(s, i));
		logs += std::string(daemon_bins[i]) + ":\n" + std::string(text.begin(), text.end());
	}
	return logs;
}
