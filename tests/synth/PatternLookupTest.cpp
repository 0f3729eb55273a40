// Standard test patterns and leads: the generator reads the selected entry
// at the phase, keeps a phase at the very end of a cycle on the last valid
// entry, and plays 0 V for a selection outside the family (one pattern index
// is shared by three families of 10, 16 and 5 patterns).
#include "SynthTestSupport.h"

#include "hsim.h"
#include "synth/tables/StandardTables.h"

namespace {

using namespace synthtest;

class PatternLookupTest : public SynthTest {};

TEST_F(PatternLookupTest, IEC251PatternAtThePhase)
{
    S.pattern.nSpecialWaveform = 12;
    Apply(10);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.0), IEC251W[12000] / 1000.0);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.2345), IEC251W[12234] / 1000.0);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 1.0), IEC251W[12999] / 1000.0);  // end of the cycle
    EXPECT_EQ(_GetMainFunctionVoltage(S, -0.001), IEC251W[12000] / 1000.0);
}

TEST_F(PatternLookupTest, IEC227PatternAtThePhase)
{
    S.pattern.nSpecialWaveform = 3;  // 34511 samples at 720 per second
    Apply(9);
    const int base = 3 * kIEC227Stride;
    EXPECT_EQ(_GetMainFunctionVoltage(S, 10.0), IEC227W[base + 7200] / 1000.0);
    EXPECT_EQ(_GetMainFunctionVoltage(S, S.clock.fTimePeriod), IEC227W[base + 34510] / 1000.0);
    S.pattern.nSpecialWaveform = 9;
    Apply(9);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 1.0), IEC227W[9 * kIEC227Stride + 720] / 1000.0);
}

TEST_F(PatternLookupTest, IEC247PatternAtThePhase)
{
    S.pattern.nSpecialWaveform = 1;
    Apply(16);
    const double* pattern = getIEC47RawArray(IEC247_RR_800MS);
    ASSERT_NE(pattern, nullptr);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 12.3456), pattern[12345]);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 60.0), pattern[59999]);
    S.pattern.nSpecialWaveform = 4;  // the hour-long pattern streams its first minute
    const double* hour = getIEC47RawArray(IEC247_RR_1500MS_HOUR);
    ASSERT_NE(hour, nullptr);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 59.9995), hour[59999]);
}

TEST_F(PatternLookupTest, ANE20000LeadWithMainsNoise)
{
    S.pattern.nANE20000ChannelNumber = 8;
    Apply(17);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 0.5), ANE20000[8500] / 1000.0);
    EXPECT_EQ(_GetMainFunctionVoltage(S, 1.0), ANE20000[8999] / 1000.0);

    S.pattern.nANE20000ChannelNumber = 2;
    S.test.MainNoise = 1;  // 50 Hz, +-0.05 mV, at its crest at clock 5 ms
    Apply(17);
    S.clock.fOutputTime = 0.005;
    EXPECT_NEAR(_GetMainFunctionVoltage(S, 0.25), ANE20000[2250] / 1000.0 + 0.05, 1e-9);
}

TEST_F(PatternLookupTest, SelectionsOutsideTheFamilyGiveZero)
{
    const struct {
        int code;
        int index;
    } cases[] = {{9, 10}, {9, 12}, {9, -1}, {9, 1000000}, {10, 16}, {10, -1},
                 {16, 5}, {16, -1}, {16, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << c.code << " index " << c.index);
        S.pattern.nSpecialWaveform = c.index;
        Apply(c.code);
        for (double t = 0.0; t < 1.0; t += 0.0625) {
            ASSERT_EQ(_GetMainFunctionVoltage(S, t), 0.0) << t;
        }
    }
    for (int lead : {9, -1, 100}) {
        S.pattern.nANE20000ChannelNumber = lead;
        Apply(17);
        EXPECT_EQ(_GetMainFunctionVoltage(S, 0.5), 0.0) << lead;
    }
    // The index is checked when it is read: a selection changed without an
    // applied change is caught as well.
    S.pattern.nSpecialWaveform = 3;
    Apply(9);
    S.pattern.nSpecialWaveform = 11;
    EXPECT_EQ(_GetMainFunctionVoltage(S, 10.0), 0.0);
}

} // namespace
