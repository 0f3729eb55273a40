// Block output and standalone mode end to end: the messages the emulated
// device receives, the period it stores and plays, the ROM save and its
// confirmation, and the faults of the upload.
#include "protocol/Exchange.h"
#include "Fixture.h"
#include "hsim.hpp"

#include "output/Engine.h"
#include "runtime/Sync.h"

#include <algorithm>
#include <cstring>
#include <functional>

using namespace hsimtest;

namespace {

class BlockOutput : public EmulatorTest {
protected:
    void TearDown() override
    {
        HSIMSetOutputFunction(0);
        EmulatorTest::TearDown();
    }
    static int be16(const Bytes& b, size_t i) { return b.at(i) << 8 | b.at(i + 1); }
    static int be16(const std::array<uint8_t, 64>& b, size_t i) { return b[i] << 8 | b[i + 1]; }
    size_t count(const std::string& kind) const { return emulator_->received(kind).size(); }
};

// A 60 Hz sine: 666 samples at 40000/s, the same samples a stream renders
// from its start; 48 chunks, the last with samples 658..665 and six zeros.
TEST_F(BlockOutput, UploadedPeriodIsTheRenderedOne)
{
    hsimemu::Emulator& emulator = connect();
    ASSERT_EQ(HSIMSetFrequency(60.0), 0);
    ASSERT_EQ(HSIMSetAmplitude(2.0), 0);
    std::vector<short> expect(666);
    {
        ContextGuard lock(hsim::ContextLock());
        hsim::CurrentEngine().synth.out.MainOutput = OUTPUT_SINE;
        ASSERT_EQ(HSIMRenderOutput(666, nullptr, nullptr, expect.data(), nullptr), 666);
        hsim::CurrentEngine().synth.out.MainOutput = 0;
    }
    emulator.clearReceived();
    ASSERT_EQ(HSIMOutputSignal(OUTPUT_SINE), 0);
    const auto info = emulator.waveformInfo();
    EXPECT_EQ(be16(info, 6), 666);
    EXPECT_EQ(be16(info, 8), 6000);
    EXPECT_EQ(info[10], OUTPUT_SINE);
    const auto setting = emulator.controlSetting();
    EXPECT_EQ(be16(setting, 8), 40000);
    EXPECT_EQ(be16(setting, 10), 666) << "thousandths of 666.67 samples per period";
    EXPECT_EQ(setting[4], 1);
    EXPECT_TRUE(emulator.blockOutputOn());
    const auto chunks = emulator.received("chunk");
    ASSERT_EQ(chunks.size(), 48u);
    for (size_t c = 0; c < chunks.size(); ++c)
        ASSERT_EQ(be16(chunks[c].bytes, 6), int(14 * c));
    const auto stored = emulator.uploadedSamples();
    ASSERT_EQ(stored.size(), 672u);
    for (size_t i = 0; i < stored.size(); ++i) {
        ASSERT_EQ(stored[i].ac, i < 666 ? expect[i] : 0) << i;
        ASSERT_EQ(stored[i].dc, i < 666 ? 0x8000 : 0) << i;
    }
    const auto out = emulator.blockPlayout(1332);
    ASSERT_EQ(out.size(), 1332u);
    EXPECT_TRUE(out[666].ac == stored[0].ac && out[1331].ac == stored[665].ac);
    EXPECT_FALSE(HSIMIsPlaying()) << "the device plays it by itself";
}

TEST_F(BlockOutput, StopAndRefusals)
{
    EXPECT_EQ(HSIMOutputSignal(0), 0) << "no device: the stop goes nowhere";
    EXPECT_EQ(HSIMOutputSignal(1), -1);
    EXPECT_EQ(HSIMSaveToStandaloneMode(7), 0);
    hsimemu::Emulator& emulator = connect();
    ASSERT_EQ(HSIMOutputSignal(1), 0);
    for (int function : {0, 9}) {
        emulator.clearReceived();
        EXPECT_EQ(HSIMOutputSignal(function), 0);
        const auto stops = emulator.received("stop-output");
        ASSERT_EQ(stops.size(), 1u);
        EXPECT_EQ(stops[0].bytes, (Bytes{0xEA, 0xFF, 0x00, 0x00, 0x00}));
        EXPECT_EQ(count("waveform-info") + count("chunk") + count("control-setting"), 0u);
        EXPECT_FALSE(emulator.blockOutputOn());
    }
    EXPECT_EQ(HSIMOutputSignal(-1), -2);
    // A corrupt echo ends the upload at the first chunk.
    emulator.setFault(hsimemu::Fault::CorruptChunkEcho, true);
    emulator.clearReceived();
    EXPECT_EQ(HSIMOutputSignal(1), HSIM_ERROR_IO);
    EXPECT_EQ(count("chunk"), 1u);
    EXPECT_EQ(count("control-setting"), 0u);
    EXPECT_TRUE(WriteWaveformRawData(nullptr, 0)) << "nothing to send";
    EXPECT_FALSE(WriteWaveformRawData(nullptr, 56));
    unsigned char bytes[56] = {};
    EXPECT_FALSE(WriteWaveformRawData(bytes, sizeof bytes));
    // Streaming, and the device no longer asks for data: no window, no save.
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_SINE), 0);
    emulator.setFault(hsimemu::Fault::Mute, true);
    EXPECT_EQ(HSIMSaveToStandaloneMode(OUTPUT_SINE), 0);
}

