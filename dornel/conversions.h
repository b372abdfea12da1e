// Numbers and flags as text: the texts an output stream writes with its
// default settings, and zero-padded counters for time texts and file names.
#ifndef DORNEL_CONVERSIONS_H
#define DORNEL_CONVERSIONS_H

#include <string>

// "true" or "false".
std::string bool2str(bool value);
// As an output stream writes it by default: "-12", "7".
std::string int2str(int value);
// As an output stream writes it by default: general notation, 6 significant
// digits ("1000", "0.5", "1.23457e+06", "1e-05").
std::string double2str(double value);
// value padded with zeros to `digits` characters: int2str(5, 3) is "005";
// wider values are written whole. A negative value gets one "0" per digit
// in front of its text (int2str(-1, 3) is "000-1").
std::string int2str(int value, int digits);

#endif
