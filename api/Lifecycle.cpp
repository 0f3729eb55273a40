// Exported start and stop of the library, the connection state, the
// device-change notifications and the device location.
#include "api/Frame.h"
#include "api/Simulator.h"
#include "hsim.h"
#include "lifecycle/Lifecycle.h"
#include "transport/DeviceLocation.h"
#include "transport/Port.h"

#include <map>
#include <mutex>

namespace {

constexpr unsigned int kDeviceArrivalEvent = 537;  // device-change notification: re-check now

}  // namespace

extern "C" bool DoInit(HSIM_CONNECTION_CALLBACK callback)
{
    return hsim::DoInit(callback);
}

extern "C" bool HSIMInit(HSIM_CONNECTION_CALLBACK callback)
{
    hsim::CurrentDevice().nPortNumber.store(-1);
    return hsim::DoInit(callback);
}

extern "C" bool HSIMConnect(int port, unsigned int timeoutMs)
{
    // A working connection is kept, not torn down and searched again.
    if (hsim::IsConnectionUp())
        return true;
    hsim::CurrentDevice().nPortNumber.store(port);
    hsim::CurrentDevice().connectedEvent.ResetEvent();
    if (!hsim::DoInit(hsim::ConnectedHandler))
        return false;
    if (hsim::CurrentDevice().connectedEvent.WaitTimeout(timeoutMs) == 0)
        return true;
    HSIMFree();
    return false;
}

// From a connection callback the connect thread is told to stop and reaped
// by the next start or stop; the callback returns at once.
extern "C" void HSIMFree(void)
{
    HSIMSetOutputFunction(OUTPUT_OFF);
    hsim::StopConnection();
}

extern "C" bool HSIMIsConnected(void)
{
    return DeviceIsConnected();
}

extern "C" long HSIMGetDeviceHandle(void)
{
    ContextGuard lock(hsim::ContextLock());
    return DeviceDescriptor();
}

extern "C" void NotifyListener(bool connected)
{
    hsim::NotifyListener(connected);
}

extern "C" void ConnectedHandler(bool connected)
{
    hsim::ConnectedHandler(connected);
}

extern "C" void ReconnectDevice(void)
{
    hsim::ReconnectDevice();
}

extern "C" void RegisterNotifyEvent(unsigned int event, HSIM_NOTIFY_CALLBACK callback)
{
    std::lock_guard<std::mutex> guard(hsim::CurrentSimulator().notifyMutex);
    hsim::CurrentSimulator().notifyEvents[event] = callback;
}

extern "C" void WinEventCb(unsigned int event, unsigned int, unsigned long)
{
    if (event == kDeviceArrivalEvent)
        hsim::ReconnectDevice();
}

extern "C" int HSIMSetDeviceLocation(const char* devicePathFormat, const char* lockDirectory)
{
    return DeviceLocationSet(devicePathFormat, lockDirectory);
}

extern "C" int HSIMGetDeviceLocation(char* devicePathFormat, size_t formatSize, char* lockDirectory,
                                     size_t lockSize)
{
    return DeviceLocationGet(devicePathFormat, formatSize, lockDirectory, lockSize);
}
