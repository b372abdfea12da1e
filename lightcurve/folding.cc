// Folding a light curve at a period and epoch, binning the folded light
// curve in phase, and the weights of the folded points.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/guards.h"
#include "lightcurve/phase.h"
#include "lightcurve/sorting.h"
#include "lightcurve/weights.h"

namespace {

// Makes to hold the elements source[1..n] of a. Its storage is used again
// when the light curve alone holds it and it has room for exactly n elements
// from 1 (nobody can see the elements it held); else to becomes a new array.
// Folding again then touches no fresh memory and makes no new strings.
template <class T>
void order(orv::MArray<T, 1> &to, const orv::MArray<T, 1> &a, const std::vector<int> &source, int n)
{
    const orv::MemoryBlock<T> *block = to.memoryBlock();
    const bool reusable = block != nullptr && block->references == 1 && to.length(1) == n &&
                          to.firstIndex(1) == 1 && to.isStorageContiguous();
    if (!reusable)
        to.makeReference(orv::MArray<T, 1>(n));
    for (int p = 1; p <= n; ++p)
        to(p) = a(source[p]);
}

} // namespace

void PhaseBins::reset(int n)
{
    n_ = n;
    w_ = 1.0 / n;
    sums_.assign(static_cast<std::size_t>(kSets) * (n + 1) * 3, 0.0);
}

void PhaseBins::add(const double *p, const double *v, const double *vf, int count)
{
    if (bin_.size() < static_cast<std::size_t>(count))
        bin_.resize(count);
    int *bin = bin_.data();
    // The bins first, in a loop without branches that the compiler turns into
    // vector instructions. The product p*n may round across an edge; the
    // edges themselves decide, one step either way.
    const int n = n_;
    const double w = w_, last = n - 1;
    for (int i = 0; i < count; ++i) {
        double x = p[i] * n;
        x = x > 0 ? x : 0; // NaN too
        x = x < last ? x : last;
        int j = static_cast<int>(x) + 1;
        j -= (j > 1) & (p[i] < (j - 1) * w);
        j += (j < n) & (p[i] >= j * w);
        bin[i] = p[i] == p[i] ? j : 0;
    }
    // Point i goes to set i % kSets.
    double *set[kSets];
    for (int k = 0; k < kSets; ++k)
        set[k] = &sums_[static_cast<std::size_t>(k) * (n + 1) * 3];
    const auto put = [&](double *sums, int i) {
        double *s = sums + static_cast<std::size_t>(bin[i]) * 3;
        s[0] += p[i] * v[i];
        s[1] += vf[i];
        s[2] += v[i];
    };
    int i = 0;
    for (; i + kSets <= count; i += kSets)
        for (int k = 0; k < kSets; ++k)
            put(set[k], i + k);
    for (int k = 0; i < count; ++i, ++k)
        put(set[k], i);
}

int PhaseBins::means(double *phase, double *flux, double *weight) const
{
    int m = 0;
    for (int j = 1; j <= n_; ++j) {
        double sp = 0, sf = 0, sw = 0;
        for (int k = 0; k < kSets; ++k) {
            const double *s = &sums_[(static_cast<std::size_t>(k) * (n_ + 1) + j) * 3];
            sp += s[0];
            sf += s[1];
            sw += s[2];
        }
        // A bin is empty when nothing weighs in it; its phase sum is 0 also
        // when it holds only points at phase 0.
        if (sw == 0)
            continue;
        phase[m] = sp / sw;
        flux[m] = sf / sw;
        weight[m] = sw;
        ++m;
    }
    return m;
}

void Lightcurve::fold_quick(double P, double T)
{
    fold(P, T);
}
void Lightcurve::fold_quick(double P)
{
    fold(P, 0.0);
}
void Lightcurve::fold_quick()
{
    fold(period, t0);
}
void Lightcurve::fold(double P)
{
    fold(P, 0.0);
}
void Lightcurve::fold()
{
    fold(period, t0);
}

void Lightcurve::fold(double P, double T)
{
    if (!pointsReady(has_data, length) || !foldable(P, T))
        return;
    // An epoch of 0 (either sign) puts the first point that counts at phase
    // 0.
    const int first = T == 0 ? firstCountedPoint() : 0;
    if (T == 0 && !finitePointsReady(first != 0))
        return;
    foldAt(P, T == 0 ? jd(first) + P / 2 : T);
}

void Lightcurve::foldAt(double P, double T)
{
    folded = true;
    period = P;
    t0 = T;
    const int n = length;
    orv::MArray<double, 1> phases(n);
    bool timeless = false;
    for (int i = 1; i <= n; ++i) {
        phases(i) = foldedPhase(jd(i), P, t0);
        timeless = timeless || std::isnan(phases(i));
    }
    // Every per-point array follows the phase order, so that no phased array
    // keeps the order of an earlier fold. Equal phases keep their order;
    // points without a phase (no finite time) follow all others, in their
    // order.
    std::vector<int> source = sortingSources(phases, n);
    if (timeless)
        std::stable_partition(source.begin() + 1, source.end(),
                              [&](int p) { return !std::isnan(phases(p)); });
    order(phase, phases, source, n);
    order(phased_flux, flux, source, n);
    order(phased_error, error, source, n);
    order(phased_weights, weights, source, n);
    order(phased_nchi, nchi, source, n);
    order(phased_boxval, boxval, source, n);
    order(phased_filename, filename, source, n);
    phased_length = n;
}

void Lightcurve::binning_phased(int N)
{
    if (!folded) {
        std::cout << "lightcurve is not folded!" << std::endl;
        return;
    }
    if (!binCountReady(N))
        return;
    // The entries binned are the phased ones (the bins of an earlier binning
    // are binned again).
    // An entry that does not count enters no bin.
    bool alike = false;
    std::vector<double> p, v, vf;
    for (int i : countedEntries(&alike)) {
        p.push_back(phase(i));
        v.push_back(weightOf(phased_error(i), alike));
        vf.push_back(phased_flux(i) * v.back());
    }
    PhaseBins bins;
    bins.reset(N);
    bins.add(p.data(), v.data(), vf.data(), static_cast<int>(p.size()));
    std::vector<double> meanPhase(N), meanFlux(N), weight(N);
    const int m = bins.means(meanPhase.data(), meanFlux.data(), weight.data());
    orv::MArray<double, 1> binPhase(m), binFlux(m), binError(m);
    for (int k = 1; k <= m; ++k) {
        binPhase(k) = meanPhase[k - 1];
        binFlux(k) = meanFlux[k - 1];
        // Means of values without noise have none.
        binError(k) = alike ? 0.0 : 1.0 / std::sqrt(weight[k - 1]);
    }
    phase.makeReference(binPhase);
    phased_flux.makeReference(binFlux);
    phased_error.makeReference(binError);
    phased_length = m;
}

void Lightcurve::calc_phased_weights()
{
    if (!dataReady(has_data))
        return;
    if (!folded) {
        std::cout << "lightcurve not folded yet!" << std::endl;
        return;
    }
    // An entry that does not count weighs nothing.
    orv::MArray<double, 1> w(phased_length);
    w = 0.0;
    bool alike = false;
    double sum = 0;
    for (int i : countedEntries(&alike)) {
        w(i) = weightOf(phased_error(i), alike);
        sum += w(i);
    }
    for (int i = 1; i <= phased_length; ++i)
        if (w(i) != 0)
            w(i) /= sum;
    phased_weights.makeReference(w);
}
