#include "testenv.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

const char *wendrop_bin() { return WENDROP_BIN; }
const char *flac_tool() { return FLAC_TOOL; }

temp_dir::temp_dir()
{
	const char *base = getenv("TMPDIR");
	std::string tmpl = std::string(base && *base ? base : "/tmp") + "/wendrop-test-XXXXXX";
	if (!mkdtemp(tmpl.data()))
		throw std::runtime_error("mkdtemp failed");
	path = tmpl;
}

temp_dir::~temp_dir()
{
	std::error_code ec;
	std::filesystem::remove_all(path, ec);
}

std::vector<std::string> wendrop_args(std::vector<std::string> args)
{
	args.insert(args.begin(), wendrop_bin());
	return args;
}

std::vector<std::string> lines_of(const std::string &text)
{
	std::vector<std::string> lines;
	std::size_t start = 0;
	while (start < text.size()) {
		std::size_t nl = text.find('\n', start);
		if (nl == std::string::npos) {
			lines.push_back(text.substr(start));
			break;
		}
		lines.push_back(text.substr(start, nl - start));
		start = nl + 1;
	}
	return lines;
}

std::vector<std::string> played_names(const std::string &out)
{
	const std::string lead = "Playing FLAC stream from ";
	std::vector<std::string> names;
	for (const std::string &line : lines_of(out))
		if (line.rfind(lead, 0) == 0)
			names.push_back(line.substr(lead.size()));
	return names;
}

std::vector<std::string> progress_counts(const std::string &out)
{
	std::vector<std::string> counts;
	for (const std::string &line : lines_of(out))
		if (line.rfind("@F ", 0) == 0)
			counts.push_back(line.substr(3, line.find(' ', line.find(' ', 3) + 1) - 3));
	return counts;
}

std::vector<std::string> player_env(const temp_dir &dir, const std::string &default_driver)
{
	std::string home = dir.file("home");
	std::filesystem::create_directories(home);
	FILE *f = fopen((home + "/.libao").c_str(), "w");
	if (f) {
		fputs("quiet\n", f);
		if (!default_driver.empty())
			fprintf(f, "default_driver=%s\n", default_driver.c_str());
		fclose(f);
	}
	return {"HOME=" + home};
}
