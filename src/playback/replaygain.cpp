// ReplayGain: the four tags a tagger writes, and the one gain factor a
// stream plays with, chosen when it opens.
#include "playback/tags.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

// Longer values are not numbers a tagger writes.
static constexpr std::size_t value_max = 32;
// Far beyond any real correction; more is a broken tag, not a loud one.
static constexpr double gain_db_max = 60;

// The length of the decimal number at the start of s ("-7.52", "0.988"):
// an optional sign when signed, digits, an optional fraction of digits. 0
// when s does not begin with one.
static std::size_t number_length(std::string_view s, bool is_signed)
{
	std::size_t i = is_signed && !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0;
	auto digits = [&] {
		std::size_t from = i;
		while (i < s.size() && s[i] >= '0' && s[i] <= '9')
			i++;
		return i > from;
	};
	if (!digits())
		return 0;
	if (i < s.size() && s[i] == '.') {
		i++;
		if (!digits())
			return 0;
	}
	return i;
}

// The gain in dB of a value such as "-7.52 dB"; NaN when malformed.
static double parse_gain(std::string_view value)
{
	const std::size_t n = number_length(value, true);
	std::string_view unit = value.substr(n);
	while (!unit.empty() && unit[0] == ' ')
		unit.remove_prefix(1);
	if (!n || value.size() > value_max || unit.size() != 2 || strncasecmp(unit.data(), "dB", 2) != 0)
		return NAN;
	const double db = strtod(std::string(value.substr(0, n)).c_str(), nullptr);
	return std::fabs(db) <= gain_db_max ? db : NAN;
}

// The peak of a value such as "0.988312"; NaN when malformed.
static double parse_peak(std::string_view value)
{
	const std::size_t n = number_length(value, false);
	if (!n || n != value.size() || value.size() > value_max)
		return NAN;
	return strtod(std::string(value).c_str(), nullptr);
}

int apply_replaygain_comment(replaygain_tags *tags, std::string_view name, std::string_view value)
{
	struct field {
		const char *name;
		double replaygain_tags::*at;
		double (*parse)(std::string_view);
	};
	static constexpr field fields[] = {
		{"REPLAYGAIN_TRACK_GAIN", &replaygain_tags::track_gain, parse_gain},
		{"REPLAYGAIN_ALBUM_GAIN", &replaygain_tags::album_gain, parse_gain},
		{"REPLAYGAIN_TRACK_PEAK", &replaygain_tags::track_peak, parse_peak},
		{"REPLAYGAIN_ALBUM_PEAK", &replaygain_tags::album_peak, parse_peak},
	};
	for (const field &f : fields) {
		if (name.size() == strlen(f.name) && strncasecmp(name.data(), f.name, name.size()) == 0) {
			// The first valid value wins: a broken copy after it voids nothing.
			if (std::isnan(tags->*f.at))
				tags->*f.at = f.parse(value);
			return 1;
		}
	}
	return 0;
}

replaygain_choice replaygain_choose(const replaygain_tags &tags, int mode)
{
	replaygain_choice unity = {1.0f, 0.0, replaygain_off};
	if (mode != replaygain_track && mode != replaygain_album)
		return unity;
	const bool album = mode == replaygain_album;
	double db = album ? tags.album_gain : tags.track_gain;
	double peak = album ? tags.album_peak : tags.track_peak;
	int source = mode;
	if (std::isnan(db)) {
		db = album ? tags.track_gain : tags.album_gain;
		peak = album ? tags.track_peak : tags.album_peak;
		source = album ? replaygain_track : replaygain_album;
	}
	if (std::isnan(db))
		return unity;
	// No clipping is added: the loudest sample stays within full scale.
	// Without a usable peak (absent, malformed, 0) nothing tells how loud
	// the stream is, so no gain above unity is taken.
	const double limit = peak > 0 ? -20 * std::log10(peak) : 0;
	if (db > limit)
		db = limit;
	db += 0.0;  // a limit of -0 dB (peak 1.0) is shown as 0.00
	return {static_cast<float>(std::pow(10.0, db / 20)), db, source};
}
