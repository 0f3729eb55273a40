// The lock file that guards a port against a second process.
#pragma once

// True when the lock file of the port was created by this call.
bool LockDeviceFile(int port);
// Releases the lock file held by this process, if any.
void UnlockDeviceFile();
// The form DeviceClose calls.
void UnlockDevice();
