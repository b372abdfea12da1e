#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "error_text.h"
#include "util/utdate.h"

namespace {

using util::DCFDate;
using util::FitsDate;
using util::JulDate;
using util::LSTime;
using util::UTDate;
using util::UTTime;

template <class F>
std::string dateError(F f)
{
    return errorText<util::UTDateException>(f);
}

// The C library's own UTC breakdown, as an independent reference.
std::tm gmt(std::time_t t)
{
    std::tm b{};
    gmtime_r(&t, &b);
    return b;
}

TEST(FitsDate, TextsGiveSecondsAndWriteBack)
{
    struct Case {
        const char *text;
        std::time_t seconds;
        const char *written;
    };
    const Case cases[] = {
        {"2000-01-01", 946684800, "2000-01-01"},
        {"1999-12-31T23:59:59.123", 946684799, "1999-12-31T23:59:59"},
        {"1999-12-31T23:59:59", 946684799, "1999-12-31T23:59:59"},
        {"1970-01-01T00:00:00", 0, "1970-01-01T00:00:00"},
        {"1969-12-31T23:59:59", -1, "1969-12-31T23:59:59"},
        {"1912-04-15T02:20:00", -1821303600, "1912-04-15T02:20:00"},
        {"2037-12-31T23:59:59", 2145916799, "2037-12-31T23:59:59"},
        {"2038-01-19T03:14:08", 2147483648, "2038-01-19T03:14:08"},
        {"9999-12-31T23:59:59", 253402300799, "9999-12-31T23:59:59"},
        {"0000-01-01", -62167219200, "0000-01-01"},
        {"2024-02-29", 1709164800, "2024-02-29"},
        {"2000-02-29", 951782400, "2000-02-29"},
        {"2016-12-31T23:59:60", 1483228800, "2017-01-01T00:00:00"}, // leap second
        {"05/03/99", 920592000, "1999-03-05"},
        {"05/03/50", -625708800, "1950-03-05"},
    };
    for (const Case &c : cases) {
        const FitsDate date(c.text);
        EXPECT_EQ(c.seconds, date.time()) << c.text;
        EXPECT_EQ(c.written, date.toString()) << c.text;
    }
}

TEST(FitsDate, TwoDigitYearsUpTo37AreAnnounced)
{
    testing::internal::CaptureStderr();
    const FitsDate date("05/03/05");
    EXPECT_EQ("FitsDate: Assuming date 2005. Date has obsolete syntax.\n",
              testing::internal::GetCapturedStderr());
    EXPECT_EQ("2005-03-05", date.toString());
    testing::internal::CaptureStderr();
    FitsDate("05/03/99");
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

TEST(FitsDate, MalformedAndImpossibleDatesAreRefused)
{
    const char *syntax[] = {
        "2000-1-01",  "2000-01-01T00:00",    "2000-01-01T1:00:00",  "05-03-99",
        "2000-0a-01", "2000-01-01 00:00:00", "2000-01-01T12:3x:00", "2000/01/01",
        "",           "-2000-01-01",         "2000x01y01T00:00:00"};
    for (const char *text : syntax)
        EXPECT_EQ(std::string("FitsDate: string '") + text +
                      "' has wrong syntax\n(not DD/MM/YY or YYYY-MM-DD[Thh:mm:ss[.sss...]])",
                  dateError([&] { FitsDate d(text); }));
    const char *impossible[] = {
        "2000-13-01",          "2000-02-30",          "2023-02-29", "1900-02-29",
        "2000-00-10",          "2000-04-31",          "2000-01-00", "2000-01-01T24:00:00",
        "2000-01-01T23:60:00", "2000-01-01T23:59:61", "31/04/99",   "01/00/99"};
    for (const char *text : impossible)
        EXPECT_EQ(std::string("FitsDate: Cannot convert date ") + text,
                  dateError([&] { FitsDate d(text); }));
}

TEST(FitsDate, DefaultIsNowInUtc)
{
    const std::time_t before = std::time(nullptr);
    const FitsDate now;
    const std::time_t after = std::time(nullptr);
    ASSERT_GE(now.time(), before);
    ASSERT_LE(now.time(), after);
    char expected[32];
    const std::tm b = gmt(now.time());
    std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%S", &b);
    EXPECT_EQ(expected, now.toString());
}

TEST(UTDate, AsctimeTextOfUtc)
{
    EXPECT_EQ("Thu Jan  1 00:00:00 1970", UTDate(0).toString());
    EXPECT_STREQ("Thu Jan  1 00:00:00 1970\n", UTDate(0).toCString());
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<long long> seconds(-62135596800LL, 253402300799LL);
    for (int i = 0; i < 500; ++i) {
        const std::time_t t = seconds(rng);
        std::tm b = gmt(t);
        char expected[64];
        asctime_r(&b, expected);
        ASSERT_STREQ(expected, UTDate(t).toCString()) << t;
    }
}

TEST(UTDate, ExtremeTimeValuesBreakDownWithoutOverflow)
{
    // The time of day of the smallest and largest 64-bit time values.
    EXPECT_NE(std::string::npos, UTDate(INT64_MIN).toString().find(" 08:29:52 "));
    EXPECT_NE(std::string::npos, UTDate(INT64_MAX).toString().find(" 15:30:07 "));
}

TEST(UTDate, BrokenDownTimesReadAsUtcRollOver)
{
    struct Case {
        int year, month, day, hour, minute, second; // tm fields: year - 1900, month 0-based
    };
    const Case cases[] = {
        {70, 0, 1, 0, 0, 0},    {100, 1, 29, 12, 0, 0},     {138, 0, 19, 3, 14, 8},
        {12, 3, 15, 2, 20, 0},  {100, 12, 1, 0, 0, 0},      {100, -1, 1, 0, 0, 0},
        {100, 0, 0, 0, 0, 0},   {100, 0, 1, 25, 61, 61},    {100, 0, 1, -1, 0, 0},
        {-1899, 0, 1, 0, 0, 0}, {8099, 11, 31, 23, 59, 59},
    };
    for (const Case &c : cases) {
        std::tm t{};
        t.tm_year = c.year;
        t.tm_mon = c.month;
        t.tm_mday = c.day;
        t.tm_hour = c.hour;
        t.tm_min = c.minute;
        t.tm_sec = c.second;
        std::tm copy = t;
        const std::time_t expected = timegm(&copy);
        EXPECT_EQ(expected, UTDate::mkuttime(&t)) << c.year << "-" << c.month << "-" << c.day;
        EXPECT_EQ(expected - 3600, UTDate::mkdcftime(&t));
        t.tm_isdst = 1;
        EXPECT_EQ(expected - 7200, UTDate::mkdcftime(&t));
    }
}

TEST(UTTime, TimeOfDayOnTodaysUtcDate)
{
    const std::time_t before = std::time(nullptr);
    const UTTime time("12:34:56.78");
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ("12:34:56", time.toString());
    EXPECT_EQ(45296, time.time() % 86400);
    const std::time_t day = time.time() / 86400;
    EXPECT_TRUE(day == before / 86400 || day == after / 86400);
    EXPECT_EQ("01:02:03", UTTime("1:2:3").toString());
    EXPECT_EQ("23:59:59", UTTime(" 23:59:59 ").toString());
}

TEST(UTTime, MalformedTimesAreRefused)
{
    for (const char *text : {"123456", "12:34", "", "ab:cd:ef", "12:34:5x", "25:00:00", "12:60:00",
                             "12:00:61", "-1:00:00", "12:00:00.5x", "123:00:00"})
        EXPECT_EQ(std::string("UTTime: string '") + text +
                      "' has wrong syntax\n(not ##:##:##[.##])",
                  dateError([&] { UTTime t(text); }));
}

TEST(JulDate, KnownJulianDates)
{
    struct Case {
        std::time_t seconds;
        double julian;
    };
    const Case cases[] = {
        {0, 2440587.5},
        {86400, 2440588.5},
        {946728000, 2451545.0},    // J2000.0, 2000-01-01T12:00
        {-2208988800, 2415020.5},  // 1900-01-01
        {2145916800, 2465424.5},   // 2038-01-01
        {-62167219200, 1721059.5}, // 0000-01-01
        {545059800, 2446896.0625}, // 1987-04-10T13:30
    };
    const JulDate any(0);
    for (const Case &c : cases) {
        EXPECT_NEAR(c.julian, JulDate(c.seconds).toDouble(), 1e-8) << c.seconds;
        EXPECT_EQ(c.seconds, any.toTime_t(c.julian)) << c.seconds;
    }
    EXPECT_EQ(946728000, any.toTime_t(std::string("2451545.0")));
    EXPECT_EQ("2451545", JulDate(946728000).toString(10));
    EXPECT_EQ("2440587.5", JulDate(0).toString(12));
    EXPECT_EQ("2.44e+06", JulDate(0).toString(3));
}

TEST(JulDate, RoundTripsAndLimits)
{
    const JulDate any(0);
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<long long> seconds(-62167219200LL, 253402300799LL);
    for (int i = 0; i < 1000; ++i) {
        const std::time_t t = seconds(rng);
        ASSERT_EQ(t, any.toTime_t(JulDate(t).toDouble())) << t;
    }
    EXPECT_EQ(253402300800, any.toTime_t(5373484.5));
    const std::string before = "JulDate: cannot handle dates before Jan. 1st 0000";
    const std::string after = "JulDate: cannot handle dates after Dec. 31st 9999";
    EXPECT_EQ(before, dateError([&] { any.toTime_t(1721059.4); }));
    EXPECT_EQ(before, dateError([&] { any.toTime_t(std::nan("")); }));
    EXPECT_EQ(before, dateError([&] { any.toTime_t(std::string("none")); }));
    EXPECT_EQ(after, dateError([&] { any.toTime_t(5373484.6); }));
    EXPECT_EQ(after, dateError([&] { any.toTime_t(HUGE_VAL); }));
}

TEST(LSTime, GreenwichSiderealTimeOfKnownInstants)
{
    // 1987-04-10 0h and 19:21 UT: 13h10m46.3668s and 8h34m57.0896s
    // (Meeus, Astronomical Algorithms, examples 12.a and 12.b).
    EXPECT_NEAR(197.693195, LSTime(545011200, 0.0).toDeg(), 1e-6);
    EXPECT_NEAR(128.7378734, LSTime(545080860, 0.0).toDeg(), 1e-6);
    EXPECT_EQ("13:10:46.37", LSTime(545011200, 0.0).toString(2));
    EXPECT_EQ("08:34:57.09", LSTime(545080860, 0.0).toString(2));
    EXPECT_NEAR(280.46061837, LSTime(946728000, 0.0).toDeg(), 1e-8);
    EXPECT_NEAR(18.697374558, LSTime(946728000, 0.0).toHour(), 1e-8);
    // The longitude is subtracted: 13h10m46s at Greenwich is 12h07m46s at 15.75 degrees west.
    EXPECT_NEAR(197.693195 - 15.75, LSTime(545011200, 15.75).toDeg(), 1e-6);
    EXPECT_NEAR(197.693195 + 200.0 - 360.0, LSTime(545011200, -200.0).toDeg(), 1e-6);
}

TEST(LSTime, AnglesStayInOneTurn)
{
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<long long> seconds(-62167219200LL, 253402300799LL);
    std::uniform_real_distribution<double> longitude(-720.0, 720.0);
    for (int i = 0; i < 2000; ++i) {
        const LSTime lst(seconds(rng), i % 10 ? longitude(rng) : 0.0);
        const double deg = lst.toDeg();
        ASSERT_GE(deg, 0.0);
        ASSERT_LT(deg, 360.0);
        ASSERT_LT(lst.toHour(), 24.0);
    }
    const double greenwich = LSTime(946728000, 0.0).toDeg();
    EXPECT_NEAR(0.0, LSTime(946728000, greenwich).toDeg(), 1e-9);
}

TEST(DCFDate, TelegramsInStandardAndSummerTime)
{
    struct Case {
        const char *telegram;
        std::time_t seconds;
        const char *written;
    };
    const Case cases[] = {
        {"D:10.04.87;T:5;U:14.30.00;    ", 545059800, "D:10.04.87;T:5;U:14.30.00;    "},
        {"D:10.07.24;T:3;U:14.30.00;  S ", 1720614600, "D:10.07.24;T:3;U:13.30.00;    "},
        {"D:19.01.38;T:2;U:04.14.08;    ", 2147483648, "D:19.01.38;T:2;U:04.14.08;    "},
        {"D:01.01.70;T:9;U:01.00.00;    ", 0, "D:01.01.70;T:4;U:01.00.00;    "},
        {"D:05.03.99;T:5;U:01.00.00;    ", 920592000, "D:05.03.99;T:5;U:01.00.00;    "},
        {"D:01.01.00;T:6;U:00.59.59;    ", 946684799, "D:01.01.00;T:6;U:00.59.59;    "},
    };
    for (const Case &c : cases) {
        const DCFDate date(c.telegram);
        EXPECT_EQ(c.seconds, date.time()) << c.telegram;
        EXPECT_EQ(c.written, date.toString()) << c.telegram;
    }
}

TEST(DCFDate, WeekdayDigitMatchesTheDate)
{
    std::mt19937_64 rng(2);
    std::uniform_int_distribution<long long> seconds(0, 3155760000LL - 7200); // 1970 to 2069
    for (int i = 0; i < 300; ++i) {
        const std::time_t t = seconds(rng);
        const std::tm cet = gmt(t + 3600);
        char expected[32];
        std::strftime(expected, sizeof expected, "D:%d.%m.%y;T:%w;U:%H.%M.%S;    ", &cet);
        ASSERT_EQ(expected, DCFDate(expected).toString());
        ASSERT_EQ(t, DCFDate(expected).time());
        ASSERT_EQ(30u, std::strlen(expected));
    }
}

TEST(DCFDate, MalformedAndImpossibleTelegramsAreRefused)
{
    const char *syntax[] = {"D:10.04.87;T:5;U:14.30.00;   ", "D:10.04.87;T:5;U:14.30.00;     ",
                            "D:1x.04.87;T:5;U:14.30.00;    ", "D:10.04.87;T:5;U:14.30. 0;    "};
    for (const char *text : syntax)
        EXPECT_EQ(std::string("DCFDate: string '") + text +
                      "' has wrong syntax\n(not \"D:DD.MM.YY;T:w;U:hh.mm.ss;    \")",
                  dateError([&] { DCFDate d(text); }));
    const char *impossible[] = {"D:31.02.24;T:5;U:14.30.00;    ", "D:10.13.24;T:5;U:14.30.00;    ",
                                "D:10.04.24;T:5;U:24.00.00;    ", "D:00.04.24;T:5;U:14.30.00;    "};
    for (const char *text : impossible)
        EXPECT_EQ(std::string("DCFDate: Cannot convert date ") + text,
                  dateError([&] { DCFDate d(text); }));
}

} // namespace
