// A folder's names, in natural order.
#include "playlist/playlist.h"

#include <dirent.h>

#include <algorithm>

namespace {
bool is_digit(char c)
{
	return c >= '0' && c <= '9';
}

// The end of the run of digits that starts at i.
std::size_t digits_end(std::string_view s, std::size_t i)
{
	while (i < s.size() && is_digit(s[i]))
		i++;
	return i;
}
}

int natural_compare(std::string_view a, std::string_view b)
{
	std::size_t i = 0, j = 0;
	while (i < a.size() && j < b.size()) {
		if (is_digit(a[i]) && is_digit(b[j])) {
			// Compared as numbers of any length: without leading zeros,
			// the longer run is the larger, then digit by digit.
			const std::size_t a_end = digits_end(a, i), b_end = digits_end(b, j);
			while (i + 1 < a_end && a[i] == '0')
				i++;
			while (j + 1 < b_end && b[j] == '0')
				j++;
			if (a_end - i != b_end - j)
				return a_end - i < b_end - j ? -1 : 1;
			if (int c = a.substr(i, a_end - i).compare(b.substr(j, b_end - j)))
				return c < 0 ? -1 : 1;
			i = a_end;
			j = b_end;
			continue;
		}
		if (a[i] != b[j])
			return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
		i++;
		j++;
	}
	if (i < a.size() || j < b.size())
		return i < a.size() ? 1 : -1;
	// "01" and "1" are the same number; the order must still be total.
	int c = a.compare(b);
	return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int folder_names(const std::string &folder, std::vector<std::string> *names)
{
	DIR *dir = opendir(folder.c_str());
	if (!dir)
		return 0;
	// All names first, so that no folder stays open while the ones below
	// it are walked.
	names->clear();
	while (const dirent *e = readdir(dir))
		if (e->d_name[0] != '.')
			names->emplace_back(e->d_name);
	closedir(dir);
	std::sort(names->begin(), names->end(),
		  [](const std::string &a, const std::string &b) { return natural_compare(a, b) < 0; });
	return 1;
}
