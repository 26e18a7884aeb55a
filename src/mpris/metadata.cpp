// The Metadata of the entry playing: taken when the loop opens it, from
// the stream's tags and the list's path, and sent as the desktop reads it.
#include "mpris/mpris.h"
#include "mpris/objects.h"
#include "mpris/sdbus.h"
#include "net/net.h"
#include "playback/printable.h"
#include "playback/stream.h"

#include <unistd.h>

#include <climits>
#include <string_view>

static mpris_metadata playing = {"/org/mpris/MediaPlayer2/TrackList/NoTrack", "", "", "", "", "", 0, 0, 0};

// The tag texts are blank-padded to their full width; the desktop shows
// the tag itself.
static std::string trimmed(const char *text)
{
	std::string_view t = text;
	const std::size_t end = t.find_last_not_of(' ');
	return end == std::string_view::npos ? "" : std::string(t.substr(0, end + 1));
}

std::string mpris_file_url(const std::string &path, const std::string &cwd)
{
	const std::string absolute = path.starts_with('/') ? path : cwd + (cwd.ends_with('/') ? "" : "/") + path;
	static const char hex[] = "0123456789ABCDEF";
	std::string url = "file://";
	for (const unsigned char c : absolute) {
		const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
					c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
		if (unreserved) {
			url += static_cast<char>(c);
		} else {
			url += '%';
			url += hex[c >> 4];
			url += hex[c & 15];
		}
	}
	return url;
}

static std::string working_folder()
{
	char buf[PATH_MAX];
	return getcwd(buf, sizeof buf) ? buf : "/";
}

// The entry playing, for the links of its chain.
static struct {
	std::size_t index;
	std::string path;
	int track_number;
} entry;

void mpris_now_playing(const mpris_track &track)
{
	// Copied first: for the next link, track.path is the copy kept before.
	entry = {track.index, track.path, track.track_number};
	const std::string &path = entry.path;
	const stream_record &s = file_info;
	const bool from_stdin = path == "-";
	playing.track_id = "/org/wendrop/track/" + std::to_string(track.index);
	playing.title = trimmed(s.title);
	// Without a title the desktop would show nothing to know the entry by:
	// its file's name stands in, as the announcement shows it.
	if (playing.title.empty() && !from_stdin)
		playing.title = shown_name(display_name(path));
	playing.artist = trimmed(s.artist);
	playing.album = trimmed(s.album);
	playing.genre = trimmed(s.genre);
	// A URL is shown, never its credentials or query (a server's token).
	playing.url = from_stdin ? "" : net_is_url(path) ? shown_name(path) : mpris_file_url(path, working_folder());
	const uint64_t length = stream_track_length();
	playing.length_us = length && s.format.rate > 0
				    ? static_cast<int64_t>(static_cast<unsigned __int128>(length) * 1000000 /
							   static_cast<unsigned>(s.format.rate))
				    : 0;
	playing.track_number = track.track_number;
	playing.generation++;
}

void mpris_next_link()
{
	// A link after the first is no track of the first one's cue sheet.
	mpris_now_playing({entry.index, entry.path.c_str(), 0});
}

const mpris_metadata &mpris_playing()
{
	return playing;
}

// One entry of the dictionary: key, then a variant of type.
template <typename... T> static int append_entry(sd_bus_message *m, const char *key, const char *type, T... values)
{
	int r = sdbus.message_open_container(m, 'e', "sv");
	if (r >= 0)
		r = sdbus.message_append(m, "s", key);
	if (r >= 0)
		r = sdbus.message_open_container(m, 'v', type);
	if (r >= 0)
		r = sdbus.message_append(m, type, values...);
	if (r >= 0)
		r = sdbus.message_close_container(m);
	return r >= 0 ? sdbus.message_close_container(m) : r;
}

// A text entry, left out when empty; as a list of one for the "as" keys.
static int append_text(sd_bus_message *m, const char *key, const std::string &text, bool list)
{
	if (text.empty())
		return 0;
	return list ? append_entry(m, key, "as", 1, text.c_str()) : append_entry(m, key, "s", text.c_str());
}

int mpris_metadata_append(sd_bus_message *m)
{
	const mpris_metadata &p = playing;
	int r = sdbus.message_open_container(m, 'a', "{sv}");
	if (r >= 0)
		r = append_entry(m, "mpris:trackid", "o", p.track_id.c_str());
	if (r >= 0 && p.length_us)
		r = append_entry(m, "mpris:length", "x", p.length_us);
	if (r >= 0)
		r = append_text(m, "xesam:title", p.title, false);
	if (r >= 0)
		r = append_text(m, "xesam:artist", p.artist, true);
	if (r >= 0)
		r = append_text(m, "xesam:album", p.album, false);
	if (r >= 0)
		r = append_text(m, "xesam:genre", p.genre, true);
	if (r >= 0)
		r = append_text(m, "xesam:url", p.url, false);
	if (r >= 0 && p.track_number)
		r = append_entry(m, "xesam:trackNumber", "i", p.track_number);
	return r >= 0 ? sdbus.message_close_container(m) : r;
}
