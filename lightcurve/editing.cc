// Editing and normalisation of a light curve's points.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <utility>
#include <vector>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/sorting.h"

namespace {

// Puts element order[k] of a at place places[k], for every k.
template <class T>
void permute(orv::MArray<T, 1>& a, const std::vector<std::pair<double, int>>& order, const std::vector<int>& places) {
    std::vector<T> moved(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) moved[k] = std::move(a(order[k].second));
    for (std::size_t k = 0; k < order.size(); ++k) a(places[k]) = std::move(moved[k]);
}

}  // namespace

void Lightcurve::blend(double c) {
    if (!analytical || magnitudes) {
        std::cout << "error: blending only possible for analytical lightcurves in flux format!" << std::endl;
        return;
    }
    for (int i = 1; i <= length; ++i)
        if (flux(i) < 1.0) flux(i) += c * (1.0 - flux(i));
}

void Lightcurve::scale(double s) {
    if (!checkData()) return;
    for (int i = 1; i <= length; ++i) {
        flux(i) *= s;
        error(i) *= s;
    }
}

void Lightcurve::nchi_scale() {
    if (!checkData()) return;
    for (int i = 1; i <= length; ++i) error(i) *= nchi(i);
}

void Lightcurve::calc_weights() {
    if (!checkData()) return;
    weighted = true;
    double sum = 0;
    for (int i = 1; i <= length; ++i) sum += 1.0 / (error(i) * error(i));
    for (int i = 1; i <= length; ++i) weights(i) = 1.0 / (error(i) * error(i)) / sum;
}

void Lightcurve::renorm() {
    if (!checkData()) return;
    if (!weighted) {
        std::cout << "weights not calculated yet!" << std::endl;
        return;
    }
    double sum = 0;
    for (int i = 1; i <= length; ++i) sum += flux(i) * weights(i);
    for (int i = 1; i <= length; ++i) flux(i) -= sum;
    norm = sum;
}

void Lightcurve::upscale() {
    if (!checkData()) return;
    for (int i = 1; i <= length; ++i) flux(i) += norm;
    if (!boxfitted) return;
    for (int i = 1; i <= 10 && i <= out_level_box.length(1); ++i) out_level_box(i) += norm;
    for (int i = 1; i <= 10 && i <= in_level_box.length(1); ++i) in_level_box(i) += norm;
}

void Lightcurve::manipulate(int n, double x) {
    if (n < 1 || n > length) {
        std::cout << "error: number(" << n << ") out of range (1," << length << ")!" << std::endl;
        return;
    }
    flux(n) += x;
}

void Lightcurve::remove_point(int n) {
    if (n < 1 || length < 1) {
        std::cout << "error: number(" << n << ") out of range (1," << length << ")!" << std::endl;
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

void Lightcurve::sort() {
    if (!checkData()) return;
    bool ordered = true;
    for (int i = 1; i < length && ordered; ++i) ordered = jd(i) <= jd(i + 1);
    if (ordered) return;
    // Sorting (time, index) pairs keeps points of equal time in order; points
    // without a time keep their places, as an exchange sort would leave them.
    std::vector<std::pair<double, int>> order;
    std::vector<int> places;
    order.reserve(length);
    places.reserve(length);
    for (int i = 1; i <= length; ++i)
        if (!std::isnan(jd(i))) {
            order.emplace_back(jd(i), i);
            places.push_back(i);
        }
    std::sort(order.begin(), order.end());
    permute(jd, order, places);
    permute(flux, order, places);
    permute(error, order, places);
    permute(weights, order, places);
    permute(nchi, order, places);
    permute(boxval, order, places);
    permute(filename, order, places);
}

void Lightcurve::normalize() {
    if (checkData()) divideByMedian();
}

void Lightcurve::normalize_flux() {
    if (magnitudes) {
        std::cout << "error: lightcurve in magnitudes!" << std::endl;
        return;
    }
    divideByMedian();
}

void Lightcurve::divideByMedian() {
    const double m = median(points(flux));
    for (int i = 1; i <= length; ++i) {
        flux(i) /= m;
        error(i) /= m;
    }
}

void Lightcurve::convert2flux() {
    if (!magnitudes) {
        std::cout << "error: lightcurve already in fluxes!" << std::endl;
        return;
    }
    for (int i = 1; i <= length; ++i) {
        const double m = flux(i), e = error(i);
        error(i) = std::fabs(0.5 * (std::pow(10.0, -0.4 * (m - e)) - std::pow(10.0, -0.4 * (m + e))));
        flux(i) = std::pow(10.0, -0.4 * m);
    }
    magnitudes = false;
    normalize_flux();
}

void Lightcurve::convert2mag(double z) {
    if (magnitudes) {
        std::cout << "error: lightcurve already in magnitudes!" << std::endl;
        return;
    }
    for (int i = 1; i <= length; ++i) {
        const double f = flux(i), e = error(i);
        error(i) = std::fabs(1.25 * std::log10((f + e) / (f - e)));
        flux(i) = -2.5 * std::log10(f);
    }
    // The median magnitude becomes the zero point.
    const double m = median(points(flux));
    for (int i = 1; i <= length; ++i) flux(i) = flux(i) - m + z;
    magnitudes = true;
}
