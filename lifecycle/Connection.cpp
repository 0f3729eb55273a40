// Connection lifecycle.
//
// The connect thread searches for the simulator about once a second, brings a
// newly found device to a known state (leads and input impedance of the four
// output channels), tells the application, starts the presence monitor and a
// poll thread, and then checks the link at least every 30 s: the node must
// still be listed and the device must answer the identity probe. After a
// loss it winds down, tells the application, and searches again.
//
// Every device operation made here enters the command window the way the
// exported setters do, with the device check first: after a loss the resets
// of the wind-down refuse at once instead of waiting for a window that no
// device will open.
#include "lifecycle/Lifecycle.h"

#include "lifecycle/Monitor.h"
#include "output/Output.h"
#include "protocol/Commands.h"
#include "protocol/Discovery.h"
#include "protocol/Handshake.h"
#include "protocol/StreamHealth.h"
#include "runtime/Platform.h"
#include "runtime/Sync.h"
#include "transport/DeviceLocation.h"
#include "transport/Port.h"

#include <cstdlib>
#include <mutex>
#include <pthread.h>

std::atomic<int> g_bConnected{0};
std::atomic<int> g_nPortNumber{-1};
HSIM_CONSTRUCT_EARLY CAutoResetEvent g_hConnectedEvent(false);
HSIM_CONSTRUCT_EARLY CAutoResetEvent g_hReconnectEvent(false);
HSIM_CONSTRUCT_EARLY CManualResetEvent g_hPollingEvent(false);

