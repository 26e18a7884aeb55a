#include "web.h"

#include "fixture.h"
#include "testenv.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace {
// A free port on the loopback interface now (another may take it before
// the server binds it: the callers retry).
sockaddr_in loopback(int port)
{
	sockaddr_in a{};
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	a.sin_port = htons(static_cast<uint16_t>(port));
	return a;
}

int free_port()
{
	const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in a = loopback(0);
	socklen_t n = sizeof a;
	int port = 0;
	if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
	    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n) == 0)
		port = ntohs(a.sin_port);
	close(fd);
	return port;
}

bool accepts(int port)
{
	const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in a = loopback(port);
	const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
	close(fd);
	return ok;
}

bool write_text(const std::string &path, const std::string &text)
{
	std::ofstream f(path);
	f << text;
	return static_cast<bool>(f);
}

// A CA and a certificate that it signed for the loopback names.
bool make_certificates(const std::string &folder)
{
	const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
	const std::string script =
		"set -e; cd \"$0\"; exec 2>/dev/null; echo subjectAltName=IP:127.0.0.1,DNS:localhost >ext.cnf\n"
		"\"$1\" req -x509 " + key + " -keyout ca.key -out ca.pem -days 2 -subj '/CN=wendrop test CA'\n"
		"\"$1\" req " + key + " -keyout server.key -out server.csr -subj /CN=127.0.0.1\n"
		"\"$1\" x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
		"-extfile ext.cnf\n";
	return run({"/bin/sh", "-c", script, folder, OPENSSL_BIN}, "", 30).status == 0;
}

std::string nginx_conf(const std::string &d, int http, int https)
{
	std::string temps;
	for (const char *t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
		temps += std::string("  ") + t + "_temp_path " + d + "/tmp;\n";
	return "daemon off;\nmaster_process off;\npid " + d + "/nginx.pid;\nerror_log stderr;\n"
	       "events { worker_connections 64; }\nhttp {\n  access_log " + d + "/access.log;\n" + temps +
	       "  types { audio/flac flac; audio/x-scpls pls; audio/x-mpegurl m3u; }\n"
	       "  server { listen 127.0.0.1:" + std::to_string(http) + "; root " + d + "/www; }\n"
	       "  server { listen 127.0.0.1:" + std::to_string(https) + " ssl; root " + d + "/www;\n"
	       "    ssl_certificate " + d + "/server.pem; ssl_certificate_key " + d + "/server.key; }\n}\n";
}
}

std::string web_missing()
{
	if (!*NGINX_BIN)
		return "nginx is not installed";
	if (!*OPENSSL_BIN)
		return "openssl is not installed";
	return "";
}

bool nginx_start(nginx_server &s, const std::string &folder)
{
	s.root = folder + "/www";
	s.ca = folder + "/ca.pem";
	mkdir(s.root.c_str(), 0755);
	mkdir((folder + "/tmp").c_str(), 0755);
	if (!make_certificates(folder))
		return false;
	for (int attempt = 0; attempt < 5; attempt++) {
		s.http_port = free_port();
		s.https_port = free_port();
		if (!s.http_port || !s.https_port || s.http_port == s.https_port ||
		    !write_text(folder + "/nginx.conf", nginx_conf(folder, s.http_port, s.https_port)))
			continue;
		if (!process_start(s.daemon, {NGINX_BIN, "-e", "stderr", "-p", folder, "-c", folder + "/nginx.conf"}))
			return false;
		for (const double end = now_seconds() + 5; now_seconds() < end; usleep(20000)) {
			if (accepts(s.http_port) && accepts(s.https_port))
				return true;
			if (waitpid(s.daemon.pid, nullptr, WNOHANG) != 0)
				break;
		}
		nginx_stop(s);
	}
	return false;
}

void nginx_stop(nginx_server &s)
{
	if (s.daemon.pid > 0 && s.daemon.status < 0)
		kill(s.daemon.pid, SIGTERM);
	process_finish(s.daemon, 10);
	s.daemon = {};
}

// ---- The fault server.

