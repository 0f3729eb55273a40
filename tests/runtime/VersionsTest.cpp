// Packing and comparing dotted versions.
#include "hsim.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ConvertVersionTest, PacksOneByteAField)
{
    // 1 x 2^24 + 0 x 2^16 + 5 x 2^8 + 2 = 16777216 + 1280 + 2.
    EXPECT_EQ(ConvertVersion("1.0.5.2"), 16778498);
    EXPECT_EQ(ConvertVersion("1.0.5.2"), HSIM_VERSION);
    // Missing fields count as 0.
    EXPECT_EQ(ConvertVersion("2.1"), 0x02010000);
    EXPECT_EQ(ConvertVersion("7"), 0x07000000);
    EXPECT_EQ(ConvertVersion("1..3"), 0x01000000); // reading stops at the gap
    EXPECT_EQ(ConvertVersion("10.20.30.40"), 0x0A141E28);
    // All fields at their maximum fill all 32 bits.
    EXPECT_EQ(ConvertVersion("255.255.255.255"), -1);
}

TEST(ConvertVersionTest, NothingToRead)
{
    EXPECT_EQ(ConvertVersion(nullptr), 0);
    EXPECT_EQ(ConvertVersion(""), 0);
    EXPECT_EQ(ConvertVersion("v1.2"), 0);
}

TEST(CheckVersionTest, ComparesFieldsNumerically)
{
    EXPECT_EQ(CheckVersion("1.2.3", "1.2.3"), 0);
    EXPECT_EQ(CheckVersion("1.2.3", "1.10.0"), -1);
    EXPECT_EQ(CheckVersion("1.10.0", "1.2.3"), 1);
    EXPECT_EQ(CheckVersion("1.01", "1.1"), 0);
    EXPECT_EQ(CheckVersion("2", "10"), -1); // not alphabetical
    EXPECT_EQ(CheckVersion("1.0.5.3", "1.0.5.2"), 1);
    // The first difference decides.
    EXPECT_EQ(CheckVersion("2.0", "1.9"), 1);
    // A run of dots is one separator.
    EXPECT_EQ(CheckVersion("1..2", "1.2"), 0);
}

TEST(CheckVersionTest, DifferentFieldCountsAreIncomparable)
{
    EXPECT_EQ(CheckVersion("1.2", "1.2.0"), -2);
    EXPECT_EQ(CheckVersion("1.2.0", "1.2"), -2);
    EXPECT_EQ(CheckVersion("", "1"), -2);
    EXPECT_EQ(CheckVersion("", ""), 0);
}

} // namespace
