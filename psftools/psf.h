// Class psf: one point-spread function on a sub-pixel grid, with an error
// for every sample, binned to whole pixels at sub-pixel shifts, and the
// operations that work with it. The members live in one source file per
// topic (psf*.cc).
//
// Conventions: arrays are orv::MArray; the first index is x, the second y;
// PSF arrays have index 0 at the PSF centre. A sub-grid step is 1/_subgrid
// pixel. A shift index s stands for a shift of s/_subpixel pixel; a star at x
// uses s = lrint(_subpixel·(x − lrint(x))).
//
// Typical use:
//   psf p(boxlen, analyt, subgrid, interpolation);
//   p.generate_moffat(3, 3, 0, 2.5, 0);   // or read_psf, readfits_psf, ...
//   p.calc_base(5, 0);                    // the shift tables
//   p.add_psf(image, error, x, y, flux, 0, -1, 0);
#ifndef PSFTOOLS_PSF_H
#define PSFTOOLS_PSF_H

#include <memory>
#include <ostream>
#include <string>

#include "orv/MArray.h"

class psf {
public:
    // Every size 0, every array without storage.
    psf();
    // _slen = analyt·subgrid + subgrid/2; the sub-grid arrays get indices
    // −_slen.._slen, the binned ones −analyt..analyt, all zero. The shift
    // tables stay empty until calc_base. _subpixel starts at 0. A sub-grid
    // below 1, a negative boxlen, analyt or interpolation, or an _slen beyond
    // an int's range is refused with a message on standard output: the
    // object is then made as psf() makes it.
    psf(int boxlen, int analyt, int subgrid, int interpolation);
    ~psf();

    // Setters: no checks, no reshaping. set_analyt and set_subgrid recompute
    // _slen; the arrays keep their shapes until rebuilt by the caller (the
    // binned pair by the next binning).
    void set_boxlen(int v);
    void set_analyt(int v);
    void set_subgrid(int v);
    void set_subpixel(int v);
    void set_interpolation(int v);

    int get_boxlen() const { return _boxlen; }
    int get_analyt() const { return _analyt; }
    int get_subgrid() const { return _subgrid; }
    int get_subpixel() const { return _subpixel; }
    int get_interpolation() const { return _interpolation; }

    // Arrays that share the members' storage: writing their elements changes
    // the object. An array without storage gives an empty array.
    orv::MArray<double, 2> get_psf() const { return _psf; }
    orv::MArray<double, 2> get_epsf() const { return _epsf; }
    orv::MArray<double, 2> get_binned_psf() const { return _binned_psf; }
    orv::MArray<double, 2> get_ebinned_psf() const { return _ebinned_psf; }
    orv::MArray<double, 4> get_all_binned_psf() const { return _all_binned_psf; }
    orv::MArray<double, 4> get_all_ebinned_psf() const { return _all_ebinned_psf; }
    orv::MArray<double, 4> get_all_e2binned_psf() const { return _all_e2binned_psf; }

    // The tables take over t's storage and shape; nothing is copied or checked.
    void write_all_binned_psf(orv::MArray<double, 4> &t);
    void write_all_ebinned_psf(orv::MArray<double, 4> &t);
    void write_all_e2binned_psf(orv::MArray<double, 4> &t);

    // " psf-norm = " and the sum of _psf on standard output.
    void print_norm_psf();
    // Multiplies _psf and _epsf by f.
    void factor(double f);
    // Divides _psf and _epsf by the sum of _psf. A sum of 0 or one that is
    // not finite (a sample NaN or infinite) is reported on standard output
    // and leaves both unchanged.
    void normalize_psf();

    // ---- binning (psf_binning.cc) ----
    // Bins the sub-grid PSF shifted by (dx, dy) pixels into _binned_psf and
    // _ebinned_psf (errors added in quadrature). A pixel with any sample
    // outside the sub-grid, any sample exactly 0 or any error not above 0 is
    // 0 with error 0. The shift is rounded to whole sub-grid steps. Binned
    // arrays of another shape than −_analyt.._analyt are replaced by new ones.
    void binning(double dx, double dy);
    // Sets _subpixel = n and tabulates the binned PSF, its errors and their
    // squares for the shift indices −(n/2)..n/2 on both axes. n should be
    // odd (a message otherwise) and below _subgrid (a warning on standard
    // error otherwise; shifts then share sub-grid offsets). n < 1, and a
    // _subgrid below 1 or a negative _analyt left by the setters, are refused
    // with a message: _subpixel and the tables stay as they were. The second
    // argument has no effect.
    void calc_base(int n, int unused);

