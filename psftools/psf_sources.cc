#include <algorithm>
#include <cmath>
#include <iostream>

#include "psftools/printF.h"
#include "psftools/psf.h"
#include "psftools/psf_bands.h"
#include "psftools/psf_chi.h"
#include "psftools/psf_index.h"

using orv::MArray;
using orv::Range;

namespace {

// A zero-filled array with the index ranges of the image.
template <class T>
MArray<T, 2> like(const MArray<float, 2> &image)
{
    MArray<T, 2> m(image.shape());
    if (m.elementCount() > 0)
        m = T(0);
    return m;
}

// The best sub-pixel cell of one pixel and what the maps hold there.
struct Best {
    double chi, amplitude, error;
    float dx, dy; // offset of the cell from the pixel centre, in pixels
};

// Per image pixel: the best cells of the sub-pixel maps, the acceptance of
// sources, their output lines and the model image.
class Sources {
public:
    Sources(const MArray<float, 2> &image, const psf_chi::ShiftTables &tables, int analyt,
            MArray<double, 2> &model, std::ostream &out, double tag, int verbose)
        : image_(image), tables_(tables), analyt_(analyt), model_(model), out_(out), tag_(tag),
          verbose_(verbose), dx_(like<float>(image)), dy_(like<float>(image))
    {
    }

    // The cell of pixel (p, q) with the smallest chi in the sub-pixel maps
    // (the first of equal ones; NaN never wins); false when no cell is below
    // 1e100. The maps hold the pixel's rows of cells.
    bool best(const psf_bands::Band &maps, long p, long q, Best &b)
    {
        const int S = tables_.subpixel(), F = S / 2;
        const long kc = S * (p - image_.firstIndex(1) + 1) - F,
                   lc = S * (q - image_.firstIndex(2) + 1) - F;
        // For an even S the cells of a pixel reach one beyond the map.
        const psf_index::Span ks = cells(kc - F, kc + F, maps.kx);
        const psf_index::Span ls = cells(lc - F, lc + F, maps.ky);
        double m;
        long bk, bl;
        if (!psf_chi::lowestCell(maps.chi, ks, ls, bk, bl, m))
            return false;
        b = {m, maps.amplitude(bk, bl), maps.error(bk, bl),
             static_cast<float>(static_cast<double>(bk - kc) / S),
             static_cast<float>(static_cast<double>(bl - lc) / S)};
        dx_(p, q) = b.dx;
        dy_(p, q) = b.dy;
        return true;
    }

    // Prints source (p, q) and adds its PSF to the model.
    void accept(long p, long q, double chi_value, double amp, double err)
    {
        const float x = static_cast<float>(p) + dx_(p, q), y = static_cast<float>(q) + dy_(p, q);
        if (verbose_ > 0) {
            out_.width(6);
            out_ << ++count_;
            printF{9, 2, x, 1}(out_);
            printF{9, 2, y, 1}(out_);
            printF{12, 3, tag_, 1}(out_);
            printF{10, 2, amp, 1}(out_);
            printF{10, 2, err, 1}(out_);
            printF{8, 2, chi_value, 1}(out_);
            out_ << std::endl;
        }
        if (!tables_.ok())
            return;
        // The tabulated shift of the best cell.
        const int S = tables_.subpixel();
        const psf_chi::Plane t = tables_.plane(tables_.indexX(std::lrint(S * dx_(p, q))),
                                               tables_.indexY(std::lrint(S * dy_(p, q))));
        // The outermost ring of the tabulated PSF is left out.
        for (long b = 1 - analyt_; b <= analyt_ - 1; ++b)
            for (long a = 1 - analyt_; a <= analyt_ - 1; ++a)
                if (t.holds(a, b) && psf_index::inside(model_, p + a, q + b))
                    model_(p + a, q + b) += t.value(a, b) * amp;
    }

    // Clears the model where the image is blank or not finite or the error
    // not above 0, off the border ring.
    void clean(const MArray<float, 2> &error)
    {
        for (long x = image_.firstIndex(1) + 1; x < image_.lastIndex(1); ++x)
            for (long y = image_.firstIndex(2) + 1; y < image_.lastIndex(2); ++y)
                if (image_(x, y) == 0 || !std::isfinite(image_(x, y)) ||
                    (psf_index::inside(error, x, y) && error(x, y) <= 0))
                    model_(x, y) = 0;
    }

private:
    // Cells lo..hi of a map of n cells along that axis, as far as it goes.
    static psf_index::Span cells(long lo, long hi, long n)
    {
        return {static_cast<int>(std::max(1L, lo)), static_cast<int>(std::min(n, hi))};
    }

