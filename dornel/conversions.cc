#include "dornel/conversions.h"

#include <cmath>
#include <sstream>

std::string bool2str(bool value)
{
    return value ? "true" : "false";
}

std::string int2str(int value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

std::string double2str(double value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

std::string int2str(int value, int digits)
{
    std::string text;
    for (int i = 0; i < digits; ++i)
        if (std::pow(10.0, i) > value)
            text += '0';
    if (value != 0)
        text += int2str(value);
    return text;
}
