#include "util/utdate.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "util/stringfac.h"

namespace util {

namespace {

using std::int64_t;

constexpr int64_t kSecondsPerDay = 86400;

int64_t floorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
int64_t floorMod(int64_t a, int64_t b)
{
    return a - floorDiv(a, b) * b;
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    const int64_t era = floorDiv(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Civil {
    int64_t year;
    int month; // 1..12
    int day;   // 1..31
};

Civil civilFromDays(int64_t z)
{
    z += 719468;
    const int64_t era = floorDiv(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2), month, day};
}

bool isLeap(int64_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int64_t y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// UTC breakdown of t.
struct Broken {
    int64_t year;
    int month, day, hour, minute, second, weekday; // weekday 0 = Sunday
};

Broken breakDown(std::time_t t)
{
    // Remainder first: days * 86400 can overflow for the extreme time values.
    int64_t secs = t % kSecondsPerDay;
    int64_t days = t / kSecondsPerDay;
    if (secs < 0) {
        secs += kSecondsPerDay;
        --days;
    }
    const Civil c = civilFromDays(days);
    return {c.year,
            c.month,
            c.day,
            static_cast<int>(secs / 3600),
            static_cast<int>(secs / 60 % 60),
            static_cast<int>(secs % 60),
            static_cast<int>(floorMod(days + 4, 7))}; // 1970-01-01 was a Thursday
}

// Field values of a date as read from text, before they are checked.
struct Fields {
    int64_t year = 0;
    int month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Whether the fields name a real instant; a leap second (60) is allowed and
// counts as the first second of the next minute.
bool isValid(const Fields &f)
{
    return f.month >= 1 && f.month <= 12 && f.day >= 1 && f.day <= daysInMonth(f.year, f.month) &&
           f.hour >= 0 && f.hour <= 23 && f.minute >= 0 && f.minute <= 59 && f.second >= 0 &&
           f.second <= 60;
}

// The fields as a broken-down time, for UTDate's conversions.
std::tm toTm(const Fields &f)
{
    std::tm t{};
    t.tm_year = static_cast<int>(f.year) - 1900;
    t.tm_mon = f.month - 1;
    t.tm_mday = f.day;
    t.tm_hour = f.hour;
    t.tm_min = f.minute;
    t.tm_sec = f.second;
    return t;
}

// Reads count decimal digits at pos; false when any of them is not a digit.
bool readDigits(const std::string &text, std::size_t pos, std::size_t count, int &value)
{
    if (pos + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isdigit(c))
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// Reads the date "YYYY-MM-DD" that begins text.
bool readIsoDate(const std::string &text, int &year, Fields &f)
{
    return text.size() >= 10 && text[4] == '-' && text[7] == '-' && readDigits(text, 0, 4, year) &&
           readDigits(text, 5, 2, f.month) && readDigits(text, 8, 2, f.day);
}

bool allDigits(const std::string &text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

// ---------------------------------------------------------------- UTDate

std::time_t UTDate::mkuttime(const std::tm *t)
{
    const int64_t months = static_cast<int64_t>(t->tm_year) * 12 + t->tm_mon;
    const int64_t year = 1900 + floorDiv(months, 12);
    const int64_t month = floorMod(months, 12) + 1;
    const int64_t days = daysFromCivil(year, month, 1) + (static_cast<int64_t>(t->tm_mday) - 1);
    return static_cast<std::time_t>(days * kSecondsPerDay +
                                    static_cast<int64_t>(t->tm_hour) * 3600 +
                                    static_cast<int64_t>(t->tm_min) * 60 + t->tm_sec);
}

std::time_t UTDate::mkdcftime(const std::tm *t)
{
    return mkuttime(t) - (t->tm_isdst > 0 ? 7200 : 3600);
}

const char *UTDate::toCString() const
{
    static const char *const weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static char buffer[64];
    const Broken b = breakDown(time_);
    std::snprintf(buffer, sizeof buffer, "%.3s %.3s%3d %.2d:%.2d:%.2d %lld\n", weekdays[b.weekday],
                  months[b.month - 1], b.day, b.hour, b.minute, b.second,
                  static_cast<long long>(b.year));
    return buffer;
}

std::string UTDate::toString() const
{
    std::string text = toCString();
    text.pop_back();
    return text;
}

// ---------------------------------------------------------------- UTTime

UTTime::UTTime(const std::string &text) : UTDate(std::time(nullptr))
{
    const UTDateException syntax("UTTime: string '" + text +
                                 "' has wrong syntax\n(not ##:##:##[.##])");
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    const std::string s = text.substr(begin, end - begin);

    const std::size_t first = s.find(':');
    if (first == std::string::npos)
        throw syntax;
    const std::size_t second = s.find(':', first + 1);
    if (second == std::string::npos)
        throw syntax;
    const std::string hours = s.substr(0, first);
    const std::string minutes = s.substr(first + 1, second - first - 1);
    std::string seconds = s.substr(second + 1);
    const std::size_t point = seconds.find('.');
    if (point != std::string::npos) {
        // A fraction of the second is allowed and dropped.
        const std::string fraction = seconds.substr(point + 1);
        if (!fraction.empty() && !allDigits(fraction))
            throw syntax;
        seconds.erase(point);
    }
    if (!allDigits(hours) || !allDigits(minutes) || !allDigits(seconds) || hours.size() > 2 ||
        minutes.size() > 2 || seconds.size() > 2)
        throw syntax;
    const int h = std::atoi(hours.c_str()), m = std::atoi(minutes.c_str()),
              sec = std::atoi(seconds.c_str());
    if (h > 23 || m > 59 || sec > 60)
        throw syntax;

    const int64_t today = floorDiv(time_, kSecondsPerDay) * kSecondsPerDay;
    time_ = static_cast<std::time_t>(today + h * 3600 + m * 60 + sec);
}

std::string UTTime::toString() const
{
    const Broken b = breakDown(time_);
    return detail::formatText("%02d:%02d:%02d", b.hour, b.minute, b.second);
}

// ---------------------------------------------------------------- JulDate

double JulDate::toDouble() const
{
    const double perSecond = 1.0 / 86400.0;
    return static_cast<double>(time_) * perSecond + juldate_on_epoch_;
}

std::time_t JulDate::toTime_t(const double &julianDate) const
{
    // Written so that a value that is not a number fails here too.
    if (!(julianDate >= juldate_first_))
        throw UTDateException("JulDate: cannot handle dates before Jan. 1st 0000");
    if (julianDate > juldate_last_)
        throw UTDateException("JulDate: cannot handle dates after Dec. 31st 9999");
    return static_cast<std::time_t>(
        std::floor((julianDate - juldate_on_epoch_) * seconds_of_day_ + 0.5));
}

std::time_t JulDate::toTime_t(const std::string &julianDate) const
{
    return toTime_t(std::strtod(julianDate.c_str(), nullptr));
}

std::string JulDate::toString(int precision) const
{
    return detail::formatText("%.*g", precision, toDouble());
}

// ---------------------------------------------------------------- LSTime

double LSTime::toDeg() const
{
    const double perSecond = 1.0 / 86400.0;
    const double perCentury = 2.7378507871321012e-05; // 1 / 36525 days
    const double T = (static_cast<double>(time_) * perSecond - 10957.5) * perCentury;
    const double greenwich =
        (((-2.5833118057349522e-08 * T + 0.000387933) * T + 13185000.770053742) * T + 280.46061837);
    double angle = std::fmod(std::fmod(greenwich, 360.0) - longitude_, 360.0);
    if (angle < 0)
        angle += 360.0;
    if (angle >= 360.0)
        angle = 0.0; // a tiny negative remainder plus 360 rounds to 360
    return angle;
}

double LSTime::toHour() const
{
    return toDeg() * (1.0 / 15.0);
}

std::string LSTime::toString(int precision) const
{
    return StringFactory::toMinSecString(toHour(), precision);
}

// ---------------------------------------------------------------- DCFDate

DCFDate::DCFDate(const std::string &telegram) : UTDate(0)
{
    const UTDateException syntax("DCFDate: string '" + telegram +
                                 "' has wrong syntax\n(not \"D:DD.MM.YY;T:w;U:hh.mm.ss;    \")");
    if (telegram.size() != 30)
        throw syntax;
    Fields f;
    int yy = 0;
    if (!readDigits(telegram, 23, 2, f.second) || !readDigits(telegram, 20, 2, f.minute) ||
        !readDigits(telegram, 17, 2, f.hour) || !readDigits(telegram, 2, 2, f.day) ||
        !readDigits(telegram, 5, 2, f.month) || !readDigits(telegram, 8, 2, yy))
        throw syntax;
    // The radio clock sends the present: its time code began in the 1970s.
    f.year = yy < 70 ? 2000 + yy : 1900 + yy;
    if (!isValid(f))
        throw UTDateException("DCFDate: Cannot convert date " + telegram);
    std::tm t = toTm(f);
    t.tm_isdst = telegram[28] == 'S' ? 1 : 0;
    time_ = mkdcftime(&t);
}

std::string DCFDate::toString() const
{
    const Broken b = breakDown(time_ + 3600);
    return detail::formatText("D:%02d.%02d.%02d;T:%d;U:%02d.%02d.%02d;    ", b.day, b.month,
                              static_cast<int>(floorMod(b.year, 100)), b.weekday, b.hour, b.minute,
                              b.second);
}

// ---------------------------------------------------------------- FitsDate

FitsDate::FitsDate() : time_(std::time(nullptr)), dateOnly_(false) {}

FitsDate::FitsDate(const std::string &text) : time_(0), dateOnly_(true)
{
    const UTDateException syntax(
        "FitsDate: string '" + text +
        "' has wrong syntax\n(not DD/MM/YY or YYYY-MM-DD[Thh:mm:ss[.sss...]])");
    Fields f;
    int year = 0;
    bool obsolete = false;
    if (text.size() == 8) {
        if (text[2] != '/' || text[5] != '/')
            throw syntax;
        int yy = 0;
        if (!readDigits(text, 0, 2, f.day) || !readDigits(text, 3, 2, f.month) ||
            !readDigits(text, 6, 2, yy))
            throw syntax;
        obsolete = yy <= 37;
        year = yy <= 37 ? 2000 + yy : 1900 + yy;
    } else if (text.size() == 10) {
        if (!readIsoDate(text, year, f))
            throw syntax;
    } else {
        // Whatever follows the seconds (a fraction, usually) is not read.
        if (text.size() < 19 || !readIsoDate(text, year, f) || text[10] != 'T' || text[13] != ':' ||
            text[16] != ':')
            throw syntax;
        if (!readDigits(text, 11, 2, f.hour) || !readDigits(text, 14, 2, f.minute) ||
            !readDigits(text, 17, 2, f.second))
            throw syntax;
        dateOnly_ = false;
    }
    f.year = year;
    if (!isValid(f))
        throw UTDateException("FitsDate: Cannot convert date " + text);
    if (obsolete)
        std::cerr << "FitsDate: Assuming date " << year << ". Date has obsolete syntax."
                  << std::endl;
    const std::tm t = toTm(f);
    time_ = UTDate::mkuttime(&t);
}

std::string FitsDate::toString() const
{
    const Broken b = breakDown(time_);
    if (dateOnly_)
        return detail::formatText("%04lld-%02d-%02d", static_cast<long long>(b.year), b.month,
                                  b.day);
    return detail::formatText("%04lld-%02d-%02dT%02d:%02d:%02d", static_cast<long long>(b.year),
                              b.month, b.day, b.hour, b.minute, b.second);
}

} // namespace util
