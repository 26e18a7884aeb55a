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
// A folder's cue sheets are read before its names are taken, one a step:
// the albums they claim are then known wherever the files come.
enum frame_kind { frame_arguments, frame_list, frame_folder, frame_cue_sheets };
constexpr std::size_t new_walk = SIZE_MAX;
}

void walk_report(playlist *list, int problem, const std::string &path, bool counts)
{
	if (counts)
		list->problems++;
	if (list->settings->report)
		list->settings->report(problem, path.c_str());
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
		walk_report(list, problem_unreadable, path);
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
			walk_report(list, problem_unreadable, path);
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
		walk_report(list, problem_unreadable, path);
	} else if (verdict > 0) {
		add_stream(list, path);
		list->walk[root].found++;
	}
}

bool ends_with_nocase(std::string_view s, std::string_view suffix)
{
	return s.size() >= suffix.size() && strncasecmp(s.data() + s.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
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

// A playlist file is read this much at a time.
static constexpr std::size_t list_piece = 65536;
// The bytes of small playlist files the walk keeps, to read none twice.
static constexpr std::size_t memo_list_bytes = 4 << 20;

static file_identity identity(const struct stat &st)
{
	return {st.st_dev, st.st_ino, st.st_size, static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// The entries of the playlist file st, as read before; null when it was
// not, or has changed since.
static const walk_memo::list_read *list_known(const playlist &list, const struct stat &st)
{
	const auto known = list.memo.lists.find({st.st_dev, st.st_ino});
	return known != list.memo.lists.end() && known->second.id == identity(st) ? &known->second : nullptr;
}

// Reads the next piece of the list f into its items, the first judged by
// its first bytes. At its end (or at its cap, or where it turns out not to
// be text) the file is closed, with a line but at its end.
static void read_list_piece(playlist *list, walk_frame *f)
{
	static char piece[list_piece];
	std::size_t got = fread(piece, 1, sizeof piece, f->file.get());
	const bool failed = ferror(f->file.get()), too_long = f->bytes_read + got > playlist_file_max;
	const bool last = got < sizeof piece || too_long;
	if (too_long)
		got = static_cast<std::size_t>(playlist_file_max - f->bytes_read);
	if (f->bytes_read == 0)
		f->reader.encoding = m3u_judge({piece, got});
	f->bytes_read += got;
	f->items.clear();
	f->next = 0;
	const bool text =
		f->reader.encoding != m3u_not_text && m3u_take(&f->reader, {piece, got}, last, f->path, &f->items);
	f->listed += f->items.size();
	if (!last && text)
		return;
	f->file.reset();
	f->told = !text || failed || too_long;
	if (!text)
		walk_report(list, problem_not_text, f->path);
	else if (failed)
		walk_report(list, problem_unreadable, f->path);
	else if (too_long)
		walk_report(list, problem_too_long, f->path);
}

// Pushes the playlist file at path, unless it is being read already higher
// up or lies too deep. Only its first piece is read here. false when it is
// no playlist to read at all.
static bool enter_list(playlist *list, const std::string &path, const struct stat &st)
{
	int depth = 0;
	for (const walk_frame &g : list->walk) {
		if (g.kind != frame_list)
			continue;
		if (g.dev == st.st_dev && g.ino == st.st_ino)
			return true;
		depth++;
	}
	if (depth >= playlist_depth_max) {
		walk_report(list, problem_too_deep, path);
		return true;
	}
	walk_frame f{.kind = frame_list, .path = path, .dev = st.st_dev, .ino = st.st_ino};
	if (const walk_memo::list_read *known = list_known(*list, st)) {
		f.items = known->items;
		f.listed = f.items.size();
		list->walk.push_back(std::move(f));
		return true;
	}
	FILE *file = fopen(path.c_str(), "rbe");
	if (!file)
		return false;
	f.file.reset(file, fclose);
	read_list_piece(list, &f);
	// A small list read whole, and text, is kept.
	walk_memo &memo = list->memo;
	if (!f.file && !f.told && f.bytes_read < list_piece && memo.list_bytes + f.bytes_read <= memo_list_bytes) {
		memo.list_bytes += f.bytes_read;
		memo.lists[{st.st_dev, st.st_ino}] = {identity(st), f.items};
	}
	list->walk.push_back(std::move(f));
	return true;
}

// Adds the stream at path, whose entries are those it gave last time when
// it is the same path to the same file.
static void add_stream_once(playlist *list, const std::string &path, const struct stat &st)
{
	walk_memo &memo = list->memo;
	if (memo.stream_path != path || memo.stream_id != identity(st)) {
		const std::size_t before = list->entries.size();
		add_stream(list, path);
		memo.stream_path = path;
		memo.stream_id = identity(st);
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
		const bool list_name = ends_with_nocase(path, ".m3u") || ends_with_nocase(path, ".m3u8");
		const bool cue_name = ends_with_nocase(path, ".cue");
		const bool known = list_name && list_known(*list, st);
		if (S_ISREG(st.st_mode) && (list_name || cue_name) && (known || !(is_flac && is_flac(path.c_str()) > 0))) {
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
