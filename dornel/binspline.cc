#include "dornel/binspline.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "dornel/file_names.h"
#include "dornel/sky_error.h"
#include "dornel/spline.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"

using orv::MArray;
using orv::Range;

namespace {

// Divisions rounding down and up, also for negative numerators: the grid
// must cover the image wherever the galaxy centre lies.
long long floorDiv(long long a, long long b)
{
    long long q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0)))
        --q;
    return q;
}
long long ceilDiv(long long a, long long b)
{
    return -floorDiv(-a, b);
}

template <class T>
bool lineBlank(const MArray<T, 2> &a, int dim, int index, T m)
{
    const int other = dim == 1 ? 2 : 1;
    for (int j = a.firstIndex(other); j <= a.lastIndex(other); ++j)
        if (!((dim == 1 ? a(index, j) : a(j, index)) == m))
            return false;
    return true;
}

void writeImage(const std::string &name, const MArray<float, 2> &a)
{
    orv::FitsOut out(name);
    out << a;
}

// A box of the grid or image under its title, a line each for the first and
// last column and row: " ix0 = ..." and so on for the letter 'i'.
void printBox(std::ostream &out, const char *title, char letter, int x0, int x1, int y0, int y1)
{
    out << std::endl
        << title << std::endl
        << ' ' << letter << "x0 = " << x0 << std::endl
        << ' ' << letter << "x1 = " << x1 << std::endl
        << ' ' << letter << "y0 = " << y0 << std::endl
        << ' ' << letter << "y1 = " << y1 << std::endl;
}

// Blank median nodes (no valid bin even after the widening search) take the
// mean of the valid nodes nearest to them on the grid, so that the spline
// passes through sky values only. Returns how many nodes were filled.
int fillBlankNodes(MArray<double, 2> &z, double blank)
{
    std::vector<std::pair<int, int>> valid, empty;
    for (int q = z.firstIndex(2); q <= z.lastIndex(2); ++q)
        for (int p = z.firstIndex(1); p <= z.lastIndex(1); ++p)
            (z(p, q) == blank ? empty : valid).emplace_back(p, q);
    if (valid.empty())
        throw SkyError("no median node of the spline sky holds a valid bin");
    std::vector<double> filled;
    for (const auto &e : empty) {
        long long best = -1;
        double sum = 0;
        int count = 0;
        for (const auto &v : valid) {
            const long long dp = v.first - e.first, dq = v.second - e.second, d = dp * dp + dq * dq;
            if (best < 0 || d < best) {
                best = d;
                sum = 0;
                count = 0;
            }
            if (d == best) {
                sum += z(v.first, v.second);
                ++count;
            }
        }
        filled.push_back(sum / count);
    }
    for (std::size_t i = 0; i < empty.size(); ++i)
        z(empty[i].first, empty[i].second) = filled[i];
    return static_cast<int>(empty.size());
}

// Whether a[0..n) and b[0..n) hold the same bits: compared as integers,
// in a loop that becomes vector code (a call of memcmp per few pixels would
// cost more than the comparing).
bool sameBits(const float *a, const float *b, int n)
{
    std::uint32_t differ = 0;
    for (int i = 0; i < n; ++i) {
        std::uint32_t u, v;
        std::memcpy(&u, &a[i], sizeof u);
        std::memcpy(&v, &b[i], sizeof v);
        differ |= u ^ v;
    }
    return differ == 0;
}

} // namespace

template <class T>
void nonan(const MArray<T, 2> &a, int &x0, int &x1, int &y0, int &y1, T m)
{
    for (x0 = a.firstIndex(1); x0 <= a.lastIndex(1) && lineBlank(a, 1, x0, m);)
        ++x0;
    for (x1 = a.lastIndex(1); x1 >= a.firstIndex(1) && lineBlank(a, 1, x1, m);)
        --x1;
    for (y0 = a.firstIndex(2); y0 <= a.lastIndex(2) && lineBlank(a, 2, y0, m);)
        ++y0;
    for (y1 = a.lastIndex(2); y1 >= a.firstIndex(2) && lineBlank(a, 2, y1, m);)
        --y1;
}

template void nonan<float>(const MArray<float, 2> &, int &, int &, int &, int &, float);
template void nonan<double>(const MArray<double, 2> &, int &, int &, int &, int &, double);

