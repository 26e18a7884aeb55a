// Command input: text collected from descriptor 0 without holding up
// playback, cut into lines, trimmed and split into word and argument.
#include "remote/remote.h"
#include "playback/stream.h"

#include <poll.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static char remote_buffer[remote_buffer_size + 1];
static std::size_t pending;
// Descriptor 0 can no longer be asked or read (not open, say): what is
// pending is still executed, then remote mode ends.
static int input_dead;
// Inside a line too long for the buffer: dropped up to its end.
static int discarding;

void remote_input_reset()
{
	pending = 0;
	input_dead = 0;
	discarding = 0;
	remote_buffer[0] = '\0';
}

// 1 when descriptor 0 is readable, 0 when not (or interrupted), -1 when it
// cannot be asked. A null timeout waits.
static int input_ready(timeval *timeout)
{
	if (input_dead)
		return -1;
	fd_set set;
	FD_ZERO(&set);
	FD_SET(STDIN_FILENO, &set);
	int r = select(STDIN_FILENO + 1, &set, nullptr, nullptr, timeout);
	if (r >= 0)
		return r > 0;
	if (errno == EINTR)
		return 0;
	input_dead = 1;
	return -1;
}

static int input_ready_now()
{
	timeval zero = {0, 0};
	return input_ready(&zero);
}

static int is_posix_space(unsigned char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void trim_whitespace(char *text)
{
	if (!text || !*text)
		return;
	std::size_t len = strlen(text);
	std::size_t start = 0;
	while (start < len && is_posix_space(static_cast<unsigned char>(text[start])))
		start++;
	while (len > start && is_posix_space(static_cast<unsigned char>(text[len - 1])))
		len--;
	memmove(text, text + start, len - start);
	text[len - start] = '\0';
}

// Splits a trimmed line at its first blank and executes it.
static int execute_line(char *line)
{
	trim_whitespace(line);
	if (!*line)
		return 0;
	char *arg = nullptr;
	if (char *blank = strchr(line, ' ')) {
		*blank = '\0';
		arg = strdup(blank + 1);
		trim_whitespace(arg);
	}
	return remote_execute(line, arg);
}

// The text after the line that ends at end, up to the next zero byte,
// stays pending; anything after that zero byte is dropped. Nothing stays
// when the line has no end yet.
static void keep_after(std::size_t end, std::size_t len)
{
	if (end < len) {
		std::size_t rest = strlen(remote_buffer + end + 1);
		memmove(remote_buffer, remote_buffer + end + 1, rest);
		pending = rest;
	} else {
		pending = 0;
	}
	remote_buffer[pending] = '\0';
}

int remote_read_command()
{
	std::size_t len = pending;
	int ready = input_ready_now();
	if (ready < 0 && len == 0)
		return -1;
	if (ready > 0 && len < remote_buffer_size) {
		ssize_t n = read(STDIN_FILENO, remote_buffer + len, remote_buffer_size - len);
		// A failed read is no new input, not the end of it, unless the
		// descriptor can never be read (open for writing only, a folder):
		// select keeps calling it ready, and waiting on it would spin.
		if (n < 0 && errno != EINTR && errno != EAGAIN)
			input_dead = 1;
		if ((n == 0 || input_dead) && len == 0)
			return -1;
		if (n > 0)
			len += static_cast<std::size_t>(n);
	}
	remote_buffer[len] = '\0';

	// The line ends at the first line feed or zero byte.
	std::size_t end = 0;
	while (end < len && remote_buffer[end] != '\n' && remote_buffer[end] != '\0')
		end++;
	if (discarding || (end == len && len == remote_buffer_size)) {
		// Longer than any command with a legal path: run in pieces, its
		// tail would run as a command of its own. Dropped to its end.
		if (!discarding)
			fputs("@E Command line too long\n", stderr);
		discarding = end == len;
		keep_after(end, len);
		return 0;
	}
	char line[remote_buffer_size + 1];
	memcpy(line, remote_buffer, end);
	line[end] = '\0';
	keep_after(end, len);
	return execute_line(line);
}

int remote_has_input()
{
	return pending > 0 || input_dead;
}

// Whether a complete line among the pending text names a command that
// ends or replaces the stream. The tail of a line being dropped is none.
static int pending_line_ends_stream()
{
	std::size_t start = 0;
	for (std::size_t i = 0; i < pending; i++) {
		if (remote_buffer[i] != '\n' && remote_buffer[i] != '\0')
			continue;
		char line[remote_buffer_size + 1];
		memcpy(line, remote_buffer + start, i - start);
		line[i - start] = '\0';
		trim_whitespace(line);
		if (char *blank = strchr(line, ' '))
			*blank = '\0';
		if ((start > 0 || !discarding) && command_ends_stream(line))
			return 1;
		start = i + 1;
	}
	return 0;
}

int remote_watch(pollfd *p)
{
	// A full buffer is not read while a stream waits: the front end waits
	// too, until the stream goes on and the commands run.
	if (input_dead || pending >= remote_buffer_size)
		return 0;
	*p = {STDIN_FILENO, POLLIN, 0};
	return 1;
}

void remote_take()
{
	if (input_dead || pending >= remote_buffer_size)
		return;
	ssize_t n = read(STDIN_FILENO, remote_buffer + pending, remote_buffer_size - pending);
	// The end of input is remembered: a terminal gives it only once.
	if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
		input_dead = 1;
	if (n > 0)
		pending += static_cast<std::size_t>(n);
	remote_buffer[pending] = '\0';
	// A line too long to be a command, with nothing before it, is dropped
	// now, as it would be when run: reading goes on, and a STOP after it is
	// heard.
	if (pending == remote_buffer_size && !memchr(remote_buffer, '\n', pending) &&
	    strlen(remote_buffer) == pending) {
		if (!discarding)
			fputs("@E Command line too long\n", stderr);
		discarding = 1;
		pending = 0;
		remote_buffer[0] = '\0';
	}
}

int remote_give_up()
{
	if (remote_config.stop_requested && remote_config.stop_requested())
		return 1;
	return input_dead || pending_line_ends_stream();
}

int remote_poll()
{
	if (pending)
		return remote_read_command();
	int ready = input_ready_now();
	if (ready < 0)
		return -1;
	return ready ? remote_read_command() : 0;
}

int remote_wait()
{
	// In slices: a signal that ends the run may have run its handler on
	// another thread (a sound server's) and left select asleep.
	const auto stopping = [] { return remote_config.stop_requested && remote_config.stop_requested(); };
	while (!pending && !stopping()) {
		// Paused: a stream's transfer goes on (and does not stall) while
		// the one poll waits.
		if (remote_config.wait && file_info.is_loaded) {
			remote_config.wait(-1, 200);
			if (input_dead)
				break;
			continue;
		}
		timeval slice = {0, 200000};
		if (input_ready(&slice) != 0)
			break;
	}
	return stopping() ? -1 : remote_read_command();
}

int remote_input_within(int ms)
{
	if (pending)
		return 1;
	timeval wait = {ms / 1000, (ms % 1000) * 1000};
	return input_ready(&wait) != 0;
}
