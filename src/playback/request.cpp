// The request queue, and the stream's part of carrying requests out.
#include "playback/request.h"
#include "playback/stream.h"

#include <algorithm>
#include <cmath>

static struct {
	request waiting[request_queue_size];
	int count;
} queue;

static bool moves_off(int action)
{
	return action == act_next || action == act_previous || action == act_stop;
}

// Made moot by a request that moves off the stream.
static bool moot(int action)
{
	return action == act_toggle_pause || action == act_play || action == act_pause || action == act_seek_by ||
	       action == act_seek_to || action == act_seek_sample;
}

int request_push(const request &r)
{
	if (r.action == act_none)
		return 1;
	if (moves_off(r.action)) {
		int kept = 0;
		for (int i = 0; i < queue.count; i++)
			if (!moot(queue.waiting[i].action))
				queue.waiting[kept++] = queue.waiting[i];
		queue.count = kept;
	} else if (r.action == act_seek_by && queue.count > 0 && queue.waiting[queue.count - 1].action == act_seek_by) {
		int64_t &sum = queue.waiting[queue.count - 1].amount;
		// A day of held keys is still far from wrapping.
		sum = std::clamp<int64_t>(sum + r.amount, -(int64_t(1) << 60), int64_t(1) << 60);
		return 1;
	}
	if (queue.count == request_queue_size) {
		if (r.action != act_stop)
			return 0;
		queue.count = 0;
	}
	queue.waiting[queue.count++] = r;
	return 1;
}

int request_pop(request *r)
{
	if (queue.count == 0)
		return 0;
	*r = queue.waiting[0];
	std::copy(queue.waiting + 1, queue.waiting + queue.count, queue.waiting);
	queue.count--;
	return 1;
}

int request_moves_off()
{
	return std::any_of(queue.waiting, queue.waiting + queue.count, [](const request &r) { return moves_off(r.action); });
}

int request_waiting()
{
	return queue.count > 0;
}

void request_clear()
{
	queue.count = 0;
}

int request_apply(const request &r)
{
	const bool loaded = file_info.is_loaded;
	switch (r.action) {
	case act_toggle_pause:
		if (loaded)
			stream_toggle_pause();
		return 1;
	case act_play:
	case act_pause:
		if (loaded && file_info.is_playing != (r.action == act_play))
			stream_toggle_pause();
		return 1;
	case act_seek_sample:
		if (loaded)
			stream_seek(static_cast<uint64_t>(std::max<int64_t>(r.amount, 0)));
		return 1;
	case act_volume_by: {
		const float steps = std::round(volume * 10) + static_cast<float>(r.amount);
		volume_set(std::clamp(steps, 0.0f, 20.0f) / 10);
		return 1;
	}
	case act_volume_to:
		volume_set(r.gain);
		return 1;
	}
	return 0;
}
