#include "snapcast.h"

#include "fixture.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

// A loopback port that is free now; 0 when none could be had.
static int free_port()
{
	int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in a = {};
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	socklen_t size = sizeof a;
	int port = 0;
	if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
	    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size) == 0)
		port = ntohs(a.sin_port);
	if (fd >= 0)
		close(fd);
	return port;
}

static bool log_says(const std::string &path, const std::string &text)
{
	std::vector<unsigned char> log = read_file(path);
	return std::string(log.begin(), log.end()).find(text) != std::string::npos;
}

bool snapcast_start(snapcast &s, const std::string &dir, const std::string &format)
{
	s.fifo = dir + "/snapfifo";
	s.recording = dir + "/room.raw";
	const std::string server_log = dir + "/server.log", client_log = dir + "/client.log";
	// Another program may take a port between its test and its use.
	for (int attempt = 0; attempt < 3; attempt++, snapcast_stop(s)) {
		const std::string stream = std::to_string(free_port()), control = std::to_string(free_port());
		unlink(server_log.c_str());
		unlink(client_log.c_str());
		if (!process_start(s.server, {SNAPSERVER_BIN, "-c", "/dev/null", "--server.datadir=" + dir,
					      "--http.enabled=false", "--tcp.bind_to_address=127.0.0.1", "--tcp.port=" + control,
					      "--stream.bind_to_address=127.0.0.1", "--stream.port=" + stream,
					      "--stream.source=pipe://" + s.fifo + "?name=default&sampleformat=" + format,
					      "--logging.sink=file:" + server_log}))
			continue;
		for (double end = now_seconds() + 10; now_seconds() < end && !log_says(server_log, "Creating stream acceptor");)
			usleep(20000);
		if (!process_start(s.client, {SNAPCLIENT_BIN, "-h", "127.0.0.1", "-p", stream, "--player",
					      "file:filename=" + s.recording, "--logsink=file:" + client_log}))
			continue;
		// In time with the server, it plays what comes from then on.
		for (double end = now_seconds() + 10; now_seconds() < end; usleep(20000))
			if (log_says(client_log, "diff to server"))
				return true;
	}
	return false;
}

void snapcast_stop(snapcast &s)
{
	for (process *p : {&s.client, &s.server})
		if (p->pid > 0 && p->status < 0) {
			kill(p->pid, SIGTERM);
			process_finish(*p, 10);
		}
	s.client = {};
	s.server = {};
}