    // ---- files (psf_files.cc) ----
    // Pairs of FITS images (BITPIX −32): values, and errors under the same
    // name with "e." in front of the part after the last "/". An array with
    // indices −n..n is stored as 2n + 1 pixels, pixel 1 holding index −n.
    //
    // D + "psf_%4.4i_" (with _subgrid) + B, D the directory part of name and
    // B the rest; readfits_psf keeps the shape of _psf and crops or pads the
    // file around its centre.
    void writefits_psf(std::string name);
    void readfits_psf(std::string name);
    // Under the name itself; read_psf takes the size from the file and sets
    // _slen = (side)/2, copying what overlaps.
    void write_psf(std::string name);
    void read_psf(std::string name);
    // _binned_psf and _ebinned_psf under the name itself.
    void write_binned_psf(std::string name);
    // Every shift of the tables as name_SX_SY.fits, SX and SY the shift
    // indices as int2str(s, 3) (000-1, 000, 001, ...).
    void write_binned(std::string name);

    // ---- stars (psf_stars.cc) ----
    // A star of the given flux at (x, y) into an image and its error image,
    // from the shift tables (calc_base first). Pixels outside the image,
    // whose value equals blank or whose error equals eblank are left alone.
    // add_psf covers a disc of radius _analyt around the star; the error
    // grows by the table error times the flux, in quadrature. A flux or a
    // position that is not finite is refused with a message on standard
    // output; a star beyond any pixel index (|x| or |y| >= 1e9) changes
    // nothing.
    void add_psf(orv::MArray<float, 2> &image, orv::MArray<float, 2> &error, double x, double y,
                 double flux, double blank, double eblank, int verbose);
    // The same with the disc radius √(_analyt(_analyt − 1)), subtracting; the
    // error grows as in add_psf.
    void subtract_psf(orv::MArray<float, 2> &image, orv::MArray<float, 2> &error, double x,
                      double y, double flux, double blank, double eblank, int verbose);
    // add_psf with photon noise of variance value·gain per pixel from
    // rangau(seed); exactly (2·_analyt + 1)² deviates per call. A gain that
    // is not finite is refused like such a flux: image, error and seed stay
    // as they were.
    void add_psf_noise(orv::MArray<float, 2> &image, orv::MArray<float, 2> &error, double x,
                       double y, double flux, double gain, long &seed, double blank, double eblank,
                       int verbose);
    // Bins at the star's exact offset (overwriting _binned_psf) and adds it
    // in a disc around the nearest pixel; no blank test, no errors. A
    // position that is not finite or beyond any pixel index changes nothing
    // in the image.
    void add_psf_exact(orv::MArray<float, 2> &image, double x, double y, double flux, int verbose);

    // ---- synthetic PSFs (psf_generate.cc) ----
    // Fills _psf with an elliptical Gaussian or Moffat profile (widths in
    // pixels, θ in radians), normalised so that pixel (0, 0) of the binning
    // at shift 0 sums to 1, and _epsf with 1: errors that swamp every chi,
    // to be set to a small fraction of the PSF before chi maps or star
    // finding (README.md and bench/psftools/find_stars.cc show how). Above
    // verbosity 2 the binned PSF is written to "psftest00.fits" and fitted.
    // A sub-grid below 1, a FWHM that is not positive and finite, an angle
    // that is not finite or a β that is not positive and finite is refused
    // with a message; the PSF stays as it was.
    void generate_gauss(double fwhm_x, double fwhm_y, double theta, int verbose);
    void generate_moffat(double fwhm_x, double fwhm_y, double theta, double beta, int verbose);

    // ---- PSF-fit chi at a position (psf_chi.cc) ----
    // Fits the amplitude A of the tabulated PSF at the shift nearest to
    // (x, y) to the pixels within |radius| of (x, y) (strict), each weighted
    // by its error, and returns the normalised chi √(χ²/(n − 1)) with
    // χ² = Σ (A·p − I)² / (e² + A²·ep²), ep the table error. Fit pixels lie
    // inside both images, have an error above 0 and a table value not 0, at
    // offsets up to _analyt. A centre pixel that fails these tests, or tables
    // not yet computed, give amplitude 0, amplitude error 1e100 and 1e100.
    // The verbosity has no effect. No fit pixel at all gives −0 (amplitude
    // NaN), a single one +∞.
    double nchi_calc(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                     double x, double y, double &amplitude, double &amplitude_error, double radius,
                     int verbose) const;
    double nchi_calc(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                     double x, double y, double &amplitude, double radius, int verbose) const;
    double nchi_calc(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                     double x, double y, double radius, int verbose) const;
    // The same fit without the amplitude error; a failure returns 1e100 and
    // leaves the amplitude as it was.
    double nchi_calc_fast(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                          double x, double y, double &amplitude, double radius) const;

