// The list of what to play: found as it is asked for, and the order of
// each round.
#include "playlist/playlist.h"

#include <time.h>

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
	// A list named after a stream is an input before the stream plays.
	if (settings.input)
		for (const std::string &arg : args)
			if (names_list_or_sheet(arg))
				settings.input(arg.c_str());
	list->walk.push_back({.kind = 0, .items = std::move(args)});
}

// The whole walk, then the first round's order: shuffle draws from all.
static void walk_all(playlist *list)
{
	if (list->walk.empty())
		return;
	while (walk_step(list))
		;
	if (list->settings->shuffle && !list->stopped)
		shuffle_entries(&list->entries, list->settings->seed, 0);
}

int playlist_entry_at(playlist *list, std::size_t i, playlist_entry *entry)
{
	if (list->settings->shuffle)
		walk_all(list);
	while (list->entries.size() <= i && walk_step(list))
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
	while (walk_step(list) && monotonic_us() < end)
		;
}

std::size_t playlist_count(const playlist &list)
{
	return list.walk.empty() && !list.stopped ? list.entries.size() : 0;
}

int playlist_next_round(playlist *list)
{
	if (!list->settings->repeat || list->stopped)
		return 0;
	walk_all(list);
	list->round++;
	list->position = 0;
	if (list->settings->shuffle)
		shuffle_entries(&list->entries, list->settings->seed, list->round);
	return 1;
}
