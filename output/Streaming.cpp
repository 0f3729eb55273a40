// The streaming loop: each data request of the device is answered with the
// next 700 samples, computed here sample by sample. Around each sample the
// output clock advances, the application's graph callbacks and the signal tap
// see every tenth sample, a running frequency scan moves on, the recording
// takes the sample and the change scheduler may apply a pending change at the
// cycle boundary. The device work that follows from the computation (the
// control block after a change, the apnea switch, the end of the output) is
// done once the transfer has gone out.
#include "output/Transfer.h"

#include "output/ChangeScheduler.h"
#include "output/Output.h"
#include "output/OutputContext.h"
#include "output/SignalTap.h"
#include "protocol/StreamHealth.h"
#include "protocol/Commands.h"
#include "protocol/SampleWords.h"
#include "synth/FunctionGenerator.h"
#include "synth/Pacing.h"

#include <cstring>

namespace hsim {

namespace {

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

// The tap's sample point: the signal as the graph callback sees it, the DC
// channel as played, and a pacing pulse started since the last point.
void TapSample(Engine& e, double v, double dcPlayed)
{
    TapPoint point;
    point.time = e.synth.clock.fOutputTimeGraph;
    point.signalMv = v;
    point.dcMv = dcPlayed;
    if (e.synth.pulse.PulsesStarted != e.stream.tapPulses) {
        e.stream.tapPulses = e.synth.pulse.PulsesStarted;
        point.pacingMv = e.synth.pacing.PA;
        point.pacingMs = e.synth.pacing.PacingDuration;
    }
    if (e.stream.tapFirstOfRun) {
        point.flags = kTapFirstOfRun;
        e.stream.tapFirstOfRun = false;
    }
    TapWrite(point);
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
    return (s.out.MainOutput == OUTPUT_ECG_FILE || s.out.MainOutput == OUTPUT_ECG_FILE_WITH_DC) &&
           !s.pattern.loopFile && (empty || s.clock.fOutputTime > s.clock.fTimePeriod);
}

TransferEvents ComputeTransfer(Engine& e, unsigned char* buffer, double acScale, TransferUse use,
                               const SampleOutput& out)
{
    SynthState& s = e.synth;
    StreamState& stream = e.stream;
    const bool live = use == TransferUse::Live;
    TransferEvents events;
    bool ended = false;
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
            double t = _FoldTime(s.clock.fOutputTime - s.clock.fCycleStart, s.clock.fTimePeriod);
            if (t < 0)
                t += s.clock.fTimePeriod;  // the old cycle's last samples after a change of period
            double pace = 0.0;
            double v = 0.0;
            // A pattern or file that does not loop ends at the first sample
            // past its end: the application hears of it there, the rest of
            // the transfer holds the signal channel at 0 mV, and nothing
            // after it is reported or recorded.
            if (!ended) {
                bool endsHere = IsEndOfFile(s);
                if (!endsHere) {
                    v = _GetMainFunctionVoltage(s, t);
                    endsHere = s.clock.patternEnded;
                }
                if (endsHere) {
                    v = 0.0;
                    ended = true;
                    events.endedAt = n;
                    if (live && e.callbacks.StandardStopCB != nullptr)
                        e.callbacks.StandardStopCB();
                }
            }
            double dc;
            if (s.out.MainOutput == OUTPUT_ECG_FILE_WITH_DC)
                dc = ended ? 0.0 : FileDcVoltage(s, t);
            else
                dc = _GetPacingV5(s, pace);
            const bool overload = s.test.BaseLineOverload != 0 && s.out.MainOutput == OUTPUT_SINE;
            if (!overload)
                v = v + pace;
            if (live && stream.uiCounter == 0 && !ended) {
                TapSample(e, v, overload ? v : dc);
                if (e.callbacks.GraphCB != nullptr)
                    ReportToGraph(e, v);
            }
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
                const double q = (s.clock.fOutputTime - s.clock.fCycleStart) / s.clock.fTimePeriod;
                const double f = q - _Trunc32(q);
                s.out.F += s.scan.Fd;
                s.clock.fTimePeriod = 1.0 / s.out.F;
                s.clock.fOutputTime = s.clock.fCycleStart + s.clock.fTimePeriod * f;
            }
            if (live && !ended) {
                Record(e.record, w, dc);
                if (_CheckIfChangeRequired(e, t) && events.changedAt < 0)
                    events.changedAt = n;
            }
        }
    }
    events.scanEnded = _FreqScanEnded(s);
    return events;
}

// The transfer goes out first: the device is waiting for it. What the
// computation calls for on the device (the control block after a change
// applied at a cycle boundary, the apnea switch, the end of the output) is
// done after it, while the device plays what it has.
void _SendNextPacket()
{
    Engine& e = CurrentEngine();
    SynthState& s = e.synth;
    const TransferTiming timing = BeginTransfer();
    if (IsEndOfFile(s)) {
        // The file ended with the transfer before: this one holds 0 mV while
        // the device plays the rest of that one, and the relays go off at
        // the next request.
        s.out.MainOutput = OUTPUT_OFF;
        StopStreaming(e, false);
        if (e.callbacks.StandardStopCB != nullptr)
            e.callbacks.StandardStopCB();
        TransferSent(timing, SendStopPacket() == kTransferBytes);
        return;
    }
    unsigned char buffer[kTransferBytes];
    const TransferEvents events = ComputeTransfer(e, buffer, AcCountsPerMv(), TransferUse::Live);
    EndComputation(timing);
    // A failed write is not retried: the clock has moved on, and the next
    // request continues from there.
    TransferSent(timing, Exchange({buffer, kTransferBytes}) == Status::Ok);
    if (events.changedAt >= 0)
        SetRelays(true);
    if (events.endedAt >= 0) {
        s.out.MainOutput = OUTPUT_OFF;
        StopStreaming(e, true);
        return;
    }
    if (CurrentRespiration().RespirationEnabled)
        EnableApneaByTime(_Trunc32(s.clock.fOutputTimeGraph));
    _UpdateFreqScanIfRequired(s, events.scanEnded);
}

void AnswerDataRequest()
{
    Engine& e = CurrentEngine();
    // The stop signal is consumed: whether samples go out is the engine's
    // own state (a start withdraws the signal, a stop sets it).
    CurrentOutput().stopPlayEvent.WaitTimeout(0);
    if (IsStreaming()) {
        _SendNextPacket();
        return;
    }
    if (e.stream.playOut) {
        // The output ended by itself: the device has played what it held
        // when it asked; one transfer at 0 mV follows it.
        e.stream.playOut = false;
        const TransferTiming timing = BeginTransfer();
        TransferSent(timing, SendStopPacket() == kTransferBytes);
        return;
    }
    // Stopped: the relays go off, unless the stop has switched them off
    // already (the device was told; it asks no more).
    if (DeviceRelaysOn())
        WriteRelays(false, e.synth.out.nSampleRate);
    NoteControlAnswer();
}

}  // namespace hsim
