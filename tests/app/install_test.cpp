// The installed program and its manual page: what `cmake --install` puts
// into a prefix works, the page renders without warnings, and the page
// documents every option the program offers and the whole protocol. The
// Debian package holds what an install does, and the bash completion
// completes what the help lists.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "fixture.h"
#include "process.h"
#include "testenv.h"

namespace {
const std::string source_page = WENDROP_MANPAGE;

// A fixed locale and page width and no pager, so that what man prints does
// not depend on the terminal the tests were started from.
run_result run_tool(const std::vector<std::string> &argv)
{
	return run(argv, "", 60, {.env = {"LC_ALL=C.UTF-8", "MANWIDTH=80", "MANPAGER=cat", "PAGER=cat"}});
}

std::string text_of(const std::string &path)
{
	std::vector<unsigned char> bytes = read_file(path);
	return {bytes.begin(), bytes.end()};
}

// The page's text as a reader sees it: comments dropped, font changes and
// zero-width escapes removed, escaped characters as the characters.
std::string page_text(const std::string &path)
{
	std::string text;
	for (const std::string &line : lines_of(text_of(path)))
		if (line.rfind(".\\\"", 0) != 0)
			text += line + "\n";
	const std::pair<std::string, std::string> escapes[] = {
		{"\\fB", ""}, {"\\fI", ""}, {"\\fR", ""}, {"\\fP", ""}, {"\\%", ""},   {"\\&", ""},
		{"\\-", "-"}, {"\\ ", " "}, {"\\(aq", "'"}, {"\\(ti", "~"}, {"\\e", "\\"},
	};
	for (const auto &[from, to] : escapes)
		for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
			text.replace(at, from.size(), to);
	return text;
}

bool word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; }

// text holds word with no letter, digit or dash right before or after it,
// so "-d" is not found inside "--driver".
bool has_word(const std::string &text, const std::string &word)
{
	for (std::size_t at = 0; (at = text.find(word, at)) != std::string::npos; at++) {
		std::size_t end = at + word.size();
		if ((at == 0 || !word_char(text[at - 1])) && (end == text.size() || !word_char(text[end])))
			return true;
	}
	return false;
}

// The options as the help output names them: "-d", "--driver=STRING", ...
std::vector<std::string> help_options(const std::string &help)
{
	std::vector<std::string> options;
	for (const std::string &line : lines_of(help)) {
		std::size_t start = line.find_first_not_of(' ');
		if (start == std::string::npos || line[start] != '-')
			continue;
		std::string names = line.substr(start, line.find("  ", start) - start);
		for (std::size_t comma; (comma = names.find(", ")) != std::string::npos; names.erase(0, comma + 2))
			options.push_back(names.substr(0, comma));
		// popt writes the label of a repeatable option after a blank.
		options.push_back(names.substr(0, names.find(' ')));
	}
	return options;
}

// The manual page as installed, decompressed.
std::string installed_page(const std::string &gz, const std::string &out)
{
	run_result r = run({"/bin/gzip", "-dc", gz}, "", 60, {.stdout_path = out});
	EXPECT_EQ(r.status, 0) << gz;
	return text_of(out);
}

// What bash completes for the words of a command line (the last one being
// completed), in folder dir.
std::vector<std::string> complete(const std::string &dir, const std::vector<std::string> &words)
{
	std::string script = "cd '" + dir + "' && source '" WENDROP_COMPLETION "' && COMP_WORDS=(";
	for (const std::string &w : words)
		script += "'" + w + "' ";
	script += ") && COMP_CWORD=" + std::to_string(words.size() - 1) +
		  " && _wendrop && printf '%s\\n' \"${COMPREPLY[@]}\"";
	run_result r = run({BASH_BIN, "--norc", "-c", script});
	EXPECT_EQ(r.status, 0) << r.err;
	std::vector<std::string> found = lines_of(r.out);
	std::erase(found, "");
	std::sort(found.begin(), found.end());
	return found;
}
}

