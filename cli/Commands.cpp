#include "Commands.h"

#include "Emulator.h"
#include "ReadBack.h"
#include "hsim.hpp"
#include "hsim_ext.h"
#include "hsim_records.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <future>

namespace hsimctl {
namespace {

constexpr double kStreamRate = 40000.0;
constexpr double kCountsPerMv = 6400.0;

void Error(const std::string& message)
{
    EndStatus();
    std::fprintf(stderr, "hsimctl: %s\n", message.c_str());
}

std::unique_ptr<Session> Connect(const ConnectOptions& connect, int& code)
{
    std::string why;
    auto session = Session::Open(connect, why, code);
    if (!session)
        Error(why);
    return session;
}

// Connects and makes the settings: all of them, or the parameters only
// (without the function and the test modes).
std::unique_ptr<Session> ConnectWith(const ConnectOptions& connect, const Settings& settings, bool withFunction,
                                     int& code)
{
    auto session = Connect(connect, code);
    std::string why;
    if (session && !(withFunction ? settings.Apply(why) : settings.ApplyParameters(why))) {
        Error(why);
        code = settings.ValueRefused() ? kExitUsage : kExitFailed;
        return nullptr;
    }
    return session;
}

// Runs a long library call on a thread of its own, which drives the
// session's simulator, and shows the time it takes on the terminal.
template <class Call>
auto WithProgress(const Session& session, const std::string& what, Call call)
{
    auto result = std::async(std::launch::async, [&call, simulator = session.simulator()] {
        HSIMUse(simulator);
        return call();
    });
    const auto start = std::chrono::steady_clock::now();
    while (result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char line[160];
        std::snprintf(line, sizeof line, "%s ... %.1f s%s", what.c_str(), s,
                      Interrupted() ? " (finishing; the device must not be left half-written)" : "");
        Status(line);
    }
    EndStatus();
    return result.get();
}

}  // namespace

double PacingStep()
{
    const double pacing = std::fabs(HSIMGetPacingAmplitude());
    return pacing > 0 ? std::max(0.1, pacing / 2) : 0;
}

void DropQuietDc(const std::string& output, std::vector<Signal>& signals)
{
    // CSV and text files carry both channels; a plot leaves out a DC channel
    // that stays at 0 mV (it shows the pacing pulses and DC test signals).
    if (signals.size() == 2 && KindOfOutput(output) == FileKind::Plot &&
        std::all_of(signals[1].mv.begin(), signals[1].mv.end(), [](double v) { return v == 0.0; }))
        signals.pop_back();
}

std::string HealthLine()
{
    HSIM_STREAM_HEALTH h{};
    HSIMGetStreamHealth(&h);
    char line[240];
    std::snprintf(line, sizeof line,
                  "transfers %llu, late %llu, failed writes %llu, latency p50 %.2f ms p99 %.2f ms max %.2f ms",
                  h.transfersSent, h.lateAnswers, h.writeFailures, h.latencyP50Ms, h.latencyP99Ms,
                  h.latencyMaxMs);
    return line;
}

int RunInfo(const ConnectOptions& connect)
{
    std::printf("library: %s\n", LibraryVersion().c_str());
    for (const auto& [table, source] : TableProvenance())
        std::printf("table %-8s %s\n", table.c_str(), source.c_str());
    int code = kExitOk;
    auto session = Connect(connect, code);
    if (!session)
        return code;
    const DeviceIdentity device = ReadDeviceIdentity();
    std::printf("device: %s\n", connect.emulator ? "built-in emulator" : "simulator");
    std::printf("identity: %s\n", device.identity.c_str());
    std::printf("serial number: %s\n", device.serialNumber.c_str());
    std::printf("hardware information: %s\n", device.hardware.c_str());
    return kExitOk;
}

namespace {

// What the output plays now, read from the library's signal tap (never from a
// callback on its streaming thread): the range of the signal channel over the
// last whole second and the pacing pulses played.
class LiveSignal {
public:
    LiveSignal() : m_Tap(HSIMTapOpen()) {}
    ~LiveSignal() { HSIMTapClose(m_Tap); }
    LiveSignal(const LiveSignal&) = delete;
    LiveSignal& operator=(const LiveSignal&) = delete;

