// Two stars put into a noisy image, written to a FITS file and read back,
// and found again with the PSF they were made with.
#include <cmath>
#include <cstdio>
#include <random>

#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"
#include "psftools/psf.h"

int main()
{
    psf p(6, 4, 15, 0);
    p.generate_gauss(2.5, 2.5, 0, 0);
    orv::MArray<double, 2> e = p.get_epsf();
    e = 1e-3;
    p.normalize_psf();
    p.calc_base(5, 0);

    orv::MArray<float, 2> image(48, 40), error(48, 40);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0, 5);
    for (int j = 1; j <= 40; ++j)
        for (int i = 1; i <= 48; ++i) {
            image(i, j) = static_cast<float>(noise(rng));
            error(i, j) = 5;
        }
    p.add_psf(image, error, 15, 12, 4000, -1e30, -1, 0);
    p.add_psf(image, error, 33, 27, 6000, -1e30, -1, 0);
    {
        orv::FitsOut out("stars.fits");
        out << image;
    }
    orv::MArray<float, 2> read;
    {
        orv::FitsIn in("stars.fits", true);
        in >> read;
    }

    orv::MArray<double, 1> x, y, amplitude;
    p.find(read, error, x, y, amplitude, 5, 3, 3, "stars", 0);
    bool right = x.length(1) == 2;
    for (int q = 1; right && q <= 2; ++q) {
        std::printf("star %d at %g, %g, flux %.0f\n", q, x(q), y(q), amplitude(q));
        const double want = q == 1 ? 4000 : 6000;
        right = x(q) == (q == 1 ? 15 : 33) && y(q) == (q == 1 ? 12 : 27) &&
                std::fabs(amplitude(q) - want) < 0.1 * want;
    }
    std::puts(right ? "stars: found" : "stars: not found");
    return right ? 0 : 1;
}
