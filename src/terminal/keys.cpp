// Key bytes from the terminal, as requests: plain keys, and the arrows' escape
// sequences ("ESC [ C", or "ESC O C" from a terminal in application mode,
// with any parameters a terminal adds for modifiers).
#include "terminal/terminal.h"

const char *const key_help_text =
	"Keys: space, p  pause or resume    left, right  seek 10 s    down, up  seek 60 s\n"
	"      n, >  next file or track    <  previous one (or this one from its start)\n"
	"      -, +  volume down, up    q  quit    h, ?  this list\n";

namespace {
enum { plain, after_esc, in_sequence };
}

static constexpr int64_t second_us = 1000000;

static int plain_key(unsigned char byte, request *key)
{
	switch (byte) {
	case ' ':
	case 'p':
		*key = {act_toggle_pause, 0, 0};
		return 1;
	case 'n':
	case '>':
		*key = {act_next, 0, 0};
		return 1;
	case '<':
		*key = {act_previous, 0, 0};
		return 1;
	case '+':
		*key = {act_volume_by, 1, 0};
		return 1;
	case '-':
		*key = {act_volume_by, -1, 0};
		return 1;
	case 'q':
		*key = {act_stop, 0, 0};
		return 1;
	case 'h':
	case '?':
		*key = {act_help, 0, 0};
		return 1;
	}
	return 0;
}

int key_decode(key_decoder *d, unsigned char byte, request *key)
{
	switch (d->state) {
	case after_esc:
		if (byte == '[' || byte == 'O') {
			d->state = in_sequence;
			return 0;
		}
		// A lone ESC: the byte after it is a key of its own.
		d->state = plain;
		break;
	case in_sequence: {
		// Parameters, then the final byte that names the key.
		if (byte >= 0x20 && byte < 0x40)
			return 0;
		d->state = plain;
		static constexpr struct {
			unsigned char final;
			int seconds;
		} arrows[] = {{'A', 60}, {'B', -60}, {'C', 10}, {'D', -10}};
		for (const auto &a : arrows) {
			if (byte == a.final) {
				*key = {act_seek_by, a.seconds * second_us, 0};
				return 1;
			}
		}
		return 0;
	}
	}
	if (byte == 0x1b) {
		d->state = after_esc;
		return 0;
	}
	return plain_key(byte, key);
}

std::string clock_text(uint64_t seconds)
{
	char buf[48];
	if (seconds >= 3600)
		snprintf(buf, sizeof buf, "%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
			 static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
	else
		snprintf(buf, sizeof buf, "%u:%02u", static_cast<unsigned>(seconds / 60), static_cast<unsigned>(seconds % 60));
	return buf;
}

std::string status_text(const status_info &s, int width)
{
	// Built by appending: GCC 12 warns falsely about "literal" + string.
	const uint64_t rate = s.rate > 0 ? static_cast<uint64_t>(s.rate) : 1;
	const std::string position = clock_text(s.position / rate);
	std::string place = "[", clock, percent, state = s.paused ? "  paused" : "", loudness;
	place.append(std::to_string(s.index)).append("/").append(s.count ? std::to_string(s.count) : "?").append("]  ");
	if (s.total) {
		const std::string total = clock_text(s.total / rate);
		// The position takes the total's width, so the line keeps still.
		clock.append(total.size() > position.size() ? total.size() - position.size() : 0, ' ');
		clock.append(position).append(" / ").append(total);
		const double shown = s.position >= s.total ? 100 : 100.0 * static_cast<double>(s.position) /
									static_cast<double>(s.total);
		percent.append(" (").append(std::to_string(static_cast<int>(shown))).append("%)");
	} else {
		clock = position;
	}
	const float shown = s.volume >= -100 && s.volume <= 100 ? s.volume : 100;
	const int level = static_cast<int>(shown * 100 + (shown >= 0 ? 0.5f : -0.5f));
	if (level != 100)
		loudness.append("  volume ").append(std::to_string(level)).append("%");
	// Fewer columns than the terminal has: a line that fills the last one
	// wraps on some terminals. Every byte is ASCII: bytes are columns.
	const std::size_t room = width > 0 ? static_cast<std::size_t>(width - 1) : SIZE_MAX;
	auto line = [&] {
		std::string text = place;
		return text.append(clock).append(percent).append(state).append(loudness);
	};
	for (std::string *least : {&loudness, &place, &percent})
		if (line().size() > room)
			least->clear();
	std::string text = line();
	if (text.size() > room)
		text.resize(room);
	return text;
}