    // Reads what the tap holds; the text for the status line.
    std::string Update()
    {
        HSIM_TAP_POINT points[1024];
        for (int n; m_Tap != nullptr && (n = HSIMTapRead(m_Tap, points, 1024)) > 0;) {
            for (int i = 0; i < n; ++i)
                Take(points[i]);
        }
        if (!m_Shown)
            return "";
        char text[96];
        std::snprintf(text, sizeof text, "signal %.2f..%.2f mV in 1 s", m_ShownLow, m_ShownHigh);
        std::string line = text;
        if (m_Pulses > 0)
            line += ", " + std::to_string(m_Pulses) + " pacing pulses in all";
        return line;
    }

private:
    void Take(const HSIM_TAP_POINT& p)
    {
        if (p.kind != HSIM_TAP_SAMPLE)
            return;
        if (p.pacingMv != 0.0)
            ++m_Pulses;
        if (m_WindowStart < 0 || p.time < m_WindowStart) {
            m_WindowStart = p.time;
            m_Low = m_High = p.signalMv;
        }
        m_Low = std::min(m_Low, p.signalMv);
        m_High = std::max(m_High, p.signalMv);
        if (p.time - m_WindowStart >= 1.0) {
            m_Shown = true;
            m_ShownLow = m_Low;
            m_ShownHigh = m_High;
            m_WindowStart = p.time;
            m_Low = m_High = p.signalMv;
        }
    }

