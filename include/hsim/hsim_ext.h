/*
 * hsim_ext.h - extensions of this project to the libhsim interface.
 *
 * Functions this project adds to the interface of hsim.h, which tests, demos,
 * tools and installations need; C linkage like the rest. The first of them,
 * HSIMGetLastStatus, completes the error model of hsim.h: why a call failed.
 */
#ifndef HSIM_EXT_H
#define HSIM_EXT_H

#include "hsim.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Why the calling thread's last call to the device failed.
 *
 * The results of hsim.h tell that a call failed (-1 for no device or no
 * command window, HSIM_ERROR_IO for an exchange that did not complete, false
 * or 0 from the commands); the status tells why, with the OS's error where a
 * system call failed:
 *   HSIM_CAUSE_NONE          nothing failed
 *   HSIM_CAUSE_NO_DEVICE     no device is open, or it went away during the call
 *   HSIM_CAUSE_BUSY          output streams and the command window did not open
 *                            within 3000 ms (the device stopped asking for data)
 *   HSIM_CAUSE_WRITE_FAILED  the message did not go out whole: bytesDone of
 *                            bytesExpected; osError is the write's errno (EIO:
 *                            the device hung up), 0 when the write timed out
 *   HSIM_CAUSE_READ_FAILED   not one byte of the answer arrived: within the
 *                            read time-out, or the device hung up (end of
 *                            file; osError is the read's errno when it failed)
 *   HSIM_CAUSE_SHORT_READ    only bytesDone of the answer's bytesExpected came
 *   HSIM_CAUSE_REFUSED       the answer came whole and does not accept the
 *                            message (its acceptance byte, a block echo that
 *                            differs, a save the device never confirms)
 *
 * The status is kept per thread. Every call that talks to the device (those
 * that can fail for want of a device) clears it when it begins and keeps the
 * first failure in it, the one its result reports (what fails after it mostly
 * follows from it): after the call it describes that call, NONE when
 * everything went through. A call made inside another on the same thread
 * (from a callback that the outer call runs, or by the library itself) does
 * not clear it: its failures belong to the outer call. Calls that do not talk
 * to the device (getters of settings, HSIMRenderOutput, the tap, HSIMInit,
 * HSIMConnect) leave it as it is. Read it on the thread that made the call,
 * before that thread calls the library again.
 *
 * A call may succeed and leave a cause: a setter stores its value and returns
 * 0 even when the update of the device that follows fails. The library's own
 * threads keep their own status: a failure of the streaming thread (counted in
 * HSIMGetStreamHealth) never shows in an application thread's status, and a
 * callback on the streaming thread sees the status of its own calls.
 */
enum {
    HSIM_CAUSE_NONE = 0,
    HSIM_CAUSE_NO_DEVICE = 1,
    HSIM_CAUSE_BUSY = 2,
    HSIM_CAUSE_WRITE_FAILED = 3,
    HSIM_CAUSE_READ_FAILED = 4,
    HSIM_CAUSE_SHORT_READ = 5,
    HSIM_CAUSE_REFUSED = 6
};

typedef struct HSIM_STATUS {
    int cause;                /* HSIM_CAUSE_... */
    int osError;              /* errno of the write or read that failed; 0 when there was none */
    int bytesExpected;        /* the length of the write or read that failed (WRITE_FAILED,
                                 READ_FAILED, SHORT_READ); 0 for the other causes */
    int bytesDone;            /* the bytes of it that went out or came in */
    int messageLength;        /* length of the message whose exchange failed; 0 when the call
                                 failed before any message (no device, no window) */
    unsigned char message[8]; /* its first bytes (as many as it has, up to 8; the rest 0): they
                                 name the command */
} HSIM_STATUS;

/* Fills *status (when not null) with the calling thread's status and returns
 * its cause. Any thread, any time; never waits. since 1.0.5 */
HSIM_API int HSIMGetLastStatus(HSIM_STATUS* status);

/*
 * Where the library looks for the simulator.
 *
 * devicePathFormat: printf-style path of a port with exactly one "%d" for the
 *   port number and no other '%' (default "/dev/ttyACM%d"). The presence test
 *   lists the nodes that match the format with "*" in place of "%d".
 * lockDirectory: directory of the lock files "norvale.ACM<n>.lock"
 *   (default "/var/lock"); created with mode 0755 when missing.
 * A null argument restores that default.
 *
 * Returns 0 on success; -1 while the library is started (between
 * HSIMInit/HSIMConnect and HSIMFree); -2 for an unusable format (no "%d",
 * another conversion, or a port path that would not fit 511 bytes); -3 for an
 * unusable lock directory (empty, or a lock path that would not fit 127
 * bytes). A refused call changes nothing.
 *
 * The paths are never interpreted by a shell: the presence listing quotes
 * them. since 1.0.5
 */
HSIM_API int HSIMSetDeviceLocation(const char* devicePathFormat, const char* lockDirectory);

/* Copies the current settings into the caller's buffers (either may be null).
 * Returns 0, or -1 when a buffer is too small. since 1.0.5 */
HSIM_API int HSIMGetDeviceLocation(char* devicePathFormat, size_t formatSize,
                                   char* lockDirectory, size_t lockSize);

/*
 * Whether a built-in table holds published data or a stand-in.
 * Returns 1 for published data, 0 for a stand-in, -1 for an unknown table.
 * *source (when source is not null) receives a static text that says where
 * the data came from. since 1.0.5
 */
HSIM_API int HSIMGetTableProvenance(int table, const char** source);

/*
 * Whether the pacing pulses follow the beats (HSIMSetPacingRateSynchronized,
 * also the initial state) rather than the fixed rate HSIMGetPacingRate reads
 * (HSIMSetPacingRate). They follow the beats only while the beat rate is
 * within 10..360 per minute; outside it the fixed rate paces. since 1.0.5
 */
HSIM_API bool HSIMGetPacingRateSynchronized(void);

/*
 * Renders what the present settings would stream from a start, without a
 * device and without touching the output that runs: count samples of both
 * channels into the arrays that are not null. acMv and dcMv receive the
 * channels as computed (mV, before the DAC words are formed; with the
 * baseline-reset test on a sine, the sine is on the DC channel); acWords and
 * dcWords the words exactly as the device receives them (AC signed, 6400
 * counts per mV divided by the respiration attenuation; DC unsigned, 0x8000 at
 * 0 mV, +-1000 mV full scale). A start of output with the same settings sends
 * the same words, sample for sample.
 *
 * Returns the number of samples rendered: count, or fewer when the output
 * would end by itself first (a frequency scan reaching its stop frequency, a
 * pattern or file that does not loop); the transfer of 700 samples in which
 * it ends is rendered whole. -2 when count is negative. Works before
 * HSIMInit; takes the library's lock only to copy the settings. With output
 * function 0 the samples are the idle levels. since 1.0.5
 */
HSIM_API int HSIMRenderOutput(int count, double* acMv, double* dcMv, short* acWords,
                              unsigned short* dcWords);

/*
 * How well the stream keeps up, counted since the last connection or
 * HSIMResetStreamHealth. The latency is the time from the arrival of a data
 * request to the end of its answer, kept in a histogram of 10 us bins up to
 * 2 ms and 1 ms bins up to 102 ms; percentiles are the upper edges of their
 * bins, the maximum is exact.
 */
typedef struct HSIM_STREAM_HEALTH {
    unsigned long long transfersSent;    /* transfers of 700 samples written whole */
    unsigned long long requestsAnswered; /* data requests answered (samples or, after a stop, the control block) */
    unsigned long long writeFailures;    /* transfers not written whole */
    unsigned long long lateAnswers;      /* answers later than lateThresholdMs */
    unsigned long long windowWaits;      /* calls that waited for the command window while streaming */
    unsigned long long windowTimeouts;   /* of those, the ones that gave up after 3000 ms */
    unsigned long long latencySamples;   /* answers in the histogram */
    double lateThresholdMs;
    double latencyP50Ms;
    double latencyP99Ms;
    double latencyMaxMs;
    double computeMaxMs; /* longest computation of one transfer, the application's callbacks included */
    int realtime;        /* 1 when the streaming thread runs with real-time scheduling */
} HSIM_STREAM_HEALTH;

/* Fills *health. Returns 0, or -2 for a null pointer. Any thread, any time.
 * since 1.0.5 */
HSIM_API int HSIMGetStreamHealth(HSIM_STREAM_HEALTH* health);
/* Zeroes the counters and the histogram. since 1.0.5 */
HSIM_API void HSIMResetStreamHealth(void);

/*
 * The signal tap: what the streaming thread plays, for readers on any thread.
 *
 * The poll thread writes a point for every tenth streamed sample (the cadence
 * of the signal-output callback, 4000 points a second) and one for each event
 * that the callbacks hear, into a ring of about 8 s. Each reader keeps its own
 * place; reading never makes the poll thread wait and never runs anything on
 * it, so a slow reader (an interpreter, a display) cannot disturb the stream.
 * A reader that falls more than the ring behind loses the oldest points; they
 * are counted, never waited for. The C callbacks stay as they are: the tap
 * carries the same information.
 *
 * A handle belongs to one reading thread at a time; any number of handles
 * may read at once. since 1.0.5
 */
typedef struct HSIM_TAP HSIM_TAP;

enum {
    HSIM_TAP_SAMPLE = 0,         /* a played sample: time, signalMv, dcMv, pacing */
    HSIM_TAP_END = 1,            /* the output ended by itself (a pattern or file that
                                    does not loop): the signal callback's (-1, 0) */
    HSIM_TAP_FREQUENCY = 2,      /* value: the frequency the library set, Hz; -1 a scan ended */
    HSIM_TAP_FUNCTION = 3,       /* value: the output function a scan selected */
    HSIM_TAP_DC_LEVEL = 4,       /* value: the input dynamic range test's DC level, mV */
    HSIM_TAP_BASELINE_RESET = 5  /* value: the new baseline-reset level */
};

/* A sample point's flags. */
#define HSIM_TAP_FIRST_OF_RUN 1 /* the first point since output started */

typedef struct HSIM_TAP_POINT {
    double time;     /* s since output started (the signal callback's time); -1 for HSIM_TAP_END */
    double signalMv; /* the signal channel as the signal callback sees it, pacing included */
    double dcMv;     /* the DC channel as played */
    double pacingMv; /* a pacing pulse started since the previous point: its amplitude, else 0 */
    double pacingMs; /* and its width */
    double value;    /* an event's value */
    int kind;        /* HSIM_TAP_... */
    int flags;
} HSIM_TAP_POINT;

/* A reader that sees what is written from now on; null when out of memory. */
HSIM_API HSIM_TAP* HSIMTapOpen(void);
/* Copies up to max points, oldest first, without waiting. The count copied
 * (0 when none waits); -2 for a null handle or points, or max below 0. */
HSIM_API int HSIMTapRead(HSIM_TAP* tap, HSIM_TAP_POINT* points, int max);
/* Waits up to timeoutMs for points to read (it sleeps in steps of at most
 * 5 ms; the writer is never involved). 1 when points wait, 0 on time-out,
 * -2 for a null handle. */
HSIM_API int HSIMTapWait(HSIM_TAP* tap, unsigned int timeoutMs);
/* Points this reader lost because it fell behind. 0 for a null handle. */
HSIM_API unsigned long long HSIMTapOverruns(const HSIM_TAP* tap);
/* Releases the reader; null is ignored. */
HSIM_API void HSIMTapClose(HSIM_TAP* tap);

/*
 * The parameters, described once. Each has a name ("amplitude",
 * "qrs-duration", ...), a unit ("mV", "Hz", "ms", "s", "/min", "%", or "" for
 * none), a kind, the range its setter accepts (both ends included), the value
 * the library starts with, and how a change takes effect. The exported setter
 * of a parameter (HSIMSetAmplitude, ...) and HSIMSetParameter with its name
 * do the same, with the same results, for every value the exported setter
 * can be given; where an older setter takes more than the range
 * (HSIMSetOutputFunction any code, SetECG2_27_Noise any mode,
 * SetBaselineResetTest any level, SetRespireAlgorithmParam any positive
 * breath), the name takes the range alone.
 *
 * A choice takes whole numbers from minimum to maximum, each named by
 * choices[value - minimum]; a null name is a value that is none (refused).
 * A parameter of each channel (channels 4: "dc-offset", "impedance", ...)
 * has a value per channel 0 .. channels - 1: HSIMSetParameter sets every
 * channel (0 first, up to the first refusal), HSIMSetChannelParameter one.
 * Parameters held by the device (impedance, signal ground) are read from it;
 * a parameter the device cannot report (the output lead) cannot be read.
 */
typedef enum HSIM_PARAMETER_KIND {
    HSIM_PARAMETER_NUMBER = 0,  /* any value in the range */
    HSIM_PARAMETER_INTEGER = 1, /* whole numbers in the range */
    HSIM_PARAMETER_BOOL = 2,    /* 0 or 1 */
    HSIM_PARAMETER_CHOICE = 3   /* one of the named values (choices) */
} HSIM_PARAMETER_KIND;

typedef enum HSIM_PARAMETER_APPLY {
    HSIM_APPLY_DEFERRED = 0,  /* while output streams, at the end of the running cycle */
    HSIM_APPLY_IMMEDIATE = 1, /* at once */
    HSIM_APPLY_STORED = 2     /* kept; it takes effect with what it belongs to */
} HSIM_PARAMETER_APPLY;

typedef struct HSIM_PARAMETER_INFO {
    const char* name; /* static text */
    const char* unit; /* static text */
    int kind;         /* HSIM_PARAMETER_... */
    int apply;        /* HSIM_APPLY_... */
    double minimum;
    double maximum;
    double initial;   /* for the device's own settings: what it starts with */
    int channels;     /* 0: one value; otherwise one value per channel */
    int flags;        /* HSIM_PARAMETER_READABLE, ..._SELECTS_OUTPUT, ..._ASKS_DEVICE */
    const char* const* choices; /* a choice's names (static), else null */
} HSIM_PARAMETER_INFO;

#define HSIM_PARAMETER_READABLE 1       /* it can be read back */
#define HSIM_PARAMETER_SELECTS_OUTPUT 2 /* setting it selects, starts or stops the output */
#define HSIM_PARAMETER_ASKS_DEVICE 4    /* reading it asks the device (an exchange in the command
                                           window); other rows are read from what the library holds */

