// The output engine's state, in one place: the synthesis state it streams,
// the streaming counters, the change scheduler's flags and the application's
// callbacks. One process-wide instance, guarded by g_CriticalSection.
#pragma once

#include "hsim_events.hpp"
#include "synth/State.h"

#include <cstdint>

namespace hsim {

struct StreamState {
    uint16_t nSequenceCheck = 0;  // streaming packet counter
    int nDcDACValue = -1;         // fixed DC word, -1 = none
    uint32_t uiCounter = 0;       // samples since the last graph callback
    int freqDivider = 10;         // the graph callback sees every tenth sample
};

// Recording of every streamed sample into the application's buffers (AC in
// counts before truncation, DC in mV).
struct RecordingState {
    bool EnableRecord = false;
    int RecordIndex = 0;
    int RecordLength = 0;
    double* AcBuffer = nullptr;
    double* DcBuffer = nullptr;
};

struct SchedulerState {
    bool ChangeOnNextCycle = false;  // a change waits for the next cycle boundary
    bool ChangeInProcess = false;    // re-entrance guard of _Change
    bool ChangeAgain = false;        // a change was asked for while one was applied
};

// The application's callbacks, called with g_CriticalSection held (null =
// not registered). The two the synthesis itself calls live in its hooks.
struct EngineCallbacks {
    HSIM_GRAPH_CALLBACK GraphCB = nullptr;
    HSIM_GRAPH_CALLBACK PacingGraphCB = nullptr;
    HSIM_FUNCTION_CALLBACK SyncMainFuncCB = nullptr;
    HSIM_LEVEL_CALLBACK BaselineResetCB = nullptr;
    void (*StandardStopCB)() = nullptr;  // end-of-output notification
};

struct Engine {
    SynthState synth;
    StreamState stream;
    SchedulerState scheduler;
    RecordingState record;
    EngineCallbacks callbacks;
};

// The engine as the library starts: default settings, hooks wired.
Engine InitialEngine();

extern Engine g_Engine;

}  // namespace hsim

// Set when streamed output stops, reset when output is started; consumed by
// the poll thread, which answers the next data request with a control block
// write instead of samples.
extern CAutoResetEvent g_hStopPlayEvent;
