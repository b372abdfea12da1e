#include "util/stringfac.h"

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace util {

namespace detail {
std::string formatText(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data(), static_cast<std::size_t>(length));
    }
    va_end(again);
    return text;
}
} // namespace detail

namespace {
template <class T>
std::string shortestExact(T value)
{
    const int most = sizeof(T) == sizeof(float) ? 9 : 17;
    for (int digits = 6; digits < most; ++digits) {
        const std::string text = detail::formatText("%.*g", digits, static_cast<double>(value));
        if (static_cast<T>(std::strtod(text.c_str(), nullptr)) == value)
            return text;
    }
    return detail::formatText("%.*g", most, static_cast<double>(value));
}
} // namespace

std::string exactText(double value)
{
    return shortestExact(value);
}
std::string exactText(float value)
{
    return shortestExact(value);
}

namespace {
std::string padLeft(const std::string &text, int width)
{
    if (width > 0 && text.size() < static_cast<std::size_t>(width))
        return std::string(static_cast<std::size_t>(width) - text.size(), ' ') + text;
    return text;
}

// Length of text beyond width columns (negative when it fits with room).
long excessOver(const std::string &text, int width)
{
    return static_cast<long>(text.size()) - width;
}
} // namespace

std::string StringFactory::fitInteger(const std::string &digits, int width)
{
    if (excessOver(digits, width) > 0)
        throw StringException(factory_text + digits + error_text);
    return padLeft(digits, width);
}

std::string StringFactory::fitFloat(double value, int width, int precision)
{
    std::string text = detail::formatText("%.*g", precision, value);
    const long excess = excessOver(text, width);
    if (excess <= 0)
        return padLeft(text, width);
    if (precision <= excess)
        throw StringException(factory_text + text + error_text);
    // Fewer significant digits may still not fit (exponent form is longer);
    // a text wider than its field would spill into the next column.
    text = detail::formatText("%.*g", precision - static_cast<int>(excess), value);
    if (excessOver(text, width) > 0)
        throw StringException(factory_text + text + error_text);
    return padLeft(text, width);
}

double StringFactory::toDouble(std::string text)
{
    std::size_t begin = 0;
    while (begin < text.size() && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    double sign = 1.0;
    if (begin < text.size() && text[begin] == '-') {
        sign = -1.0;
        ++begin;
    }
    const std::string rest = text.substr(begin);
    const std::size_t first = rest.find(':');
    if (first == std::string::npos)
        return sign * std::strtod(rest.c_str(), nullptr);
    const std::size_t second = rest.find(':', first + 1);
    if (second == std::string::npos)
        throw StringException(factory_text + rest + " is ambiguous.");

    const double k = 1.0 / 60.0;
    const char *c = rest.c_str();
    const double d = std::strtod(c, nullptr);
    const double m = std::strtod(c + first + 1, nullptr);
    const double s = std::strtod(c + second + 1, nullptr);
    return sign * ((s * k + m) * k + d);
}

std::string StringFactory::toMinSecString(double value, int precision)
{
    if (!std::isfinite(value))
        return detail::formatText("%f", value);
    const bool negative = value < 0;
    const double a = std::fabs(value);
    // Minutes and seconds come from one fraction so they always agree.
    double whole = std::trunc(a);
    const double minutes60 = (a - whole) * 60.0;
    double minutes = std::trunc(minutes60);
    const double seconds = (minutes60 - minutes) * 60.0;
    const int width = precision > 0 ? precision + 3 : 2;

    std::string secondsText = detail::formatText("%0*.*f", width, precision, seconds);
    if (std::strtod(secondsText.c_str(), nullptr) >= 60.0) {
        // Rounded up to a full minute: carry it instead of writing "60".
        secondsText = detail::formatText("%0*.*f", width, precision, 0.0);
        minutes += 1;
        if (minutes >= 60) {
            minutes = 0;
            whole += 1;
        }
    }
    return detail::formatText(negative ? "-%02.0f:%02.0f:%s" : "%02.0f:%02.0f:%s", whole, minutes,
                              secondsText.c_str());
}

} // namespace util
