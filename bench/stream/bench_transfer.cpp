// Cost of one streaming transfer: 700 samples of the heaviest combination of
// options (custom beat, pacing with a second pulse and overshoot, respiration
// modulation, mains noise, drift) computed and packed into the 3200 bytes the
// device receives. The device allows 17.5 ms per transfer.
#include "output/Engine.h"
#include "output/Transfer.h"
#include "protocol/SampleWords.h"
#include "synth/Respiration.h"
#include "synth/WorkingValues.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

hsim::Engine HeaviestEngine(int noise)
{
    hsim::Engine e;
    hsim::SynthState& s = e.synth;
    s.out.MainOutput = 8;
    s.out.F = 1.2;
    s.ecg.CusST = 0.1;
    s.test.MainNoise = noise;
    s.test.AAMIDriftTest = true;
    s.pacing.PA = 2.0;
    s.pacing.PacingPulse = 1;
    s.pacing.PacingOvershootTC = 10;
    s.pacing.POA = 1.0;
    hsim::_DeriveWorkingValues(s);
    hsim::_DeriveVoltageRange(s);
    hsim::SetRespirationModel(s, 15, 2, 10, 20, 30, 10);
    return e;
}

void BM_Transfer(benchmark::State& state)
{
    hsim::Engine e = HeaviestEngine(int(state.range(0)));
    unsigned char buffer[hsim::kTransferBytes];
    for (auto _ : state) {
        hsim::ComputeTransfer(e, buffer, 6400.0, hsim::TransferUse::Render);
        benchmark::DoNotOptimize(buffer);
        // Ten minutes of output, then the clock starts over, so the figure
        // covers the whole range of clock values a long run sees.
        if (e.synth.clock.fOutputTime > 600.0)
            e.synth.clock.fOutputTime = 0.0;
    }
    state.SetItemsProcessed(state.iterations() * hsim::kSamplesPerTransfer);
}
BENCHMARK(BM_Transfer)->Arg(1)->Arg(3)->ArgName("noise")->Repetitions(5)->ReportAggregatesOnly(true);

// FNV-1a over the bytes of 2000 transfers (35 s of output) of both noise
// settings: the same figure before and after a change of the computation
// shows that the output stayed bit for bit the same.
void PrintChecksum()
{
    for (int noise : {1, 3}) {
        hsim::Engine e = HeaviestEngine(noise);
        unsigned char buffer[hsim::kTransferBytes];
        uint64_t hash = 1469598103934665603ull;
        for (int i = 0; i < 2000; ++i) {
            hsim::ComputeTransfer(e, buffer, 6400.0, hsim::TransferUse::Render);
            for (unsigned char byte : buffer)
                hash = (hash ^ byte) * 1099511628211ull;
        }
        printf("checksum noise %d: %016llx\n", noise, (unsigned long long)hash);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--checksum") {
        PrintChecksum();
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
