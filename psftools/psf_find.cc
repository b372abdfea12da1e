#include <algorithm>
#include <mutex>
#include <tuple>
#include <vector>

#include "psftools/psf.h"
#include "psftools/psf_bands.h"
#include "psftools/psf_chi.h"
#include "psftools/psf_index.h"
#include "psftools/psf_io.h"

using orv::MArray;

namespace {

// The 13 cells |dk| + |dl| <= 2 of the smoothing, in summation order.
constexpr int kDiamond[13][2] = {{0, 2}, {-1, 1}, {0, 1},   {1, 1},  {-2, 0}, {-1, 0}, {0, 0},
                                 {1, 0}, {2, 0},  {-1, -1}, {0, -1}, {1, -1}, {0, -2}};

MArray<float, 2> zeroFloat(const MArray<double, 2> &like)
{
    MArray<float, 2> m(like.shape());
    if (m.elementCount() > 0)
        m = 0.0f;
    return m;
}

// A detected star: its map cell and amplitude.
struct Found {
    long k, l;
    double amplitude;
    bool operator<(const Found &o) const { return std::tie(k, l) < std::tie(o.k, o.l); }
};

} // namespace

void psf::find(MArray<float, 2> image, MArray<float, 2> error, MArray<double, 1> &x,
               MArray<double, 1> &y, MArray<double, 1> &amplitude, double significance,
               double largest_chi, double radius, std::string name, int verbose) const
{
    const long S = _subpixel;
    const long kx = image.length(1) * std::max(0L, S), ky = image.length(2) * std::max(0L, S);
    // The diagnostic files show the whole maps, so they are made whole;
    // otherwise band by band, each with the three rows on either side that
    // the smoothing of its rows and of the rows next to them reads.
    const long height = verbose > 0 ? ky : psf_bands::height(kx, 4);
    // The smoothed map, per storage of the bands, laid out as the maps.
    std::vector<MArray<double, 2>> smoothed;
    // The diamond and the neighbours as steps in the maps' memory (rows of
    // kx cells one after the other).
    long diamond[13], neighbours[8];
    for (int i = 0; i < 13; ++i)
        diamond[i] = kDiamond[i][0] + kDiamond[i][1] * kx;
    for (int i = 0; i < 8; ++i)
        neighbours[i] = psf_index::kNeighbours[i][0] + psf_index::kNeighbours[i][1] * kx;
    // Rows go through the vector code where their diamonds lie in the map.
    const psf_chi::Kernels *lanes =
        psf_chi::lanesInUse() != psf_chi::Lanes::Off ? &psf_chi::kernels() : nullptr;
    // The marks are kept only for the diagnostic files.
    MArray<float, 2> minima, stars;
    std::vector<Found> found;
    std::mutex m;
    psf_bands::Stages stages;
    stages.count = 2;
    stages.prepare = [&](int slots, long rows) {
        // Every cell of a row of W is written before it is read.
        for (int i = 0; i < slots; ++i)
            smoothed.push_back(psf_chi::newMap(1, kx, 1, rows, false));
    };
    // Stage 0 smooths the rows of the band and one on either side (the
    // neighbours of the minimum search), stage 1 searches the band's rows.
    stages.items = [&](const psf_bands::Band &b, int stage) -> psf_index::Span {
        if (stage == 0)
            return {static_cast<int>(std::max(1L, b.lo - 1)),
                    static_cast<int>(std::min(ky, b.hi + 1))};
        return {static_cast<int>(std::max(2L, b.lo)), static_cast<int>(std::min(ky - 1, b.hi))};
    };
    const auto wRow = [&](const psf_bands::Band &b, long l) {
        return smoothed[b.slot].dataFirst() + (l - b.first) * kx;
    };
    // Smoothing: the mean of the cells of the diamond that hold a chi; cells
    // without one (unevaluated, failed fits) and cells off the map are left
    // out. The outermost ring is neither smoothed nor searched, and W is 0
    // wherever the chi has no value.
    const auto smooth = [&](const double *c, double *w, long k, long l) {
        w[k - 1] = 0;
        if (l == 1 || l == ky || k == 1 || k == kx || !psf_chi::hasValue(c[k - 1]))
            return;
        double sum = 0;
        int n = 0;
        for (int i = 0; i < 13; ++i) {
            const long kk = k + kDiamond[i][0], ll = l + kDiamond[i][1];
            if (kk < 1 || kk > kx || ll < 1 || ll > ky)
                continue;
            const double v = c[k - 1 + diamond[i]];
            if (!psf_chi::hasValue(v))
                continue;
            sum += v;
            ++n;
        }
        w[k - 1] = sum / n;
    };
    // Detection: strict local minima of the smoothed chi, neighbours without
    // a value ignored; the stars are put in the order of k, then l, at the
    // end.
    const auto search = [&](const psf_bands::Band &b, long l0, long l1) {
        std::vector<Found> mine;
        std::vector<long> minimal(std::max(0L, kx - 2));
        for (long l = l0; l <= l1; ++l) {
            const double *const c = b.chi.row(l);
            const double *const w = wRow(b, l);
            // The minima of the row, k ascending.
            long count = 0;
            if (lanes && kx > 2)
                count = lanes->minima(c + 1, w + 1, kx - 2, neighbours, minimal.data());
            else
                for (long k = 2; k < kx; ++k) {
                    if (!psf_chi::hasValue(c[k - 1]))
                        continue;
                    bool minimum = true;
                    for (int d = 0; d < 8 && minimum; ++d) {
                        const double N = w[k - 1 + neighbours[d]];
                        minimum = N > w[k - 1] || N == 0;
                    }
                    if (minimum)
                        minimal[count++] = k - 2;
                }
            for (long i = 0; i < count; ++i) {
                const long k = 2 + minimal[i];
                if (verbose > 0)
                    minima(k, l) = 1;
                const double a = b.amplitude(k, l);
                if (!(c[k - 1] <= largest_chi && a >= significance * b.error(k, l)))
                    continue;
                if (verbose > 0)
                    stars(k, l) = 1;
                mine.push_back({k, l, a});
            }
        }
        const std::lock_guard<std::mutex> lock(m);
        found.insert(found.end(), mine.begin(), mine.end());
    };
    stages.run = [&](const psf_bands::Band &b, int stage, long l0, long l1) {
        if (stage == 1) {
            search(b, l0, l1);
            return;
        }
        for (long l = l0; l <= l1; ++l) {
            const double *const c = b.chi.row(l);
            double *const w = wRow(b, l);
            if (!lanes || l < 3 || l > ky - 2 || kx < 5) {
                for (long k = 1; k <= kx; ++k)
                    smooth(c, w, k, l);
                continue;
            }
            for (const long k : {1L, 2L, kx - 1, kx})
                smooth(c, w, k, l);
            lanes->smooth(c + 2, w + 2, kx - 4, diamond);
        }
    };
    stages.then = [&](const psf_bands::Band &b, int stage) {
        if (stage != 0 || verbose <= 0)
            return;
        // The whole maps, in one band.
        psf_io::writeImage(smoothed[b.slot], "nchi_binned_" + name + ".fits");
        psf_io::writeImage(*b.maps[0], "nchi_" + name + ".fits");
        psf_io::writeImage(*b.maps[1], "flux_" + name + ".fits");
        psf_io::writeImage(*b.maps[2], "error_" + name + ".fits");
        minima.makeReference(zeroFloat(*b.maps[0]));
        stars.makeReference(zeroFloat(*b.maps[0]));
    };
    MArray<double, 2> C, A, E;
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, _subpixel, true);
    psf_bands::subpixelBands(tables, _analyt, _boxlen, image, error, radius, verbose, height, 3, 3,
                             C, A, E, stages);
    std::sort(found.begin(), found.end());
    if (verbose > 0) {
        psf_io::writeImage(minima, "min_" + name + ".fits");
        psf_io::writeImage(stars, "star_" + name + ".fits");
    }
    // Each star at the pixel that owns its cell: pixel p holds the cells
    // S·(p − Bx) + 1 .. S·(p − Bx + 1).
    const int n = static_cast<int>(found.size());
    x.makeReference(MArray<double, 1>(n));
    y.makeReference(MArray<double, 1>(n));
    amplitude.makeReference(MArray<double, 1>(n));
    for (int q = 1; q <= n; ++q) {
        const Found &f = found[q - 1];
        x(q) = image.firstIndex(1) + (f.k - 1) / S;
        y(q) = image.firstIndex(2) + (f.l - 1) / S;
        amplitude(q) = f.amplitude;
    }
}
