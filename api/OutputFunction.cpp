// Selecting the output function.
#include "api/CommandFrame.h"
#include "hsim.h"
#include "synth/ChangeScheduler.h"
#include "synth/Parameters.h"

namespace {
constexpr int kStreamingRate = 40000;
constexpr int kBiphasicExponential = 13;
// Gives the device time to settle its relays after a change of function.
constexpr unsigned int kSettleMs = 100;
}  // namespace

extern "C" int HSIMSetOutputFunction(int outputFunction)
{
    int result;
    {
        CAutoCriticalSection lock(g_CriticalSection);
        result = EnterSetterFrame();
        if (result == kFrameOk) {
            g_nSampleRate = kStreamingRate;
            g_hStopPlayEvent.ResetEvent();
            g_MainOutput = outputFunction;
            SetRelays(false);
            if (outputFunction == kBiphasicExponential)
                _Change();
            else
                _ChangeRequested();
        }
    }
    if (result == kFrameOk)
        SleepEx(kSettleMs);
    return result;
}

extern "C" int HSIMGetOutputFunction(void)
{
    CAutoCriticalSection lock(g_CriticalSection);
    return g_MainOutput;
}
