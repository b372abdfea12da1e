// Small helpers of the light-curve tests: arrays from lists and back.
#ifndef TESTS_LIGHTCURVE_ARRAYS_H
#define TESTS_LIGHTCURVE_ARRAYS_H

#include <initializer_list>
#include <string>
#include <vector>

#include "orv/MArray.h"

// A new array with indices first, first + 1, ... holding the values.
template <class T>
orv::MArray<T, 1> arrayOf(const std::vector<T>& values, int first = 1) {
    orv::MArray<T, 1> a(orv::Range(first, first + static_cast<int>(values.size()) - 1));
    for (std::size_t i = 0; i < values.size(); ++i) a(first + static_cast<int>(i)) = values[i];
    return a;
}

inline orv::MArray<double, 1> doubles(std::initializer_list<double> values, int first = 1) {
    return arrayOf(std::vector<double>(values), first);
}

inline orv::MArray<std::string, 1> strings(std::initializer_list<std::string> values) {
    return arrayOf(std::vector<std::string>(values));
}

// The elements in index order.
template <class T>
std::vector<T> valuesOf(const orv::MArray<T, 1>& a) {
    std::vector<T> v;
    for (int i = a.firstIndex(1); i <= a.lastIndex(1); ++i) v.push_back(a(i));
    return v;
}

// The first n elements in index order.
template <class T>
std::vector<T> firstValues(const orv::MArray<T, 1>& a, int n) {
    std::vector<T> v;
    for (int i = 0; i < n; ++i) v.push_back(a(a.firstIndex(1) + i));
    return v;
}

#endif
