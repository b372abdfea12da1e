#include "util/option.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "util/stringfac.h"

namespace util {

namespace {

bool onlySpaceFrom(const char *p)
{
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    return *p == '\0';
}

// A value text must be one number as a whole (blanks around it allowed):
// "two", "3x" or an empty text would otherwise quietly become 0 or 3.
int toInt(const std::string &text, const std::string &option)
{
    const char *begin = text.c_str();
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (end == begin || !onlySpaceFrom(end))
        throw UException("Value '" + text + "' of option " + option + " is not an integer!");
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
        throw UException("Value '" + text + "' of option " + option + " is out of range!");
    return static_cast<int>(value);
}

double toReal(const std::string &text, const std::string &option)
{
    const char *begin = text.c_str();
    char *end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    // strtod reads "nan" too, and a NaN setting would silently disable every
    // comparison made with it.
    if (end == begin || !onlySpaceFrom(end) || std::isnan(value))
        throw UException("Value '" + text + "' of option " + option + " is not a number!");
    if (errno == ERANGE && std::isinf(value))
        throw UException("Value '" + text + "' of option " + option + " is out of range!");
    return value;
}

float toFloat(const std::string &text, const std::string &option)
{
    const double value = toReal(text, option);
    const float narrowed = static_cast<float>(value);
    if (std::isinf(narrowed) && !std::isinf(value))
        throw UException("Value '" + text + "' of option " + option + " is out of range!");
    return narrowed;
}

template <class T>
T toNumber(const std::string &text, const std::string &option);
template <>
int toNumber<int>(const std::string &text, const std::string &option)
{
    return toInt(text, option);
}
template <>
float toNumber<float>(const std::string &text, const std::string &option)
{
    return toFloat(text, option);
}
template <>
double toNumber<double>(const std::string &text, const std::string &option)
{
    return toReal(text, option);
}

std::string text(const char *s)
{
    return s ? s : "";
}

std::string shortText(int value)
{
    return std::to_string(value);
}
std::string shortText(double value)
{
    return detail::formatText("%g", value);
}
std::string exactText(int value)
{
    return std::to_string(value);
}

template <class T>
struct NumberName;
template <>
struct NumberName<int> {
    static constexpr const char *type = "INT";
    static constexpr const char *arrayClass = "IntArrayOption";
    static constexpr const char *arrayType = "INTARRAY";
};
template <>
struct NumberName<float> {
    static constexpr const char *type = "FLOAT";
    static constexpr const char *arrayClass = "FloatArrayOption";
    static constexpr const char *arrayType = "FLOATARRAY";
};
template <>
struct NumberName<double> {
    static constexpr const char *type = "DOUBLE";
    static constexpr const char *arrayClass = "DoubleArrayOption";
    static constexpr const char *arrayType = "DOUBLEARRAY";
};

// Cuts the text before the first sep off rest (with the separator);
// returns whether there was a separator.
bool takeUntil(std::string &rest, char sep, std::string &piece)
{
    const std::size_t at = rest.find(sep);
    if (at == std::string::npos) {
        piece = rest;
        rest.clear();
        return false;
    }
    piece = rest.substr(0, at);
    rest.erase(0, at + 1);
    return true;
}

} // namespace

// ---------------------------------------------------------------- Option

Option::Option(const char *name, const char *defaultText, const char *usage, char cmdLineChar)
    : Option(text(name), text(defaultText), text(usage), cmdLineChar)
{
}

Option::Option(const std::string &name, const std::string &defaultText, const std::string &usage,
               char cmdLineChar)
    : name_(name), default_(defaultText), usage_(usage), cmdLineChar_(cmdLineChar)
{
}

std::ostream &operator<<(std::ostream &out, const Option &option)
{
    const std::string &name = option.getName();
    const std::string &def = option.getDefault();
    std::string row = name;
    if (name.size() < 16)
        row.append(16 - name.size(), ' ');
    row += " | ";
    row += option.getCmdLineChar() ? option.getCmdLineChar() : ' ';
    row += " | ";
    if (def.size() < 26)
        row.append(26 - def.size(), ' ');
    row += def + " | " + option.toString();
    return out << row;
}

// ---------------------------------------------------------------- number options

template <class T>
NumberOption<T>::NumberOption(const char *name, const char *defaultText, const char *usage, char c,
                              T *bound)
    : NumberOption(text(name), text(defaultText), text(usage), c, bound)
{
}

template <class T>
NumberOption<T>::NumberOption(const std::string &name, const std::string &defaultText,
                              const std::string &usage, char c, T *bound)
    : Option(name, defaultText, usage, c), bound_(bound)
{
    NumberOption::setValue(getDefault());
}

template <class T>
void NumberOption<T>::setValue(const std::string &text)
{
    value_ = toNumber<T>(text, getName());
    if (bound_)
        *bound_ = value_;
}

template <class T>
std::string NumberOption<T>::getTypeName() const
{
    return NumberName<T>::type;
}

template <class T>
std::string NumberOption<T>::toString() const
{
    return shortText(shown());
}

template <class T>
std::string NumberOption<T>::toConfigString() const
{
    return exactText(shown());
}

template class NumberOption<int>;
template class NumberOption<float>;
template class NumberOption<double>;

// ---------------------------------------------------------------- BoolOption

BoolOption::BoolOption(const char *name, const char *defaultText, const char *usage, char c,
                       bool *bound)
    : BoolOption(text(name), text(defaultText), text(usage), c, bound)
{
}

BoolOption::BoolOption(const std::string &name, const std::string &defaultText,
                       const std::string &usage, char c, bool *bound)
    : Option(name, defaultText, usage, c), bound_(bound)
{
    BoolOption::setValue(getDefault());
}

void BoolOption::setValue(const std::string &text)
{
    onlyUtilExceptions([&] {
        static const char *const falseTexts[] = {"FALSE", "false", "NO", "no", "F",
                                                 "f",     "N",     "n",  "0"};
        if (text == "toggle") {
            value_ = !value_;
        } else {
            value_ = true;
            for (const char *f : falseTexts)
                if (text == f)
                    value_ = false;
        }
        if (bound_)
            *bound_ = value_;
    });
}

std::string BoolOption::toString() const
{
    return getBool() ? "TRUE" : "FALSE";
}

// ---------------------------------------------------------------- StringOption

StringOption::StringOption(const char *name, const char *defaultText, const char *usage, char c,
                           std::string *bound)
    : StringOption(text(name), text(defaultText), text(usage), c, bound)
{
}

StringOption::StringOption(const std::string &name, const std::string &defaultText,
                           const std::string &usage, char c, std::string *bound)
    : Option(name, defaultText, usage, c), bound_(bound)
{
    onlyUtilExceptions([&] { StringOption::setValue(getDefault()); });
}

void StringOption::setValue(const std::string &text)
{
    onlyUtilExceptions([&] {
        value_ = text;
        if (bound_)
            *bound_ = text;
    });
}

std::string StringOption::toConfigString() const
{
    const std::string value = getString();
    if (value.find('\n') != std::string::npos)
        throw UException("Value of option " + getName() +
                         " holds a line end and cannot be written to a configuration file!");
    bool quote = !value.empty() && value[0] == '"';
    for (char c : value)
        if (c == '#' || std::isspace(static_cast<unsigned char>(c)))
            quote = true;
    if (!quote)
        return value;
    std::string text = "\"";
    for (char c : value) {
        if (c == '"')
            text += '"'; // a doubled quote stands for one
        text += c;
    }
    return text + "\"";
}

// ---------------------------------------------------------------- array options

template <class T>
NumberArrayOption<T>::NumberArrayOption(const char *name, const char *defaultText,
                                        const char *usage, const char &c, const int &count,
                                        T *bound)
    : NumberArrayOption(text(name), text(defaultText), text(usage), c, count, bound)
{
}

template <class T>
NumberArrayOption<T>::NumberArrayOption(const std::string &name, const std::string &defaultText,
                                        const std::string &usage, const char &c, const int &count,
                                        T *bound)
    : Option(name, defaultText, usage, c),
      own_(count > 0 ? static_cast<std::size_t>(count) : 0, T()), bound_(bound)
{
    NumberArrayOption::setValue(getDefault());
}

template <class T>
void NumberArrayOption<T>::setValue(const std::string &text)
{
    onlyUtilExceptions([&] {
        std::string rest = text, element;
        for (std::size_t i = 0;; ++i) {
            if (i >= own_.size())
                throw UException(std::string("Too many elements in ") + NumberName<T>::arrayClass +
                                 " " + getName() + "!");
            const bool more = takeUntil(rest, ',', element);
            own_[i] = toNumber<T>(element, getName());
            if (bound_)
                bound_[i] = own_[i];
            if (!more)
                break;
        }
    });
}

template <class T>
std::string NumberArrayOption<T>::getTypeName() const
{
    return NumberName<T>::arrayType;
}

template <class T>
std::string NumberArrayOption<T>::join(bool exact) const
{
    const T *values = bound_ ? bound_ : own_.data();
    std::string text;
    for (std::size_t i = 0; i < own_.size(); ++i) {
        if (i > 0)
            text += ',';
        text += exact ? exactText(values[i]) : shortText(values[i]);
    }
    return text;
}

template <class T>
std::string NumberArrayOption<T>::toString() const
{
    return join(false);
}

template <class T>
std::string NumberArrayOption<T>::toConfigString() const
{
    return join(true);
}

template class NumberArrayOption<int>;
template class NumberArrayOption<float>;
template class NumberArrayOption<double>;

RegionArrayOption::RegionArrayOption(const char *name, const char *defaultText, const char *usage,
                                     const char &c, const int &count, Region *bound)
    : RegionArrayOption(text(name), text(defaultText), text(usage), c, count, bound)
{
}

RegionArrayOption::RegionArrayOption(const std::string &name, const std::string &defaultText,
                                     const std::string &usage, const char &c, const int &count,
                                     Region *bound)
    : Option(name, defaultText, usage, c), count_(count > 0 ? count : 0), bound_(bound),
      own_(static_cast<unsigned long>(count_))
{
    RegionArrayOption::setValue(getDefault());
}

void RegionArrayOption::setValue(const std::string &text)
{
    onlyUtilExceptions([&] {
        std::string rest = text, pair, first;
        for (int d = 1; d <= count_; ++d) {
            const bool more = takeUntil(rest, ',', pair);
            // A lone number n stands for the range from 0 to n.
            const bool colon = takeUntil(pair, ':', first);
            const int a = toInt(first, getName());
            const int b = colon ? toInt(pair, getName()) : 0;
            const int start = a < b ? a : b, end = a < b ? b : a;
            own_.setRange(static_cast<unsigned long>(d), start, end);
            if (bound_)
                bound_->setRange(static_cast<unsigned long>(d), start, end);
            if (!more)
                return;
        }
        throw UException("Too many elements in RegionArrayOption " + getName() + "!");
    });
}

std::string RegionArrayOption::toString() const
{
    const Region &region = bound_ ? *bound_ : own_;
    std::string text;
    for (int d = 1; d <= count_; ++d) {
        if (d > 1)
            text += ',';
        text += std::to_string(region.getStart(static_cast<unsigned long>(d))) + ':' +
                std::to_string(region.getEnd(static_cast<unsigned long>(d)));
    }
    return text;
}

} // namespace util
