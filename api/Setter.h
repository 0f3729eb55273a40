// What the parameter and test-mode setters are made of: the range check, the
// frame-check-store sequence and the locked read of a setting.
#pragma once

#include "api/Frame.h"
#include "output/Engine.h"
#include "runtime/Sync.h"
#include "transport/Port.h"

// Inclusive at both ends. Written so that NaN fails, and an infinity is
// beyond any finite bound.
inline bool InRange(double value, double low, double high)
{
    return value >= low && value <= high;
}

// The frame of the test-mode setters: the lock for the whole call and the
// device check, without the command window (they store settings and request
// a change; they do not talk to the device).
class DeviceLock {
public:
    DeviceLock() : m_Lock(hsim::ContextLock()), m_Open(DeviceIsConnected())
    {
        hsim::StartOfDeviceCall();
        if (!m_Open)
            hsim::NoteFailure(hsim::Status::NoDevice);
    }
    bool open() const { return m_Open; }

private:
    ContextGuard m_Lock;
    bool m_Open;
};

// Opens the frame (-1 when it does not open), runs the argument checks
// (0 = accepted, otherwise the refusal code; nothing is stored), then the
// store with whatever change it requests. 0 when stored.
template <class Frame = DeviceFrame, class Check, class Store>
int FramedSetter(Check check, Store store)
{
    Frame frame;
    if (!frame.open())
        return kSetterRefused;
    if (const int refusal = check())
        return refusal;
    store();
    return kSetterOk;
}

using ChangeFunction = hsim::Status (*)();

// One value within [low, high] (else -2) into a setting, then the change.
template <class Frame = DeviceFrame>
int SetInRange(double& setting, double value, double low, double high, ChangeFunction change)
{
    return FramedSetter<Frame>([&] { return InRange(value, low, high) ? 0 : kSetterBadArgument; },
                               [&] {
                                   setting = value;
                                   change();
                               });
}

template <class T>
void LockedWrite(T& setting, T value)
{
    ContextGuard lock(hsim::ContextLock());
    setting = value;
}
