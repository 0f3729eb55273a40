// The output engine's state, in one place: the synthesis state it streams,
// the streaming counters, the change scheduler's flags and the application's
// callbacks. One per simulator, in its context (CurrentEngine), guarded by
// the simulator's lock.
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
    // The output ended by itself (a pattern or file that does not loop, a
    // scan at its stop): the device plays what it holds, the next request is
    // answered with one transfer at 0 mV, the one after it with the relays
    // off.
    bool playOut = false;
    // The signal tap's bookkeeping: the first point of a run is marked, and
    // a pacing pulse counted since the last point is drawn at the next one.
    bool tapFirstOfRun = false;
    uint32_t tapPulses = 0;
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

// The application's callbacks, called with the simulator's lock held (null =
// not registered). The synthesis reports through its hooks, which the engine
// wires to the signal tap and to these.
struct EngineCallbacks {
    HSIM_GRAPH_CALLBACK GraphCB = nullptr;
    HSIM_GRAPH_CALLBACK PacingGraphCB = nullptr;
    HSIM_FUNCTION_CALLBACK SyncMainFuncCB = nullptr;
    HSIM_LEVEL_CALLBACK BaselineResetCB = nullptr;
    HSIM_FREQUENCY_CALLBACK SyncFreqCB = nullptr;
    HSIM_LEVEL_CALLBACK SyncDCOffsetCB = nullptr;
    void (*StandardStopCB)() = nullptr;  // end-of-output notification
};

// What a test mode keeps while it runs, to give back when it ends.
struct TestModeMemory {
    // Amplitude and frequency in force when the baseline-reset test was
    // switched on.
    double savedAmplitude = 1.0;
    double savedFrequency = 1.0;
};

struct Engine {
    SynthState synth;
    StreamState stream;
    SchedulerState scheduler;
    RecordingState record;
    EngineCallbacks callbacks;
    TestModeMemory testMemory;
    // The device plays an uploaded period by itself (block output or the
    // upload of a standalone save began): a change of settings is stored
    // and starts no stream; only a new selection of the output function does.
    bool blockOutput = false;
};

// The engine as the library starts: default settings, hooks wired.
Engine InitialEngine();

// The live engine of the calling thread's simulator.
Engine& CurrentEngine();

// The settings as the application reads them back: what the setters store,
// as the engine holds them (a capped frequency, a scan's frequency, a stop).
struct Settings {
    OutputSettings out;
    DcSettings dc;
    PacingSettings pacing;
    EcgSettings ecg;
    TestModes test;
    FrequencyScan scan;
    PatternSelection pattern;
    RespirationValues respiration;
};

// The settings for a getter, without waiting for anybody: the live engine's
// when the calling thread holds the simulator's lock, otherwise a copy published
// each time the lock was let go, so a value set by a call that has returned
// is always seen.
Settings CurrentSettings();

// The device's identity and hardware words as last read from it, the same way
// (published with the settings).
struct DeviceIdentity {
    MODEL_INFORMATION model;
    uint32_t hardware[5];
};
DeviceIdentity CurrentIdentity();

}  // namespace hsim
