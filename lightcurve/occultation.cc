#include "lightcurve/occultation.h"

#include <algorithm>
#include <cmath>

#include "lightcurve/elliptic.h"
#include "lightcurve/sorting.h"

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kOneOverTwoPi = 0.1591549430918955;
constexpr double kTwoOverThreePi = 0.212206590789194;
constexpr double kTwoOverNinePi = 0.07073553026306466;
constexpr double kOneOverNinePi = 0.03536776513153233;
constexpr double kFourOverNinePi = 4.0 / (9.0 * kPi);
// lambda_d of a planet of radius 0.5 whose edge touches the disc centre.
constexpr double kHalfOnCentre = 0.19186227280720397;

double acosClamped(double x)
{
    return std::acos(std::max(-1.0, std::min(1.0, x)));
}

// A squared modulus that the complete integrals and R_J accept: rounding
// near the contacts must neither make it negative nor carry it to 1, where
// K and Pi diverge (the combination in lambda_d stays finite, and a modulus
// 1e-12 short of 1 changes it by far less than the approximations' error).
double modulusFrom(double k2)
{
    return std::sqrt(std::min(std::max(k2, 0.0), 1.0 - 1e-12));
}

// Complete integral of the third kind Pi(-m, k) through Carlson's R_J.
double ellpi(double m, double k, double K)
{
    return K - m / 3.0 * rj_(0.0, 1.0 - k * k, 1.0, 1.0 + m);
}

// eta_d of a planet on the limb.
double etaOnLimb(double p, double z, double kappa0, double kappa1, double x1, double x2)
{
    return (kappa1 + p * p * (p * p + 2 * z * z) * kappa0 -
            (1 + 5 * p * p + z * z) / 4 * std::sqrt(std::max(0.0, (1 - x1) * (x2 - 1)))) *
           kOneOverTwoPi;
}

// eta_d of a planet inside the disc.
double etaInside(double p, double z)
{
    return p * p / 2 * (p * p + 2 * z * z);
}

double normalisation(double gamma1, double gamma2)
{
    return 1 - gamma1 / 3 - gamma2 / 6;
}

// Intensity at radius r, rounding just beyond the limb taken as the limb.
double intensity(double r, double gamma1, double gamma2)
{
    const double u = 1 - std::sqrt(std::max(0.0, 1 - r * r));
    return 1 - gamma1 * u - gamma2 * u * u;
}

// A planet can only hide light, and no more than there is.
double physical(double dF)
{
    return std::max(-1.0, std::min(0.0, dF));
}

} // namespace

