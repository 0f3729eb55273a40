"""Thin ctypes binding of libhsim's C interface (hsim.h and hsim_ext.h).

Every C function of the library is declared here with its C signature, under
its C name, as an attribute of :class:`CApi`; records and enumerations are
mirrored one to one. Nothing is checked or converted beyond what ctypes does:
results are the library's own codes. The Pythonic layer (:mod:`hsim.simulator`)
is built on top of this.

What is not bound, because Python cannot use it: the C++ classes and the
functions taking C++ objects (the event and lock classes, WaitForSingleObject,
WaitForMultipleObjects, CreateNewTimer, DeleteTimer, g_hSigTimer1Event,
g_hSigTimer2Event, StringToken, StringFormat, CheckVersion), GenWaveform (its
arrays are released with delete[]; HSIMRenderOutput renders the same samples
into caller memory) and the thread primitives CreateThread and CloseThread.
"""
from __future__ import annotations

import ctypes
import enum
import os
import shutil
from ctypes import (CFUNCTYPE, POINTER, Structure, c_bool, c_char_p, c_double, c_int,
                    c_int32, c_long, c_short, c_size_t, c_ubyte, c_uint, c_ulong,
                    c_ulonglong, c_ushort, c_void_p, c_wchar_p)
from pathlib import Path
from typing import Optional

HSIM_ERROR_IO = -100
HSIM_ERROR_UNKNOWN_PARAMETER = -20  # HSIMSetParameter / HSIMGetParameter: no such name
SAMPLE_RATE = 40000          # streamed samples per second
SAMPLES_PER_TRANSFER = 700   # samples in one transfer to the device
CHANNELS = 4                 # output channels of the front end


# ------------------------------------------------------------------ enumerations

class OutputFunction(enum.IntEnum):
    """What the signal channel plays (``OutputFunction`` of hsim_types.h)."""
    OFF = 0
    SINE = 1
    TRIANGLE = 2
    SQUARE = 3
    RECTANGULAR_PULSE = 4
    TRIANGULAR_PULSE = 5
    EXPONENTIAL = 6
    ECG_STANDARD = 7
    ECG_CUSTOM = 8
    IEC_2_27 = 9
    IEC_2_51 = 10
    RESERVED_11 = 11
    RESERVED_12 = 12
    BIPHASIC_EXPONENTIAL = 13
    ECG_FILE = 14
    INPUT_DYNAMIC_RANGE = 15
    IEC_2_47 = 16
    ANE20000 = 17
    ECG_FILE_WITH_DC = 18


class OutputLead(enum.IntEnum):
    """Lead selection of an output channel."""
    PRIMARY = 0
    SECONDARY = 1


class IEC247Pattern(enum.IntEnum):
    """IEC 60601-2-47 patterns (``IEC247_PATTERN``)."""
    PULSE_TRAIN = 0
    RR_800MS = 1
    RR_1000MS = 2
    RR_3000MS = 3
    RR_1500MS_HOUR = 4


class ParameterKind(enum.IntEnum):
    """What values a parameter takes (``HSIM_PARAMETER_KIND``)."""
    NUMBER = 0
    INTEGER = 1
    BOOL = 2
    CHOICE = 3


class ParameterApply(enum.IntEnum):
    """When an accepted parameter value takes effect (``HSIM_PARAMETER_APPLY``)."""
    DEFERRED = 0
    IMMEDIATE = 1
    STORED = 2


class Table(enum.IntEnum):
    """Built-in sample tables (``HSIM_TABLE``)."""
    IEC227W = 0
    IEC251W = 1
    ANE20000 = 2


# ----------------------------------------------------------------------- records

class MODEL_INFORMATION(Structure):
    _fields_ = [("Character1", c_ubyte), ("Character2", c_ubyte), ("Code1", c_ubyte),
                ("Code2", c_ubyte), ("Number1", c_int32), ("Number2", c_int32)]


