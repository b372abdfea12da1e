#include "dornel/get_sky.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <limits>
#include <utility>
#include <vector>

#include "dornel/conversions.h"
#include "dornel/poly.h"
#include "dornel/sky_error.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"

using orv::MArray;

namespace {

// Pixel (x, y) of a fresh array of nx columns, both indices from 1.
inline std::size_t at(int x, int y, int nx)
{
    return static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(nx) +
           static_cast<std::size_t>(x - 1);
}

// The circle masked around an outlier, u² + v² < R·(R + 1), as one span
// of columns u = -width(v)..width(v) per row offset v = -rows..rows; radius 0
// is the pixel itself, a negative radius masks nothing. Offsets that cannot
// reach into an image of nx x ny pixels are left out, so that a large
// radius costs neither memory nor overflow.
struct Circle {
    int rows = -1;
    std::vector<int> width; // at v + rows

    Circle(int R, int nx, int ny)
    {
        if (R < 0)
            return;
        rows = std::min(R, ny - 1);
        // R + 1 in int would overflow for the largest radius.
        const long long limit = static_cast<long long>(R) * (R + 1LL);
        for (int v = -rows; v <= rows; ++v) {
            // The largest u with u² + v² < limit (u = 0 always qualifies for |v| <= R).
            long long u =
                R == 0
                    ? 0
                    : static_cast<long long>(std::sqrt(static_cast<double>(limit - 1LL * v * v)));
            while (u > 0 && u * u + 1LL * v * v >= limit)
                --u;
            while ((u + 1) * (u + 1) + 1LL * v * v < limit)
                ++u;
            width.push_back(static_cast<int>(std::min<long long>(u, nx - 1)));
        }
    }
};

// The values of a as one contiguous block indexed like at(): a itself when
// it is laid out so, else a copy.
MArray<float, 2> contiguous(const MArray<float, 2> &a)
{
    if (a.isStorageContiguous() && a.stride(1) == 1)
        return a;
    MArray<float, 2> copy(a.shape());
    copy = a;
    return copy;
}

// The pixels of the image that passes still look at, the clipping and the
// sums of the next fit, gathered in one sweep over the rows per pass.
class Sweep {
public:
    Sweep(float *work, const float *err, int nx, int ny, double nan, double tresh, double kappa,
          int radius)
        : w_(work), e_(err), nx_(nx), ny_(ny), nan_(nan), blank_(static_cast<float>(nan)),
          tresh_(tresh), kappa_(kappa), radius_(radius), circle_(radius, nx, ny),
          lag_(std::max(0, circle_.rows)), slots_(std::min(2 * lag_ + 1, ny)),
          marks_(static_cast<std::size_t>(slots_) * nx, 0),
          alive_(static_cast<std::size_t>(ny) + 1, nx),
          start_(static_cast<std::size_t>(ny) + 1, kDense), xs_(nx), outliers_(nx), ws_(nx),
          zs_(nx), surface_(nx)
    {
    }

    // Adds the usable pixels to the cleared sums of trial.
    void gather(ScaledSurface &trial)
    {
        trial.clear();
        for (int y = 1; y <= ny_; ++y)
            finishRow(trial, y);
    }

    // The pass of the fitted surface: returns the sum of the squared
    // deviations of the pixels that are not blank; blanks the outliers of
    // this pass with their circles and gathers the usable pixels that are
    // left into the cleared sums of trial. A row is blanked and gathered as
    // soon as the circles of the rows still to come cannot reach it: the
    // outliers are found on the image of this pass.
    double clip(const ScaledSurface &fitted, ScaledSurface &trial)
    {
        trial.clear();
        double S = 0.0;
        for (int y = 1; y <= ny_; ++y) {
            int count = 0;
            S += start_[y] == kDense ? testRow<true>(fitted, y, count)
                                     : testRow<false>(fitted, y, count);
            if (radius_ >= 0)
                markCircles(y, count);
            if (y > lag_)
                finishRow(trial, y - lag_);
        }
        for (int y = std::max(1, ny_ - lag_ + 1); y <= ny_; ++y)
            finishRow(trial, y);
        return S;
    }

private:
    // A row that is looked at whole; the others keep a list of the columns
    // of their pixels that are not blank, which only ever shrinks: blank
    // pixels stay blank. After the first pass of a clipped fit most rows
    // hold few such pixels.
    static constexpr long kDense = -1;

    std::size_t at0(int y) const
    {
        return static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(nx_);
    }
    unsigned char *marksOf(int y)
    {
        return &marks_[static_cast<std::size_t>((y - 1) % slots_) * nx_];
    }

