// Dates and times read from text.
#include "hsim.h"

#include "runtime/Utilities.h"

#include <gtest/gtest.h>

namespace {

constexpr int kDefaultDate = 20110101;

int Date(const char* text, const char* format)
{
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%s", text);
    return parseDate(buffer, format);
}

int Time(const char* text, const char* format)
{
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%s", text);
    return parseTime(buffer, format);
}

TEST(MonthNameTest, ThreeLetterNamesInAnyCase)
{
    char jan[] = "jan";
    char dec[] = "DEC";
    char mixed[] = "SeP";
    char longer[] = "JANUARY";
    char shorter[] = "JA";
    char empty[] = "";
    EXPECT_EQ(iMMMtoMonth(jan), 1);
    EXPECT_EQ(iMMMtoMonth(dec), 12);
    EXPECT_EQ(iMMMtoMonth(mixed), 9);
    EXPECT_EQ(iMMMtoMonth(longer), 0); // the whole text must match
    EXPECT_EQ(iMMMtoMonth(shorter), 0);
    EXPECT_EQ(iMMMtoMonth(empty), 0);
    EXPECT_EQ(iMMMtoMonth(nullptr), 0);
}

TEST(ParseDateTest, DayMonthNameYear)
{
    EXPECT_EQ(Date("05-mar-2019", "dd-MMM-yyyy"), 20190305);
    EXPECT_EQ(Date("31-DEC-1999", "dd-MMM-yyyy"), 19991231);
    EXPECT_EQ(Date("01-Jan-2000 12:00", "dd-MMM-yyyy"), 20000101);
    // Unknown month, missing year, day not a number.
    EXPECT_EQ(Date("05-xyz-2019", "dd-MMM-yyyy"), kDefaultDate);
    EXPECT_EQ(Date("05-mar-", "dd-MMM-yyyy"), kDefaultDate);
    EXPECT_EQ(Date("xx-mar-2019", "dd-MMM-yyyy"), kDefaultDate);
}

TEST(ParseDateTest, DayMonthTwoDigitYear)
{
    EXPECT_EQ(Date("31.12.99", "dd.MM.yy"), 19991231);
    EXPECT_EQ(Date("01.01.80", "dd.MM.yy"), 20800101);
    EXPECT_EQ(Date("01.01.81", "dd.MM.yy"), 19810101);
    EXPECT_EQ(Date("29.02.00", "dd.MM.yy"), 20000229);
    // A year written in full is taken as it is.
    EXPECT_EQ(Date("15.06.2019", "dd.MM.yy"), 20190615);
    EXPECT_EQ(Date("15.xx.19", "dd.MM.yy"), kDefaultDate);
}

TEST(ParseDateTest, UnknownFormatShortTextAndNullGiveTheDefault)
{
    EXPECT_EQ(Date("2019-03-05", "yyyy-MM-dd"), kDefaultDate);
    EXPECT_EQ(Date("05-mar-2019", "DD-MMM-YYYY"), kDefaultDate); // formats are exact
    // Texts too short to hold the fields are refused without being cut.
    char shortDate[] = "05-mar";
    EXPECT_EQ(parseDate(shortDate, "dd-MMM-yyyy"), kDefaultDate);
    EXPECT_STREQ(shortDate, "05-mar");
    char shortDotted[] = "1.1.";
    EXPECT_EQ(parseDate(shortDotted, "dd.MM.yy"), kDefaultDate);
    EXPECT_EQ(Date("", "dd.MM.yy"), kDefaultDate);
    EXPECT_EQ(parseDate(nullptr, "dd.MM.yy"), kDefaultDate);
    char text[] = "31.12.99";
    EXPECT_EQ(parseDate(text, nullptr), kDefaultDate);
}

TEST(ParseTimeTest, HoursWithoutLeadingZero)
{
    EXPECT_EQ(Time("7.05.09", "H.mm.ss"), 70509);
    EXPECT_EQ(Time("23.59.59", "H.mm.ss"), 235959);
    EXPECT_EQ(Time("7-05-09", "H.mm.ss"), 0);
    EXPECT_EQ(Time("7.05", "H.mm.ss"), 0); // second '.' missing
    EXPECT_EQ(Time("7..09", "H.mm.ss"), 0); // empty minutes
    EXPECT_EQ(Time("7.05.", "H.mm.ss"), 0); // empty seconds
}

TEST(ParseTimeTest, TwoDigitHours)
{
    EXPECT_EQ(Time("07.05.09", "HH.mm.ss"), 70509);
    EXPECT_EQ(Time("12.30.45", "HH.mm.ss"), 123045);
    EXPECT_EQ(Time("12.xx.45", "HH.mm.ss"), 0);
    char shortTime[] = "7.5";
    EXPECT_EQ(parseTime(shortTime, "HH.mm.ss"), 0);
    EXPECT_STREQ(shortTime, "7.5");
}

TEST(ParseTimeTest, UnknownFormatAndNull)
{
    EXPECT_EQ(Time("07:05:09", "HH:mm:ss"), 0);
    EXPECT_EQ(parseTime(nullptr, "H.mm.ss"), 0);
    char text[] = "7.05.09";
    EXPECT_EQ(parseTime(text, nullptr), 0);
}

} // namespace
