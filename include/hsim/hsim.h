/*
 * hsim.h - public C interface of libhsim, the host-side control library of the
 * USB ECG patient simulator.
 *
 * The library finds the simulator on /dev/ttyACM<n>, keeps the link alive,
 * configures its analogue front end and computes its output on the host.
 * Everything here has C linkage. C++-only entry points (references,
 * std::string, std::vector, the two forms of LoadECGtxt, the event classes)
 * are in hsim.hpp; extensions of this project (device location, table
 * provenance) are in hsim_ext.h.
 *
 * ERROR MODEL
 *   No function throws and none aborts on bad input. Failures are results:
 *   - lifecycle functions return false;
 *   - exported setters return 0 on success, -1 when no device is open or the
 *     command window (see THREADS) did not open within 3000 ms, -2, -3, ...
 *     for the first argument check that failed, in the order documented with
 *     the function, and HSIM_ERROR_IO (hsim_types.h) when the device did not
 *     complete the exchange (a short or late answer, a refusal). A refused
 *     call stores nothing; the device is checked before anything else, so
 *     without a device every call refuses at once;
 *   - device information and storage functions return 1 or 0;
 *   - internal device commands that are exported return a Boolean success
 *     (SetRelays alone returns true on failure, false on success); like every
 *     entry point that talks to the device, they fail without a device and
 *     wait for the command window while output streams.
 *   A channel number outside 0..3 is refused before anything is sent (-2 from
 *   the HSIM setters, false from the commands). A null pointer is refused with
 *   the function's failure value.
 *   Why a call to the device failed (no device, no window, a write or read
 *   that failed or came short, a refusal) and the OS's error (errno) are kept
 *   per thread until the thread's next call to the device: HSIMGetLastStatus
 *   in hsim_ext.h.
 *
 * THREADS
 *   Every exported function may be called from any thread. The library runs a
 *   connect thread (search, keep-alive), a poll thread (answers the device's
 *   data requests while output streams) and a presence monitor thread. One
 *   recursive global lock serialises device traffic and parameter changes.
 *   Callbacks run on library threads with that lock held: they may call back
 *   into the library on the same thread but must not wait for another thread
 *   that calls the library. The connection callback is the exception: it runs
 *   on the connect thread without the lock and may call anything; HSIMFree
 *   called there stops the connection without waiting for the thread, which
 *   the next HSIMInit, HSIMConnect or HSIMFree then joins.
 *   While output streams, a thread that talks to the device waits for the
 *   "command window" that opens each time the device asks for data (every
 *   17.5 ms). Threads that call the library are served in the order they
 *   come, so one busy thread cannot keep another out; the poll thread goes
 *   first, and the lock lends its real-time priority to whoever holds it.
 *   Getters read the settings without the lock and never wait. A call made
 *   from a callback (or nested in another call) does not wait for the
 *   window: its thread holds the lock already.
 *   The signal and pacing callbacks run on the poll thread every tenth
 *   sample: a slow one delays the device's data (HSIMGetStreamHealth in
 *   hsim_ext.h shows it). Bindings and slow consumers read the signal tap of
 *   hsim_ext.h instead, from a thread of their own. Registering a callback
 *   takes the lock, so a callback, once its registration has been replaced,
 *   is no longer running.
 *   HSIMSetOutputFunction pauses 100 ms for the relays to settle, but only
 *   when the calling thread holds the lock no longer (never inside a callback
 *   or a nested call). A stop (output function 0) always stops the output on
 *   this side, also when the device no longer asks for data (it then returns
 *   -1: the device was not told).
 *
 * UNITS
 *   Voltages in millivolts, times in seconds, frequencies in hertz; ECG
 *   intervals and pulse widths in milliseconds. Built-in tables and binary ECG
 *   files hold microvolts.
 */
#ifndef HSIM_H
#define HSIM_H

