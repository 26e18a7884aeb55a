// What a pulse server does to the stream, asked with libpulse's
// introspection. libpulse is loaded when first asked: libao's pulse driver
// has it loaded already by then, while a program linked to it would load
// it, and what it needs, at every start (a WAV conversion included).
#include "output/live.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace {
// The libpulse functions asked for, by their names less "pa_".
struct pulse_functions {
	decltype(&pa_mainloop_new) mainloop_new;
	decltype(&pa_mainloop_free) mainloop_free;
	decltype(&pa_mainloop_get_api) mainloop_get_api;
	decltype(&pa_mainloop_prepare) mainloop_prepare;
	decltype(&pa_mainloop_poll) mainloop_poll;
	decltype(&pa_mainloop_dispatch) mainloop_dispatch;
	decltype(&pa_context_new) context_new;
	decltype(&pa_context_connect) context_connect;
	decltype(&pa_context_get_state) context_get_state;
	decltype(&pa_context_disconnect) context_disconnect;
	decltype(&pa_context_unref) context_unref;
	decltype(&pa_context_get_sink_input_info_list) context_get_sink_input_info_list;
	decltype(&pa_context_get_sink_info_by_index) context_get_sink_info_by_index;
	decltype(&pa_operation_unref) operation_unref;
	decltype(&pa_proplist_gets) proplist_gets;
};

// What the replies to one question have told.
struct answer {
	std::string pid;                     // this process's, as the server lists it
	uint32_t input = PA_INVALID_INDEX;   // its newest playback stream
	uint32_t sink = PA_INVALID_INDEX;    // ... and the sink that stream plays to
	int rate = 0;                        // the sink's rate
	int awaited = 0;                     // replies still to come
};
}

static pulse_functions pa;

// Sets f to the function name in library; 1 when it is there.
template <typename F> static int symbol(void *library, const char *name, F *f)
{
	*f = reinterpret_cast<F>(dlsym(library, name));
	return *f != nullptr;
}

// Loads libpulse and the functions above, once. 1 when they are all there.
static int pulse_load()
{
	static int loaded = -1;
	if (loaded >= 0)
		return loaded;
	loaded = 0;
	void *library = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
	if (!library)
		return 0;
	pulse_functions f;
	if (symbol(library, "pa_mainloop_new", &f.mainloop_new) && symbol(library, "pa_mainloop_free", &f.mainloop_free) &&
	    symbol(library, "pa_mainloop_get_api", &f.mainloop_get_api) &&
	    symbol(library, "pa_mainloop_prepare", &f.mainloop_prepare) &&
	    symbol(library, "pa_mainloop_poll", &f.mainloop_poll) &&
	    symbol(library, "pa_mainloop_dispatch", &f.mainloop_dispatch) &&
	    symbol(library, "pa_context_new", &f.context_new) && symbol(library, "pa_context_connect", &f.context_connect) &&
	    symbol(library, "pa_context_get_state", &f.context_get_state) &&
	    symbol(library, "pa_context_disconnect", &f.context_disconnect) &&
	    symbol(library, "pa_context_unref", &f.context_unref) &&
	    symbol(library, "pa_context_get_sink_input_info_list", &f.context_get_sink_input_info_list) &&
	    symbol(library, "pa_context_get_sink_info_by_index", &f.context_get_sink_info_by_index) &&
	    symbol(library, "pa_operation_unref", &f.operation_unref) &&
	    symbol(library, "pa_proplist_gets", &f.proplist_gets)) {
		pa = f;
		loaded = 1;
		return 1;
	}
	dlclose(library);
	return 0;
}

static int64_t now_us()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Runs the loop until done() holds. 0 when the deadline came first, or the
// loop failed.
template <typename Done> static int run_until(pa_mainloop *loop, int64_t deadline, Done done)
{
	while (!done()) {
		const int64_t left = deadline - now_us();
		if (left <= 0 || pa.mainloop_prepare(loop, static_cast<int>(left)) < 0 || pa.mainloop_poll(loop) < 0 ||
		    pa.mainloop_dispatch(loop) < 0)
			return 0;
	}
	return 1;
}

// The newest of this process's playback streams: the one the device just
// opened, since the one before it was closed first.
static void take_input(pa_context *, const pa_sink_input_info *info, int eol, void *data)
{
	auto *a = static_cast<answer *>(data);
	if (eol) {
		a->awaited = 0;
		return;
	}
	const char *pid = pa.proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
	if (pid && a->pid == pid && (a->input == PA_INVALID_INDEX || info->index > a->input)) {
		a->input = info->index;
		a->sink = info->sink;
	}
}

static void take_sink(pa_context *, const pa_sink_info *info, int eol, void *data)
{
	auto *a = static_cast<answer *>(data);
	if (eol)
		a->awaited = 0;
	else
		a->rate = static_cast<int>(info->sample_spec.rate);
}

// Asks the connecting context c for the sink rate. 0 when not told.
static int ask(pa_mainloop *loop, pa_context *c)
{
	const int64_t deadline = now_us() + 1000000;
	const auto broken = [c] { return !PA_CONTEXT_IS_GOOD(pa.context_get_state(c)); };
	if (!run_until(loop, deadline, [&] { return broken() || pa.context_get_state(c) == PA_CONTEXT_READY; }) ||
	    broken())
		return 0;
	answer a;
	a.pid = std::to_string(getpid());
	a.awaited = 1;
	pa_operation *op = pa.context_get_sink_input_info_list(c, take_input, &a);
	// The context keeps the operation until its replies are in.
	if (!op)
		return 0;
	pa.operation_unref(op);
	if (!run_until(loop, deadline, [&] { return !a.awaited || broken(); }) || a.awaited || a.sink == PA_INVALID_INDEX)
		return 0;
	a.awaited = 1;
	if (!(op = pa.context_get_sink_info_by_index(c, a.sink, take_sink, &a)))
		return 0;
	pa.operation_unref(op);
	return run_until(loop, deadline, [&] { return !a.awaited || broken(); }) && !a.awaited ? a.rate : 0;
}

int pulse_sink_rate(const char *server)
{
	if (!pulse_load())
		return 0;
	pa_mainloop *loop = pa.mainloop_new();
	if (!loop)
		return 0;
	int rate = 0;
	pa_context *c = pa.context_new(pa.mainloop_get_api(loop), "wendrop");
	// Never a server started for the question.
	if (c && pa.context_connect(c, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0)
		rate = ask(loop, c);
	if (c) {
		pa.context_disconnect(c);
		pa.context_unref(c);
	}
	pa.mainloop_free(loop);
	return rate;
}
