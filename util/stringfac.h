#ifndef UTIL_STRINGFAC_H
#define UTIL_STRINGFAC_H

#include <string>

#include "util/uexception.h"

namespace util {

namespace detail {
// printf into a std::string of whatever length the text needs.
std::string formatText(const char *format, ...) __attribute__((format(printf, 1, 2)));
} // namespace detail

// The value in general notation with 6 significant digits ("%g") when that
// text reads back as the same value, else with the fewest more digits that
// do: a text that carries the value exactly, as short as it can be.
std::string exactText(double value);
std::string exactText(float value);

// Numbers into text of a preset width (for fixed header columns), and
// decimal or sexagesimal text back into numbers. Never instantiated.
class StringFactory {
public:
    StringFactory() = delete;

    static inline const std::string factory_text = "StringFactory: ";
    static inline const std::string error_text =
        " is too wide\ncannot create string with preset width.";

    // Right-aligned in width columns; StringException when it does not fit.
    static std::string toString(int value, int width) { return intToString(value, width); }
    static std::string toString(long value, int width) { return intToString(value, width); }

    // General notation with precision significant digits, right-aligned in
    // width columns; one retry with fewer digits, then StringException.
    static std::string toString(double value, int width, int precision)
    {
        return floatToString(value, width, precision);
    }
    static std::string toString(float value, int width, int precision)
    {
        return floatToString(static_cast<double>(value), width, precision);
    }

    // Decimal text, or degrees/hours with minutes and seconds "d:m:s".
    static double toDouble(std::string text);

    // value as "hh:mm:ss.sss" with precision decimals of the seconds.
    static std::string toMinSecString(double value, int precision);

    template <class T>
    static std::string intToString(T value, int width);
    template <class T>
    static std::string floatToString(T value, int width, int precision);

private:
    static std::string fitInteger(const std::string &digits, int width);
    static std::string fitFloat(double value, int width, int precision);
};

template <class T>
std::string StringFactory::intToString(T value, int width)
{
    return fitInteger(std::to_string(value), width);
}

template <class T>
std::string StringFactory::floatToString(T value, int width, int precision)
{
    return fitFloat(static_cast<double>(value), width, precision);
}

} // namespace util

#endif
