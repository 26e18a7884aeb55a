// Inside the mpris room: sd-bus, loaded when a session bus is there to be
// used. Linked, libsystemd and what it needs (libgcrypt, liblzma, libzstd,
// liblz4, libcap) load at every start, 1.3 ms here: as long again as a
// short WAV conversion takes, for runs that never reach a bus.
#pragma once

#include <systemd/sd-bus.h>

/// The sd-bus functions the room calls, by their names less "sd_bus_".
struct sdbus_functions {
	decltype(&sd_bus_open_user) open_user;
	decltype(&sd_bus_close_unref) close_unref;
	decltype(&sd_bus_get_fd) get_fd;
	decltype(&sd_bus_get_events) get_events;
	decltype(&sd_bus_get_timeout) get_timeout;
	decltype(&sd_bus_process) process;
	decltype(&sd_bus_request_name_async) request_name_async;
	decltype(&sd_bus_add_object_vtable) add_object_vtable;
	decltype(&sd_bus_slot_unref) slot_unref;
	decltype(&sd_bus_emit_signal) emit_signal;
	decltype(&sd_bus_emit_properties_changed_strv) emit_properties_changed_strv;
	decltype(&sd_bus_reply_method_return) reply_method_return;
	decltype(&sd_bus_message_append) message_append;
	decltype(&sd_bus_message_read) message_read;
	decltype(&sd_bus_message_open_container) message_open_container;
	decltype(&sd_bus_message_close_container) message_close_container;
	decltype(&sd_bus_message_is_method_error) message_is_method_error;
	decltype(&sd_bus_error_set) error_set;
	decltype(&sd_bus_error_setf) error_setf;
	const unsigned *object_vtable_format;
};
/// Filled by sdbus_load(); null until then.
extern sdbus_functions sdbus;

/// SD_BUS_VTABLE_START names libsystemd's sd_bus_object_vtable_format, which
/// a program that loads the library later cannot be linked to: a vtable
/// begins with this instead, and its start is given that address
/// (sdbus.object_vtable_format) before the vtable is added.
#define SDBUS_VTABLE_START(_flags)                                                                     \
	{                                                                                              \
		.type = _SD_BUS_VTABLE_START, .flags = _flags, .x = {                                   \
			.start = {                                                                     \
				.element_size = sizeof(sd_bus_vtable),                                 \
				.features = _SD_BUS_VTABLE_PARAM_NAMES,                                \
				.vtable_format_reference = nullptr,                                    \
			},                                                                             \
		},                                                                                     \
	}

/// 1 when a session bus may be there: an address, or the socket at its
/// usual place, as sd-bus itself looks.
int sdbus_address_known();
/// Loads libsystemd and every function above, once. 1 when they are all
/// there; 0 (nothing kept) when not.
int sdbus_load();
