// The object the desktop talks to: org.mpris.MediaPlayer2 and its Player.
// Methods and property writes become requests, as keys do; getters read
// the stream and what the loop told this room.
#include "mpris/mpris.h"
#include "mpris/objects.h"
#include "mpris/sdbus.h"
#include "playback/request.h"
#include "playback/source.h"
#include "playback/stream.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

// The gain the volume keys reach at most; the desktop's is clamped alike.
static constexpr double volume_max = 2.0;

// What OpenUri plays, and SupportedUriSchemes lists: a scheme more is a
// line more.
static const char *const uri_schemes[] = {
	"file",
	"http",
	"https",
};

int mpris_scheme_supported(const std::string &uri)
{
	const std::size_t colon = uri.find(':');
	return colon != std::string::npos && std::any_of(std::begin(uri_schemes), std::end(uri_schemes), [&](const char *s) {
		       return strlen(s) == colon && strncasecmp(uri.c_str(), s, colon) == 0;
	       });
}

const char *mpris_status_now()
{
	if (!file_info.is_loaded)
		return "Stopped";
	return file_info.is_playing ? "Playing" : "Paused";
}

int64_t mpris_position_us()
{
	const stream_record &s = file_info;
	if (!s.is_loaded || s.format.rate <= 0)
		return 0;
	// From the start of the entry: a cue sheet's track is a range of its
	// stream.
	return static_cast<int64_t>(static_cast<unsigned __int128>(stream_track_position()) * 1000000 /
				    static_cast<unsigned>(s.format.rate));
}

int mpris_can_seek()
{
	return file_info.is_loaded && source_seekable();
}

// Queues a request; the reply to the method says only that it was heard.
static int ask(sd_bus_message *m, const request &r)
{
	request_push(r);
	return sdbus.reply_method_return(m, "");
}

static int ask_stop(sd_bus_message *m, void *, sd_bus_error *) { return ask(m, {act_stop, 0, 0}); }
static int ask_next(sd_bus_message *m, void *, sd_bus_error *) { return ask(m, {act_next, 0, 0}); }
static int ask_previous(sd_bus_message *m, void *, sd_bus_error *) { return ask(m, {act_previous, 0, 0}); }
static int ask_play(sd_bus_message *m, void *, sd_bus_error *) { return ask(m, {act_play, 0, 0}); }
static int ask_pause(sd_bus_message *m, void *, sd_bus_error *) { return ask(m, {act_pause, 0, 0}); }
static int ask_toggle(sd_bus_message *m, void *, sd_bus_error *) { return ask(m, {act_toggle_pause, 0, 0}); }
static int do_nothing(sd_bus_message *m, void *, sd_bus_error *) { return sdbus.reply_method_return(m, ""); }

static int ask_seek(sd_bus_message *m, void *, sd_bus_error *)
{
	int64_t offset;
	int r = sdbus.message_read(m, "x", &offset);
	if (r < 0)
		return r;
	if (!mpris_can_seek())
		return sdbus.reply_method_return(m, "");
	return ask(m, {act_seek_by, offset, 0});
}

static int ask_set_position(sd_bus_message *m, void *, sd_bus_error *)
{
	const char *track;
	int64_t position;
	int r = sdbus.message_read(m, "ox", &track, &position);
	if (r < 0)
		return r;
	// Meant for another entry than the one playing (a client that has not
	// seen the change yet), or out of the entry: ignored.
	const mpris_metadata &p = mpris_playing();
	if (!mpris_can_seek() || p.track_id != track || position < 0 || (p.length_us && position > p.length_us))
		return sdbus.reply_method_return(m, "");
	return ask(m, {act_seek_to, position, 0});
}

// Plays the URI now, the list going on after it, as the next entry would.
static int open_uri(sd_bus_message *m, void *, sd_bus_error *error)
{
	const char *uri;
	int r = sdbus.message_read(m, "s", &uri);
	if (r < 0)
		return r;
	if (!mpris_scheme_supported(uri))
		return sdbus.error_setf(error, SD_BUS_ERROR_NOT_SUPPORTED, "Not a URI wendrop plays: %s", uri);
	return ask(m, {act_open, 0, 0, uri});
}