namespace hsim {

namespace {

constexpr unsigned int kWatchIntervalMs = 30000;
constexpr unsigned int kIdlePollMs = 10;

std::atomic<unsigned long> g_hConnectDeviceThread{0};
std::atomic<int> g_bStopConnectDeviceThread{0};
std::atomic<HSIM_CONNECTION_CALLBACK> g_Callback{nullptr};
std::atomic<unsigned long> s_PollThread{0};

// Serialises start and stop of the library between application threads.
std::mutex s_LifecycleMutex;
// The connect thread decides to end under this lock, and a start reads that
// decision under it, so a start never mistakes an ending thread for a
// running one.
std::mutex s_ExitMutex;
bool s_bConnectThreadEnded = false;
std::once_flag s_ExitHookOnce;

bool IsLibraryThread()
{
    pthread_t self = pthread_self();
    unsigned long connect = g_hConnectDeviceThread.load();
    unsigned long poll = s_PollThread.load();
    return (connect != 0 && pthread_equal(pthread_t(connect), self)) ||
           (poll != 0 && pthread_equal(pthread_t(poll), self));
}

// Known state of a newly found device: primary lead and no input impedance
// network on every output channel. Each reset runs in a frame of its own, the
// way an entry point's does.
void ResetOutputChannels()
{
    {
        CAutoCriticalSection lock(g_CriticalSection);
        g_bECGGoing.store(false);
    }
    for (int channel = 0; channel < kOutputChannels; ++channel) {
        InCommandFrame([&] { return SetChannelLead(channel, OUTPUT_LEAD_PRIMARY); });
        InCommandFrame([&] { return SetInputImpedanceMode(channel, 0); });
    }
}

// Variable DC off and 0 mV on every channel. These reach the device only
// after a stop request; after a loss the port is closed and they refuse.
void ResetDcOffsets()
{
    for (int channel = 0; channel < kOutputChannels; ++channel) {
        InCommandFrame([&] { return SetChannelDcVariableMode(channel, false); });
        InCommandFrame([&] { return SetChannelDcOffset(channel, 0); });
    }
}

// Runs until the device is lost or a stop is requested.
void WatchConnection()
{
    while (!g_bStopConnectDeviceThread.load()) {
        g_hReconnectEvent.WaitTimeout(kWatchIntervalMs);
        if (g_bStopConnectDeviceThread.load())
            break;
        if (PortHungUp() || !DeviceIsAlive()) {
            DeviceClose();
            break;
        }
        // A streaming device that does not ask for data within the window
        // has stopped working: the link is taken down.
        bool alive;
        {
            CommandFrame frame;
            alive = frame.open() && WatchDog();
            if (!alive)
                DeviceClose();
        }
        if (!alive)
            break;
    }
}

bool ShouldEnd()
{
    std::lock_guard<std::mutex> guard(s_ExitMutex);
    if (g_bStopConnectDeviceThread.load())
        s_bConnectThreadEnded = true;
    return s_bConnectThreadEnded;
}

void* ConnectDeviceThread(void*)
{
    pthread_setname_np(pthread_self(), "hsim-connect");
    while (!ShouldEnd()) {
        if (!DeviceConnect(g_nPortNumber.load(), 1)) {
            SleepEx(kIdlePollMs);
            continue;
        }
        ResetOutputChannels();
        ResetStreamHealth();
        // The poll thread runs before the application hears of the device: a
        // callback that starts output at once has its device's requests
        // answered from the first one.
        g_hPollingEvent.SetEvent();
        pthread_t poll;
        bool polling = pthread_create(&poll, nullptr, USBDataPollThread, nullptr) == 0;
        if (polling)
            s_PollThread.store(poll);
        g_AutoMonitor.StartMonitor();
        NotifyListener(true);

        WatchConnection();

        // Wind down. The poll thread has ended before a new one can start.
        g_hPollingEvent.ResetEvent();
        if (polling) {
            pthread_join(poll, nullptr);
            s_PollThread.store(0);
        }
        ResetDcOffsets();
        DeviceClose();
        StopOutputAfterLoss();
        g_AutoMonitor.PauseMonitor();
        NotifyListener(false);
    }
    return nullptr;
}

// Joins a connect thread that has ended. Caller holds s_LifecycleMutex.
void ReapConnectThread()
{
    unsigned long thread = g_hConnectDeviceThread.load();
    if (thread != 0) {
        pthread_join(pthread_t(thread), nullptr);
        g_hConnectDeviceThread.store(0);
        DeviceLocationSetLocked(false);
    }
}

// Tells the connect thread to end.
void RequestStop()
{
    CAutoCriticalSection lock(g_CriticalSection);
    if (g_hConnectDeviceThread.load() != 0) {
        g_bStopConnectDeviceThread.store(1);
        g_Callback.store(nullptr);
        ReconnectDevice();
    }
}

// An application that exits without HSIMFree has its connect thread stopped
// and its lock file removed. Registered at the first start, so it runs
// before the destructors of the library's objects.
void ShutdownConnectionAtExit()
{
    if (!IsLibraryThread()) {
        std::unique_lock<std::mutex> guard(s_LifecycleMutex, std::try_to_lock);
        if (guard.owns_lock()) {
            RequestStop();
            ReapConnectThread();
        }
    }
    DeviceClose();
}

}  // namespace

bool DoInit(HSIM_CONNECTION_CALLBACK callback)
{
    // On a library thread (a connection callback) another thread may hold the
    // lifecycle lock while it joins this one: never wait for it there.
    std::unique_lock<std::mutex> lifecycle(s_LifecycleMutex, std::defer_lock);
    if (IsLibraryThread()) {
        if (!lifecycle.try_lock())
            return false;
    } else {
        lifecycle.lock();
    }
    CAutoCriticalSection lock(g_CriticalSection);
    g_hReconnectEvent.ResetEvent();
    g_Callback.store(callback);
    bool ended;
    {
        std::lock_guard<std::mutex> guard(s_ExitMutex);
        g_bStopConnectDeviceThread.store(0);
        ended = s_bConnectThreadEnded;
    }
    if (ended && !IsLibraryThread())
        ReapConnectThread();
    bool running = g_hConnectDeviceThread.load() != 0;
    if (!running) {
        s_bConnectThreadEnded = false;
        unsigned long thread = 0;
        DeviceLocationSetLocked(true);
        running = CreateThread(&thread, ConnectDeviceThread, nullptr);
        if (running) {
            g_hConnectDeviceThread.store(thread);
            std::call_once(s_ExitHookOnce, [] { atexit(ShutdownConnectionAtExit); });
        } else {
            DeviceLocationSetLocked(false);
        }
    }
    return running;
}

bool IsConnectionUp()
{
    CAutoCriticalSection lock(g_CriticalSection);
    return g_hConnectDeviceThread.load() != 0 && g_bConnected.load() && DeviceIsConnected();
}

void StopConnection()
{
    if (IsLibraryThread()) {
        RequestStop();
        return;
    }
    std::lock_guard<std::mutex> lifecycle(s_LifecycleMutex);
    RequestStop();
    ReapConnectThread();
}

void NotifyListener(bool connected)
{
    g_bConnected.store(connected ? 1 : 0);
    HSIM_CONNECTION_CALLBACK callback = g_Callback.load();
    if (callback)
        callback(connected);
}

void ConnectedHandler(bool connected)
{
    if (connected)
        g_hConnectedEvent.SetEvent();
}

void ReconnectDevice()
{
    g_hReconnectEvent.SetEvent();
}

}  // namespace hsim
