// Exported test modes for ECG monitor testing: the baseline-reset overload,
// mains noise and baseline drift on the ECG, the slow heart-rate scan of the
// standard beat, the external respiration module; and read-back of the
// dynamic-range and sine-scan settings.
//
// The setters hold the lock for their whole call and need a device (-1
// without one) but, unless stated, do not wait for the command window: they
// store settings and request a change, which the engine applies.
#include "api/ParameterTable.h"
#include "api/Setter.h"
#include "hsim.h"
#include "output/ChangeScheduler.h"
#include "output/Output.h"
#include "output/TestModes.h"

using namespace hsim;

namespace {

TestModes& Tests()
{
    return CurrentEngine().synth.test;
}

}  // namespace

// Level 1..4 plays a 1000 mV sine overload of 50, 60, 80 or 100 Hz on the DC
// channel at once; 0 gives back the amplitude and frequency of before. Any
// level is stored (one without an overload frequency keeps the frequency).
extern "C" int SetBaselineResetTest(int level)
{
    return FramedSetter<DeviceLock>([] { return 0; }, [&] { SetBaselineResetLevel(level); });
}

extern "C" int GetBaselineResetTest(void)
{
    return static_cast<int>(GetParameter(Parameter::BaselineReset));
}

// Mode 1 = 50 Hz, 3 = random, any other non-zero mode 60 Hz; amplitude
// 0.01..5 mV peak to peak (else -2).
extern "C" int SetECG2_27_Noise(int mode, double mv)
{
    return FramedSetter<DeviceLock>([&] { return Accepts(Parameter::NoiseAmplitude, mv) ? 0 : -2; },
                                    [&] {
                                        Tests().MainNoise = mode;
                                        Tests().MainsNoiseAmp = mv;
                                        _ChangeRequested();
                                    });
}

extern "C" int GetECG2_27_NoiseFreq(void)
{
    return static_cast<int>(GetParameter(Parameter::Noise));
}

extern "C" double GetECG2_27_NoiseAmp(void)
{
    return GetParameter(Parameter::NoiseAmplitude);
}

extern "C" int SetECG2_27_AAMIDriftTest(bool on)
{
    return SetParameter(Parameter::Drift, on);
}

extern "C" bool GetECG2_27_AAMIDriftTest(void)
{
    return GetParameter(Parameter::Drift) != 0.0;
}

extern "C" int SetECG2_27_AAMIDriftTestAmp(double mv)
{
    return SetParameter(Parameter::DriftAmplitude, mv);
}

extern "C" double GetECG2_27_AAMIDriftTestAmp(void)
{
    return GetParameter(Parameter::DriftAmplitude);
}

extern "C" int SetECG2_27_AAMIDriftTestFreq(double hz)
{
    return SetParameter(Parameter::DriftFrequency, hz);
}

extern "C" double GetECG2_27_AAMIDriftTestFreq(void)
{
    return GetParameter(Parameter::DriftFrequency);
}

extern "C" double GetDynamicRangeTestAmp(void)
{
    return GetParameter(Parameter::DynamicRangeAmplitude);
}

extern "C" double GetDynamicRangeTestFreq(void)
{
    return GetParameter(Parameter::DynamicRangeFrequency);
}

extern "C" double GetFreqScanSineStartFreq(void)
{
    return GetParameter(Parameter::ScanStart);
}

extern "C" double GetFreqScanSineStopFreq(void)
{
    return GetParameter(Parameter::ScanStop);
}

extern "C" int GetFreqScanSineDuration(void)
{
    return static_cast<int>(GetParameter(Parameter::ScanDuration));
}

// The standard beat from 3 to 30 beats per minute in 30 s; false stops the
// output. Waits for the command window like the device setters, because the
// stop writes the control block.
extern "C" int SetFreqScanECG(bool enable)
{
    return FramedSetter([] { return 0; },
                        [&] {
                            if (enable)
                                StartFrequencyScan(ScanKind::Ecg);
                            else
                                EndFrequencyScan();
                        });
}

// True while either frequency scan runs.
extern "C" bool GetFreqScanECG(void)
{
    return CurrentSettings().scan.FreqScanOn;
}

// The selection is kept for the application; the control block has no field
// for it, so the write only refreshes relays and sample rate. 0, or 1 when
// there is no device or no command window.
extern "C" int EnableExternalRespireModule(bool on)
{
    DeviceFrame frame;
    if (!frame.open())
        return 1;
    Tests().ExternalRespireModule = on;
    hsim::SetRelays(true);
    return 0;
}

extern "C" void RegisterBaselineResetCB(HSIM_LEVEL_CALLBACK callback)
{
    LockedWrite(CurrentEngine().callbacks.BaselineResetCB, callback);
}

extern "C" void RegisterSyncDCOffsetCB(HSIM_LEVEL_CALLBACK callback)
{
    LockedWrite(CurrentEngine().callbacks.SyncDCOffsetCB, callback);
}
