// Packing and comparing dotted versions.
#include "hsim.hpp"

#include <gtest/gtest.h>

TEST(ConvertVersionTest, PacksOneByteAField)
{
    // Missing fields count as 0; reading stops at a gap or a non-digit.
    const struct { const char* text; int packed; } kVersions[] = {
        {"1.0.5.2", 16778498}, {"2.1", 0x02010000},           {"7", 0x07000000},
        {"1..3", 0x01000000},  {"10.20.30.40", 0x0A141E28},   {"255.255.255.255", -1},
        {"", 0},               {"v1.2", 0},                   {nullptr, 0},
    };
    for (const auto& c : kVersions)
        EXPECT_EQ(ConvertVersion(c.text), c.packed) << (c.text ? c.text : "(null)");
}

TEST(CheckVersionTest, ComparesFieldsNumerically)
{
    // -2: the field counts differ; a run of dots is one separator.
    const struct { const char* a; const char* b; int result; } kPairs[] = {
        {"1.2.3", "1.2.3", 0},   {"1.2.3", "1.10.0", -1},    {"1.10.0", "1.2.3", 1},
        {"1.01", "1.1", 0},      {"2", "10", -1},            {"1.0.5.3", "1.0.5.2", 1},
        {"2.0", "1.9", 1},       {"1..2", "1.2", 0},         {"1.2", "1.2.0", -2},
        {"1.2.0", "1.2", -2},    {"", "1", -2},              {"", "", 0},
    };
    for (const auto& c : kPairs)
        EXPECT_EQ(CheckVersion(c.a, c.b), c.result) << c.a << " vs " << c.b;
}
