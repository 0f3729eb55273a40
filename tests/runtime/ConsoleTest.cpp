// The yes/no prompt on standard input.
#include "hsim.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

TEST(PressYesNoTest, FirstYesOrNoDecidesAndEndOfInputCountsAsNo)
{
    // Other keys are ignored; the answer is echoed after the prompt.
    const struct { const char* prompt; std::string input; bool yes; const char* echo; } kInput[] = {
        {"Go? ", "x q\nY", true, "Go? y"}, {"", "y", true, "y"}, {"Go? ", "abN", false, "Go? n"},
        {"", "nY", false, "n"}, {"Go? ", "", false, "Go? n"}, {"Go? ", "x?z\n", false, "Go? n"},
        {nullptr, "", false, "n"}};
    for (auto c : kInput) {
        FILE* const terminal = stdin;
        stdin = fmemopen(c.input.data(), c.input.size(), "r");
        ASSERT_NE(stdin, nullptr);
        testing::internal::CaptureStdout();
        const bool yes = PressYesNoToContinue(c.prompt);
        const std::string printed = testing::internal::GetCapturedStdout();
        fclose(stdin);
        stdin = terminal;
        EXPECT_EQ(yes, c.yes) << '"' << c.input << '"';
        EXPECT_EQ(printed, c.echo) << '"' << c.input << '"';
    }
}