#include "hsim_types.h"

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ----------------------------------------------------- runtime primitives */
/* since 1.0.5. WaitForSingleObject and WaitForMultipleObjects return 0 (or
 * the index of the signalled event) or 110 (ETIMEDOUT). */
HSIM_API int WaitForSingleObject(CEvent* event, unsigned int milliseconds);
HSIM_API int WaitForMultipleObjects(unsigned int count, CEvent** events, int waitAll,
                                    unsigned int milliseconds);
HSIM_API bool CloseHandle(long fd);
HSIM_API void SleepEx(unsigned int milliseconds);
HSIM_API bool CreateThread(unsigned long* threadId, void* (*start)(void*), void* arg);
HSIM_API void CloseThread(unsigned long threadId);

/* ------------------------------------------------------------ connection */
/* since 1.0.5 */
HSIM_API bool HSIMInit(HSIM_CONNECTION_CALLBACK callback);
HSIM_API bool HSIMConnect(int port, unsigned int timeoutMs);
HSIM_API void HSIMFree(void);
HSIM_API bool HSIMIsConnected(void);
HSIM_API long HSIMGetDeviceHandle(void);
HSIM_API void RegisterNotifyEvent(unsigned int event, HSIM_NOTIFY_CALLBACK callback);
HSIM_API void WinEventCb(unsigned int event, unsigned int param, unsigned long data);
HSIM_API void ReconnectDevice(void);
HSIM_API void NotifyListener(bool connected);
HSIM_API void ConnectedHandler(bool connected);
HSIM_API bool DoInit(HSIM_CONNECTION_CALLBACK callback);

/* ------------------------------------------------------------- utilities */
/* since 1.0.5 */
HSIM_API void StringTrimRight(char* s);
HSIM_API void StringTrimLeft(char* s);
HSIM_API void StringTrim(char* s);
HSIM_API int parseBySpace(char* s, char** tokens, int maxTokens);
HSIM_API bool PressYesNoToContinue(const char* prompt);
HSIM_API int parseDate(char* text, const char* format);
HSIM_API int parseTime(char* text, const char* format);
HSIM_API int UTF8ToUnicodeChar(const char* s, int* length);
HSIM_API void UTF8ToUnicodeBuf(const char* s, wchar_t* out);
HSIM_API int ConvertVersion(const char* text);
HSIM_API const char* GenerateTempFilePath(const char* name);
HSIM_API void StopCallback(void);
HSIM_API void con_init(void);
HSIM_API void con_clear_screen(void);
HSIM_API void con_set_cursor_position(int row, int column);
HSIM_API void con_display_string(const char* text);
HSIM_API void con_hide_cursor(void);

/* ------------------------------------------- device configuration commands */
/* since 1.0.5. Take the global lock themselves. */
HSIM_API bool SetRelays(bool starting);
HSIM_API bool SetInputImpedanceMode(int channel, int mode);
HSIM_API int GetInputImpedanceMode(int channel);
HSIM_API bool SetSignalGroundToGNDGround(int channel, bool on);
HSIM_API bool GetSignalGroundToGNDGround(int channel);
HSIM_API bool SetOutputLead(int channel, OutputLead lead);
HSIM_API bool SetDcOffset(int channel);
HSIM_API bool SetSelectedChannelEnabled(unsigned char mask, bool enable);
HSIM_API bool SetSelectedChannelLeads(unsigned char mask, OutputLead lead);
HSIM_API bool SetCalibrationMode(bool on);
HSIM_API bool SetOutputDac(int first, int second);
HSIM_API bool ResetHwStatus(void);
HSIM_API bool SetApnea(bool apnea);
HSIM_API bool SetRespiration(int variation, int frequency, int ratio, int baseline,
                             int apneaTime);
HSIM_API bool EnableRespiration(bool on);
HSIM_API int HSIMSetCalibrationMode(bool on);
HSIM_API int HSIMSetOutputDac(int first, int second);

