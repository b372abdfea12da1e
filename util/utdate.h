#ifndef UTIL_UTDATE_H
#define UTIL_UTDATE_H

#include <ctime>
#include <string>

#include "util/uexception.h"

// Calendar and time values, all held as whole seconds since 1970-01-01
// 00:00:00 UTC in a 64-bit time_t. Every conversion is plain calendar
// arithmetic, so nothing depends on the local time zone, and the Gregorian
// calendar is used for all years.

namespace util {

class UTDate {
public:
    explicit UTDate(std::time_t t) : time_(t) {}

    std::time_t time() const { return time_; }

    // The broken-down time read as UTC; fields outside their ranges roll over
    // (month 12 is January of the next year).
    static std::time_t mkuttime(const std::tm *t);
    // The broken-down time read as the time of the German radio clock:
    // UTC+1, or UTC+2 when its daylight-saving flag is set.
    static std::time_t mkdcftime(const std::tm *t);

    // Fixed 25-character form "Thu Jan  1 00:00:00 1970\n" of the UTC time;
    // the text lives in a static buffer replaced by the next call.
    const char *toCString() const;
    // The same without the line feed.
    std::string toString() const;

protected:
    std::time_t time_;
};

// A time of day "hh:mm:ss[.ss]" on the current UTC date.
class UTTime : public UTDate {
public:
    explicit UTTime(const std::string &text);
    std::string toString() const; // "hh:mm:ss" (UTC)
};

class JulDate : public UTDate {
public:
    static constexpr double juldate_on_epoch_ = 2440587.5; // 1970-01-01 00:00 UTC
    static constexpr long seconds_of_day_ = 86400;
    static constexpr double juldate_first_ = 1721059.5; // 0000-01-01 00:00 UTC
    static constexpr double juldate_last_ = 5373484.5;  // 10000-01-01 00:00 UTC

    explicit JulDate(std::time_t t) : UTDate(t) {}

    double toDouble() const;
    std::time_t toTime_t(const double &julianDate) const;
    std::time_t toTime_t(const std::string &julianDate) const;
    std::string toString(int precision) const; // "%g" with precision digits
};

// Local sidereal time; the longitude (degrees) is subtracted from the
// Greenwich sidereal angle, so western longitudes are positive.
class LSTime : public UTDate {
public:
    LSTime(std::time_t t, double longitude) : UTDate(t), longitude_(longitude) {}

    double toDeg() const;                      // in [0, 360)
    double toHour() const;                     // in [0, 24)
    std::string toString(int precision) const; // "hh:mm:ss.sss"

private:
    double longitude_;
};

// Time telegram of the DCF77 radio clock: "D:DD.MM.YY;T:w;U:hh.mm.ss;    ",
// with 'S' at position 28 during summer time.
class DCFDate : public UTDate {
public:
    explicit DCFDate(const std::string &telegram);
    std::string toString() const; // in standard time (UTC+1)
};

// The date value of a FITS header: "YYYY-MM-DD", "YYYY-MM-DDThh:mm:ss[.sss]"
// or the obsolete "DD/MM/YY".
class FitsDate {
public:
    FitsDate(); // now
    explicit FitsDate(const std::string &text);

    std::time_t time() const { return time_; }
    // "YYYY-MM-DD" for a date alone, else "YYYY-MM-DDThh:mm:ss" (UTC).
    std::string toString() const;

private:
    std::time_t time_;
    bool dateOnly_;
};

} // namespace util

#endif
