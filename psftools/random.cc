#include "psftools/random.h"

#include <cmath>

namespace {

constexpr long MBIG = 1000000000;
constexpr long MSEED = 161803398;

// Fills the lagged table from the seed (entries 1..55).
void seedTable(long* ma, long seed) {
    // |seed| taken without overflow, also for the most negative long.
    const unsigned long mag = seed < 0 ? 0UL - static_cast<unsigned long>(seed) : static_cast<unsigned long>(seed);
    const unsigned long diff = mag > static_cast<unsigned long>(MSEED) ? mag - MSEED : MSEED - mag;
    long mj = static_cast<long>(diff % MBIG);
    ma[55] = mj;
    long mk = 1;
    for (int i = 1; i <= 54; ++i) {
        const int ii = (21 * i) % 55;
        ma[ii] = mk;
        mk = mj - mk;
        if (mk < 0) mk += MBIG;
        mj = ma[ii];
    }
    for (int k = 1; k <= 4; ++k)
        for (int i = 1; i <= 55; ++i) {
            ma[i] -= ma[1 + (i + 30) % 55];
            if (ma[i] < 0) ma[i] += MBIG;
        }
}

// Advances the generator and returns the new integer in 0..MBIG-1.
long nextInteger(long* ma, int& inext, int& inextp) {
    if (++inext == 56) inext = 1;
    if (++inextp == 56) inextp = 1;
    long mj = ma[inext] - ma[inextp];
    if (mj < 0) mj += MBIG;
    ma[inext] = mj;
    return mj;
}

double uniform(C_ran3& g) { return nextInteger(g.ma, g.inext, g.inextp) / 1e9; }

}  // namespace

C_ran3::C_ran3(long seed) : inext(0), inextp(31), ma{} { seedTable(ma, seed); }

C_rangau::C_rangau(long seed) : first_(seed), second_(seed - 3) {}

double C_rangau::eval() {
    double a, r;
    do {
        a = 2.0 * uniform(first_) - 1.0;
        const double b = 2.0 * uniform(second_) - 1.0;
        r = a * a + b * b;
    } while (r >= 1.0 || r == 0.0);
    return a * std::sqrt(-2.0 * std::log(r) / r);
}

C_ranivl::C_ranivl(double lower, double upper, long seed)
    : lower_(lower), upper_(upper), width_(upper - lower), gen_(seed) {}

double C_ranivl::eval() { return lower_ + uniform(gen_) * width_; }

double ran5(long& seed) {
    static int iff = 0;
    static long ma[56];
    static int inext, inextp;
    if (seed < 0 || iff == 0) {
        iff = 1;
        seedTable(ma, seed);
        inext = 0;
        inextp = 31;
        seed = 1;
    }
    return nextInteger(ma, inext, inextp) * 1e-9;
}

double ranexp(long& seed) {
    double x;
    do x = ran5(seed);
    while (x == 0.0);
    return -std::log(x);
}
