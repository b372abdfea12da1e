#include "lightcurve/random.h"

#include <cmath>

#include "lightcurve/subtractive.h"

namespace {

constexpr long kBig = 1000000000;
constexpr long kSeed = 161803398;

// The one generator of the process.
SubtractiveSequence state;

} // namespace

void subtractive_seed(long ma[56], int &inext, int &inextp, long seed)
{
    // |kSeed - |seed|| in unsigned arithmetic: defined for every seed,
    // the most negative one included.
    const unsigned long magnitude =
        seed < 0 ? 0UL - static_cast<unsigned long>(seed) : static_cast<unsigned long>(seed);
    const unsigned long distance =
        magnitude > static_cast<unsigned long>(kSeed) ? magnitude - kSeed : kSeed - magnitude;
    long mj = static_cast<long>(distance % kBig);
    ma[55] = mj;
    long mk = 1;
    for (int i = 1; i <= 54; ++i) {
        const int ii = (21 * i) % 55;
        ma[ii] = mk;
        mk = mj - mk;
        if (mk < 0)
            mk += kBig;
        mj = ma[ii];
    }
    for (int k = 1; k <= 4; ++k)
        for (int i = 1; i <= 55; ++i) {
            ma[i] -= ma[1 + (i + 30) % 55];
            if (ma[i] < 0)
                ma[i] += kBig;
        }
    inext = 0;
    inextp = 31;
}

long subtractive_next(long ma[56], int &inext, int &inextp)
{
    if (++inext == 56)
        inext = 1;
    if (++inextp == 56)
        inextp = 1;
    long mj = ma[inext] - ma[inextp];
    if (mj < 0)
        mj += kBig;
    ma[inext] = mj;
    return mj;
}

double SubtractiveSequence::draw(long &seed)
{
    if (seed < 0 || !seeded) {
        seeded = true;
        subtractive_seed(ma, inext, inextp, seed);
        seed = 1;
    }
    return static_cast<double>(subtractive_next(ma, inext, inextp)) * 1.0e-9;
}

double ran3(long &idum)
{
    return state.draw(idum);
}

double rangau(long &idum)
{
    double a, b, r;
    do {
        a = 2.0 * ran3(idum) - 1.0;
        b = 2.0 * ran3(idum) - 1.0;
        r = a * a + b * b;
    } while (r >= 1.0 || r == 0.0);
    return a * std::sqrt(-2.0 * std::log(r) / r);
}

double ransin(long &idum)
{
    double u, a;
    do {
        u = ran3(idum);
        a = 3.14159265358979 * ran3(idum) * 0.5;
    } while (u > std::sin(a));
    return a;
}