double occultation_exact(double p, double z, double gamma1, double gamma2)
{
    if (z >= 1 + p)
        return 0;
    if (p >= 1 && z <= p - 1)
        return -1; // the whole disc is covered
    if (z == 0)
        z = 1e-8; // the formulas divide by z

    // The uniform-disc term and the limb angles.
    double lambdaE = 0, kappa0 = 0, kappa1 = 0;
    if (std::fabs(1 - p) <= z) {
        kappa1 = acosClamped((1 - p * p + z * z) * 0.5 / z);
        kappa0 = acosClamped((z * z + p * p - 1) * 0.5 / p / z);
        lambdaE = (kappa1 + p * p * kappa0 -
                   0.5 * std::sqrt(std::max(0.0, 4 * z * z - std::pow(1 + z * z - p * p, 2)))) /
                  kPi;
    }
    if (z <= 1 - p)
        lambdaE = p * p;

    const double x1 = (p - z) * (p - z), x2 = (p + z) * (p + z), x3 = p * p - z * z;
    double lambdaD = 0, etaD = 0;
    if (std::fabs(z - p) < 1e-4 * (z + p)) {
        // The planet's edge touches the disc centre. Which closed form holds
        // depends on the planet's size alone: the modulus 2p (or 1/(2p))
        // must stay below 1.
        if (p == 0.5) {
            lambdaD = kHalfOnCentre;
        } else if (p > 0.5) {
            const double k = 0.5 / p, K = ellk_(k), E = ellec_(k);
            lambdaD = 1.0 / 3 + 16 * p / (9 * kPi) * (2 * p * p - 1) * E -
                      (32 * std::pow(p, 4) - 20 * p * p + 3) / (9 * kPi * p) * K;
        } else {
            const double k = 2 * p, K = ellk_(k), E = ellec_(k);
            lambdaD = 1.0 / 3 + kTwoOverNinePi * (4 * (2 * p * p - 1) * E + (1 - 4 * p * p) * K);
        }
        // Near p = z = 0.5 the planet may lie inside the disc as well.
        etaD = z >= std::fabs(1 - p) ? etaOnLimb(p, z, kappa0, kappa1, x1, x2) : etaInside(p, z);
    } else if ((z > 0.5 + std::fabs(p - 0.5) && z < 1 + p) ||
               // Near 1 - p the modulus reaches 1 for p < 1; for p > 1 it
               // goes to 0 at z = p - 1, and the band above it is a crossing
               // of the limb like the rest.
               (p > 0.5 && z > (p > 1 ? p - 1 : 1.0001 * (1 - p)) && z < p)) {
        // The planet crosses the limb.
        const double k = modulusFrom(0.25 * (1 - x1) / z / p), K = ellk_(k), E = ellec_(k);
        const double m = 1 / x1 - 1, Pi = ellpi(m, k, K);
        lambdaD = kOneOverNinePi / std::sqrt(p * z) *
                  (((1 - x2) * (2 * x2 + x1 - 3) - 3 * x3 * (x2 - 2)) * K +
                   4 * p * z * (z * z + 7 * p * p - 4) * E - 3 * (x3 / x1) * Pi);
        if (p > z)
            lambdaD += 2.0 / 3;
        etaD = etaOnLimb(p, z, kappa0, kappa1, x1, x2);
    } else if (p <= 1 && z <= 1.0001 * (1 - p)) {
        // The planet lies inside the disc.
        if (std::fabs(p + z - 1) <= 1e-4) {
            // Touching the limb from inside.
            lambdaD = kTwoOverThreePi * std::acos(1 - 2 * p) -
                      kFourOverNinePi * std::sqrt(p * (1 - p)) * (3 + 2 * p - 8 * p * p);
        } else {
            const double k = modulusFrom((x2 - x1) / (1 - x1)), K = ellk_(k), E = ellec_(k);
            const double m = x2 / x1 - 1, Pi = ellpi(m, k, K);
            lambdaD = kTwoOverNinePi / std::sqrt(1 - x1) *
                      ((1 - 5 * z * z + p * p + x3 * x3) * K +
                       (1 - x1) * (z * z + 7 * p * p - 4) * E - 3 * (x3 / x1) * Pi);
            if (p > z)
                lambdaD += 2.0 / 3;
        }
        etaD = etaInside(p, z);
    }
    const double dF =
        -((1 - gamma1 - 2 * gamma2) * lambdaE + (gamma1 + 2 * gamma2) * lambdaD + gamma2 * etaD) /
        normalisation(gamma1, gamma2);
    return physical(dF);
}

double occultation_small(double p, double z, double gamma1, double gamma2)
{
    if (z >= 1 + p)
        return 0;
    if (p >= 1 && z <= p - 1)
        return -1;
    // The ring sum below cancels to about 4 z p, which rounding swamps for
    // tiny z; the flux hardly changes between z = 0 and 1e-8.
    z = std::max(z, 1e-8);
    // Trapezoidal mean of the intensity over the annulus the planet covers,
    // weighted by 2 r.
    const bool inside = z < 1 - p;
    const double lower = z - p, width = inside ? 2 * p : 1 - lower;
    // On the stack: this runs for every point in transit.
    constexpr int kNodes = 31;
    double r[kNodes], y[kNodes];
    for (int j = 0; j < kNodes; ++j) {
        r[j] = j * width / 30 + lower;
        y[j] = 2 * r[j] * intensity(r[j], gamma1, gamma2);
    }
    const double ring = integ(y, 1, r, 1, kNodes);
    const double norm = normalisation(gamma1, gamma2);
    if (inside)
        return physical(-p * p * (ring / (4 * z * p)) / norm);
    const double mean = ring / (1 - lower * lower);
    const double d = z - 1;
    const double area = p * p * acosClamped(d / p) - d * std::sqrt(std::max(0.0, p * p - d * d));
    return physical(-mean * area / (kPi * norm));
}