class _DEVICE_CONTROL_SETTING(Structure):
    _fields_ = [("Header", c_ubyte * 4), ("OutputSwitch", c_ubyte), ("Reserved5", c_ubyte * 3),
                ("SampleRate", c_ubyte * 2), ("Fraction", c_ubyte * 2), ("Marker", c_ubyte * 2),
                ("Reserved14", c_ubyte * 18), ("ChannelRecord", (c_ubyte * 8) * 4)]


DEVICE_CONTROL_SETTING = _DEVICE_CONTROL_SETTING


class RAW_DATA_INFORMATION(Structure):
    _fields_ = [("sampleRate", c_double), ("sampleCount", c_int32),
                ("acData", POINTER(c_double)), ("dcData", POINTER(c_double))]


class HSIM_STREAM_HEALTH(Structure):
    _fields_ = [("transfersSent", c_ulonglong), ("requestsAnswered", c_ulonglong),
                ("writeFailures", c_ulonglong), ("lateAnswers", c_ulonglong),
                ("windowWaits", c_ulonglong), ("windowTimeouts", c_ulonglong),
                ("latencySamples", c_ulonglong), ("lateThresholdMs", c_double),
                ("latencyP50Ms", c_double), ("latencyP99Ms", c_double),
                ("latencyMaxMs", c_double), ("computeMaxMs", c_double), ("realtime", c_int)]


class HSIM_TAP_POINT(Structure):
    _fields_ = [("time", c_double), ("signalMv", c_double), ("dcMv", c_double),
                ("pacingMv", c_double), ("pacingMs", c_double), ("value", c_double),
                ("kind", c_int), ("flags", c_int)]


class HSIM_PARAMETER_INFO(Structure):
    _fields_ = [("name", c_char_p), ("unit", c_char_p), ("kind", c_int), ("apply", c_int),
                ("minimum", c_double), ("maximum", c_double), ("initial", c_double),
                ("channels", c_int), ("flags", c_int), ("choices", POINTER(c_char_p))]


PARAMETER_READABLE, PARAMETER_SELECTS_OUTPUT, PARAMETER_ASKS_DEVICE = 1, 2, 4  # HSIM_PARAMETER_INFO.flags


class HSIM_STATUS(Structure):
    _fields_ = [("cause", c_int), ("osError", c_int), ("bytesExpected", c_int), ("bytesDone", c_int),
                ("messageLength", c_int), ("message", c_ubyte * 8)]


class Cause(enum.IntEnum):
    """Why the calling thread's last call to the device failed
    (``HSIM_CAUSE_...`` of hsim_ext.h)."""
    NONE = 0
    NO_DEVICE = 1
    BUSY = 2
    WRITE_FAILED = 3
    READ_FAILED = 4
    SHORT_READ = 5
    REFUSED = 6


# The kinds of tap points and the flag of a run's first point (hsim_ext.h).
TAP_SAMPLE, TAP_END, TAP_FREQUENCY, TAP_FUNCTION, TAP_DC_LEVEL, TAP_BASELINE_RESET = range(6)
TAP_FIRST_OF_RUN = 1


# --------------------------------------------------------------------- callbacks

HSIM_CONNECTION_CALLBACK = CFUNCTYPE(None, c_bool)
HSIM_NOTIFY_CALLBACK = CFUNCTYPE(None, c_uint, c_uint, c_ulong)
HSIM_GRAPH_CALLBACK = CFUNCTYPE(None, c_double, c_double)
HSIM_FUNCTION_CALLBACK = CFUNCTYPE(None, c_int)
HSIM_FREQUENCY_CALLBACK = CFUNCTYPE(None, c_double)
HSIM_LEVEL_CALLBACK = CFUNCTYPE(None, c_int)

_P = POINTER
_V = None  # void result

