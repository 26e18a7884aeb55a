# The Debian package, built by scripts/package.sh with CPack's DEB generator.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wendrop)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "wendrop developers <wendrop@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console player for FLAC audio")
# The extended description; CPack indents its lines and marks the empty
# line between paragraphs as Debian's control files want.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "wendrop plays FLAC files (native and Ogg FLAC) from the command line, or
from standard input, on any libao output driver, or decodes them into WAV
files. It prints each file's tags and stream properties, checks the MD5
signature of the decoded audio, and skips to the next file on Ctrl-C.

On a desktop, media keys and playerctl steer it through MPRIS. As a
source for Snapcast it plays raw PCM of one fixed format in every room.

In remote mode a front end drives it with one-line commands on standard
input (load, jump, stop, pause, volume, quit) and reads event lines.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends: from the shared libraries the program links, by dpkg-shlibdeps,
# and those it loads only when they are first needed, which dpkg-shlibdeps
# cannot see: libsystemd when a session bus is there
# (vtable_format_reference came in 246), libsoxr when a raw output's rate
# is converted, libpulse to ask a pulse server about a stream, libcurl when
# the first URL is met (CURLOPT_PROTOCOLS_STR came in 7.85).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsystemd0 (>= 246), libsoxr0, libpulse0, libcurl4 (>= 7.85)")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