static int get_true(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *, sd_bus_error *)
{
	return sdbus.message_append(reply, "b", 1);
}

static int get_false(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *, sd_bus_error *)
{
	return sdbus.message_append(reply, "b", 0);
}

static int get_one(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *, sd_bus_error *)
{
	return sdbus.message_append(reply, "d", 1.0);
}

static int get_identity(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
			sd_bus_error *)
{
	return sdbus.message_append(reply, "s", "wendrop");
}

static int get_schemes(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
		       sd_bus_error *)
{
	int r = sdbus.message_open_container(reply, 'a', "s");
	for (const char *scheme : uri_schemes)
		if (r >= 0)
			r = sdbus.message_append(reply, "s", scheme);
	return r >= 0 ? sdbus.message_close_container(reply) : r;
}

static int get_mime_types(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
			  sd_bus_error *)
{
	return sdbus.message_append(reply, "as", 4, "audio/flac", "audio/x-flac", "audio/ogg", "application/ogg");
}

static int get_status(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
		      sd_bus_error *)
{
	return sdbus.message_append(reply, "s", mpris_status_now());
}

static int get_loop(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *, sd_bus_error *)
{
	return sdbus.message_append(reply, "s", mpris_list_now().repeat ? "Playlist" : "None");
}

// wendrop repeats the whole list or nothing.
static int set_loop(sd_bus *, const char *, const char *, const char *, sd_bus_message *value, void *,
		    sd_bus_error *error)
{
	const char *status;
	int r = sdbus.message_read(value, "s", &status);
	if (r < 0)
		return r;
	if (strcmp(status, "Track") == 0)
		return sdbus.error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "wendrop repeats the whole list only");
	if (strcmp(status, "None") != 0 && strcmp(status, "Playlist") != 0)
		return sdbus.error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "No loop status %s", status);
	request_push({act_repeat, strcmp(status, "Playlist") == 0, 0});
	return 0;
}

static int get_shuffle(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
		       sd_bus_error *)
{
	return sdbus.message_append(reply, "b", mpris_list_now().shuffle);
}

static int set_shuffle(sd_bus *, const char *, const char *, const char *, sd_bus_message *value, void *,
		       sd_bus_error *)
{
	int on;
	int r = sdbus.message_read(value, "b", &on);
	if (r >= 0)
		request_push({act_shuffle, on != 0, 0});
	return r < 0 ? r : 0;
}

static int get_can_go_next(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
			   sd_bus_error *)
{
	return sdbus.message_append(reply, "b", mpris_list_now().can_go_next);
}

// Played at the normal rate only; a rate of 0 is a pause, as the
// interface asks.
static int set_rate(sd_bus *, const char *, const char *, const char *, sd_bus_message *value, void *, sd_bus_error *)
{
	double rate;
	int r = sdbus.message_read(value, "d", &rate);
	if (r >= 0 && rate == 0)
		request_push({act_pause, 0, 0});
	return r < 0 ? r : 0;
}

static int get_metadata(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
			sd_bus_error *)
{
	return mpris_metadata_append(reply);
}

static int get_volume(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
		      sd_bus_error *)
{
	return sdbus.message_append(reply, "d", static_cast<double>(volume));
}

static int set_volume(sd_bus *, const char *, const char *, const char *, sd_bus_message *value, void *,
		      sd_bus_error *error)
{
	double gain;
	int r = sdbus.message_read(value, "d", &gain);
	if (r < 0)
		return r;
	if (std::isnan(gain))
		return sdbus.error_set(error, SD_BUS_ERROR_INVALID_ARGS, "Volume is not a number");
	request_push({act_volume_to, 0, static_cast<float>(std::clamp(gain, 0.0, volume_max))});
	return 0;
}

static int get_position(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
			sd_bus_error *)
{
	return sdbus.message_append(reply, "x", mpris_position_us());
}

static int get_can_seek(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
			sd_bus_error *)
{
	return sdbus.message_append(reply, "b", mpris_can_seek());
}

static constexpr uint64_t fixed = SD_BUS_VTABLE_PROPERTY_CONST;
static constexpr uint64_t changes = SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE;

