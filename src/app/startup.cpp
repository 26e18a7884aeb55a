// The start-up sequence, the mode, and shutdown.
#include "app/settings.h"
#include "mpris/mpris.h"
#include "net/net.h"
#include "output/output.h"
#include "playback/request.h"
#include "playback/stream.h"
#include "playback/printable.h"
#include "playback/probe.h"
#include "playback/reason.h"
#include "playback/tags.h"
#include "playlist/playlist.h"
#include "remote/remote.h"
#include "terminal/terminal.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

// What a raw output's write asks while it waits for its reader in
// playlist mode: a request (a key, the desktop's), an interrupt or a
// signal is carried out at once, the rest written after.
static int playlist_interrupt()
{
	return request_waiting() || interrupted == 1 || fatal_signal;
}

// The same in remote mode: a command line, or a signal.
static int remote_interrupt()
{
	return remote_has_input() || stop_requested();
}

// What the folder walk asks between entries: a signal, or a double
// interrupt, ends it.
static int walk_stop()
{
	return fatal_signal || quit_requested == 1;
}

// A fresh shuffle for every run: the clock's nanoseconds and the process.
static uint64_t shuffle_seed()
{
	timespec ts;
	clock_gettime(CLOCK_REALTIME, &ts);
	return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec) +
	       (static_cast<uint64_t>(getpid()) << 40);
}

int wendrop_main(int argc, const char **argv)
{
	// No file opened later may take a standard descriptor's number, or the
	// announcements would be written into it.
	standard_descriptors_open();
	// Every line must reach a controlling program at once.
	setvbuf(stdout, nullptr, _IONBF, 0);

	poptContext con = options_parse(argc, argv);
	if (!con)
		return 1;

	if (opt_version) {
		printf("wendrop version %s\n", wendrop_version);
		options_free(con);
		return 0;
	}
	if (!opt_remote && !opt_quiet)
		printf("wendrop version %s   'wendrop --help' for more info\n", wendrop_version);

	signals_install(opt_remote);
	// The rooms below read the choices from records of their own.
	const std::string wav_name = opt_wav ? printable(opt_wav) : "";
	const std::string raw_name = opt_raw ? printable(opt_raw) : "";
	// Audio on standard output keeps its place among the event lines: a
	// command waits for the frame to be written.
	const bool events_beside_audio = opt_remote && opt_raw && std::string(opt_raw) == "-";
	std::string device_options;
	for (char **o = opt_device_options; o && *o; o++) {
		if (o != opt_device_options)
			device_options += ' ';
		device_options += printable(*o);
	}
	output_config = {opt_wav,
			 opt_driver,
			 opt_buffer_ms,
			 opt_wav ? wav_name.c_str() : nullptr,
			 opt_raw,
			 opt_raw ? raw_name.c_str() : nullptr,
			 opt_raw_format,
			 frontends_wait_for,
			 opt_remote ? (events_beside_audio ? nullptr : remote_interrupt) : playlist_interrupt,
			 opt_remote ? remote_give_up : playlist_give_up,
			 stop_requested,
			 signals_output_gone,
			 opt_device_options,
			 opt_device_options ? device_options.c_str() : nullptr,
			 !opt_remote && !opt_quiet,
			 nullptr,
			 opt_remote ? nullptr : mpris_busy};
	// The listener is told why an output file cannot be made; a front end
	// reads the lines it always read.
	if (!opt_remote)
		output_config.explain = [](int err) { return failure_text(failure_from_errno(err, true)); };
	if (opt_remote)
		playback_config = {1, opt_quiet, opt_skip_printing_frames, load_first_bytes_ms, frontends_wait,
				   remote_give_up, STDIN_FILENO, stop_requested, opt_replaygain, 0};
	else
		playback_config = {0, opt_quiet, opt_skip_printing_frames, 0, frontends_wait, playlist_give_up, -1,
				   stop_requested, opt_replaygain, 0};
	remote_config = {opt_mpeg_frames, stop_requested, frontends_wait};
	// Another bundle of trusted certificates is named as curl's users name
	// it; there is no way to trust none.
	const char *ca_bundle = getenv("CURL_CA_BUNDLE");
	static const std::string agent = std::string("wendrop/") + wendrop_version;
	net_config.user_agent = agent.c_str();
	net_config.ca_bundle = ca_bundle && *ca_bundle ? ca_bundle : nullptr;
	playlist_config = {opt_shuffle,    opt_repeat,      shuffle_seed(), file_sniff_flac,
			   walk_stop,      playlist_report, !opt_no_cue,    read_cue_facts,
			   stream_guard_input};
	terminal_config = {!opt_no_keys, !opt_quiet};
	// A conversion is no media player: a media key meant for one must not
	// pause it, nor a stop leave the file short. A WAV output always is
	// one; raw PCM when it goes into a file, nobody listening.
	mpris_config = {!opt_remote && !opt_no_mpris && !opt_wav && !(opt_raw && output_is_conversion()), opt_shuffle,
			opt_repeat};
	if (output_init() != 0) {
		options_free(con);
		return 1;
	}

	int missed = 0;
	if (opt_remote)
		remote_loop();
	else {
		// On the desktop's bus for as long as the list plays; the streams'
		// cover art is kept for it then.
		playback_config.cover_art = mpris_start();
		missed = playlist_loop(con);
		mpris_stop();
	}
	// Remote mode can end with a stream still open; its decoder is released
	// like any other. So is one that a signal interrupted: its WAV header
	// is completed before the signal ends the process.
	if (file_info.is_loaded)
		stream_close();

	output_shutdown();
	options_free(con);
	// A signal the process was started ignoring that ended the run (a
	// reader gone) is a failure.
	const int ended = signals_end_run();
	// A script decoding to a file must be able to tell that it is
	// incomplete; a remote front end has had the "@E" line instead.
	return ended || (!opt_remote && (output_failed() || missed)) ? 1 : 0;
}
