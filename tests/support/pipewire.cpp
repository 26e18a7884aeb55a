#include "pipewire.h"

#include "fixture.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

static const char *const daemon_bins[] = {PIPEWIRE_BIN, WIREPLUMBER_BIN, PIPEWIRE_PULSE_BIN};

static std::string log_path(const pipewire_server &s, int daemon)
{
	const std::string bin = daemon_bins[daemon];
	return s.clients.dir + "/" + bin.substr(bin.rfind('/') + 1) + ".log";
}

bool pipewire_start(pipewire_server &s, const std::string &dir, unsigned channels)
{
	s.clients = pulse_server{};
	s.clients.dir = dir;
	const std::string runtime = dir + "/run", home = dir + "/home";
	mkdir(runtime.c_str(), 0700);
	mkdir(home.c_str(), 0700);
	if (!session_bus_start(s.bus))
		return false;
	// Its configuration and state, and the session manager's, under home.
	std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime, "HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config",
					"XDG_STATE_HOME=" + home + "/.local/state", "PULSE_SERVER=unix:" + runtime + "/pulse/native",
					"PULSE_SINK=" + std::string(pulse_sink), s.bus.env[0]};
	s.clients.env = env;
	// The other two give up at once when PipeWire is not there yet.
	const std::string socket = runtime + "/pipewire-0";
	for (int i = 0; i < 3; i++) {
		bool up = process_start(s.daemons[i], {daemon_bins[i]},
					{.env = env, .stdout_path = log_path(s, i), .stderr_to_stdout = true});
		for (double end = now_seconds() + 20; up && i == 0 && access(socket.c_str(), F_OK) != 0; usleep(20000))
			up = now_seconds() < end;
		if (!up) {
			pipewire_stop(s);
			return false;
		}
	}
	// The sink is the default once the session manager has taken it: from
	// then on it links every stream.
	std::string info;
	bool sink = false;
	for (double end = now_seconds() + 20; now_seconds() < end; usleep(100000)) {
		if (!sink && pactl(s.clients, {"info"}))
			sink = pactl(s.clients, {"load-module", "module-null-sink", "sink_name=" + std::string(pulse_sink),
					    "channels=" + std::to_string(channels)}) &&
			       pactl(s.clients, {"set-default-sink", pulse_sink});
		if (sink && pactl(s.clients, {"info"}, &info) &&
		    info.find("Default Sink: " + std::string(pulse_sink) + "\n") != std::string::npos)
			return true;
	}
	pipewire_stop(s);
	return false;
}

void pipewire_stop(pipewire_server &s)
{
	// The pulse server first, PipeWire last.
	for (int i = 2; i >= 0; i--) {
		process &p = s.daemons[i];
		if (p.pid > 0 && p.status < 0) {
			kill(p.pid, SIGTERM);
			process_finish(p, 10);
		}
	}
	session_bus_stop(s.bus);
}

bool pipewire_rates(const pipewire_server &s, unsigned force_rate, const std::string &allowed_rates)
{
	for (const auto &[key, value] : {std::pair<std::string, std::string>{"clock.allowed-rates", allowed_rates},
					 {"clock.force-rate", std::to_string(force_rate)}})
		if (run({PW_METADATA_BIN, "-n", "settings", "0", key, value}, {}, 10, {.env = s.clients.env}).status != 0)
			return false;
	return true;
}

std::string pipewire_logs(const pipewire_server &s)
{
	std::string logs;
	for (int i = 0; i < 3; i++) {
		std::vector<unsigned char> text = read_file(log_path(s, i));
		logs += log_path(s, i) + ":\n" + std::string(text.begin(), text.end());
	}
	return logs;
}
