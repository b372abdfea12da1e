// Red-noise analysis: how the scatter of the means of neighbouring points
// falls with their number, against the white-noise law rms/sqrt(k).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <vector>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/guards.h"
#include "lightcurve/sorting.h"
#include "lightcurve/tables.h"

namespace {

// Whether there are at least two points ("error: at least two points
// needed!").
bool twoPoints(bool hasData, int length)
{
    if (!pointsReady(hasData, length))
        return false;
    if (length >= 2)
        return true;
    std::cout << "error: at least two points needed!" << std::endl;
    return false;
}

// Median and sqrt(sum (flux - median)^2 / (n - 1)) of the fluxes 1..n.
void medianAndRms(const orv::MArray<double, 1> &flux, int n, double &med, double &rms)
{
    med = median(flux(orv::Range(1, n)));
    double sum = 0;
    for (int i = 1; i <= n; ++i)
        sum += (flux(i) - med) * (flux(i) - med);
    rms = std::sqrt(sum / (n - 1));
}

// Counts and summed squared deviations from the median of the means of
// windows, per window size 1..n.
struct WindowSums {
    std::vector<int> count;
    std::vector<double> squares;
    explicit WindowSums(int n) : count(n + 1, 0), squares(n + 1, 0.0) {}
    void add(int size, double mean, double med)
    {
        ++count[size];
        squares[size] += (med - mean) * (med - mean);
    }
};

} // namespace

orv::MArray<double, 2> Lightcurve::analyze_rednoise2(double W) const
{
    if (!twoPoints(has_data, length))
        return orv::MArray<double, 2>(0, 4);
    // The points that do not count are left out as if they were not there.
    const std::vector<int> points = countedPoints();
    if (static_cast<int>(points.size()) < length)
        return finitePointsReady(!points.empty()) ? pointsOnly(points).analyze_rednoise2(W)
                                                  : orv::MArray<double, 2>(0, 4);
    const int n = length;
    // The window moves in steps of a fifth of the smallest time step, which
    // only increasing times make positive.
    double h = jd(n) - jd(1);
    bool increasing = std::isfinite(jd(1)) && std::isfinite(jd(n));
    for (int i = 1; i < n; ++i) {
        const double d = jd(i + 1) - jd(i);
        increasing = increasing && d > 0;
        h = std::min(h, d);
    }
    if (!increasing) {
        std::cout << "error: times do not increase!" << std::endl;
        return orv::MArray<double, 2>(0, 4);
    }
    if (!std::isfinite(W)) {
        std::cout << "error: window width is not finite!" << std::endl;
        return orv::MArray<double, 2>(0, 4);
    }
    const double a = h / 5;
    const double lo0 = jd(1) - 2 * W, hi0 = lo0 + W;
    // Steps are counted in 64 bits: one wrong time far from the others can
    // ask for more steps than a double counts one by one (2^53). The last
    // window ends at the last point.
    using Step = std::int64_t;
    const double steps = (jd(n) - std::min(lo0, hi0)) / a + 2;
    if (!(steps < 0x1p62)) {
        std::cout << "error: too many window steps!" << std::endl;
        return orv::MArray<double, 2>(0, 4);
    }
    double med, rms;
    medianAndRms(flux, n, med, rms);
    std::cout << "average=" << med << ", normalized rms=" << rms / med << std::endl;

    // Step k puts the window at lo0 + k*a .. hi0 + k*a. Its first point I
    // (the first of 1..n-1 at or after its start, else n) and its last point
    // J (the last of 2..n at or before its end, else 1) change only at some
    // steps; the steps in between repeat the window and are skipped.
    const auto edge = [a](double from, Step k) { return from + static_cast<double>(k) * a; };
    const auto firstStepFrom = [&](double from, double time, Step k) {
        // The first step after k with an edge at or after time. Past 2^53
        // neighbouring steps may share an edge, so the estimate is corrected
        // step by step.
        Step s = std::max(k + 1, static_cast<Step>(std::ceil((time - from) / a)));
        while (s > k + 1 && edge(from, s - 1) >= time)
            --s;
        while (edge(from, s) < time)
            ++s;
        return s;
    };
    WindowSums sums(n);
    int I = 1, J = 1, E = 0, F = 0;
    for (Step k = 1;;) {
        const double lo = edge(lo0, k), hi = edge(hi0, k);
        while (I < n && jd(I) < lo)
            ++I;
        while (J < n && jd(J + 1) <= hi)
            ++J;
        if ((I != E && I <= J) || J != F) {
            // A window that has skipped a point (narrower than the step) is
            // no window.
            if (J >= I) {
                double sum = 0;
                for (int i = I; i <= J; ++i)
                    sum += flux(i);
                sums.add(J - I + 1, sum / (J - I + 1), med);
            }
            if (I == n || J == n)
                break;
            E = I;
            F = J;
        }
        // I = n and J = n together end the loop above.
        Step next = std::numeric_limits<Step>::max();
        if (I < n)
            next = firstStepFrom(lo0, jd(I), k);
        if (J < n)
            next = std::min(next, firstStepFrom(hi0, jd(J + 1), k));
        k = next;
    }

    // Row k for window size k; sizes with fewer than two windows keep 0.
    int rows = 0;
    for (int k = 1; k <= n; ++k)
        if (sums.count[k] > 1)
            rows = k;
    orv::MArray<double, 2> table(rows, 4);
    table = 0.0;
    for (int k = 1; k <= rows; ++k) {
        const int c = sums.count[k];
        if (c <= 1)
            continue;
        table(k, 1) = k;
        table(k, 2) = std::sqrt(sums.squares[k] / (c - 1)) / med;
        table(k, 3) = rms / std::sqrt(static_cast<double>(k)) / med;
        table(k, 4) = c;
    }
    return table;
}

