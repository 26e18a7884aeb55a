// Cover art for the desktop, which takes it by URL: a stream's front cover
// written to a file of its own, else the picture kept beside the file.
#include "mpris/mpris.h"
#include "mpris/objects.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {
// Pictures kept written: the one shown, and the one before, which a
// desktop may still be reading.
constexpr int pictures_kept = 2;

struct {
	std::string folder;  // private to this run; "" until the first picture
	std::string files[pictures_kept];  // newest first; "" where none
	uint64_t hashes[pictures_kept];
} art;

uint64_t fnv1a(const std::vector<unsigned char> &data)
{
	uint64_t h = 0xcbf29ce484222325ull;
	for (const unsigned char b : data)
		h = (h ^ b) * 0x100000001b3ull;
	return h;
}

const char *extension(const std::string &mime)
{
	static const char *const known[][2] = {
		{"image/jpeg", ".jpg"}, {"image/jpg", ".jpg"}, {"image/png", ".png"}, {"image/gif", ".gif"},
		{"image/webp", ".webp"},
	};
	for (const auto &k : known)
		if (strcasecmp(mime.c_str(), k[0]) == 0)
			return k[1];
	return "";
}

// A folder only this user can enter, on the run-time file system where
// there is one: the pictures are gone with the run, and no other user can
// put one in their place.
const std::string &private_folder()
{
	if (art.folder.empty()) {
		const char *runtime = getenv("XDG_RUNTIME_DIR"), *tmp = getenv("TMPDIR");
		std::string name = runtime && *runtime ? runtime : tmp && *tmp ? tmp : "/tmp";
		name += "/wendrop-art-XXXXXX";
		if (mkdtemp(name.data()))
			art.folder = name;
	}
	return art.folder;
}

// Writes data to a new file at path. false (nothing left) when it cannot.
bool write_new(const std::string &path, const std::vector<unsigned char> &data)
{
	const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
	if (fd < 0)
		return false;
	std::size_t done = 0;
	while (done < data.size()) {
		const ssize_t n = write(fd, data.data() + done, data.size() - done);
		if (n <= 0)
			break;
		done += static_cast<std::size_t>(n);
	}
	if (close(fd) != 0 || done != data.size()) {
		unlink(path.c_str());
		return false;
	}
	return true;
}

// The file holding the picture: one already written for it, or a new one.
std::string picture_file(const cover_art &cover)
{
	const uint64_t hash = fnv1a(cover.data);
	for (int i = 0; i < pictures_kept; i++)
		if (!art.files[i].empty() && art.hashes[i] == hash)
			return art.files[i];
	if (private_folder().empty())
		return "";
	char name[40];
	snprintf(name, sizeof name, "/cover-%016llx", static_cast<unsigned long long>(hash));
	const std::string path = art.folder + name + extension(cover.mime);
	if (!write_new(path, cover.data))
		return "";
	if (!art.files[pictures_kept - 1].empty())
		unlink(art.files[pictures_kept - 1].c_str());
	for (int i = pictures_kept - 1; i > 0; i--) {
		art.files[i] = art.files[i - 1];
		art.hashes[i] = art.hashes[i - 1];
	}
	art.files[0] = path;
	art.hashes[0] = hash;
	return path;
}

// The picture that rippers and shops leave beside an album's files.
std::string picture_beside(const std::string &path)
{
	const std::size_t slash = path.rfind('/');
	const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
	for (const char *name : {"cover", "Cover", "folder", "Folder", "front", "Front"})
		for (const char *ext : {".jpg", ".png"}) {
			const std::string candidate = folder + name + ext;
			struct stat st;
			if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode))
				return candidate;
		}
	return "";
}
}

std::string mpris_art_url(const std::string &path, const cover_art &cover, const std::string &cwd)
{
	// A picture given by its URL ("-->") is left alone.
	std::string file = !cover.data.empty() && cover.mime != "-->" ? picture_file(cover) : "";
	if (file.empty() && !path.empty())
		file = picture_beside(path);
	return file.empty() ? "" : mpris_file_url(file, cwd);
}

void mpris_art_clear()
{
	for (std::string &f : art.files) {
		if (!f.empty())
			unlink(f.c_str());
		f.clear();
	}
	if (!art.folder.empty())
		rmdir(art.folder.c_str());
	art.folder.clear();
}
