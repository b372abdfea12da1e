// Finds the stars of a FITS image with psf::find, for compare_find.py and
// find_memory.py, and shows how to prepare a synthetic PSF for star finding:
//
//   find_stars [--best] [--fwhm=F] [--moffat=BETA] [--radius=R] [--analyt=A]
//              [--boxlen=B] [--shifts=S] [--subgrid=G]
//              IMAGE ERRORS LIST [SAMPLE_ERROR [LARGEST_CHI]]
//
// IMAGE must have its sky subtracted: the fit has no sky term, so a sky
// left in is taken for the wings of stars everywhere (psftools/README.md).
// The sky program of this project does it, writing "s" + IMAGE and its
// error image "e.s" + IMAGE beside the input:
//
//   build/bin/dornel -s -k 3 field.fits       # spline sky, clipped at 3σ
//   build/bin/find_stars sfield.fits e.sfield.fits stars.txt
//
// The PSF is a Gaussian of FWHM F pixels (default 2.5), or with --moffat a
// Moffat profile of that FWHM and power law BETA, on a sub-grid of G steps
// per pixel (default 15), binned to pixels within A pixels of its centre
// (default 4) and tabulated at S shifts per axis (default 5). Its sub-grid
// samples get the error SAMPLE_ERROR (default 0.015/G) while pixel (0, 0)
// of the binned PSF is 1: binned, 0.015/G is 1.5 % of the central pixel, so
// that the chi of a bright star between two tabulated shifts levels off
// instead of growing with its flux (psftools/README.md). The PSF is then
// normalised (errors with it), so that amplitudes are total fluxes. The fit
// circle has radius R (default 3; beyond A it holds no more), the search keeps B pixels
// from the border (default 6), and a star needs an amplitude of 5 times its
// error and a normalised chi of at most LARGEST_CHI (default 3). LIST gets
// one line "x y amplitude" per star; a star wider than the defaults' 2.5
// pixels gives several lines, which the caller merges (the README says
// how). With --best, psf::mapping_full_best_source makes the per-pixel
// source list instead (same PSF and limits, tag 0), one line per source in
// LIST. Standard output ends with "work SECONDS" (the PSF and the search,
// without reading and writing files) and "threads N".
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"
#include "orv/fits/fits_exception.h"
#include "psftools/psf.h"
#include "psftools/psf_chi.h"

namespace {

const char *const kUsage =
    "usage: find_stars [--best] [--fwhm=F] [--moffat=BETA] [--radius=R] [--analyt=A] "
    "[--boxlen=B] [--shifts=S] [--subgrid=G] IMAGE ERRORS LIST [SAMPLE_ERROR [LARGEST_CHI]]";

// The PSF and the search, as the options set them.
struct Settings {
    bool best = false;
    double fwhm = 2.5, beta = 0, radius = 3;
    int analyt = 4, boxlen = 6, shifts = 5, subgrid = 15;
};

// Takes "--name=value" options off the front of the arguments; false on an
// option it does not know, a value that is not a number, or a size or count
// that is not a whole number an int holds (it would be cut off without a
// word, or not be an int at all).
bool options(int &argc, char **&argv, Settings &s)
{
    for (; argc > 1 && std::strncmp(argv[1], "--", 2) == 0; --argc, ++argv) {
        const std::string arg = argv[1];
        if (arg == "--best") {
            s.best = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        if (eq == std::string::npos)
            return false;
        const std::string name = arg.substr(0, eq), text = arg.substr(eq + 1);
        char *end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0')
            return false;
        int *const count = name == "--analyt"    ? &s.analyt
                           : name == "--boxlen"  ? &s.boxlen
                           : name == "--shifts"  ? &s.shifts
                           : name == "--subgrid" ? &s.subgrid
                                                 : nullptr;
        if (count) {
            if (!(v == std::trunc(v) && std::fabs(v) <= INT_MAX))
                return false;
            *count = static_cast<int>(v);
        } else if (name == "--fwhm")
            s.fwhm = v;
        else if (name == "--moffat")
            s.beta = v;
        else if (name == "--radius")
            s.radius = v;
        else
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Settings s;
    if (!options(argc, argv, s) || argc < 4 || argc > 6) {
        std::cerr << kUsage << std::endl;
        return 2;
    }
    const double sample_error = argc > 4 ? std::atof(argv[4]) : 0.015 / s.subgrid;
    const double largest_chi = argc > 5 ? std::atof(argv[5]) : 3;
    if (!(sample_error > 0) || !(largest_chi > 0)) {
        std::cerr << "find_stars: SAMPLE_ERROR and LARGEST_CHI must be positive numbers"
                  << std::endl;
        return 2;
    }
    // An infinite width or radius would be refused by the PSF or the search
    // with a message only, leaving an empty list that looks like a result.
    if (!(s.fwhm > 0) || !(s.beta >= 0) || !(s.radius > 0) || !std::isfinite(s.fwhm) ||
        !std::isfinite(s.beta) || !std::isfinite(s.radius) || !std::isfinite(sample_error) ||
        s.analyt < 1 || s.boxlen < 0 || s.shifts < 1 || s.shifts % 2 == 0 || s.subgrid < 1) {
        std::cerr << "find_stars: FWHM, radius, SAMPLE_ERROR, PSF size and sub-grid must be "
                     "positive and finite, BETA and the border not negative, the shifts an odd "
                     "count"
                  << std::endl;
        return 2;
    }
    orv::MArray<float, 2> image, error;
    try {
        orv::FitsIn in(argv[1], true);
        in >> image;
        orv::FitsIn ein(argv[2], true);
        ein >> error;
    } catch (const orv::FitsException &e) {
        std::cerr << "find_stars: " << e.getMessage() << std::endl;
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    psf p(s.boxlen, s.analyt, s.subgrid, 0);
    if (s.beta > 0)
        p.generate_moffat(s.fwhm, s.fwhm, 0, s.beta, 0);
    else
        p.generate_gauss(s.fwhm, s.fwhm, 0, 0);
    // The error goes on before the normalisation, which scales it with the
    // PSF: what counts is the error relative to the PSF.
    orv::MArray<double, 2> e = p.get_epsf();
    e = sample_error;
    p.normalize_psf();
    p.calc_base(s.shifts, 0);
    // The search alone (the best-source lines go to the list as they come).
    std::chrono::duration<double> work;
    bool written;
    if (s.best) {
        std::ofstream list(argv[3]);
        orv::MArray<double, 2> chi, amplitude, amplitude_error, model;
        p.mapping_full_best_source(image, error, chi, amplitude, amplitude_error, model, 5,
                                   largest_chi, s.radius, 0, list, 1);
        work = std::chrono::steady_clock::now() - start;
        written = static_cast<bool>(list.flush());
    } else {
        orv::MArray<double, 1> x, y, amplitude;
        p.find(image, error, x, y, amplitude, 5, largest_chi, s.radius, "field", 0);
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