# name: (result, [arguments]), in the order of the headers.
PROTOTYPES: dict[str, tuple] = {
    # runtime primitives usable from Python
    "CloseHandle": (c_bool, [c_long]),
    "SleepEx": (_V, [c_uint]),
    # connection
    "HSIMInit": (c_bool, [HSIM_CONNECTION_CALLBACK]),
    "HSIMConnect": (c_bool, [c_int, c_uint]),
    "HSIMFree": (_V, []),
    "HSIMIsConnected": (c_bool, []),
    "HSIMGetDeviceHandle": (c_long, []),
    "RegisterNotifyEvent": (_V, [c_uint, HSIM_NOTIFY_CALLBACK]),
    "WinEventCb": (_V, [c_uint, c_uint, c_ulong]),
    "ReconnectDevice": (_V, []),
    "NotifyListener": (_V, [c_bool]),
    "ConnectedHandler": (_V, [c_bool]),
    "DoInit": (c_bool, [HSIM_CONNECTION_CALLBACK]),
    # utilities
    "StringTrimRight": (_V, [c_char_p]),
    "StringTrimLeft": (_V, [c_char_p]),
    "StringTrim": (_V, [c_char_p]),
    "parseBySpace": (c_int, [c_char_p, _P(c_char_p), c_int]),
    "PressYesNoToContinue": (c_bool, [c_char_p]),
    "parseDate": (c_int, [c_char_p, c_char_p]),
    "parseTime": (c_int, [c_char_p, c_char_p]),
    "UTF8ToUnicodeChar": (c_int, [c_char_p, _P(c_int)]),
    "UTF8ToUnicodeBuf": (_V, [c_char_p, c_wchar_p]),
    "ConvertVersion": (c_int, [c_char_p]),
    "GenerateTempFilePath": (c_char_p, [c_char_p]),
    "StopCallback": (_V, []),
    "con_init": (_V, []),
    "con_clear_screen": (_V, []),
    "con_set_cursor_position": (_V, [c_int, c_int]),
    "con_display_string": (_V, [c_char_p]),
    "con_hide_cursor": (_V, []),
    # device configuration commands
    "SetRelays": (c_bool, [c_bool]),
    "SetInputImpedanceMode": (c_bool, [c_int, c_int]),
    "GetInputImpedanceMode": (c_int, [c_int]),
    "SetSignalGroundToGNDGround": (c_bool, [c_int, c_bool]),
    "GetSignalGroundToGNDGround": (c_bool, [c_int]),
    "SetOutputLead": (c_bool, [c_int, c_int]),
    "SetDcOffset": (c_bool, [c_int]),
    "SetSelectedChannelEnabled": (c_bool, [c_ubyte, c_bool]),
    "SetSelectedChannelLeads": (c_bool, [c_ubyte, c_int]),
    "SetCalibrationMode": (c_bool, [c_bool]),
    "SetOutputDac": (c_bool, [c_int, c_int]),
    "ResetHwStatus": (c_bool, []),
    "SetApnea": (c_bool, [c_bool]),
    "SetRespiration": (c_bool, [c_int, c_int, c_int, c_int, c_int]),
    "EnableRespiration": (c_bool, [c_bool]),
    "HSIMSetCalibrationMode": (c_int, [c_bool]),
    "HSIMSetOutputDac": (c_int, [c_int, c_int]),
    # streaming and blocks
    "SendStopPacket": (c_int, []),
    "HSIMOutputSignal": (c_int, [c_int]),
    "HSIMSaveToStandaloneMode": (c_int, [c_int]),
    "HSIMSaveDefaultWaveform": (c_int, []),
    "WriteWaveformRawData": (c_bool, [_P(c_ubyte), c_uint]),
    # device information and storage
    "HSIMSetHWInformation": (c_int, [c_int, c_int]),
    "HSIMSetDeviceInformation": (c_int, [_P(MODEL_INFORMATION)]),
    "HSIMGetDeviceInformation": (c_int, [_P(MODEL_INFORMATION)]),
    "HSIMGetSerialNumber": (c_char_p, []),
    "HSIMGetHWInformation": (c_int, [c_void_p]),
    "HSIMGetVersion": (c_int, []),
    "HSIMReadMfgInfo": (c_int, [_P(c_ubyte), c_int]),
    "HSIMWriteMfgInfo": (c_int, [_P(c_ubyte), c_int]),
    "HSIMWriteDCCalibrationData": (c_int, [c_int, c_ushort]),
    "HSIMSetDCOffsetCalibrationData": (c_int, [c_int, c_int]),
    "HSIMSetFixedDCByDAC": (c_int, [c_int]),
    "HSIMUpdateFwLoadFirmwareFile": (c_int, [c_void_p, c_void_p, c_void_p, c_void_p]),
    "HSIMUpdateFwBurnBinFile": (_V, [c_void_p]),
    "SetDefaultECGDCVariableCalibrationData": (_V, []),
    # respiration
    "SetRespireAlgorithmParam": (c_int, [c_int] * 6),
    # standard patterns
    "SetSpecialWave227": (c_int, [c_int]),
    "SetSpecialWave251": (c_int, [c_int]),
    "SetSpecialWave247": (c_int, [c_int]),
    "GetSpecialWave227": (c_int, []),
    "GetSpecialWave251": (c_int, []),
    "GetSpecialWave247": (c_int, []),
    "SetANE20000Lead": (c_int, [c_int]),
    "GetANE20000Lead": (c_int, []),
    "SetStandardWaveformLoop": (_V, [c_bool]),
    "HSIMEnableLoop": (_V, [c_bool]),
    "GetSpecialWave227Array": (_P(c_int), [c_int, _P(c_int), _P(c_int)]),
    "GetSpecialWave251Array": (_P(c_int), [c_int, _P(c_int), _P(c_int)]),
    "GetSpecialWave247Array": (_P(c_double), [c_int, _P(c_int), _P(c_int)]),
    "getECG227Array": (_P(c_double), []),
    "getArray": (c_void_p, [c_int]),  # malloc'd: free with libc free()
    "getIEC47RawArray": (_P(c_double), [c_int]),
    "getRRavgArray": (_P(c_double), []),
    "getRRdevArray": (_P(c_double), []),
    "getHRVfreqArray": (_P(c_double), []),
    "init": (_V, []),
    "DumpStandardWaveform": (c_int, [_P(c_int), c_int, c_int, c_char_p, c_wchar_p]),
    # output function and parameters
    "HSIMSetOutputFunction": (c_int, [c_int]),
    "HSIMGetOutputFunction": (c_int, []),
    "HSIMSetOutputLead": (c_int, [c_int, c_int]),
    "HSIMSetAmplitude": (c_int, [c_double]),
    "HSIMGetAmplitude": (c_double, []),
    "HSIMSetFrequency": (c_int, [c_double]),
    "HSIMGetFrequency": (c_double, []),
    "HSIMSetDCOffset": (c_int, [c_int, c_int]),
    "HSIMGetDCOffset": (c_int, []),
    "HSIMSetDCOffsetVariableMode": (c_int, [c_int, c_bool]),
    "HSIMGetDCOffsetVariableMode": (c_bool, []),
    "SetDCOffsetCommonMode": (c_int, [c_bool]),
    "GetDCOffsetCommonMode": (c_bool, []),
    "HSIMSetPulseWidth": (c_int, [c_double]),
    "HSIMGetPulseWidth": (c_double, []),
    "HSIMSetInputImpedanceMode": (c_int, [c_int, c_int]),
    "HSIMGetInputImpedanceMode": (c_int, [c_int]),
    "HSIMSetSignalGroundToGNDGround": (c_int, [c_int, c_bool]),
    "HSIMGetSignalGroundToGNDGround": (c_int, [c_int]),
    "HSIMSetPacingPulseMode": (c_int, [c_int]),
    "HSIMGetPacingPulseMode": (c_int, []),
    "HSIMSetPacingAmplitude": (c_int, [c_double]),
    "HSIMGetPacingAmplitude": (c_double, []),
    "HSIMSetPacingDuration": (c_int, [c_double]),
    "HSIMGetPacingDuration": (c_double, []),
    "HSIMSetPacingRate": (c_int, [c_uint]),
    "HSIMGetPacingRate": (c_int, []),
    "HSIMSetPacingRateSynchronized": (c_int, []),
    "HSIMSetOvershootTimeConstant": (c_int, [c_uint]),
    "HSIMGetOvershootTimeConstant": (c_int, []),
    "HSIMSetOvershootAmplitude": (c_int, [c_double]),
    "HSIMGetOvershootAmplitude": (c_double, []),
    "HSIMSetQRSDuration": (c_int, [c_double]),
    "HSIMGetQRSDuration": (c_double, []),
    "HSIMSetTWave": (c_int, [c_double]),
    "HSIMGetTWave": (c_double, []),
    "HSIMSetPDuration": (c_int, [c_double]),
    "HSIMGetPDuration": (c_double, []),
    "HSIMSetPRInterval": (c_int, [c_double]),
    "HSIMGetPRInterval": (c_double, []),
    "HSIMSetQTInterval": (c_int, [c_double]),
    "HSIMGetQTInterval": (c_double, []),
    "HSIMSetPWave": (c_int, [c_double]),
    "HSIMGetPWave": (c_double, []),
    "HSIMSetSTDeviation": (c_int, [c_double]),
    "HSIMGetSTDeviation": (c_double, []),
    "HSIMSetSTSegment": (c_int, [c_double]),
    "HSIMGetSTSegment": (c_double, []),
    "HSIMSetTDuration": (c_int, [c_double]),
    "HSIMGetTDuration": (c_double, []),
    "HSIMSetDynamicRangeTest": (c_int, [c_bool, c_bool, c_double, c_double]),
    "HSIMGetDynamicRangeTest": (c_bool, []),
    "HSIMSetFrequencyScan": (c_int, [c_bool, c_int, c_double, c_double]),
    "HSIMGetFrequencyScan": (c_bool, []),
    "SetAllOutputState": (c_int, [c_uint]),
    "HSIMIsPlaying": (c_bool, []),
    "HSIMRegisterSignalOutputCallback": (_V, [HSIM_GRAPH_CALLBACK]),
    "HSIMRegisterPacingOutputCallback": (_V, [HSIM_GRAPH_CALLBACK]),
    "HSIMRegisterOutputFunctionCallback": (_V, [HSIM_FUNCTION_CALLBACK]),
    "HSIMRegisterFrequencyCallback": (_V, [HSIM_FREQUENCY_CALLBACK]),
    "HSIMReset": (_V, []),
    # test modes
    "SetBaselineResetTest": (c_int, [c_int]),
    "GetBaselineResetTest": (c_int, []),
    "SetECG2_27_Noise": (c_int, [c_int, c_double]),
    "GetECG2_27_NoiseFreq": (c_int, []),
    "GetECG2_27_NoiseAmp": (c_double, []),
    "SetECG2_27_AAMIDriftTest": (c_int, [c_bool]),
    "GetECG2_27_AAMIDriftTest": (c_bool, []),
    "SetECG2_27_AAMIDriftTestAmp": (c_int, [c_double]),
    "GetECG2_27_AAMIDriftTestAmp": (c_double, []),
    "SetECG2_27_AAMIDriftTestFreq": (c_int, [c_double]),
    "GetECG2_27_AAMIDriftTestFreq": (c_double, []),
    "GetDynamicRangeTestAmp": (c_double, []),
    "GetDynamicRangeTestFreq": (c_double, []),
    "GetFreqScanSineStartFreq": (c_double, []),
    "GetFreqScanSineStopFreq": (c_double, []),
    "GetFreqScanSineDuration": (c_int, []),
    "SetFreqScanECG": (c_int, [c_bool]),
    "GetFreqScanECG": (c_bool, []),
    "EnableExternalRespireModule": (c_int, [c_bool]),
    "RegisterBaselineResetCB": (_V, [HSIM_LEVEL_CALLBACK]),
    "RegisterSyncDCOffsetCB": (_V, [HSIM_LEVEL_CALLBACK]),
    # ECG files and raw data
    "HSIMLoadRawData": (c_int, [_P(RAW_DATA_INFORMATION)]),
    "LoadECGBin": (c_int, [c_wchar_p]),
    "CheckECGTxtChannel": (c_int, [c_wchar_p, _P(c_void_p)]),
    "DumpRawData": (c_int, [_P(c_double), c_int, c_wchar_p]),
    "OutputRaw": (c_int, [c_int, c_int, _P(c_double), c_char_p, c_wchar_p]),
    "EnableRecordRaw": (c_bool, [_P(c_double), _P(c_double), c_int]),
    "DisableRecordRaw": (_V, []),
    # C symbols of hsim.hpp
    "LoadECGtxt": (c_int, [c_char_p, c_int]),
    "LoadECGtxtSingleChannel": (c_int, [c_char_p]),
    # hsim_ext.h
    "HSIMGetLastStatus": (c_int, [_P(HSIM_STATUS)]),
    "HSIMSetDeviceLocation": (c_int, [c_char_p, c_char_p]),
    "HSIMGetDeviceLocation": (c_int, [c_char_p, c_size_t, c_char_p, c_size_t]),
    "HSIMGetTableProvenance": (c_int, [c_int, _P(c_char_p)]),
    "HSIMRenderOutput": (c_int, [_P(c_double), _P(c_double), _P(c_short), _P(c_ushort)]),
    "HSIMGetPacingRateSynchronized": (c_bool, []),
    "HSIMGetStreamHealth": (c_int, [_P(HSIM_STREAM_HEALTH)]),
    "HSIMResetStreamHealth": (_V, []),
    "HSIMTapOpen": (c_void_p, []),
    "HSIMTapRead": (c_int, [c_void_p, _P(HSIM_TAP_POINT), c_int]),
    "HSIMTapWait": (c_int, [c_void_p, c_uint]),
    "HSIMTapOverruns": (c_ulonglong, [c_void_p]),
    "HSIMTapClose": (_V, [c_void_p]),
    "HSIMGetParameterCount": (c_int, []),
    "HSIMGetParameterInfo": (c_int, [c_int, _P(HSIM_PARAMETER_INFO)]),
    "HSIMSetParameter": (c_int, [c_char_p, c_double]),
    "HSIMGetParameter": (c_int, [c_char_p, _P(c_double)]),
    "HSIMSetChannelParameter": (c_int, [c_char_p, c_int, c_double]),
    "HSIMGetChannelParameter": (c_int, [c_char_p, c_int, _P(c_double)]),
    # several simulators: a simulator is a void pointer (HSIM_SIMULATOR*)
    "HSIMOpen": (c_void_p, [c_int, c_uint]),
    "HSIMOpenSerial": (c_void_p, [c_char_p, c_uint]),
    "HSIMClose": (_V, [c_void_p]),
    "HSIMUse": (_V, [c_void_p]),
    "HSIMSimIsConnected": (c_bool, [c_void_p]),
    "HSIMSimGetPort": (c_int, [c_void_p]),
    "HSIMSimGetSerialNumber": (c_char_p, [c_void_p]),
    "HSIMSimSetParameter": (c_int, [c_void_p, c_char_p, c_double]),
    "HSIMSimGetParameter": (c_int, [c_void_p, c_char_p, _P(c_double)]),
    "HSIMSimSetChannelParameter": (c_int, [c_void_p, c_char_p, c_int, c_double]),
    "HSIMSimGetChannelParameter": (c_int, [c_void_p, c_char_p, c_int, _P(c_double)]),
    "HSIMSimSetOutputFunction": (c_int, [c_void_p, c_int]),
    "HSIMSimGetOutputFunction": (c_int, [c_void_p]),
    "HSIMSimRenderOutput": (c_int, [c_void_p, c_int, _P(c_double), _P(c_double), _P(c_short),
                                    _P(c_ushort)]),
    "HSIMSimGetStreamHealth": (c_int, [c_void_p, _P(HSIM_STREAM_HEALTH)]),
    "HSIMSimTapOpen": (c_void_p, [c_void_p]),
}
PROTOTYPES["HSIMRenderOutput"] = (c_int, [c_int] + PROTOTYPES["HSIMRenderOutput"][1])

