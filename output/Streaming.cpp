// The streaming loop: each data request of the device is answered with the
// next 700 samples, computed here sample by sample. Around each sample the
// output clock advances, the application's graph callbacks see every tenth
// sample, a running frequency scan moves on, the recording takes the sample
// and the change scheduler may apply a pending change at the cycle boundary.
#include "output/Transfer.h"

#include "output/ChangeScheduler.h"
#include "output/Output.h"
#include "protocol/StreamHealth.h"
#include "protocol/Commands.h"
#include "protocol/SampleWords.h"
#include "synth/FunctionGenerator.h"
#include "synth/Pacing.h"

#include <cstring>

namespace hsim {

namespace {

constexpr int kSine = 1;
constexpr int kFile = 14;
constexpr int kFileWithDc = 18;

// The DC channel of a loaded file with a second channel; 0 mV without one,
// and outside the data.
double FileDcVoltage(const SynthState& s, double t)
{
    double dc = 0.0;
    const int32_t j = _Trunc32(s.file.ECGFileFreq * t);
    if (s.file.DcRawData != nullptr && j >= 0 && j < s.file.ECGFileSize)
        dc = s.file.DcRawData[j] / (s.file.ECGFileUnitMV ? 1.0 : 1000.0);
    return dc;
}

// The graph callbacks for the sample at the decimation point: the signal,
// and a pending pacing pulse drawn as a rectangle of the pulse's width.
void ReportToGraph(Engine& e, double v)
{
    const EngineCallbacks& cb = e.callbacks;
    const double time = e.synth.clock.fOutputTimeGraph;
    cb.GraphCB(time, v);
    if (cb.PacingGraphCB != nullptr && e.synth.pulse.PacingIndicationNeeded) {
        const double d = e.synth.pacing.PacingDuration / 1000.0;
        const double pa = e.synth.pacing.PA;
        cb.PacingGraphCB(time, 0.0);
        cb.PacingGraphCB(time, pa);
        cb.PacingGraphCB(time + d, pa);
        cb.PacingGraphCB(time + d, 0.0);
        e.synth.pulse.PacingIndicationNeeded = false;
    }
}

void Record(RecordingState& r, double w, double dc)
{
    if (r.EnableRecord && r.RecordIndex < r.RecordLength && r.AcBuffer != nullptr && r.DcBuffer != nullptr) {
        r.AcBuffer[r.RecordIndex] = w;
        r.DcBuffer[r.RecordIndex] = dc;
        ++r.RecordIndex;
    }
}

}  // namespace

// Without samples (nothing loaded, or an empty set) a file that does not
// loop has ended before it began; one that loops plays 0 V.
bool IsEndOfFile(const SynthState& s)
{
    const LoadedData& f = s.file;
    const bool empty = f.ECGFile == nullptr || f.ECGFileSize <= 0 || !(f.ECGFileFreq > 0.0);
    return (s.out.MainOutput == kFile || s.out.MainOutput == kFileWithDc) && !s.pattern.loopFile &&
           (empty || s.clock.fOutputTime > s.clock.fTimePeriod);
}

void ComputeTransfer(Engine& e, unsigned char* buffer, double acScale, TransferUse use, const SampleOutput& out)
{
    SynthState& s = e.synth;
    StreamState& stream = e.stream;
    const bool live = use == TransferUse::Live;
    memset(buffer, 0, kTransferBytes);
    if (s.clock.fOutputTime == 0.0)
        stream.uiCounter = 0;
    // The clock step, divided in quadruple precision and rounded once.
    const double dt = static_cast<double>(static_cast<Quad>(1) / static_cast<Quad>(s.out.nSampleRate));
    int n = 0;
    for (int p = 0; p < kTransferPackets; ++p) {
        unsigned char* packet = buffer + p * kPacketBytes;
        PutPacketHeader(packet, stream.nSequenceCheck);
        ++stream.nSequenceCheck;
        for (int i = 0; i < kSamplesPerPacket; ++i, ++n) {
            const double t = _FoldTime(s.clock.fOutputTime, s.clock.fTimePeriod);
            double pace = 0.0;
            const bool ended = IsEndOfFile(s);
            double v = ended ? 0.0 : _GetMainFunctionVoltage(s, t);
            double dc;
            if (s.out.MainOutput == kFileWithDc)
                dc = ended ? 0.0 : FileDcVoltage(s, t);
            else
                dc = _GetPacingV5(s, pace);
            const bool overload = s.test.BaseLineOverload != 0 && s.out.MainOutput == kSine;
            if (!overload)
                v = v + pace;
            if (live && stream.uiCounter == 0 && e.callbacks.GraphCB != nullptr)
                ReportToGraph(e, v);
            if (static_cast<int>(stream.uiCounter) < stream.freqDivider - 1)
                ++stream.uiCounter;
            else
                stream.uiCounter = 0;
            // The baseline-reset overload plays the sine on the DC channel.
            if (overload) {
                dc = v;
                v = 0.0;
            }
            const uint16_t dcWord = stream.nDcDACValue >= 0 ? static_cast<uint16_t>(stream.nDcDACValue & 0xFFFF)
                                                            : ECG_DC_VoltageToDAC(dc);
            const double w = ScaleAcCounts(v, acScale);
            const int16_t acWord = AcWord(w);
            PutSample(packet, i, dcWord, acWord);
            if (out.acMv != nullptr) out.acMv[n] = v;
            if (out.dcMv != nullptr) out.dcMv[n] = dc;
            if (out.acWords != nullptr) out.acWords[n] = acWord;
            if (out.dcWords != nullptr) out.dcWords[n] = dcWord;

            s.clock.fOutputTime += dt;
            s.clock.fOutputTimeGraph += dt;
            if (s.scan.FreqScanOn) {
                // The scan keeps the phase: the clock is rescaled to the
                // same fraction of the new period.
                const double q = s.clock.fOutputTime / s.clock.fTimePeriod;
                const double f = q - _Trunc32(q);
                s.out.F += s.scan.Fd;
                s.clock.fTimePeriod = 1.0 / s.out.F;
                s.clock.fOutputTime = s.clock.fTimePeriod * f;
            }
            if (live) {
                Record(e.record, w, dc);
                _CheckIfChangeRequired(t);
            }
        }
    }
}

void EnableApneaByTime(int seconds)
{
    RespirationHardware& r = g_Respiration;
    const bool wanted = (seconds % 60) > (60 - r.nRespirationApneaTime);
    if (wanted != r.bRespirationApneaEnabled) {
        r.bRespirationApneaEnabled = wanted;
        SetApnea(wanted);
    }
}

// The device work that belongs to the end of a transfer (the apnea switch,
// the end of a scan) is done before the transfer is written: the device says
// nothing while it waits for its data, so these exchanges cannot meet its
// next request.
void _SendNextPacket()
{
    Engine& e = g_Engine;
    SynthState& s = e.synth;
    if (IsEndOfFile(s)) {
        SelectOutputFunction(0);
        if (e.callbacks.StandardStopCB != nullptr)
            e.callbacks.StandardStopCB();
        return;
    }
    unsigned char buffer[kTransferBytes];
    const TransferTiming timing = BeginTransfer();
    ComputeTransfer(e, buffer, AcCountsPerMv(), TransferUse::Live);
    EndComputation(timing);
    if (g_Respiration.RespirationEnabled)
        EnableApneaByTime(_Trunc32(s.clock.fOutputTimeGraph));
    _UpdateFreqScanIfRequired();
    // A failed write is not retried: the clock has moved on, and the next
    // request continues from there.
    TransferSent(timing, Exchange({buffer, kTransferBytes}) == Status::Ok);
}

}  // namespace hsim
