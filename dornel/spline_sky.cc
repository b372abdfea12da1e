#include "dornel/spline_sky.h"

#include <iostream>

#include "dornel/binspline.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"

using orv::MArray;

namespace {
// Pixels that differ from 0 (NaN included).
long nonBlank(const MArray<float, 2>& a) { return orv::sum(orv::merge(a == 0.0f, 0L, 1L)); }
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
    long previous = start;
    for (int j = 1;; ++j) {
        binspline(work, sky, p);
        work = orv::merge((image - sky) > p.kappa * err, 0.0f, image);
        const long n = nonBlank(work);
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
