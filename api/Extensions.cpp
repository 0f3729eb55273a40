// Exported extensions over the output engine: rendering without a device
// and the stream's health figures.
#include "hsim_ext.h"
#include "output/Render.h"
#include "protocol/StreamHealth.h"

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
