// Exported start and stop of the library, the connection state, the
// device-change notifications and the device location.
#include "api/Frame.h"
#include "hsim.h"
#include "lifecycle/Lifecycle.h"
#include "transport/DeviceLocation.h"
#include "transport/Port.h"

#include <map>
#include <mutex>

namespace {

constexpr unsigned int kDeviceArrivalEvent = 537;  // device-change notification: re-check now

// Callbacks recorded for the application; the library calls none of them.
std::mutex s_NotifyMutex;
std::map<unsigned int, HSIM_NOTIFY_CALLBACK> g_mapNotifyEvent;

}  // namespace

extern "C" bool DoInit(HSIM_CONNECTION_CALLBACK callback)
{
    return hsim::DoInit(callback);
}

extern "C" bool HSIMInit(HSIM_CONNECTION_CALLBACK callback)
{
    g_nPortNumber.store(-1);
    return hsim::DoInit(callback);
}

extern "C" bool HSIMConnect(int port, unsigned int timeoutMs)
{
    // A working connection is kept, not torn down and searched again.
    if (hsim::IsConnectionUp())
        return true;
    g_nPortNumber.store(port);
    g_hConnectedEvent.ResetEvent();
    if (!hsim::DoInit(hsim::ConnectedHandler))
        return false;
    if (g_hConnectedEvent.WaitTimeout(timeoutMs) == 0)
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
    CAutoCriticalSection lock(g_CriticalSection);
    return g_hDevice.load();
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
    std::lock_guard<std::mutex> guard(s_NotifyMutex);
    g_mapNotifyEvent[event] = callback;
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
