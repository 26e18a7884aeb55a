// What to play in playlist mode: the arguments expanded into a list of
// entries (folders walked, playlist files read, albums cut into the tracks
// of their cue sheets) as it is played, and the order it is played in.
// Knows nothing of decoding: what counts as FLAC is asked of is_flac, what
// a stream says of its tracks of cue_facts.
#pragma once

#include "playlist/cue.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// What an entry of the walk that gives nothing to play is reported as.
enum playlist_problem {
	problem_unreadable,    // a folder, file or link the walk cannot read
	problem_empty_folder,  // a folder named (or listed) without FLAC below it
	problem_too_deep,      // a playlist nested beyond playlist_depth_max
	problem_not_text,      // a playlist file that is not text
	problem_bad_cue,       // a cue sheet that cannot be read or used, or whose tracks pass the stream's end
	problem_too_long,      // a playlist fetched from the network beyond source_text_max
};

/// Playlists read within one another, at most.
inline constexpr int playlist_depth_max = 64;

/// What the command line chose for the list. Set by start-up, read-only
/// afterwards; flags are 0 or 1.
struct playlist_settings {
	int shuffle;    // a random order, a fresh one for every round
	int repeat;     // start again after the last entry
	uint64_t seed;  // of the shuffle
	// The test a folder's regular files must pass: 1 when the file holds a
	// stream the player plays, 0 when not, -1 when it cannot be read. Null:
	// every regular file passes.
	int (*is_flac)(const char *path);
	// Asked between entries of the walk: nonzero ends the walk where it is
	// (a signal ends the run). May be null.
	int (*stop)();
	// Told of each problem (a playlist_problem) as the walk meets it. May be
	// null.
	void (*report)(int problem, const char *path);
	// Cut albums into the tracks of their cue sheets; 0: every stream plays
	// whole, and a cue sheet named only gives the files it names.
	int cue = 0;
	// What the regular file at path says of its tracks; 1 when it was read
	// as FLAC. Null: as for cue 0.
	int (*cue_facts)(const char *path, stream_cue_facts *facts) = nullptr;
	// Told of each playlist file and cue sheet the walk reads, before
	// anything is played from it, and at the start of each argument that
	// names one. May be null.
	void (*input)(const char *path) = nullptr;
};
extern playlist_settings playlist_config;

/// One thing to play: a stream, or a track of one.
struct playlist_entry {
	std::string path;
	std::shared_ptr<const cue_track> track{};  // null: the whole stream
};

/// A step of the walk still to be taken: the rest of the arguments, of a
/// playlist file's entries or of a folder's names.
struct walk_frame {
	int kind = 0;                      // a frame kind (see walk.cpp)
	std::vector<std::string> items{};  // paths (arguments, lists) or names (folders)
	std::size_t next = 0;            // the first item not yet taken
	std::string path{};              // the folder or list; "" for the arguments
	dev_t dev = 0;                   // the list's identity, for lists that include themselves
	ino_t ino = 0;
	std::size_t root = 0;   // folders: the frame of the folder named, which holds:
	std::size_t found = 0;  //   the files found below it
	std::set<std::pair<dev_t, ino_t>> entered{};  // the folders entered below it, and its ancestors
	bool proc = false;      // folders: on a proc file system, whose links are not followed
	// Folders: its FLAC files that its cue sheets replace, by name, with
	// the tracks that take their places.
	std::map<std::string, std::vector<cue_track>> albums{};
};

/// The list, by index, so that a position can move either way. Entries are
/// found by a walk that goes on while they play.
struct playlist {
	std::vector<playlist_entry> entries;  // found so far, in playing order
	std::size_t position = 0;             // the entry playing, or the next one
	uint64_t round = 0;                   // rounds begun before the current one
	std::size_t problems = 0;             // reported so far that leave audio out
	std::vector<walk_frame> walk;         // what is left to walk; empty when done
	bool stopped = false;                 // settings.stop ended the walk
	std::set<std::string> fetched;        // the URLs read as playlists, never read again
	const playlist_settings *settings = nullptr;
};

/// Starts the list of what args stand for, in their order: a folder stands
/// for the files below it that pass is_flac (see walk.cpp); a regular file
/// named *.m3u, *.m3u8 or *.pls (in any case) that does not itself pass is_flac
/// for the entries of that playlist, each of which may again be a folder or
/// a playlist file; anything else ("-", a URL, a missing path) for itself,
/// to fail when its turn comes. A playlist already being read higher up
/// (one that includes itself) is skipped. Nothing is walked yet: entries
/// are found as they are asked for. settings must outlive the list.
void playlist_start(playlist *list, std::vector<std::string> args, const playlist_settings &settings);
/// Copies entry i into *entry, walking on until it exists (with shuffle,
/// the whole walk first, then the order is drawn). 1 when there is one; 0
/// when the list is shorter or the walk was stopped.
int playlist_entry_at(playlist *list, std::size_t i, playlist_entry *entry);
/// Walks on for about budget_us microseconds at most (one entry at least),
/// so that the count becomes known while the list plays.
void playlist_walk_for(playlist *list, int budget_us);
/// The number of entries once the walk is done; 0 while it is not known.
std::size_t playlist_count(const playlist &list);
/// Begins the next round when settings ask for repeat: position 0 and, with
/// shuffle, a fresh order. 1 when a round begins, 0 when the list is done.
int playlist_next_round(playlist *list);