static sd_bus_vtable root_vtable[] = {
	SDBUS_VTABLE_START(0),
	SD_BUS_METHOD("Raise", "", "", do_nothing, 0),
	SD_BUS_METHOD("Quit", "", "", ask_stop, 0),
	SD_BUS_PROPERTY("CanQuit", "b", get_true, 0, fixed),
	SD_BUS_PROPERTY("CanRaise", "b", get_false, 0, fixed),
	SD_BUS_PROPERTY("HasTrackList", "b", get_false, 0, fixed),
	SD_BUS_PROPERTY("Identity", "s", get_identity, 0, fixed),
	SD_BUS_PROPERTY("SupportedUriSchemes", "as", get_schemes, 0, fixed),
	SD_BUS_PROPERTY("SupportedMimeTypes", "as", get_mime_types, 0, fixed),
	SD_BUS_VTABLE_END,
};

static sd_bus_vtable player_vtable[] = {
	SDBUS_VTABLE_START(0),
	SD_BUS_METHOD("Next", "", "", ask_next, 0),
	SD_BUS_METHOD("Previous", "", "", ask_previous, 0),
	SD_BUS_METHOD("Pause", "", "", ask_pause, 0),
	SD_BUS_METHOD("PlayPause", "", "", ask_toggle, 0),
	SD_BUS_METHOD("Stop", "", "", ask_stop, 0),
	SD_BUS_METHOD("Play", "", "", ask_play, 0),
	SD_BUS_METHOD_WITH_NAMES("Seek", "x", SD_BUS_PARAM(Offset), "", , ask_seek, 0),
	SD_BUS_METHOD_WITH_NAMES("SetPosition", "ox", SD_BUS_PARAM(TrackId) SD_BUS_PARAM(Position), "", ,
				 ask_set_position, 0),
	SD_BUS_METHOD_WITH_NAMES("OpenUri", "s", SD_BUS_PARAM(Uri), "", , open_uri, 0),
	SD_BUS_SIGNAL_WITH_NAMES("Seeked", "x", SD_BUS_PARAM(Position), 0),
	SD_BUS_PROPERTY("PlaybackStatus", "s", get_status, 0, changes),
	SD_BUS_WRITABLE_PROPERTY("LoopStatus", "s", get_loop, set_loop, 0, changes),
	SD_BUS_WRITABLE_PROPERTY("Rate", "d", get_one, set_rate, 0, changes),
	SD_BUS_WRITABLE_PROPERTY("Shuffle", "b", get_shuffle, set_shuffle, 0, changes),
	SD_BUS_PROPERTY("Metadata", "a{sv}", get_metadata, 0, changes),
	SD_BUS_WRITABLE_PROPERTY("Volume", "d", get_volume, set_volume, 0, changes),
	SD_BUS_PROPERTY("Position", "x", get_position, 0, 0),
	SD_BUS_PROPERTY("MinimumRate", "d", get_one, 0, fixed),
	SD_BUS_PROPERTY("MaximumRate", "d", get_one, 0, fixed),
	SD_BUS_PROPERTY("CanGoNext", "b", get_can_go_next, 0, changes),
	SD_BUS_PROPERTY("CanGoPrevious", "b", get_true, 0, fixed),
	SD_BUS_PROPERTY("CanPlay", "b", get_true, 0, fixed),
	SD_BUS_PROPERTY("CanPause", "b", get_true, 0, fixed),
	SD_BUS_PROPERTY("CanSeek", "b", get_can_seek, 0, changes),
	SD_BUS_PROPERTY("CanControl", "b", get_true, 0, fixed),
	SD_BUS_VTABLE_END,
};

int mpris_add_objects(sd_bus *bus, sd_bus_slot **root, sd_bus_slot **player)
{
	root_vtable[0].x.start.vtable_format_reference = player_vtable[0].x.start.vtable_format_reference =
		sdbus.object_vtable_format;
	int r = sdbus.add_object_vtable(bus, root, mpris_object, mpris_root_interface, root_vtable, nullptr);
	return r < 0 ? r : sdbus.add_object_vtable(bus, player, mpris_object, mpris_player_interface, player_vtable, nullptr);
}
