// What to play in playlist mode: the arguments expanded into a list of
// entries (folders walked, playlist files read, albums cut into the tracks
// of their cue sheets) as it is played, and the order it is played in.
// Knows nothing of decoding: what counts as FLAC is asked of is_flac, what
// a stream says of its tracks of cue_facts.
#pragma once

#include "playlist/cue.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
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
	problem_too_long,      // the list met playlist_entries_max, a playlist file playlist_file_max, or a
	                       // fetched one source_text_max
	problem_no_entries,    // a playlist file that names nothing
};

/// Playlists read within one another, at most.
inline constexpr int playlist_depth_max = 64;
/// Entries a run's list holds at most (unless its settings say fewer):
/// lists that name each other many times over would otherwise make a walk
/// without end.
inline constexpr std::size_t playlist_entries_max = 1000000;
/// Bytes of a playlist file read at most; the rest is not read.
inline constexpr uint64_t playlist_file_max = 16 << 20;

/// What the command line chose for the list. Set by start-up, read-only
/// afterwards; flags are 0 or 1.
struct playlist_settings {
	int shuffle;    // a random order, a fresh one for every round
	int repeat;     // start again after the last entry
	uint64_t seed;  // of the shuffle
	// The test a folder's regular files must pass: 1 when the file holds a
	// stream the player plays, 0 when not, -1 when it cannot be read (errno
	// says why). Null: every regular file passes.
	int (*is_flac)(const char *path);
	// Asked between entries of the walk: nonzero ends the walk where it is
	// (a signal ends the run). May be null.
	int (*stop)();
	// Told of each problem (a playlist_problem) as the walk meets it, with
	// the error number that made an entry unreadable (0: none). May be null.
	void (*report)(int problem, const char *path, int err);
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
	// Entries the list holds at most.
	std::size_t entries_max = playlist_entries_max;
};
extern playlist_settings playlist_config;

/// One thing to play: a stream, or a track of one.
struct playlist_entry {
	std::string path;
	std::shared_ptr<const cue_track> track{};  // null: the whole stream
	uint64_t order = 0;  // its place in list order (shuffle off)
};

/// A folder's names, read and put in natural order a step at a time, so
/// that no step holds playback up however many names the folder has.
struct folder_listing {
	std::shared_ptr<DIR> dir{};            // open while names are read
	std::vector<std::string> names{};      // read so far; in order once done
	std::vector<std::string> merged{};     // a merge pass's output
	std::size_t width = 0;                 // runs of this many are in order (0: none yet)
	std::size_t low = 0, left = 0, right = 0;  // the pair of runs being merged, and where
	bool done = false;
};

/// A playlist file read piece by piece as its entries are taken: its bytes
/// become text (UTF-8), and its whole lines entries.
struct m3u_reader {
	int encoding = 0;         // an m3u_encoding
	bool started = false;     // a byte-order mark is behind
	std::string cut_bytes{};  // the start of a character cut by the end of a piece
	std::string cut_line{};   // the start of a line cut by the end of a piece
	bool pls = false;         // a PLS list: its bytes gather in cut_bytes until the last piece
};

/// What a step of the walk goes through. A folder's cue sheets are read
/// before its names are taken, one a step: the albums they claim are then
/// known wherever the files come.
enum frame_kind { frame_arguments, frame_list, frame_folder, frame_cue_sheets };

/// A step of the walk still to be taken: the rest of the arguments, of a
/// playlist file's entries or of a folder's names.
struct walk_frame {
	int kind = 0;                      // a frame_kind
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
	folder_listing listing{};  // folders: its names, until they are in order
	// Lists: the file, open while there is more of it to read.
	std::shared_ptr<FILE> file{};
	m3u_reader reader{};
	uint64_t bytes_read = 0;
	std::size_t listed = 0;  // entries its lines named
	bool told = false;       // a line was given for it (not text, too long, unreadable)
};

/// A file as it is now: the same file, unchanged, while these are equal.
struct file_identity {
	dev_t dev = 0;
	ino_t ino = 0;
	off_t size = 0;
	int64_t mtime_ns = 0;
	bool operator==(const file_identity &) const = default;
};