/// Takes one step of the walk: one item of the innermost frame. 0 when the
/// walk is done (or stopped), 1 otherwise.
int walk_step(playlist *list);

/// The walk's own steps (walk.cpp, albums.cpp). Tells settings.report of a
/// problem, and counts it unless it leaves no audio out (a cue sheet whose
/// files then play whole: counts 0).
void walk_report(playlist *list, int problem, const std::string &path, bool counts = true);
/// folder/name, with one "/" between them.
std::string joined(const std::string &folder, const std::string &name);
/// Whether s ends with suffix, in any case.
bool ends_with_nocase(std::string_view s, std::string_view suffix);
/// Whether path is named as a playlist file (.m3u, .m3u8, .pls) or a cue sheet
/// (.cue), in any case.
bool names_list_or_sheet(std::string_view path);
/// Appends the bytes of the file at path to *bytes; false when it cannot be
/// read, or holds more than most (what was read of it then stays).
bool read_whole(const std::string &path, std::size_t most, std::string *bytes);
/// Adds the regular file at path: the tracks of its own cue sheet (a
/// CUESHEET block, else a CUESHEET tag), or the whole stream.
void add_stream(playlist *list, const std::string &path);
/// Adds what the cue sheet at path names: for each FILE in turn (resolved
/// beside the sheet, see cue_file_path), the tracks of its own cue sheet or
/// else this sheet's, or the file whole when the sheet cannot be used
/// (told once) or cue is 0.
void add_cue_sheet(playlist *list, const std::string &path);
/// Notes in the albums of the folder frame below the top of the walk (a
/// frame of the folder's cue sheets) which FLAC files the cue sheet name of
/// that folder replaces with their tracks: all that its FILEs resolve to,
/// when each is a FLAC file of that folder that no earlier sheet claimed.
void claim_album(playlist *list, const std::string &name);
/// The file that a cue sheet in folder (ending with "/", or "" for the
/// current one) names as file: that path, else, when it is missing, the
/// .flac file of the same base name ("Album.wav" in the sheet, "Album.flac"
/// on disk, as rippers leave them). "" when neither exists.
std::string cue_file_path(const std::string &folder, const std::string &file);

/// The names in folder (but "." and ".." and other names beginning with
/// "."), in natural order. 0 when the folder cannot be read.
int folder_names(const std::string &folder, std::vector<std::string> *names);
/// Natural order: runs of digits compare as numbers, everything else byte
/// by byte; names equal that way compare byte by byte. <0, 0 or >0.
int natural_compare(std::string_view a, std::string_view b);
/// The text of a playlist file's bytes, as UTF-8: UTF-16 (LE or BE, with
/// its byte-order mark) converted, a UTF-8 byte-order mark dropped. false
/// when it is not text: a NUL anywhere, bytes that are not UTF-8 within the
/// first 4 KiB, UTF-16 that does not decode.
bool m3u_text(std::string_view bytes, std::string *text);
/// The entries of a playlist file's text: one per line, trimmed of blanks
/// and tabs, with CR-LF line ends, blank lines and "#" lines dropped. A
/// file:// URL (host empty or localhost) is its percent-decoded path; a
/// relative path is made relative to the folder of list_path ("-" is the
/// file of that name there, never standard input); another URL (scheme
/// "://") is kept as it is.
std::vector<std::string> m3u_entries(std::string_view text, std::string_view list_path);
/// 1 when text is a PLS playlist: its first line that is not blank is
/// "[playlist]" (in any case).
bool pls_text(std::string_view text);
/// The entries of a PLS playlist's text: its FileN= values in the order of
/// N (TitleN=, LengthN=, NumberOfEntries= and Version= read past), each
/// made a path as m3u_entries makes a line.
std::vector<std::string> pls_entries(std::string_view text, std::string_view list_path);
/// The entries of a playlist file's text, PLS or M3U by its content.
std::vector<std::string> list_entries(std::string_view text, std::string_view list_path);
/// Entry at (the URL url) held bytes, not FLAC: when they are a playlist
/// (PLS, an extended M3U, lines that are all URLs, or text that its server
/// calls a playlist, type, and that is no HTML page), its entries take
/// the entry's place, only those that are http(s) URLs (relative lines
/// made URLs beside it); any other is reported as unreadable, and bytes
/// cut short (whole false) as too long. A URL read as a playlist once is
/// not read again. The count of entries put in; -1 when the bytes are no
/// playlist and the entry stays.
int playlist_insert_fetched(playlist *list, std::size_t at, const std::string &url, std::string_view bytes, bool whole,
			    std::string_view type);
/// Entry at (the stream at path, played whole) holds tracks by its own cue
/// sheet, as facts tell (a URL's, learnt as it opened): they take its
/// place, as add_stream would have put them. The count put in; 0 when cue
/// sheets are not wanted or it has none that can be used (told).
int playlist_cut_stream(playlist *list, std::size_t at, const std::string &path, const stream_cue_facts &facts);
/// Puts entries into the order of a permutation drawn from seed and round:
/// the same two give the same order.
void shuffle_entries(std::vector<playlist_entry> *entries, uint64_t seed, uint64_t round);
