// The connection to the session bus: opened without waiting for any answer,
// watched in the one poll over the front ends, left on every way out. No
// thread: messages are taken in between frames, while paused and while a
// stream's data is awaited, as keys are.
#include "mpris/mpris.h"
#include "mpris/objects.h"
#include "mpris/sdbus.h"
#include "playback/stream.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

mpris_settings mpris_config;

static const char *const player_name = "org.mpris.MediaPlayer2.wendrop";
// How long the end of the run may wait for what is queued to go out.
static constexpr int flush_ms = 100;
// How long the start may wait for the bus to give the player its name, so
// that the desktop sees it at once and not after the first device has
// opened and frames have played (the handshake takes a round trip a step):
// a bus that does not answer costs no more.
static constexpr int name_wait_ms = 100;
// How long a look at the bus that has read it dry waits for more of a
// burst: the bus daemon has only about fifty small messages in flight to a
// connection (their socket buffers fill), so a burst comes in as fast as
// it is read, and stops coming while it is not.
static constexpr int burst_gap_ms = 5;
// The bus daemon's answer to RequestName when another owner has the name.
static constexpr uint32_t name_exists = 3;

static struct {
	sd_bus *bus;
	sd_bus_slot *root, *player, *name_request;
	uint64_t deadline;  // the bus's next timeout, CLOCK_MONOTONIC µs; 0: none
	int asked_instance;  // the plain name was taken
	int busy;            // the last look ended at its budget
	mpris_list list;
	// What the desktop was last told.
	struct {
		const char *status;
		unsigned generation;
		float volume;
		int can_seek;
		mpris_list list;
	} told;
} mpris;

static uint64_t monotonic_us()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

static void leave()
{
	mpris.name_request = sdbus.slot_unref(mpris.name_request);
	mpris.root = sdbus.slot_unref(mpris.root);
	mpris.player = sdbus.slot_unref(mpris.player);
	mpris.bus = sdbus.close_unref(mpris.bus);
	mpris.busy = 0;
}

static int name_answered(sd_bus_message *m, void *, sd_bus_error *)
{
	mpris.name_request = sdbus.slot_unref(mpris.name_request);
	uint32_t answer = 0;
	if (sdbus.message_is_method_error(m, nullptr) || sdbus.message_read(m, "u", &answer) < 0)
		return 0;
	// Another wendrop has the name: each instance is seen by a name of its
	// own, as the interface allows.
	if (answer == name_exists && !mpris.asked_instance++) {
		const std::string instance = std::string(player_name) + ".instance" + std::to_string(getpid());
		sdbus.request_name_async(mpris.bus, &mpris.name_request, instance.c_str(), 0, name_answered, nullptr);
	}
	return 0;
}

// Takes the bus's answers in until the name asked for is the player's (or
// refused), for name_wait_ms at most.
static void await_name()
{
	const uint64_t until = monotonic_us() + name_wait_ms * 1000u;
	for (;;) {
		int r;
		while ((r = sdbus.process(mpris.bus, nullptr)) > 0)
			;
		if (r < 0) {
			leave();
			return;
		}
		const uint64_t now = monotonic_us();
		if (!mpris.name_request || now >= until)
			return;
		const int events = sdbus.get_events(mpris.bus);
		pollfd p = {sdbus.get_fd(mpris.bus), static_cast<short>(events), 0};
		if (p.fd < 0 || events < 0 || poll(&p, 1, static_cast<int>((until - now + 999) / 1000)) < 0)
			return;
	}
}

int mpris_start()
{
	mpris.list = mpris.told.list = {mpris_config.repeat, mpris_config.shuffle, 1};
	mpris.told.status = "Stopped";
	mpris.told.volume = volume;
	// Without a bus to be seen, sd-bus is not even loaded.
	if (!mpris_config.enabled || !sdbus_address_known() || !sdbus_load())
		return 0;
	// Connecting only starts the handshake; a bus that refuses ends it at
	// once, and one that is slow costs the start name_wait_ms at most.
	if (sdbus.open_user(&mpris.bus) < 0) {
		mpris.bus = nullptr;
		return 0;
	}
	if (mpris_add_objects(mpris.bus, &mpris.root, &mpris.player) < 0 ||
	    sdbus.request_name_async(mpris.bus, &mpris.name_request, player_name, 0, name_answered, nullptr) < 0) {
		leave();
		return 0;
	}
	await_name();
	return mpris.bus != nullptr;
}

