#include "output/BlockOutput.h"

#include "output/ChangeScheduler.h"
#include "output/Output.h"
#include "protocol/SampleWords.h"
#include "protocol/StreamPackets.h"
#include "synth/EcgBeat.h"
#include "synth/FunctionGenerator.h"
#include "synth/Pacing.h"
#include "synth/WorkingValues.h"

namespace hsim {

void GenWaveform(SynthState& s, int fixedDcWord, std::vector<double>& ac, std::vector<double>& dc)
{
    const int n = GetPixelNumberByFrequency(s.out.F);
    const int rate = GetSampleRateByFrequency(s.out.F);
    _DeriveAmplitude(s);
    s.clock.fTimePeriod = 1.0 / s.out.F;
    _DerivePulseWidth(s);
    _CheckECGTime(s);
    const double dt = static_cast<double>(static_cast<Quad>(1) / static_cast<Quad>(rate));
    const double d = fixedDcWord >= 0 ? static_cast<double>(fixedDcWord & 0xFFFF)
                                      : static_cast<double>(ECG_DC_VoltageToDAC(s.dc.DCSetting));
    ac.assign(static_cast<size_t>(n), 0.0);
    dc.assign(static_cast<size_t>(n), d);
    for (int i = 0; i < n; ++i) {
        ac[static_cast<size_t>(i)] =
            _GetMainFunctionVoltage(s, _FoldTime(s.clock.fOutputTime - s.clock.fCycleStart, s.clock.fTimePeriod));
        s.clock.fOutputTime += dt;
    }
}

WaveformInfo WaveformInfoOf(const SynthState& s)
{
    WaveformInfo info;
    info.frequency = s.out.F;
    info.function = s.out.MainOutput;
    info.pulseWidthMs = s.out.PulseWidth;
    info.noiseCode = s.test.MainNoise;
    info.noiseAmplitude = s.test.MainsNoiseAmp;
    info.pacingAmplitude = s.pacing.PA;
    info.pacingDurationMs = s.pacing.PacingDuration;
    info.pacingRate = s.pacing.PacingRate;
    return info;
}

std::vector<unsigned char> RenderUploadBytes(Engine& e)
{
    SynthState& s = e.synth;
    std::vector<double> ac, dc;
    GenWaveform(s, e.stream.nDcDACValue, ac, dc);
    const size_t n = ac.size();
    const size_t size = (4 * n + kChunkBytes - 1) / kChunkBytes * kChunkBytes;
    std::vector<unsigned char> bytes(size, 0);
    const double countsPerMv = AcCountsPerMv();
    for (size_t i = 0; i < n; ++i) {
        // The pacing generator's clock is not advanced here: every call sees
        // the clock where the rendering left it.
        double pace = 0.0;
        const double dcMv = s.dc.bVariableDC ? static_cast<double>(s.dc.DCSetting) : _GetPacingV5(s, pace);
        PutBe16(&bytes[4 * i], ECG_DC_VoltageToDAC(dcMv));
        PutBe16(&bytes[4 * i + 2], static_cast<uint16_t>(AcWord(ScaleAcCounts(ac[i], countsPerMv))));
    }
    return bytes;
}

Status UploadPeriod(Engine& e, int* chunksDone)
{
    if (chunksDone != nullptr)
        *chunksDone = 0;
    Status status = WriteWaveformInfo(WaveformInfoOf(e.synth));
    if (status == Status::Ok) {
        const std::vector<unsigned char> bytes = RenderUploadBytes(e);
        status = WriteWaveformRawData(bytes.data(), static_cast<unsigned int>(bytes.size()), chunksDone);
    }
    return status;
}

Status StopStreamingForUpload()
{
    return IsStreaming() || CurrentEngine().stream.playOut ? SelectOutputFunction(OUTPUT_OFF) : Status::Ok;
}

}  // namespace hsim
