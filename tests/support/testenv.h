// What the tests need to know about their surroundings: where the built
// program and the reference tools are, and a private folder per test.
#pragma once

#include <string>
#include <vector>

/// Paths fixed at build time.
const char *wendrop_bin();
const char *flac_tool();

/// A fresh folder, removed with everything in it when the object goes.
struct temp_dir {
	std::string path;
	temp_dir();
	~temp_dir();
	temp_dir(const temp_dir &) = delete;
	temp_dir &operator=(const temp_dir &) = delete;
	std::string file(const std::string &name) const { return path + "/" + name; }
};

/// wendrop followed by the given arguments.
std::vector<std::string> wendrop_args(std::vector<std::string> args);

/// The lines of a text, without their line feeds.
std::vector<std::string> lines_of(const std::string &text);
/// The names that playlist-mode output announces as playing, in order.
std::vector<std::string> played_names(const std::string &out);
/// The sample counts of each "@F" line of remote-mode output, "played
/// left", in order.
std::vector<std::string> progress_counts(const std::string &out);

/// Environment giving the player a home of its own inside dir, whose libao
/// configuration names default_driver (none when empty) and keeps libao's
/// own messages quiet, so output does not depend on the machine.
std::vector<std::string> player_env(const temp_dir &dir, const std::string &default_driver = "null");
