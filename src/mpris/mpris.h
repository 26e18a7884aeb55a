// The desktop's front end of playlist mode: MPRIS on the session bus
// (org.mpris.MediaPlayer2.wendrop), so that media keys, the desktop's media
// panel and playerctl see the player and steer it. Its methods ask for the
// playback actions every front end asks for (playback/request.h); the
// playlist loop carries them out and tells this room what changed.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <string>

/// What the command line chose. Set by start-up, read-only afterwards.
struct mpris_settings {
	int enabled;  // playlist mode without --no-mpris
	int shuffle;  // -z: the Shuffle property
	int repeat;   // -r: LoopStatus until the loop says otherwise
};
extern mpris_settings mpris_config;

/// Connects to the session bus and asks for the player's name, waiting a
/// moment (100 ms at most) for the bus to give it, so that the desktop sees
/// the player before any device opens: with no bus, or one that refuses,
/// nothing is printed and playback goes on as without this front end. 1
/// when connected (so far).
int mpris_start();
/// Leaves the bus: what is queued is sent, and the name goes with the
/// connection; the cover art files written for the desktop are removed.
/// Nothing when not connected.
void mpris_stop();
/// For the one poll over the front ends: fills *p with the bus connection
/// (1), else gives 0. Lowers *timeout_ms (-1: no limit) to the bus's own
/// next deadline.
int mpris_watch(pollfd *p, int *timeout_ms);
/// After that poll, with the revents it gave the bus (0: none): takes in
/// the messages waiting, for up to mpris_budget_ms (the rest at the next
/// look), answers them, and queues what they ask for as requests
/// (request_push). A bus that fails is left for good, quietly.
void mpris_take(short revents);
/// How long one look at the bus may take: a burst of calls is served at
/// the bus's own pace, well within what the output device holds.
inline constexpr int mpris_budget_ms = 20;
/// 1 when the last look at the bus ended at its budget with more to take
/// in: a burst is coming.
int mpris_busy();

/// The entry the playlist loop has just opened (file_info holds its stream).
struct mpris_track {
	std::size_t index;     // its place in the list, from 0: its track id
	const char *path;      // as the list names it ("-": standard input)
	int track_number;      // xesam:trackNumber; 0: none (a cue sheet's tracks set it)
};
/// Takes the metadata of the entry just opened (or the next link of its
/// chain, or the entry being awaited, with no stream open yet): whole tag
/// texts, the file's name as title without a TITLE tag, and cover art (the
/// stream's front cover, written once to a private file, else a
/// cover.jpg, folder.jpg or front.jpg beside it); announced with the next
/// mpris_changed().
void mpris_now_playing(const mpris_track &track);
/// The same entry goes on with the next link of its chain: its tags are
/// taken afresh, and it has no track number.
void mpris_next_link();
/// What the loop knows of the list.
struct mpris_list {
	int repeat;       // LoopStatus: Playlist or None
	int shuffle;      // Shuffle
	int can_go_next;  // CanGoNext: an entry follows (or may), or repeat
};
/// Announces (PropertiesChanged) what differs from what the desktop was
/// last told: playback status, metadata, volume, whether it can seek, and
/// the list's state as the loop has it now.
void mpris_changed(const mpris_list &list);
/// Announces a seek (Seeked) with the position it went to.
void mpris_seeked();

/// The file:// URI of path (made absolute with cwd when relative), every
/// byte but the unreserved ones and "/" percent-encoded.
std::string mpris_file_url(const std::string &path, const std::string &cwd);
/// 1 when OpenUri takes uri: its scheme (any case) is one of those
/// SupportedUriSchemes lists.
int mpris_scheme_supported(const std::string &uri);
