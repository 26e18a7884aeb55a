// The installed program and its manual page: what `cmake --install` puts
// into a prefix works, the page renders without warnings, and the page
// documents every option the program offers and the whole protocol.
#include <gtest/gtest.h>

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
		options.push_back(names);
	}
	return options;
}
}

TEST(Install, PrefixHoldsAWorkingProgramAndAPageThatRendersCleanly)
{
	temp_dir dir;
	const std::string prefix = dir.file("prefix");
	run_result r = run_tool({CMAKE_BIN, "--install", WENDROP_BUILD_DIR, "--prefix", prefix});
	ASSERT_EQ(r.status, 0) << r.out << r.err;
	const std::string page = prefix + "/share/man/man1/wendrop.1";
	EXPECT_EQ(text_of(page), text_of(source_page));

	run_result version = run_tool({prefix + "/bin/wendrop", "--version"});
	EXPECT_EQ(version.status, 0);
	EXPECT_EQ(version.out, run_tool(wendrop_args({"--version"})).out);
	// The page's header names the version the program reports.
	const std::string prefix_text = "wendrop version ";
	ASSERT_EQ(version.out.rfind(prefix_text, 0), 0u) << version.out;
	const std::string number = version.out.substr(prefix_text.size(), version.out.size() - prefix_text.size() - 1);
	EXPECT_NE(text_of(page).find("\"wendrop " + number + "\""), std::string::npos);

	r = run_tool({GROFF_BIN, "-ww", "-z", "-man", page});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");

	if (std::string(MAN_BIN).empty())
		return;  // man is optional: groff above has checked the page.
	r = run_tool({MAN_BIN, "--warnings=all", "-l", page});
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
	for (const char *command : {"L, LOAD", "J, JUMP", "S, STOP", "V, VOLUME", "P, PAUSE", "Q, QUIT"})
		EXPECT_TRUE(has_word(page, command)) << command;
	for (const char *line : {"@R WENDROP", "@I ID3:%s%s%s%s%s%s", "@I %s", "@F %lu %lu %.2f %.2f",
				 "@P 0", "@P 1", "@P 2", "@V %f", "@E Unknown command '%s'",
				 "@E Missing argument to '%s'", "@E Error opening %s", "@E Command line too long",
				 "error decoding single frame!", "error handler called!"})
		EXPECT_TRUE(has_word(page, line)) << line;
}
