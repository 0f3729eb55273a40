// Exported control of what the simulator outputs: the output function, the
// respiration modulation and the standard pattern selection.
#include "api/Frame.h"
#include "api/ParameterTable.h"
#include "hsim.h"
#include "output/ChangeScheduler.h"
#include "output/Engine.h"
#include "output/Output.h"
#include "runtime/Platform.h"
#include "synth/Respiration.h"
#include "transport/Port.h"

using namespace hsim;

namespace {

// Gives the device time to settle its relays after a change of function.
// Only a call that holds the lock no more pauses.
constexpr unsigned int kSettleMs = 100;

// The three pattern families (codes 9, 10 and 16) share one index, which the
// function generator uses on their tables directly; each family's setter
// accepts only its own indexes and refuses anything else with -1, changing
// nothing; so does the ANE20000 lead. A new selection applies from the next
// sample. The rows of the parameter table hold the ranges.
int Select(Parameter p, int value)
{
    return SetParameter(p, value) == kSetterOk ? kSetterOk : -1;
}

}  // namespace

extern "C" int HSIMSetOutputFunction(int outputFunction)
{
    int result;
    PreparePattern(outputFunction, CurrentSettings().pattern.nSpecialWaveform);
    {
        DeviceFrame frame;
        if (!frame.open()) {
            // A device that has stopped asking for data never opens the
            // window: the output stops on this side all the same, so that it
            // can be started again.
            if (outputFunction == OUTPUT_OFF && frame.status() == Status::Busy)
                StopOutputAfterLoss();
            return kSetterRefused;
        }
        result = SetterResult(SelectOutputFunction(outputFunction));
    }
    // Never while the lock is still held (a call nested in another, or from
    // a callback on the streaming thread): the device would wait for data.
    if (!hsim::ContextLock().HeldHere())
        SleepEx(kSettleMs);
    return result;
}

extern "C" int HSIMGetOutputFunction(void)
{
    return static_cast<int>(GetParameter(Parameter::OutputFunction));
}

// 1 when the model was set; 0 without a device or without a breath.
extern "C" int SetRespireAlgorithmParam(int breathsPerMinute, int ratio, int apneaSeconds, int baselinePercent,
                                        int amplitudePercent, int frequencyPercent)
{
    ContextGuard lock(hsim::ContextLock());
    return DeviceIsConnected() && SetRespirationModel(CurrentEngine().synth, breathsPerMinute, ratio, apneaSeconds,
                                                      baselinePercent, amplitudePercent, frequencyPercent)
               ? 1
               : 0;
}

extern "C" int SetSpecialWave227(int index)
{
    return Select(Parameter::Pattern227, index);
}

extern "C" int SetSpecialWave251(int index)
{
    return Select(Parameter::Pattern251, index);
}

extern "C" int SetSpecialWave247(int index)
{
    return Select(Parameter::Pattern247, index);
}

extern "C" int GetSpecialWave227(void)
{
    return static_cast<int>(GetParameter(Parameter::Pattern227));
}

extern "C" int GetSpecialWave251(void)
{
    return static_cast<int>(GetParameter(Parameter::Pattern251));
}

extern "C" int GetSpecialWave247(void)
{
    return static_cast<int>(GetParameter(Parameter::Pattern247));
}

extern "C" int SetANE20000Lead(int lead)
{
    return Select(Parameter::AneLead, lead);
}

extern "C" int GetANE20000Lead(void)
{
    return static_cast<int>(GetParameter(Parameter::AneLead));
}

extern "C" void SetStandardWaveformLoop(bool loop)
{
    SetParameter(Parameter::PatternLoop, loop);
}

extern "C" void HSIMEnableLoop(bool loop)
{
    SetParameter(Parameter::FileLoop, loop);
}
