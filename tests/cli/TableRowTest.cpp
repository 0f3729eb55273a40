// A parameter the library's table gains becomes an hsimctl option without
// any code in hsimctl: this program puts two rows of its own in front of the
// library's table (its definitions of the table functions take the place of
// the library's for hsimctl's code) and finds them as options with their
// range, refusals and channel syntax, setting them by name.
#include "Settings.h"
#include "hsim_ext.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* const kLevels[] = {"low", nullptr, "high"};
const HSIM_PARAMETER_INFO kExtra[] = {
    {"extra-row", "mV", HSIM_PARAMETER_NUMBER, HSIM_APPLY_DEFERRED, -3, 7, 1, 0, HSIM_PARAMETER_READABLE, nullptr},
    {"extra-choice", "", HSIM_PARAMETER_CHOICE, HSIM_APPLY_IMMEDIATE, 0, 2, 0, 2, HSIM_PARAMETER_READABLE, kLevels},
};
constexpr int kExtraRows = 2;

struct Call {
    std::string name;
    int channel;
    double value;
};
std::vector<Call> g_Calls;

template <class F>
F Real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int HSIMGetParameterCount(void)
{
    return kExtraRows + Real<int (*)()>("HSIMGetParameterCount")();
}

extern "C" int HSIMGetParameterInfo(int index, HSIM_PARAMETER_INFO* info)
{
    if (index >= 0 && index < kExtraRows && info != nullptr) {
        *info = kExtra[index];
        return 0;
    }
    return Real<int (*)(int, HSIM_PARAMETER_INFO*)>("HSIMGetParameterInfo")(index - kExtraRows, info);
}

extern "C" int HSIMSetChannelParameter(const char* name, int channel, double value)
{
    g_Calls.push_back({name, channel, value});
    return 0;
}

namespace {

struct Case {
    const char* option;
    const char* value;
    const char* refusal;  // part of the message; null when accepted
    Call call;            // what the accepted value sets
};

TEST(TableRows, ANewRowIsAnOptionWithItsRangeAndChannels)
{
    const Case cases[] = {
        {"extra-row", "2.5mV", nullptr, {"extra-row", -1, 2.5}},
        {"extra-row", "0.007V", nullptr, {"extra-row", -1, 7}},
        {"extra-row", "8mV", "-3..7 mV", {}},
        {"extra-row", "1:2mV", "not a value in mV", {}},  // one value: no channel
        {"extra-choice", "high", nullptr, {"extra-choice", -1, 2}},
        {"extra-choice", "1:LOW", nullptr, {"extra-choice", 1, 0}},
        {"extra-choice", "1", "low, high", {}},  // a value without a name
        {"extra-choice", "2:low", "0..1", {}},   // a channel that is none
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.value);
        const hsimctl::Parameter* p = hsimctl::FindParameter(c.option);
        ASSERT_NE(p, nullptr);
        std::string why;
        const auto apply = p->read(c.value, std::nullopt, why);
        if (c.refusal != nullptr) {
            EXPECT_FALSE(apply);
            EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
            continue;
        }
        ASSERT_TRUE(apply) << why;
        g_Calls.clear();
        EXPECT_EQ(apply(), 0);
        ASSERT_EQ(g_Calls.size(), 1u);
        EXPECT_EQ(g_Calls[0].name, c.call.name);
        EXPECT_EQ(g_Calls[0].channel, c.call.channel);
        EXPECT_DOUBLE_EQ(g_Calls[0].value, c.call.value);
    }
    EXPECT_NE(hsimctl::FindParameter("extra-row")->help.find("-3..7 mV"), std::string::npos);
    EXPECT_NE(hsimctl::FindParameter("extra-choice")->help.find("low, high"), std::string::npos);
}

}  // namespace
