// The serial port to the simulator: the descriptor of the current context's
// port, the exact-length transfers every device message travels through, and
// the tear-down that is safe against transfers in progress on other threads.
#pragma once

// Descriptor of the identified port, -1 while none is. A copy of the number
// is only meaningful inside a transfer: the descriptor is closed when the
// last transfer using it has ended.
long DeviceDescriptor();

// True when an identified device is open (the port is published).
bool DeviceIsConnected();
// True when a port is open, identified or still being identified.
bool PortIsOpen();

// Takes ownership of an open descriptor as the current port; transfers use
// it from now on, but it is published (DeviceDescriptor) only by PortSetPath. A
// port still open is closed first. False (and fd closed) when the port cannot
// be set up.
bool PortAdopt(int fd);

// Closes the port (and releases the lock file). Safe to call from any
// thread at any time; a transfer in progress on another thread ends at once
// with a short count, and the descriptor is closed when it has.
void DeviceClose();

// Exact-length transfers. Any result other than len is a failure.
// WriteData returns the bytes written (0 on time-out or with no port);
// ReadDataEx the bytes read, -1 when nothing arrived within the time-out.
int WriteData(const unsigned char* buffer, int len, int mode);
int ReadData(unsigned char* buffer, int len);
int ReadDataEx(unsigned char* buffer, int len, unsigned int timeoutMs);
// What the calling thread's last transfer (WriteData, ReadData, ReadDataEx)
// did: the bytes it was asked to move, the bytes that moved (also when a
// write that ran out of time reports 0) and the OS error (errno) of the
// system call that failed; osError is 0 when the transfer was whole, timed
// out, found the port closed, or read an end of file.
struct TransferOutcome {
    int expected = 0;
    int done = 0;
    int osError = 0;
};
TransferOutcome LastTransfer();
// Why the calling thread's last read came back short: false when it timed
// out (or was whole), true when the port is gone (closed here, or the device
// hung up). A reader that loops must not read a lost port again at once.
bool LastReadLostPort();
// True when a read on the current opening of the port found that the device
// hung up (end of file, or an error such as EIO): the descriptor will never
// carry anything again.
bool PortHungUp();
// Looks at the open port without reading it: true when the device has hung up
// (noted for PortHungUp too). False while no port is open.
bool PortHangsUp();
// The number of the current opening of the port (every open counts up), 0
// while no port is open: state kept about the device is only valid for the
// opening it was learnt on.
unsigned long PortOpening();

void DeviceCancelIO();

// Records the path of the identified device and publishes the port
// (DeviceDescriptor) once the handshake succeeded; DeviceClose clears both.
void PortSetPath(const char* path, int port = -1);
// The port number of the identified device, -1 while none is.
int DevicePort();
// True when a device is recorded and path equals its path exactly.
bool DeviceCheckPath(const char* path);
void SetDeviceTimeoutSetting(unsigned int readMs, unsigned int writeMs);

// Puts an open terminal into the raw mode the device needs: no translation,
// no echo, no signals, 115200 baud out.
void SetRawLine(int fd);
// True while the recorded device node is still listed.
bool DeviceIsAlive();