/* ---------------------------------------------------- streaming and blocks */
/* since 1.0.5
 * Block output: one period of an output function (at most 2000 samples for
 * 0.025 Hz and above) is rendered from where the output clock stands and
 * uploaded; the device then plays it by itself, without streaming. While
 * output streams, an upload or save first stops the streamed output (as
 * HSIMSetOutputFunction(0) would): the device's output is replaced anyway,
 * and the upload's exchanges would keep the device waiting for its data.
 *
 * HSIMOutputSignal: 0 when the device plays the period; 0 for function 0 or
 *   above 8, which only switch block output off (silently without a device);
 *   -1 no device or no command window; -2 a negative function;
 *   HSIM_ERROR_IO when the upload or the switch-on failed (a corrupt chunk
 *   echo ends the upload at that chunk).
 * HSIMSaveToStandaloneMode: uploads the function's period, switches block
 *   output off and saves it into ROM slot 1, which the device plays after
 *   power-up without a host. Block output plays the codes 1 to 8 only
 *   (sine, triangle, square, rectangular and triangular pulse, exponential
 *   decay, standard and custom ECG beat): any other code is refused with -2
 *   before anything is sent. 1 when the device confirmed the save (polled
 *   up to 80 times, 200 ms apart, with the global lock held); 0 otherwise,
 *   no device and no command window included. The output function is 0
 *   after a successful upload.
 * Once an upload has begun (block output, a save, WriteWaveformRawData), the
 *   device plays the uploaded period by itself: a later setter stores its
 *   value and starts no stream, also after a failed upload or a reconnection;
 *   only HSIMSetOutputFunction starts streaming again.
 * HSIMSaveDefaultWaveform: resets the parameters, 1 Hz, 2 mV, leads and
 *   impedances 0, then saves the standard ECG beat as above; its result.
 * WriteWaveformRawData: sends length bytes (4 per sample: DC word, AC word,
 *   big-endian) in 64-byte chunks of 14 samples; a last partial chunk is
 *   zero-filled past length, which is never read beyond. true when every
 *   chunk was echoed as sent. */
HSIM_API int SendStopPacket(void);
HSIM_API int HSIMOutputSignal(int outputFunction);
HSIM_API int HSIMSaveToStandaloneMode(int outputFunction);
HSIM_API int HSIMSaveDefaultWaveform(void);
HSIM_API bool WriteWaveformRawData(unsigned char* data, unsigned int length);

/* ------------------------------------------ device information and storage */
/* since 1.0.5 */
HSIM_API int HSIMSetHWInformation(int value1, int value2);
HSIM_API int HSIMSetDeviceInformation(MODEL_INFORMATION* info);
HSIM_API int HSIMGetDeviceInformation(MODEL_INFORMATION* info);
/* Static buffer, overwritten by every call. */
HSIM_API const char* HSIMGetSerialNumber(void);
/* Copies five 32-bit words. */
HSIM_API int HSIMGetHWInformation(void* words);
HSIM_API int HSIMGetVersion(void);
HSIM_API int HSIMReadMfgInfo(unsigned char* buffer, int length);
HSIM_API int HSIMWriteMfgInfo(unsigned char* buffer, int length);
HSIM_API int HSIMWriteDCCalibrationData(int channel, unsigned short value);
HSIM_API int HSIMSetDCOffsetCalibrationData(int channel, int value);
HSIM_API int HSIMSetFixedDCByDAC(int value);
HSIM_API int HSIMUpdateFwLoadFirmwareFile(void* a, void* b, void* c, void* d);
HSIM_API void HSIMUpdateFwBurnBinFile(void* file);
HSIM_API void SetDefaultECGDCVariableCalibrationData(void);
HSIM_API extern unsigned short g_ECGDCVariableCalibrationData[8];

/* ------------------------------------------------- respiration modulation */
/* since 1.0.5 */
HSIM_API int SetRespireAlgorithmParam(int breathsPerMinute, int ratio, int apneaSeconds,
                                      int baselinePercent, int amplitudePercent,
                                      int frequencyPercent);

