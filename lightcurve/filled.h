// Per-point arrays of one value: the columns a light curve fills in when its
// source does not give them.
#ifndef LIGHTCURVE_FILLED_H
#define LIGHTCURVE_FILLED_H

#include <string>

#include "orv/MArray.h"

// The file name of a point whose source file is not known.
inline const char *const kNoFileInformation = "no file information";

// A new array of n elements, indexed from 1, each of them value.
template <class T>
orv::MArray<T, 1> filled(int n, const T &value)
{
    orv::MArray<T, 1> a(n);
    a = value;
    return a;
}

// n file names "no file information".
inline orv::MArray<std::string, 1> noFileNames(int n)
{
    return filled(n, std::string(kNoFileInformation));
}

#endif
