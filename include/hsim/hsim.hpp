/*
 * hsim.hpp - the C++-only part of the libhsim interface.
 *
 * Includes hsim.h. Adds what a C compiler cannot see: the event and lock
 * classes of the runtime primitives, the two functions that take references,
 * the string helpers built on std::string and std::vector, block rendering
 * with arrays allocated by new[], and the two forms of LoadECGtxt.
 *
 * LoadECGtxt: one C symbol cannot carry two overloads. The multi-channel form
 * LoadECGtxt(path, channel) is the exported C symbol "LoadECGtxt"; the
 * single-channel form is the exported C symbol "LoadECGtxtSingleChannel",
 * and this header adds the C++ overload LoadECGtxt(path) that calls it.
 */
#ifndef HSIM_HPP
#define HSIM_HPP

#include "hsim.h"
#include "hsim_events.hpp"

#include <string>
#include <time.h>
#include <vector>

extern "C" {

/* Signalled by the periodic timers on SIGRTMIN and SIGRTMIN + 1 that
 * CreateNewTimer arms. since 1.0.5 */
HSIM_API extern CAutoResetEvent g_hSigTimer1Event;
HSIM_API extern CAutoResetEvent g_hSigTimer2Event;

/* Periodic timer raising signalNumber every periodMs; null on failure.
 * since 1.0.5 */
HSIM_API timer_t CreateNewTimer(unsigned int periodMs, unsigned int& signalNumber);
HSIM_API void DeleteTimer(unsigned int signalNumber, void*& timer);

/* String helpers. since 1.0.5 */
HSIM_API void StringToken(const char* s, const char* delimiters, std::vector<std::string>& out);
HSIM_API std::string StringFormat(std::string format, ...);
HSIM_API int CheckVersion(std::string a, std::string b);

/* Renders one period for block output: *n samples of the signal channel
 * (mV) and of the DC channel (the DC word as a number); *ac and *dc are
 * allocated with new[] and released by the caller with delete[]. Advances the
 * output clock by one period as an upload does, except while output streams
 * (then the period is rendered on a copy, so the stream is not disturbed).
 * false for a null argument or no memory. since 1.0.5 */
HSIM_API bool GenWaveform(int* n, double** ac, double** dc);

/* ECG text files (UTF-8 path, used as given). since 1.0.5
 * LoadECGtxt(path, channel): the samples of the channel (0-based) loaded;
 *   -1 not opened or path longer than 511 bytes; -2 rate line missing, 0 or
 *   outside 100..40000; -3 count line missing or not positive; -4 channel
 *   line missing or not positive; -5 names line missing; -6 no memory; -7 a
 *   negative channel or one not below the channel count (nothing changed),
 *   or a row without that field (nothing loaded).
 * LoadECGtxtSingleChannel(path): line 1 rate, line 2 count, then one value a
 *   line; the samples loaded; -1, -2, -3 as above, -4 no memory. */
HSIM_API int LoadECGtxt(char* path, int channel);
HSIM_API int LoadECGtxtSingleChannel(char* path);
}

/* Single-channel ECG text file: line 1 rate, line 2 count, one value a line. */
inline int LoadECGtxt(char* path)
{
    return LoadECGtxtSingleChannel(path);
}

#endif /* HSIM_HPP */
