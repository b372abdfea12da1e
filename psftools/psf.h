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

#include <string>

#include "orv/MArray.h"

class psf {
public:
    // Every size 0, every array without storage.
    psf();
    // _slen = analyt·subgrid + subgrid/2; the sub-grid arrays get indices
    // −_slen.._slen, the binned ones −analyt..analyt, all zero. The shift
    // tables stay empty until calc_base. _subpixel starts at 0.
    psf(int boxlen, int analyt, int subgrid, int interpolation);
    ~psf();

    // Setters: no checks, no reshaping. set_analyt and set_subgrid recompute
    // _slen; the arrays keep their shapes until rebuilt by the caller.
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
    void write_all_binned_psf(orv::MArray<double, 4>& t);
    void write_all_ebinned_psf(orv::MArray<double, 4>& t);
    void write_all_e2binned_psf(orv::MArray<double, 4>& t);

    // " psf-norm = " and the sum of _psf on standard output.
    void print_norm_psf();
    // Multiplies _psf and _epsf by f.
    void factor(double f);
    // Divides _psf and _epsf by the sum of _psf. A sum of 0 is reported on
    // standard output and leaves both unchanged.
    void normalize_psf();

    // ---- binning (psf_binning.cc) ----
    // Bins the sub-grid PSF shifted by (dx, dy) pixels into _binned_psf and
    // _ebinned_psf (errors added in quadrature). A pixel with any sample
    // outside the sub-grid, any sample exactly 0 or any error not above 0 is
    // 0 with error 0. The shift is rounded to whole sub-grid steps.
    void binning(double dx, double dy);
    // Sets _subpixel = n and tabulates the binned PSF, its errors and their
    // squares for the shift indices −(n/2)..n/2 on both axes. n should be
    // odd (a message otherwise) and below _subgrid (a warning otherwise);
    // n < 1 is refused with a message. The second argument has no effect.
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
    // grows by the table error times the flux, in quadrature.
    void add_psf(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, double x, double y, double flux,
                 double blank, double eblank, int verbose);
    // The same with the disc radius √(_analyt(_analyt − 1)), subtracting; the
    // error grows as in add_psf.
    void subtract_psf(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, double x, double y, double flux,
                      double blank, double eblank, int verbose);
    // add_psf with photon noise of variance value·gain per pixel from
    // rangau(seed); exactly (2·_analyt + 1)² deviates per call.
    void add_psf_noise(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, double x, double y, double flux,
                       double gain, long& seed, double blank, double eblank, int verbose);
    // Bins at the star's exact offset (overwriting _binned_psf) and adds it
    // in a disc around the nearest pixel; no blank test, no errors.
    void add_psf_exact(orv::MArray<float, 2>& image, double x, double y, double flux, int verbose);

    // ---- synthetic PSFs (psf_generate.cc) ----
    // Fills _psf with an elliptical Gaussian or Moffat profile (widths in
    // pixels, θ in radians), normalised so that pixel (0, 0) of the binning
    // at shift 0 sums to 1, and _epsf with 1. Above verbosity 2 the binned
    // PSF is written to "psftest00.fits" and fitted.
    void generate_gauss(double fwhm_x, double fwhm_y, double theta, int verbose);
    void generate_moffat(double fwhm_x, double fwhm_y, double theta, double beta, int verbose);

    // ---- star-stamp fits (psf_stamp_fits.cc) ----
    // Fits an elliptical Moffat profile on a tilted plane to the usable
    // pixels (value not 0, error above 0) of a stamp within a circle of
    // radius (columns − 1)/2 around (x, y); stamp indices are the
    // coordinates. 12345 as background or slope means "fit it"; any other
    // value fixes it; equal β limits fix β. x and y become their offsets from
    // their nearest integers at once; on status 0 they, the background, the
    // slopes, the amplitude, the inverse widths p and q, the angle (radians,
    // [−π/4, π/4]) and β receive the fit. rms_dof is always written.
    // Status: 0 accepted, −2 fewer than 10 usable pixels, −3 a FWHM outside
    // the limits or no fit, −4 β outside its limits, −5 centre outside the
    // stamp, −6 amplitude not significant. Instantiated for float and double.
    template <class T>
    static int fmoffat(const orv::MArray<T, 2>& stamp, const orv::MArray<T, 2>& estamp, double& background,
                       double& slope_x, double& slope_y, double beta_low, double beta_high, double fwhm_low,
                       double fwhm_high, double& x, double& y, double& amplitude, double& p, double& q,
                       double& angle, double& beta, double& rms_dof, int verbose);
    // Fits an elliptical Gaussian on a constant within the circle (strict);
    // background 12345 means "fit it". Writes the amplitude and the centre
    // (stamp coordinates) in every case. Status 0, or −1 for fewer than 10
    // usable pixels or no fit. Instantiated for double.
    template <class T>
    static int fgauss(const orv::MArray<T, 2>& stamp, const orv::MArray<T, 2>& estamp, double& x, double& y,
                      double& amplitude, double background, int verbose);

private:
    int _boxlen;         // half-size of the star box of construction, maps and finding
    int _analyt;         // half-size of the binned PSF
    int _subgrid;        // sub-grid points per pixel and axis
    int _subpixel;       // tabulated shifts per axis
    int _interpolation;  // largest neighbourhood radius of the sub-grid spreading
    int _slen;           // half-size of the sub-grid PSF
    orv::MArray<double, 2> _psf;          // (x, y), −_slen.._slen
    orv::MArray<double, 2> _epsf;         // its 1σ errors
    orv::MArray<double, 2> _binned_psf;   // −_analyt.._analyt, last binning
    orv::MArray<double, 2> _ebinned_psf;  // its errors
    orv::MArray<double, 4> _all_binned_psf;    // (sx, sy, i, j)
    orv::MArray<double, 4> _all_ebinned_psf;   // errors
    orv::MArray<double, 4> _all_e2binned_psf;  // squared errors
};

// The Moffat stamp fit of psf::fmoffat for float stamps with single-precision
// arguments (the position and the circle in single precision, the fit in
// double precision).
int fmoffat(const orv::MArray<float, 2>& stamp, const orv::MArray<float, 2>& estamp, float& background,
            float& slope_x, float& slope_y, float beta_low, float beta_high, float fwhm_low, double fwhm_high,
            float& x, float& y, float& amplitude, float& p, float& q, float& angle, float& beta, float& rms_dof,
            int verbose);

#endif