void mpris_stop()
{
	mpris_art_clear();
	if (!mpris.bus)
		return;
	// sd_bus_flush() waits without limit for a bus that does not read, or
	// has not finished the handshake: what is queued is given a moment.
	const uint64_t until = monotonic_us() + flush_ms * 1000u;
	for (uint64_t now = monotonic_us(); now < until; now = monotonic_us()) {
		const int events = sdbus.get_events(mpris.bus);
		if (events < 0 || !(events & POLLOUT))
			break;
		pollfd p = {sdbus.get_fd(mpris.bus), static_cast<short>(events), 0};
		if (poll(&p, 1, static_cast<int>((until - now + 999) / 1000)) < 0 || sdbus.process(mpris.bus, nullptr) < 0)
			break;
	}
	leave();
}

int mpris_watch(pollfd *p, int *timeout_ms)
{
	if (!mpris.bus)
		return 0;
	const int fd = sdbus.get_fd(mpris.bus);
	const int events = sdbus.get_events(mpris.bus);
	uint64_t until = UINT64_MAX;
	if (fd < 0 || events < 0 || sdbus.get_timeout(mpris.bus, &until) < 0) {
		leave();
		return 0;
	}
	mpris.deadline = 0;
	if (until != UINT64_MAX) {
		mpris.deadline = until ? until : 1;
		const uint64_t now = monotonic_us();
		const uint64_t ms = until <= now ? 0 : (until - now + 999) / 1000;
		if (*timeout_ms < 0 || ms < static_cast<uint64_t>(*timeout_ms))
			*timeout_ms = static_cast<int>(ms);
	}
	*p = {fd, static_cast<short>(events), 0};
	return 1;
}

void mpris_take(short revents)
{
	if (!mpris.bus || (!revents && (!mpris.deadline || monotonic_us() < mpris.deadline)))
		return;
	// A client that floods the bus must not hold up the next frame for
	// long, nor wait for a frame a message: what does not fit in the
	// budget waits for the next look (the bus's timeout is then 0).
	const uint64_t until = monotonic_us() + mpris_budget_ms * 1000u;
	bool took = false;
	mpris.busy = 1;
	for (uint64_t now = monotonic_us(); now < until; now = monotonic_us()) {
		const int r = sdbus.process(mpris.bus, nullptr);
		if (r < 0) {
			leave();
			return;
		}
		took |= r > 0;
		if (r > 0)
			continue;
		// Read dry: a burst still coming from the bus daemon is taken as it
		// comes, for a moment, rather than a frame later.
		pollfd p = {sdbus.get_fd(mpris.bus), POLLIN, 0};
		if (!took || poll(&p, 1, static_cast<int>(std::min<uint64_t>(burst_gap_ms * 1000, until - now) / 1000)) <= 0) {
			mpris.busy = 0;
			return;
		}
	}
}

int mpris_busy()
{
	return mpris.busy;
}

int mpris_on_bus()
{
	return mpris.bus != nullptr;
}

const mpris_list &mpris_list_now()
{
	return mpris.list;
}

void mpris_changed(const mpris_list &list)
{
	mpris.list = list;
	if (!mpris.bus)
		return;
	const char *names[8];
	int n = 0;
	const char *status = mpris_status_now();
	if (strcmp(status, mpris.told.status) != 0)
		names[n++] = "PlaybackStatus";
	if (mpris_playing().generation != mpris.told.generation)
		names[n++] = "Metadata";
	if (volume != mpris.told.volume)
		names[n++] = "Volume";
	if (mpris_can_seek() != mpris.told.can_seek)
		names[n++] = "CanSeek";
	if (list.repeat != mpris.told.list.repeat)
		names[n++] = "LoopStatus";
	if (list.shuffle != mpris.told.list.shuffle)
		names[n++] = "Shuffle";
	if (list.can_go_next != mpris.told.list.can_go_next)
		names[n++] = "CanGoNext";
	names[n] = nullptr;
	mpris.told = {status, mpris_playing().generation, volume, mpris_can_seek(), list};
	if (n)
		sdbus.emit_properties_changed_strv(mpris.bus, mpris_object, mpris_player_interface,
						    const_cast<char **>(names));
}

void mpris_seeked()
{
	if (mpris.bus)
		sdbus.emit_signal(mpris.bus, mpris_object, mpris_player_interface, "Seeked", "x", mpris_position_us());
}