# Exported names deliberately left unbound (see the module docstring).
NOT_BOUND = frozenset({
    "WaitForSingleObject", "WaitForMultipleObjects", "CreateThread", "CloseThread",
    "CreateNewTimer", "DeleteTimer", "g_hSigTimer1Event", "g_hSigTimer2Event",
    "StringToken", "StringFormat", "CheckVersion", "GenWaveform",
})

# Exported data bound as ctypes objects.
DATA = {"g_ECGDCVariableCalibrationData": c_ushort * 8}


def _candidates(env: str, names: list[str]) -> list[str]:
    """Where a library is looked for: $env, next to the package, then by name
    through the dynamic linker's usual search path."""
    here = Path(__file__).resolve().parent
    found = [os.environ[env]] if os.environ.get(env) else []
    found += [str(here / n) for n in names if (here / n).exists()]
    found += names
    return found


def find_library(env: str, names: list[str]) -> ctypes.CDLL:
    """Loads the first library that opens; OSError naming every place tried."""
    tried = []
    for candidate in _candidates(env, names):
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            tried.append(f"{candidate}: {error}")
            if env in os.environ and candidate == os.environ[env]:
                break  # an explicit choice that fails is not replaced silently
    raise OSError(f"cannot load {names[0]} (set {env} to its path); tried:\n  " + "\n  ".join(tried))


