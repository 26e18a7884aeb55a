// Inside the mpris room: the object the desktop talks to, and what its
// properties read.
#pragma once

#include "mpris/mpris.h"
#include "playback/tags.h"

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>
#include <vector>

/// Where the player is on the bus, and its two interfaces.
inline constexpr const char *mpris_object = "/org/mpris/MediaPlayer2";
inline constexpr const char *mpris_root_interface = "org.mpris.MediaPlayer2";
inline constexpr const char *mpris_player_interface = "org.mpris.MediaPlayer2.Player";

/// Puts both interfaces on mpris_object (sd-bus adds Properties and
/// Introspectable); the slots hold them until the bus goes. 0, or a
/// negative errno.
int mpris_add_objects(sd_bus *bus, sd_bus_slot **root, sd_bus_slot **player);

/// The entry playing, as mpris_now_playing() took it: texts valid for the
/// bus (unicode_text).
struct mpris_metadata {
	std::string track_id;  // an object path; NoTrack before the first entry
	std::string title, album, created, url, art_url;  // "": not sent
	std::vector<std::string> artists, album_artists, genres;  // empty: not sent
	int64_t length_us;     // 0: not stated
	int track_number;      // 0: not sent
	unsigned generation;   // one more for every entry (or link) taken
};
/// What mpris_now_playing() took last.
const mpris_metadata &mpris_playing();
/// Appends the Metadata dictionary (a{sv}) of the entry playing to m.
int mpris_metadata_append(sd_bus_message *m);

/// "Playing", "Paused" or "Stopped", as the stream is now.
const char *mpris_status_now();
/// The position of the stream in microseconds; 0 with none open.
int64_t mpris_position_us();
/// 1 when the open stream can seek.
int mpris_can_seek();
/// 1 while connected to the bus.
int mpris_on_bus();
/// The list as the loop last told it (mpris_changed), or as the command
/// line set it.
const mpris_list &mpris_list_now();

/// The URL of the cover art to show for the stream at path ("": not a
/// file) whose front cover is cover (may be empty): a file of its own,
/// written once, in a private folder of this run; else a cover.jpg,
/// folder.jpg or front.jpg (or .png, or capitalised) beside it. Relative
/// paths are taken from cwd. "" for none.
std::string mpris_art_url(const std::string &path, const cover_art &cover, const std::string &cwd);
/// Removes what mpris_art_url wrote.
void mpris_art_clear();
