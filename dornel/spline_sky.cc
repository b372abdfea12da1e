#include "dornel/spline_sky.h"

#include <cstring>
#include <iostream>
#include <vector>

#include "dornel/binspline.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"

using orv::MArray;

namespace {
// Pixels that differ from 0 (NaN included).
long nonBlank(const MArray<float, 2>& a) { return orv::sum(orv::merge(a == 0.0f, 0L, 1L)); }

// The clipped image work = merge((image - sky) > kappa·err, 0, image), the
// difference in float and the product in double, is kept as the image and
// `zeroed`, the pixels of the image that work has as 0 instead. For the
// pixels x0..x1 of row y: brings zeroed up to date, reports the pixels of
// work whose value changed to the spline, and returns by how much the count
// of the pixels of work that are not 0 changed. row is a buffer of a row.
long clipSpan(int y, int x0, int x1, const MArray<float, 2>& image, const MArray<float, 2>& err,
              const MArray<float, 2>& sky, double kappa, MArray<unsigned char, 2>& zeroed, BinSpline& spline,
              std::vector<float>& row) {
    const int n = x1 - x0 + 1;
    const float* const im = &image(x0, y);
    const float* const er = &err(x0, y);
    const float* const sk = &sky(x0, y);
    unsigned char* const was = &zeroed(x0, y);
    const orv::index_t si = image.stride(1), se = err.stride(1), ss = sky.stride(1), sz = zeroed.stride(1);
    float* const r = row.data();
    // The span first, in a loop free of branches; then the pixels that changed.
    if (si == 1 && se == 1 && ss == 1) {
        for (int i = 0; i < n; ++i) {
            const float v = im[i];
            r[i] = static_cast<double>(v - sk[i]) > kappa * static_cast<double>(er[i]) ? 0.0f : v;
        }
    } else {
        for (int i = 0; i < n; ++i) {
            const float v = im[i * si];
            r[i] = static_cast<double>(v - sk[i * ss]) > kappa * static_cast<double>(er[i * se]) ? 0.0f : v;
        }
    }
    long change = 0;
    for (int i = 0; i < n; ++i) {
        // Compared bit by bit: a NaN pixel is never clipped, and one of +0
        // is the same clipped or not.
        const float v = im[i * si];
        const unsigned char now = std::memcmp(&r[i], &v, sizeof(float)) != 0;
        if (now == was[i * sz]) continue;
        was[i * sz] = now;
        change += (v != 0.0f) * (now ? -1 : 1);  // work's pixel went to 0, or came back
        spline.changed(x0 + i, y);
    }
    return change;
}
}  // namespace

void spline_sky(MArray<float, 2> image, MArray<float, 2> err, MArray<float, 2> sky, const std::string& dir,
                const std::string& base, Parameter& p, int maxPasses) {
    p.cx = p.galcenter[0];
    p.cy = p.galcenter[1];
    p.nan = 0.0f;
    p.current_file = dir + base;
    if (p.kappa == 0) {
        binspline(image, sky, p);
        return;
    }

    const long start = nonBlank(image);
    std::cout << 0 << ") notnan = " << start << std::endl;
    // The clipped image as the pixels of the image it has as 0.
    MArray<unsigned char, 2> zeroed(image.shape());
    zeroed = static_cast<unsigned char>(0);
    // Made again in every pass from the pixels the clipping changed.
    BinSpline spline(p);
    long previous = start, n = start;
    std::vector<float> row(static_cast<std::size_t>(image.length(1)));
    for (int j = 1;; ++j) {
        // Clipped as soon as the sky is made, and only where it changed.
        spline.pass(image, j == 1 ? nullptr : &zeroed, sky, [&](int y, int x0, int x1) {
            n += clipSpan(y, x0, x1, image, err, sky, p.kappa, zeroed, spline, row);
        });
        std::cout << j << ") notnan = " << n << std::endl;
        if (n >= previous) break;
        previous = n;
        if (j >= maxPasses) {
            std::cerr << "Warning: the clipping of " << p.current_file << " stopped after " << j
                      << " passes while the count of unclipped pixels was still falling" << std::endl;
            break;
        }
    }
    if (p.verbose > 0) {
        MArray<float, 2> work(image.shape());
        work = orv::merge(zeroed != static_cast<unsigned char>(0), 0.0f, image);
        orv::FitsOut out(dir + "cut_" + base);
        out << work;
    }
}
