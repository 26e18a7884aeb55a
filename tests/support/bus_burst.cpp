// A burst of D-Bus method calls, all sent before any answer is read, as a
// flooding client makes them; how long the whole burst takes to be
// answered, and how many answers are errors.
//
//   bus_burst DESTINATION COUNT
//
// On the session bus (DBUS_SESSION_BUS_ADDRESS). The bus daemon itself
// (org.freedesktop.DBus) is asked GetId; any other name is asked for the
// PlaybackStatus of its MPRIS player, as a desktop's panel asks.
// Prints: calls=N errors=N seconds=S
#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
struct tally {
	int answered = 0, errors = 0;
};

int answered(sd_bus_message *m, void *data, sd_bus_error *)
{
	auto *t = static_cast<tally *>(data);
	t->answered++;
	if (sd_bus_message_is_method_error(m, nullptr))
		t->errors++;
	return 0;
}

double now()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
}

int main(int argc, char **argv)
{
	if (argc != 3 || atoi(argv[2]) <= 0) {
		fputs("usage: bus_burst DESTINATION COUNT\n", stderr);
		return 2;
	}
	const char *dest = argv[1];
	const int count = atoi(argv[2]);
	const bool daemon = strcmp(dest, "org.freedesktop.DBus") == 0;
	sd_bus *bus = nullptr;
	if (sd_bus_open_user(&bus) < 0) {
		fputs("bus_burst: no session bus\n", stderr);
		return 1;
	}
	tally t;
	const double start = now();
	for (int i = 0; i < count; i++) {
		const int r = daemon ? sd_bus_call_method_async(bus, nullptr, dest, "/org/freedesktop/DBus", dest, "GetId",
								answered, &t, "")
				     : sd_bus_call_method_async(bus, nullptr, dest, "/org/mpris/MediaPlayer2",
								"org.freedesktop.DBus.Properties", "Get", answered, &t,
								"ss", "org.mpris.MediaPlayer2.Player", "PlaybackStatus");
		if (r < 0) {
			fprintf(stderr, "bus_burst: call %d: %s\n", i, strerror(-r));
			return 1;
		}
	}
	while (t.answered < count && now() - start < 120) {
		const int r = sd_bus_process(bus, nullptr);
		if (r < 0)
			break;
		if (r == 0)
			sd_bus_wait(bus, 100000);
	}
	printf("calls=%d errors=%d seconds=%.3f\n", t.answered, t.errors + (count - t.answered), now() - start);
	sd_bus_flush_close_unref(bus);
	return 0;
}
