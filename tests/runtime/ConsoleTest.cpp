// The yes/no prompt on standard input.
#include "hsim.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <stdio_ext.h>
#include <string>
#include <unistd.h>

namespace {

// Runs PressYesNoToContinue with `input` as standard input and returns the
// answer; *printed receives what it wrote to standard output.
bool Answer(const char* prompt, const std::string& input, std::string* printed)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fds[1]); // end of input after the text

    const int savedStdin = dup(STDIN_FILENO);
    fflush(stdout);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    __fpurge(stdin);
    clearerr(stdin);

    testing::internal::CaptureStdout();
    const bool yes = PressYesNoToContinue(prompt);
    *printed = testing::internal::GetCapturedStdout();

    dup2(savedStdin, STDIN_FILENO);
    close(savedStdin);
    __fpurge(stdin);
    clearerr(stdin);
    return yes;
}

TEST(PressYesNoTest, FirstYesOrNoDecidesOtherKeysAreIgnored)
{
    std::string printed;
    EXPECT_TRUE(Answer("Continue? ", "x q\nY", &printed));
    EXPECT_EQ(printed, "Continue? y");
    EXPECT_TRUE(Answer("", "y", &printed));
    EXPECT_EQ(printed, "y");
    EXPECT_FALSE(Answer("Continue? ", "abN", &printed));
    EXPECT_EQ(printed, "Continue? n");
    EXPECT_FALSE(Answer("", "nY", &printed));
    EXPECT_EQ(printed, "n");
}

TEST(PressYesNoTest, EndOfInputCountsAsNo)
{
    std::string printed;
    EXPECT_FALSE(Answer("Continue? ", "", &printed));
    EXPECT_EQ(printed, "Continue? n");
    EXPECT_FALSE(Answer("Continue? ", "x?z\n", &printed)); // no y or n before the end
    EXPECT_FALSE(Answer(nullptr, "", &printed));
    EXPECT_EQ(printed, "n");
}

} // namespace
