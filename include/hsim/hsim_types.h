/*
 * hsim_types.h - the records, enumerations, callback types and result codes of
 * the libhsim interface. Included by hsim.h; holds no function.
 */
#ifndef HSIM_TYPES_H
#define HSIM_TYPES_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "hsim_version.h"

#if defined(HSIM_BUILDING_LIBRARY)
#define HSIM_API __attribute__((visibility("default")))
#else
#define HSIM_API
#endif

#ifdef __cplusplus
class CEvent;
extern "C" {
#else
/* Event object of the runtime primitives; defined in hsim.hpp. */
typedef struct CEvent CEvent;
#endif

/* ----------------------------------------------------------- result codes */

/* Result of an exported setter or device query whose device exchange failed:
 * a device was open (and, while output streams, the command window opened),
 * but a message did not go out whole, the answer was short or late, or the
 * device refused the message. Distinct from -1 (no device, or the command
 * window did not open) and from the argument checks -2, -3, ... since 1.0.5 */
#define HSIM_ERROR_IO (-100)

/* ---------------------------------------------------------------- records */

/* Identity of the device, 12 bytes, filled from the identity probe. since 1.0.5 */
typedef struct MODEL_INFORMATION {
    unsigned char Character1; /* second character of the identity magic ("S") */
    unsigned char Character2; /* third character of the identity magic ("E") */
    unsigned char Code1;      /* code byte 1 */
    unsigned char Code2;      /* code byte 2 */
    int32_t Number1;          /* first number (16 bits on the wire) */
    int32_t Number2;          /* second number (8 bits on the wire) */
} MODEL_INFORMATION;

/* Control setting message of block output, 64 bytes, multi-byte fields
 * big-endian. since 1.0.5 */
typedef struct _DEVICE_CONTROL_SETTING {
    unsigned char Header[4];         /* 0xEA, 0xFF, 0x00, 0x00 */
    unsigned char OutputSwitch;      /* 1 plays the uploaded waveform, 0 off */
    unsigned char Reserved5[3];
    unsigned char SampleRate[2];     /* samples per second */
    unsigned char Fraction[2];       /* fractional samples per period, in thousandths */
    unsigned char Marker[2];         /* 0x04, 0x00 */
    unsigned char Reserved14[18];
    unsigned char ChannelRecord[4][8]; /* the control block's channel records */
} _DEVICE_CONTROL_SETTING;

/* Signal and DC channel arrays handed to HSIMLoadRawData. since 1.0.5 */
typedef struct RAW_DATA_INFORMATION {
    double sampleRate;   /* samples per second, 100..40000 */
    int32_t sampleCount; /* samples in each array */
    double* acData;      /* signal channel, mV */
    double* dcData;      /* DC channel, mV */
} RAW_DATA_INFORMATION;

/* ----------------------------------------------------------- enumerations */

/* What the signal channel plays. since 1.0.5 */
typedef enum OutputFunction {
    OUTPUT_OFF = 0,
    OUTPUT_SINE = 1,
    OUTPUT_TRIANGLE = 2,
    OUTPUT_SQUARE = 3,
    OUTPUT_RECTANGULAR_PULSE = 4,
    OUTPUT_TRIANGULAR_PULSE = 5,
    OUTPUT_EXPONENTIAL = 6,
    OUTPUT_ECG_STANDARD = 7,
    OUTPUT_ECG_CUSTOM = 8,
    OUTPUT_IEC_2_27 = 9,
    OUTPUT_IEC_2_51 = 10,
    OUTPUT_RESERVED_11 = 11,
    OUTPUT_RESERVED_12 = 12,
    OUTPUT_BIPHASIC_EXPONENTIAL = 13,
    OUTPUT_ECG_FILE = 14,
    OUTPUT_INPUT_DYNAMIC_RANGE = 15,
    OUTPUT_IEC_2_47 = 16,
    OUTPUT_ANE20000 = 17,
    OUTPUT_ECG_FILE_WITH_DC = 18
} OutputFunction;

/* Lead selection of an output channel. The hardware distinguishes the
 * primary lead (0) from every other value. since 1.0.5 */
typedef enum OutputLead { OUTPUT_LEAD_PRIMARY = 0, OUTPUT_LEAD_SECONDARY = 1 } OutputLead;

/* IEC 60601-2-47 patterns. since 1.0.5 */
typedef enum IEC247_PATTERN {
    IEC247_PULSE_TRAIN = 0,   /* 100 ms triangle once per second */
    IEC247_RR_800MS = 1,      /* RR 0.8 s, 35 ms at 0.25 Hz */
    IEC247_RR_1000MS = 2,     /* RR 1.0 s, 70 ms at 0.1 Hz */
    IEC247_RR_3000MS = 3,     /* RR 3.0 s, 280 ms at 1/30 Hz */
    IEC247_RR_1500MS_HOUR = 4 /* RR 1.5 s, 140 ms at 1/3600 Hz, one hour */
} IEC247_PATTERN;

/* -------------------------------------------------------------- callbacks */

typedef void (*HSIM_CONNECTION_CALLBACK)(bool connected);
typedef void (*HSIM_NOTIFY_CALLBACK)(unsigned int event, unsigned int param, unsigned long data);
typedef void (*HSIM_GRAPH_CALLBACK)(double timeSeconds, double valueMv);
typedef void (*HSIM_FUNCTION_CALLBACK)(int outputFunction);
typedef void (*HSIM_FREQUENCY_CALLBACK)(double hz);
typedef void (*HSIM_LEVEL_CALLBACK)(int value);

/* Built-in sample tables (HSIMGetTableProvenance in hsim_ext.h). since 1.0.5 */
typedef enum HSIM_TABLE {
    HSIM_TABLE_IEC227W = 0,  /* IEC 60601-2-27 test ECGs, 10 patterns */
    HSIM_TABLE_IEC251W = 1,  /* IEC 60601-2-51 calibration ECGs, 16 patterns */
    HSIM_TABLE_ANE20000 = 2  /* ANE20000 test ECG, 9 leads */
} HSIM_TABLE;

#ifdef __cplusplus
}
#endif

#endif /* HSIM_TYPES_H */
