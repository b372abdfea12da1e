// The reference is the occulted light itself: the limb-darkened intensity
// integrated over the part of the stellar disc that the planet covers,
// computed here by quadrature in rings about the stellar centre.
#include "lightcurve/occultation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const double kPi = std::acos(-1.0);

// Limb-darkening pairs at the corners of the physical set (intensity
// positive and falling towards the limb: gamma1 >= 0, gamma1 + 2 gamma2 >= 0,
// gamma1 + gamma2 <= 1) and inside it. The flux is a ratio of functions
// linear in the pair, so its extremes over the set lie at the corners.
const double kGammas[][2] = {{0, 0}, {0, 1}, {2, -1}, {1, 0}, {0.4, 0.3}};

// The integrals over the occulted area of I0 = 1, I1 = 1 - mu and
// I2 = (1 - mu)^2: the intensity gamma1, gamma2 is I0 - gamma1 I1 - gamma2 I2.
// In rings of radius r the planet covers the arc 2 alpha(r); the pieces
// between the kinks of alpha and the limb are integrated by the tanh-sinh
// rule, which is exact to rounding for integrands smooth inside with
// square-root ends.
std::array<double, 3> occultedMoments(double p, double z)
{
    auto alpha = [p, z](double r) {
        if (r <= p - z)
            return kPi;
        if (r <= z - p || r >= z + p)
            return 0.0;
        return std::acos(std::max(-1.0, std::min(1.0, (r * r + z * z - p * p) / (2 * r * z))));
    };
    std::array<double, 4> cuts = {0, std::fabs(z - p), z + p, 1};
    std::sort(cuts.begin(), cuts.end());
    std::array<double, 3> moments = {0, 0, 0};
    const double h = 1.0 / 32;
    for (int s = 0; s < 3; ++s) {
        const double a = std::min(cuts[s], 1.0), b = std::min(cuts[s + 1], 1.0);
        if (b <= a)
            continue;
        const double half = 0.5 * (b - a), mid = 0.5 * (a + b);
        for (int k = -120; k <= 120; ++k) {
            const double u = 0.5 * kPi * std::sinh(k * h);
            const double w =
                0.5 * kPi * std::cosh(k * h) / (std::cosh(u) * std::cosh(u)) * half * h;
            const double r = mid + half * std::tanh(u);
            const double ring = w * 2 * r * alpha(r);
            const double x = 1 - std::sqrt(std::max(0.0, 1 - r * r));
            moments[0] += ring;
            moments[1] += ring * x;
            moments[2] += ring * x * x;
        }
    }
    return moments;
}

// The flux change the moments give: minus the occulted light over the
// star's whole light pi (1 - gamma1/3 - gamma2/6).
double integratedFlux(const std::array<double, 3> &m, double gamma1, double gamma2)
{
    return -(m[0] - gamma1 * m[1] - gamma2 * m[2]) / (kPi * (1 - gamma1 / 3 - gamma2 / 6));
}

// Where the planet touches the limb or its edge passes the disc centre.
double contactDistance(double p, double z)
{
    return std::min({std::fabs(z - (1 + p)), std::fabs(z - std::fabs(1 - p)), std::fabs(z - p)});
}

// What the approximations of K and E (absolute error up to 2e-8) leave:
// a few 1e-7 away from the contacts; near them the closed forms are
// combinations of terms that diverge there, so the error grows inversely
// with the distance, until, in the narrow bands around the contacts, the
// contact's own closed form stands in for its neighbourhood.
double tolerance(double p, double z)
{
    const double d = contactDistance(p, z);
    return d < 3e-4 * (1 + p) ? 3e-4 : 3e-7 + 4e-9 * (1 + p + z) / d;
}

// Planet radii from tiny to larger than the star, with the special sizes.
std::vector<double> radii()
{
    std::vector<double> p;
    for (double r = 1e-3; r < 3; r *= 1.25)
        p.push_back(r);
    for (double r :
         {0.1, 0.4999, 0.49999, 0.5, 0.50001, 0.5001, 0.9999, 1.0, 1.0001, 1.0005, 1.5, 2.0})
        p.push_back(r);
    return p;
}

// Separations across the whole transit and close to every contact, down to
// single rounding steps.
std::vector<double> separations(double p, int steps)
{
    std::vector<double> z;
    for (int i = 0; i <= steps; ++i)
        z.push_back((1 + p) * 1.01 * i / steps);
    for (double c : {1 + p, std::fabs(1 - p), p}) {
        z.push_back(c);
        z.push_back(std::nextafter(c, 0.0));
        z.push_back(std::nextafter(c, 9.0));
        for (double d = 1e-14; d < 0.05; d *= 10) {
            z.push_back(c - d);
            z.push_back(c + d);
            z.push_back(c * (1 - d));
            z.push_back(c * (1 + d));
        }
    }
    z.push_back(0);
    z.push_back(1e-12);
    z.erase(std::remove_if(z.begin(), z.end(), [](double v) { return v < 0; }), z.end());
    return z;
}

