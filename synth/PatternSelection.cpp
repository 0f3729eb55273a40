// Which standard pattern or lead plays, and what happens at its end.
//
// One index, g_nSpecialWaveform, serves the three pattern families (codes 9,
// 10 and 16), which have 10, 16 and 5 patterns; the function generator indexes
// the tables with it directly. Each family's setter therefore accepts only
// that family's indexes and refuses anything else with -1, changing nothing.
// A new selection applies from the next sample (an immediate change), with the
// global lock held like every other entry into the change scheduler.
#include "hsim.h"
#include "link/Globals.h"
#include "synth/ChangeScheduler.h"
#include "synth/Parameters.h"
#include "synth/StandardPatterns.h"
#include "synth/tables/StandardTables.h"

bool s_loopPlay = true;
bool s_loopFile = true;

namespace {

int SelectPattern(int index, int patterns)
{
    int result = -1;
    if (index >= 0 && index < patterns) {
        CAutoCriticalSection lock(g_CriticalSection);
        g_nSpecialWaveform = index;
        _Change();
        result = 0;
    }
    return result;
}

int SelectedPattern()
{
    CAutoCriticalSection lock(g_CriticalSection);
    return g_nSpecialWaveform;
}

}  // namespace

int SetSpecialWave227(int index)
{
    return SelectPattern(index, kIEC227Patterns);
}

int SetSpecialWave251(int index)
{
    return SelectPattern(index, kIEC251Patterns);
}

int SetSpecialWave247(int index)
{
    return SelectPattern(index, kIEC247Patterns);
}

int GetSpecialWave227(void)
{
    return SelectedPattern();
}

int GetSpecialWave251(void)
{
    return SelectedPattern();
}

int GetSpecialWave247(void)
{
    return SelectedPattern();
}

int SetANE20000Lead(int lead)
{
    int result = -1;
    if (lead >= 0 && lead < kANE20000Leads) {
        CAutoCriticalSection lock(g_CriticalSection);
        g_nANE20000ChannelNumber = lead;
        _Change();
        result = 0;
    }
    return result;
}

int GetANE20000Lead(void)
{
    CAutoCriticalSection lock(g_CriticalSection);
    return g_nANE20000ChannelNumber;
}

// The loop flags are read on the poll thread with the lock held (here and by
// the end-of-file test of file playback), so they are written under it too.
void SetStandardWaveformLoop(bool loop)
{
    CAutoCriticalSection lock(g_CriticalSection);
    s_loopPlay = loop;
}

void HSIMEnableLoop(bool loop)
{
    CAutoCriticalSection lock(g_CriticalSection);
    s_loopFile = loop;
}

// The output clock counts from the start of streaming, so with looping off a
// pattern plays once from its beginning and stops at the first sample past
// its length: tell the application, then switch the output off.
void _CheckStandardLoop()
{
    if (!s_loopPlay && g_fOutputTime > g_fTimePeriod) {
        if (g_StandardStopCB != nullptr) {
            g_StandardStopCB();
        }
        HSIMSetOutputFunction(0);
    }
}
