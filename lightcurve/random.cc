#include "lightcurve/random.h"

#include <cmath>

namespace {

constexpr long kBig = 1000000000;
constexpr long kSeed = 161803398;
constexpr double kScale = 1.0e-9;

// The one generator of the process: a lagged table ma[1..55] and the two
// positions read next, kept 31 apart modulo 55.
struct Ran3State {
    bool seeded = false;
    long ma[56] = {};
    int inext = 0;
    int inextp = 0;
};

Ran3State state;

void seed(long& idum) {
    Ran3State& s = state;
    s.seeded = true;
    // |kSeed - |idum|| in unsigned arithmetic: defined for every seed,
    // the most negative one included.
    const unsigned long magnitude =
        idum < 0 ? 0UL - static_cast<unsigned long>(idum) : static_cast<unsigned long>(idum);
    const unsigned long distance =
        magnitude > static_cast<unsigned long>(kSeed) ? magnitude - kSeed : kSeed - magnitude;
    long mj = static_cast<long>(distance % kBig);
    s.ma[55] = mj;
    long mk = 1;
    for (int i = 1; i <= 54; ++i) {
        const int ii = (21 * i) % 55;
        s.ma[ii] = mk;
        mk = mj - mk;
        if (mk < 0) mk += kBig;
        mj = s.ma[ii];
    }
    for (int k = 1; k <= 4; ++k)
        for (int i = 1; i <= 55; ++i) {
            s.ma[i] -= s.ma[1 + (i + 30) % 55];
            if (s.ma[i] < 0) s.ma[i] += kBig;
        }
    s.inext = 0;
    s.inextp = 31;
    idum = 1;
}

}  // namespace

double ran3(long& idum) {
    if (idum < 0 || !state.seeded) seed(idum);
    Ran3State& s = state;
    if (++s.inext == 56) s.inext = 1;
    if (++s.inextp == 56) s.inextp = 1;
    long mj = s.ma[s.inext] - s.ma[s.inextp];
    if (mj < 0) mj += kBig;
    s.ma[s.inext] = mj;
    return static_cast<double>(mj) * kScale;
}

double rangau(long& idum) {
    double a, b, r;
    do {
        a = 2.0 * ran3(idum) - 1.0;
        b = 2.0 * ran3(idum) - 1.0;
        r = a * a + b * b;
    } while (r >= 1.0 || r == 0.0);
    return a * std::sqrt(-2.0 * std::log(r) / r);
}

double ransin(long& idum) {
    double u, a;
    do {
        u = ran3(idum);
        a = 3.14159265358979 * ran3(idum) * 0.5;
    } while (u > std::sin(a));
    return a;
}
