// What to play in playlist mode: the arguments expanded into a list of
// paths (folders walked, playlist files read), and the order it is played
// in. Knows nothing of decoding: what counts as FLAC is asked of is_flac.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// What the command line chose for the list. Set by start-up, read-only
/// afterwards; flags are 0 or 1.
struct playlist_settings {
	int shuffle;    // a random order, a fresh one for every round
	int repeat;     // start again after the last entry
	uint64_t seed;  // of the shuffle
	// 1 when the regular file at path holds a stream the player plays: the
	// test a folder's files must pass. Null: every regular file passes.
	int (*is_flac)(const char *path);
};
extern playlist_settings playlist_config;

/// The list, by index, so that a position can move either way.
struct playlist {
	std::vector<std::string> paths;  // in playing order
	std::size_t position = 0;        // the entry playing, or the next one
	uint64_t round = 0;              // rounds begun before the current one
};

/// Expands args, in their order, into list->paths: a folder becomes the
/// files below it that pass is_flac (see folder_entries); a regular file
/// named *.m3u or *.m3u8 (in any case) that does not itself pass is_flac
/// becomes the entries of that playlist, each of which may again be a
/// folder or a playlist file; anything else ("-", a URL, a missing or
/// unreadable path) is kept as it is, to fail when its turn comes. A
/// playlist already being read higher up (one that includes itself) is
/// skipped. Folders that gave nothing are appended to *empty. Then orders
/// the list as settings ask and sets position 0.
void playlist_start(playlist *list, const std::vector<std::string> &args, const playlist_settings &settings,
		    std::vector<std::string> *empty);
/// Begins the next round when settings ask for repeat: position 0 and, with
/// shuffle, a fresh order. 1 when a round begins, 0 when the list is done.
int playlist_next_round(playlist *list, const playlist_settings &settings);

/// The files below folder that pass is_flac, in natural order of their
/// paths below it (each folder's names sorted, sub-folders in their place).
/// Names beginning with "." are skipped; symbolic links are followed, but
/// a folder already entered in this walk is not entered again. Paths are
/// folder joined with the names. 0 when folder cannot be read; 1 otherwise.
int folder_entries(const std::string &folder, int (*is_flac)(const char *), std::vector<std::string> *out);
/// Natural order: runs of digits compare as numbers, everything else byte
/// by byte; names equal that way compare byte by byte. <0, 0 or >0.
int natural_compare(std::string_view a, std::string_view b);
/// The entries of a playlist file's text: one per line, with a UTF-8
/// byte-order mark, CR-LF line ends, blank lines and "#" lines dropped. A
/// relative path is made relative to the folder of list_path; a URL
/// (scheme "://") is kept as it is.
std::vector<std::string> m3u_entries(std::string_view text, std::string_view list_path);
/// Puts paths into the order of a permutation drawn from seed and round:
/// the same two give the same order.
void shuffle_paths(std::vector<std::string> *paths, uint64_t seed, uint64_t round);
