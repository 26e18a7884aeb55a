// Writes a generated FLAC file: the demo, benchmark inputs and ad-hoc
// fixtures.
//
//   gen_flac [--bits N] [--channels N] [--rate HZ] [--seconds S | --frames N]
//            [--signal ramp|noise|music] [--seed N] [--tag NAME=VALUE]...
//            [--total N] [--ogg [--serial N]] OUT.flac
#include "fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static int usage()
{
	fputs("usage: gen_flac [--bits N] [--channels N] [--rate HZ] [--seconds S | --frames N]\n"
	      "                [--signal ramp|noise|music] [--seed N] [--tag NAME=VALUE]...\n"
	      "                [--total N] [--ogg [--serial N]] OUT.flac\n",
	      stderr);
	return 2;
}

int main(int argc, char **argv)
{
	flac_fixture f;
	double seconds = 1.0;
	long long frames = -1;
	signal_kind kind = signal_kind::music;
	unsigned seed = 1;
	std::vector<std::string> tags;
	const char *out = nullptr;

	for (int i = 1; i < argc; i++) {
		std::string a = argv[i];
		bool has_value = i + 1 < argc;
		if (a == "--bits" && has_value)
			f.bits = static_cast<unsigned>(atoi(argv[++i]));
		else if (a == "--channels" && has_value)
			f.channels = static_cast<unsigned>(atoi(argv[++i]));
		else if (a == "--rate" && has_value)
			f.rate = static_cast<unsigned>(atoi(argv[++i]));
		else if (a == "--seconds" && has_value)
			seconds = atof(argv[++i]);
		else if (a == "--frames" && has_value)
			frames = atoll(argv[++i]);
		else if (a == "--seed" && has_value)
			seed = static_cast<unsigned>(atoi(argv[++i]));
		else if (a == "--tag" && has_value)
			tags.push_back(argv[++i]);
		else if (a == "--total" && has_value)
			f.stated_total = strtoull(argv[++i], nullptr, 10);
		else if (a == "--ogg")
			f.ogg = true;
		else if (a == "--serial" && has_value)
			f.ogg_serial = atol(argv[++i]);
		else if (a == "--signal" && has_value) {
			std::string k = argv[++i];
			if (k == "ramp")
				kind = signal_kind::ramp;
			else if (k == "noise")
				kind = signal_kind::noise;
			else if (k == "music")
				kind = signal_kind::music;
			else
				return usage();
		} else if (a[0] != '-' && !out)
			out = argv[i];
		else
			return usage();
	}
	if (!out || f.bits < 4 || f.bits > 32 || f.channels < 1 || f.channels > 8 || f.rate < 1)
		return usage();
	if (frames < 0)
		frames = static_cast<long long>(seconds * f.rate);
	f.samples = make_signal(kind, f.bits, f.channels, static_cast<uint64_t>(frames), f.rate, seed);
	if (!tags.empty())
		f.comment_blocks.push_back(tags);
	if (!write_flac(out, f)) {
		fprintf(stderr, "gen_flac: cannot write %s\n", out);
		return 1;
	}
	return 0;
}
