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

/* Renders one period for block output; *ac and *dc are allocated with new[]
 * and released by the caller with delete[]. since 1.0.5 */
HSIM_API bool GenWaveform(int* n, double** ac, double** dc);

/* ECG text files. since 1.0.5 */
HSIM_API int LoadECGtxt(char* path, int channel);
HSIM_API int LoadECGtxtSingleChannel(char* path);
}

/* Single-channel ECG text file: line 1 rate, line 2 count, one value a line. */
inline int LoadECGtxt(char* path)
{
    return LoadECGtxtSingleChannel(path);
}

#endif /* HSIM_HPP */
