// Exported extensions over the output engine: why the last call to the
// device failed, rendering without a device, the stream's health figures and
// the signal tap.
#include "hsim_ext.h"
#include "output/Render.h"
#include "output/SignalTap.h"
#include "protocol/Exchange.h"
#include "protocol/StreamHealth.h"
#include "runtime/MonotonicClock.h"
#include "runtime/Platform.h"

#include <algorithm>
#include <new>

namespace {

int CauseOf(const hsim::FailureRecord& r)
{
    switch (r.status) {
    case hsim::Status::NoDevice: return HSIM_CAUSE_NO_DEVICE;
    case hsim::Status::Busy: return HSIM_CAUSE_BUSY;
    case hsim::Status::WriteFailed: return HSIM_CAUSE_WRITE_FAILED;
    case hsim::Status::ReadFailed: return r.done > 0 ? HSIM_CAUSE_SHORT_READ : HSIM_CAUSE_READ_FAILED;
    case hsim::Status::Refused: return HSIM_CAUSE_REFUSED;
    default: return HSIM_CAUSE_NONE;
    }
}

}  // namespace

extern "C" int HSIMGetLastStatus(HSIM_STATUS* status)
{
    const hsim::FailureRecord r = hsim::LastFailure();
    const int cause = CauseOf(r);
    if (status != nullptr) {
        *status = HSIM_STATUS{};
        status->cause = cause;
        status->osError = r.osError;
        status->bytesExpected = r.expected;
        status->bytesDone = r.done;
        status->messageLength = r.messageLength;
        std::copy(std::begin(r.message), std::end(r.message), status->message);
    }
    return cause;
}

extern "C" int HSIMRenderOutput(int count, double* acMv, double* dcMv, short* acWords, unsigned short* dcWords)
{
    if (count < 0)
        return -2;
    hsim::SampleOutput out;
    out.acMv = acMv;
    out.dcMv = dcMv;
    out.acWords = reinterpret_cast<int16_t*>(acWords);
    out.dcWords = reinterpret_cast<uint16_t*>(dcWords);
    return hsim::RenderFromStart(count, out);
}

extern "C" int HSIMGetStreamHealth(HSIM_STREAM_HEALTH* health)
{
    if (health == nullptr)
        return -2;
    const hsim::StreamHealthFigures f = hsim::ReadStreamHealth();
    health->transfersSent = f.transfersSent;
    health->requestsAnswered = f.requestsAnswered;
    health->writeFailures = f.writeFailures;
    health->lateAnswers = f.lateAnswers;
    health->windowWaits = f.windowWaits;
    health->windowTimeouts = f.windowTimeouts;
    health->latencySamples = f.latencySamples;
    health->lateThresholdMs = hsim::kLateAnswerMs;
    health->latencyP50Ms = f.latencyP50Ms;
    health->latencyP99Ms = f.latencyP99Ms;
    health->latencyMaxMs = f.latencyMaxMs;
    health->computeMaxMs = f.computeMaxMs;
    health->realtime = f.realtime ? 1 : 0;
    return 0;
}

extern "C" void HSIMResetStreamHealth(void)
{
    hsim::ResetStreamHealth();
}

struct HSIM_TAP {
    hsim::TapReader reader;
};

extern "C" HSIM_TAP* HSIMTapOpen(void)
{
    HSIM_TAP* tap = new (std::nothrow) HSIM_TAP;
    if (tap != nullptr)
        tap->reader = hsim::TapOpen();
    return tap;
}

extern "C" int HSIMTapRead(HSIM_TAP* tap, HSIM_TAP_POINT* points, int max)
{
    if (tap == nullptr || points == nullptr || max < 0)
        return -2;
    constexpr int kBatch = 256;
    hsim::TapPoint batch[kBatch];
    int done = 0;
    while (done < max) {
        const int n = hsim::TapRead(tap->reader, batch, std::min(kBatch, max - done));
        for (int i = 0; i < n; ++i) {
            HSIM_TAP_POINT& out = points[done + i];
            out.time = batch[i].time;
            out.signalMv = batch[i].signalMv;
            out.dcMv = batch[i].dcMv;
            out.pacingMv = batch[i].pacingMv;
            out.pacingMs = batch[i].pacingMs;
            out.value = batch[i].value;
            out.kind = static_cast<int>(batch[i].kind);
            out.flags = batch[i].flags;
        }
        done += n;
        if (n == 0)
            break;
    }
    return done;
}

extern "C" int HSIMTapWait(HSIM_TAP* tap, unsigned int timeoutMs)
{
    if (tap == nullptr)
        return -2;
    constexpr int kStepMs = 5;
    const timespec deadline = AddMilliseconds(MonotonicNow(), timeoutMs);
    for (;;) {
        if (hsim::TapPending(tap->reader))
            return 1;
        const int left = MillisecondsUntil(deadline);
        if (left <= 0)
            return 0;
        SleepEx(unsigned(left < kStepMs ? left : kStepMs));
    }
}

extern "C" unsigned long long HSIMTapOverruns(const HSIM_TAP* tap)
{
    return tap != nullptr ? tap->reader.overruns : 0;
}

extern "C" void HSIMTapClose(HSIM_TAP* tap)
{
    delete tap;
}
