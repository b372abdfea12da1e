// The analytic transit of a planet on a circular orbit across a limb-darkened
// star, added to a light curve, with its duration, depth, transit counts and
// signal-to-noise ratio.
#include <cmath>
#include <iostream>
#include <vector>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/occultation.h"
#include "lightcurve/phase.h"

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kTwoPi = 6.28318530717958;
constexpr double kYear = 365.2425;         // days, in Kepler's law
constexpr double kAU = 1.49597870691e11;   // m
constexpr double kSolarRadius = 6.96265e8; // m
constexpr double kJupiterRadius = 7.14e7;  // m

// The orbit in astronomical units: its radius, the planet's speed per day,
// and the distance of its path from the stellar centre at mid-transit.
struct Orbit {
    double a, v, c;
};

Orbit orbitOf(double period, double m_star, double inclination)
{
    Orbit o;
    o.a = std::pow(std::sqrt(m_star) * period / kYear, 0.66666667);
    o.v = o.a * kTwoPi / period;
    o.c = o.a * std::tan((90 - inclination) / 180 * kPi);
    return o;
}

// Distance of time t from the nearest mid-transit, in periods (0 to 0.5).
double transitPhaseDistance(double t, double t0, double period)
{
    const double d = t - t0;
    double phi = d >= 0 ? (d - std::trunc(d / period) * period) / period
                        : (std::trunc(-d / period) * period + d) / period + 1;
    if (phi > 0.5)
        phi = 1 - phi;
    return phi;
}

} // namespace

void Lightcurve::setTransitModel(double period_, double t0_, double inclination_, double m_star_,
                                 double r_star_, double r_planet_, double gamma1_, double gamma2_)
{
    period = period_;
    t0 = t0_;
    inclination = inclination_;
    m_star = m_star_;
    r_star = r_star_;
    r_planet = r_planet_;
    gamma1 = gamma1_;
    gamma2 = gamma2_;
    analytical = true;
    transits_removed = true;
}

void Lightcurve::addTransit(bool small_planet, bool to_nonoise)
{
    const Orbit orbit = orbitOf(period, m_star, inclination);
    const double p = r_planet * kJupiterRadius / (r_star * kSolarRadius);
    removed_flux.makeReference(orv::MArray<double, 1>(length, false));
    for (int k = 1; k <= length; ++k) {
        removed_flux(k) = flux(k);
        const double along = period * transitPhaseDistance(jd(k), t0, period) * orbit.v;
        const double z = std::sqrt(along * along + orbit.c * orbit.c) * kAU / r_star / kSolarRadius;
        // Touching discs hide nothing.
        if (z >= 1 + p)
            continue;
        double dF;
        if (small_planet) {
            if (p > 0.1)
                std::cout << "warning: small planet approximation is not very accurate for "
                             "R_planet / R_star = "
                          << p << std::endl;
            dF = occultation_small(p, z, gamma1, gamma2);
        } else {
            dF = occultation_exact(p, z, gamma1, gamma2);
        }
        flux(k) += dF;
        if (to_nonoise)
            nonoise_flux(k) += dF;
    }
}

void Lightcurve::foldAtTransit()
{
    const double epoch = t0;
    // An epoch of exactly 0 asks a fold for its default epoch; the transit
    // one period later is the same one.
    fold_quick(period, epoch == 0 ? period : epoch);
    t0 = epoch;
}

void Lightcurve::setTransitShape()
{
    const Orbit orbit = orbitOf(period, m_star, inclination);
    const double stellarRadius = r_star * kSolarRadius;
    const double b = orbit.a * kAU / r_star / kSolarRadius * std::cos(inclination / 180 * kPi);
    tau = std::cos(std::asin(b)) * stellarRadius / orbit.a / kAU / kPi;
    const double ratio = r_planet * kJupiterRadius / r_star / kSolarRadius;
    drop = ratio * ratio;
}

void Lightcurve::countTransits()
{
    number_transit_points = 0;
    number_transits = 0;
    std::vector<int> counts;
    double errorSum = 0, start = -1e99;
    // Points that do not count are in no transit.
    for (int k : countedPoints()) {
        const double h = foldedPhase(jd(k), period, t0); // mid-transit at 0.5
        if (!(-0.5 * tau + 0.5 <= h && h <= tau * 0.5 + 0.5))
            continue;
        ++number_transit_points;
        errorSum += error(k);
        // The grouping takes the points in time order.
        if (std::fabs(jd(k) - start) >= (1 - tau) * period) {
            counts.push_back(0);
            start = jd(k);
            ++number_transits;
        }
        // Where (1 - tau) * period exceeds every distance in time (a negative
        // period, an orbit of radius 0) no transit begins, and the point
        // belongs to none.
        if (!counts.empty())
            ++counts.back();
    }
    if (counts.empty())
        counts.push_back(0);
    orv::MArray<int, 1> perTransit(static_cast<int>(counts.size()));
    for (std::size_t i = 0; i < counts.size(); ++i)
        perTransit(static_cast<int>(i) + 1) = counts[i];
    points_per_transit.makeReference(perTransit);

    if (number_transit_points < 1) {
        snr = 0;
        return;
    }
    const double meanError = errorSum / number_transit_points;
    snr = meanError == 0 ? 1e100
                         : drop / meanError * std::sqrt(static_cast<double>(number_transit_points));
}

void Lightcurve::add_analytical(double period_, double t0_, double inclination_, double m_star_,
                                double r_star_, double r_planet_, double gamma1_, double gamma2_,
                                bool small_planet, long & /*seed*/)
{
    setTransitModel(period_, t0_, inclination_, m_star_, r_star_, r_planet_, gamma1_, gamma2_);
    nonoise = false;
    addTransit(small_planet, false);
    calc_weights();
    foldAtTransit();
    setTransitShape();
    countTransits();
}