    const MArray<float, 2> &image_;
    const psf_chi::ShiftTables &tables_;
    long analyt_;
    MArray<double, 2> &model_;
    std::ostream &out_;
    double tag_;
    int verbose_;
    int count_ = 0;
    MArray<float, 2> dx_, dy_; // offsets of the best cells
};

bool strictlyInside(const MArray<float, 2> &image, long x, long y)
{
    return x > image.firstIndex(1) && x < image.lastIndex(1) && y > image.firstIndex(2) &&
           y < image.lastIndex(2);
}

bool significant(double amp, double err, double significance)
{
    return std::fabs(amp) >= significance * err;
}

void progressMark(const char *mark)
{
    std::cout << mark << std::flush;
}

} // namespace

void psf::mapping_some_best_source(const MArray<float, 2> &image, const MArray<float, 2> &error,
                                   MArray<double, 2> &best_chi, MArray<double, 2> &best_amplitude,
                                   MArray<double, 2> &best_amplitude_error,
                                   MArray<double, 2> &model, const MArray<int, 1> &xs,
                                   const MArray<int, 1> &ys, double significance,
                                   double largest_chi, double radius, double tag, std::ostream &out,
                                   int verbose) const
{
    best_chi.makeReference(like<double>(image));
    best_amplitude.makeReference(like<double>(image));
    best_amplitude_error.makeReference(like<double>(image));
    model.makeReference(like<double>(image));
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, _subpixel);
    Sources s(image, tables, _analyt, model, out, tag, verbose);
    std::cout << " mapping_some ... " << std::endl;
    MArray<double, 2> chi, amplitude, amplitude_error;
    mapping_some(image, error, chi, amplitude, amplitude_error, xs, ys, radius, verbose);
    std::cout << " finished... " << std::endl;
    // The whole maps as one band.
    psf_bands::Band maps;
    maps.chi = {chi.dataFirst(), chi.length(1), 1};
    maps.amplitude = {amplitude.dataFirst(), chi.length(1), 1};
    maps.error = {amplitude_error.dataFirst(), chi.length(1), 1};
    maps.kx = chi.length(1);
    maps.ky = maps.last = maps.hi = chi.length(2);
    if (verbose > 2)
        std::cout << " criteria ... " << std::endl;
    const psf_index::Span items = psf_index::items(xs, ys);
    for (int i = items.lo; i <= items.hi; ++i) {
        if (verbose > 2 && i % 10 == 0)
            progressMark(".");
        for (long p = xs(i) - 1L; p <= xs(i) + 1L; ++p)
            for (long q = ys(i) - 1L; q <= ys(i) + 1L; ++q) {
                Best b;
                if (!strictlyInside(image, p, q) || !s.best(maps, p, q, b))
                    continue;
                best_chi(p, q) = b.chi;
                best_amplitude(p, q) = b.amplitude;
                best_amplitude_error(p, q) = b.error;
            }
    }
    for (int i = items.lo; i <= items.hi; ++i) {
        if (verbose > 2 && i % 10 == 0)
            progressMark("-");
        const long X = xs(i), Y = ys(i);
        if (!strictlyInside(image, X, Y))
            continue;
        const double J = best_chi(X, Y);
        if (!(J > 0 && J <= largest_chi))
            continue;
        // Equal neighbours pass; a neighbour without a value (0) or NaN fails.
        bool lowest = true;
        for (const auto &n : psf_index::kNeighbours)
            lowest = lowest && J <= best_chi(X + n[0], Y + n[1]);
        if (!lowest || !significant(best_amplitude(X, Y), best_amplitude_error(X, Y), significance))
            continue;
        s.accept(X, Y, J, best_amplitude(X, Y), best_amplitude_error(X, Y));
    }
    s.clean(error);
}

