// PLS playlists, as radio stations publish them: "[playlist]", then
// FileN=, TitleN=, LengthN= lines, NumberOfEntries= and Version=. And the
// playlists that come over the network, which may name only URLs.
#include "net/net.h"
#include "playlist/playlist.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <strings.h>

namespace {
bool starts_nocase(std::string_view s, std::string_view prefix)
{
	return s.size() >= prefix.size() && strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

// The lines of text, each trimmed of blanks, tabs and a CR, blank ones
// dropped.
std::vector<std::string_view> trimmed_lines(std::string_view text)
{
	std::vector<std::string_view> lines;
	while (!text.empty()) {
		const std::size_t nl = text.find('\n');
		std::string_view line = text.substr(0, nl);
		text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
		const std::size_t first = line.find_first_not_of(" \t\r");
		if (first != std::string_view::npos)
			lines.push_back(line.substr(first, line.find_last_not_of(" \t\r") + 1 - first));
	}
	return lines;
}
}

bool pls_text(std::string_view text)
{
	const std::vector<std::string_view> lines = trimmed_lines(text.substr(0, 4096));
	return !lines.empty() && lines[0].size() == 10 && starts_nocase(lines[0], "[playlist]");
}

std::vector<std::string> pls_entries(std::string_view text, std::string_view list_path)
{
	// FileN in the order of N, whatever the order of the lines; a later
	// line for the same N replaces an earlier one.
	std::map<unsigned long, std::string_view> files;
	for (std::string_view line : trimmed_lines(text)) {
		if (!starts_nocase(line, "file"))
			continue;
		const std::size_t eq = line.find('=');
		const std::string_view number = line.substr(4, eq == std::string_view::npos ? 0 : eq - 4);
		if (number.empty() || number.size() > 9 ||
		    !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
			continue;
		std::string_view value = line.substr(eq + 1);
		value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
		if (!value.empty())
			files[strtoul(std::string(number).c_str(), nullptr, 10)] = value;
	}
	// Each value is a line of its own as an M3U file would hold it.
	std::string lines;
	for (const auto &[n, value] : files)
		lines.append(value).push_back('\n');
	return m3u_entries(lines, list_path);
}

std::vector<std::string> list_entries(std::string_view text, std::string_view list_path)
{
	return pls_text(text) ? pls_entries(text, list_path) : m3u_entries(text, list_path);
}

// The types servers give playlists; text alone is no playlist.
static bool list_type(std::string_view type)
{
	type = type.substr(0, type.find(';'));
	for (std::string_view t : {"audio/x-scpls", "audio/x-mpegurl", "audio/mpegurl", "application/x-mpegurl",
				   "application/vnd.apple.mpegurl"})
		if (type.size() == t.size() && starts_nocase(type, t))
			return true;
	return false;
}

// What came over the network is a playlist when it says so: PLS, an
// extended M3U, lines that are all URLs, or the server's word for it. An
// HTML page is none, whatever the server says.
static bool fetched_list(std::string_view text, std::string_view type)
{
	if (pls_text(text))
		return true;
	const std::vector<std::string_view> lines = trimmed_lines(text);
	if (lines.empty() || starts_nocase(lines[0], "#EXTM3U"))
		return !lines.empty();
	if (list_type(type))
		return std::none_of(lines.begin(), lines.end(), [](std::string_view l) { return l[0] == '<'; });
	return std::any_of(lines.begin(), lines.end(), [](std::string_view l) { return l[0] != '#'; }) &&
	       std::all_of(lines.begin(), lines.end(), [](std::string_view l) { return l[0] == '#' || net_is_url(l); });
}

int playlist_insert_fetched(playlist *list, std::size_t at, const std::string &url, std::string_view bytes, bool whole,
			    std::string_view type)
{
	std::string text;
	if (!m3u_text(bytes, &text) || !fetched_list(text, type))
		return -1;
	if (!whole) {
		playlist_replace_entry(list, at, {});
		walk_report(list, problem_too_long, url);
		return 0;
	}
	// A list read once is not read again: a list that names itself, or
	// another that names it back, ends there.
	if (!list->fetched.insert(url).second) {
		playlist_replace_entry(list, at, {});
		return 0;
	}
	std::vector<playlist_entry> found;
	for (std::string &path : list_entries(text, url)) {
		// A page must not make the player read this machine's files.
		if (net_is_url(path))
			found.push_back({std::move(path)});
		else
			walk_report(list, problem_unreadable, path);
	}
	return static_cast<int>(playlist_replace_entry(list, at, std::move(found)));
}
