// The walk that finds the entries: arguments, playlist files and folders,
// one item at a time, on a stack of its own, so that no input's depth can
// exhaust the process's stack and the first file plays while the walk goes
// on.
//
// Folders: the files below a folder that pass is_flac, in natural order of
// their paths below it (each folder's names sorted, sub-folders in their
// place). Names beginning with "." are skipped; symbolic links are
// followed, but a folder already entered in this walk, or one that holds
// the folder named (its ancestors), is not entered again, and on a proc
// file system (/proc) no link is followed: /proc/self/root would be the
// whole file system again.
#include "playlist/playlist.h"

#include <sys/stat.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <iterator>
#include <cstdlib>
#include <strings.h>

namespace {
constexpr std::size_t new_walk = SIZE_MAX;
}

void walk_report(playlist *list, int problem, const std::string &path, bool counts, int err)
{
	if (counts)
		list->problems++;
	if (list->settings->report)
		list->settings->report(problem, path.c_str(), err);
}

std::string joined(const std::string &folder, const std::string &name)
{
	return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

static bool on_proc(const std::string &path)
{
#ifdef __linux__
	struct statfs fs;
	return statfs(path.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
#else
	(void)path;
	return false;
#endif
}

// The folder named, and every folder above it, as entered: a link back up
// is not followed.
static void enter_ancestors(walk_frame *f, const struct stat &st)
{
	f->entered.insert({st.st_dev, st.st_ino});
	char *real = realpath(f->path.c_str(), nullptr);
	if (!real)
		return;
	const std::string r = real;
	free(real);
	for (std::size_t slash = 0; slash != std::string::npos; slash = r.find('/', slash + 1)) {
		struct stat above;
		if (stat(slash == 0 ? "/" : r.substr(0, slash).c_str(), &above) == 0)
			f->entered.insert({above.st_dev, above.st_ino});
	}
}

// Pushes the folder at path, to be listed, then walked name by name: as a
// walk of its own (root new_walk) or below the folder of frame root.
static void enter_folder(playlist *list, const std::string &path, const struct stat &st, std::size_t root)
{
	walk_frame f{.kind = frame_folder, .path = path};
	if (!folder_open(path, &f.listing)) {
		walk_report(list, problem_unreadable, path, true, errno);
		return;
	}
	f.proc = on_proc(path);
	f.root = root == new_walk ? list->walk.size() : root;
	if (root == new_walk)
		enter_ancestors(&f, st);
	list->walk.push_back(std::move(f));
}

// A step of the listing of the folder on top. Once its names are in
// order, its cue sheets are read before them.
static void list_folder(playlist *list)
{
	walk_frame &f = list->walk.back();
	if (!folder_step(&f.listing))
		return;
	f.items = std::move(f.listing.names);
	f.listing = {.done = true};
	std::vector<std::string> sheets;
	if (list->settings->cue && list->settings->cue_facts)
		std::copy_if(f.items.begin(), f.items.end(), std::back_inserter(sheets),
			     [](const std::string &name) { return ends_with_nocase(name, ".cue"); });
	if (!sheets.empty())
		list->walk.push_back({.kind = frame_cue_sheets, .items = std::move(sheets)});
}

// One name of the folder of the innermost frame.
static void take_name(playlist *list, const std::string &name)
{
	const walk_frame &folder = list->walk.back();
	const std::string path = joined(folder.path, name);
	const std::size_t root = folder.root;
	struct stat st;
	if (folder.proc && (lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)))
		return;
	if (stat(path.c_str(), &st) != 0) {
		// Gone since the folder was read: nothing to say. A dangling link,
		// a loop of links, a path too long or a folder not searchable: the
		// entry cannot be read.
		const int error = errno;
		if (error != ENOENT || lstat(path.c_str(), &st) == 0)
			walk_report(list, problem_unreadable, path, true, error);
		return;
	}
	if (S_ISDIR(st.st_mode)) {
		if (list->walk[root].entered.insert({st.st_dev, st.st_ino}).second)
			enter_folder(list, path, st, root);
		return;
	}
	if (!S_ISREG(st.st_mode))
		return;
	// An album its cue sheet replaces: its tracks take its place.
	walk_frame &here = list->walk.back();
	if (auto album = here.albums.find(name); album != here.albums.end()) {
		for (cue_track &t : album->second)
			add_entry(list, {path, std::make_shared<const cue_track>(std::move(t))});
		here.albums.erase(album);
		list->walk[root].found++;
		return;
	}
	const int verdict = list->settings->is_flac ? list->settings->is_flac(path.c_str()) : 1;
	if (verdict < 0) {
		walk_report(list, problem_unreadable, path, true, errno);
	} else if (verdict > 0) {
		add_stream(list, path);
		list->walk[root].found++;
	}
}

bool ends_with_nocase(std::string_view s, std::string_view suffix)
{
	return s.size() >= suffix.size() && strncasecmp(s.data() + s.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

bool names_list_or_sheet(std::string_view path)
{
	return ends_with_nocase(path, ".m3u") || ends_with_nocase(path, ".m3u8") || ends_with_nocase(path, ".pls") ||
	       ends_with_nocase(path, ".cue");
}

bool read_whole(const std::string &path, std::size_t most, std::string *bytes)
{
	FILE *f = fopen(path.c_str(), "rbe");
	if (!f)
		return false;
	char buf[65536];
	std::size_t n;
	while (bytes->size() <= most && (n = fread(buf, 1, sizeof buf, f)) > 0)
		bytes->append(buf, n);
	const bool ok = !ferror(f) && bytes->size() <= most;
	fclose(f);
	return ok;
}

// Adds the stream at path, whose entries are those it gave last time when
// it is the same path to the same file.
static void add_stream_once(playlist *list, const std::string &path, const struct stat &st)
{
	walk_memo &memo = list->memo;
	if (memo.stream_path != path || memo.stream_id != file_identity_of(st)) {
		const std::size_t before = list->entries.size();
		add_stream(list, path);
		memo.stream_path = path;
		memo.stream_id = file_identity_of(st);
		memo.stream_entries.assign(list->entries.begin() + static_cast<std::ptrdiff_t>(std::min(before, list->entries.size())),
					   list->entries.end());
		return;
	}
	for (const playlist_entry &e : memo.stream_entries)
		add_entry(list, {e.path, e.track});
}

// One path of the arguments or of a playlist file.
static void take_path(playlist *list, const std::string &path)
{
	struct stat st;
	if (path != "-" && stat(path.c_str(), &st) == 0) {
		if (S_ISDIR(st.st_mode)) {
			enter_folder(list, path, st, new_walk);
			return;
		}
		// A FLAC file that happens to be named .m3u plays, as it always
		// did; so does one named .cue.
		auto *is_flac = list->settings->is_flac;
		const bool cue_name = ends_with_nocase(path, ".cue");
		// A list read before (and unchanged) was not FLAC then.
		const bool known = !cue_name && names_list_or_sheet(path) && list_known(*list, st);
		if (S_ISREG(st.st_mode) && names_list_or_sheet(path) && (known || !(is_flac && is_flac(path.c_str()) > 0))) {
			if (list->settings->input)
				list->settings->input(path.c_str());
			if (cue_name) {
				add_cue_sheet(list, path);
				return;
			}
			if (enter_list(list, path, st))
				return;
		}
		if (S_ISREG(st.st_mode)) {
			add_stream_once(list, path, st);
			return;
		}
	}
	// Anything else fails or plays in its turn.
	add_entry(list, {path});
}

// The list or folder being walked, for a line about it; "" for the
// arguments.
static std::string walk_place(const playlist &list)
{
	for (auto f = list.walk.rbegin(); f != list.walk.rend(); ++f)
		if (!f->path.empty())
			return f->path;
	return "";
}

void add_entry(playlist *list, playlist_entry entry)
{
	if (list->full)
		return;
	if (list->entries.size() >= list->settings->entries_max) {
		// Not ended here: the step that met the cap may still hold frames.
		list->full = true;
		const std::string place = walk_place(*list);
		walk_report(list, problem_too_long, place.empty() ? entry.path : place);
		return;
	}
	entry.order = list->next_order++;
	list->entries.push_back(std::move(entry));
}

int walk_step(playlist *list)
{
	std::vector<walk_frame> &walk = list->walk;
	if (walk.empty())
		return 0;
	if (list->settings->stop && list->settings->stop()) {
		list->stopped = true;
		walk.clear();
		return 0;
	}
	if (list->full) {
		walk.clear();
		return 0;
	}
	walk_frame &top = walk.back();
	if (top.kind == frame_folder && !top.listing.done) {
		list_folder(list);
		return 1;
	}
	if (top.next == top.items.size()) {
		if (top.kind == frame_list && top.file) {
			read_list_piece(list, &top);
			return 1;
		}
		if (top.kind == frame_list && top.listed == 0 && !top.told)
			walk_report(list, problem_no_entries, top.path);
		if (top.kind == frame_folder && top.root == walk.size() - 1 && top.found == 0)
			walk_report(list, problem_empty_folder, top.path);
		walk.pop_back();
		return !walk.empty();
	}
	const std::string item = std::move(top.items[top.next++]);
	if (top.kind == frame_folder)
		take_name(list, item);
	else if (top.kind == frame_cue_sheets)
		claim_album(list, item);
	else
		take_path(list, item);
	return 1;
}