/* ------------------------------------------------------ standard patterns */
/* since 1.0.5. Returned arrays belong to the library unless stated. */
HSIM_API int SetSpecialWave227(int index);
HSIM_API int SetSpecialWave251(int index);
HSIM_API int SetSpecialWave247(int index);
HSIM_API int GetSpecialWave227(void);
HSIM_API int GetSpecialWave251(void);
HSIM_API int GetSpecialWave247(void);
HSIM_API int SetANE20000Lead(int lead);
HSIM_API int GetANE20000Lead(void);
HSIM_API void SetStandardWaveformLoop(bool loop);
HSIM_API void HSIMEnableLoop(bool loop);
HSIM_API const int* GetSpecialWave227Array(int index, int* length, int* rate);
HSIM_API const int* GetSpecialWave251Array(int index, int* length, int* rate);
HSIM_API const double* GetSpecialWave247Array(int index, int* length, int* rate);
HSIM_API const double* getECG227Array(void);
/* A new array owned by the caller, released with free(); null on failure. */
HSIM_API double* getArray(IEC247_PATTERN pattern);
HSIM_API const double* getIEC47RawArray(IEC247_PATTERN pattern);
HSIM_API const double* getRRavgArray(void);
HSIM_API const double* getRRdevArray(void);
HSIM_API const double* getHRVfreqArray(void);
HSIM_API void init(void);
HSIM_API int DumpStandardWaveform(const int* samples, int count, int rate, const char* title,
                                  const wchar_t* path);

/* ------------------------------------------- output function and parameters */
/* since 1.0.5 */
/* A nonzero code starts streaming (or changes what streams), 0 stops it.
 * 0 done; -1 no device or no command window; HSIM_ERROR_IO when a control
 * block write failed, the one that switches the relays on for a start
 * included (nothing streams then). */
HSIM_API int HSIMSetOutputFunction(int outputFunction);
HSIM_API int HSIMGetOutputFunction(void);
/* 0; -1 no device or no command window; -2 a channel outside 0..3, and also
 * when the device did not complete the lead command (the one setter that
 * reports its device failure as -2, not HSIM_ERROR_IO). */
HSIM_API int HSIMSetOutputLead(int channel, OutputLead lead);
/* since 1.0.5. Waveform setters: 0, -1 (no device or no command window),
 * -2 when the value is outside the inclusive range given (NaN and infinities
 * are outside every range). A refused call stores nothing. Waveform changes
 * apply at the next cycle boundary while output streams; the beat's QRS, P,
 * PR, QT, T wave and ST deviation apply from the next sample. */
/* -10..10 mV; -3 while the baseline-reset test runs. What it means depends
 * on the output function:
 *   sine, triangle, square, biphasic (13): peak to peak, so 1.0 plays
 *     -0.5..+0.5 mV;
 *   the pulses (4, 5) and the exponential (6): the height from 0 mV, so 1.0
 *     plays pulses from 0 up to 1 mV;
 *   ECG beats (7, 8): the QRS from the S trough to the R peak (R at 0.875,
 *     S at -0.125 of it), played at most +-5 mV (a larger value plays 5 mV);
 *     With the dynamic-range test on (HSIMSetDynamicRangeTest) the triangle's
 *     or square's peak to peak is lowered so that it and the test's sine fit
 *     within +-5 mV, and HSIMGetAmplitude reads the lowered value;
 *   standard patterns, files and the input dynamic-range staircase (9, 10,
 *     14..18): not used, they play their own values. */
HSIM_API int HSIMSetAmplitude(double mv);
HSIM_API double HSIMGetAmplitude(void);
/* 0.017..500 Hz, at most 5 Hz for the pulse functions 4 and 5 (-2); -3 while
 * a frequency scan runs; -4 while the baseline-reset test runs. ECG
 * functions read it as beats per second and play at most 6 (360 per minute):
 * when they start or apply a change, a higher value is lowered to 6, which
 * HSIMGetFrequency then reads and the frequency callback is told; the
 * exponential (6) is lowered to 5 Hz in the same way. The biphasic pulse
 * (13) plays at 1 Hz; the standard patterns and files play at
 * their own rate. */