void binspline(MArray<float, 2> image, MArray<float, 2> sky, Parameter &p)
{
    BinSpline spline(p);
    spline.pass(image, sky);
}

BinSpline::BinSpline(const Parameter &p) : p_(p) {}

void BinSpline::run(const MArray<float, 2> &image, const MArray<unsigned char, 2> *zeroed,
                    MArray<float, 2> &sky, Hook *hook)
{
    std::ostream &out = std::cout;
    const bool first = passes_ == 0;
    const int h = p_.intervall, r = p_.medrad, verbose = p_.verbose;
    if (h < 0 || r < 0)
        throw SkyError("intervall and medrad of the spline sky must not be negative");
    const float blank = p_.nan;
    const double dblank = blank;
    const long long E = 2LL * h + 1, M = 2LL * r + 1;
    const int xmax = image.lastIndex(1), ymax = image.lastIndex(2);
    const long long cx = p_.cx, cy = p_.cy;

    out << std::endl
        << " ------------------ double median bicubic spline interpolation ------------------"
        << std::endl;
    if (verbose > 0) {
        out << std::endl
            << "binning diam: " << E << " px" << std::endl
            << "binning  ivl: " << E << " px" << std::endl;
        out << std::endl
            << "center: " << std::endl
            << " cx: " << cx << std::endl
            << " cy: " << cy << std::endl;
    }
    // Node k of the first grid lies at x = cx + k·E; the grid runs from the
    // first node inside the image to two beyond the last.
    const long long kmin = -floorDiv(cx - E - 1, E) - 1, kmax = floorDiv(E + xmax - cx, E) + 1;
    const long long lmin = -floorDiv(cy - E - 1, E) - 1, lmax = floorDiv(E + ymax - cy, E) + 1;
    // E and M reach 2^32 - 1 each: their product fits only without a sign.
    const unsigned long long diameter =
        static_cast<unsigned long long>(M) * static_cast<unsigned long long>(E);
    if (verbose > 0)
        out << std::endl
            << "median diam: " << diameter << " px" << std::endl
            << "median  ivl: " << diameter << " px" << std::endl;
    const auto tooFewNodes = [&](long long nx, long long ny) {
        return SkyError(
            "the spline sky needs at least two median nodes along each axis, the grid has " +
            std::to_string(std::max(0LL, nx)) + " x " + std::to_string(std::max(0LL, ny)) +
            " (intervall " + std::to_string(h) + ", medrad " + std::to_string(r) + ")");
    };
    // Even with every bin valid there would be too few median nodes; this
    // also keeps the bin grid's margins to the size of the grid.
    const long long mostX = floorDiv(kmax, M) - ceilDiv(kmin, M) + 1,
                    mostY = floorDiv(lmax, M) - ceilDiv(lmin, M) + 1;
    if (mostX < 2 || mostY < 2)
        throw tooFewNodes(mostX, mostY);
    // Bins are indexed by int: a centre some 2^31 bins away from the image
    // leaves no grid that could be indexed.
    const auto indexable = [](long long v) { return v >= INT_MIN && v <= INT_MAX; };
    if (!indexable(kmin - r) || !indexable(kmax + r) || !indexable(lmin - r) ||
        !indexable(lmax + r))
        throw SkyError("the galaxy centre " + std::to_string(cx) + "," + std::to_string(cy) +
                       " lies too far from the image for a grid of bins of " + std::to_string(E) +
                       " pixels");

    out << std::endl << "1st medianing..." << std::endl;
    if (first) {
        h_ = h;
        r_ = r;
        verbose_ = verbose;
        xmax_ = xmax;
        ymax_ = ymax;
        E_ = E;
        M_ = M;
        cx_ = cx;
        cy_ = cy;
        kmin_ = kmin;
        kmax_ = kmax;
        lmin_ = lmin;
        lmax_ = lmax;
        const Range kr(static_cast<int>(kmin - r), static_cast<int>(kmax + r));
        const Range lr(static_cast<int>(lmin - r), static_cast<int>(lmax + r));
        bin_.makeReference(MArray<double, 2>(kr, lr));
        bin_ = dblank;
        binx_.makeReference(MArray<double, 1>(kr));
        biny_.makeReference(MArray<double, 1>(lr));
        binx_ = 0.0;
        biny_ = 0.0;
        kfirst_ = kr.first;
        lfirst_ = lr.first;
        kcount_ = kr.last - kr.first + 1;
        dirty_.assign(static_cast<std::size_t>(kcount_) *
                          static_cast<std::size_t>(lr.last - lr.first + 1),
                      0);
        // The bin whose window holds a pixel: bins tile the plane, and only
        // those wholly inside the image are taken.
        const auto binOf = [h, E](long long pixel, long long centre, long long first,
                                  long long last, int length) {
            const long long k = floorDiv(pixel - centre + h, E), node = centre + k * E;
            return k >= first && k <= last && h < node && node <= length - h ? static_cast<int>(k)
                                                                             : kNoBin;
        };
        binOfColumn_.assign(static_cast<std::size_t>(xmax) + 1, kNoBin);
        binOfRow_.assign(static_cast<std::size_t>(ymax) + 1, kNoBin);
        for (int x = 1; x <= xmax; ++x)
            binOfColumn_[x] = binOf(x, cx, kmin, kmax, xmax);
        for (int y = 1; y <= ymax; ++y)
            binOfRow_[y] = binOf(y, cy, lmin, lmax, ymax);
    }
    firstMedians(image, zeroed, first);
    if (verbose > 4)
        out << std::endl << " bin = " << std::endl << bin_ << std::endl;

    int ix0, ix1, iy0, iy1;
    nonan(bin_, ix0, ix1, iy0, iy1, dblank);
    if (verbose > 0)
        printBox(out, "binning grid: ", 'i', ix0, ix1, iy0, iy1);
    const int px0 = static_cast<int>(ceilDiv(ix0, M)), px1 = static_cast<int>(floorDiv(ix1, M));
    const int py0 = static_cast<int>(ceilDiv(iy0, M)), py1 = static_cast<int>(floorDiv(iy1, M));
    if (verbose > 0)
        printBox(out, "median spline grid: ", 'p', px0, px1, py0, py1);
    if (ix0 > ix1)
        throw SkyError("no bin of " + std::to_string(E) + " x " + std::to_string(E) +
                       " pixels inside the image holds a valid pixel");
    if (px1 <= px0 || py1 <= py0)
        throw tooFewNodes(px1 - px0 + 1, py1 - py0 + 1);

    out << std::endl << "2nd medianing..." << std::endl;
    // Kept from the pass before when the grid is the same; a node is then
    // found again only when a bin it looked at changed (or when its search
    // is to be printed).
    const bool sameGrid = !first && px0 == px0_ && px1 == px1_ && py0 == py0_ && py1 == py1_;
    ix0_ = ix0;
    ix1_ = ix1;
    iy0_ = iy0;
    iy1_ = iy1;
    px0_ = px0;
    px1_ = px1;
    py0_ = py0;
    py1_ = py1;
    if (!sameGrid) {
        const Range pr(px0, px1), qr(py0, py1);
        raw_.makeReference(MArray<double, 2>(pr, qr));
        z_.makeReference(MArray<double, 2>(pr, qr));
        y2_.makeReference(MArray<double, 2>(pr, qr));
        reach_.makeReference(MArray<int, 2>(pr, qr));
        mx_.makeReference(MArray<double, 1>(pr));
        my_.makeReference(MArray<double, 1>(qr));
    }
    const auto touched = [&](int pp, int q) {
        const long long kc = pp * M, lc = q * M, w = reach_(pp, q);
        for (long long l = std::max(lc - w, lmin); l <= std::min(lc + w, lmax); ++l)
            for (long long k = std::max(kc - w, kmin); k <= std::min(kc + w, kmax); ++k)
                if (dirty_[index(static_cast<int>(k), static_cast<int>(l))])
                    return true;
        return false;
    };
    for (int q = py0; q <= py1; ++q) {
        for (int pp = px0; pp <= px1; ++pp) {
            if (sameGrid && verbose <= 1 && !touched(pp, q))
                continue;
            double value;
            reach_(pp, q) = secondMedian(pp, q, value);
            raw_(pp, q) = value;
            mx_(pp) = binx_(static_cast<int>(pp * M));
            my_(q) = biny_(static_cast<int>(q * M));
        }
    }
    std::fill(dirty_.begin(), dirty_.end(), 0);
    MArray<double, 2> z(raw_.shape());
    z = raw_;
    filled_ = fillBlankNodes(z, dblank);
    if (filled_ > 0)
        std::cerr << "Warning: " << filled_ << " of " << z.elementCount() << " median nodes of "
                  << p_.current_file
                  << " hold no valid bin; each took the mean of its nearest valid nodes"
                  << std::endl;
    // The node rows (along x2) whose values changed: their splines are made again.
    std::vector<int> changedRows;
    for (int pp = px0; pp <= px1; ++pp) {
        bool changed = !sameGrid;
        for (int q = py0; q <= py1 && !changed; ++q)
            changed = std::memcmp(&z(pp, q), &z_(pp, q), sizeof(double)) != 0;
        if (changed)
            changedRows.push_back(pp);
    }
    z_ = z;
    long n = 0;
    double S = 0, Q = 0;
    for (int q = py0; q <= py1; ++q)
        for (int pp = px0; pp <= px1; ++pp) {
            ++n;
            S += z_(pp, q);
            Q += (z_(pp, q) - 1.0) * (z_(pp, q) - 1.0);
        }

    out << std::fixed;
    if (verbose > 1) {
        out << std::endl << "x:" << std::endl << std::setprecision(1) << mx_ << std::endl;
        out << std::endl << "y:" << std::endl << std::setprecision(1) << my_ << std::endl;
        out << std::endl << "z:" << std::endl << std::setprecision(3) << z_ << std::endl;
        out << " abs_aver = " << S / n << std::endl
            << " abs_sig  = " << std::sqrt(Q / n) << std::endl;
    }
    // What splie2 does, row by row: the natural spline along x2 of a row.
    MArray<double, 1> zRow(Range(py0, py1)), y2Row(Range(py0, py1));
    for (int pp : changedRows) {
        for (int q = py0; q <= py1; ++q)
            zRow(q) = z_(pp, q);
        y2Row = 0.0;
        spline(my_, zRow, 1e30, 1e30, y2Row);
        for (int q = py0; q <= py1; ++q)
            y2_(pp, q) = y2Row(q);
    }
    if (verbose > 2)
        out << std::endl << "z'':" << std::endl << std::setprecision(3) << y2_ << std::endl;

    // The diagnostics show the image with its zeroed pixels.
    MArray<float, 2> shown(image);
    if (zeroed && verbose > 0) {
        shown.makeReference(MArray<float, 2>(image.shape()));
        shown = orv::merge(*zeroed != static_cast<unsigned char>(0), 0.0f, image);
    }
    if (verbose > 0) {
        int jx0, jx1, jy0, jy1;
        nonan(shown, jx0, jx1, jy0, jy1, blank);
        printBox(out, "image borders: ", 'j', jx0, jx1, jy0, jy1);
    }

    out << std::endl << "spline interpolation....." << std::endl;
    // Above verbosity 0 the diagnostics still read the image: its rows are
    // handed over at the end.
    Hook *const during = verbose > 0 ? nullptr : hook;
    if (!sameGrid)
        known_ = false;
    if (!changedRows.empty()) {
        evaluate(sky, during);
    } else {
        // The sky of the pass before stands; its progress is told all the same.
        const int step = std::max(1, ymax / 100);
        for (int y = 1; y <= ymax; ++y) {
            if (y % step == 0)
                out << y / step << "% ";
            out.flush();
        }
    }
    if (errors_ != 0)
        std::cerr << errors_ << " errors in " << p_.current_file << std::endl;
    diagnostics(shown, sky);
    out << " ------------------------------------------------------" << std::endl;
    ++passes_;
    if (hook && !during)
        for (int y = 1; y <= ymax; ++y)
            hook->span(y, 1, xmax);
}

