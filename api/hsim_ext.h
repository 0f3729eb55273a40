/*
 * hsim_ext.h - extensions of this project to the libhsim interface.
 *
 * Functions this project adds to the interface of hsim.h, which tests, demos,
 * tools and installations need; C linkage like the rest.
 */
#ifndef HSIM_EXT_H
#define HSIM_EXT_H

#include "hsim.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Where the library looks for the simulator.
 *
 * devicePathFormat: printf-style path of a port with exactly one "%d" for the
 *   port number and no other '%' (default "/dev/ttyACM%d"). The presence test
 *   lists the nodes that match the format with "*" in place of "%d".
 * lockDirectory: directory of the lock files "norvale.ACM<n>.lock"
 *   (default "/var/lock"); created with mode 0755 when missing.
 * A null argument restores that default.
 *
 * Returns 0 on success; -1 while the library is started (between
 * HSIMInit/HSIMConnect and HSIMFree); -2 for an unusable format (no "%d",
 * another conversion, or a port path that would not fit 511 bytes); -3 for an
 * unusable lock directory (empty, or a lock path that would not fit 127
 * bytes). A refused call changes nothing.
 *
 * The paths are never interpreted by a shell: the presence listing quotes
 * them. since 1.0.5
 */
HSIM_API int HSIMSetDeviceLocation(const char* devicePathFormat, const char* lockDirectory);

/* Copies the current settings into the caller's buffers (either may be null).
 * Returns 0, or -1 when a buffer is too small. since 1.0.5 */
HSIM_API int HSIMGetDeviceLocation(char* devicePathFormat, size_t formatSize,
                                   char* lockDirectory, size_t lockSize);

/*
 * Whether a built-in table holds published data or a stand-in.
 * Returns 1 for published data, 0 for a stand-in, -1 for an unknown table.
 * *source (when source is not null) receives a static text that says where
 * the data came from. since 1.0.5
 */
HSIM_API int HSIMGetTableProvenance(int table, const char** source);

#ifdef __cplusplus
}
#endif

#endif /* HSIM_EXT_H */
