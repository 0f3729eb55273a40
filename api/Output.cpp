// Exported control of what the simulator outputs: the output function, the
// respiration modulation and the standard pattern selection.
#include "api/Frame.h"
#include "hsim.h"
#include "output/ChangeScheduler.h"
#include "output/Engine.h"
#include "output/Output.h"
#include "runtime/Platform.h"
#include "synth/Respiration.h"
#include "synth/WorkingValues.h"
#include "synth/tables/StandardTables.h"
#include "transport/Port.h"

using namespace hsim;

namespace {

// Gives the device time to settle its relays after a change of function.
// Only a call that holds the lock no more pauses.
constexpr unsigned int kSettleMs = 100;

// One index serves the three pattern families (codes 9, 10 and 16), which
// have 10, 16 and 5 patterns; the function generator indexes the tables with
// it directly. Each family's setter therefore accepts only its own indexes
// and refuses anything else with -1, changing nothing; so does the ANE20000
// lead. A new selection applies from the next sample (an immediate change).
// Builds the pattern that a selection will play before the lock is taken
// (the hour-long IEC 60601-2-47 pattern takes tens of milliseconds), so that
// the change applied under the lock finds it built.
void PreparePattern(int code, int index)
{
    SynthState s;
    s.out.MainOutput = code;
    s.pattern.nSpecialWaveform = index;
    _PrepareStandardPattern(s);
}

int Select(int PatternSelection::*field, int value, int count)
{
    int result = -1;
    if (value >= 0 && value < count) {
        if (field == &PatternSelection::nSpecialWaveform)
            PreparePattern(CurrentSettings().out.MainOutput, value);
        ContextGuard lock(hsim::ContextLock());
        CurrentEngine().synth.pattern.*field = value;
        _Change();
        result = 0;
    }
    return result;
}

int SelectPattern(int index, int patterns)
{
    return Select(&PatternSelection::nSpecialWaveform, index, patterns);
}

int SelectedPattern()
{
    return CurrentSettings().pattern.nSpecialWaveform;
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
    return CurrentSettings().out.MainOutput;
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
    return SelectPattern(index, kIEC227Patterns);
}

extern "C" int SetSpecialWave251(int index)
{
    return SelectPattern(index, kIEC251Patterns);
}

extern "C" int SetSpecialWave247(int index)
{
    return SelectPattern(index, kIEC247Patterns);
}

extern "C" int GetSpecialWave227(void)
{
    return SelectedPattern();
}

extern "C" int GetSpecialWave251(void)
{
    return SelectedPattern();
}

extern "C" int GetSpecialWave247(void)
{
    return SelectedPattern();
}

extern "C" int SetANE20000Lead(int lead)
{
    return Select(&PatternSelection::nANE20000ChannelNumber, lead, kANE20000Leads);
}

extern "C" int GetANE20000Lead(void)
{
    return CurrentSettings().pattern.nANE20000ChannelNumber;
}

// The loop flags are read on the poll thread with the lock held, so they are
// written under it too.
extern "C" void SetStandardWaveformLoop(bool loop)
{
    ContextGuard lock(hsim::ContextLock());
    CurrentEngine().synth.pattern.loopPlay = loop;
}

extern "C" void HSIMEnableLoop(bool loop)
{
    ContextGuard lock(hsim::ContextLock());
    CurrentEngine().synth.pattern.loopFile = loop;
}
