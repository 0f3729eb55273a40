// Connection lifecycle: the connect thread, which searches for the simulator,
// brings a newly found device to a known state, tells the application and
// watches the link; the poll thread, which answers the device's data requests
// while output streams; and the start and stop of both.
#pragma once

#include "hsim_events.hpp"

// Every function works on the calling thread's context (CurrentDevice); the
// threads started here are bound to the context that started them.
namespace hsim {

// Sets the connection callback and starts the connect thread unless it runs.
// A connect thread that was told to stop from a library thread and has ended
// since is joined first. False when no thread could be started, or when
// called on a library thread while another thread stops the library.
bool DoInit(HSIM_CONNECTION_CALLBACK callback);

// True when the connect thread runs and the device it found is connected.
bool IsConnectionUp();

// Ends the connect thread: the callback is cleared first (the application
// hears nothing of its own stop), then the thread winds down and is joined.
// On a library thread (a callback), where joining would wait for itself, the
// thread is only told to stop; a later start or stop reaps it.
void StopConnection();

// Stores the state and tells the application's callback, if any.
void NotifyListener(bool connected);
// The callback HSIMConnect installs: a connection sets the context's
// connectedEvent.
void ConnectedHandler(bool connected);
// Wakes the connect thread for an immediate presence and keep-alive check.
void ReconnectDevice();

// The poll thread of the context it is given.
void* USBDataPollThread(void* context);

}  // namespace hsim
