#include "session_bus.h"
#include "testenv.h"

#include <signal.h>
#include <unistd.h>

std::string session_bus_missing()
{
	for (const char *tool : {DBUS_DAEMON_BIN, DBUS_MONITOR_BIN, PLAYERCTL_BIN, BUSCTL_BIN})
		if (!*tool || access(tool, X_OK) != 0)
			return "dbus-daemon, dbus-monitor, playerctl and busctl are needed (scripts/setup.sh --tests installs them)";
	return "";
}

bool session_bus_start(session_bus &b)
{
	if (!process_start(b.daemon, {DBUS_DAEMON_BIN, "--session", "--nofork", "--print-address=1"}) ||
	    !process_wait_stdout(b.daemon, "\n", 10)) {
		session_bus_stop(b);
		return false;
	}
	const std::string &out = b.daemon.out_text;
	b.env = {"DBUS_SESSION_BUS_ADDRESS=" + out.substr(0, out.find('\n'))};
	return true;
}

void session_bus_stop(session_bus &b)
{
	if (b.daemon.pid <= 0 || b.daemon.status >= 0)
		return;
	kill(b.daemon.pid, SIGTERM);
	process_finish(b.daemon, 10);
}

std::vector<std::string> session_bus_names(const session_bus &b)
{
	std::vector<std::string> names;
	const run_result list = run({BUSCTL_BIN, "--user", "list", "--no-pager", "--no-legend", "--acquired"}, {}, 10,
				    {.env = b.env});
	for (const std::string &line : lines_of(list.out))
		names.push_back(line.substr(0, line.find(' ')));
	return names;
}

bool session_bus_monitor(const session_bus &b, process &monitor, const std::string &match)
{
	// Turned into a monitor, it loses the name it had: from then on it sees
	// every signal.
	return process_start(monitor, {DBUS_MONITOR_BIN, "--session", match}, {.env = b.env}) &&
	       process_wait_stdout(monitor, "member=NameLost", 10);
}

run_result playerctl(const session_bus &b, const std::vector<std::string> &args, const std::string &player)
{
	std::vector<std::string> argv = {PLAYERCTL_BIN, "-p", player};
	argv.insert(argv.end(), args.begin(), args.end());
	return run(argv, {}, 10, {.env = b.env});
}

run_result session_bus_burst(const session_bus &b, const std::string &name, int count)
{
	return run({BUS_BURST_BIN, name, std::to_string(count)}, {}, 120, {.env = b.env});
}

run_result busctl(const session_bus &b, const std::vector<std::string> &args)
{
	std::vector<std::string> argv = {BUSCTL_BIN, "--user"};
	argv.insert(argv.end(), args.begin(), args.end());
	return run(argv, {}, 10, {.env = b.env});
}