/* The number of parameters. since 1.0.5 */
HSIM_API int HSIMGetParameterCount(void);
/* The description of parameter index (0 .. count - 1): 0, or -2 for an index
 * outside them or a null info (nothing written). since 1.0.5 */
HSIM_API int HSIMGetParameterInfo(int index, HSIM_PARAMETER_INFO* info);
/* Sets a parameter by name: the result of its setter (0 stored; -1 no device
 * or no command window; -2 outside the range, not a whole number for an
 * integer, bool or choice, or a choice that is none; -3, -4 refused by a
 * coupling the setter documents; HSIM_ERROR_IO when the device did not
 * complete the exchange), or HSIM_ERROR_UNKNOWN_PARAMETER for a name that is
 * none (or null). A parameter the device holds checks its value before it
 * asks for the device. since 1.0.5 */
#define HSIM_ERROR_UNKNOWN_PARAMETER (-20)
HSIM_API int HSIMSetParameter(const char* name, double value);
/* Reads a parameter by name into *value, as its getter does: 0, or
 * HSIM_ERROR_UNKNOWN_PARAMETER for a name that is none, -2 for a null value
 * or a parameter of each channel, -3 for one that cannot be read; for one
 * read from the device, its getter's failure (-1, HSIM_ERROR_IO).
 * since 1.0.5 */
