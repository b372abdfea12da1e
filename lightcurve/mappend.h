// Appending one element to a one-dimensional array.
#ifndef LIGHTCURVE_MAPPEND_H
#define LIGHTCURVE_MAPPEND_H

#include "orv/MArray.h"

// Makes a refer to a new array, indexed from 1, of a's elements followed by
// value. Other arrays that shared a's storage keep the old elements.
template <class T>
void mappend(orv::MArray<T, 1> &a, T value)
{
    const int n = a.length(1);
    orv::MArray<T, 1> grown(n + 1);
    for (int i = 0; i < n; ++i)
        grown(i + 1) = a(a.firstIndex(1) + i);
    grown(n + 1) = value;
    a.makeReference(grown);
}

#endif
