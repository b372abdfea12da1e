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

// Row y of work = merge((image - sky) > kappa·err, 0, image), the
// difference in float and the product in double; reports the pixels whose
// value changed to the spline and returns the count of the pixels of the
// row that are not 0. row is a buffer of a row.
long clipRow(int y, const MArray<float, 2>& image, const MArray<float, 2>& err, const MArray<float, 2>& sky,
             double kappa, MArray<float, 2>& work, BinSpline& spline, std::vector<float>& row) {
    const int x0 = image.firstIndex(1), n = image.length(1);
    const float* const im = &image(x0, y);
    const float* const er = &err(err.firstIndex(1), y);
    const float* const sk = &sky(sky.firstIndex(1), y);
    const orv::index_t si = image.stride(1), se = err.stride(1), ss = sky.stride(1);
    float* const r = row.data();
    long count = 0;
    // The row first, in a loop free of branches; then the pixels that changed.
    if (si == 1 && se == 1 && ss == 1) {
        for (int i = 0; i < n; ++i) {
            const float v = im[i];
            r[i] = static_cast<double>(v - sk[i]) > kappa * static_cast<double>(er[i]) ? 0.0f : v;
            count += r[i] != 0.0f;
        }
    } else {
        for (int i = 0; i < n; ++i) {
            const float v = im[i * si];
            r[i] = static_cast<double>(v - sk[i * ss]) > kappa * static_cast<double>(er[i * se]) ? 0.0f : v;
            count += r[i] != 0.0f;
        }
    }
    float* const wo = &work(work.firstIndex(1), y);
    const orv::index_t sw = work.stride(1);
    if (sw == 1 && std::memcmp(wo, r, static_cast<std::size_t>(n) * sizeof(float)) == 0) return count;
    for (int i = 0; i < n; ++i) {
        // Compared bit by bit: a NaN pixel is no change.
        if (std::memcmp(&wo[i * sw], &r[i], sizeof(float)) == 0) continue;
        wo[i * sw] = r[i];
        spline.changed(x0 + i, y);
    }
    return count;
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
    MArray<float, 2> work(image.shape());
    work = image;
    // Made again in every pass from the pixels the clipping changed.
    BinSpline spline(p);
    long previous = start;
    std::vector<float> row(static_cast<std::size_t>(image.length(1)));
    for (int j = 1;; ++j) {
        // Each row is clipped as soon as its sky is made.
        long n = 0;
        spline.pass(work, sky, [&](int y) { n += clipRow(y, image, err, sky, p.kappa, work, spline, row); });
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
        orv::FitsOut out(dir + "cut_" + base);
        out << work;
    }
}
