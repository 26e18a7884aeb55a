// Web servers for the tests, on the loopback interface only: Debian's
// nginx serving a folder over http and https (with a CA and certificate
// made for the run by openssl), and a small server of our own for what
// nginx will not do on demand (drops, stalls, lies, loops).
#pragma once

#include "process.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/// Why the web tests cannot run here (a tool missing); "" when they can.
std::string web_missing();

struct nginx_server {
	process daemon;
	std::string root;     // the folder served, "www" in the server's folder
	std::string ca;       // the CA's certificate: CURL_CA_BUNDLE trusts it
	int http_port = 0, https_port = 0;
	/// http://127.0.0.1:PORT/name and https://127.0.0.1:PORT/name.
	std::string http(const std::string &name) const { return "http://127.0.0.1:" + std::to_string(http_port) + "/" + name; }
	std::string https(const std::string &name) const { return "https://127.0.0.1:" + std::to_string(https_port) + "/" + name; }
};

/// Makes a CA and a certificate for localhost and 127.0.0.1 in folder,
/// then starts nginx there on free ports, serving folder/www. false (with
/// nothing left running) on failure.
bool nginx_start(nginx_server &s, const std::string &folder);
void nginx_stop(nginx_server &s);

/// What the fault server does for a path (its first segment), the rest of
/// the path naming a file in its folder:
///   /file/NAME       serves NAME, with ranges (206) as nginx does
///   /noranges/NAME   serves NAME whole (200) whatever the Range
///   /drop/NAME       the first response ends (closed) half-way, the rest
///                    are served as /file
///   /dropthen404/NAME  half-way, and every later request gets 404
///   /longer/NAME     states a Content-Length 1000 bytes longer than NAME,
///                    sends NAME, closes; ranges past NAME get 416
///   /slow/NAME       sends the first 64 KiB of NAME, then nothing
///   /silent          accepts and never answers
///   /loop            redirects to itself
///   /tofile          redirects to file:///etc/passwd
///   /headers         sends headers without end
///   anything else    404
struct fault_server {
	int port = 0;
	std::string folder;
	/// The requests taken so far, each its request line and headers.
	std::vector<std::string> requests() const;
	/// http://127.0.0.1:PORT/path
	std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

	// The server's own.
	int listener = -1, stop_pipe[2] = {-1, -1};
	std::thread thread;
	mutable std::mutex lock;
	std::vector<std::string> taken;
	std::map<std::string, int> served;  // responses per path
	std::vector<std::thread> handlers;
};

/// Starts the server on a free port, serving from folder.
bool fault_start(fault_server &s, const std::string &folder);
void fault_stop(fault_server &s);
