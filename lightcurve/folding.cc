// Folding a light curve at a period and epoch, binning the folded light
// curve in phase, and the weights of the folded points.
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/guards.h"
#include "lightcurve/phase.h"
#include "lightcurve/sorting.h"

namespace {

// A new array whose element p is element source[p] of a, p = 1..n.
template <class T>
orv::MArray<T, 1> ordered(const orv::MArray<T, 1>& a, const std::vector<int>& source, int n) {
    orv::MArray<T, 1> to(n);
    for (int p = 1; p <= n; ++p) to(p) = a(source[p]);
    return to;
}

}  // namespace

void PhaseBins::reset(int n) {
    n_ = n;
    w_ = 1.0 / n;
    for (std::vector<double>* s : {&phase_, &flux_, &weight_}) s->assign(static_cast<std::size_t>(n) + 1, 0.0);
}

void PhaseBins::add(const double* p, const double* v, const double* vf, int count) {
    // Neighbouring points mostly share a bin: their sums are kept in
    // registers until the bin changes.
    int bin = 0;
    double sp = 0, sf = 0, sw = 0;
    for (int i = 0; i < count; ++i) {
        if (std::isnan(p[i])) continue;
        const int j = phaseBin(p[i], n_, w_);
        if (j != bin) {
            phase_[bin] += sp;
            flux_[bin] += sf;
            weight_[bin] += sw;
            bin = j;
            sp = sf = sw = 0;
        }
        sp += p[i] * v[i];
        sf += vf[i];
        sw += v[i];
    }
    phase_[bin] += sp;
    flux_[bin] += sf;
    weight_[bin] += sw;
}

int PhaseBins::means(double* phase, double* flux, double* weight) const {
    int m = 0;
    for (int j = 1; j <= n_; ++j) {
        // A bin is empty when nothing weighs in it; its phase sum is 0 also
        // when it holds only points at phase 0.
        if (weight_[j] == 0) continue;
        phase[m] = phase_[j] / weight_[j];
        flux[m] = flux_[j] / weight_[j];
        weight[m] = weight_[j];
        ++m;
    }
    return m;
}

void Lightcurve::fold_quick(double P, double T) { fold(P, T); }
void Lightcurve::fold_quick(double P) { fold(P, 0.0); }
void Lightcurve::fold_quick() { fold(period, t0); }
void Lightcurve::fold(double P) { fold(P, 0.0); }
void Lightcurve::fold() { fold(period, t0); }

void Lightcurve::fold(double P, double T) {
    if (!pointsReady(has_data, length)) return;
    folded = true;
    period = P;
    // An epoch of 0 (either sign) puts the first point at phase 0.
    t0 = T == 0 ? jd(1) + P / 2 : T;
    const int n = length;
    orv::MArray<double, 1> phases(n);
    for (int i = 1; i <= n; ++i) phases(i) = foldedPhase(jd(i), P, t0);
    // Every per-point array follows the phase order, so that no phased array
    // keeps the order of an earlier fold. Equal phases keep their time order.
    const std::vector<int> source = sortingSources(phases, n);
    phase.makeReference(ordered(phases, source, n));
    phased_flux.makeReference(ordered(flux, source, n));
    phased_error.makeReference(ordered(error, source, n));
    phased_weights.makeReference(ordered(weights, source, n));
    phased_nchi.makeReference(ordered(nchi, source, n));
    phased_boxval.makeReference(ordered(boxval, source, n));
    phased_filename.makeReference(ordered(filename, source, n));
    phased_length = n;
}

void Lightcurve::binning_phased(int N) {
    if (!folded) {
        std::cout << "lightcurve is not folded!" << std::endl;
        return;
    }
    if (N < 1) {
        std::cout << "error: number of phase bins must be positive!" << std::endl;
        return;
    }
    // The entries binned are the phased ones (the bins of an earlier binning
    // are binned again).
    const int n = phased_length;
    std::vector<double> p(n), v(n), vf(n);
    for (int i = 0; i < n; ++i) {
        const double e = phased_error(i + 1);
        p[i] = phase(i + 1);
        v[i] = 1.0 / (e * e);
        vf[i] = phased_flux(i + 1) * v[i];
    }
    PhaseBins bins;
    bins.reset(N);
    bins.add(p.data(), v.data(), vf.data(), n);
    std::vector<double> meanPhase(N), meanFlux(N), weight(N);
    const int m = bins.means(meanPhase.data(), meanFlux.data(), weight.data());
    orv::MArray<double, 1> binPhase(m), binFlux(m), binError(m);
    for (int k = 1; k <= m; ++k) {
        binPhase(k) = meanPhase[k - 1];
        binFlux(k) = meanFlux[k - 1];
        binError(k) = 1.0 / std::sqrt(weight[k - 1]);
    }
    phase.makeReference(binPhase);
    phased_flux.makeReference(binFlux);
    phased_error.makeReference(binError);
    phased_length = m;
}

void Lightcurve::calc_phased_weights() {
    if (!dataReady(has_data)) return;
    if (!folded) {
        std::cout << "lightcurve not folded yet!" << std::endl;
        return;
    }
    orv::MArray<double, 1> w(phased_length);
    double sum = 0;
    for (int i = 1; i <= phased_length; ++i) {
        const double e = phased_error(i);
        w(i) = 1.0 / (e * e);
        sum += w(i);
    }
    for (int i = 1; i <= phased_length; ++i) w(i) /= sum;
    phased_weights.makeReference(w);
}