// A flux change and where it was computed, for failure messages.
std::string where(double dF, double p, double z, const double *g)
{
    char text[200];
    std::snprintf(text, sizeof text, "%.10g at p = %.17g, z = %.17g, gamma = (%g, %g)", dF, p, z,
                  g[0], g[1]);
    return text;
}

} // namespace

TEST(Occultation, ExactFormulasMatchTheIntegratedDisc)
{
    testing::internal::CaptureStdout();
    std::string failure;
    for (double p : radii())
        for (double z : separations(p, 60)) {
            const std::array<double, 3> m = occultedMoments(p, z);
            for (const auto &g : kGammas) {
                const double dF = occultation_exact(p, z, g[0], g[1]),
                             expected = integratedFlux(m, g[0], g[1]);
                if (failure.empty() && !(std::fabs(dF - expected) <= tolerance(p, z)))
                    failure = where(dF, p, z, g) + ", integrated " + where(expected, p, z, g);
            }
        }
    EXPECT_EQ("", testing::internal::GetCapturedStdout())
        << "no argument of an elliptic integral may be out of range";
    EXPECT_EQ("", failure);
}

TEST(Occultation, NeverLeavesThePhysicalRange)
{
    testing::internal::CaptureStdout();
    std::string failure;
    std::vector<double> p;
    for (double r = 1e-4; r < 4; r *= 1.03)
        p.push_back(r);
    for (double r : radii())
        p.push_back(r);
    for (double pr : p)
        for (double z : separations(pr, 400))
            for (const auto &g : kGammas)
                for (double dF :
                     {occultation_exact(pr, z, g[0], g[1]), occultation_small(pr, z, g[0], g[1])})
                    if (failure.empty() && !(dF >= -1 && dF <= 0))
                        failure = where(dF, pr, z, g);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ("", failure);
}

TEST(Occultation, ClosedFormCases)
{
    const double g1 = 0.4, g2 = 0.3, norm = 1 - g1 / 3 - g2 / 6;
    // A uniform disc: the hidden light is the hidden area.
    for (double p : {0.01, 0.1, 0.3, 0.7}) {
        EXPECT_DOUBLE_EQ(-p * p, occultation_exact(p, 0, 0, 0)) << p;
        EXPECT_DOUBLE_EQ(-p * p, occultation_exact(p, (1 - p) / 2, 0, 0)) << p;
    }
    // Covered completely: all light is gone, whatever the limb darkening.
    for (const auto &g : kGammas) {
        EXPECT_EQ(-1.0, occultation_exact(1.0, 0, g[0], g[1]));
        EXPECT_EQ(-1.0, occultation_exact(1.5, 0.5, g[0], g[1]));
        EXPECT_EQ(-1.0, occultation_exact(3.0, 1.2, g[0], g[1]));
        EXPECT_EQ(-1.0, occultation_small(1.5, 0.2, g[0], g[1]));
    }
    // Discs that only touch hide nothing.
    for (double p : {0.05, 0.5, 1.0, 2.0}) {
        EXPECT_EQ(0.0, occultation_exact(p, 1 + p, g1, g2));
        EXPECT_EQ(0.0, occultation_small(p, 1 + p, g1, g2));
        EXPECT_EQ(0.0, occultation_exact(p, 5, g1, g2));
    }
    // Radius 0.5 with its edge on the centre: lambda_d = 1/3 - 4/(9 pi),
    // eta_d = 3/32 and the uniform-disc term p^2.
    EXPECT_NEAR(-(0.25 * (1 - g1 - 2 * g2) + 0.19186227280720397 * (g1 + 2 * g2) + 0.09375 * g2) /
                    norm,
                occultation_exact(0.5, 0.5, g1, g2), 1e-15);
}

TEST(Occultation, SmallPlanetApproximationFollowsTheDisc)
{
    // Its error is that of taking the intensity as constant along the
    // planet's rings: a small part of the depth p^2 for small planets.
    for (double p : {0.01, 0.05, 0.1})
        for (double z : separations(p, 40)) {
            const std::array<double, 3> m = occultedMoments(p, z);
            for (const auto &g : kGammas) {
                const double dF = occultation_small(p, z, g[0], g[1]);
                ASSERT_NEAR(integratedFlux(m, g[0], g[1]), dF, 0.05 * p * p) << where(dF, p, z, g);
                ASSERT_TRUE(dF >= -1 && dF <= 0) << where(dF, p, z, g);
            }
        }
}
