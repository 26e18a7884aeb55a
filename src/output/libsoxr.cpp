// libsoxr, loaded when it is first wanted (see libsoxr.h).
#include "output/libsoxr.h"

#include <dlfcn.h>

#include <cstdio>

soxr_functions soxr_lib;

// Sets f to the function name in library; 1 when it is there.
template <typename F> static int take(void *library, const char *name, F *f)
{
	*f = reinterpret_cast<F>(dlsym(library, name));
	return *f != nullptr;
}

int soxr_load()
{
	if (soxr_lib.create)
		return 1;
	// The library the header comes from, by its soname.
	void *library = dlopen("libsoxr.so.0", RTLD_NOW | RTLD_LOCAL);
	if (!library) {
		fprintf(stderr, "Cannot convert the rate: %s\n", dlerror());
		return 0;
	}
	soxr_functions f;
	if (take(library, "soxr_create", &f.create) && take(library, "soxr_process", &f.process) &&
	    take(library, "soxr_clear", &f.clear) && take(library, "soxr_delete", &f.destroy) &&
	    take(library, "soxr_io_spec", &f.io_spec) && take(library, "soxr_quality_spec", &f.quality_spec) &&
	    take(library, "soxr_runtime_spec", &f.runtime_spec)) {
		soxr_lib = f;
		return 1;
	}
	fprintf(stderr, "Cannot convert the rate: libsoxr.so.0 lacks a function\n");
	dlclose(library);
	return 0;
}
