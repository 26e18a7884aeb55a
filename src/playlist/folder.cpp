// Folder walks: the playable files below a folder, in natural order.
#include "playlist/playlist.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>

namespace {
struct walk {
	int (*is_flac)(const char *);
	// Every folder entered so far, by device and inode: a symbolic link
	// back up the tree (or across it) is not followed a second time.
	std::set<std::pair<dev_t, ino_t>> entered;
	std::vector<std::string> *out;
};

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

static std::string joined(const std::string &folder, const std::string &name)
{
	return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Appends the playable files below folder, which has been entered.
static void walk_folder(walk &w, const std::string &folder)
{
	DIR *dir = opendir(folder.c_str());
	if (!dir)
		return;
	// All names first, so that no folder stays open while the ones below
	// it are walked.
	std::vector<std::string> names;
	while (const dirent *e = readdir(dir))
		if (e->d_name[0] != '.')
			names.emplace_back(e->d_name);
	closedir(dir);
	std::sort(names.begin(), names.end(),
		  [](const std::string &a, const std::string &b) { return natural_compare(a, b) < 0; });

	for (const std::string &name : names) {
		const std::string path = joined(folder, name);
		struct stat st;
		// stat follows links; a dangling one is skipped like any non-file.
		if (stat(path.c_str(), &st) != 0)
			continue;
		if (S_ISDIR(st.st_mode)) {
			if (w.entered.insert({st.st_dev, st.st_ino}).second)
				walk_folder(w, path);
		} else if (S_ISREG(st.st_mode) && (!w.is_flac || w.is_flac(path.c_str()))) {
			w.out->push_back(path);
		}
	}
}

int folder_entries(const std::string &folder, int (*is_flac)(const char *), std::vector<std::string> *out)
{
	struct stat st;
	DIR *dir = opendir(folder.c_str());
	if (!dir || stat(folder.c_str(), &st) != 0) {
		if (dir)
			closedir(dir);
		return 0;
	}
	closedir(dir);
	walk w = {is_flac, {{st.st_dev, st.st_ino}}, out};
	walk_folder(w, folder);
	return 1;
}
