// Synthetic star fields for the chi, map, measurement and finding tests: a
// Gaussian PSF made of exact sub-grid integrals, a sky of 0 with seeded
// Gaussian noise, and stars placed by the toolbox with photon noise.
#ifndef TESTS_PSFTOOLS_PSF_FIELD_H
#define TESTS_PSFTOOLS_PSF_FIELD_H

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "psftools/psf.h"
#include "tests/psftools/psf_truth.h"

namespace psffield {

constexpr int kAnalyt = 4;     // binned PSF: offsets −4..4
constexpr int kSubgrid = 15;   // a multiple of the shift count: exact tables
constexpr int kShifts = 5;     // sub-pixel steps of 0.2 pixel
constexpr double kSigma = 1.0; // PSF standard deviation in pixels
constexpr double kRadius = 3;  // fit circle

// A unit-flux Gaussian PSF with negligible sample errors, tabulated at 5
// shifts per axis: table (sx, sy, i, j) is the integral of the Gaussian
// centred at (sx/5, sy/5) over pixel (i, j). Other shift counts and sample
// errors on request.
inline psf gaussianPsf(int boxlen = 6, int shifts = kShifts, double sampleError = 1e-7)
{
    psf p(boxlen, kAnalyt, kSubgrid, 0);
    psftruth::fillSubgridGaussian(p.get_psf(), kSubgrid, kSigma);
    orv::MArray<double, 2> e = p.get_epsf();
    e = sampleError;
    testing::internal::CaptureStdout();
    p.calc_base(shifts, 0);
    testing::internal::GetCapturedStdout();
    return p;
}

struct Star {
    double x, y, flux;
};

// An image with the given index bases, sky 0 with noise of standard
// deviation sky (the error image holds sky), and stars added by the toolbox
// with photon noise of gain 1.
struct Field {
    orv::MArray<float, 2> image, error;
    Field(psf &p, int nx, int ny, const std::vector<Star> &stars, double sky, unsigned seed,
          int bx = 1, int by = 1)
        : image(orv::Range(bx, bx + nx - 1), orv::Range(by, by + ny - 1)), error(image.shape())
    {
        std::mt19937 rng(seed);
        std::normal_distribution<double> g(0, sky);
        for (int j = by; j < by + ny; ++j)
            for (int i = bx; i < bx + nx; ++i) {
                image(i, j) = static_cast<float>(g(rng));
                error(i, j) = static_cast<float>(sky);
            }
        long s = -static_cast<long>(seed) - 1;
        for (const Star &st : stars)
            p.add_psf_noise(image, error, st.x, st.y, st.flux, 1.0, s, -1e30, -1, 0);
    }
};

// The amplitude error of a fit at (x, y): 1/√(Σ p²/e²) over the fit circle,
// the PSF taken as its exact pixel integrals, bad pixels left out.
inline double amplitudeError(const Field &f, double x, double y, double radius = kRadius)
{
    const long ix = std::lrint(x), iy = std::lrint(y);
    double spp = 0;
    for (int a = -kAnalyt; a <= kAnalyt; ++a)
        for (int b = -kAnalyt; b <= kAnalyt; ++b) {
            const double da = ix + a - x, db = iy + b - y;
            if (!(da * da + db * db < radius * radius))
                continue;
            const double p = psftruth::pixelIntegral(a, b, x - ix, y - iy, kSigma),
                         e = f.error(ix + a, iy + b);
            if (e > 0)
                spp += p * p / (e * e);
        }
    return 1 / std::sqrt(spp);
}

} // namespace psffield

#endif