void BinSpline::firstMedians(const MArray<float, 2> &image, const MArray<unsigned char, 2> *zeroed,
                             bool all)
{
    const float blank = p_.nan;
    const int h = h_;
    // A window with its zeroed pixels made 0, for the median.
    MArray<float, 2> values;
    if (zeroed)
        values.makeReference(MArray<float, 2>(static_cast<int>(E_), static_cast<int>(E_)));
    for (int l = static_cast<int>(lmin_); l <= lmax_; ++l) {
        const long long y = cy_ + l * E_;
        for (int k = static_cast<int>(kmin_); k <= kmax_; ++k) {
            const long long x = cx_ + k * E_;
            if (h < x && x <= xmax_ - h && h < y && y <= ymax_ - h &&
                (all || dirty_[index(k, l)])) {
                const Range xr(static_cast<int>(x - h), static_cast<int>(x + h));
                const Range yr(static_cast<int>(y - h), static_cast<int>(y + h));
                const MArray<float, 2> window(image, xr, yr);
                if (zeroed) {
                    values = orv::merge(MArray<unsigned char, 2>(*zeroed, xr, yr) !=
                                            static_cast<unsigned char>(0),
                                        0.0f, window);
                    bin_(k, l) = orv::median_exact(values, blank);
                } else {
                    bin_(k, l) = orv::median_exact(window, blank);
                }
            }
            if (all) {
                binx_(k) = static_cast<double>(x);
                biny_(l) = static_cast<double>(y);
            }
        }
    }
}

