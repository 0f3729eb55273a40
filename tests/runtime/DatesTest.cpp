// Dates and times read from text.
#include "hsim.h"

#include "runtime/Utilities.h"

#include <gtest/gtest.h>

#include <string>

constexpr int kDefaultDate = 20110101;

// `after`, where given, is the text afterwards: a text too short to hold
// every field is refused without being cut.
struct DateCase { const char* text; const char* format; int value; const char* after = nullptr; };

static void Check(int (*parse)(char*, const char*), const DateCase& c)
{
    std::string copy = c.text != nullptr ? c.text : "";
    EXPECT_EQ(parse(c.text != nullptr ? copy.data() : nullptr, c.format), c.value)
        << (c.text ? c.text : "(null)") << " as " << (c.format ? c.format : "(null)");
    EXPECT_TRUE(c.after == nullptr || copy == c.after) << "cut although refused: " << copy;
}

TEST(MonthNameTest, ThreeLetterNamesInAnyCase)
{
    const DateCase kNames[] = {{"jan", "", 1}, {"DEC", "", 12}, {"SeP", "", 9}, {"JANUARY", "", 0},
                               {"JA", "", 0},  {"", "", 0},     {nullptr, "", 0}};
    for (const DateCase& c : kNames)
        Check([](char* name, const char*) { return iMMMtoMonth(name); }, c);
}

TEST(ParseDateTest, DayMonthYearFormats)
{
    // Two-digit years: 00..80 are 2000..2080, 81..99 are 1981..1999; a year
    // written in full is taken as it is. Formats are matched exactly. The
    // shortest texts that hold every field are read, one character less is
    // refused without a cut.
    const DateCase kDates[] = {
        {"05-mar-2019", "dd-MMM-yyyy", 20190305},   {"31-DEC-1999", "dd-MMM-yyyy", 19991231},
        {"01-Jan-2000 12:00", "dd-MMM-yyyy", 20000101}, {"05-mar-9", "dd-MMM-yyyy", 90305},
        {"05-xyz-2019", "dd-MMM-yyyy", kDefaultDate}, {"xx-mar-2019", "dd-MMM-yyyy", kDefaultDate},
        {"05-mar-", "dd-MMM-yyyy", kDefaultDate, "05-mar-"},
        {"05-mar", "dd-MMM-yyyy", kDefaultDate, "05-mar"},
        {"31.12.99", "dd.MM.yy", 19991231},         {"01.01.80", "dd.MM.yy", 20800101},
        {"01.01.81", "dd.MM.yy", 19810101},         {"29.02.00", "dd.MM.yy", 20000229},
        {"15.06.2019", "dd.MM.yy", 20190615},       {"01.01.100", "dd.MM.yy", 1000101},
        {"15.xx.19", "dd.MM.yy", kDefaultDate},     {"05.03.9", "dd.MM.yy", 20090305},
        {"05.03.", "dd.MM.yy", kDefaultDate, "05.03."}, {"1.1.", "dd.MM.yy", kDefaultDate, "1.1."},
        {"", "dd.MM.yy", kDefaultDate},             {nullptr, "dd.MM.yy", kDefaultDate},
        {"31.12.99", nullptr, kDefaultDate},        {"2019-03-05", "yyyy-MM-dd", kDefaultDate},
        {"05-mar-2019", "DD-MMM-YYYY", kDefaultDate}};
    for (const DateCase& c : kDates)
        Check(parseDate, c);
}

TEST(ParseTimeTest, HourMinuteSecondFormats)
{
    const DateCase kTimes[] = {
        {"7.05.09", "H.mm.ss", 70509},   {"23.59.59", "H.mm.ss", 235959}, {"7-05-09", "H.mm.ss", 0},
        {"7.05", "H.mm.ss", 0},          {"7..09", "H.mm.ss", 0},         {"7.05.", "H.mm.ss", 0},
        {"07.05.09", "HH.mm.ss", 70509}, {"12.30.45", "HH.mm.ss", 123045},
        {"07.05.9", "HH.mm.ss", 70509},  {"07.05.", "HH.mm.ss", 0, "07.05."},
        {"12.xx.45", "HH.mm.ss", 0},     {"7.5", "HH.mm.ss", 0, "7.5"},
        {"07:05:09", "HH:mm:ss", 0},     {nullptr, "H.mm.ss", 0},         {"7.05.09", nullptr, 0}};
    for (const DateCase& c : kTimes)
        Check(parseTime, c);
}
