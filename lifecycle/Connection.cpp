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

#include "lifecycle/DeviceContext.h"
#include "lifecycle/Monitor.h"
#include "output/ChangeScheduler.h"
#include "output/Output.h"
#include "protocol/Commands.h"
#include "protocol/Discovery.h"
#include "protocol/Handshake.h"
#include "protocol/StreamHealth.h"
#include "runtime/Platform.h"
#include "runtime/Sync.h"
#include "transport/DeviceLocation.h"
#include "transport/Port.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace hsim {

namespace {

constexpr unsigned int kWatchIntervalMs = 30000;
constexpr unsigned int kIdlePollMs = 10;

bool IsLibraryThread()
{
    DeviceContext& d = CurrentDevice();
    pthread_t self = pthread_self();
    unsigned long connect = d.connectThread.load();
    unsigned long poll = d.pollThread.load();
    return (connect != 0 && pthread_equal(pthread_t(connect), self)) ||
           (poll != 0 && pthread_equal(pthread_t(poll), self));
}

// Known state of a newly found device: primary lead and no input impedance
// network on every output channel. Each reset runs in a frame of its own, the
// way an entry point's does.
void ResetOutputChannels()
{
    {
        ContextGuard lock(hsim::ContextLock());
        ForgetStream();
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
    DeviceContext& d = CurrentDevice();
    while (!d.bStopConnectThread.load()) {
        d.reconnectEvent.WaitTimeout(kWatchIntervalMs);
        if (d.bStopConnectThread.load())
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
    DeviceContext& d = CurrentDevice();
    std::lock_guard<std::mutex> guard(d.exitMutex);
    if (d.bStopConnectThread.load())
        d.bConnectThreadEnded = true;
    return d.bConnectThreadEnded;
}

void* ConnectDeviceThread(void* context)
{
    DeviceContext& d = *static_cast<DeviceContext*>(context);
    ContextBinding binding(d);
    pthread_setname_np(pthread_self(), "hsim-connect");
    while (!ShouldEnd()) {
        if (!DeviceConnect(d.nPortNumber.load(), 1)) {
            SleepEx(kIdlePollMs);
            continue;
        }
        ResetOutputChannels();
        ResetStreamHealth();
        // The poll thread runs before the application hears of the device: a
        // callback that starts output at once has its device's requests
        // answered from the first one.
        d.pollingEvent.SetEvent();
        pthread_t poll;
        bool polling = pthread_create(&poll, nullptr, USBDataPollThread, &d) == 0;
        if (polling)
            d.pollThread.store(poll);
        d.monitor.StartMonitor(d);
        NotifyListener(true);

        WatchConnection();

        // Wind down. The poll thread has ended before a new one can start.
        d.pollingEvent.ResetEvent();
        if (polling) {
            pthread_join(poll, nullptr);
            d.pollThread.store(0);
        }
        ResetDcOffsets();
        DeviceClose();
        StopOutputAfterLoss();
        d.monitor.PauseMonitor();
        NotifyListener(false);
    }
    return nullptr;
}

// Joins a connect thread that has ended. Caller holds d.lifecycleMutex.
void ReapConnectThread()
{
    DeviceContext& d = CurrentDevice();
    unsigned long thread = d.connectThread.load();
    if (thread != 0) {
        pthread_join(pthread_t(thread), nullptr);
        d.connectThread.store(0);
        DeviceLocationSetLocked(false);
    }
}

// Tells the connect thread to end.
void RequestStop()
{
    DeviceContext& d = CurrentDevice();
    ContextGuard lock(hsim::ContextLock());
    if (d.connectThread.load() != 0) {
        d.bStopConnectThread.store(1);
        d.callback.store(nullptr);
        ReconnectDevice();
    }
}

// The simulators that were started and not destroyed since: at the
// process's exit each has its threads stopped and its lock file removed.
struct Started {
    std::mutex mutex;
    std::vector<DeviceContext*> contexts;
    std::once_flag exitHook;
};
Started s_Started;

void ShutdownContext(DeviceContext& d)
{
    ContextBinding binding(d);
    if (!IsLibraryThread()) {
        std::unique_lock<std::mutex> guard(d.lifecycleMutex, std::try_to_lock);
        if (guard.owns_lock()) {
            RequestStop();
            ReapConnectThread();
        }
    }
    DeviceClose();
    d.monitor.End();
}

// An application that exits without HSIMFree (or HSIMClose) has its
// simulators stopped. Registered at the first start, so it runs before the
// destructors of the library's objects.
void ShutdownAtExit()
{
    // Taken out of the list first: a start notes itself there with its
    // simulator's lock held, which the shutdown takes.
    std::vector<DeviceContext*> contexts;
    {
        std::lock_guard<std::mutex> guard(s_Started.mutex);
        contexts = s_Started.contexts;
    }
    for (DeviceContext* d : contexts)
        ShutdownContext(*d);
}

void NoteStarted(DeviceContext& d)
{
    std::lock_guard<std::mutex> guard(s_Started.mutex);
    if (std::find(s_Started.contexts.begin(), s_Started.contexts.end(), &d) == s_Started.contexts.end())
        s_Started.contexts.push_back(&d);
    std::call_once(s_Started.exitHook, [] { atexit(ShutdownAtExit); });
}

}  // namespace

DeviceContext::DeviceContext() = default;

// A context that goes away takes its threads with it.
DeviceContext::~DeviceContext()
{
    {
        std::lock_guard<std::mutex> guard(s_Started.mutex);
        s_Started.contexts.erase(std::remove(s_Started.contexts.begin(), s_Started.contexts.end(), this),
                                 s_Started.contexts.end());
    }
    ContextBinding binding(*this);
    StopConnection();
    monitor.End();
    DeviceClose();
}

bool DoInit(HSIM_CONNECTION_CALLBACK callback)
{
    DeviceContext& d = CurrentDevice();
    // On a library thread (a connection callback) another thread may hold the
    // lifecycle lock while it joins this one: never wait for it there.
    std::unique_lock<std::mutex> lifecycle(d.lifecycleMutex, std::defer_lock);
    if (IsLibraryThread()) {
        if (!lifecycle.try_lock())
            return false;
    } else {
        lifecycle.lock();
    }
    ContextGuard lock(hsim::ContextLock());
    d.reconnectEvent.ResetEvent();
    d.callback.store(callback);
    bool ended;
    {
        std::lock_guard<std::mutex> guard(d.exitMutex);
        d.bStopConnectThread.store(0);
        ended = d.bConnectThreadEnded;
    }
    if (ended && !IsLibraryThread())
        ReapConnectThread();
    bool running = d.connectThread.load() != 0;
    if (!running) {
        d.bConnectThreadEnded = false;
        unsigned long thread = 0;
        DeviceLocationSetLocked(true);
        running = CreateThread(&thread, ConnectDeviceThread, &d);
        if (running) {
            d.connectThread.store(thread);
            NoteStarted(d);
        } else {
            DeviceLocationSetLocked(false);
        }
    }
    return running;
}

bool IsConnectionUp()
{
    DeviceContext& d = CurrentDevice();
    ContextGuard lock(hsim::ContextLock());
    return d.connectThread.load() != 0 && d.bConnected.load() && DeviceIsConnected();
}

void StopConnection()
{
    DeviceContext& d = CurrentDevice();
    if (IsLibraryThread()) {
        RequestStop();
        return;
    }
    std::lock_guard<std::mutex> lifecycle(d.lifecycleMutex);
    RequestStop();
    ReapConnectThread();
}

void NotifyListener(bool connected)
{
    DeviceContext& d = CurrentDevice();
    d.bConnected.store(connected ? 1 : 0);
    HSIM_CONNECTION_CALLBACK callback = d.callback.load();
    if (callback)
        callback(connected);
}

void ConnectedHandler(bool connected)
{
    DeviceContext& d = CurrentDevice();
    if (connected)
        d.connectedEvent.SetEvent();
}

void ReconnectDevice()
{
    DeviceContext& d = CurrentDevice();
    d.reconnectEvent.SetEvent();
}

}  // namespace hsim
