// Which errors can weigh a point, and the weight they give it.
#ifndef LIGHTCURVE_WEIGHTS_H
#define LIGHTCURVE_WEIGHTS_H

#include <cmath>

// Whether an error weighs its point: 1/error^2 is a finite number above 0.
// An error of 0 or less, one so small that 1/error^2 overflows or so large
// that it is 0, and one that is not a number weigh nothing, and a point
// whose error weighs nothing is left out like one without a finite value.
inline bool weighs(double error)
{
    const double w = 1 / (error * error);
    return error > 0 && w > 0 && std::isfinite(w);
}

// The weight 1/error^2 of a point that counts. In a light curve without
// noise (errors all 0, see Lightcurve::countedPoints) every point weighs 1.
inline double weightOf(double error, bool alike)
{
    return alike ? 1.0 : 1 / (error * error);
}

#endif