orv::MArray<double, 2> Lightcurve::analyze_rednoise(double L, int N, int M) const
{
    orv::MArray<double, 2> table(std::max(N, 0), 2);
    table = 0.0;
    if (!twoPoints(has_data, length))
        return table;
    const std::vector<int> points = countedPoints();
    if (static_cast<int>(points.size()) < length)
        return finitePointsReady(!points.empty()) ? pointsOnly(points).analyze_rednoise(L, N, M)
                                                  : table;
    const int n = length;
    const double d = L / N;
    double med, rms;
    medianAndRms(flux, n, med, rms);
    std::cout << std::endl << "average=" << med << ", rms=" << rms << std::endl;
    for (int i = 1; i <= N; ++i) {
        const double lo = (i - 1) * d, hi = lo + d;
        WindowSums sums(n);
        for (int j = 1; j < n; ++j) {
            double sum = flux(j);
            for (int k = j + 1; k <= n; ++k) {
                sum += flux(k);
                const double lag = jd(k) - jd(j);
                if (lo < lag && lag <= hi)
                    sums.add(k - j + 1, sum / (k - j + 1), med);
            }
        }
        for (int s = 1; s <= n; ++s) {
            const int c = sums.count[s];
            if (c < M || c == 0)
                continue;
            // One window has no scatter to measure.
            const double variance = c > 1 ? sums.squares[s] / (c - 1) : 0;
            const double sigma = std::sqrt(variance),
                         white = rms / std::sqrt(static_cast<double>(s));
            const double excess = variance - rms * rms / s;
            const double red = excess > 0 ? std::sqrt(excess) : 0;
            if (red > 0) {
                table(i, 1) += red;
                table(i, 2) += 1;
            }
            std::cout << "hallo " << s << " " << c << " " << sigma << " " << white << " " << red
                      << std::endl;
        }
        if (table(i, 2) != 0)
            table(i, 1) /= table(i, 2) * med;
        std::cout << std::setprecision(10) << table(i, 1) << " " << table(i, 2) << std::endl;
    }
    return table;
}

void Lightcurve::analyse_rednoise(double D) const
{
    if (!pointsReady(has_data, length) || !removedFluxReady(transits_removed))
        return;
    // So are points without a finite flux without transits here.
    std::vector<int> points;
    for (int i : countedPoints())
        if (std::isfinite(removed_flux(i)))
            points.push_back(i);
    if (static_cast<int>(points.size()) < length) {
        if (finitePointsReady(!points.empty()))
            pointsOnly(points).analyse_rednoise(D);
        return;
    }
    const int n = length;
    const orv::MArray<double, 1> &v = removed_flux;
    // A file that cannot be written is reported; the table is printed all
    // the same.
    const char *const name = "corrspec.tbl";
    std::ofstream out;
    openText(out, name);

    // Windows of points p..e spanning at most D: grown while the next point
    // fits, else moved on by one point.
    std::vector<int> size{1};
    std::vector<double> mean{v(1)};
    for (int p = 1, e = 1; n >= 2;) {
        int start = p + 1;
        if (e < n) {
            if (jd(e + 1) - jd(p) <= D) {
                ++e;
                start = p;
            } else if (jd(e + 1) - jd(p + 1) <= D) {
                ++e;
            }
        }
        if (e >= start) {
            double sum = 0;
            for (int i = start; i <= e; ++i)
                sum += v(i);
            size.push_back(e - start + 1);
            mean.push_back(sum / (e - start + 1));
        }
        if (start >= n)
            break;
        p = start;
    }

    const int K = *std::max_element(size.begin(), size.end());
    std::vector<int> g(K + 1, 0);
    std::vector<double> average(K + 1, 0.0), squares(K + 1, 0.0);
    for (std::size_t r = 0; r < size.size(); ++r) {
        ++g[size[r]];
        average[size[r]] += mean[r];
    }
    for (int k = 1; k <= K; ++k)
        if (g[k] > 1)
            average[k] /= g[k];
    for (std::size_t r = 0; r < size.size(); ++r)
        squares[size[r]] += (mean[r] - average[size[r]]) * (mean[r] - average[size[r]]);

    std::cout << std::setprecision(3);
    out << std::setprecision(3);
    for (int k = 1; k <= K; ++k) {
        const double sigma = g[k] > 1 ? std::sqrt(squares[k] / (g[k] - 1)) : 0;
        const double white = error(1) / std::sqrt(static_cast<double>(k));
        const double excess = sigma * sigma - white * white;
        const double red = excess > 0 ? std::sqrt(excess) : 0;
        std::cout << std::setw(2) << k << " " << std::setw(4) << g[k] << " " << std::setw(6)
                  << average[k] << " " << std::setw(9) << sigma << " " << std::setw(9) << white
                  << std::setw(10) << red << std::endl;
        // Twice the size as a whole number: a rounded one would not tell
        // large sizes apart.
        out << std::setw(4) << 2 * k << " " << std::setw(10) << red << '\n';
    }
    closeText(out, name);
}
