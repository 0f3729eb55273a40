// Settings of the simulator's respiration impedance hardware, as last
// accepted by the device.
#pragma once

extern unsigned char g_nRespirationFrequency;
extern unsigned char g_nRespirationVariation;
extern unsigned char g_nRespirationRatio;
extern unsigned char g_nRespirationBaseline;   // impedance step 0..4
extern int g_nRespirationResistance;           // ohms
extern int g_nRespirationApneaTime;            // seconds of apnea per minute
extern bool g_bRespirationApneaEnabled;
extern bool g_RespirationEnabled;
