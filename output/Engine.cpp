#include "output/Engine.h"

#include "output/Output.h"
#include "runtime/Sync.h"

namespace hsim {

namespace {

// A standard pattern that does not loop has played once: the application
// hears of it, then the output stops, at once and on the streaming thread
// (no pause, no wait for a window it already holds).
void OnPatternEnd(SynthState&)
{
    if (g_Engine.callbacks.StandardStopCB != nullptr)
        g_Engine.callbacks.StandardStopCB();
    SelectOutputFunction(0);
}

}  // namespace

Engine InitialEngine()
{
    Engine e;
    e.synth.hooks.PatternEnd = OnPatternEnd;
    e.callbacks.StandardStopCB = NotifyOutputStopped;
    return e;
}

Engine g_Engine = InitialEngine();

}  // namespace hsim

HSIM_CONSTRUCT_EARLY CAutoResetEvent g_hStopPlayEvent(false);
