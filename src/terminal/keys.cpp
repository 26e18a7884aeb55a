// Key bytes from the terminal: plain keys, and the arrows' escape
// sequences ("ESC [ C", or "ESC O C" from a terminal in application mode,
// with any parameters a terminal adds for modifiers).
#include "terminal/terminal.h"

const char *const key_help_text =
	"Keys: space, p  pause or resume    left, right  seek 10 s    down, up  seek 60 s\n"
	"      n, >  next file    <  previous file (or this one from its start)\n"
	"      -, +  volume down, up    q  quit    h, ?  this list\n";

namespace {
enum { plain, after_esc, in_sequence };
}

static int plain_key(unsigned char byte, key_request *key)
{
	switch (byte) {
	case ' ':
	case 'p':
		*key = {key_pause, 0};
		return 1;
	case 'n':
	case '>':
		*key = {key_next, 0};
		return 1;
	case '<':
		*key = {key_previous, 0};
		return 1;
	case '+':
		*key = {key_volume, 1};
		return 1;
	case '-':
		*key = {key_volume, -1};
		return 1;
	case 'q':
		*key = {key_quit, 0};
		return 1;
	case 'h':
	case '?':
		*key = {key_help, 0};
		return 1;
	}
	return 0;
}

int key_decode(key_decoder *d, unsigned char byte, key_request *key)
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
	case in_sequence:
		// Parameters, then the final byte that names the key.
		if (byte >= 0x20 && byte < 0x40)
			return 0;
		d->state = plain;
		switch (byte) {
		case 'A':
			*key = {key_seek, 60};
			return 1;
		case 'B':
			*key = {key_seek, -60};
			return 1;
		case 'C':
			*key = {key_seek, 10};
			return 1;
		case 'D':
			*key = {key_seek, -10};
			return 1;
		}
		return 0;
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

std::string status_text(const status_info &s)
{
	const uint64_t rate = s.rate > 0 ? static_cast<uint64_t>(s.rate) : 1;
	char text[160];
	// A count of 0 is not known yet: the list is still being walked.
	int n = s.count ? snprintf(text, sizeof text, "[%d/%d]  ", s.index, s.count)
			: snprintf(text, sizeof text, "[%d/?]  ", s.index);
	std::string position = clock_text(s.position / rate);
	if (s.total) {
		std::string total = clock_text(s.total / rate);
		// The position takes the total's width, so the line keeps still.
		const double percent = s.position >= s.total ? 100 : 100.0 * static_cast<double>(s.position) /
									    static_cast<double>(s.total);
		n += snprintf(text + n, sizeof text - n, "%*s / %s (%d%%)", static_cast<int>(total.size()),
			      position.c_str(), total.c_str(), static_cast<int>(percent));
	} else {
		n += snprintf(text + n, sizeof text - n, "%s", position.c_str());
	}
	if (s.paused)
		n += snprintf(text + n, sizeof text - n, "  paused");
	const float shown = s.volume >= -100 && s.volume <= 100 ? s.volume : 100;
	const int volume = static_cast<int>(shown * 100 + (shown >= 0 ? 0.5f : -0.5f));
	if (volume != 100)
		snprintf(text + n, sizeof text - n, "  volume %d%%", volume);
	return text;
}