int BinSpline::secondMedian(int pp, int q, double &value)
{
    const double dblank = p_.nan;
    const int r = r_;
    // Bin indices reach the ends of int (a centre far from the image and bins
    // of one pixel): the block and the search are worked out in long long,
    // and only bins of the grid are indexed.
    const long long kc = pp * M_, lc = q * M_;
    const MArray<double, 2> block(bin_, Range(static_cast<int>(kc - r), static_cast<int>(kc + r)),
                                  Range(static_cast<int>(lc - r), static_cast<int>(lc + r)));
    value = orv::median_exact(block, dblank);
    int reach = r;
    // Widening search around a block without a valid bin.
    for (int i = r; value == dblank && r <= 100 && i <= 100; ++i) {
        MArray<double, 1> list((2 * i + 1) * (2 * i + 1));
        list = dblank;
        int slot = 1;
        for (long long l = std::max(lc - i, lmin_); l <= std::min(lc + i, lmax_); ++l)
            for (long long k = std::max(kc - i, kmin_); k <= std::min(kc + i, kmax_); ++k)
                list(slot++) = bin_(static_cast<int>(k), static_cast<int>(l));
        value = orv::median_exact(list, dblank);
        reach = i;
        if (verbose_ > 1)
            std::cout << "h: " << i << "   " << value << std::endl;
    }
    return reach;
}