HSIM_API int HSIMSetFrequency(double hz);
HSIM_API double HSIMGetFrequency(void);
HSIM_API int HSIMSetDCOffset(int channel, int mv);
HSIM_API int HSIMGetDCOffset(void);
HSIM_API int HSIMSetDCOffsetVariableMode(int channel, bool variable);
HSIM_API bool HSIMGetDCOffsetVariableMode(void);
HSIM_API int SetDCOffsetCommonMode(bool common);
HSIM_API bool GetDCOffsetCommonMode(void);
/* 1..300 ms. */
HSIM_API int HSIMSetPulseWidth(double ms);
HSIM_API double HSIMGetPulseWidth(void);
HSIM_API int HSIMSetInputImpedanceMode(int channel, int mode);
HSIM_API int HSIMGetInputImpedanceMode(int channel);
HSIM_API int HSIMSetSignalGroundToGNDGround(int channel, bool on);
HSIM_API int HSIMGetSignalGroundToGNDGround(int channel);
/* Pacing: mode any value; amplitude -700..700 mV (0 = off; any other value
 * puts every channel in variable-DC mode, which stays even if a channel's
 * write fails); width 0.1..3 ms; rate 10..360 per minute, which ends the
 * synchronisation; HSIMSetPacingRateSynchronized: one pulse per beat, -2
 * when the beat rate is outside 10..360 per minute; overshoot time constant
 * 0..100 ms; overshoot amplitude |mv| <= 5, stored as its magnitude. */
HSIM_API int HSIMSetPacingPulseMode(int mode);
HSIM_API int HSIMGetPacingPulseMode(void);
HSIM_API int HSIMSetPacingAmplitude(double mv);
HSIM_API double HSIMGetPacingAmplitude(void);
HSIM_API int HSIMSetPacingDuration(double ms);
HSIM_API double HSIMGetPacingDuration(void);
HSIM_API int HSIMSetPacingRate(unsigned int perMinute);
HSIM_API int HSIMGetPacingRate(void);
HSIM_API int HSIMSetPacingRateSynchronized(void);
HSIM_API int HSIMSetOvershootTimeConstant(unsigned int ms);
HSIM_API int HSIMGetOvershootTimeConstant(void);
HSIM_API int HSIMSetOvershootAmplitude(double mv);
HSIM_API double HSIMGetOvershootAmplitude(void);
/* Custom beat: QRS 5..200 ms, T wave 0..5 mV, P width 50..100 ms, PR
 * 0..200 ms (a PR below 50 ms narrows the P wave to it; a longer PR widens a
 * P wave narrower than 50 ms to 50 ms), QT 100..900 ms, P wave 0..2 mV, ST
 * deviation -2..2 mV, ST and T weights 100..900 ms. */
HSIM_API int HSIMSetQRSDuration(double ms);
HSIM_API double HSIMGetQRSDuration(void);
HSIM_API int HSIMSetTWave(double mv);
HSIM_API double HSIMGetTWave(void);
HSIM_API int HSIMSetPDuration(double ms);
HSIM_API double HSIMGetPDuration(void);
HSIM_API int HSIMSetPRInterval(double ms);
HSIM_API double HSIMGetPRInterval(void);
HSIM_API int HSIMSetQTInterval(double ms);
HSIM_API double HSIMGetQTInterval(void);
HSIM_API int HSIMSetPWave(double mv);
HSIM_API double HSIMGetPWave(void);
HSIM_API int HSIMSetSTDeviation(double mv);
HSIM_API double HSIMGetSTDeviation(void);
HSIM_API int HSIMSetSTSegment(double ms);
HSIM_API double HSIMGetSTSegment(void);
HSIM_API int HSIMSetTDuration(double ms);
HSIM_API double HSIMGetTDuration(void);
/* Amplitude 0..10 mV (-2), frequency 1..60 Hz (-3). Selects the triangle
 * (2) or square (3); switching off selects 0 and so stops the output. */
