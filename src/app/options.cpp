// Command-line options: the option table and its parsing with popt.
#include "app/settings.h"

#include <cstdio>
#include <cstdlib>

char *opt_driver;
char *opt_wav;
char *opt_buffer_time;
int opt_remote;
int opt_quiet;
int opt_version;

// Every entry stores straight into its setting and has no option code, so
// poptGetNextOpt only ever hands back -1 or an error.
static struct poptOption option_table[] = {
	{"driver", 'd', POPT_ARG_STRING, &opt_driver, 0,
	 "set libao output driver (pulse, macosx, oss, etc).  Default is oss", nullptr},
	{"wav", 'w', POPT_ARG_STRING, &opt_wav, 0,
	 "send output to wav file (use --wav=- and -q for stdout)", "FILENAME"},
	{"remote", 'R', POPT_ARG_NONE, &opt_remote, 0,
	 "set remote mode for programmatic control", nullptr},
	{"buffer-time", 'b', POPT_ARG_STRING, &opt_buffer_time, 0,
	 "override default hardware buffer size (in milliseconds)", "INT"},
	{"quiet", 'q', POPT_ARG_NONE, &opt_quiet, 0, "suppress text output", nullptr},
	{"version", 'v', POPT_ARG_NONE, &opt_version, 0, "version info", nullptr},
	{nullptr, '\0', POPT_ARG_INCLUDE_TABLE, poptHelpOptions, 0, "Help options:", nullptr},
	POPT_TABLEEND,
};

// A buffer time is a whole number of milliseconds from 1 to 10,000: libao's
// PulseAudio client hangs on a value it cannot use, so nothing else may
// reach it.
static bool buffer_time_valid(const char *text)
{
	long ms = 0;
	for (const char *c = text; *c; c++) {
		if (*c < '0' || *c > '9')
			return false;
		ms = ms * 10 + (*c - '0');
		if (ms > 10000)
			return false;
	}
	return ms >= 1;
}

poptContext options_parse(int argc, const char **argv)
{
	poptContext con = poptGetContext("wendrop", argc, argv, option_table, 0);
	poptSetOtherOptionHelp(con, "[OPTIONS] FILES...");

	int rc;
	while ((rc = poptGetNextOpt(con)) >= 0)
		;
	if (rc != -1) {
		fprintf(stderr, "%s: %s\n", poptBadOption(con, POPT_BADOPTION_NOALIAS), poptStrerror(rc));
		options_free(con);
		return nullptr;
	}
	if (opt_buffer_time && !buffer_time_valid(opt_buffer_time)) {
		fprintf(stderr, "--buffer-time: '%s' is not a whole number of milliseconds from 1 to 10000\n",
			opt_buffer_time);
		options_free(con);
		return nullptr;
	}
	return con;
}

void options_free(poptContext con)
{
	poptFreeContext(con);
	// popt hands over a fresh copy for each text option it stores.
	free(opt_driver);
	free(opt_wav);
	free(opt_buffer_time);
	opt_driver = opt_wav = opt_buffer_time = nullptr;
}
