// The announcement printed when a stream opens.
#include "playback/stream.h"

#include <cinttypes>
#include <strings.h>

std::string_view display_name(std::string_view path)
{
	constexpr std::string_view http = "http://";
	if (path.size() >= http.size() && strncasecmp(path.data(), http.data(), http.size()) == 0)
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

void announce_stream(const char *path, int has_tags)
{
	const stream_record &s = file_info;
	if (playback_config.remote) {
		if (has_tags)
			fprintf(stderr, "@I ID3:%s%s%s%s%s%s\n", s.title, s.artist, s.album, s.year,
				s.comment, s.genre);
		else
			fprintf(stderr, "@I %s\n", remote_name(path).c_str());
		return;
	}
	if (playback_config.quiet)
		return;
	printf("\nTitle  : %s Artist: %s\nAlbum  : %s Year  : %s\nComment: %s Genre : %s\n", s.title,
	       s.artist, s.album, s.year, s.comment, s.genre);
	std::string_view name = display_name(path);
	printf("\nPlaying FLAC stream from %.*s\n", static_cast<int>(name.size()), name.data());
	printf("%d bit, %d Hz, %d channels, %" PRIu64 " total samples, %.2f total seconds\n",
	       s.bits_per_sample, s.format.rate, s.format.channels, s.total_samples,
	       static_cast<double>(s.total_time));
}