    // ---- chi maps (psf_maps.cc) ----
    // Each map operation gives its maps new zero-filled storage (index base
    // below) and fills them with nchi_calc at positions 1/_subpixel apart. A
    // position is evaluated only when its nearest pixel keeps
    // max(_boxlen, fit block) pixels from every image border. Positions of
    // one row that share a shift are fitted several at once with the vector
    // units, and the rows of the whole-image maps (and the passes of find)
    // run on all cores, OMP_NUM_THREADS of them when set: every cell gets
    // the numbers of nchi_calc, whatever the number of threads.
    //
    // Local grid around (x, y): indices sx − nx .. sx + nx by sy − ny ..
    // sy + ny (sx, sy the nearest shift of x, y); cell (i, j) is the position
    // (lrint(x) + i/_subpixel, lrint(y) + j/_subpixel). Cells in the margin
    // and failed fits hold nchi 1e100, amplitude 0, amplitude error 1e100.
    // Dots on standard output at verbosity 5 exactly.
    void mapping(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error, double x,
                 double y, orv::MArray<double, 2> &nchi, orv::MArray<double, 2> &amplitude,
                 orv::MArray<double, 2> &amplitude_error, int nx, int ny, double radius,
                 int verbose) const;
    void mapping(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error, double x,
                 double y, orv::MArray<double, 2> &nchi, orv::MArray<double, 2> &amplitude, int nx,
                 int ny, double radius, int verbose) const;
    // As mapping, without the amplitude error and without output.
    void mapping_fast(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                      double x, double y, orv::MArray<double, 2> &nchi,
                      orv::MArray<double, 2> &amplitude, int nx, int ny, double radius) const;
    // Sub-pixel grid of the whole image: indices 1 .. Lx·S by 1 .. Ly·S
    // (S = _subpixel, Lx, Ly the image lengths); cell (k, l) is the position
    // (Bx + (k − 1 − S/2)/S, By + (l − 1 − S/2)/S), Bx, By the index bases,
    // so pixel p owns cells S·(p − Bx) + 1 .. S·(p − Bx + 1). Cells in the
    // margin hold 0 in all three maps, failed fits nchi 1e100, amplitude 0
    // and amplitude error 1e100. The maps take 3·8·S² bytes per image pixel
    // (2.5 GB for a 2048² image at S = 5); the allocation is announced on
    // standard output. Dots at verbosity above 4.
    void mapping_full(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                      orv::MArray<double, 2> &nchi, orv::MArray<double, 2> &amplitude,
                      orv::MArray<double, 2> &amplitude_error, double radius, int verbose) const;
    // The same grid, evaluated only in the cells of the 3 × 3 pixels around
    // each star (xs(j), ys(j)), j = 1.. (as far as both lists go); the other
    // cells hold 0.
    void mapping_some(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                      orv::MArray<double, 2> &nchi, orv::MArray<double, 2> &amplitude,
                      orv::MArray<double, 2> &amplitude_error, const orv::MArray<int, 1> &xs,
                      const orv::MArray<int, 1> &ys, double radius, int verbose) const;

