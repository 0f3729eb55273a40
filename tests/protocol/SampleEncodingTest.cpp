// The DC and AC words of a sample.
#include "protocol/Commands.h"
#include "protocol/SampleWords.h"

#include <gtest/gtest.h>

#include <cmath>
#include "LayerContext.h"
#include "protocol/LinkContext.h"

namespace {
const bool kContext = layertest::kDefaultInstalled<hsim::LinkContext>;
}  // namespace

TEST(SampleEncoding, DcWordSpansPlusMinusOneVolt)
{
    EXPECT_EQ(ECG_DC_VoltageToDAC(0.0), 0x8000);
    EXPECT_EQ(ECG_DC_VoltageToDAC(-1000.0), 0);
    EXPECT_EQ(ECG_DC_VoltageToDAC(-5000.0), 0);
    EXPECT_EQ(ECG_DC_VoltageToDAC(1000.0), 0xFFFF);
    EXPECT_EQ(ECG_DC_VoltageToDAC(1e9), 0xFFFF);
    EXPECT_EQ(ECG_DC_VoltageToDAC(NAN), 0xFFFF);
    // 500 mV: 1500 / 2000 * 65535 + 0.5 = 49151.75 -> 49151.
    EXPECT_EQ(ECG_DC_VoltageToDAC(500.0), 49151);
}

TEST(SampleEncoding, AcCountsAreSixThousandFourHundredPerMillivolt)
{
    hsim::CurrentRespiration().RespirationEnabled = false;
    EXPECT_EQ(AcWord(ScaleAcCounts(1.0)), 6400);
    EXPECT_EQ(AcWord(ScaleAcCounts(-6.0)), -32768);
    // 5.12 mV would be 32768 counts: clipped to 32767.
    EXPECT_EQ(AcWord(ScaleAcCounts(5.12)), 32767);
    EXPECT_EQ(AcWord(ScaleAcCounts(-0.0001)), 0) << "truncation toward zero";
    // A value that is not a number plays as 0 mV; its conversion to the word
    // would be undefined.
    EXPECT_EQ(ScaleAcCounts(NAN), 0.0);
    EXPECT_EQ(AcWord(ScaleAcCounts(-NAN)), 0);
}

TEST(SampleEncoding, RespirationNetworkAttenuates)
{
    hsim::CurrentRespiration().RespirationEnabled = true;
    hsim::CurrentRespiration().nRespirationResistance = 500;
    EXPECT_DOUBLE_EQ(GetAttenuation(), 2.873);
    // 6400 / 2.873 = 2227.6 -> 2227.
    EXPECT_EQ(AcWord(ScaleAcCounts(1.0)), 2227);
    hsim::CurrentRespiration().nRespirationResistance = 2500;
    EXPECT_DOUBLE_EQ(GetAttenuation(), 22.9);
    hsim::CurrentRespiration().nRespirationResistance = 700;
    EXPECT_DOUBLE_EQ(GetAttenuation(), 1.0) << "an unknown resistance does not attenuate";
    hsim::CurrentRespiration().RespirationEnabled = false;
    hsim::CurrentRespiration().nRespirationResistance = 500;
    EXPECT_DOUBLE_EQ(GetAttenuation(), 1.0);
}
