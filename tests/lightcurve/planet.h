// A transiting planet for the tests of the analytic transit, with its
// geometry computed directly, and light curves to put it on.
#ifndef TESTS_LIGHTCURVE_PLANET_H
#define TESTS_LIGHTCURVE_PLANET_H

#include <cmath>
#include <vector>

#include "common/arrays.h"
#include "lightcurve/Lightcurve.h"

inline const double kPi = std::acos(-1.0);

// A hot Jupiter: period 3 days, 88 degrees, a star like the sun, a planet of
// one Jupiter radius; in mid-transit at day 100.
struct Planet {
    double period = 3, t0 = 100, inclination = 88, m_star = 1, r_star = 1, r_planet = 1,
           gamma1 = 0.4, gamma2 = 0.3;

    void addTo(Lightcurve &lc, bool small = false) const
    {
        long seed = 1;
        lc.add_analytical(period, t0, inclination, m_star, r_star, r_planet, gamma1, gamma2, small,
                          seed);
    }
    // Planet radius over stellar radius.
    double ratio() const { return r_planet * 7.14e7 / (r_star * 6.96265e8); }
    // Orbit radius in stellar radii, from Kepler's third law.
    double orbit() const
    {
        return std::cbrt(m_star * std::pow(period / 365.2425, 2)) * 1.49597870691e11 /
               (r_star * 6.96265e8);
    }
    // Distance of the centres in stellar radii at time t: the planet runs
    // through its nearest mid-transit on a straight path at the orbital speed,
    // passing the star's centre at the distance orbit / tan(inclination).
    double separation(double t) const
    {
        const double along = 2 * kPi * orbit() * std::remainder(t - t0, period) / period;
        return std::hypot(along, orbit() / std::tan(inclination * kPi / 180));
    }
};

// Times every 0.005 days within 0.2 days of the transits at 100 and 103.
inline orv::MArray<double, 1> transitTimes()
{
    std::vector<double> t;
    for (double centre : {100.0, 103.0})
        for (int k = -40; k <= 40; ++k)
            t.push_back(centre + 0.005 * k);
    return test_common::arrayOf(t);
}

inline Lightcurve flat(const orv::MArray<double, 1> &t, double error)
{
    const int n = t.length(1);
    return Lightcurve(t, test_common::arrayOf(std::vector<double>(n, 1.0)),
                      test_common::arrayOf(std::vector<double>(n, error)));
}

#endif