    // ---- best-source maps (psf_sources.cc) ----
    // Per image pixel, the cell of the sub-pixel chi maps with the smallest
    // nchi gives the pixel's best chi, amplitude and amplitude error (maps
    // with the image's index ranges). A pixel is a source when its best chi
    // is above 0, at most largest_chi and a local minimum, and
    // |amplitude| >= significance × amplitude error. Each source is printed on
    // out (verbosity above 0: number, x, y, the tag, amplitude, its error and
    // chi) and its tabulated PSF, scaled by the amplitude, is added to the
    // model image; finally the model is cleared where the image is 0 or not
    // finite or the error not above 0 (pixels off the border ring).
    //
    // Candidates (xs(i), ys(i)) only, from mapping_some; a candidate's best
    // chi must not exceed any of its eight neighbours'.
    void mapping_some_best_source(
        const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
        orv::MArray<double, 2> &best_chi, orv::MArray<double, 2> &best_amplitude,
        orv::MArray<double, 2> &best_amplitude_error, orv::MArray<double, 2> &model,
        const orv::MArray<int, 1> &xs, const orv::MArray<int, 1> &ys, double significance,
        double largest_chi, double radius, double tag, std::ostream &out, int verbose) const;
    // Every pixel, from the maps of mapping_full, computed and searched in
    // bands of rows (some megabytes) rather than whole. The best-chi map
    // carries −chi where a neighbour has a smaller positive best chi.
    void mapping_full_best_source(const orv::MArray<float, 2> &image,
                                  const orv::MArray<float, 2> &error,
                                  orv::MArray<double, 2> &best_chi,
                                  orv::MArray<double, 2> &best_amplitude,
                                  orv::MArray<double, 2> &best_amplitude_error,
                                  orv::MArray<double, 2> &model, double significance,
                                  double largest_chi, double radius, double tag, std::ostream &out,
                                  int verbose) const;

    // ---- position and flux measurement (psf_measure.cc) ----
    // Refines (x, y) to the minimum of a Gaussian fitted to the local chi map
    // (mapping, half-widths n) within P(P + 1), P = n/2, cells of its lowest
    // cell; flux and flux error are the amplitude and its error at the map
    // cell nearest to that minimum. Returns 0, or 1 with nothing changed when
    // the star lies within _analyt + 2 pixels of the border, fewer than 7
    // cells with a chi value surround the minimum, the fit fails or
    // degenerates, or it moves the star more than 0.75·n/_subpixel pixel. Above verbosity 2 the
    // maps go to "nchi_NNNNN.fits" and "flux_NNNNN.fits" (NNNNN the number).
    int measure_pos(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                    double &x, double &y, double &flux, double &flux_error, double radius, int n,
                    int number, int verbose) const;
    int measure_pos(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                    double &x, double &y, double radius, int n, int number, int verbose) const;
    // Every star i = 1.. of the lists (as far as all of them go), numbered i;
    // stars that fail keep their values. Returns 0.
    int measure_pos(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                    orv::MArray<double, 1> &x, orv::MArray<double, 1> &y,
                    orv::MArray<double, 1> &flux, orv::MArray<double, 1> &flux_error, double radius,
                    int n, int verbose) const;
    int measure_pos(const orv::MArray<float, 2> &image, const orv::MArray<float, 2> &error,
                    orv::MArray<double, 1> &x, orv::MArray<double, 1> &y, double radius, int n,
                    int verbose) const;
    // The amplitude fit of nchi_calc with the PSF binned at the exact offset
    // of (x, y) (overwriting _binned_psf and _ebinned_psf), within
    // min(_boxlen, _analyt) pixels. A star within _boxlen + 2 pixels of the
    // border, a failed centre pixel, a radius that is not finite or a circle
    // that holds no usable pixel (a radius below about 0.71) gives flux 0,
    // flux error −1 and nchi 1e100; a single fit pixel gives nchi +∞, the
    // flux and its error of that pixel. Above verbosity 3 the binned PSF
    // goes to "shifted_psf_NNNNN.fits" and the image stamp to
    // "object_psf_NNNNN.fits".
    void measure_flux(orv::MArray<float, 2> image, orv::MArray<float, 2> error, double x, double y,
                      double radius, double &flux, double &flux_error, double &nchi, int number,
                      int verbose);

    // ---- star finding (psf_find.cc) ----
    // Stars from the sub-pixel chi maps (mapping_full): the chi map smoothed
    // by the mean of the valued cells of the 13-cell diamond around each
    // cell, strict local minima of the smoothed map (neighbours without a
    // value ignored) with nchi <= largest_chi and
    // amplitude >= significance × amplitude error. The lists get one entry
    // per star, in grid order: the pixel owning the cell and the amplitude.
    // The maps are computed, smoothed and searched in bands of rows (some
    // megabytes), except above verbosity 0, where they go whole to FITS
    // files "nchi_binned_", "nchi_", "flux_", "error_", "min_" and "star_" +
    // name + ".fits".
    //
    // The fit has no sky term: subtract the image's sky first. Stars within
    // _boxlen pixels of the border are not found (pad the image with pixels
    // of error 0 to reach them). A star wider than a few cells gives several
    // minima, each reported: merge them (psftools/README.md has the figures
    // and the settings that follow a star's FWHM). An image without pixels
    // gives no stars.
    //
    // Refused with a message on standard output, leaving the three lists
    // empty: a significance that is negative or not finite (a negative one
    // passes every minimum), a largest chi that is not above 0 (no chi
    // passes; +inf is no limit), a radius that is not finite or whose size is 0.5 or
    // less (no position has the two fit pixels a chi needs; the sign is
    // ignored), and a psf without shift tables (calc_base first).
    void find(orv::MArray<float, 2> image, orv::MArray<float, 2> error, orv::MArray<double, 1> &x,
              orv::MArray<double, 1> &y, orv::MArray<double, 1> &amplitude, double significance,
              double largest_chi, double radius, std::string name, int verbose) const;

