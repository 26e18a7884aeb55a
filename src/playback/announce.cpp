// The announcement printed when a stream opens.
#include "playback/stream.h"
#include "playback/printable.h"
#include "playback/tags.h"
#include "net/net.h"
#include "output/output.h"

#include <cinttypes>
#include <cstring>
#include <strings.h>

std::string_view display_name(std::string_view path)
{
	constexpr std::string_view http = "http://";
	if ((path.size() >= http.size() && strncasecmp(path.data(), http.data(), http.size()) == 0) || net_is_url(path))
		return path;
	std::size_t slash = path.rfind('/');
	return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string remote_name(std::string_view path)
{
	std::size_t dot = path.rfind('.');
	if (dot != std::string_view::npos && dot == path.find(".flac"))
		return std::string(path.substr(0, dot));
	return std::string(path);
}

// A tag text as an "@I ID3:" field: front ends cut that line by byte
// offsets, so it holds the text's whole characters that fit in width bytes,
// padded with blanks to exactly width bytes.
static void append_id3_field(std::string &line, const char *text, int width)
{
	char field[tag_room(tag_width)];
	std::size_t chars;
	const std::size_t w = static_cast<std::size_t>(width);
	std::size_t n = printable_prefix(reinterpret_cast<const unsigned char *>(text), strlen(text), w, w,
					 field, &chars);
	line.append(field, n).append(w - n, ' ');
}

void announce_stream(const char *path, int has_tags)
{
	const stream_record &s = file_info;
	if (playback_config.remote) {
		std::string line = "@I ";
		if (has_tags) {
			line += "ID3:";
			for (const char *text : {s.title, s.artist, s.album})
				append_id3_field(line, text, tag_width);
			append_id3_field(line, s.year, year_width);
			append_id3_field(line, s.comment, tag_width);
			append_id3_field(line, s.genre, tag_width);
		} else {
			line += shown_name(remote_name(path));
		}
		line += '\n';
		fputs(line.c_str(), stderr);
		return;
	}
	if (playback_config.quiet)
		return;
	printf("\nTitle  : %s Artist: %s\nAlbum  : %s Year  : %s\nComment: %s Genre : %s\n", s.title,
	       s.artist, s.album, s.year, s.comment, s.genre);
	printf("\nPlaying FLAC stream from %s\n", shown_name(display_name(path)).c_str());
	// A track states its own samples and seconds.
	const bool track = s.range_start || s.range_end;
	const uint64_t samples = track ? stream_track_length() : s.total_samples;
	const float seconds = !track ? s.total_time
			      : s.stated.rate ? static_cast<float>(samples) / static_cast<float>(s.stated.rate) : 0.0f;
	printf("%d bit, %d Hz, %d channels, %" PRIu64 " total samples, %.2f total seconds\n",
	       s.stated.bits, s.stated.rate, s.stated.channels, samples, static_cast<double>(seconds));
	if (playback_config.replaygain) {
		static const char *const sources[] = {"none", "track", "album"};
		char db[32];
		snprintf(db, sizeof db, "%.2f", s.gain.db);
		// A gain that rounds to nothing has no sign.
		printf("ReplayGain: %s dB (%s)\n", strcmp(db, "-0.00") == 0 ? db + 1 : db, sources[s.gain.source]);
	}
	output_tell_resampling();
}
