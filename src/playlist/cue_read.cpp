// Cue text read with libcue, in a child process of its own.
//
// libcue is handed text from anywhere (a .cue file, a tag), and its lexer
// has had a remote-code-execution bug (CVE-2023-43641); it also keeps what
// it built of text that does not parse (its Cd), unreachable and never
// freed, and writes a line on standard error for every character and line
// it cannot read. So it reads in a child that is thrown away: a crash or a
// leak ends with it, its messages go to /dev/null without touching this
// process's standard error, and what it read comes back through a pipe.
#include "playlist/cue.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <libcue/libcue.h>

namespace {
std::string text_of(const char *s, bool utf8)
{
	if (!s)
		return "";
	return utf8 ? std::string(s) : cp1252_to_utf8(s);
}

// The sheet as bytes for the pipe: each text its length and bytes, in the
// order of the record; a track's INDEX 01 as a text of digits.
void put(std::string *out, std::string_view text)
{
	const uint32_t n = static_cast<uint32_t>(text.size());
	out->append(reinterpret_cast<const char *>(&n), sizeof n).append(text);
}

bool take(std::string_view *in, std::string *text)
{
	uint32_t n;
	if (in->size() < sizeof n)
		return false;
	memcpy(&n, in->data(), sizeof n);
	in->remove_prefix(sizeof n);
	if (in->size() < n)
		return false;
	text->assign(in->substr(0, n));
	in->remove_prefix(n);
	return true;
}

std::string encoded(const cue_sheet &sheet)
{
	std::string out;
	for (const std::string *s : {&sheet.title, &sheet.performer, &sheet.date, &sheet.genre})
		put(&out, *s);
	put(&out, sheet.utf8 ? "1" : "0");
	for (const cue_sheet::track &t : sheet.tracks) {
		put(&out, t.file);
		put(&out, std::to_string(t.index1));
		put(&out, std::to_string(t.number));
		for (const std::string *s : {&t.title, &t.performer, &t.date, &t.genre})
			put(&out, *s);
	}
	return out;
}

bool decoded(std::string_view in, cue_sheet *sheet)
{
	*sheet = {};
	std::string utf8;
	for (std::string *s : {&sheet->title, &sheet->performer, &sheet->date, &sheet->genre, &utf8})
		if (!take(&in, s))
			return false;
	sheet->utf8 = utf8 == "1";
	while (!in.empty()) {
		cue_sheet::track t{};
		std::string index, number;
		if (!take(&in, &t.file) || !take(&in, &index) || !take(&in, &number))
			return false;
		for (std::string *s : {&t.title, &t.performer, &t.date, &t.genre})
			if (!take(&in, s))
				return false;
		t.index1 = strtol(index.c_str(), nullptr, 10);
		t.number = static_cast<int>(strtol(number.c_str(), nullptr, 10));
		sheet->tracks.push_back(std::move(t));
	}
	return !sheet->tracks.empty();
}

bool write_all(int fd, std::string_view bytes)
{
	while (!bytes.empty()) {
		const ssize_t n = write(fd, bytes.data(), bytes.size());
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		bytes.remove_prefix(static_cast<std::size_t>(n));
	}
	return true;
}

// The child: reads text, writes the sheet to fd. Signals meant for the
// process group (a Ctrl-C) are the parent's business.
[[noreturn]] void read_in_child(std::string_view text, int fd)
{
	sigset_t all;
	sigfillset(&all);
	sigprocmask(SIG_SETMASK, &all, nullptr);
	const int null = open("/dev/null", O_WRONLY);
	if (null >= 0)
		dup2(null, STDERR_FILENO);
	cue_sheet sheet;
	const bool read = cue_parse_here(text, &sheet);
	_exit(read && write_all(fd, encoded(sheet)) ? 0 : 1);
}
}

// A text of libcue's: as written, unless cue_prepare quoted and escaped it
// (at the TRACK line before it, or 0 for the album).
static std::string value_of(const cue_prepared &prepared, int track, int field, const char *s, bool utf8)
{
	for (const auto &[at, escaped] : prepared.escaped)
		if (s && at == track && escaped == field)
			return text_of(cue_unescaped(s).c_str(), utf8);
	return text_of(s, utf8);
}

bool cue_parse_here(std::string_view text, cue_sheet *sheet)
{
	if (text.starts_with("\xef\xbb\xbf"))
		text.remove_prefix(3);
	if (text.size() > cue_text_max)
		return false;
	const bool utf8 = utf8_valid(text);
	const cue_prepared prepared = cue_prepare(text);
	Cd *cd = cue_parse_string(prepared.text.c_str());
	if (!cd)
		return false;
	*sheet = {};
	sheet->utf8 = utf8;
	const Cdtext *album = cd_get_cdtext(cd);
	sheet->title = value_of(prepared, 0, cue_title, cdtext_get(PTI_TITLE, album), utf8);
	sheet->performer = value_of(prepared, 0, cue_performer, cdtext_get(PTI_PERFORMER, album), utf8);
	// libcue reads "REM GENRE" as the album's GENRE.
	sheet->genre = text_of(cdtext_get(PTI_GENRE, album), utf8);
	sheet->date = text_of(rem_get(REM_DATE, cd_get_rem(cd)), utf8);
	const int count = cd_get_ntrack(cd);
	// Each TRACK line makes a track of libcue's.
	const bool numbered = prepared.numbers.size() == static_cast<std::size_t>(count);
	for (int i = 1; i <= count; i++) {
		const Track *t = cd_get_track(cd, i);
		const Cdtext *own = track_get_cdtext(t);
		const char *file = track_get_filename(t);
		// libcue's times wrap past 2^31 frames into negative values.
		const long index1 = track_get_index(t, 1);
		sheet->tracks.push_back({file ? file : "", index1 < 0 ? -1 : index1,
					 value_of(prepared, i, cue_title, cdtext_get(PTI_TITLE, own), utf8),
					 value_of(prepared, i, cue_performer, cdtext_get(PTI_PERFORMER, own), utf8),
					 text_of(rem_get(REM_DATE, track_get_rem(t)), utf8),
					 text_of(cdtext_get(PTI_GENRE, own), utf8),
					 numbered ? prepared.numbers[static_cast<std::size_t>(i - 1)] : 0});
	}
	cd_delete(cd);
	return !sheet->tracks.empty();
}

bool cue_parse(std::string_view text, cue_sheet *sheet)
{
	if (text.size() > cue_text_max + 3)
		return false;
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) != 0)
		return false;
	// Nothing of this process's buffered output may be written twice.
	fflush(stdout);
	fflush(stderr);
	const pid_t child = fork();
	if (child == 0) {
		close(fds[0]);
		read_in_child(text, fds[1]);
	}
	close(fds[1]);
	std::string bytes;
	char buf[65536];
	for (ssize_t n; child > 0 && (n = read(fds[0], buf, sizeof buf)) != 0;) {
		if (n > 0)
			bytes.append(buf, static_cast<std::size_t>(n));
		else if (errno != EINTR)
			break;
	}
	close(fds[0]);
	int status = 0;
	while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR)
		;
	return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && decoded(bytes, sheet);
}
