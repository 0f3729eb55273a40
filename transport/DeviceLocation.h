// Where the simulator's port nodes and the lock files are. The defaults are
// the real system's; an exported extension points them elsewhere (tests and
// the demo run against the emulator without touching /dev or /var/lock).
#pragma once

#include <cstddef>

constexpr size_t kDevicePathSize = 512;   // a device node path
constexpr size_t kLockPathSize = 128;     // a lock file path

// Formats the node path of a port; false when it does not fit.
bool FormatDevicePath(int port, char* out, size_t size);
// Formats the lock file path of a port; false when it does not fit.
bool FormatLockPath(int port, char* out, size_t size);
// Copies the lock directory.
bool CopyLockDirectory(char* out, size_t size);
// The shell command that lists the port nodes, one per line.
bool FormatPresenceCommand(char* out, size_t size);

// Set by the connection lifecycle, once per simulator that starts (true) and
// once when it has stopped (false): while any is started, the location is
// fixed.
void DeviceLocationSetLocked(bool locked);

// The device path format (one "%d") and the lock directory; null restores a
// default. 0, -1 while locked, -2 for an unusable format, -3 for an unusable
// directory; a refused call changes nothing.
int DeviceLocationSet(const char* devicePathFormat, const char* lockDirectory);
// Copies the settings (either buffer may be null); 0, or -1 when one does not fit.
int DeviceLocationGet(char* devicePathFormat, size_t formatSize, char* lockDirectory, size_t lockSize);
constexpr size_t kPresenceCommandSize = 4 * kDevicePathSize + 64;
