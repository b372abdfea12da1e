#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "psftools/psf.h"
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

} // namespace

void psf::find(MArray<float, 2> image, MArray<float, 2> error, MArray<double, 1> &x,
               MArray<double, 1> &y, MArray<double, 1> &amplitude, double significance,
               double largest_chi, double radius, std::string name, int verbose) const
{
    MArray<double, 2> C, A, E;
    mapping_full(image, error, C, A, E, radius, verbose);
    const long kx = C.length(1), ky = C.length(2);
    // Every cell of W is written below, row by row on all threads.
    MArray<double, 2> W = psf_chi::newMap(1, kx, 1, ky, false);
    // The diamond and the neighbours as steps in the maps' memory (laid out
    // alike by newMap).
    const long s1 = C.stride(1), s2 = C.stride(2);
    long diamond[13], neighbours[8];
    for (int i = 0; i < 13; ++i)
        diamond[i] = kDiamond[i][0] * s1 + kDiamond[i][1] * s2;
    for (int i = 0; i < 8; ++i)
        neighbours[i] = psf_index::kNeighbours[i][0] * s1 + psf_index::kNeighbours[i][1] * s2;
    // Rows whose cells lie one after the other in memory go through the
    // vector code where their diamonds lie in the map.
    const psf_chi::Kernels *lanes =
        psf_chi::lanesInUse() != psf_chi::Lanes::Off && s1 == 1 ? &psf_chi::kernels() : nullptr;
    // Smoothing: the mean of the cells of the diamond that hold a chi; cells
    // without one (unevaluated, failed fits) and cells off the map are left
    // out. The outermost ring is neither smoothed nor searched, and W is 0
    // wherever the chi has no value.
    const auto smooth = [&](long k, long l) {
        const double *const c = &C(k, l);
        double &w = W(k, l);
        w = 0;
        if (l == 1 || l == ky || k == 1 || k == kx || !psf_chi::hasValue(*c))
            return;
        double sum = 0;
        int n = 0;
        for (int i = 0; i < 13; ++i) {
            const long kk = k + kDiamond[i][0], ll = l + kDiamond[i][1];
            if (kk < 1 || kk > kx || ll < 1 || ll > ky)
                continue;
            const double v = c[diamond[i]];
            if (!psf_chi::hasValue(v))
                continue;
            sum += v;
            ++n;
        }
        w = sum / n;
    };
    psf_chi::Share rows(1, ky, psf_chi::rowsPerPage(kx));
    psf_chi::together([&] {
        for (long l; rows.take(l);) {
            if (!lanes || l < 3 || l > ky - 2 || kx < 5) {
                for (long k = 1; k <= kx; ++k)
                    smooth(k, l);
                continue;
            }
            for (const long k : {1L, 2L, kx - 1, kx})
                smooth(k, l);
            lanes->smooth(&C(3, l), &W(3, l), kx - 4, diamond);
        }
    });
    if (verbose > 0) {
        psf_io::writeImage(W, "nchi_binned_" + name + ".fits");
        psf_io::writeImage(C, "nchi_" + name + ".fits");
        psf_io::writeImage(A, "flux_" + name + ".fits");
        psf_io::writeImage(E, "error_" + name + ".fits");
    }
    // Detection: strict local minima of the smoothed chi, neighbours without
    // a value ignored. The marks are kept only for the diagnostic files.
    MArray<float, 2> minima, stars;
    if (verbose > 0) {
        minima.makeReference(zeroFloat(C));
        stars.makeReference(zeroFloat(C));
    }
    // The maps are walked along their memory (k fastest), row by row on all
    // threads; the stars are then put in the order of k, then l.
    std::vector<std::pair<long, long>> found;
    psf_chi::Share inner(2, ky - 1);
    std::mutex m;
    psf_chi::together([&] {
        std::vector<std::pair<long, long>> mine;
        std::vector<long> minimal(std::max(0L, kx - 2));
        for (long l; inner.take(l);) {
            // The minima of the row, k ascending.
            long count = 0;
            if (lanes && kx > 2)
                count = lanes->minima(&C(2, l), &W(2, l), kx - 2, neighbours, minimal.data());
            else
                for (long k = 2; k < kx; ++k) {
                    if (!psf_chi::hasValue(C(k, l)))
                        continue;
                    const double *const w = &W(k, l);
                    bool minimum = true;
                    for (int d = 0; d < 8 && minimum; ++d) {
                        const double N = w[neighbours[d]];
                        minimum = N > *w || N == 0;
                    }
                    if (minimum)
                        minimal[count++] = k - 2;
                }
            for (long i = 0; i < count; ++i) {
                const long k = 2 + minimal[i];
                if (verbose > 0)
                    minima(k, l) = 1;
                if (!(C(k, l) <= largest_chi && A(k, l) >= significance * E(k, l)))
                    continue;
                if (verbose > 0)
                    stars(k, l) = 1;
                mine.emplace_back(k, l);
            }
        }
        const std::lock_guard<std::mutex> lock(m);
        found.insert(found.end(), mine.begin(), mine.end());
    });
    std::sort(found.begin(), found.end());
    if (verbose > 0) {
        psf_io::writeImage(minima, "min_" + name + ".fits");
        psf_io::writeImage(stars, "star_" + name + ".fits");
    }
    // Each star at the pixel that owns its cell: pixel p holds the cells
    // S·(p − Bx) + 1 .. S·(p − Bx + 1).
    const int n = static_cast<int>(found.size());
    const long S = _subpixel;
    x.makeReference(MArray<double, 1>(n));
    y.makeReference(MArray<double, 1>(n));
    amplitude.makeReference(MArray<double, 1>(n));
    for (int q = 1; q <= n; ++q) {
        const long k = found[q - 1].first, l = found[q - 1].second;
        x(q) = image.firstIndex(1) + (k - 1) / S;
        y(q) = image.firstIndex(2) + (l - 1) / S;
        amplitude(q) = A(k, l);
    }
}