HSIM_API int HSIMSetDynamicRangeTest(bool enable, bool triangle, double amplitudeMv,
                                     double frequencyHz);
HSIM_API bool HSIMGetDynamicRangeTest(void);
/* Sine scan from startHz to stopHz in `seconds`: start 0.67..500 Hz (-2),
 * stop 0.67..500 Hz (-3), 10..180 s (-4); all checked before anything
 * changes. A stop below the start scans downward. On: the sine is selected
 * and the output-function callback told 1. Off: stops the output (callback
 * told 0), starts nothing. */
HSIM_API int HSIMSetFrequencyScan(bool enable, int seconds, double startHz, double stopHz);
HSIM_API bool HSIMGetFrequencyScan(void);
HSIM_API int SetAllOutputState(unsigned int state);
/* Output streams. */
HSIM_API bool HSIMIsPlaying(void);
/* A null callback unregisters. Callbacks run with the global lock held. */
HSIM_API void HSIMRegisterSignalOutputCallback(HSIM_GRAPH_CALLBACK callback);
HSIM_API void HSIMRegisterPacingOutputCallback(HSIM_GRAPH_CALLBACK callback);
HSIM_API void HSIMRegisterOutputFunctionCallback(HSIM_FUNCTION_CALLBACK callback);
HSIM_API void HSIMRegisterFrequencyCallback(HSIM_FREQUENCY_CALLBACK callback);
/* Puts the waveform, pacing, beat, noise, drift, dynamic-range and scan
 * settings, the DC offset (0 mV, variable mode off, common mode off), the
 * input impedance (mode 0) and the pattern loop back to their defaults,
 * stopping the output. Keeps leads, signal ground, the ST and T weights, the
 * overshoot amplitude, the pattern selections, the baseline-reset level,
 * respiration, loaded data and callbacks. Needs a device. */
HSIM_API void HSIMReset(void);

/* ------------------------------------------------------------- test modes */
/* since 1.0.5. Setters return 0, or -1 without a device; they do not wait
 * for the command window, except SetFreqScanECG and
 * EnableExternalRespireModule. Getters work without a device.
 * SetBaselineResetTest: level 1..4 plays a 1000 mV sine of 50, 60, 80 or
 * 100 Hz on the DC channel at once (the amplitude and frequency in force are
 * saved, and their setters refuse until the level is 0 again, which restores
 * them); the baseline-reset callback hears every change of level.
 * SetECG2_27_Noise: mode 1 = 50 Hz, 3 = random, other non-zero = 60 Hz;
 * 0.01..5 mV peak to peak (-2). Drift: 1..8 mV peak to peak (-2), 0.05..2 Hz
 * (-2); the drift is a triangle. SetFreqScanECG: the standard beat from 0.05
 * to 0.5 beats per second in 30 s (output-function callback told 7); false
 * stops the output (told 0). GetFreqScanECG: either scan runs.
 * EnableExternalRespireModule returns 1 without a device or command window.
 * The DC-offset callback reports the staircase of function 15 in mV. */
