// Applying parameter changes: the user-facing globals are turned into the
// working values the generators read per sample. While output streams most
// changes wait for the end of the running cycle.
#pragma once

// Applies all settings now. Caller holds g_CriticalSection.
void _Change();
// Applies now when idle or when stopping, otherwise at the next cycle boundary.
// Caller holds g_CriticalSection.
void _ChangeRequested();
