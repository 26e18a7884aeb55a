// Inside the net room: libcurl, loaded when the first URL is met. Linked,
// it and what it needs (TLS, SSH, LDAP, Kerberos, IDN...) would load at
// every start, for runs that play only files.
#pragma once

#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

/// The libcurl functions the room calls, by their names less "curl_".
struct curl_functions {
	decltype(&curl_global_init) global_init;
	decltype(&curl_multi_init) multi_init;
	decltype(&curl_multi_setopt) multi_setopt;
	decltype(&curl_multi_add_handle) multi_add_handle;
	decltype(&curl_multi_remove_handle) multi_remove_handle;
	decltype(&curl_multi_socket_action) multi_socket_action;
	decltype(&curl_multi_info_read) multi_info_read;
	decltype(&curl_easy_init) easy_init;
	decltype(&curl_easy_setopt) easy_setopt;
	decltype(&curl_easy_getinfo) easy_getinfo;
	decltype(&curl_easy_cleanup) easy_cleanup;
	decltype(&curl_easy_pause) easy_pause;
	decltype(&curl_slist_append) slist_append;
	decltype(&curl_slist_free_all) slist_free_all;
};
/// Filled by curl_load(); null until then.
extern curl_functions curl;

/// Loads libcurl and every function above, once, and initialises it. 1
/// when they are all there; 0 (nothing kept) when not.
int curl_load();