    HSIM_TAP* m_Tap;
    double m_WindowStart = -1.0;
    double m_Low = 0.0, m_High = 0.0;
    bool m_Shown = false;
    double m_ShownLow = 0.0, m_ShownHigh = 0.0;
    unsigned long m_Pulses = 0;
};

}  // namespace

// Streams until the time is up, the output ends by itself or Ctrl-C, with a
// live status line. true unless interrupted before a set time was up. What
// the signal did in the last second it played goes to `signal`.
static bool Stream(const std::string& what, double seconds, hsimemu::Emulator* emulator, std::string& signal)
{
    LiveSignal live;
    const bool done = WaitFor(seconds, [&](double elapsed) {
        if (!HSIMIsPlaying())
            return false;
        // Most important first: a narrow terminal cuts the tail.
        HSIM_STREAM_HEALTH h{};
        HSIMGetStreamHealth(&h);
        char time[48], health[160];
        std::snprintf(time, sizeof time, seconds >= 0 ? "%.1f of %g s" : "%.1f s", elapsed, seconds);
        std::snprintf(health, sizeof health, "late %llu, p99 %.2f ms", h.lateAnswers, h.latencyP99Ms);
        std::string line = std::string(time) + " | " + what;
        if (signal = live.Update(); !signal.empty())
            line += " | " + signal;
        line += std::string(" | ") + health;
        if (h.writeFailures > 0)
            line += ", failed writes " + std::to_string(h.writeFailures);
        if (emulator)
            line += ", underruns " + std::to_string(emulator->streamStats().underruns);
        Status(line);
        return true;
    });
    EndStatus();
    return done || seconds < 0 || !HSIMIsPlaying();
}

int RunPlay(const ConnectOptions& connect, const PlayOptions& options)
{
    int code = kExitOk;
    auto session = ConnectWith(connect, options.settings, true, code);
    if (!session)
        return code;
    // What the library holds, not what was typed.
    const std::string played = DescribeReadBack();
    std::string signal;
    const bool completed = Stream("playing " + played, options.seconds, session->emulator(), signal);
    session->StopOutput();
    std::printf("played: %s\n", played.c_str());
    if (!signal.empty())
        std::printf("%s\n", signal.c_str());
    std::printf("stream: %s\n", HealthLine().c_str());
    if (const hsimemu::Emulator* emulator = session->emulator()) {
        const hsimemu::StreamStats device = emulator->streamStats();
        std::printf("emulator: %llu samples played (%.1f s), %llu underruns\n",
                    static_cast<unsigned long long>(device.samples), double(device.samples) / kStreamRate,
                    static_cast<unsigned long long>(device.underruns));
    }
    return completed ? kExitOk : kExitInterrupted;
}

int RunRender(const RenderOptions& options)
{
    if (const std::string refused = CheckOutput(options.output); !refused.empty()) {
        Error(refused);
        return kExitUsage;
    }
    if (!(options.seconds > 0 && options.seconds <= 3600)) {
        Error("--seconds must be more than 0 s and at most 3600 s");
        return kExitUsage;
    }
    // The settings are made on the built-in emulator: no device is needed.
    ConnectOptions emulated;
    emulated.emulator = true;
    int code = kExitOk;
    auto session = ConnectWith(emulated, options.settings, true, code);
    if (!session)
        return code;
    const int count = int(std::lround(options.seconds * kStreamRate));
    Signal ac{"AC", kStreamRate, std::vector<double>(size_t(count)), kSignalLabel};
    Signal dc{"DC", kStreamRate, std::vector<double>(size_t(count)), kDcLabel};
    const int rendered = HSIMRenderOutput(count, ac.mv.data(), dc.mv.data(), nullptr, nullptr);
    if (rendered < 0) {
        Error("rendering failed (code " + std::to_string(rendered) + ")");
        return kExitFailed;
    }
    ac.mv.resize(size_t(rendered));
    dc.mv.resize(size_t(rendered));
    PlotStyle style = options.style;
    style.pacingStepMv = PacingStep();
    const std::string rendering = DescribeReadBack();
    session.reset();
    std::vector<Signal> signals = {ac, dc};
    DropQuietDc(options.output, signals);
    const std::string why = WriteSignals(options.output, signals, rendering, style);
    if (!why.empty()) {
        Error(why);
        return kExitFailed;
    }
    std::printf("rendered %.3f s (%d samples) of %s to %s\n", rendered / kStreamRate, rendered,
                rendering.c_str(), options.output.c_str());
    return kExitOk;
}

int RunPlot(const PlotOptions& options)
{
    if (KindOfOutput(options.output) != FileKind::Plot) {
        Error("the plot goes to a .png, .svg or .pdf file");
        return kExitUsage;
    }
    std::vector<Signal> signals;
    std::string why;
    if (const OpenRecord record = OpenRecordFile(options.input, why))
        why = ReadSignals(record.get(), options.input, options.channels, options.from, options.seconds, signals);
    if (!why.empty()) {
        Error(why);
        return kExitUsage;
    }
    std::string title = options.title;
    if (title.empty()) {
        char text[200];
        std::snprintf(text, sizeof text, "%s, %g samples/s, from %g s", options.input.c_str(),
                      signals.front().rate, options.from);
        title = text;
    }
    why = WriteSignals(options.output, signals, title, options.style);
    if (!why.empty()) {
        Error(why);
        return kExitFailed;
    }
    std::printf("plotted %zu signal(s) of %s to %s\n", signals.size(), options.input.c_str(), options.output.c_str());
    return kExitOk;
}

long LoadIntoLibrary(const std::string& path, int channel, std::string& why)
{
    const OpenRecord record = OpenRecordFile(path, why);
    return record ? LoadIntoLibrary(record.get(), path, channel, why) : -1;
}

long LoadIntoLibrary(HSIMRecord* record, const std::string& path, int channel, std::string& why)
{
    // A binary file goes to the library's own loader. Everything else, the
    // ECG text files included, is read by the record library (with the same
    // readers for those files, and its rule for telling a one-channel text
    // file from a multi-channel one) and handed over as raw data.
    if (HSIMRecordKindOf(record) == HSIM_RECORD_ECG_BINARY) {
        const int loaded = LoadECGBin(WidePath(path).c_str());
        if (loaded < 0)
            why = path + ": the library refused the file (code " + std::to_string(loaded) + ")";
        return loaded;
    }
    std::vector<Signal> signals;
    why = ReadSignals(record, path, {channel}, 0, -1, signals);
    if (!why.empty())
        return -1;
    Signal& s = signals.front();
    if (!(s.rate >= 100 && s.rate <= 40000)) {
        why = path + ": " + std::to_string(s.rate) + " samples/s; the player takes 100..40000";
        return -1;
    }
    if (s.mv.size() > size_t(INT32_MAX)) {
        why = path + ": too many samples";
        return -1;
    }
    for (double& v : s.mv)
        if (!std::isfinite(v))
            v = 0;  // an invalid sample plays as 0 mV
    std::vector<double> dc(s.mv.size(), 0.0);
    RAW_DATA_INFORMATION data{s.rate, int32_t(s.mv.size()), s.mv.data(), dc.data()};
    const int loaded = HSIMLoadRawData(&data);
    if (loaded < 0)
        why = path + ": the library refused the samples (code " + std::to_string(loaded) + ")";
    return loaded;
}

int RunLoad(const ConnectOptions& connect, const LoadOptions& options)
{
    std::string why;
    const OpenRecord record = OpenRecordFile(options.input, why);
    if (!record) {
        Error(why);
        return kExitUsage;
    }
    const int count = HSIMRecordSignalCount(record.get());
    for (int i = 0; i < count; ++i) {
        HSIMRecordSignal info{};
        HSIMRecordGetSignal(record.get(), i, &info);
        std::printf("signal %d: %-16s %-4s %8g samples/s %10" PRId64 " samples (%.1f s)%s\n", i, info.name,
                    info.units, info.rate, info.length, info.rate > 0 ? double(info.length) / info.rate : 0.0,
                    i == options.channel ? "  <- selected" : "");
    }
    if (options.channel < 0 || options.channel >= count) {
        Error("no channel " + std::to_string(options.channel) + " in " + options.input);
        return kExitUsage;
    }
    if (!options.play)
        return kExitOk;
    int code = kExitOk;
    auto session = Connect(connect, code);
    if (!session)
        return code;
    const long loaded = WithProgress(*session, "loading " + options.input, [&] {
        return LoadIntoLibrary(record.get(), options.input, options.channel, why);
    });
    if (loaded < 0) {
        Error(why);
        return kExitUsage;
    }
    HSIMEnableLoop(options.loop);
    if (const int result = HSIMSetOutputFunction(OUTPUT_ECG_FILE)) {
        Error("the library refused to play the file (code " + std::to_string(result) + ")");
        return kExitFailed;
    }
    std::printf("playing %ld samples of %s%s\n", loaded, options.input.c_str(), options.loop ? ", looping" : "");
    std::fflush(stdout);
    std::string signal;
    const bool completed = Stream("playing " + options.input, options.seconds, session->emulator(), signal);
    session->StopOutput();
    std::printf("stream: %s\n", HealthLine().c_str());
    return completed ? kExitOk : kExitInterrupted;
}

bool RecordStream(double seconds, const std::function<bool(std::string&)>& start, std::vector<Signal>& signals,
                  std::string& why, const std::string& label)
{
    const size_t count = size_t(std::llround(seconds * kStreamRate));
    std::vector<double> ac(count), dc(count);
    if (!EnableRecordRaw(ac.data(), dc.data(), int(count))) {
        why = "recording is already on";
        return false;
    }
    // The transfers are counted from after recording began: one sent before
    // it would be counted as recorded, and the recording would end a
    // transfer short with its last samples left at 0. (One counted late
    // only makes the wait a transfer longer.)
    HSIM_STREAM_HEALTH before{};
    HSIMGetStreamHealth(&before);
    bool ok = start(why);
    // Until the recording buffers are full: transfers of 700 samples each.
    auto recorded = [&] {
        HSIM_STREAM_HEALTH now{};
        HSIMGetStreamHealth(&now);
        return size_t(now.transfersSent - before.transfersSent) * 700;
    };
    if (ok) {
        ok = WaitFor(seconds + 10, [&](double elapsed) {
            char line[120];
            std::snprintf(line, sizeof line, "recording %.1f of %.1f s", recorded() / kStreamRate, seconds);
            Status(label + line);
            return recorded() < count && HSIMIsPlaying();
        });
        ok = recorded() >= count;
        if (!ok)
            why = Interrupted() ? "interrupted" : "the output ended before the recording was complete";
    }
    EndStatus();
    DisableRecordRaw();
    const size_t kept = std::min(count, recorded());
    for (double& v : ac)
        v /= kCountsPerMv;
    ac.resize(kept);
    dc.resize(kept);
    signals = {Signal{"AC", kStreamRate, std::move(ac), kSignalLabel},
               Signal{"DC", kStreamRate, std::move(dc), kDcLabel}};
    return ok;
}

int RunRecord(const ConnectOptions& connect, const RecordOptions& options)
{
    if (const std::string refused = CheckOutput(options.output); !refused.empty()) {
        Error(refused);
        return kExitUsage;
    }
    if (!(options.seconds > 0 && options.seconds <= 600)) {
        Error("--seconds must be more than 0 s and at most 600 s");
        return kExitUsage;
    }
    int code = kExitOk;
    auto session = Connect(connect, code);
    if (!session)
        return code;
    std::vector<Signal> signals;
    std::string why, recording;
    const bool ok = RecordStream(
        options.seconds,
        [&](std::string& reason) {
            if (!options.settings.Apply(reason))
                return false;
            recording = DescribeReadBack();  // what the library holds, not what was typed
            return true;
        },
        signals, why);
    PlotStyle style = options.style;
    style.pacingStepMv = PacingStep();
    session->StopOutput();
    if (!ok) {
        Error(why);
        if (signals.front().mv.empty())
            return Interrupted()                       ? kExitInterrupted
                   : options.settings.ValueRefused() ? kExitUsage
                                                     : kExitFailed;
    }
    DropQuietDc(options.output, signals);
    const std::string failed = WriteSignals(options.output, signals, "recorded: " + recording, style);
    if (!failed.empty()) {
        Error(failed);
        return kExitFailed;
    }
    std::printf("recorded %.3f s of %s to %s\nstream: %s\n", signals.front().mv.size() / kStreamRate,
                recording.c_str(), options.output.c_str(), HealthLine().c_str());
    return ok ? kExitOk : Interrupted() ? kExitInterrupted : kExitFailed;
}

static bool BlockFunction(const BlockOptions& options, int& function)
{
    if (!options.settings.function() || *options.settings.function() < 1 || *options.settings.function() > 8) {
        Error("block output plays the functions 1..8 (sine to ecg-custom)");
        return false;
    }
    function = *options.settings.function();
    return true;
}

int RunUpload(const ConnectOptions& connect, const BlockOptions& options)
{
    int function = 0;
    if (!BlockFunction(options, function))
        return kExitUsage;
    int code = kExitOk;
    auto session = ConnectWith(connect, options.settings, false, code);
    if (!session)
        return code;
    const auto start = std::chrono::steady_clock::now();
    const int result = WithProgress(*session, "uploading one period", [&] { return HSIMOutputSignal(function); });
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (result != 0) {
        Error("the upload failed (code " + std::to_string(result) + ")");
        return kExitFailed;
    }
    session->KeepOutput();
    std::printf("uploaded one period of %s in %.0f ms; the device plays it by itself\n",
                options.settings.Describe().c_str(), ms);
    if (auto* emulator = session->emulator())
        std::printf("emulator: %zu samples uploaded, block output %s\n", emulator->uploadedSamples().size(),
                    emulator->blockOutputOn() ? "on" : "off");
    return kExitOk;
}

int RunStandalone(const ConnectOptions& connect, const BlockOptions& options)
{
    int function = OUTPUT_ECG_STANDARD;
    if (!options.standardDefault && !BlockFunction(options, function))
        return kExitUsage;
    int code = kExitOk;
    auto session = ConnectWith(connect, options.settings, false, code);
    if (!session)
        return code;
    const int result = WithProgress(*session, "saving to the device's ROM", [&] {
        return options.standardDefault ? HSIMSaveDefaultWaveform() : HSIMSaveToStandaloneMode(function);
    });
    if (result != 1) {
        Error("the ROM save was not confirmed by the device");
        return kExitFailed;
    }
    std::printf("saved %s as the standalone waveform\n",
                options.standardDefault ? "the default waveform (ecg, 1 Hz, 2 mV)" : options.settings.Describe().c_str());
    if (auto* emulator = session->emulator())
        if (const auto slot = emulator->romSlot(1))
            std::printf("emulator: ROM slot 1 holds %zu samples\n", slot->samples.size());
    return kExitOk;
}

}  // namespace hsimctl
