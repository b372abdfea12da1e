// Seeded series for the light-curve tests.
#ifndef TESTS_LIGHTCURVE_DRAWS_H
#define TESTS_LIGHTCURVE_DRAWS_H

#include <random>
#include <vector>

// n draws from a distribution, seeded.
template <class Distribution>
std::vector<double> draws(int n, Distribution d, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<double> v(n);
    for (double &x : v)
        x = d(rng);
    return v;
}

// The first n deviates of a toolbox generator (ran3, rangau, ...) in the
// sequence the seed starts.
inline std::vector<double> firstDeviates(double (*generator)(long &), long seed, int n)
{
    std::vector<double> v;
    for (int i = 0; i < n; ++i)
        v.push_back(generator(seed));
    return v;
}

// 0, 1, ..., n - 1.
inline std::vector<double> counting(int n)
{
    std::vector<double> v(n);
    for (int i = 0; i < n; ++i)
        v[i] = i;
    return v;
}

#endif
