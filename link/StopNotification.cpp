// Tells the application's signal-output callback that output has stopped.
#include "hsim.h"

#include "link/Globals.h"
#include "synth/Parameters.h"

void StopCallback(void)
{
    // The callbacks run with the global lock held, like every other call of
    // them; the lock is recursive, so a caller that holds it already is fine.
    CAutoCriticalSection lock(g_CriticalSection);
    if (g_GraphCB != nullptr) {
        // Time -1 is the marker for the end of output.
        g_GraphCB(-1.0, 0.0);
    }
}
