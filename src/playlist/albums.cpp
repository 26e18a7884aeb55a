// Albums kept as one file: the tracks of a stream's own cue sheet, of a cue
// sheet named on the command line or in a playlist, and of the cue sheets
// of a folder, which replace the files they cut.
#include "playlist/playlist.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

namespace {
// One FILE of a cue sheet: where it is, and its tracks (none: it plays
// whole).
struct album_file {
	std::string name;  // as the sheet writes it
	std::string path;  // resolved; "" when missing
	std::vector<cue_track> tracks;
};

// Everything up to the last "/", which stays; "" for a name without one.
std::string folder_of(const std::string &path)
{
	const std::size_t slash = path.rfind('/');
	return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

void push_tracks(playlist *list, const std::string &path, std::vector<cue_track> *tracks)
{
	for (cue_track &t : *tracks)
		add_entry(list, {path, std::make_shared<const cue_track>(std::move(t))});
}

// The tracks of the stream at path by its own cue sheet (titled by named,
// the sheet that names it as file, where that fits), into *tracks; false
// when it has none that can be used (told when it has one).
bool own_tracks(playlist *list, const std::string &path, const stream_cue_facts &facts,
		std::vector<cue_track> *tracks, const cue_sheet *named = nullptr, const std::string *file = nullptr)
{
	if (stream_tracks(facts, tracks, named, file) != cue_ok)
		walk_report(list, problem_bad_cue, path, false);
	return !tracks->empty();
}

// Reads the cue sheet at cue_path and resolves the FILEs it names, in
// order. false (told) when it cannot be read or a FILE is missing; *files
// then holds those that exist. Named, it is a miss then: audio it names is
// left out.
bool read_album(playlist *list, const std::string &cue_path, bool named, cue_sheet *sheet,
		std::vector<album_file> *files)
{
	std::string text;
	if (!read_whole(cue_path, cue_text_max + 3, &text) || !cue_parse(text, sheet)) {
		walk_report(list, problem_bad_cue, cue_path, named);
		return false;
	}
	const std::string folder = folder_of(cue_path);
	bool missing = false;
	std::set<std::string> seen;
	for (const cue_sheet::track &t : sheet->tracks) {
		if (!seen.insert(t.file).second)
			continue;
		album_file f{t.file, cue_file_path(folder, t.file), {}};
		// A sheet written on Windows names the files in its own code page,
		// which are UTF-8 on disk here.
		if (f.path.empty() && !sheet->utf8)
			f.path = cue_file_path(folder, cp1252_to_utf8(t.file));
		if (f.path.empty())
			missing = true;
		else
			files->push_back(std::move(f));
	}
	if (missing)
		walk_report(list, problem_bad_cue, cue_path, named);
	return !missing;
}

// Cuts each file of the sheet at cue_path into its tracks: by its own cue
// sheet, else by this one. false (told) when this one cannot be used: its
// files then play whole, but for those cut by their own.
bool cut_album(playlist *list, const std::string &cue_path, const cue_sheet &sheet, std::vector<album_file> *files)
{
	bool bad = false, cut = false;
	std::vector<album_file *> by_sheet;
	for (album_file &f : *files) {
		stream_cue_facts facts;
		if (!list->settings->cue_facts(f.path.c_str(), &facts) ||
		    own_tracks(list, f.path, facts, &f.tracks, &sheet, &f.name))
			continue;
		const int verdict = cue_tracks(sheet, &f.name, facts.rate, facts.total, &f.tracks);
		bad |= verdict == cue_bad;
		cut |= verdict == cue_cut;
		by_sheet.push_back(&f);
	}
	if (bad || cut)
		walk_report(list, problem_bad_cue, cue_path, false);
	if (bad)
		for (album_file *f : by_sheet)
			f->tracks.clear();
	return !bad;
}

bool cue_wanted(const playlist *list)
{
	return list->settings->cue && list->settings->cue_facts;
}
}

int playlist_cut_stream(playlist *list, std::size_t at, const std::string &path, const stream_cue_facts &facts)
{
	std::vector<cue_track> tracks;
	if (!cue_wanted(list) || !own_tracks(list, path, facts, &tracks))
		return 0;
	std::vector<playlist_entry> cut;
	for (cue_track &t : tracks)
		cut.push_back({path, std::make_shared<const cue_track>(std::move(t))});
	return static_cast<int>(playlist_replace_entry(list, at, std::move(cut)));
}

std::string cue_file_path(const std::string &folder, const std::string &file)
{
	if (file.empty())
		return "";
	std::string path = file[0] == '/' ? file : folder + file;
	// A FILE of "-" is the file of that name, never standard input.
	if (path == "-")
		path = "./-";
	struct stat st;
	if (stat(path.c_str(), &st) == 0)
		return path;
	const std::size_t slash = path.rfind('/'), dot = path.rfind('.');
	const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
	std::string flac = (has_extension ? path.substr(0, dot) : path) + ".flac";
	return stat(flac.c_str(), &st) == 0 ? flac : "";
}

void add_stream(playlist *list, const std::string &path)
{
	stream_cue_facts facts;
	std::vector<cue_track> tracks;
	if (cue_wanted(list) && list->settings->cue_facts(path.c_str(), &facts) && own_tracks(list, path, facts, &tracks))
		push_tracks(list, path, &tracks);
	else
		add_entry(list, {path});
}

void add_cue_sheet(playlist *list, const std::string &path)
{
	cue_sheet sheet;
	std::vector<album_file> files;
	if (read_album(list, path, true, &sheet, &files) && cue_wanted(list))
		cut_album(list, path, sheet, &files);
	for (album_file &f : files) {
		if (f.tracks.empty())
			add_entry(list, {f.path});
		else
			push_tracks(list, f.path, &f.tracks);
	}
}

void claim_album(playlist *list, const std::string &name)
{
	walk_frame &folder = list->walk[list->walk.size() - 2];
	const std::string prefix = joined(folder.path, ""), cue_path = prefix + name;
	struct stat st;
	auto *is_flac = list->settings->is_flac;
	// A FLAC file named .cue plays in its place.
	if (stat(cue_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (is_flac && is_flac(cue_path.c_str()) > 0))
		return;
	if (list->settings->input)
		list->settings->input(cue_path.c_str());
	cue_sheet sheet;
	std::vector<album_file> files;
	if (!read_album(list, cue_path, false, &sheet, &files))
		return;
	// A sheet for files elsewhere, for files that are not FLAC (or that the
	// walk passes over), or for an album an earlier sheet has cut, is none
	// of this folder's.
	for (const album_file &f : files) {
		const std::string own = f.path.substr(std::min(prefix.size(), f.path.size()));
		if (!f.path.starts_with(prefix) || own.find('/') != std::string::npos || own.starts_with('.') ||
		    folder.albums.contains(own) || (is_flac && is_flac(f.path.c_str()) <= 0))
			return;
	}
	if (!cut_album(list, cue_path, sheet, &files))
		return;
	for (album_file &f : files)
		if (!f.tracks.empty())
			folder.albums[f.path.substr(prefix.size())] = std::move(f.tracks);
}