    // ---- star-stamp fits (psf_stamp_fits.cc) ----
    // Fits an elliptical Moffat profile on a tilted plane to the usable
    // pixels (value not 0 and finite, error above 0) of a stamp within a
    // circle of radius (columns − 1)/2 around (x, y); stamp indices are the
    // coordinates. 12345 as background or slope means "fit it"; any other
    // value fixes it; equal β limits fix β. x and y become their offsets from
    // their nearest integers at once; on status 0 they, the background, the
    // slopes, the amplitude, the inverse widths p and q, the angle (radians,
    // [−π/4, π/4]) and β receive the fit. rms_dof is always written.
    // Status: 0 accepted, −2 fewer than 10 usable pixels, −3 a FWHM outside
    // the limits or no fit, −4 β outside its limits, −5 centre outside the
    // stamp, −6 amplitude not significant. Instantiated for float and double.
    template <class T>
    static int fmoffat(const orv::MArray<T, 2> &stamp, const orv::MArray<T, 2> &estamp,
                       double &background, double &slope_x, double &slope_y, double beta_low,
                       double beta_high, double fwhm_low, double fwhm_high, double &x, double &y,
                       double &amplitude, double &p, double &q, double &angle, double &beta,
                       double &rms_dof, int verbose);
    // Fits an elliptical Gaussian on a constant within the circle (strict);
    // background 12345 means "fit it". x and y become their offsets at once,
    // as in fmoffat; on status 0 the amplitude and the centre (stamp
    // coordinates) receive the fit. Status 0, or −1 for fewer than 10
    // usable pixels or no fit. Instantiated for double.
    template <class T>
    static int fgauss(const orv::MArray<T, 2> &stamp, const orv::MArray<T, 2> &estamp, double &x,
                      double &y, double &amplitude, double background, int verbose);

    // ---- sub-grid distribution of star pixels (psf_distribute.cc) ----
    // Inverts, in M (indices 1..n² in both dimensions, n = 2L + 1), the
    // conditions on the local polynomial of radius L: its integral over the
    // pixel (row 1) and its values at the centres of the neighbours within L
    // (dy outer, dx inner, (0, 0) left out). Coefficient l·n + m + 1 belongs
    // to u^m·v^l, u along x and v along y, the pixel covering [0, 1]². A
    // singular matrix prints " error in gaussj". Returns 0.
    static int erzeuge_M(orv::MArray<double, 2> &M, int L);
    // Spreads a star stamp (background removed; 0 is blank; error −1 on a
    // blank pixel masks it; a value or an error that is not finite makes
    // both) onto the sub-grid window that psf_out's index ranges define,
    // conserving each pixel's flux: every pixel becomes the local polynomial
    // of the largest radius up to _interpolation whose neighbourhood holds
    // no blank, integrated over (5·_subgrid)² sub-cells; each sub-cell goes
    // whole to the sub-grid point nearest to its centre after the map
    // (x, y) → (t[1]x + t[2]y + t[5], t[3]x + t[4]y + t[6]).
    // psf_out then holds the flux per sub-grid cell, epsf_out its 1σ error
    // (the pixel errors spread as variances); points no sub-cell reaches
    // hold 0, points that a masked pixel reaches 0 and −1. Above verbosity 3
    // it prints diagnostics and writes the coverage to "count.fits", and
    // leaves standard output at precision 20. The tables of the polynomials
    // are made once per _subgrid and _interpolation. Instantiated for float.
    template <class T>
    void divvy(const orv::MArray<T, 2> &data, const orv::MArray<T, 2> &error,
               orv::MArray<double, 2> &psf_out, orv::MArray<double, 2> &epsf_out,
               const double *transform, int verbose) const;

