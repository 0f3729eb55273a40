#include "synth/ChangeScheduler.h"

#include "hsim.h"
#include "synth/EcgBeat.h"
#include "synth/Pacing.h"
#include "synth/Parameters.h"
#include "synth/WorkingValues.h"

bool s_ChangeOnNextCycle = false;

// Re-entrance guard of _Change on the thread that holds the lock: a nested
// change (an ended frequency scan stopping output from inside the first
// transfer of a start) does nothing.
static bool s_bChangeInProcess = false;

// Derives every working value for the selected (non-zero) function, in the
// order in which each step depends on the ones before it.
static void DeriveWorkingValues()
{
    _ResetRawVariableDC();
    _ForceBiphasicSettings();
    _DeriveAmplitude();
    _CapFrequency();
    _DeriveTimePeriod();
    _DeriveMainsNoiseAmplitude();
    _ApplyCycleLengthByCode();
    _PrepareStandardPattern();
    _LimitDynamicRangeAmplitude();
    _DerivePulseWidth();
    _CheckECGTime();
    _SetUpPacing();
    _ResetInputDynamicRangeTest();
}

void _Change()
{
    if (!s_bChangeInProcess) {
        s_bChangeInProcess = true;
        if (g_MainOutput == 0) {
            if (g_bECGGoing) {
                // Streaming stop is wired with the streaming transfer code
                // (_StopStreaming).
            }
        } else {
            DeriveWorkingValues();
            if (!g_bECGGoing) {
                // A change pending from the previous run is absorbed by this
                // start. Streaming start itself is wired with the streaming
                // transfer code (_StartStreaming).
                s_ChangeOnNextCycle = false;
            }
        }
        // Runs after the first transfer of a start has been sent, so that
        // transfer is clamped with the range of the previous change.
        _DeriveVoltageRange();
        s_bChangeInProcess = false;
    }
}

void _ChangeRequested()
{
    if (g_bECGGoing && g_MainOutput != 0) {
        s_ChangeOnNextCycle = true;
    } else {
        _Change();
    }
}

void _CheckIfChangeRequired(double t)
{
    if (s_ChangeOnNextCycle && (g_fTimePeriod - t < 0.0004 || g_F < 0.15)) {
        s_ChangeOnNextCycle = false;
        _Change();
        SetRelays(true);
    }
}
