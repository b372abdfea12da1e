#include "dornel/get_sky.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <limits>
#include <vector>

#include "dornel/conversions.h"
#include "dornel/poly.h"
#include "dornel/sky_error.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"

using orv::MArray;

namespace {

// Pixel (x, y) of a fresh array of nx columns, both indices from 1.
inline std::size_t at(int x, int y, int nx) {
    return static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(nx) + static_cast<std::size_t>(x - 1);
}

// The circle masked around an outlier, u² + v² < R·(R + 1), as one span
// of columns u = -width(v)..width(v) per row offset v = -rows..rows; radius 0
// is the pixel itself, a negative radius masks nothing. Offsets that cannot
// reach into an image of nx x ny pixels are left out, so that a large
// radius costs neither memory nor overflow.
struct Circle {
    int rows = -1;
    std::vector<int> width;  // at v + rows

    Circle(int R, int nx, int ny) {
        if (R < 0) return;
        rows = std::min(R, ny - 1);
        // R + 1 in int would overflow for the largest radius.
        const long long limit = static_cast<long long>(R) * (R + 1LL);
        for (int v = -rows; v <= rows; ++v) {
            // The largest u with u² + v² < limit (u = 0 always qualifies for |v| <= R).
            long long u = R == 0 ? 0 : static_cast<long long>(std::sqrt(static_cast<double>(limit - 1LL * v * v)));
            while (u > 0 && u * u + 1LL * v * v >= limit) --u;
            while ((u + 1) * (u + 1) + 1LL * v * v < limit) ++u;
            width.push_back(static_cast<int>(std::min<long long>(u, nx - 1)));
        }
    }
};

// The values of a as one contiguous block indexed like at(): a itself when
// it is laid out so, else a copy.
MArray<float, 2> contiguous(const MArray<float, 2>& a) {
    if (a.isStorageContiguous() && a.stride(1) == 1) return a;
    MArray<float, 2> copy(a.shape());
    copy = a;
    return copy;
}

}  // namespace

