/*
 * hsim_records.h - the record import library (libhsimrecords): recorded ECG
 * signals from files, as millivolts, for plotting and for playing on the
 * simulator.
 *
 * Kinds of file:
 *   WFDB        a .hea header and its signal files, formats 16 and 212 (one
 *               segment, no skew); the path is the .hea, the .dat beside it
 *               or the record name without an extension;
 *   EDF         EDF, EDF+ (continuous) and BDF through EDFlib; annotation
 *               signals are left out;
 *   CSV         comma-separated columns, an optional row of names; the rate
 *               from a first column named time, t, time_s or seconds (steps
 *               regular within 1 %) or from a comment line "# rate=500";
 *   ECG_TEXT    the simulator's multi-channel or one-channel ECG text file;
 *   ECG_BINARY  the simulator's binary ECG file.
 * The ECG text and binary files are read as the device library loads them:
 * rates within its limits and samples clamped to [-2.5, 2.5] mV. A
 * multi-channel text file is read once for all its channels; one without
 * rows gives an empty signal per channel and may declare no more channels
 * than it has bytes.
 *
 * Values: millivolts when the file's unit is uV, mV or V (case-insensitive;
 * also the micro sign), otherwise the physical value as the file states it.
 * HSIMRecordSignal.units is the unit as written in the file. A WFDB sample
 * marked invalid (-32768 in format 16, -2048 in format 212) reads as NaN.
 *
 * Errors: every function returns a code of HSIMRecordResult (or a count,
 * never negative on success); nothing throws. HSIMRecordLastError() gives the
 * detail of the last failure on the calling thread (a successful call leaves
 * it as it was).
 *
 * Threads: different records may be used on different threads at once; one
 * record is used by one thread at a time. Every signal is in memory once the
 * record is open (a WFDB record keeps its signal files' bytes and decodes on
 * reading, the other kinds keep the values).
 */
#ifndef HSIM_RECORDS_H
#define HSIM_RECORDS_H

#include <stdint.h>

#if defined(HSIM_BUILDING_RECORDS)
#define HSIM_RECORDS_API __attribute__((visibility("default")))
#else
#define HSIM_RECORDS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HSIMRecord HSIMRecord;

enum HSIMRecordResult {
    HSIM_RECORD_OK = 0,
    HSIM_RECORD_ERROR_ARGUMENT = -1, /* null, bad index, bad range */
    HSIM_RECORD_ERROR_OPEN = -2,     /* file or a signal file missing / unreadable */
    HSIM_RECORD_ERROR_HEADER = -3,   /* malformed header: wrong counts, bad field */
    HSIM_RECORD_ERROR_FORMAT = -4,   /* unknown or unsupported format (e.g. WFDB format 8, multi-segment) */
    HSIM_RECORD_ERROR_DATA = -5,     /* short or truncated data */
    HSIM_RECORD_ERROR_MEMORY = -6,
    HSIM_RECORD_ERROR_IO = -7
};

enum HSIMRecordKind {
    HSIM_RECORD_AUTO = 0, /* by the extension, then by the first bytes */
    HSIM_RECORD_WFDB = 1,
    HSIM_RECORD_EDF = 2,
    HSIM_RECORD_CSV = 3,
    HSIM_RECORD_ECG_TEXT = 4,
    HSIM_RECORD_ECG_BINARY = 5
};

typedef struct HSIMRecordSignal {
    char name[64];   /* NUL-terminated, cut to 63 bytes */
    char units[16];  /* as the file says, cut to 15 bytes */
    double rate;     /* samples/s */
    int64_t length;  /* samples */
} HSIMRecordSignal;

/* Opens a record of the given kind (HSIMRecordKind). HSIM_RECORD_OK with
 * *record set, or a negative code with *record null. */
HSIM_RECORDS_API int HSIMRecordOpen(const char* path, int kind, HSIMRecord** record);
/* The kind of an open record (never AUTO), or HSIM_RECORD_ERROR_ARGUMENT. */
HSIM_RECORDS_API int HSIMRecordKindOf(const HSIMRecord* record);
/* The number of signals (0 or more), or HSIM_RECORD_ERROR_ARGUMENT. */
HSIM_RECORDS_API int HSIMRecordSignalCount(const HSIMRecord* record);
/* Fills *info for the 0-based signal index. */
HSIM_RECORDS_API int HSIMRecordGetSignal(const HSIMRecord* record, int index, HSIMRecordSignal* info);
/* Stores samples first .. first + count - 1 of a signal in mv, as millivolts
 * (see above). Returns the number stored: count, fewer at the end of the
 * signal, 0 when first equals the length; HSIM_RECORD_ERROR_ARGUMENT for a
 * null record, a bad index, first < 0, first beyond the length, count < 0 or
 * a null mv with count > 0. */
HSIM_RECORDS_API int64_t HSIMRecordReadMv(HSIMRecord* record, int index, int64_t first, int64_t count, double* mv);
/* Human-readable detail of the last failure on this thread, e.g.
 * "aami3a.hea line 2: format 8 is not supported"; "" when none. */
HSIM_RECORDS_API const char* HSIMRecordLastError(void);
/* "HSIM_RECORD_OK", "HSIM_RECORD_ERROR_HEADER", ... or "unknown result". */
HSIM_RECORDS_API const char* HSIMRecordResultName(int code);
/* Closes a record (null is ignored). */
HSIM_RECORDS_API void HSIMRecordClose(HSIMRecord* record);

#ifdef __cplusplus
}
#endif

#endif /* HSIM_RECORDS_H */
