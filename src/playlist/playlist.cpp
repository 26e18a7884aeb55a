// The list of what to play: found as it is asked for, and the order of
// each round.
#include "playlist/playlist.h"

#include <time.h>

#include <algorithm>
#include <utility>

playlist_settings playlist_config;

// splitmix64: a small, well-mixed generator whose sequence is the same on
// every platform, unlike the standard library's distributions.
static uint64_t next_random(uint64_t *state)
{
	uint64_t z = (*state += 0x9e3779b97f4a7c15ull);
	z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
	z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
	return z ^ (z >> 31);
}

void shuffle_entries(std::vector<playlist_entry> *entries, uint64_t seed, uint64_t round)
{
	uint64_t state = seed ^ (round * 0xd1b54a32d192ed03ull);
	// Fisher-Yates; the modulo's bias is beyond hearing at 2^64.
	for (std::size_t i = entries->size(); i > 1; i--)
		std::swap((*entries)[i - 1], (*entries)[next_random(&state) % i]);
}

void playlist_start(playlist *list, std::vector<std::string> args, const playlist_settings &settings)
{
	*list = {};
	list->settings = &settings;
	list->random = settings.seed;
	list->shuffle = settings.shuffle;
	// A list named after a stream is an input before the stream plays.
	if (settings.input)
		for (const std::string &arg : args)
			if (names_list_or_sheet(arg))
				settings.input(arg.c_str());
	list->walk.push_back({.kind = 0, .items = std::move(args)});
}

// Where what has not played yet begins, entries found by a step that began
// with before of them: after the entry playing, or at the one being looked
// for.
static std::size_t unplayed(const playlist &list, std::size_t before)
{
	return list.position < before ? list.position + 1 : list.position;
}

// One step of the walk. With shuffle, each entry it finds goes to a random
// place among those not yet played (as the inside-out Fisher-Yates shuffle
// draws it): switched on at run time, no walk need end first.
static int step(playlist *list)
{
	const std::size_t before = list->entries.size();
	const int more = walk_step(list);
	std::vector<playlist_entry> &e = list->entries;
	if (list->shuffle)
		for (std::size_t k = before, from = std::min(unplayed(*list, before), before); k < e.size(); k++)
			std::swap(e[k], e[from + next_random(&list->random) % (k - from + 1)]);
	return more;
}

// The whole walk: shuffle from the start draws the first entry from all.
static void walk_all(playlist *list)
{
	while (step(list))
		;
}

int playlist_entry_at(playlist *list, std::size_t i, playlist_entry *entry)
{
	if (list->settings->shuffle)
		walk_all(list);
	while (list->entries.size() <= i && step(list))
		;
	// A walk that was stopped ends the run: nothing more is played.
	if (i >= list->entries.size() || list->stopped)
		return 0;
	*entry = list->entries[i];
	return 1;
}

static int64_t monotonic_us()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void playlist_walk_for(playlist *list, int budget_us)
{
	if (list->walk.empty())
		return;
	const int64_t end = monotonic_us() + budget_us;
	while (step(list) && monotonic_us() < end)
		;
}

std::size_t playlist_count(const playlist &list)
{
	return list.walk.empty() && !list.stopped ? list.entries.size() : 0;
}

// Puts entries from first on back in list order.
static void in_list_order(std::vector<playlist_entry> *entries, std::size_t first)
{
	const auto from = entries->begin() + static_cast<std::ptrdiff_t>(std::min(first, entries->size()));
	const auto by_order = [](const playlist_entry &a, const playlist_entry &b) { return a.order < b.order; };
	if (!std::is_sorted(from, entries->end(), by_order))
		std::sort(from, entries->end(), by_order);
}

int playlist_next_round(playlist *list)
{
	if (!list->settings->repeat || list->stopped)
		return 0;
	walk_all(list);
	list->round++;
	list->position = 0;
	if (list->shuffle)
		shuffle_entries(&list->entries, list->settings->seed, list->round);
	else
		in_list_order(&list->entries, 0);
	return 1;
}

void playlist_shuffle(playlist *list, bool on)
{
	if (on == list->shuffle)
		return;
	list->shuffle = on;
	const std::size_t from = std::min(list->position + 1, list->entries.size());
	if (!on) {
		in_list_order(&list->entries, from);
		return;
	}
	std::vector<playlist_entry> &e = list->entries;
	for (std::size_t i = e.size(); i > from + 1; i--)
		std::swap(e[i - 1], e[from + next_random(&list->random) % (i - from)]);
}

std::size_t playlist_place_entries(playlist *list, std::size_t at, uint64_t first, std::vector<playlist_entry> found)
{
	std::vector<playlist_entry> &e = list->entries;
	const std::size_t most = list->settings->entries_max;
	const std::size_t room = most - std::min(most, e.size());
	const std::size_t n = std::min(found.size(), room);
	if (n == 0)
		return 0;
	for (playlist_entry &x : e)
		if (x.order >= first)
			x.order += n;
	for (std::size_t i = 0; i < n; i++)
		found[i].order = first + i;
	at = std::min(at, e.size());
	e.insert(e.begin() + static_cast<std::ptrdiff_t>(at), std::make_move_iterator(found.begin()),
		 std::make_move_iterator(found.begin() + static_cast<std::ptrdiff_t>(n)));
	list->next_order += n;
	return n;
}

std::size_t playlist_replace_entry(playlist *list, std::size_t at, std::vector<playlist_entry> found)
{
	const uint64_t first = list->entries[at].order;
	list->entries.erase(list->entries.begin() + static_cast<std::ptrdiff_t>(at));
	return playlist_place_entries(list, at, first, std::move(found));
}

std::size_t playlist_insert(playlist *list, const std::string &target)
{
	// A file:// URL names a path here; any other URL stays as it is, to
	// play or fail in its turn.
	const std::string local = file_url_path(target);
	playlist found;
	playlist_start(&found, {local.empty() ? target : local}, *list->settings);
	while (walk_step(&found))
		;
	list->problems += found.problems;
	// In list order they follow the entry playing: those after it move on.
	const std::vector<playlist_entry> &e = list->entries;
	const std::size_t at = std::min(list->position + 1, e.size());
	return playlist_place_entries(list, at, at > 0 ? e[at - 1].order + 1 : 0, std::move(found.entries));
}

int playlist_has_next(const playlist &list)
{
	return list.position + 1 < list.entries.size() || (!list.walk.empty() && !list.stopped && !list.full);
}
