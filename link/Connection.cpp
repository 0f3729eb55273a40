// Connection lifecycle.
//
// The connect thread searches for the simulator about once a second, brings a
// newly found device to a known state (leads and input impedance of the four
// output channels), tells the application, starts the presence monitor and a
// poll thread, and then checks the link at least every 30 s: the node must
// still be listed and the device must answer the identity probe. After a
// loss it winds down, tells the application, and searches again.
//
// While output streams, the poll thread reads the device's reports without
// the global lock. Any other thread that talks to the device takes the lock
// and then waits for the command window: the poll thread opens it when a
// report has arrived, before it asks for the lock itself, and closes it when
// it has answered. The exchange of the waiting thread thus falls between a
// report and its answer, when nobody else reads the port.
#include "link/Connection.h"

#include "device/Streaming.h"
#include "hsim.h"
#include "link/DeviceLocation.h"
#include "link/Discovery.h"
#include "link/Globals.h"
#include "link/Handshake.h"
#include "link/Monitor.h"
#include "link/Port.h"
#include "synth/Parameters.h"

#include <cstring>
#include <mutex>
#include <pthread.h>

std::atomic<int> g_bConnected{0};
std::atomic<int> g_nPortNumber{-1};
std::atomic<unsigned long> g_hConnectDeviceThread{0};
std::atomic<int> g_bStopConnectDeviceThread{0};
std::atomic<HSIM_CONNECTION_CALLBACK> g_Callback{nullptr};

namespace {

constexpr int kChannels = 4;
constexpr unsigned int kWatchIntervalMs = 30000;
constexpr unsigned int kIdlePollMs = 10;
constexpr int kReportSize = 64;

// Serialises start and stop of the library between application threads.
std::mutex s_LifecycleMutex;
std::atomic<unsigned long> s_PollThread{0};
// Held by the poll thread while it reads a report.
std::mutex s_ReportReadMutex;

void* USBDataPollThread(void*)
{
    pthread_setname_np(pthread_self(), "hsim-poll");
    unsigned int reportTimeoutMs = 0;
    {
        CAutoCriticalSection lock(g_CriticalSection);
        if (g_nSampleRate > 0)
            reportTimeoutMs = unsigned(700000 / g_nSampleRate);  // time of 700 samples
    }
    unsigned char report[kReportSize];
    while (g_hPollingEvent.WaitTimeout(0) == 0) {
        int received = 0;
        {
            // Streaming is checked and the report read under the reader
            // lock, so that a thread that has seen streaming stop knows no
            // report read is still under way (see WaitForCommandWindow).
            std::lock_guard<std::mutex> reading(s_ReportReadMutex);
            if (g_bECGGoing.load()) {
                memset(report, 0, sizeof report);
                received = ReadDataEx(report, kReportSize, reportTimeoutMs);
            }
        }
        if (received < 1) {
            SleepEx(kIdlePollMs);
            continue;
        }
        g_hProcessRequestEvent.SetEvent();
        {
            CAutoCriticalSection lock(g_CriticalSection);
            if (report[0] == 1 && report[1] == 0x55) {
                if (g_hStopPlayEvent.WaitTimeout(0) == 0)
                    SetRelays(false);
                else
                    _SendNextPacket();
            }
            g_hProcessRequestEvent.ResetEvent();
        }
    }
    return nullptr;
}

// Known state of a newly found device: primary lead and no input impedance
// network on every output channel.
void ResetOutputChannels()
{
    {
        CAutoCriticalSection lock(g_CriticalSection);
        g_bECGGoing.store(false);
    }
    for (int channel = 0; channel < kChannels; ++channel) {
        HSIMSetOutputLead(channel, OUTPUT_LEAD_PRIMARY);
        HSIMSetInputImpedanceMode(channel, 0);
    }
}

// Runs until the device is lost or a stop is requested.
void WatchConnection()
{
    while (!g_bStopConnectDeviceThread.load()) {
        g_hReconnectEvent.WaitTimeout(kWatchIntervalMs);
        if (g_bStopConnectDeviceThread.load())
            break;
        if (!DeviceIsAlive()) {
            DeviceClose();
            break;
        }
        // A streaming device that does not ask for data within the window
        // has stopped working: the link is taken down.
        bool alive;
        {
            CAutoCriticalSection lock(g_CriticalSection);
            alive = WaitForCommandWindow(kCommandWindowMs) && WatchDog();
            if (!alive)
                DeviceClose();
        }
        if (!alive)
            break;
    }
}

void* ConnectDeviceThread(void*)
{
    pthread_setname_np(pthread_self(), "hsim-connect");
    while (!g_bStopConnectDeviceThread.load()) {
        if (!DeviceConnect(g_nPortNumber.load(), 1)) {
            SleepEx(kIdlePollMs);
            continue;
        }
        ResetOutputChannels();
        NotifyListener(true);
        g_AutoMonitor.StartMonitor();
        g_hPollingEvent.SetEvent();
        pthread_t poll;
        bool polling = pthread_create(&poll, nullptr, USBDataPollThread, nullptr) == 0;
        if (polling)
            s_PollThread.store(poll);

        WatchConnection();

        // Wind down. The poll thread has ended before a new one can start.
        g_hPollingEvent.ResetEvent();
        if (polling) {
            pthread_join(poll, nullptr);
            s_PollThread.store(0);
        }
        // These reach the device only after a stop request; after a loss the
        // port is closed and they refuse.
        for (int channel = 0; channel < kChannels; ++channel) {
            HSIMSetDCOffsetVariableMode(channel, false);
            HSIMSetDCOffset(channel, 0);
        }
        DeviceClose();
        g_AutoMonitor.PauseMonitor();
        NotifyListener(false);
    }
    return nullptr;
}

bool IsLibraryThread()
{
    pthread_t self = pthread_self();
    unsigned long connect = g_hConnectDeviceThread.load();
    unsigned long poll = s_PollThread.load();
    return (connect != 0 && pthread_equal(pthread_t(connect), self)) ||
           (poll != 0 && pthread_equal(pthread_t(poll), self));
}

// Stops and joins the connect thread. Caller holds s_LifecycleMutex.
void StopConnectThread()
{
    unsigned long thread;
    {
        CAutoCriticalSection lock(g_CriticalSection);
        thread = g_hConnectDeviceThread.load();
        if (thread != 0) {
            g_bStopConnectDeviceThread.store(1);
            g_Callback.store(nullptr);
            ReconnectDevice();
        }
    }
    if (thread != 0 && !IsLibraryThread()) {
        pthread_join(pthread_t(thread), nullptr);
        g_hConnectDeviceThread.store(0);
        DeviceLocationSetLocked(false);
    }
}

}  // namespace

