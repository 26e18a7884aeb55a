// sd-bus, loaded when it is first wanted (see sdbus.h).
#include "mpris/sdbus.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

sdbus_functions sdbus;

int sdbus_address_known()
{
	const char *address = getenv("DBUS_SESSION_BUS_ADDRESS");
	if (address && *address)
		return 1;
	const char *runtime = getenv("XDG_RUNTIME_DIR");
	struct stat st;
	return runtime && *runtime && stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Sets f to the function name in library; 1 when it is there.
template <typename F> static int take(void *library, const char *name, F *f)
{
	*f = reinterpret_cast<F>(dlsym(library, name));
	return *f != nullptr;
}

int sdbus_load()
{
	if (sdbus.open_user)
		return 1;
	// The library the headers come from, by its soname.
	void *library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
	if (!library)
		return 0;
	sdbus_functions f;
	if (take(library, "sd_bus_open_user", &f.open_user) && take(library, "sd_bus_close_unref", &f.close_unref) &&
	    take(library, "sd_bus_get_fd", &f.get_fd) && take(library, "sd_bus_get_events", &f.get_events) &&
	    take(library, "sd_bus_get_timeout", &f.get_timeout) && take(library, "sd_bus_process", &f.process) &&
	    take(library, "sd_bus_request_name_async", &f.request_name_async) &&
	    take(library, "sd_bus_add_object_vtable", &f.add_object_vtable) &&
	    take(library, "sd_bus_slot_unref", &f.slot_unref) && take(library, "sd_bus_emit_signal", &f.emit_signal) &&
	    take(library, "sd_bus_emit_properties_changed_strv", &f.emit_properties_changed_strv) &&
	    take(library, "sd_bus_reply_method_return", &f.reply_method_return) &&
	    take(library, "sd_bus_message_append", &f.message_append) &&
	    take(library, "sd_bus_message_read", &f.message_read) &&
	    take(library, "sd_bus_message_open_container", &f.message_open_container) &&
	    take(library, "sd_bus_message_close_container", &f.message_close_container) &&
	    take(library, "sd_bus_message_is_method_error", &f.message_is_method_error) &&
	    take(library, "sd_bus_error_set", &f.error_set) && take(library, "sd_bus_error_setf", &f.error_setf) &&
	    take(library, "sd_bus_object_vtable_format", &f.object_vtable_format)) {
		sdbus = f;
		return 1;
	}
	dlclose(library);
	return 0;
}