// A length that is not a multiple of 56: the last chunk is zero-filled past
// the data, which is never read beyond (ASan).
TEST_F(BlockOutput, RawDataOfAnyLength)
{
    hsimemu::Emulator& emulator = connect();
    std::vector<unsigned char> data(60);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i + 1);
    auto heap = std::make_unique<unsigned char[]>(60);
    memcpy(heap.get(), data.data(), 60);
    ASSERT_TRUE(WriteWaveformRawData(heap.get(), 60));
    const auto chunks = emulator.received("chunk");
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(Bytes(chunks[1].bytes.begin() + 8, chunks[1].bytes.begin() + 12), Bytes(data.begin() + 56, data.end()));
    EXPECT_EQ(Bytes(chunks[1].bytes.begin() + 12, chunks[1].bytes.end()), Bytes(52, 0));
}

// Streamed output is stopped before the upload: the device, paced in real
// time, never waits for data while the chunks go out.
TEST_F(BlockOutput, UploadWhileStreamingStopsTheStreamFirst)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::RealTime);
    ASSERT_EQ(HSIMSetFrequency(0.05), 0);  // 2000 samples a period, 143 chunks
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_SINE), 0);
    ASSERT_TRUE(WaitUntil([&] { return emulator.streamStats().transfers >= 10; }, 5000));
    ASSERT_EQ(HSIMOutputSignal(OUTPUT_SINE), 0);
    EXPECT_FALSE(HSIMIsPlaying());
    EXPECT_FALSE(emulator.streamStats().outputOn);
    EXPECT_EQ(emulator.streamStats().underruns, 0u);
    EXPECT_EQ(emulator.uploadedSamples().size(), 2002u);
}

