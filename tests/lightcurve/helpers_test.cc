#include "lightcurve/helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

TEST(Julian, KnownDates)
{
    struct Case {
        int year, month, day, hour, minute;
        double second, jd;
    };
    const Case cases[] = {
        {2000, 1, 1, 12, 0, 0, 2451545.0},   // epoch J2000.0
        {1582, 10, 4, 0, 0, 0, 2299159.5},   // last day of the Julian calendar
        {1582, 10, 15, 0, 0, 0, 2299160.5},  // first Gregorian day, the next one
        {1858, 11, 17, 0, 0, 0, 2400000.5},  // modified Julian date 0
        {1970, 1, 1, 0, 0, 0, 2440587.5},    // Unix epoch
        {2024, 2, 29, 18, 0, 0, 2460370.25}, // a leap day
        {2000, 3, 1, 6, 30, 36, 2451604.771250},
        {-4712, 1, 1, 12, 0, 0, 0.0}, // the origin of Julian dates
    };
    for (const Case &c : cases) {
        EXPECT_NEAR(c.jd, julian(c.year, c.month, c.day, c.hour, c.minute, c.second), 1e-6)
            << c.year << "-" << c.month << "-" << c.day;
        EXPECT_NEAR(c.jd,
                    julian(c.year, c.month, c.day, c.hour + c.minute / 60.0 + c.second / 3600.0),
                    1e-6);
    }
    EXPECT_EQ(julian(2011, 7, 14, 12, 0, 0), julian(2011, 7, 14, 12.0));
}

// Days between two dates agree with the C library's calendar arithmetic.
TEST(Julian, DayCountsAgreeWithTimegm)
{
    for (int year = 1600; year <= 2400; year += 7)
        for (int month = 1; month <= 12; ++month) {
            std::tm t{};
            t.tm_year = year - 1900;
            t.tm_mon = month - 1;
            t.tm_mday = 1 + (year + month) % 28;
            const double days = static_cast<double>(timegm(&t)) / 86400.0;
            EXPECT_EQ(2440587.5 + days, julian(year, month, t.tm_mday, 0, 0, 0))
                << year << "-" << month;
        }
}

TEST(SkyCoordinates, PixelAndSkyInvertEachOther)
{
    const double ra0 = 150.0, dec0 = 60.0, x0 = 512, y0 = 400, sx = -2.8e-4, sy = 2.8e-4;
    for (double x : {1.0, 256.5, 1024.0})
        for (double y : {1.0, 400.0, 800.0}) {
            double ra, dec, bx, by;
            PixelToradec(ra, dec, x, y, ra0, dec0, x0, y0, sx, sy);
            EXPECT_NEAR((y - y0) * sy + dec0, dec, 1e-12);
            EXPECT_NEAR((x - x0) * sx / std::cos(dec * std::acos(-1.0) / 180) + ra0, ra, 1e-9);
            radecToPixel(ra, dec, bx, by, ra0, dec0, x0, y0, sx, sy);
            EXPECT_NEAR(x, bx, 1e-9);
            EXPECT_NEAR(y, by, 1e-9);
        }
}

TEST(Flux2mag, ZeroAtTheReferenceFlux)
{
    EXPECT_EQ(0.0, flux2mag(3060));
    EXPECT_NEAR(5.0, flux2mag(30.6), 1e-12);
    EXPECT_NEAR(-2.5, flux2mag(30600), 1e-12);
}

// Measures the wait itself: it must pass the clock's second after the
// call's second, and sleep rather than spin while it waits.
TEST(WaitSeconds, SleepsPastTheNextSecond)
{
    const std::time_t before = std::time(nullptr);
    const std::clock_t cpu = std::clock();
    wait_seconds(1);
    EXPECT_GE(std::time(nullptr), before + 2);
    EXPECT_LT(static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC, 0.5);
    wait_seconds(-3); // already past: returns at once
}
