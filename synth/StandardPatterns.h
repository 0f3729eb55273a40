// Selection and playback rules of the standard test patterns.
#pragma once

extern bool s_loopPlay;  // standard patterns repeat (false: play once and stop)
extern bool s_loopFile;  // loaded ECG files repeat

// Stops output at the end of a non-looping standard pattern. Called by the
// function generator before every sample of codes 9, 10, 16 and 17, with
// g_CriticalSection held.
void _CheckStandardLoop();
