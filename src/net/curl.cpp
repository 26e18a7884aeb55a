// libcurl, loaded when it is first wanted (see curl.h).
#include "net/curl.h"

#include <dlfcn.h>

curl_functions curl;

// Sets f to the function name in library; 1 when it is there.
template <typename F> static int take(void *library, const char *name, F *f)
{
	*f = reinterpret_cast<F>(dlsym(library, name));
	return *f != nullptr;
}

int curl_load()
{
	if (curl.easy_init)
		return 1;
	// The library the headers come from, by its soname.
	void *library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
	if (!library)
		return 0;
	curl_functions f;
	if (take(library, "curl_global_init", &f.global_init) && take(library, "curl_multi_init", &f.multi_init) &&
	    take(library, "curl_multi_setopt", &f.multi_setopt) &&
	    take(library, "curl_multi_add_handle", &f.multi_add_handle) &&
	    take(library, "curl_multi_remove_handle", &f.multi_remove_handle) &&
	    take(library, "curl_multi_socket_action", &f.multi_socket_action) &&
	    take(library, "curl_multi_info_read", &f.multi_info_read) && take(library, "curl_easy_init", &f.easy_init) &&
	    take(library, "curl_easy_setopt", &f.easy_setopt) && take(library, "curl_easy_getinfo", &f.easy_getinfo) &&
	    take(library, "curl_easy_cleanup", &f.easy_cleanup) && take(library, "curl_easy_pause", &f.easy_pause) &&
	    take(library, "curl_slist_append", &f.slist_append) &&
	    take(library, "curl_slist_free_all", &f.slist_free_all) &&
	    f.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {
		curl = f;
		return 1;
	}
	dlclose(library);
	return 0;
}