namespace {
bool send_all(int fd, const std::string &bytes)
{
	for (std::size_t at = 0; at < bytes.size();) {
		const ssize_t n = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
		if (n <= 0)
			return false;
		at += static_cast<std::size_t>(n);
	}
	return true;
}

// Waits until the server stops or the client goes.
void hold(const fault_server &s, int fd)
{
	pollfd p[2] = {{s.stop_pipe[0], POLLIN, 0}, {fd, POLLIN, 0}};
	char b[4096];
	while (poll(p, 2, -1) > 0 && !p[0].revents)
		if (p[1].revents && recv(fd, b, sizeof b, 0) <= 0)
			break;
}

std::string head(int status, const char *text, const std::string &fields)
{
	return "HTTP/1.1 " + std::to_string(status) + " " + text + "\r\nConnection: close\r\n" + fields + "\r\n";
}

// The body of name from offset on, as a ranged (or whole) response whose
// Content-Length states extra bytes more than it has; at most cut bytes
// of the body are sent.
void serve(int fd, const std::string &bytes, long long from, bool ranges, std::size_t extra, std::size_t cut)
{
	const long long size = static_cast<long long>(bytes.size() + extra);
	if (from >= size || (from >= 0 && static_cast<std::size_t>(from) >= bytes.size() && ranges)) {
		send_all(fd, head(416, "Range Not Satisfiable", "Content-Range: bytes */" + std::to_string(size) + "\r\n"));
		return;
	}
	std::string fields = "Content-Type: audio/flac\r\nAccept-Ranges: bytes\r\n";
	std::size_t start = 0;
	if (from >= 0 && ranges) {
		start = static_cast<std::size_t>(from);
		fields += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(size - 1) + "/" +
			  std::to_string(size) + "\r\n";
	}
	fields += "Content-Length: " + std::to_string(size - static_cast<long long>(start)) + "\r\n";
	if (send_all(fd, head(from >= 0 && ranges ? 206 : 200, from >= 0 && ranges ? "Partial Content" : "OK", fields)))
		send_all(fd, bytes.substr(start, cut));
}

void answer(fault_server *s, int fd)
{
	std::string request;
	char b[4096];
	while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
		const ssize_t n = recv(fd, b, sizeof b, 0);
		if (n <= 0)
			break;
		request.append(b, static_cast<std::size_t>(n));
	}
	const std::size_t sp = request.find(' '), sp2 = request.find(' ', sp + 1);
	const std::string target = sp == std::string::npos || sp2 == std::string::npos ? "/" : request.substr(sp + 1, sp2 - sp - 1);
	long long from = -1;
	if (const std::size_t r = request.find("\r\nRange: bytes="); r != std::string::npos)
		from = atoll(request.c_str() + r + 15);
	const std::size_t slash = target.find('/', 1);
	const std::string kind = target.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
	const std::string name = slash == std::string::npos ? "" : target.substr(slash + 1, target.find('?') - slash - 1);
	int count;
	{
		std::lock_guard<std::mutex> g(s->lock);
		s->taken.push_back(request.substr(0, request.find("\r\n\r\n")));
		count = ++s->served[target];
	}
	const std::vector<unsigned char> file = name.empty() ? std::vector<unsigned char>{} : read_file(s->folder + "/" + name);
	const std::string bytes(file.begin(), file.end());
	const std::size_t all = std::string::npos;
	if (kind == "silent") {
		hold(*s, fd);
	} else if (kind == "loop") {
		send_all(fd, head(302, "Found", "Location: /loop\r\nContent-Length: 0\r\n"));
	} else if (kind == "tofile") {
		send_all(fd, head(302, "Found", "Location: file:///etc/passwd\r\nContent-Length: 0\r\n"));
	} else if (kind == "headers") {
		bool ok = send_all(fd, "HTTP/1.1 200 OK\r\n");
		for (int i = 0; ok && i < 1000000; i++)
			ok = send_all(fd, "X-Filler-" + std::to_string(i) + ": " + std::string(100, 'a') + "\r\n");
	} else if (file.empty()) {
		send_all(fd, head(404, "Not Found", "Content-Length: 0\r\n"));
	} else if (kind == "file" || kind == "noranges") {
		serve(fd, bytes, from, kind == "file", 0, all);
	} else if (kind == "drop" || kind == "dropthen404") {
		if (count == 1)
			serve(fd, bytes, from, true, 0, bytes.size() / 2);
		else if (kind == "drop")
			serve(fd, bytes, from, true, 0, all);
		else
			send_all(fd, head(404, "Not Found", "Content-Length: 0\r\n"));
	} else if (kind == "longer") {
		serve(fd, bytes, from, true, 1000, all);
	} else if (kind == "slow") {
		serve(fd, bytes, from, true, 0, 65536);
		hold(*s, fd);
	} else {
		send_all(fd, head(404, "Not Found", "Content-Length: 0\r\n"));
	}
	close(fd);
}

void accept_loop(fault_server *s)
{
	pollfd p[2] = {{s->stop_pipe[0], POLLIN, 0}, {s->listener, POLLIN, 0}};
	while (poll(p, 2, -1) > 0 && !p[0].revents) {
		const int fd = accept4(s->listener, nullptr, nullptr, SOCK_CLOEXEC);
		if (fd >= 0)
			s->handlers.emplace_back(answer, s, fd);
	}
}
}

std::vector<std::string> fault_server::requests() const
{
	std::lock_guard<std::mutex> g(lock);
	return taken;
}

bool fault_start(fault_server &s, const std::string &folder)
{
	s.folder = folder;
	s.listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in a = loopback(0);
	socklen_t n = sizeof a;
	if (s.listener < 0 || bind(s.listener, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
	    listen(s.listener, 16) != 0 || getsockname(s.listener, reinterpret_cast<sockaddr *>(&a), &n) != 0 ||
	    pipe2(s.stop_pipe, O_CLOEXEC) != 0)
		return false;
	s.port = ntohs(a.sin_port);
	s.thread = std::thread(accept_loop, &s);
	return true;
}

void fault_stop(fault_server &s)
{
	if (s.stop_pipe[1] >= 0 && write(s.stop_pipe[1], "x", 1) != 1)
		return;
	if (s.thread.joinable())
		s.thread.join();
	for (std::thread &t : s.handlers)
		t.join();
	s.handlers.clear();
	for (int fd : {s.listener, s.stop_pipe[0], s.stop_pipe[1]})
		if (fd >= 0)
			close(fd);
	s.listener = s.stop_pipe[0] = s.stop_pipe[1] = -1;
}