TEST(Install, PrefixHoldsAWorkingProgramAndAPageThatRendersCleanly)
{
	temp_dir dir;
	const std::string prefix = dir.file("prefix");
	run_result r = run_tool({CMAKE_BIN, "--install", WENDROP_BUILD_DIR, "--prefix", prefix});
	ASSERT_EQ(r.status, 0) << r.out << r.err;
	const std::string page = installed_page(prefix + "/share/man/man1/wendrop.1.gz", dir.file("wendrop.1"));
	EXPECT_EQ(page, text_of(source_page));
	EXPECT_EQ(text_of(prefix + "/share/bash-completion/completions/wendrop"), text_of(WENDROP_COMPLETION));

	run_result version = run_tool({prefix + "/bin/wendrop", "--version"});
	EXPECT_EQ(version.status, 0);
	EXPECT_EQ(version.out, run_tool(wendrop_args({"--version"})).out);
	// The page's header names the version the program reports.
	const std::string prefix_text = "wendrop version ";
	ASSERT_EQ(version.out.rfind(prefix_text, 0), 0u) << version.out;
	const std::string number = version.out.substr(prefix_text.size(), version.out.size() - prefix_text.size() - 1);
	EXPECT_NE(page.find("\"wendrop " + number + "\""), std::string::npos);

	r = run_tool({GROFF_BIN, "-ww", "-z", "-man", dir.file("wendrop.1")});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");

	if (std::string(MAN_BIN).empty())
		return;  // man is optional: groff above has checked the page.
	r = run_tool({MAN_BIN, "--warnings=all", "-l", prefix + "/share/man/man1/wendrop.1.gz"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_NE(r.out.find("\nREMOTE CONTROL\n"), std::string::npos) << r.out;
}

TEST(ManualPage, DocumentsEveryOptionOfTheHelp)
{
	run_result help = run_tool(wendrop_args({"--help"}));
	ASSERT_EQ(help.status, 0);
	std::vector<std::string> options = help_options(help.out);
	// The parse must have found the options, or the loop below checks nothing.
	ASSERT_NE(std::find(options.begin(), options.end(), "--help"), options.end()) << help.out;

	const std::string page = page_text(source_page);
	for (const std::string &option : options)
		EXPECT_TRUE(has_word(page, option)) << option << " is not in the manual page";
}

TEST(ManualPage, DocumentsEveryCommandAndEventLine)
{
	const std::string page = page_text(source_page);
	// Each command with its short and long word, as the page lists them.
	for (const char *command : {"L, LOAD", "J, JUMP", "S, STOP", "V, VOLUME", "P, PAUSE", "Q, QUIT", "H, HELP"})
		EXPECT_TRUE(has_word(page, command)) << command;
	for (const char *line : {"@R WENDROP", "@I ID3:%s%s%s%s%s%s", "@I %s", "@F %lu %lu %.2f %.2f",
				 "@P 0", "@P 1", "@P 2", "@V %f", "@H %s", "@E Unknown command '%s'",
				 "@E Missing argument to '%s'", "@E Error opening %s", "@E Error writing wav file %s",
				 "@E Error writing raw output %s",
				 "@E Error writing to ao device %d", "@E Stream too big for a WAV file: %s",
				 "@E Command line too long",
				 "error decoding single frame!", "error handler called!"})
		EXPECT_TRUE(has_word(page, line)) << line;
}

TEST(Package, HoldsTheInstallUnderUsrWithDependsFromTheLinkedLibraries)
{
	temp_dir dir;
	run_result r = run({CPACK_BIN, "-G", "DEB", "-B", dir.path, "--config",
			    WENDROP_BUILD_DIR "/CPackConfig.cmake"}, "", 120);
	ASSERT_EQ(r.status, 0) << r.out << r.err;
	run_result arch = run({"/usr/bin/dpkg", "--print-architecture"});
	std::string version = run(wendrop_args({"--version"})).out;
	version = version.substr(version.rfind(' ') + 1);
	version.pop_back();
	const std::string deb = dir.file("wendrop_" + version + "_" + lines_of(arch.out).at(0) + ".deb");

	std::vector<std::string> files;
	for (const std::string &line : lines_of(run({DPKG_DEB_BIN, "-c", deb}).out)) {
		std::size_t at = line.find(" ./");
		if (at != std::string::npos && line[0] == '-')
			files.push_back(line.substr(at + 2));
	}
	std::sort(files.begin(), files.end());
	const std::vector<std::string> expected = {
		"/usr/bin/wendrop",
		"/usr/share/bash-completion/completions/wendrop",
		"/usr/share/doc/wendrop/README.md",
		"/usr/share/doc/wendrop/changelog.gz",
		"/usr/share/doc/wendrop/copyright",
		"/usr/share/man/man1/wendrop.1.gz",
	};
	EXPECT_EQ(files, expected);

	EXPECT_EQ(run({DPKG_DEB_BIN, "-f", deb, "Package"}).out, "wendrop\n");
	EXPECT_EQ(run({DPKG_DEB_BIN, "-f", deb, "Version"}).out, version + "\n");
	EXPECT_EQ(run({DPKG_DEB_BIN, "-f", deb, "Section"}).out, "sound\n");
	// dpkg-shlibdeps names the package of each library the program links.
	const std::string depends = run({DPKG_DEB_BIN, "-f", deb, "Depends"}).out;
	for (const char *library :
	     {"libao4 (", "libflac", "libpopt0 (", "libsystemd0 (", "libsoxr0", "libcue2", "libpulse0", "libcurl4 (",
	      "libc6 ("})
		EXPECT_NE(depends.find(library), std::string::npos) << library << " not in " << depends;

	// The page inside is the source page.
	r = run({DPKG_DEB_BIN, "-x", deb, dir.file("root")});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(installed_page(dir.file("root/usr/share/man/man1/wendrop.1.gz"), dir.file("page")),
		  text_of(source_page));
}

TEST(Completion, CompletesEveryOptionDriversAndPlayableFiles)
{
	temp_dir dir;
	for (const char *name : {"a.flac", "b.oga", "c.ogg", "d.cue", "notes.txt"})
		ASSERT_TRUE(write_file(dir.file(name), {}));
	ASSERT_EQ(mkdir(dir.file("album").c_str(), 0755), 0);

	run_result help = run_tool(wendrop_args({"--help"}));
	std::vector<std::string> options = help_options(help.out);
	ASSERT_NE(std::find(options.begin(), options.end(), "--help"), options.end()) << help.out;
	for (std::string option : options) {
		option = option.substr(0, option.find('='));
		std::vector<std::string> found = complete(dir.path, {"wendrop", option});
		EXPECT_NE(std::find(found.begin(), found.end(), option), found.end()) << option;
	}
	using list = std::vector<std::string>;
	EXPECT_EQ(complete(dir.path, {"wendrop", "--q"}), list{"--quiet"});
	// Driver names: libao's built-in ones and its installed plugins.
	EXPECT_EQ(complete(dir.path, {"wendrop", "-d", "nu"}), list{"null"});
	EXPECT_EQ(complete(dir.path, {"wendrop", "--driver", "pu"}), list{"pulse"});
	// Device option keys, the value left to the user.
	EXPECT_EQ(complete(dir.path, {"wendrop", "-o", "s"}), (list{"server=", "sink="}));
	EXPECT_EQ(complete(dir.path, {"wendrop", "-d", "w"}), list{"wav"});
	// A WAV output can be any file; inputs are playable files and folders.
	EXPECT_EQ(complete(dir.path, {"wendrop", "-w", "n"}), list{"notes.txt"});
	EXPECT_EQ(complete(dir.path, {"wendrop", "--raw", "=", "n"}), list{"notes.txt"});
	EXPECT_EQ(complete(dir.path, {"wendrop", "--raw-format", "=", "44"}), list{"44100:16:2"});
	EXPECT_EQ(complete(dir.path, {"wendrop", "--wav", "=", ""}),
		  (list{"a.flac", "album", "b.oga", "c.ogg", "d.cue", "notes.txt"}));
	EXPECT_EQ(complete(dir.path, {"wendrop", "-q", ""}), (list{"a.flac", "album", "b.oga", "c.ogg", "d.cue"}));
	EXPECT_EQ(complete(dir.path, {"wendrop", "a"}), (list{"a.flac", "album"}));
}
