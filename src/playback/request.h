// The playback actions the front ends ask for (a key at the terminal, a
// command line, a desktop's media key): one request type for all of them,
// queued as they come and carried out between frames.
#pragma once

#include <cstdint>

/// What a request asks for.
enum action {
	act_none,
	act_toggle_pause,
	act_play,      // resume when paused
	act_pause,     // pause when playing
	act_seek_by,   // amount microseconds on (or back, when negative)
	act_seek_to,   // amount microseconds from the start of the entry
	act_seek_sample,  // amount: the stream's sample (for request_apply)
	act_volume_by,  // amount tenths of unity, within 0 and 2
	act_volume_to,  // gain, as given
	act_next,
	act_previous,  // the entry before, or this one from its start
	act_stop,      // end the run
	act_help,
	act_repeat,    // amount 1: repeat the list; 0: don't
};

struct request {
	int action;  // an action
	int64_t amount;
	float gain;
};

/// Room for requests not yet carried out: more than a pasted burst leaves
/// once its seeks have added up.
inline constexpr int request_queue_size = 64;

/// Queues r behind what is waiting. A seek by an amount right behind
/// another adds up with it into one seek; next, previous and stop drop the
/// seeks and pauses queued before them, which they make moot. 0 when the
/// queue is full and r was dropped (a stop never is: it makes room).
int request_push(const request &r);
/// Takes the first request waiting. 1 when there was one.
int request_pop(request *r);
/// 1 when a request waiting moves playback off the stream (next,
/// previous, stop).
int request_moves_off();
/// 1 when any request waits.
int request_waiting();
/// Forgets every request waiting.
void request_clear();

/// Carries out a request that acts on the open stream alone: pause, play,
/// a seek to a sample of the stream (act_seek_sample), the volume. 1 when
/// it was one of those (carried out, or nothing to do without a stream); 0
/// for the rest, which the loop of the mode carries out.
int request_apply(const request &r);
