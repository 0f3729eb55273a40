// Streaming transfers: 700 freshly computed samples per device request.
#pragma once

// Computes and sends the next transfer. Caller holds g_CriticalSection.
void _SendNextPacket();
