// Playlist files in the walk: each read in pieces as its entries are
// taken, judged by its first bytes, and small ones kept, so that lists that
// name each other over and over are not read again and again.
#include "playlist/playlist.h"

#include <sys/stat.h>

#include <cstdio>

// A playlist file is read this much at a time.
static constexpr std::size_t list_piece = 65536;
// The bytes of small playlist files the walk keeps, to read none twice.
static constexpr std::size_t memo_list_bytes = 4 << 20;

file_identity file_identity_of(const struct stat &st)
{
	return {st.st_dev, st.st_ino, st.st_size, static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

const walk_memo::list_read *list_known(const playlist &list, const struct stat &st)
{
	const auto known = list.memo.lists.find({st.st_dev, st.st_ino});
	return known != list.memo.lists.end() && known->second.id == file_identity_of(st) ? &known->second : nullptr;
}

void read_list_piece(playlist *list, walk_frame *f)
{
	static char piece[list_piece];
	std::size_t got = fread(piece, 1, sizeof piece, f->file.get());
	const bool failed = ferror(f->file.get()), too_long = f->bytes_read + got > playlist_file_max;
	const bool last = got < sizeof piece || too_long;
	if (too_long)
		got = static_cast<std::size_t>(playlist_file_max - f->bytes_read);
	if (f->bytes_read == 0) {
		f->reader.encoding = m3u_judge({piece, got});
		std::string head;
		f->reader.pls = f->reader.encoding != m3u_not_text && m3u_text({piece, got}, &head) && pls_text(head);
	}
	f->bytes_read += got;
	f->items.clear();
	f->next = 0;
	bool text = f->reader.encoding != m3u_not_text;
	if (text && f->reader.pls) {
		// A PLS list names its files by number, in any order: it is
		// taken whole, once its last piece is in.
		f->reader.cut_bytes.append(piece, got);
		std::string whole;
		if (last && (text = m3u_text(f->reader.cut_bytes, &whole)))
			f->items = pls_entries(whole, f->path);
		if (last)
			f->reader.cut_bytes.clear();
	} else if (text) {
		text = m3u_take(&f->reader, {piece, got}, last, f->path, &f->items);
	}
	f->listed += f->items.size();
	if (!last && text)
		return;
	f->file.reset();
	f->told = !text || failed || too_long;
	if (!text)
		walk_report(list, problem_not_text, f->path);
	else if (failed)
		walk_report(list, problem_unreadable, f->path);
	else if (too_long)
		walk_report(list, problem_too_long, f->path);
}

bool enter_list(playlist *list, const std::string &path, const struct stat &st)
{
	int depth = 0;
	for (const walk_frame &g : list->walk) {
		if (g.kind != frame_list)
			continue;
		if (g.dev == st.st_dev && g.ino == st.st_ino)
			return true;
		depth++;
	}
	if (depth >= playlist_depth_max) {
		walk_report(list, problem_too_deep, path);
		return true;
	}
	walk_frame f{.kind = frame_list, .path = path, .dev = st.st_dev, .ino = st.st_ino};
	if (const walk_memo::list_read *known = list_known(*list, st)) {
		f.items = known->items;
		f.listed = f.items.size();
		list->walk.push_back(std::move(f));
		return true;
	}
	FILE *file = fopen(path.c_str(), "rbe");
	if (!file)
		return false;
	f.file.reset(file, fclose);
	read_list_piece(list, &f);
	// A small list read whole, and text, is kept.
	walk_memo &memo = list->memo;
	if (!f.file && !f.told && f.bytes_read < list_piece && memo.list_bytes + f.bytes_read <= memo_list_bytes) {
		memo.list_bytes += f.bytes_read;
		memo.lists[{st.st_dev, st.st_ino}] = {file_identity_of(st), f.items};
	}
	list->walk.push_back(std::move(f));
	return true;
}

