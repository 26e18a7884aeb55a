// Event lines on standard output, and whether they still reach anyone.
#include "playback/stream.h"

static int event_failed;

int write_event(const char *line, std::size_t length)
{
	// Standard output is unbuffered: fwrite's count is what the write took.
	if (fwrite(line, 1, length, stdout) == length)
		return 1;
	event_failed = 1;
	return 0;
}

int event_output_failed()
{
	return event_failed;
}
