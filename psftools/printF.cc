#include "psftools/printF.h"

#include <cmath>

std::ostream &printF::operator()(std::ostream &s) const
{
    for (int i = 0; i < indent; ++i)
        s << ' ';
    const int n = width - indent;          // the number's field
    const int p = n - (value < 0 ? 1 : 0); // places for the digits
    const double a = std::fabs(value);
    if (p >= 5) {
        // The comparisons are false for NaN, which therefore falls through to
        // the general notation.
        if (digits != 0) {
            if (a >= std::pow(10.0, p - digits - 1)) {
                // One digit, the point and a four-character exponent besides.
                s.setf(std::ios::scientific, std::ios::floatfield);
                s.precision(p - 6);
            } else if (a > std::pow(10.0, -digits) || a == 0) {
                s.setf(std::ios::fixed, std::ios::floatfield);
                s.precision(digits);
            } else {
                s.unsetf(std::ios::floatfield);
                s.precision(digits);
            }
        } else if (a >= std::pow(10.0, p)) {
            s.unsetf(std::ios::floatfield);
            s.precision(p - 5);
        } else if (a > 1 || a == 0) {
            s.setf(std::ios::fixed, std::ios::floatfield);
            s.precision(0);
        } else {
            s.unsetf(std::ios::floatfield);
            s.precision(0);
        }
        s.width(n);
        s << value;
    } else if (p == 4) {
        int precision = 0;
        if (a >= 10 && a < 10000)
            precision = 0;
        else if (a >= 0.1 && a < 10)
            precision = 1;
        else if (a >= 0.01 && a < 0.1)
            precision = 2;
        s.setf(std::ios::fixed, std::ios::floatfield);
        s.precision(precision);
        s.width(n);
        s << value;
    } else {
        s << ' ';
        for (int i = 0; i < p; ++i)
            s << '#';
    }
    s.unsetf(std::ios::floatfield);
    return s;
}
