// Exported block output and standalone mode: one period of an output function
// uploaded for the device to play by itself, or saved into its ROM.
//
// While output streams, an upload first stops the streamed output (in the
// command window, as a stop made by HSIMSetOutputFunction(0)): the device's
// output is being replaced anyway, and an upload of up to 4200 chunk
// exchanges, or a ROM save polled for up to 16 s, would otherwise keep the
// device waiting for its data far beyond the time one transfer lasts.
#include "api/Frame.h"
#include "hsim.hpp"
#include "output/BlockOutput.h"
#include "output/Engine.h"
#include "synth/FunctionGenerator.h"

#include <memory>
#include <new>
#include <vector>

using namespace hsim;

namespace {

int UploadResult(Status status)
{
    return status == Status::Ok ? 0 : HSIM_ERROR_IO;
}

// Block output plays the functions from the sine to the custom beat.
bool IsBlockFunction(int outputFunction)
{
    return outputFunction >= OUTPUT_SINE && outputFunction <= OUTPUT_ECG_CUSTOM;
}

}  // namespace

extern "C" int HSIMOutputSignal(int outputFunction)
{
    if (outputFunction < 0)
        return kSetterBadArgument;
    DeviceFrame frame;
    if (!IsBlockFunction(outputFunction)) {
        // Block output off; without a device there is nobody to tell.
        if (frame.open())
            StopOutput();
        return 0;
    }
    if (!frame.open())
        return kSetterRefused;
    Engine& e = CurrentEngine();
    Status status = StopStreamingForUpload();
    if (status == Status::Ok) {
        // From here on the device's output is the uploaded period, even if
        // the upload fails half way: no change of a setting starts a stream
        // over it, only a new selection of the output function does.
        e.blockOutput = true;
        e.synth.out.MainOutput = outputFunction;
        e.synth.work.fVoltageRange = 5.0;
        status = UploadPeriod(e);
    }
    if (status == Status::Ok)
        status = OutputSignal(e.synth.out.F);
    return UploadResult(status);
}

// A code that block output cannot play is refused (-2) before anything is
// sent; otherwise 1 when the device confirmed the save, 0 when it did not.
extern "C" int HSIMSaveToStandaloneMode(int outputFunction)
{
    if (!IsBlockFunction(outputFunction))
        return kSetterBadArgument;
    DeviceFrame frame;
    if (!frame.open() || StopStreamingForUpload() != Status::Ok)
        return 0;
    Engine& e = CurrentEngine();
    e.blockOutput = true;
    e.synth.out.MainOutput = outputFunction;
    if (UploadPeriod(e) != Status::Ok)
        return 0;
    e.synth.out.MainOutput = OUTPUT_OFF;
    unsigned char setting[64];
    if (GetDeviceControlSetting(e.synth.out.F, setting, 0) != Status::Ok || WriteControlSetting(setting) != Status::Ok)
        return 0;
    return WriteToROM(kStandaloneSlot) == Status::Ok ? 1 : 0;
}

extern "C" int HSIMSaveDefaultWaveform(void)
{
    HSIMReset();
    HSIMSetFrequency(1.0);
    HSIMSetAmplitude(2.0);
    for (int channel = 0; channel < 4; ++channel) {
        HSIMSetOutputLead(channel, static_cast<OutputLead>(0));
        HSIMSetInputImpedanceMode(channel, 0);
    }
    return HSIMSaveToStandaloneMode(OUTPUT_ECG_STANDARD);
}

extern "C" bool WriteWaveformRawData(unsigned char* data, unsigned int length)
{
    DeviceFrame frame;
    if (!frame.open() || StopStreamingForUpload() != Status::Ok)
        return false;
    CurrentEngine().blockOutput = true;
    return WriteWaveformRawData(data, length, nullptr) == Status::Ok;
}

// On the live engine, as an upload renders, advancing its clock; while output
// streams on a copy, so the streamed output neither jumps nor changes.
extern "C" bool GenWaveform(int* n, double** ac, double** dc)
{
    if (n == nullptr || ac == nullptr || dc == nullptr)
        return false;
    std::vector<double> a, d;
    std::unique_ptr<double[]> acOut, dcOut;
    try {
        ContextGuard lock(hsim::ContextLock());
        if (IsStreaming()) {
            SynthState copy = CurrentEngine().synth;
            copy.hooks = Hooks{};
            GenWaveform(copy, CurrentEngine().stream.nDcDACValue, a, d);
        } else {
            GenWaveform(CurrentEngine().synth, CurrentEngine().stream.nDcDACValue, a, d);
        }
        acOut.reset(new double[a.size()]);
        dcOut.reset(new double[d.size()]);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::copy(a.begin(), a.end(), acOut.get());
    std::copy(d.begin(), d.end(), dcOut.get());
    *n = static_cast<int>(a.size());
    *ac = acOut.release();
    *dc = dcOut.release();
    return true;
}