void BinSpline::evaluate(MArray<float, 2> &sky, Hook *hook)
{
    std::ostream &out = std::cout;
    const float blank = p_.nan;
    const int xmax = xmax_, ymax = ymax_;
    const int step = std::max(1, ymax / 100); // images of fewer than 100 rows count every row
    errors_ = 0;
    MArray<double, 1> ytmp(Range(px0_, px1_)), y2tmp(Range(px0_, px1_));
    std::vector<double> values(static_cast<std::size_t>(xmax));
    std::vector<float> fresh(static_cast<std::size_t>(xmax));
    // The node columns and rows are the same in every row and column of
    // pixels: where each pixel falls between them is worked out once.
    const SplineWeights weights(1, xmax, mx_), across(1, ymax, my_);
    std::vector<int> statuses;
    const orv::index_t stride = sky.stride(1);
    // The pixels are made beside the row and compared with the sky of the
    // pass before, piece by piece: rounded to float, many keep their value,
    // and only the others are handed over.
    const bool compare = weights.valid() && stride == 1;
    bool whole = compare;      // every row made this way: the sky holds this pass
    constexpr int kPiece = 16; // pixels compared at a time
    std::vector<double> work;
    for (int y = 1; y <= ymax; ++y) {
        if (y % step == 0)
            out << y / step << "% ";
        out.flush();
        // splin2 at every pixel of the row: the row splines at this y are
        // built once and serve the whole row.
        int rowStatus;
        if (across.valid()) {
            across.evaluateRows(static_cast<std::size_t>(y - 1), z_, y2_, ytmp);
            rowStatus = spline(mx_, ytmp, 1e30, 1e30, y2tmp, work);
        } else {
            rowStatus = splin2_rows(ytmp, y2tmp, y, mx_, my_, z_, y2_);
        }
        float *const row = &sky(1, y);
        if (compare && rowStatus == 0) {
            weights.evaluate(ytmp, y2tmp, fresh.data());
            int from = 0, to = -1; // pixels (from 1) of the span being merged
            for (int p = 0; p < xmax; p += kPiece) {
                const int q = std::min(xmax, p + kPiece);
                if (known_ && sameBits(row + p, &fresh[p], q - p))
                    continue;
                std::copy(&fresh[p], &fresh[q], row + p);
                if (p + 1 > to + 1) {
                    if (hook && to >= from)
                        hook->span(y, from, to);
                    from = p + 1;
                }
                to = q;
            }
            if (hook && to >= from)
                hook->span(y, from, to);
            continue;
        }
        whole = false;
        splint_ascending(values, statuses, 1, xmax, mx_, ytmp, y2tmp);
        for (int x = 1; x <= xmax; ++x) {
            const int status = rowStatus + statuses[x - 1];
            row[(x - 1) * stride] = status == 0 ? static_cast<float>(values[x - 1]) : blank;
            errors_ += status;
        }
        if (hook)
            hook->span(y, 1, xmax);
    }
    known_ = whole;
}

