// Finding the simulator among the port nodes.
#pragma once

constexpr int kMaxPorts = 128;

// Port n, or -1 for ports 0..127 in turn; true when a device was found,
// opened, locked and identified.
bool FindDevice(int port);
bool DoFindDevice(int port);
// Up to `attempts` searches, sleeping 1 s after each failed one.
bool DeviceConnect(int port, int attempts);