    // Squared deviations from the surface of the pixels of row y that are
    // not blank, and their outliers (columns from 1, ascending) in
    // outliers_[0..count).
    template <bool Dense>
    double testRow(const ScaledSurface &fitted, int y, int &count)
    {
        const int n = Dense ? nx_ : alive_[y];
        const int *const col = Dense ? nullptr : pool_.data() + start_[y];
        if (Dense) {
            fitted.row(y, surface_.data());
        } else {
            for (int k = 0; k < n; ++k)
                xs_[k] = col[k] + 1;
            fitted.values(y, xs_.data(), n, surface_.data());
        }
        const float *const wr = w_ + at0(y);
        const float *const er = e_ + at0(y);
        const float *const surface = surface_.data();
        int *const outliers = outliers_.data();
        const double nan = nan_, kappa = kappa_;
        // Without branches, and in four partial sums that do not wait for
        // each other.
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        int found = 0;
        const auto test = [&](int k, double &sum) {
            const int x = Dense ? k : col[k];
            const float v = wr[x];
            const bool kept = Dense ? static_cast<double>(v) != nan : true;
            const float d = v - surface[k];
            const double dd = d;
            sum += kept & (std::fabs(dd) <= std::numeric_limits<double>::max()) ? dd * dd : 0.0;
            outliers[found] = x + 1; // kept only when it is one
            found += kept & (std::fabs(d) >= kappa * static_cast<double>(er[x]));
        };
        int k = 0;
        for (; k + 3 < n; k += 4) {
            test(k, s0);
            test(k + 1, s1);
            test(k + 2, s2);
            test(k + 3, s3);
        }
        for (; k < n; ++k)
            test(k, s0);
        count = found;
        return (s0 + s1) + (s2 + s3);
    }

    // Marks the circles around the `count` outliers of row y. Spans that
    // touch are merged and filled once, so that a row full of outliers
    // costs no more than a row of pixels per row offset; the spans of one
    // width serve every row offset of that width (the widths shrink from
    // the middle row outwards).
    void markCircles(int y, int count)
    {
        int merged = -1; // the width the spans are for
        for (int v = 0; v <= circle_.rows; ++v) {
            const int width = circle_.width[v + circle_.rows];
            if (width != merged) {
                spans_.clear();
                int from = 0, to = -1; // the span being merged, columns from 1
                for (int k = 0; k < count; ++k) {
                    const int x = outliers_[k], a = std::max(1, x - width),
                              b = std::min(nx_, x + width);
                    if (a > to + 1) {
                        if (to >= from)
                            spans_.emplace_back(from, to);
                        from = a;
                    }
                    to = b;
                }
                if (to >= from)
                    spans_.emplace_back(from, to);
                merged = width;
            }
            fill(y - v);
            if (v > 0)
                fill(y + v);
        }
    }

    // Marks the spans in row t, when there is one.
    void fill(int t)
    {
        if (t < 1 || t > ny_)
            return;
        unsigned char *const mr = marksOf(t);
        for (const auto &span : spans_)
            std::fill(mr + span.first - 1, mr + span.second, static_cast<unsigned char>(1));
    }

    // Blanks the marked pixels of row y, drops the blank ones from its
    // list and adds its usable pixels (finite, not blank, at most tresh,
    // with a finite error above 0; compared in double) to the sums of trial.
    void finishRow(ScaledSurface &trial, int y)
    {
        const int count = start_[y] == kDense ? finishRow<true>(y) : finishRow<false>(y);
        std::fill(marksOf(y), marksOf(y) + nx_, static_cast<unsigned char>(0));
        // The weights apart, in a loop the compiler turns into vector code.
        for (int k = 0; k < count; ++k)
            ws_[k] = 1.0 / (ws_[k] * ws_[k]);
        trial.addRow(y, xs_.data(), ws_.data(), zs_.data(), count);
    }

    template <bool Dense>
    int finishRow(int y)
    {
        float *const wr = w_ + at0(y);
        const float *const er = e_ + at0(y);
        const unsigned char *const mr = marksOf(y);
        const int n = Dense ? nx_ : alive_[y];
        // A whole row keeps its columns in outliers_ (free at this point) in
        // case it becomes a listed one.
        int *const col = Dense ? outliers_.data() : pool_.data() + start_[y];
        // In locals, which the stores of the loop cannot change.
        int *const xs = xs_.data();
        double *const ws = ws_.data();
        double *const zs = zs_.data();
        const float blank = blank_;
        const double nan = nan_, tresh = tresh_;
        int kept = 0, count = 0;
        for (int k = 0; k < n; ++k) {
            const int x = Dense ? k : col[k];
            if (mr[x])
                wr[x] = blank;
            const float v = wr[x];
            const double dv = v;
            if (dv == nan)
                continue;
            col[kept++] = x;
            const float error = er[x];
            if (!(std::fabs(v) <= std::numeric_limits<float>::max() && dv <= tresh &&
                  error > 0.0f && error <= std::numeric_limits<float>::max()))
                continue;
            xs[count] = x + 1;
            ws[count] = error;
            zs[count] = dv;
            ++count;
        }
        alive_[y] = kept;
        if (Dense && kept <= nx_ / 4) {
            start_[y] = static_cast<long>(pool_.size());
            pool_.insert(pool_.end(), col, col + kept);
        }
        return count;
    }