class CApi:
    """libhsim with every bound function declared, as attributes under their
    C names; ``g_ECGDCVariableCalibrationData`` is the library's array."""

    def __init__(self, cdll: ctypes.CDLL):
        self.cdll = cdll
        self.path = cdll._name
        for name, (result, arguments) in PROTOTYPES.items():
            function = getattr(cdll, name)
            function.restype = result
            function.argtypes = arguments
            setattr(self, name, function)
        for name, kind in DATA.items():
            setattr(self, name, kind.in_dll(cdll, name))


_api: Optional[CApi] = None


def load() -> CApi:
    """The process's libhsim (loaded once): ``$HSIM_LIBRARY``, ``libhsim.so``
    next to the package, or ``libhsim.so.1`` / ``libhsim.so`` by the search path."""
    global _api
    if _api is None:
        _api = CApi(find_library("HSIM_LIBRARY", ["libhsim.so.1", "libhsim.so"]))
    return _api


def find_emulator() -> str:
    """Path of hsim-emu: ``$HSIM_EMULATOR``, next to the package, or on PATH."""
    if os.environ.get("HSIM_EMULATOR"):
        return os.environ["HSIM_EMULATOR"]
    beside = Path(__file__).resolve().parent / "hsim-emu"
    if beside.exists():
        return str(beside)
    found = shutil.which("hsim-emu")
    if found is None:
        raise FileNotFoundError("hsim-emu not found: set HSIM_EMULATOR or put it on PATH")
    return found