// Once an upload has begun the device plays the period by itself (the engine
// notes it before the first message goes out, so a failed upload or a device
// lost half way leave it so). The request the poll thread held when the
// upload stopped the stream gets no samples; a later setter stores its value
// and streams nothing, also after a save that failed; a new selection of the
// output function streams again.
TEST_F(BlockOutput, UploadedPeriodIsNeverStreamedOver)
{
    hsimemu::Emulator& emulator = connect(hsimemu::Pacing::RealTime);
    const struct {
        const char* name;
        std::function<void()> upload;
        std::function<int()> setter;
    } cases[] = {
        {"block output", [] { EXPECT_EQ(HSIMOutputSignal(OUTPUT_ECG_STANDARD), 0); }, [] { return HSIMSetAmplitude(2.0); }},
        {"failed save",
         [&] {
             emulator.setFault(hsimemu::Fault::CorruptChunkEcho, true);
             EXPECT_EQ(HSIMSaveToStandaloneMode(OUTPUT_SINE), 0);
             emulator.setFault(hsimemu::Fault::CorruptChunkEcho, false);
         },
         [] { return HSIMSetAmplitude(2.0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_SINE), 0);
        ASSERT_TRUE(WaitUntil([&] { return emulator.streamStats().transfers >= 3; }, 5000));
        emulator.clearReceived();
        c.upload();
        const auto log = emulator.received();
        const auto upload = std::find_if(log.begin(), log.end(), [](const auto& m) { return m.kind == "waveform-info"; });
        EXPECT_EQ(std::count_if(upload, log.end(), [](const auto& m) { return m.kind == "stream"; }), 0)
            << "no samples after the stream stopped";
        emulator.clearReceived();
        EXPECT_EQ(c.setter(), 0);
        SleepMs(200);
        EXPECT_FALSE(HSIMIsPlaying());
        EXPECT_EQ(count("stream"), 0u);
    }
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_SINE), 0);
    EXPECT_TRUE(HSIMIsPlaying());
    EXPECT_TRUE(WaitUntil([&] { return count("stream") >= 3; }, 5000));
}

// Block output plays codes 1 to 8: a save of any other code is refused
// before anything is sent.
TEST_F(BlockOutput, StandaloneSaveRefusesWhatBlockOutputCannotPlay)
{
    hsimemu::Emulator& emulator = connect();
    emulator.clearReceived();
    for (int code : {0, -5, 9, 99})
        EXPECT_EQ(HSIMSaveToStandaloneMode(code), -2) << code;
    EXPECT_TRUE(emulator.received().empty());
}

// The save uploads, switches block output off and polls until the ROM
// confirms: the third status query, after two 200 ms pauses.
TEST_F(BlockOutput, StandaloneSaveIsConfirmedOnTheThirdPoll)
{
    hsimemu::Emulator& emulator = connect();
    ASSERT_EQ(HSIMSetOutputFunction(OUTPUT_SINE), 0);  // streaming: stopped first
    const auto start = Clock::now();
    ASSERT_EQ(HSIMSaveDefaultWaveform(), 1);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_EQ(count("rom-status"), 3u);
    const auto slot = emulator.romSlot(1);
    ASSERT_TRUE(slot.has_value());
    EXPECT_EQ(slot->waveformInfo[10], OUTPUT_ECG_STANDARD);
    // 1 Hz: 2000 samples a period at 2000 per second, a whole number of them.
    EXPECT_EQ(be16(slot->waveformInfo, 6), 2000);
    EXPECT_EQ(be16(slot->waveformInfo, 8), 100);
    EXPECT_EQ(be16(slot->controlSetting, 8), 2000);
    EXPECT_EQ(be16(slot->controlSetting, 10), 0);
    EXPECT_EQ(slot->controlSetting[4], 0) << "saved with the output off";
    EXPECT_EQ(slot->samples.size(), 2002u);
    EXPECT_EQ(emulator.standalonePlayout(4000).size(), 4000u);
    EXPECT_EQ(HSIMGetOutputFunction(), 0);
    EXPECT_FALSE(HSIMIsPlaying());
}

TEST_F(BlockOutput, SaveNeverConfirmedFailsAfterEightyPolls)
{
    hsimemu::Emulator& emulator = connect();
    emulator.setFault(hsimemu::Fault::RomNeverConfirmed, true);
    EXPECT_EQ(HSIMSaveDefaultWaveform(), 0);
    EXPECT_EQ(count("rom-status"), 80u);
    EXPECT_FALSE(emulator.romSlot(1).has_value());
}

}  // namespace