    // ---- construction from standard stars (psf_construct.cc) ----
    // Builds _psf and _epsf from the stars at (x(j), y(j)), j = 1..n (n the
    // length of x; every star array covers 1..n): per star the sky plane
    // sky + sky_x·i + sky_y·k is subtracted from the stamp of half-size
    // _analyt, which divvy spreads onto the sub-grid at the star's offset
    // from its nearest pixel; the results are summed. With fit set, a Moffat
    // profile is first fitted to the stamp of half-size _boxlen (12345 in a
    // sky entry: fit that term; fitted terms are written back); a failed fit
    // keeps the given plane, and a star whose plane is still unknown then is
    // left out. A star of weight 0 is always used; any other star only when
    // fewer than a tenth of its stamp is blank and its centre is not, and the
    // sum is scaled by all weights over the weights used. A sub-grid point
    // where a used star has no data ends 0. Pixels outside the image and
    // pixels whose value or error is not finite are blank and masked. With
    // _boxlen < _analyt, the points beyond _boxlen pixels take a Moffat
    // profile fitted to the inner part (none if that fit fails). Above
    // verbosity 2: a table of the fits, "psftest00.fits" (the PSF binned at
    // shift 0) and its fit; above 7 the stamp files.
    void create_psf(orv::MArray<float, 2> image, orv::MArray<float, 2> error,
                    orv::MArray<double, 1> x, orv::MArray<double, 1> y, orv::MArray<double, 1> sky,
                    orv::MArray<double, 1> sky_x, orv::MArray<double, 1> sky_y,
                    orv::MArray<double, 1> weight, double beta_min, double beta_max,
                    double fwhm_min, double fwhm_max, bool fit, int verbose);
    // Every weight 0.
    void create_psf(orv::MArray<float, 2> image, orv::MArray<float, 2> error,
                    orv::MArray<double, 1> x, orv::MArray<double, 1> y, orv::MArray<double, 1> sky,
                    orv::MArray<double, 1> sky_x, orv::MArray<double, 1> sky_y, double beta_min,
                    double beta_max, double fwhm_min, double fwhm_max, bool fit, int verbose);
    // One sky plane for every star, every weight 0.
    void create_psf(orv::MArray<float, 2> image, orv::MArray<float, 2> error,
                    orv::MArray<double, 1> x, orv::MArray<double, 1> y, double sky, double sky_x,
                    double sky_y, double beta_min, double beta_max, double fwhm_min,
                    double fwhm_max, bool fit, int verbose);

private:
    int _boxlen;                  // half-size of the star box of construction, maps and finding
    int _analyt;                  // half-size of the binned PSF
    int _subgrid;                 // sub-grid points per pixel and axis
    int _subpixel;                // tabulated shifts per axis
    int _interpolation;           // largest neighbourhood radius of the sub-grid spreading
    int _slen;                    // half-size of the sub-grid PSF
    orv::MArray<double, 2> _psf;  // (x, y), −_slen.._slen
    orv::MArray<double, 2> _epsf; // its 1σ errors
    orv::MArray<double, 2> _binned_psf;       // −_analyt.._analyt, last binning
    orv::MArray<double, 2> _ebinned_psf;      // its errors
    orv::MArray<double, 4> _all_binned_psf;   // (sx, sy, i, j)
    orv::MArray<double, 4> _all_ebinned_psf;  // errors
    orv::MArray<double, 4> _all_e2binned_psf; // squared errors

    // The polynomial tables of divvy for one _subgrid and _interpolation.
    struct DivvyTables;
    mutable std::shared_ptr<const DivvyTables> _divvy_tables;
};

// The Moffat stamp fit of psf::fmoffat for float stamps with single-precision
// arguments (the position and the circle in single precision, the fit in
// double precision).
int fmoffat(const orv::MArray<float, 2> &stamp, const orv::MArray<float, 2> &estamp,
            float &background, float &slope_x, float &slope_y, float beta_low, float beta_high,
            float fwhm_low, double fwhm_high, float &x, float &y, float &amplitude, float &p,
            float &q, float &angle, float &beta, float &rms_dof, int verbose);

// Index lists of stars (indices of v): idx(k) is set for every index k of v
// (idx must hold them), the entries whose value equals marker go to the end
// and the others are sorted by increasing value. An empty v or an idx too
// short is refused with a message.
void sortpos(orv::MArray<double, 1> &v, orv::MArray<int, 1> &idx, double marker);
// The same, with the entries whose mark is below 0 going to the end.
void sortpos_marker(const orv::MArray<double, 1> &v, const orv::MArray<int, 1> &marks,
                    orv::MArray<int, 1> &idx);

#endif