bool WaitForCommandWindow(unsigned int timeoutMs)
{
    if (g_bECGGoing.load())
        return g_hProcessRequestEvent.WaitTimeout(timeoutMs) == 0;
    // Not streaming, and it cannot start while the caller holds the lock; a
    // report read begun just before streaming stopped is let finish first.
    std::lock_guard<std::mutex> reading(s_ReportReadMutex);
    return true;
}

void ShutdownConnectionAtExit()
{
    if (!IsLibraryThread()) {
        std::lock_guard<std::mutex> guard(s_LifecycleMutex);
        StopConnectThread();
    }
    DeviceClose();
}

extern "C" bool DoInit(HSIM_CONNECTION_CALLBACK callback)
{
    std::lock_guard<std::mutex> guard(s_LifecycleMutex);
    CAutoCriticalSection lock(g_CriticalSection);
    bool running = true;
    g_hReconnectEvent.ResetEvent();
    g_bStopConnectDeviceThread.store(0);
    g_Callback.store(callback);
    if (g_hConnectDeviceThread.load() == 0) {
        unsigned long thread = 0;
        DeviceLocationSetLocked(true);
        running = CreateThread(&thread, ConnectDeviceThread, nullptr);
        if (running)
            g_hConnectDeviceThread.store(thread);
        else
            DeviceLocationSetLocked(false);
    }
    return running;
}

extern "C" bool HSIMInit(HSIM_CONNECTION_CALLBACK callback)
{
    g_nPortNumber.store(-1);
    return DoInit(callback);
}

extern "C" bool HSIMConnect(int port, unsigned int timeoutMs)
{
    {
        // A working connection is kept, not torn down and searched again.
        CAutoCriticalSection lock(g_CriticalSection);
        if (g_hConnectDeviceThread.load() != 0 && g_bConnected.load() && DeviceIsConnected())
            return true;
    }
    g_nPortNumber.store(port);
    g_hConnectedEvent.ResetEvent();
    if (!DoInit(ConnectedHandler))
        return false;
    if (g_hConnectedEvent.WaitTimeout(timeoutMs) == 0)
        return true;
    HSIMFree();
    return false;
}

extern "C" void HSIMFree(void)
{
    std::lock_guard<std::mutex> guard(s_LifecycleMutex);
    HSIMSetOutputFunction(0);
    StopConnectThread();
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
    g_bConnected.store(connected ? 1 : 0);
    HSIM_CONNECTION_CALLBACK callback = g_Callback.load();
    if (callback)
        callback(connected);
}

extern "C" void ConnectedHandler(bool connected)
{
    if (connected)
        g_hConnectedEvent.SetEvent();
}
