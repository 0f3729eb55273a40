#include "output/Render.h"

#include "output/ChangeScheduler.h"
#include "protocol/SampleWords.h"
#include "runtime/Sync.h"
#include "synth/WorkingValues.h"

#include <algorithm>

namespace hsim {

namespace {

// The copy as a start leaves it: the clock at 0 (a stop left it there), no
// callbacks or recording, the working values derived, then what every start
// prepares.
Engine StartedCopy(double& acScale)
{
    Engine e;
    {
        ContextGuard lock(hsim::ContextLock());
        e = CurrentEngine();
        acScale = AcCountsPerMv();
    }
    // A pattern not built yet is built here, outside the lock.
    _PrepareStandardPattern(e.synth);
    e.callbacks = EngineCallbacks{};
    e.synth.hooks = Hooks{};
    e.record = RecordingState{};
    e.scheduler = SchedulerState{};
    e.synth.clock.fOutputTime = 0;
    e.synth.clock.fCycleStart = 0;
    e.synth.clock.fOutputTimeGraph = 0;
    e.stream.nDcDACValue = -1;
    if (e.synth.out.MainOutput != OUTPUT_OFF) {
        _DeriveWorkingValues(e.synth);
        PrepareStart(e);
    }
    return e;
}

SampleOutput Offset(const SampleOutput& out, int n)
{
    SampleOutput o;
    o.acMv = out.acMv != nullptr ? out.acMv + n : nullptr;
    o.dcMv = out.dcMv != nullptr ? out.dcMv + n : nullptr;
    o.acWords = out.acWords != nullptr ? out.acWords + n : nullptr;
    o.dcWords = out.dcWords != nullptr ? out.dcWords + n : nullptr;
    return o;
}

void CopyPart(const SampleOutput& to, const SampleOutput& from, int n)
{
    if (to.acMv != nullptr) std::copy(from.acMv, from.acMv + n, to.acMv);
    if (to.dcMv != nullptr) std::copy(from.dcMv, from.dcMv + n, to.dcMv);
    if (to.acWords != nullptr) std::copy(from.acWords, from.acWords + n, to.acWords);
    if (to.dcWords != nullptr) std::copy(from.dcWords, from.dcWords + n, to.dcWords);
}

}  // namespace

int RenderFromStart(int count, const SampleOutput& out)
{
    double acScale = 0.0;
    Engine e = StartedCopy(acScale);
    const bool running = e.synth.out.MainOutput != OUTPUT_OFF;
    unsigned char buffer[kTransferBytes];
    int done = 0;
    while (done < count) {
        const int n = std::min(kSamplesPerTransfer, count - done);
        TransferEvents events;
        if (running && IsEndOfFile(e.synth)) {
            // A file that ended with the transfer before: the stream sends
            // 0 mV here and stops.
            break;
        }
        if (n == kSamplesPerTransfer) {
            events = ComputeTransfer(e, buffer, acScale, TransferUse::Render, Offset(out, done));
        } else {
            // The last part of a transfer: computed whole, the part kept.
            double ac[kSamplesPerTransfer], dc[kSamplesPerTransfer];
            int16_t acWords[kSamplesPerTransfer];
            uint16_t dcWords[kSamplesPerTransfer];
            events = ComputeTransfer(e, buffer, acScale, TransferUse::Render, {ac, dc, acWords, dcWords});
            CopyPart(Offset(out, done), {ac, dc, acWords, dcWords}, n);
        }
        done += n;
        if (running && (events.endedAt >= 0 || events.scanEnded))
            break;
    }
    return done;
}

}  // namespace hsim
