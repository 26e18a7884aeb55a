// Inside the mpris room: the object the desktop talks to, and what its
// properties read.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>

/// Where the player is on the bus, and its two interfaces.
inline constexpr const char *mpris_object = "/org/mpris/MediaPlayer2";
inline constexpr const char *mpris_root_interface = "org.mpris.MediaPlayer2";
inline constexpr const char *mpris_player_interface = "org.mpris.MediaPlayer2.Player";

/// Puts both interfaces on mpris_object (sd-bus adds Properties and
/// Introspectable); the slots hold them until the bus goes. 0, or a
/// negative errno.
int mpris_add_objects(sd_bus *bus, sd_bus_slot **root, sd_bus_slot **player);

/// The entry playing, as mpris_now_playing() took it.
struct mpris_metadata {
	std::string track_id;  // an object path; NoTrack before the first entry
	std::string title, artist, album, genre, url;  // "": not sent
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
/// Repeat as the loop last told it (mpris_changed), or the command line's.
int mpris_repeat_now();