void get_sky(MArray<float, 2> sky_io, MArray<float, 2> err, double nan, double kappa, int nx, int ny,
             std::string cutname, int radius, int order, double tresh) {
    if (order < 0) throw SkyError("the polynomial order must not be negative");
    if (nx < 1 || ny < 1 || sky_io.length(1) != nx || sky_io.length(2) != ny || err.length(1) != nx ||
        err.length(2) != ny)
        throw SkyError("the image, its error image and the size " + std::to_string(nx) + " x " +
                       std::to_string(ny) + " do not agree");
    // An order with more coefficients than the image has pixels can never
    // be fitted; refuse it before anything is sized by the order.
    const long long pixels = static_cast<long long>(nx) * ny;
    const long long terms = (order + 1LL) * (order + 1LL);
    if (terms > pixels || terms > INT_MAX)
        throw SkyError("the polynomial sky cannot be fitted: fewer pixels than coefficients (the image has " +
                       std::to_string(pixels) + " pixels, order " + std::to_string(order) + " has " +
                       std::to_string(terms) + " coefficients)");

    MArray<float, 2> work(sky_io.shape());
    work = sky_io;
    MArray<float, 2> model(sky_io.shape());
    const MArray<float, 2> errc = contiguous(err);
    float* const w = work.dataFirst();
    float* const mod = model.dataFirst();
    const float* const e = errc.dataFirst();
    const float blank = static_cast<float>(nan);

    // Pixels to blank before the next count (1), and the circle around an outlier.
    std::vector<unsigned char> cut(static_cast<std::size_t>(nx) * ny, 0);
    const Circle circle(radius, nx, ny);

    // Pixels that may enter the fit (compared in double).
    const auto usable = [nan, tresh](double v, float error) {
        return std::isfinite(v) && v != nan && v <= tresh && error > 0 && std::isfinite(error);
    };
    constexpr int kBand = 64;

    // Fitted in scaled coordinates: the normal equations of the plain powers
    // x^b·y^a, and their sum in float, lose all accuracy at high orders.
    ScaledSurface fitted(order, nx, ny), trial(order, nx, ny);
    const int m = (order + 1) * (order + 1);
    bool haveFit = false;
    std::vector<long> columnCount(static_cast<std::size_t>(nx) + 1), slot(static_cast<std::size_t>(nx) + 1);
    MArray<double, 1> fitData[4];  // x, y, value and error of the usable pixels
    long previous = 0;

    for (;;) {
        // Apply the blanking of the pass before, then count the usable
        // pixels per column: the fit data run column by column (x outer,
        // y inner), so every column's first slot is known before filling.
        std::fill(columnCount.begin(), columnCount.end(), 0L);
        for (int y = 1; y <= ny; ++y) {
            for (int x = 1; x <= nx; ++x) {
                const std::size_t i = at(x, y, nx);
                if (cut[i]) {
                    w[i] = blank;
                    cut[i] = 0;
                }
                if (usable(w[i], e[i])) ++columnCount[x];
            }
        }
        long N = 0;
        for (int x = 1; x <= nx; ++x) {
            slot[x] = N;
            N += columnCount[x];
        }
        if (haveFit && N == previous) break;

        std::string failure;
        if (N == 0)
            failure = haveFit ? "no usable pixel left" : "no usable pixel";
        else if (N < m)
            failure = "fewer pixels than coefficients";
        if (failure.empty()) {
            // The counts never grow, so the fit data of the first pass have
            // room for every later one; later passes use their leading part.
            if (fitData[0].elementCount() == 0)
                for (MArray<double, 1>& a : fitData) a.makeReference(MArray<double, 1>(static_cast<int>(N)));
            MArray<double, 1> xs(fitData[0]), ys(fitData[1]), zs(fitData[2]), ws(fitData[3]);
            for (MArray<double, 1>* a : {&xs, &ys, &zs, &ws}) a->setrange(1, orv::Range(1, static_cast<int>(N)));
            double* px = xs.dataFirst();
            double* py = ys.dataFirst();
            double* pz = zs.dataFirst();
            double* pw = ws.dataFirst();
            // In bands of columns, so that the columns being filled stay in
            // the cache while the band is read row by row.
            for (int x0 = 1; x0 <= nx; x0 += kBand) {
                const int x1 = std::min(nx, x0 + kBand - 1);
                for (int y = 1; y <= ny; ++y) {
                    for (int x = x0; x <= x1; ++x) {
                        const std::size_t i = at(x, y, nx);
                        const double v = w[i];
                        if (!usable(v, e[i])) continue;
                        const long k = slot[x]++;
                        px[k] = x;
                        py[k] = y;
                        pz[k] = v;
                        pw[k] = e[i];
                    }
                }
            }
            const int status = trial.fit(px, py, pz, pw, N);
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
                throw SkyError("the polynomial sky cannot be fitted: " + failure + " (" +
                               std::to_string(N) + " usable pixels for " + std::to_string(m) +
                               " coefficients; usable pixels are finite, not blank, at most tresh and have an "
                               "error above 0)");
            std::cout << "having used " << std::setw(8) << N << " pixel: " << failure
                      << ", keeping the surface of the previous pass" << std::endl;
            break;
        }
        std::swap(fitted, trial);
        haveFit = true;

        // Surface, rms over the non-blank pixels, and the outliers of this pass.
        double S = 0.0;
        for (int y = 1; y <= ny; ++y) {
            fitted.row(y, mod + at(1, y, nx));
            for (int x = 1; x <= nx; ++x) {
                const std::size_t i = at(x, y, nx);
                const float mv = mod[i];
                const float v = w[i];
                if (static_cast<double>(v) == nan) continue;
                const float d = v - mv;
                const double dd = d;
                if (std::isfinite(dd)) S += dd * dd;
                if (radius >= 0 && std::fabs(d) >= kappa * static_cast<double>(e[i])) {
                    for (int v = -circle.rows; v <= circle.rows; ++v) {
                        const int t = y + v, w = circle.width[v + circle.rows];
                        if (t < 1 || t > ny) continue;
                        const int from = std::max(1, x - w), to = std::min(nx, x + w);
                        std::fill(&cut[at(from, t, nx)], &cut[at(to, t, nx)] + 1, static_cast<unsigned char>(1));
                    }
                }
            }
        }
        const double rms = std::sqrt(S / static_cast<double>(N));
        std::cout << "having used " << std::setw(8) << N << " pixel, rms = " << std::setw(8) << rms << std::endl;
        previous = N;
    }

    std::cout << std::endl;
    std::cout.unsetf(std::ios::floatfield);
    std::cout.precision(6);
    const std::vector<double> coef = fitted.powers();
    int index = 1;
    for (int a = 0; a <= order; ++a)
        for (int b = 0; b <= order; ++b, ++index)
            std::cout << std::setw(15) << index << "   x^" << std::setw(2) << b << "   y^" << std::setw(2) << a
                      << std::setw(15) << coef[a * (order + 1) + b] << std::endl;

    std::cout << std::endl << "Saving file: " << cutname << std::endl;
    {
        orv::FitsOut out(cutname);
        out << work;
    }
    sky_io = model;
}
