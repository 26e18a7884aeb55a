// A folder's names, in natural order: read and sorted a step at a time.
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

namespace {
// The work of one step, small enough to fit between two frames.
constexpr std::size_t names_per_step = 1024;  // read, or sorted as a run
constexpr std::size_t moves_per_step = 4096;  // merged

bool before(const std::string &a, const std::string &b)
{
	return natural_compare(a, b) < 0;
}

// A merge pass over runs of l->width names begins.
void start_pass(folder_listing *l)
{
	l->merged.resize(l->names.size());
	l->low = 0;
	l->left = 0;
	l->right = std::min(l->width, l->names.size());
}

// Merges up to moves_per_step names of the pass under way: the pair of
// runs from l->low, left and right where they have got to.
void merge_some(folder_listing *l)
{
	std::vector<std::string> &in = l->names;
	const std::size_t n = in.size();
	for (std::size_t moves = 0; moves < moves_per_step && l->low < n; moves++) {
		const std::size_t mid = std::min(l->low + l->width, n), high = std::min(l->low + 2 * l->width, n);
		const std::size_t out = l->left + l->right - mid;
		// The left run first where they are equal: the order stays stable.
		if (l->right == high || (l->left < mid && !before(in[l->right], in[l->left])))
			l->merged[out] = std::move(in[l->left++]);
		else
			l->merged[out] = std::move(in[l->right++]);
		if (l->left == mid && l->right == high) {
			l->low = high;
			l->left = high;
			l->right = std::min(high + l->width, n);
		}
	}
	if (l->low < n)
		return;
	in.swap(l->merged);
	l->width *= 2;
	if (l->width >= n) {
		l->merged = {};
		l->done = true;
	} else {
		start_pass(l);
	}
}
}

int folder_open(const std::string &folder, folder_listing *listing)
{
	*listing = {};
	DIR *dir = opendir(folder.c_str());
	if (!dir)
		return 0;
	listing->dir.reset(dir, closedir);
	return 1;
}

int folder_step(folder_listing *l)
{
	if (l->done)
		return 1;
	if (l->dir) {
		// All names first, so that no folder stays open while the ones
		// below it are walked.
		for (std::size_t i = 0; i < names_per_step; i++) {
			const dirent *e = readdir(l->dir.get());
			if (!e) {
				l->dir.reset();
				break;
			}
			if (e->d_name[0] != '.')
				l->names.emplace_back(e->d_name);
		}
		return 0;
	}
	const std::size_t n = l->names.size();
	if (l->width == 0) {
		// Runs put in order one a step, then merged pass by pass.
		const std::size_t run = l->low, end = std::min(run + names_per_step, n);
		std::sort(l->names.begin() + static_cast<std::ptrdiff_t>(run), l->names.begin() + static_cast<std::ptrdiff_t>(end),
			  before);
		l->low = end;
		if (end < n)
			return 0;
		l->width = names_per_step;
		if (l->width >= n) {
			l->done = true;
			return 1;
		}
		start_pass(l);
		return 0;
	}
	merge_some(l);
	return l->done;
}

int folder_names(const std::string &folder, std::vector<std::string> *names)
{
	folder_listing l;
	if (!folder_open(folder, &l))
		return 0;
	while (!folder_step(&l))
		;
	*names = std::move(l.names);
	return 1;
}