HSIM_API int HSIMGetParameter(const char* name, double* value);
/* The same for one channel of a parameter of each channel; channel -1 is
 * the single value of any other parameter (for a parameter of each channel,
 * every channel when setting). A channel outside them: -2. since 1.0.5 */
HSIM_API int HSIMSetChannelParameter(const char* name, int channel, double value);
HSIM_API int HSIMGetChannelParameter(const char* name, int channel, double* value);

/*
 * Several simulators in one process. The functions of hsim.h and of this
 * header work on the calling thread's simulator: the default one, which
 * HSIMInit and HSIMConnect connect, unless HSIMUse gave the thread another.
 * Each simulator opened here has a context of its own: its port and lock
 * file, its connect, poll and monitor threads, its lock, its engine, stream
 * health and signal tap. Two simulators never open the same port (its lock
 * file refuses the second).
 */
typedef struct HSIM_SIMULATOR HSIM_SIMULATOR;

/* Opens the simulator on port n (the n of the device path format), or the
 * first free one found when port is -1, and waits up to timeoutMs for it to
 * connect. Null when none connected in time (or out of memory); nothing of
 * it stays behind. It is kept connected (reconnected after a loss) until
 * HSIMClose. since 1.0.5 */
HSIM_API HSIM_SIMULATOR* HSIMOpen(int port, unsigned int timeoutMs);
/* Opens the simulator whose serial number (HSIMGetSerialNumber) is serial:
 * the free simulators are opened one after the other until it is found, the
 * others closed again. Null when it is not found within timeoutMs of the
 * last one found. since 1.0.5 */
