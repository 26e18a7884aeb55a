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

static mpris_metadata playing = {"/org/mpris/MediaPlayer2/TrackList/NoTrack", "", "", "", "", "", {}, {}, {}, 0, 0, 0};

// Texts for the bus: sd-bus refuses a string that is not valid UTF-8, and
// also one that holds a Unicode noncharacter (U+FFFE, U+FDD0, ...), which
// D-Bus itself allows; one such character in a tag or a name would fail
// every Get of the metadata.
static std::vector<std::string> for_bus(const std::vector<std::string> &texts)
{
	std::vector<std::string> out;
	for (const std::string &t : texts)
		if (!t.empty())
			out.push_back(unicode_text(t));
	return out;
}

// A TRACKNUMBER as taggers write it ("7", "07", "7/12"): its leading
// number; 0 for none.
static int track_number_of(std::string_view text)
{
	int n = 0;
	for (std::size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) {
		n = n * 10 + (text[i] - '0');
		if (n > 99999)
			return 0;
	}
	return n;
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
	const whole_tags &w = s.whole;
	const bool from_stdin = path == "-";
	playing.track_id = "/org/wendrop/track/" + std::to_string(track.index);
	playing.title = unicode_text(w.title);
	// Without a title the desktop would show nothing to know the entry by:
	// its file's name stands in, as the announcement shows it.
	if (playing.title.empty() && !from_stdin)
		playing.title = unicode_text(net_is_url(path) ? net_stripped_url(path) : std::string(display_name(path)));
	playing.artists = for_bus(w.artists);
	playing.album_artists = for_bus(w.album_artists);
	playing.album = unicode_text(w.album);
	playing.genres = for_bus(w.genres);
	playing.created = unicode_text(w.date);
	const std::string cwd = working_folder();
	const bool url = net_is_url(path);
	// A URL is shown, never its credentials or query (a server's token).
	playing.url = from_stdin ? "" : url ? unicode_text(net_stripped_url(path)) : mpris_file_url(path, cwd);
	// Nothing is written, nor looked for, for no desktop; nothing lies
	// beside a URL.
	playing.art_url = mpris_on_bus() ? mpris_art_url(from_stdin || url ? "" : path, s.cover, cwd) : "";
	const uint64_t length = stream_track_length();
	playing.length_us = length && s.format.rate > 0
				    ? static_cast<int64_t>(static_cast<unsigned __int128>(length) * 1000000 /
							   static_cast<unsigned>(s.format.rate))
				    : 0;
	playing.track_number = track.track_number ? track.track_number : track_number_of(w.track_number);
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

// Opens an entry of the dictionary: key, then a variant of type.
static int open_entry(sd_bus_message *m, const char *key, const char *type)
{
	int r = sdbus.message_open_container(m, 'e', "sv");
	if (r >= 0)
		r = sdbus.message_append(m, "s", key);
	return r >= 0 ? sdbus.message_open_container(m, 'v', type) : r;
}

// Closes the variant and the entry that open_entry opened, after r.
static int close_entry(sd_bus_message *m, int r)
{
	if (r >= 0)
		r = sdbus.message_close_container(m);
	return r >= 0 ? sdbus.message_close_container(m) : r;
}

// One entry of the dictionary: key, then a variant of type.
template <typename... T> static int append_entry(sd_bus_message *m, const char *key, const char *type, T... values)
{
	int r = open_entry(m, key, type);
	if (r >= 0)
		r = sdbus.message_append(m, type, values...);
	return close_entry(m, r);
}

// A text entry, left out when empty.
static int append_text(sd_bus_message *m, const char *key, const std::string &text)
{
	return text.empty() ? 0 : append_entry(m, key, "s", text.c_str());
}

// A list entry (as), left out when empty.
static int append_list(sd_bus_message *m, const char *key, const std::vector<std::string> &texts)
{
	if (texts.empty())
		return 0;
	int r = open_entry(m, key, "as");
	if (r >= 0)
		r = sdbus.message_open_container(m, 'a', "s");
	for (const std::string &t : texts)
		if (r >= 0)
			r = sdbus.message_append(m, "s", t.c_str());
	if (r >= 0)
		r = sdbus.message_close_container(m);
	return close_entry(m, r);
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
		r = append_text(m, "xesam:title", p.title);
	if (r >= 0)
		r = append_list(m, "xesam:artist", p.artists);
	if (r >= 0)
		r = append_text(m, "xesam:album", p.album);
	if (r >= 0)
		r = append_list(m, "xesam:albumArtist", p.album_artists);
	if (r >= 0)
		r = append_list(m, "xesam:genre", p.genres);
	if (r >= 0)
		r = append_text(m, "xesam:contentCreated", p.created);
	if (r >= 0)
		r = append_text(m, "xesam:url", p.url);
	if (r >= 0)
		r = append_text(m, "mpris:artUrl", p.art_url);
	if (r >= 0 && p.track_number)
		r = append_entry(m, "xesam:trackNumber", "i", p.track_number);
	return r >= 0 ? sdbus.message_close_container(m) : r;
}