    float *const w_;
    const float *const e_;
    const int nx_, ny_;
    const double nan_;
    const float blank_;
    const double tresh_, kappa_;
    const int radius_;
    const Circle circle_;
    // Pixels to blank, marked by the circles of the outliers, for the rows
    // a circle can still reach: row y at slot (y - 1) % slots_.
    const int lag_, slots_;
    std::vector<unsigned char> marks_;
    // Per row: the pixels that are not blank, and where its list starts in
    // pool_ (kDense for a row looked at whole).
    std::vector<int> alive_;
    std::vector<long> start_;
    std::vector<int> pool_;
    // Buffers of one row.
    std::vector<int> xs_, outliers_;
    std::vector<std::pair<int, int>> spans_; // of the circles of a row, columns from 1
    std::vector<double> ws_, zs_;
    std::vector<float> surface_;
};

} // namespace

void get_sky(MArray<float, 2> sky_io, MArray<float, 2> err, double nan, double kappa, int nx,
             int ny, std::string cutname, int radius, int order, double tresh)
{
    if (order < 0)
        throw SkyError("the polynomial order must not be negative");
    if (nx < 1 || ny < 1 || sky_io.length(1) != nx || sky_io.length(2) != ny ||
        err.length(1) != nx || err.length(2) != ny)
        throw SkyError("the image, its error image and the size " + std::to_string(nx) + " x " +
                       std::to_string(ny) + " do not agree");
    // An order with more coefficients than the image has pixels can never
    // be fitted; refuse it before anything is sized by the order.
    const long long pixels = static_cast<long long>(nx) * ny;
    const long long terms = (order + 1LL) * (order + 1LL);
    if (terms > pixels || terms > INT_MAX)
        throw SkyError(
            "the polynomial sky cannot be fitted: fewer pixels than coefficients (the image has " +
            std::to_string(pixels) + " pixels, order " + std::to_string(order) + " has " +
            std::to_string(terms) + " coefficients)");

    // The image is clipped in place in sky_io's storage when that is laid
    // out row by row (the surface replaces it at the end), else in a copy.
    MArray<float, 2> work = contiguous(sky_io);
    const MArray<float, 2> errc = contiguous(err);
    float *const w = work.dataFirst();
    Sweep sweep(w, errc.dataFirst(), nx, ny, nan, tresh, kappa, radius);

    // Fitted in scaled coordinates: the normal equations of the plain powers
    // x^b·y^a, and their sum in float, lose all accuracy at high orders.
    ScaledSurface fitted(order, nx, ny), trial(order, nx, ny);
    const int m = (order + 1) * (order + 1);
    bool haveFit = false;
    long previous = 0;
    sweep.gather(trial);
    for (;;) {
        const long N = trial.points();
        if (haveFit && N == previous)
            break;

        std::string failure;
        if (N == 0)
            failure = haveFit ? "no usable pixel left" : "no usable pixel";
        else if (N < m)
            failure = "fewer pixels than coefficients";
        if (failure.empty()) {
            const int status = trial.solve();
            if (status == -1)
                failure = "singular system";
            else if (status != 0)
                failure = "the usable pixels leave the surface undetermined (condition number " +
                          double2str(trial.condition()) + ")";
            else if (!(trial.bound() < std::numeric_limits<float>::max()))
                failure = "the surface exceeds the range of float";
        }
        if (!failure.empty()) {
            if (!haveFit)
                throw SkyError(
                    "the polynomial sky cannot be fitted: " + failure + " (" + std::to_string(N) +
                    " usable pixels for " + std::to_string(m) +
                    " coefficients; usable pixels are finite, not blank, at most tresh and have an "
                    "error above 0)");
            std::cout << "having used " << std::setw(8) << N << " pixel: " << failure
                      << ", keeping the surface of the previous pass" << std::endl;
            break;
        }
        std::swap(fitted, trial);
        haveFit = true;

        const double rms = std::sqrt(sweep.clip(fitted, trial) / static_cast<double>(N));
        std::cout << "having used " << std::setw(8) << N << " pixel, rms = " << std::setw(8) << rms
                  << std::endl;
        previous = N;
    }

    std::cout << std::endl;
    std::cout.unsetf(std::ios::floatfield);
    std::cout.precision(6);
    const std::vector<double> coef = fitted.powers();
    int index = 1;
    for (int a = 0; a <= order; ++a)
        for (int b = 0; b <= order; ++b, ++index)
            std::cout << std::setw(15) << index << "   x^" << std::setw(2) << b << "   y^"
                      << std::setw(2) << a << std::setw(15) << coef[a * (order + 1) + b]
                      << std::endl;

    std::cout << std::endl << "Saving file: " << cutname << std::endl;
    {
        orv::FitsOut out(cutname);
        out << work;
    }
    for (int y = 1; y <= ny; ++y)
        fitted.row(y, w + at(1, y, nx));
    if (work.dataFirst() != sky_io.dataFirst())
        sky_io = work;
}
