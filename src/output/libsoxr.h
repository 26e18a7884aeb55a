// Inside the output room: libsoxr, loaded when a stream is first
// resampled. Only a declared raw format whose rate differs from a stream's
// needs it, so a conversion or live playback does not pay for loading it.
#pragma once

#include <soxr.h>

/// The libsoxr functions the room calls, by their names less "soxr_".
struct soxr_functions {
	decltype(&soxr_create) create;
	decltype(&soxr_process) process;
	decltype(&soxr_clear) clear;
	decltype(&soxr_delete) destroy;
	decltype(&soxr_io_spec) io_spec;
	decltype(&soxr_quality_spec) quality_spec;
	decltype(&soxr_runtime_spec) runtime_spec;
};
/// Filled by soxr_load(); null until then.
extern soxr_functions soxr_lib;

/// Loads libsoxr and every function above, once. 1 when they are all
/// there; 0 (nothing kept, one line printed) when not.
int soxr_load();