HSIM_API HSIM_SIMULATOR* HSIMOpenSerial(const char* serial, unsigned int timeoutMs);
/* Stops its output (0 mV), ends its threads, closes its port and releases
 * it. No other thread may use it any more. Null is ignored. since 1.0.5 */
HSIM_API void HSIMClose(HSIM_SIMULATOR* simulator);
/* Makes simulator the calling thread's simulator for the functions of
 * hsim.h and this header; null gives the thread back the default one.
 * A simulator's callbacks run on its own threads, which use it. since 1.0.5 */
HSIM_API void HSIMUse(HSIM_SIMULATOR* simulator);
/* What these do on a simulator is what the function of the same name
 * without "Sim" does on the calling thread's: -2 (or null, or false) for a
 * null simulator. since 1.0.5 */
HSIM_API bool HSIMSimIsConnected(HSIM_SIMULATOR* simulator);
HSIM_API int HSIMSimGetPort(HSIM_SIMULATOR* simulator); /* the port it is on, -1 while none */
HSIM_API const char* HSIMSimGetSerialNumber(HSIM_SIMULATOR* simulator);
HSIM_API int HSIMSimSetParameter(HSIM_SIMULATOR* simulator, const char* name, double value);
HSIM_API int HSIMSimGetParameter(HSIM_SIMULATOR* simulator, const char* name, double* value);
HSIM_API int HSIMSimSetChannelParameter(HSIM_SIMULATOR* simulator, const char* name, int channel, double value);
HSIM_API int HSIMSimGetChannelParameter(HSIM_SIMULATOR* simulator, const char* name, int channel, double* value);
/* Selects the output function (0 stops the output). */
HSIM_API int HSIMSimSetOutputFunction(HSIM_SIMULATOR* simulator, int outputFunction);
HSIM_API int HSIMSimGetOutputFunction(HSIM_SIMULATOR* simulator);
HSIM_API int HSIMSimRenderOutput(HSIM_SIMULATOR* simulator, int count, double* acMv, double* dcMv,
                                 short* acWords, unsigned short* dcWords);
HSIM_API int HSIMSimGetStreamHealth(HSIM_SIMULATOR* simulator, HSIM_STREAM_HEALTH* health);
/* A reader of the simulator's signal tap, read with HSIMTapRead on any thread. */
HSIM_API HSIM_TAP* HSIMSimTapOpen(HSIM_SIMULATOR* simulator);

#ifdef __cplusplus
}
#endif

#endif /* HSIM_EXT_H */
