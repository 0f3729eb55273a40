// The signal tap: what the streaming thread plays, offered to readers on any
// thread without ever making the streaming thread wait.
//
// A ring of points, written under the simulator's lock (so by one thread at a
// time) at the cadence of the signal-output callback: a sample point every
// tenth streamed sample, and a point for each event the application's
// callbacks hear (the end marker, a frequency, an output function, a DC
// level of the dynamic range test, a baseline-reset level). Every reader has
// a position of its own; a reader that falls more than the ring behind loses
// the oldest points and counts them. Nothing is allocated and nothing waits
// on the writer's side.
#pragma once

#include <atomic>
#include <cstdint>

namespace hsim {

enum class TapKind : int32_t {
    Sample = 0,         // time, signal and DC channel, a pacing pulse that starts
    End = 1,            // the output ended by itself: the signal callback's (-1, 0)
    Frequency = 2,      // value: Hz (-1 when a scan ended)
    Function = 3,       // value: the output function a scan selected
    DcLevel = 4,        // value: the dynamic range test's DC level, mV
    BaselineReset = 5,  // value: the new baseline-reset level
};

// A sample point's flags.
constexpr int32_t kTapFirstOfRun = 1;  // the first point since output started

struct TapPoint {
    double time = 0.0;      // s since output started (the signal callback's time)
    double signalMv = 0.0;  // the signal channel as the signal callback sees it
    double dcMv = 0.0;      // the DC channel as played
    double pacingMv = 0.0;  // amplitude of a pacing pulse that starts here, else 0
    double pacingMs = 0.0;  // its width
    double value = 0.0;     // an event's value
    TapKind kind = TapKind::Sample;
    int32_t flags = 0;
};

// The ring's length: about 8 s of sample points.
constexpr uint64_t kTapCapacity = uint64_t(1) << 15;

// One simulator's ring (kept in its context).
struct TapRing {
    // A slot holds the point written at position p while its sequence number
    // is 2p + 2; it is 2p + 1 while the point is being written.
    struct Slot {
        std::atomic<uint64_t> sequence{0};
        std::atomic<double> values[6] = {};
        std::atomic<int32_t> kind{0};
        std::atomic<int32_t> flags{0};
    };
    Slot slots[kTapCapacity];
    std::atomic<uint64_t> head{0};  // the position written next
};

// The writer's side. Caller holds the simulator's lock.
void TapWrite(const TapPoint& point);

// A reader's position in the ring of the simulator it was opened on.
struct TapReader {
    const TapRing* ring = nullptr;
    uint64_t position = 0;
    uint64_t overruns = 0;  // points lost because the reader fell behind
};

// A reader of the calling thread's simulator that sees what is written from
// now on; it reads that simulator's ring on any thread.
TapReader TapOpen();
// Copies up to max points in order; the count copied.
int TapRead(TapReader& reader, TapPoint* points, int max);
// True when points wait to be read.
bool TapPending(const TapReader& reader);

}  // namespace hsim