/// What the walk has read and may meet again, as lists that name each
/// other over and over make it: the entries of small playlist files, and
/// those the last stream added gave.
struct walk_memo {
	struct list_read {
		file_identity id;
		std::vector<std::string> items;
	};
	std::map<std::pair<dev_t, ino_t>, list_read> lists{};
	std::size_t list_bytes = 0;  // held in lists
	std::string stream_path{};
	file_identity stream_id{};
	std::vector<playlist_entry> stream_entries{};
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
	bool full = false;                    // it holds playlist_entries_max: the walk ends
	bool shuffle = false;                 // what the walk finds goes in at random among what has not played
	uint64_t random = 0;                  // the shuffle's generator's state
	uint64_t next_order = 0;              // the order of the next entry found
	walk_memo memo{};
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
/// shuffle, a fresh order (else list order). 1 when a round begins, 0 when
/// the list is done.
int playlist_next_round(playlist *list);
/// Switches shuffle at run time. On: what has not played yet (the entries
/// after position) is shuffled, and what the walk finds from then on goes
/// in at random places among it. Off: it plays in list order.
void playlist_shuffle(playlist *list, bool on);
/// Puts what target stands for (a path, a file:// URL, another URL),
/// expanded as an argument is and walked at once, right after the entry at
/// position, in list order too. The number of entries put in.
std::size_t playlist_insert(playlist *list, const std::string &target);
/// 1 when an entry follows position, or may (the walk goes on).
int playlist_has_next(const playlist &list);

/// Takes one step of the walk: one item of the innermost frame, a piece of
/// a playlist file, or a step of a folder's listing. 0 when the walk is
/// done (or stopped, or the list is full), 1 otherwise.
int walk_step(playlist *list);
/// Appends entry to the list, in list order, unless it is full: the entry
/// that meets settings.entries_max ends the walk with "Playlist too long"
/// for the list or folder being walked (or the entry itself).
void add_entry(playlist *list, playlist_entry entry);

/// The walk's own steps (walk.cpp, albums.cpp). Tells settings.report of a
/// problem (with err, the error number behind it, if any), and counts it
/// unless it leaves no audio out (a cue sheet whose files then play whole:
/// counts 0).
void walk_report(playlist *list, int problem, const std::string &path, bool counts = true, int err = 0);
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
/// Pushes the playlist file at path (st: what stat says of it) on the
/// walk, unless it is being read already higher up (it includes itself)
/// or lies too deep (told). Only its first piece is read here, judged by
/// its first bytes (told when it is not text); a small list read whole is
/// kept in the memo, and one kept is not read again. false when it is no
/// playlist to read at all (it cannot be opened).
bool enter_list(playlist *list, const std::string &path, const struct stat &st);
/// Reads the next piece of the list frame f into its items. At its end, at
/// its cap (playlist_file_max), or where it turns out not to be text, the
/// file is closed, and told of but at its end.
void read_list_piece(playlist *list, walk_frame *f);
/// The entries of the playlist file st, as the memo keeps them; null when
/// it was not kept, or has changed since.
const walk_memo::list_read *list_known(const playlist &list, const struct stat &st);
/// The identity of the file stat described.
file_identity file_identity_of(const struct stat &st);
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

/// Opens folder for a listing of its names (but "." and ".." and other
/// names beginning with "."). 0 when the folder cannot be read (errno says
/// why).
int folder_open(const std::string &folder, folder_listing *listing);
/// Takes one short step of the listing: reads a batch of names, puts a run
/// of them in order, or merges part of two runs. 1 once listing->names are
/// all read and in natural order (the folder is closed then).
int folder_step(folder_listing *listing);
/// The names in folder, in natural order, in one go. 0 when the folder
/// cannot be read.
int folder_names(const std::string &folder, std::vector<std::string> *names);
/// Natural order: runs of digits compare as numbers, everything else byte
/// by byte; names equal that way compare byte by byte. <0, 0 or >0.
int natural_compare(std::string_view a, std::string_view b);
/// What a playlist file's first bytes say it is.
enum m3u_encoding { m3u_not_text, m3u_utf8, m3u_utf16le, m3u_utf16be };
/// Bytes of a playlist file judged to tell text from anything else.
inline constexpr std::size_t m3u_look = 4096;
/// Judges a playlist file by its first bytes (first: at least m3u_look of
/// them, or the whole file): UTF-16 with its byte-order mark, or UTF-8 (with
/// a byte-order mark or none) without a NUL, valid within the first
/// m3u_look bytes (a character cut there judged by its start).
int m3u_judge(std::string_view first);
/// Takes the next piece of a playlist file's bytes (last: the file ends
/// with it), judged as r->encoding, and appends the entries of the lines
/// it completes (see m3u_entries) to *entries. false when the piece is not
/// text after all (a NUL, UTF-16 that does not decode): the list ends
/// there.
bool m3u_take(m3u_reader *r, std::string_view piece, bool last, std::string_view list_path,
	      std::vector<std::string> *entries);
/// The text of a playlist file's bytes, as UTF-8: UTF-16 (LE or BE, with
/// its byte-order mark) converted, a UTF-8 byte-order mark dropped. false
/// when it is not text: a NUL anywhere, bytes that are not UTF-8 within the
/// first 4 KiB, UTF-16 that does not decode.
bool m3u_text(std::string_view bytes, std::string *text);
/// The entries of a playlist file's text: one per line, trimmed of blanks
/// and tabs; lines end with LF, CR-LF or CR alone (as old Mac programs
/// write them); blank lines and "#" lines dropped. A file:// URL (host
/// empty or localhost) is its percent-decoded path; a relative path is
/// made relative to the folder of list_path ("-" is the file of that name
/// there, never standard input); another URL (scheme "://") is kept as it
/// is.
std::vector<std::string> m3u_entries(std::string_view text, std::string_view list_path);
/// The path a file:// URL names on this host (host empty or localhost),
/// percent-decoded; "" when it names another host or no usable path.
std::string file_url_path(std::string_view url);
/// 1 when text is a PLS playlist: its first line that is not blank is
/// "[playlist]" (in any case).
bool pls_text(std::string_view text);
/// The entries of a PLS playlist's text: its FileN= values in the order of
/// N (TitleN=, LengthN=, NumberOfEntries= and Version= read past), each
/// made a path as m3u_entries makes a line.
std::vector<std::string> pls_entries(std::string_view text, std::string_view list_path);
/// The entries of a playlist file's text, PLS or M3U by its content.
std::vector<std::string> list_entries(std::string_view text, std::string_view list_path);
/// Puts found at place at of the list's playing order, in list order from
/// first on (those at or after first move on), as many as the list has
/// room for (entries_max). The count put in.
std::size_t playlist_place_entries(playlist *list, std::size_t at, uint64_t first, std::vector<playlist_entry> found);
/// Puts found in the place of entry at, in its place in list order too.
/// The count put in.
std::size_t playlist_replace_entry(playlist *list, std::size_t at, std::vector<playlist_entry> found);
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
