// A file's first bytes, read as few as the verdict needs, and the walk's
// verdicts kept for the files' opens.
#include "playback/probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <unordered_map>

namespace {
// What the walk found a file to be, kept for its open: by file identity, as
// long as its size and times are those it had.
struct file_identity {
	dev_t dev;
	ino_t ino;
	bool operator==(const file_identity &) const = default;
};
struct identity_hash {
	std::size_t operator()(const file_identity &f) const
	{
		return std::hash<uint64_t>()(static_cast<uint64_t>(f.ino) * 0x9e3779b97f4a7c15ull ^ static_cast<uint64_t>(f.dev));
	}
};
struct verdict {
	off_t size;
	timespec mtime, ctime;
	int kind;
	off_t start;
};
}

// Verdicts not yet taken by an open. Bounded: beyond it a file far ahead
// in the list is looked at again when its turn comes.
static constexpr std::size_t verdicts_max = 16384;
static std::unordered_map<file_identity, verdict, identity_hash> verdicts;

static bool same_times(const timespec &a, const timespec &b)
{
	return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Takes the verdict kept for the file st describes, if it is still the file
// that was looked at. 1 when there was one.
static int take_verdict(const struct stat &st, int *kind, off_t *start)
{
	auto it = verdicts.find({st.st_dev, st.st_ino});
	if (it == verdicts.end())
		return 0;
	const verdict v = it->second;
	verdicts.erase(it);
	if (v.size != st.st_size || !same_times(v.mtime, st.st_mtim) || !same_times(v.ctime, st.st_ctim))
		return 0;
	*kind = v.kind;
	*start = v.start;
	return 1;
}

// Reads bytes [n, want) of the stream that begins at start into buf. The
// new count; *at_end when the file ended first.
static std::size_t read_more(int fd, unsigned char *buf, std::size_t n, std::size_t want, off_t start, bool *at_end)
{
	while (n < want) {
		ssize_t got = pread(fd, buf + n, want - n, start + static_cast<off_t>(n));
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0) {
			// A file that cannot be read is taken as one that ends here.
			*at_end = true;
			break;
		}
		n += static_cast<std::size_t>(got);
	}
	return n;
}

// What the file fd holds from start on, reading no more than the verdict
// needs: 4 bytes, then a header's worth, a page, and on up to size only
// while a cut stream's frame is looked for.
static int probe_from(int fd, unsigned char *buf, std::size_t size, off_t start, bool anywhere, std::size_t *skip)
{
	static constexpr std::size_t steps[] = {4, 32, 4096, probe_window};
	std::size_t n = 0;
	bool at_end = false;
	for (std::size_t step = 0;; step++) {
		const std::size_t want = step < std::size(steps) ? std::min(steps[step], size) : size;
		n = read_more(fd, buf, n, want, start, &at_end);
		int kind = probe_start(buf, n, at_end || n == size, skip, anywhere);
		if (kind != probe_more)
			return kind;
		if (at_end || n == size)
			return probe_not_flac;
	}
}

int probe_file(int fd, unsigned char *buf, std::size_t size, off_t *start, bool anywhere)
{
	struct stat st;
	int kind;
	if (fstat(fd, &st) == 0 && take_verdict(st, &kind, start))
		return kind;
	*start = 0;
	uint64_t tag_bytes = 0;
	for (int tags = 0;;) {
		std::size_t skip = 0;
		kind = probe_from(fd, buf, size, *start, anywhere, &skip);
		if (kind == probe_tag || kind == probe_frames)
			*start += static_cast<off_t>(skip);
		if (kind != probe_tag)
			return kind;
		// Tags are stepped over by their sizes, never read; a chain of
		// them ends the look.
		tag_bytes += skip;
		if (id3v2_chain_ended(++tags, tag_bytes))
			return probe_not_flac;
	}
}

// Opens path for a look at its first bytes: a regular file only.
static int open_regular(const char *path, struct stat *st)
{
	if (stat(path, st) != 0 || !S_ISREG(st->st_mode))
		return -1;
	return open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

int file_holds_flac(const char *path)
{
	struct stat st;
	int fd = open_regular(path, &st);
	if (fd < 0)
		return 0;
	// Not cleared: only the bytes read are looked at.
	static unsigned char buf[probe_file_room];
	off_t start;
	int kind = probe_file(fd, buf, sizeof buf, &start);
	close(fd);
	return kind != probe_not_flac;
}

int file_sniff_flac(const char *path)
{
	struct stat st;
	int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return -1;
	// Read no more than asked: the kernel's read-ahead would fetch far more
	// of every file in a cold tree than the few bytes looked at.
	posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
	// The room of a cut stream's search: only files that begin with a
	// frame's sync code are searched.
	static unsigned char buf[probe_file_room];
	off_t start;
	int kind = fstat(fd, &st) == 0 ? probe_file(fd, buf, sizeof buf, &start, false) : probe_not_flac;
	close(fd);
	if (kind == probe_not_flac)
		return 0;
	if (verdicts.size() < verdicts_max)
		verdicts[{st.st_dev, st.st_ino}] = {st.st_size, st.st_mtim, st.st_ctim, kind, start};
	return 1;
}
