#include "dornel/spline_sky.h"

#include <cstdint>
#include <cstring>
#include <iostream>
#include <vector>

#include "dornel/binspline.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"

using orv::MArray;

namespace {
// Pixels that differ from 0 (NaN included).
long nonBlank(const MArray<float, 2> &a)
{
    return orv::sum(orv::merge(a == 0.0f, 0L, 1L));
}

// The clipped image work = merge((image - sky) > kappa·err, 0, image), the
// difference in float and the product in double, is kept as the image and
// `zeroed`, the pixels of the image that work has as 0 instead. For the
// pixels x0..x1 of row y: brings zeroed up to date, reports the pixels of
// work whose value changed to the spline, and returns by how much the count
// of the pixels of work that are not 0 changed. row and state are buffers
// of a row.
long clipSpan(int y, int x0, int x1, const MArray<float, 2> &image, const MArray<float, 2> &err,
              const MArray<float, 2> &sky, double kappa, MArray<unsigned char, 2> &zeroed,
              BinSpline &spline, std::vector<float> &row, std::vector<unsigned char> &state)
{
    const int n = x1 - x0 + 1;
    const float *const im = &image(x0, y);
    const float *const er = &err(x0, y);
    const float *const sk = &sky(x0, y);
    unsigned char *const was = &zeroed(x0, y);
    const orv::index_t si = image.stride(1), se = err.stride(1), ss = sky.stride(1),
                       sz = zeroed.stride(1);
    float *const r = row.data();
    // The span first, in a loop free of branches; then the pixels that changed.
    if (si == 1 && se == 1 && ss == 1) {
        for (int i = 0; i < n; ++i) {
            const float v = im[i];
            r[i] = static_cast<double>(v - sk[i]) > kappa * static_cast<double>(er[i]) ? 0.0f : v;
        }
    } else {
        for (int i = 0; i < n; ++i) {
            const float v = im[i * si];
            r[i] = static_cast<double>(v - sk[i * ss]) > kappa * static_cast<double>(er[i * se])
                       ? 0.0f
                       : v;
        }
    }
    // Which pixels work now has as 0 instead of the image's value, compared
    // bit by bit: a NaN pixel is never clipped, and one of +0 is the same
    // clipped or not.
    unsigned char *const now = state.data();
    if (si == 1) {
        for (int i = 0; i < n; ++i) {
            std::uint32_t a, b;
            std::memcpy(&a, &r[i], sizeof a);
            std::memcpy(&b, &im[i], sizeof b);
            now[i] = a != b;
        }
        if (sz == 1 && std::memcmp(now, was, static_cast<std::size_t>(n)) == 0)
            return 0;
    } else {
        for (int i = 0; i < n; ++i)
            now[i] = std::memcmp(&r[i], &im[i * si], sizeof(float)) != 0;
    }
    long change = 0;
    for (int i = 0; i < n; ++i) {
        if (now[i] == was[i * sz])
            continue;
        was[i * sz] = now[i];
        change += (im[i * si] != 0.0f) * (now[i] ? -1 : 1); // work's pixel went to 0, or came back
        spline.changed(x0 + i, y);
    }
    return change;
}
} // namespace

void spline_sky(MArray<float, 2> image, MArray<float, 2> err, MArray<float, 2> sky,
                const std::string &dir, const std::string &base, Parameter &p, int maxPasses)
{
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
    std::vector<unsigned char> state(row.size());
    for (int j = 1;; ++j) {
        // Clipped as soon as the sky is made, and only where it changed.
        spline.pass(image, j == 1 ? nullptr : &zeroed, sky, [&](int y, int x0, int x1) {
            n += clipSpan(y, x0, x1, image, err, sky, p.kappa, zeroed, spline, row, state);
        });
        std::cout << j << ") notnan = " << n << std::endl;
        if (n >= previous)
            break;
        previous = n;
        if (j >= maxPasses) {
            std::cerr << "Warning: the clipping of " << p.current_file << " stopped after " << j
                      << " passes while the count of unclipped pixels was still falling"
                      << std::endl;
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
