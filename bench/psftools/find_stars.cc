// Finds the stars of a FITS image with psf::find, for compare_find.py and
// find_memory.py, and shows how to prepare a synthetic PSF for star finding:
//
//   find_stars [--best] IMAGE ERRORS LIST [SAMPLE_ERROR [LARGEST_CHI]]
//
// The PSF is a Gaussian of FWHM 2.5 pixels on a sub-grid of 15 steps per
// pixel, tabulated at 5 shifts per axis. Its sub-grid samples get the error
// SAMPLE_ERROR (default 10⁻³) while pixel (0, 0) of the binned PSF is 1:
// binned, 10⁻³ is 15·10⁻³, 1.5 % of the central pixel, so that the chi of
// a bright star between two tabulated shifts levels off instead of growing
// with its flux (psftools/README.md). The PSF is then normalised (errors
// with it), so that amplitudes are total fluxes. The fit circle has radius
// 3, and a star needs an amplitude of 5 times its error and a normalised
// chi of at most LARGEST_CHI (default 3). LIST gets one line "x y
// amplitude" per star. With --best, psf::mapping_full_best_source makes the
// per-pixel source list instead (same PSF and limits, tag 0), one line per
// source in LIST. Standard output ends with "work SECONDS" (the PSF and the
// search, without reading and writing files) and "threads N".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"
#include "psftools/psf.h"
#include "psftools/psf_chi.h"

int main(int argc, char **argv)
{
    const bool best = argc > 1 && std::strcmp(argv[1], "--best") == 0;
    argc -= best;
    argv += best;
    if (argc < 4 || argc > 6) {
        std::cerr << "usage: find_stars [--best] IMAGE ERRORS LIST [SAMPLE_ERROR [LARGEST_CHI]]"
                  << std::endl;
        return 2;
    }
    const double sample_error = argc > 4 ? std::atof(argv[4]) : 1e-3;
    const double largest_chi = argc > 5 ? std::atof(argv[5]) : 3;
    if (!(sample_error > 0) || !(largest_chi > 0)) {
        std::cerr << "find_stars: SAMPLE_ERROR and LARGEST_CHI must be positive numbers"
                  << std::endl;
        return 2;
    }
    orv::MArray<float, 2> image, error;
    {
        orv::FitsIn in(argv[1], true);
        in >> image;
        orv::FitsIn ein(argv[2], true);
        ein >> error;
    }
    const auto start = std::chrono::steady_clock::now();
    psf p(6, 4, 15, 0);
    p.generate_gauss(2.5, 2.5, 0, 0);
    // The error goes on before the normalisation, which scales it with the
    // PSF: what counts is the error relative to the PSF.
    orv::MArray<double, 2> e = p.get_epsf();
    e = sample_error;
    p.normalize_psf();
    p.calc_base(5, 0);
    // The search alone (the best-source lines go to the list as they come).
    std::chrono::duration<double> work;
    bool written;
    if (best) {
        std::ofstream list(argv[3]);
        orv::MArray<double, 2> chi, amplitude, amplitude_error, model;
        p.mapping_full_best_source(image, error, chi, amplitude, amplitude_error, model, 5,
                                   largest_chi, 3, 0, list, 1);
        work = std::chrono::steady_clock::now() - start;
        written = static_cast<bool>(list.flush());
    } else {
        orv::MArray<double, 1> x, y, amplitude;
        p.find(image, error, x, y, amplitude, 5, largest_chi, 3, "field", 0);
        work = std::chrono::steady_clock::now() - start;
        FILE *list = std::fopen(argv[3], "w");
        written = list != nullptr;
        for (int i = x.firstIndex(1); written && i <= x.lastIndex(1); ++i)
            std::fprintf(list, "%g %g %.6g\n", x(i), y(i), amplitude(i));
        written = written && std::fclose(list) == 0;
    }
    if (!written) {
        std::cerr << "cannot write " << argv[3] << std::endl;
        return 1;
    }
    std::cout << "work " << work.count() << " s" << std::endl
              << "threads " << psf_chi::threads() << std::endl;
    return 0;
}
