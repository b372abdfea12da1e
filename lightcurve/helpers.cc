#include "lightcurve/helpers.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

namespace {

constexpr double kPi = 3.14159265358979;

// Julian date at 0 h of the day.
double julianDay(int year, int month, int day)
{
    const double k = year * 10000.0 + month * 100.0 + day;
    long y = year;
    long m = month;
    if (month <= 2) {
        y = year - 1L;
        m = month + 12L;
    }
    // Gregorian calendar after 4 October 1582; the divisions truncate.
    const long b = k > 15821004.1 ? y / 400 - y / 100 + y / 4 : (y + 4716) / 4 - 1181;
    const long mjd =
        b + (365 * y - 679004) + static_cast<long>(30.6001 * static_cast<double>(m + 1)) + day;
    return static_cast<double>(mjd);
}

} // namespace

double julian(int year, int month, int day, int hour, int minute, double second)
{
    return julianDay(year, month, day) + hour / 24.0 + minute / 1440.0 + second / 86400.0 +
           2400000.5;
}

double julian(int year, int month, int day, double hours)
{
    return julianDay(year, month, day) + hours / 24.0 + 2400000.5;
}

void PixelToradec(double &ra, double &dec, double x, double y, double ra0, double dec0, double x0,
                  double y0, double sx, double sy)
{
    dec = (y - y0) * sy + dec0;
    ra = (x - x0) * sx / std::cos(dec * kPi / 180.0) + ra0;
}

void radecToPixel(double ra, double dec, double &x, double &y, double ra0, double dec0, double x0,
                  double y0, double sx, double sy)
{
    // The offset in right ascension shrinks by cos(dec) on the sky, as
    // PixelToradec widens it.
    x = (ra - ra0) * std::cos(dec * kPi / 180.0) / sx + x0;
    y = (dec - dec0) / sy + y0;
}

double flux2mag(double flux)
{
    return -2.5 * std::log10(flux / 3060.0);
}

void wait_seconds(long n)
{
    const std::time_t start = std::time(nullptr);
    const auto wake = std::chrono::system_clock::from_time_t(start + n + 1);
    while (std::time(nullptr) <= start + n) {
        if (std::chrono::system_clock::now() < wake)
            std::this_thread::sleep_until(wake);
        else // the calendar clock was set back meanwhile
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}
