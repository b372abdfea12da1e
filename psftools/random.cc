#include "psftools/random.h"

#include <cmath>

#include "lightcurve/random.h"
#include "lightcurve/subtractive.h"

namespace {

// The objects divide by 1e9 where ran3 and ran5 multiply by 1e-9; the two
// can differ in the last bit.
double uniform(C_ran3 &g)
{
    return subtractive_next(g.ma, g.inext, g.inextp) / 1e9;
}

} // namespace

C_ran3::C_ran3(long seed) : inext(0), inextp(31), ma{}
{
    subtractive_seed(ma, inext, inextp, seed);
}

C_rangau::C_rangau(long seed) : first_(seed), second_(seed - 3) {}

double C_rangau::eval()
{
    double a, r;
    do {
        a = 2.0 * uniform(first_) - 1.0;
        const double b = 2.0 * uniform(second_) - 1.0;
        r = a * a + b * b;
    } while (r >= 1.0 || r == 0.0);
    return a * std::sqrt(-2.0 * std::log(r) / r);
}

C_ranivl::C_ranivl(double lower, double upper, long seed)
    : lower_(lower), width_(upper - lower), gen_(seed)
{
}

double C_ranivl::eval()
{
    return lower_ + uniform(gen_) * width_;
}

double ran5(long &seed)
{
    static SubtractiveSequence state;
    return state.draw(seed);
}

double ranpm(long &seed)
{
    const double u1 = ran3(seed);
    const double u2 = ran3(seed);
    return u2 >= 0.5 ? -u1 : u1;
}

double ranexp(long &seed)
{
    double x;
    do
        x = ran5(seed);
    while (x == 0.0);
    return -std::log(x);
}