_libc = ctypes.CDLL(None)
_libc.free.argtypes = [c_void_p]
_libc.free.restype = None


def free(pointer: Optional[int]) -> None:
    """Releases memory the library allocated with malloc (getArray, the names
    of CheckECGTxtChannel)."""
    _libc.free(pointer)


__all__ = ["CApi", "load", "find_library", "find_emulator", "free", "PROTOTYPES", "NOT_BOUND",
           "OutputFunction", "OutputLead", "IEC247Pattern", "Table", "MODEL_INFORMATION",
           "DEVICE_CONTROL_SETTING", "RAW_DATA_INFORMATION", "HSIM_STREAM_HEALTH", "HSIM_TAP_POINT",
           "HSIM_STATUS", "HSIM_PARAMETER_INFO", "Cause", "ParameterKind", "ParameterApply",
           "HSIM_CONNECTION_CALLBACK", "HSIM_NOTIFY_CALLBACK", "HSIM_GRAPH_CALLBACK",
           "HSIM_FUNCTION_CALLBACK", "HSIM_FREQUENCY_CALLBACK", "HSIM_LEVEL_CALLBACK",
           "HSIM_ERROR_IO", "HSIM_ERROR_UNKNOWN_PARAMETER", "SAMPLE_RATE", "CHANNELS"]
