// Editing and normalisation of a light curve's points.
#include <cmath>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/filled.h"
#include "lightcurve/guards.h"
#include "lightcurve/sorting.h"
#include "lightcurve/weights.h"

namespace {

bool same(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}
bool same(const std::string &a, const std::string &b)
{
    return a == b;
}

// Whether the elements 1..n of a differ: one that holds a single value needs
// no moving.
template <class T>
bool varies(const orv::MArray<T, 1> &a, int n)
{
    for (int p = 2; p <= n; ++p)
        if (!same(a(p), a(1)))
            return true;
    return false;
}

// Element source[p] of a goes to place p, for p = 1..n, through the buffer
// (independent loads, which the processor overlaps, unlike the dependent
// ones of following cycles in place).
template <class T>
void gather(orv::MArray<T, 1> &a, const std::vector<int> &source, std::vector<T> &buffer)
{
    const int n = static_cast<int>(source.size()) - 1;
    buffer.resize(n + 1);
    for (int p = 1; p <= n; ++p)
        buffer[p] = std::move(a(source[p]));
    for (int p = 1; p <= n; ++p)
        a(p) = std::move(buffer[p]);
}

} // namespace

void Lightcurve::blend(double c)
{
    if (!analytical || magnitudes) {
        std::cout << "error: blending only possible for analytical lightcurves in flux format!"
                  << std::endl;
        return;
    }
    for (int i = 1; i <= length; ++i)
        if (flux(i) < 1.0)
            flux(i) += c * (1.0 - flux(i));
}

void Lightcurve::scale(double s)
{
    if (!checkData())
        return;
    // An error is a size: a negative factor turns the fluxes over, not the
    // errors, which would then weigh nothing.
    for (int i = 1; i <= length; ++i) {
        flux(i) *= s;
        error(i) *= std::fabs(s);
    }
}

void Lightcurve::nchi_scale()
{
    if (!checkData())
        return;
    for (int i = 1; i <= length; ++i)
        error(i) *= nchi(i);
}

void Lightcurve::calc_weights()
{
    if (!checkData())
        return;
    weighted = true;
    bool alike = false;
    const std::vector<int> points = countedPoints(&alike);
    double sum = 0;
    for (int i : points)
        sum += weightOf(error(i), alike);
    for (int i = 1; i <= length; ++i)
        weights(i) = 0.0;
    for (int i : points)
        weights(i) = weightOf(error(i), alike) / sum;
}

void Lightcurve::renorm()
{
    if (!checkData())
        return;
    if (!weighted) {
        std::cout << "weights not calculated yet!" << std::endl;
        return;
    }
    double sum = 0;
    for (int i : countedPoints())
        sum += flux(i) * weights(i);
    for (int i = 1; i <= length; ++i)
        flux(i) -= sum;
    norm = sum;
}

void Lightcurve::upscale()
{
    if (!checkData())
        return;
    for (int i = 1; i <= length; ++i)
        flux(i) += norm;
    if (!boxfitted)
        return;
    for (int i = 1; i <= 10 && i <= out_level_box.length(1); ++i)
        out_level_box(i) += norm;
    for (int i = 1; i <= 10 && i <= in_level_box.length(1); ++i)
        in_level_box(i) += norm;
}

void Lightcurve::manipulate(int n, double x)
{
    if (indexInRange(n, length))
        flux(n) += x;
}

void Lightcurve::remove_point(int n)
{
    // A number beyond the end stands for the last point.
    if (n < 1 || length < 1) {
        indexInRange(n, length); // reports the number
        return;
    }
    // The weights move with their points, so that they stay usable until the
    // next calc_weights.
    for (int c = n; c < length; ++c) {
        jd(c) = jd(c + 1);
        flux(c) = flux(c + 1);
        error(c) = error(c + 1);
        weights(c) = weights(c + 1);
        nchi(c) = nchi(c + 1);
        boxval(c) = boxval(c + 1);
        filename(c) = filename(c + 1);
    }
    --length;
}

void Lightcurve::sort()
{
    if (!checkData())
        return;
    bool ordered = true;
    for (int i = 1; i < length && ordered; ++i)
        ordered = jd(i) <= jd(i + 1);
    if (ordered)
        return;
    // Points of equal time keep their order; points without a time (NaN)
    // keep their places, as an exchange sort would leave them.
    const std::vector<int> source = sortingSources(jd, length);
    std::vector<double> numbers;
    for (orv::MArray<double, 1> *a : {&jd, &flux, &error, &weights, &nchi, &boxval})
        if (varies(*a, length))
            gather(*a, source, numbers);
    std::vector<std::string> names;
    if (varies(filename, length))
        gather(filename, source, names);
}

void Lightcurve::normalize()
{
    if (checkData())
        divideByMedian();
}

void Lightcurve::normalize_flux()
{
    if (magnitudes) {
        std::cout << "error: lightcurve in magnitudes!" << std::endl;
        return;
    }
    divideByMedian();
}

void Lightcurve::divideByMedian()
{
    const orv::MArray<double, 1> finite = atCountedPoints(flux);
    if (finite.length(1) == 0) {
        if (length > 0)
            finitePointsReady(false);
        return;
    }
    const double m = median(finite);
    for (int i = 1; i <= length; ++i) {
        flux(i) /= m;
        error(i) /= m;
    }
}

void Lightcurve::convert2flux()
{
    if (!magnitudes) {
        std::cout << "error: lightcurve already in fluxes!" << std::endl;
        return;
    }
    for (int i = 1; i <= length; ++i) {
        const double m = flux(i), e = error(i);
        error(i) =
            std::fabs(0.5 * (std::pow(10.0, -0.4 * (m - e)) - std::pow(10.0, -0.4 * (m + e))));
        flux(i) = std::pow(10.0, -0.4 * m);
    }
    magnitudes = false;
    normalize_flux();
}

void Lightcurve::convert2mag(double z)
{
    if (magnitudes) {
        std::cout << "error: lightcurve already in magnitudes!" << std::endl;
        return;
    }
    // The zero point is the median magnitude of the points that count and
    // have one (a flux above 0). Without such a point the light curve is
    // left as it was.
    const int n = length;
    std::vector<double> counted;
    for (int i : countedPoints()) {
        const double m = -2.5 * std::log10(flux(i));
        if (std::isfinite(m))
            counted.push_back(m);
    }
    if (n > 0 && !finitePointsReady(!counted.empty()))
        return;
    for (int i = 1; i <= n; ++i) {
        const double f = flux(i), e = error(i);
        error(i) = std::fabs(1.25 * std::log10((f + e) / (f - e)));
        flux(i) = -2.5 * std::log10(f);
    }
    const double m = n > 0 ? median(fromVector(counted)) : 0;
    for (int i = 1; i <= n; ++i)
        flux(i) = flux(i) - m + z;
    magnitudes = true;
}