void BinSpline::diagnostics(const MArray<float, 2> &image, const MArray<float, 2> &sky)
{
    const float blank = p_.nan;
    const int h = h_, xmax = xmax_, ymax = ymax_;
    if (verbose_ > 2) {
        int jx0, jx1, jy0, jy1;
        nonan(image, jx0, jx1, jy0, jy1, blank);
        MArray<float, 2> picture(image.shape());
        picture = 0.0f;
        for (long long l = lmin_; l <= lmax_; ++l)
            for (long long k = kmin_; k <= kmax_; ++k) {
                const int X = static_cast<int>(binx_(static_cast<int>(k))),
                          Y = static_cast<int>(biny_(static_cast<int>(l)));
                for (int yy = std::max(Y - h, jy0); yy <= std::min(Y + h, jy1); ++yy)
                    for (int xx = std::max(X - h, jx0); xx <= std::min(X + h, jx1); ++xx)
                        picture(xx, yy) =
                            static_cast<float>(bin_(static_cast<int>(k), static_cast<int>(l)));
            }
        writeImage(inFront(p_.current_file, "sky_binspline_bin-"), picture);

        picture = 0.0f;
        const int D = static_cast<int>((M_ * E_) / 2);
        const int left = std::max(jx0, static_cast<int>(binx_(ix0_)) - h),
                  right = std::min(jx1, static_cast<int>(binx_(ix1_)) + h);
        const int bottom = std::max(jy0, static_cast<int>(biny_(iy0_)) - h),
                  top = std::min(jy1, static_cast<int>(biny_(iy1_)) + h);
        for (int q = py0_; q <= py1_; ++q)
            for (int pp = px0_; pp <= px1_; ++pp) {
                const int X = static_cast<int>(mx_(pp)), Y = static_cast<int>(my_(q));
                for (int yy = std::max(Y - D, bottom); yy <= std::min(Y + D, top); ++yy)
                    for (int xx = std::max(X - D, left); xx <= std::min(X + D, right); ++xx)
                        picture(xx, yy) = static_cast<float>(z_(pp, q));
            }
        writeImage(inFront(p_.current_file, "sky_binspline_median-"), picture);
    }
    if (verbose_ > 0 && xmax >= 4 && ymax >= 4) {
        MArray<float, 2> reduced(xmax / 4, ymax / 4);
        for (int d = 1; d <= ymax / 4; ++d)
            for (int c = 1; c <= xmax / 4; ++c) {
                float sum = 0.0f;
                int count = 0;
                for (int y = 4 * d - 3; y <= 4 * d; ++y)
                    for (int x = 4 * c - 3; x <= 4 * c; ++x)
                        if (image(x, y) != blank && sky(x, y) != blank) {
                            sum += sky(x, y);
                            ++count;
                        }
                reduced(c, d) = count > 0 ? sum / static_cast<float>(count) : 0.0f;
            }
        writeImage(inFront(p_.current_file, "sky_binspline-"), reduced);
    }
}
