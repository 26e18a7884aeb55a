// Opening a FIFO for writing once it has a reader, without holding up the
// one poll meanwhile.
#include "output/output.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

// Waits in the one poll until fd is readable or something else happens.
static bool readable(int fd)
{
	if (output_config.wait)
		return output_config.wait(fd, POLLIN, -1);
	pollfd p = {fd, POLLIN, 0};
	return poll(&p, 1, -1) > 0;
}

namespace {
// open(2) of a FIFO for writing, done by a thread of its own.
struct fifo_opener {
	const char *path;
	int fd, error;
	int done[2];  // a byte comes when open returned
};
}

static void *open_for_writing(void *arg)
{
	auto *o = static_cast<fifo_opener *>(arg);
	o->fd = open(o->path, O_WRONLY | O_CLOEXEC);
	o->error = errno;
	const char byte = 0;
	(void)!write(o->done[1], &byte, 1);
	return nullptr;
}

// A FIFO is opened for writing once it has a reader. A reader such as
// snapserver opens it only now and then, for a moment (at once reading
// nothing, without a writer, it closes it again): only an open that waits
// in the kernel catches it, as a writer counted there makes the reader
// wait for data instead. So a thread waits in open(2) and wakes the one
// poll when it returns; giving up, a reader of our own lets it return.
int fifo_open_writer(const char *path, int *given_up)
{
	fifo_opener o = {path, -1, 0, {-1, -1}};
	*given_up = 0;
	if (pipe2(o.done, O_CLOEXEC) != 0)
		return -1;
	// Signals are heard on the main thread: the thread starts with them
	// blocked.
	sigset_t all, old;
	sigfillset(&all);
	pthread_sigmask(SIG_BLOCK, &all, &old);
	pthread_t thread;
	const bool started = pthread_create(&thread, nullptr, open_for_writing, &o) == 0;
	pthread_sigmask(SIG_SETMASK, &old, nullptr);
	if (started) {
		while (!readable(o.done[0])) {
			if (!(output_config.give_up && output_config.give_up()))
				continue;
			*given_up = 1;
			const int reader = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
			if (reader < 0)
				pthread_cancel(thread);
			pthread_join(thread, nullptr);
			if (reader >= 0)
				close(reader);
			if (o.fd >= 0)
				close(o.fd);
			o.fd = -1;
			break;
		}
		if (!*given_up)
			pthread_join(thread, nullptr);
	}
	close(o.done[0]);
	close(o.done[1]);
	errno = started ? o.error : EAGAIN;
	return o.fd;
}
