// The list of what to play: arguments expanded, playlist files read, and
// the order of each round.
#include "playlist/playlist.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <strings.h>
#include <utility>

playlist_settings playlist_config;

namespace {
struct expansion {
	const playlist_settings &settings;
	std::vector<std::string> *paths;
	std::vector<std::string> *empty;
	// The playlist files being read, outermost first.
	std::vector<std::pair<dev_t, ino_t>> reading;
};

bool ends_with_nocase(std::string_view s, std::string_view suffix)
{
	return s.size() >= suffix.size() && strncasecmp(s.data() + s.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

// "scheme://...": a scheme is a letter, then letters, digits, "+", "-", ".".
bool is_url(std::string_view s)
{
	const std::size_t colon = s.find("://");
	if (colon == std::string_view::npos || colon == 0 || !isalpha(static_cast<unsigned char>(s[0])))
		return false;
	return std::all_of(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
		return isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
	});
}

bool read_text(const std::string &path, std::string *text)
{
	std::ifstream in(path, std::ios::binary);
	if (!in)
		return false;
	text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
	return !in.bad();
}
}

std::vector<std::string> m3u_entries(std::string_view text, std::string_view list_path)
{
	constexpr std::string_view bom = "\xef\xbb\xbf";
	if (text.starts_with(bom))
		text.remove_prefix(bom.size());
	// Everything up to the last "/", which stays: "" for a list in the
	// current folder.
	const std::string folder(list_path.substr(0, list_path.rfind('/') + 1));
	std::vector<std::string> entries;
	while (!text.empty()) {
		const std::size_t nl = text.find('\n');
		std::string_view line = text.substr(0, nl);
		text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
		if (line.ends_with('\r'))
			line.remove_suffix(1);
		if (line.find_first_not_of(" \t") == std::string_view::npos || line[0] == '#')
			continue;
		if (line[0] == '/' || is_url(line))
			entries.emplace_back(line);
		else
			entries.push_back(folder + std::string(line));
	}
	return entries;
}

// Appends what path stands for to the list (see playlist_start).
static void expand(expansion &x, const std::string &path)
{
	struct stat st;
	if (path == "-" || stat(path.c_str(), &st) != 0) {
		x.paths->push_back(path);
		return;
	}
	if (S_ISDIR(st.st_mode)) {
		const std::size_t before = x.paths->size();
		if (!folder_entries(path, x.settings.is_flac, x.paths))
			x.paths->push_back(path);
		else if (x.paths->size() == before)
			x.empty->push_back(path);
		return;
	}
	// A FLAC file that happens to be named .m3u plays, as it always did.
	auto *is_flac = x.settings.is_flac;
	std::string text;
	if (!S_ISREG(st.st_mode) || !(ends_with_nocase(path, ".m3u") || ends_with_nocase(path, ".m3u8")) ||
	    (is_flac && is_flac(path.c_str())) || !read_text(path, &text)) {
		x.paths->push_back(path);
		return;
	}
	const std::pair<dev_t, ino_t> id = {st.st_dev, st.st_ino};
	if (std::find(x.reading.begin(), x.reading.end(), id) != x.reading.end())
		return;
	x.reading.push_back(id);
	for (const std::string &entry : m3u_entries(text, path))
		expand(x, entry);
	x.reading.pop_back();
}

// splitmix64: a small, well-mixed generator whose sequence is the same on
// every platform, unlike the standard library's distributions.
static uint64_t next_random(uint64_t *state)
{
	uint64_t z = (*state += 0x9e3779b97f4a7c15ull);
	z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
	z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
	return z ^ (z >> 31);
}

void shuffle_paths(std::vector<std::string> *paths, uint64_t seed, uint64_t round)
{
	uint64_t state = seed ^ (round * 0xd1b54a32d192ed03ull);
	// Fisher-Yates; the modulo's bias is beyond hearing at 2^64.
	for (std::size_t i = paths->size(); i > 1; i--)
		std::swap((*paths)[i - 1], (*paths)[next_random(&state) % i]);
}

void playlist_start(playlist *list, const std::vector<std::string> &args, const playlist_settings &settings,
		    std::vector<std::string> *empty)
{
	list->paths.clear();
	expansion x = {settings, &list->paths, empty, {}};
	for (const std::string &arg : args)
		expand(x, arg);
	list->position = 0;
	list->round = 0;
	if (settings.shuffle)
		shuffle_paths(&list->paths, settings.seed, 0);
}

int playlist_next_round(playlist *list, const playlist_settings &settings)
{
	if (!settings.repeat)
		return 0;
	list->round++;
	list->position = 0;
	if (settings.shuffle)
		shuffle_paths(&list->paths, settings.seed, list->round);
	return 1;
}