void psf::mapping_full_best_source(const MArray<float, 2> &image, const MArray<float, 2> &error,
                                   MArray<double, 2> &best_chi, MArray<double, 2> &best_amplitude,
                                   MArray<double, 2> &best_amplitude_error,
                                   MArray<double, 2> &model, double significance,
                                   double largest_chi, double radius, double tag, std::ostream &out,
                                   int verbose) const
{
    std::cout << "imamat" << std::endl;
    image.describeSelf();
    const long x0 = image.firstIndex(1), x1 = image.lastIndex(1), y0 = image.firstIndex(2),
               y1 = image.lastIndex(2);
    // Every pixel has eight neighbours here, those off the image 0.
    MArray<double, 2> padded{Range(static_cast<int>(x0 - 1), static_cast<int>(x1 + 1)),
                             Range(static_cast<int>(y0 - 1), static_cast<int>(y1 + 1))};
    padded = 0.0;
    best_chi.makeReference(like<double>(image));
    best_amplitude.makeReference(like<double>(image));
    best_amplitude_error.makeReference(like<double>(image));
    model.makeReference(like<double>(image));
    std::cout << "flux" << std::endl;
    best_amplitude.describeSelf();
    std::cout << "error" << std::endl;
    best_amplitude_error.describeSelf();
    if (verbose > 2)
        std::cout << " nx0 = " << x0 << std::endl
                  << " nx1 = " << x1 << std::endl
                  << " ny0 = " << y0 << std::endl
                  << " ny1 = " << y1 << std::endl;
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, _subpixel, true);
    Sources s(image, tables, _analyt, model, out, tag, verbose);
    std::cout << " mapping_full ... " << std::endl;
    // The maps of mapping_full in bands of whole pixel rows (and, for an
    // even S, the row of cells before them that the first pixel row
    // shares), each searched for the best cells of its pixels at once.
    const long S = std::max(1, _subpixel);
    const long kx = image.length(1) * S;
    psf_bands::Stages search;
    search.count = 1;
    search.items = [&](const psf_bands::Band &maps, int) -> psf_index::Span {
        return {static_cast<int>(y0 + (maps.lo - 1) / S), static_cast<int>(y0 + maps.hi / S - 1)};
    };
    // Every pixel on its own.
    search.run = [&](const psf_bands::Band &maps, int, long ya, long yb, psf_bands::CellFits &) {
        for (long y = ya; y <= yb; ++y)
            for (long x = x0; x <= x1; ++x) {
                Best b;
                if (!s.best(maps, x, y, b))
                    continue;
                padded(x, y) = b.chi;
                best_amplitude(x, y) = b.amplitude;
                best_amplitude_error(x, y) = b.error;
            }
    };
    MArray<double, 2> chi, amplitude, amplitude_error;
    psf_bands::subpixelBands(tables, _analyt, _boxlen, image, error, radius, verbose,
                             psf_bands::height(kx, 3, S), _subpixel % 2 == 0 ? 1 : 0, 0, chi,
                             amplitude, amplitude_error, search);
    std::cout << " finished... " << std::endl;
    if (verbose > 2)
        std::cout << " criteria ... " << std::endl;
    // The marks of the columns of the search.
    for (long x = x0; x <= x1; ++x)
        if (verbose > 2 && x % 50 == 0)
            progressMark(".");
    // A pixel with a smaller positive neighbour gets its chi negated.
    for (long x = x0; x <= x1; ++x)
        for (long y = y0; y <= y1; ++y) {
            const double m = padded(x, y);
            bool higher = false;
            for (const auto &n : psf_index::kNeighbours) {
                const double N = padded(x + n[0], y + n[1]);
                higher = higher || (N > 0 && m > N);
            }
            best_chi(x, y) = higher ? -m : m;
        }
    std::cout << " creating source image : source( px, py ) ... " << std::endl;
    for (long x = x0; x <= x1; ++x) {
        if (verbose > 2 && x % 50 == 0)
            progressMark("-");
        for (long y = y0; y <= y1; ++y) {
            const double v = best_chi(x, y);
            if (v > 0 && v <= largest_chi &&
                significant(best_amplitude(x, y), best_amplitude_error(x, y), significance))
                s.accept(x, y, v, best_amplitude(x, y), best_amplitude_error(x, y));
        }
    }
    s.clean(error);
}