HSIM_API int SetBaselineResetTest(int level);
HSIM_API int GetBaselineResetTest(void);
HSIM_API int SetECG2_27_Noise(int mode, double mv);
HSIM_API int GetECG2_27_NoiseFreq(void);
HSIM_API double GetECG2_27_NoiseAmp(void);
HSIM_API int SetECG2_27_AAMIDriftTest(bool on);
HSIM_API bool GetECG2_27_AAMIDriftTest(void);
HSIM_API int SetECG2_27_AAMIDriftTestAmp(double mv);
HSIM_API double GetECG2_27_AAMIDriftTestAmp(void);
HSIM_API int SetECG2_27_AAMIDriftTestFreq(double hz);
HSIM_API double GetECG2_27_AAMIDriftTestFreq(void);
HSIM_API double GetDynamicRangeTestAmp(void);
HSIM_API double GetDynamicRangeTestFreq(void);
HSIM_API double GetFreqScanSineStartFreq(void);
HSIM_API double GetFreqScanSineStopFreq(void);
HSIM_API int GetFreqScanSineDuration(void);
HSIM_API int SetFreqScanECG(bool enable);
HSIM_API bool GetFreqScanECG(void);
HSIM_API int EnableExternalRespireModule(bool on);
HSIM_API void RegisterBaselineResetCB(HSIM_LEVEL_CALLBACK callback);
HSIM_API void RegisterSyncDCOffsetCB(HSIM_LEVEL_CALLBACK callback);

/* ----------------------------------------------- ECG files and raw data */
/* since 1.0.5. The two forms of LoadECGtxt are in hsim.hpp.
 * Loaded data are what output functions 14 (ECG file) and 18 (ECG file with
 * a DC channel) play, looping unless HSIMEnableLoop(false). One set at a
 * time; a load reads and checks everything first and then swaps the set in,
 * so loading while output streams never holds up the stream. A load refused
 * by its header checks keeps the loaded set; one that fails later (no
 * memory, a row without the channel) leaves nothing loaded. File loaders load
 * no DC channel (18 then plays 0 mV on it). An empty set plays 0 V when
 * looping and ends the output at once when not. Sample values are clamped
 * (files +-2.5 mV, raw data +-5 mV and +-1000 mV); NaN becomes 0. Wide paths
 * are encoded as UTF-8; a path that cannot be encoded or is longer than 511
 * bytes is refused with the "not opened" code. Text lines may be of any
 * length; numbers are read as atof of the C locale reads them.
 *
 * HSIMLoadRawData: the count loaded; -1 null record or array, negative count,
 *   no memory; -2 rate not within 100..40000 (nothing installed). Raw data
 *   with a non-zero DC sample drive the DC channel (variable DC); all-zero DC
 *   data switch the variable-DC mode off.
 * LoadECGBin: the count loaded (fewer when the file ends early); -1 not
 *   opened; -2 rate missing or outside 30..5000; -3 count missing or outside
 *   1..20000000; -4 no memory.
 * CheckECGTxtChannel: the channel count of a text file's header; -1 not
 *   opened; -2 rate line missing or 0; -3 count line missing or not positive;
 *   -4 channel line missing or not positive; -5 names line missing. names:
 *   null, or room for one pointer per channel; each name found gets a
 *   128-byte buffer allocated with malloc that the caller frees (names are
 *   split at ",", cut to 127 characters; the last keeps its newline).
 * DumpRawData, OutputRaw: 0; -3 null or refused argument or file not opened;
 *   -6 a write failed. Values as "%.3f" whatever the locale; OutputRaw writes
 *   the one-channel header (rate, count, 1, title) that LoadECGtxt(path, 0)
 *   reads back.
 * EnableRecordRaw: true when recording starts; false when it is already on
 *   (the first buffers stay). Every streamed sample is stored until length
 *   samples are: the AC channel in DAC counts (6400 per mV divided by the
 *   respiration attenuation, before truncation), the DC channel in mV. The
 *   buffers must stay alive until DisableRecordRaw. */
HSIM_API int HSIMLoadRawData(RAW_DATA_INFORMATION* data);
HSIM_API int LoadECGBin(const wchar_t* path);
HSIM_API int CheckECGTxtChannel(const wchar_t* path, char** names);
HSIM_API int DumpRawData(const double* samples, int count, const wchar_t* path);
HSIM_API int OutputRaw(int rate, int count, const double* samples, const char* title,
                       const wchar_t* path);
HSIM_API bool EnableRecordRaw(double* acBuffer, double* dcBuffer, int length);
HSIM_API void DisableRecordRaw(void);

#ifdef __cplusplus
}
#endif

#endif /* HSIM_H */
