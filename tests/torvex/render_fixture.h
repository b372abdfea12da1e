// Helpers of the component tests: a work-image node with its images, and
// the comparison of analytic derivative images with central differences.
#ifndef TESTS_TORVEX_RENDER_FIXTURE_H
#define TESTS_TORVEX_RENDER_FIXTURE_H

#include "numerics/nrutil.h"
#include "torvex/model/render.h"
#include "torvex/structs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

// One component's work images over nx x ny pixels: dpm[0] and one image per
// slot whose flag is 1, all cleared.
class Canvas {
public:
    Canvas(long nx, long ny, const int *ia = nullptr)
    {
        node.naxes[1] = rec.naxes[1] = nx;
        node.naxes[2] = rec.naxes[2] = ny;
        rec.magzpt = 25;
        rec.muzpt = 20;
        for (int k = 0; k <= 10; k++)
            if (k == 0 || (ia && ia[k] == 1))
                node.dpm[k] = matrix(1, ny, 1, nx);
        clear();
    }
    ~Canvas()
    {
        for (int k = 0; k <= 10; k++)
            if (node.dpm[k])
                free_matrix(node.dpm[k], 1, node.naxes[2], 1, node.naxes[1]);
    }
    Canvas(const Canvas &) = delete;
    Canvas &operator=(const Canvas &) = delete;

    void clear()
    {
        for (float **m : node.dpm)
            if (m)
                std::memset(&m[1][1], 0, sizeof(float) * node.naxes[1] * node.naxes[2]);
    }
    long nx() const { return node.naxes[1]; }
    long ny() const { return node.naxes[2]; }
    float at(int k, long x, long y) const { return node.dpm[k][y][x]; }
    double sum(int k = 0) const { return sum_matrix(node.dpm[k], ny(), nx()); }
    bool finite() const
    {
        for (float **m : node.dpm)
            if (m)
                for (long y = 1; y <= ny(); y++)
                    for (long x = 1; x <= nx(); x++)
                        if (!std::isfinite(m[y][x]))
                            return false;
        return true;
    }

    derivs node;
    image rec;
};

// Renders a copy of a (so that functions that write back see a copy).
inline void draw(component_function f, const float *a, const int *ia, Canvas &c)
{
    float ta[11];
    int tia[11];
    std::memcpy(ta, a, sizeof ta);
    std::memcpy(tia, ia, sizeof tia);
    c.clear();
    f(ta, tia, &c.rec, &c.node);
}

// The radius of (x, y) on the generalised ellipse of a, as the components
// compute it.
inline double ellipse_radius(const float *a, double x, double y)
{
    render::ellipse_frame f = render::make_frame(a);
    render::sample_point p;
    render::locate_any(f, x, y, p);
    return p.r;
}

// The discrete choice a component makes for a pixel (its number of samples
// per axis, or -1 when it leaves the pixel at 0).  Where it differs between
// the two renders of a central difference the difference measures the jump,
// not the derivative, and the pixel is left out of the comparison.  A class
// of kNotCompared leaves a pixel out in any case.
using pixel_class = std::function<int(const float *a, long x, long y)>;
constexpr int kNotCompared = -1000;

// The pixel class of a sampled profile whose size parameter is size(a).
inline pixel_class sampling_class(sampling_rule rule, std::function<double(const float *)> size)
{
    return [rule, size](const float *a, long x, long y) {
        return nsubsamp(ellipse_radius(a, x, y), input.sampfac, size(a), a[8], rule);
    };
}

// Relative L2 distance between the analytic derivative image of slot k and
// the central difference of the rendered image with steps +-h on a[k], over
// the pixels whose class is the same in both renders (all of them when cls
// is empty).  At most 2 per cent of the pixels may be left out.
inline double derivative_mismatch(component_function f, const float *a, const int *ia, int k,
                                  float h, long nx, long ny, const pixel_class &cls = nullptr)
{
    Canvas analytic(nx, ny, ia);
    draw(f, a, ia, analytic);

    const int none[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Canvas plus(nx, ny), minus(nx, ny);
    float ap[11], am[11];
    std::memcpy(ap, a, sizeof ap);
    std::memcpy(am, a, sizeof am);
    ap[k] = a[k] + h;
    am[k] = a[k] - h;
    draw(f, ap, none, plus);
    draw(f, am, none, minus);
    const double step = static_cast<double>(ap[k]) - am[k];

    double diff = 0, norm = 0;
    long skipped = 0;
    for (long y = 1; y <= ny; y++)
        for (long x = 1; x <= nx; x++) {
            if (cls) {
                int cp = cls(ap, x, y), cm = cls(am, x, y);
                if (cp == kNotCompared || cm == kNotCompared)
                    continue;
                if (cp != cm) {
                    skipped++;
                    continue;
                }
            }
            double fd = (static_cast<double>(plus.at(0, x, y)) - minus.at(0, x, y)) / step;
            double an = analytic.at(k, x, y);
            diff += (an - fd) * (an - fd);
            norm += fd * fd;
        }
    EXPECT_LE(skipped, nx * ny / 50) << "slot " << k;
    return std::sqrt(diff / norm);
}

#endif
