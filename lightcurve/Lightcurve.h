// Lightcurve: the time series of one star (time, flux or magnitude, error
// and per-point extras) together with what the toolbox derives from it: the
// folded light curve, the box-search results, the flux with its transits
// removed, a noise-free model and the parameters of a simulated transit.
//
// Arrays are orv::MArray with indices from 1 and share storage like all
// orv::MArray copies: a light curve built from arrays works on the caller's
// elements, and the arrays its accessors return give write access to the
// light curve's own. Misuse prints a one-line message on standard output and
// leaves the light curve unchanged.
//
// A point counts when its time and flux are finite (not NaN, not an
// infinity) and its error weighs it: 1/error^2 is a finite number above 0,
// which an error of 0 or less, or one below about 1e-154 or above about
// 1e154, is not. A point that does not count enters no sum, mean, median,
// weight, fold epoch, search, red-noise window, transit count or noise
// level: every other point ends as it would on the light curve without that
// point (Gaussian noise still takes one draw for every point or time given).
// The clippings remove such points (and count them); the other
// operations keep them (with weight 0). A light curve without noise, whose
// errors are 0 wherever they do not weigh (as a simulation at noise level 0
// makes them), is measured all the same: its points of error 0 count and
// weigh alike.
//
// The operations are grouped by topic; each group is defined in a source
// file of its own (named at the group), so that further groups add their
// declarations here and their definitions beside the others.
#ifndef LIGHTCURVE_LIGHTCURVE_H
#define LIGHTCURVE_LIGHTCURVE_H

#include <string>
#include <vector>

#include "orv/MArray.h"

class Lightcurve {
public:
    // ---- construction (Lightcurve.cc) ---------------------------------------
    // Arrays of any index base are renumbered from 1 (still sharing the
    // caller's storage). Arrays of unequal length are refused with "vectors
    // have different lengths!": the light curve then holds no data.

    // No data.
    Lightcurve();
    // Times, fluxes and errors; nchi 0 and every file name
    // "no file information".
    Lightcurve(orv::MArray<double, 1> jd, orv::MArray<double, 1> flux,
               orv::MArray<double, 1> error);
    // With per-point chi values.
    Lightcurve(orv::MArray<double, 1> jd, orv::MArray<double, 1> flux, orv::MArray<double, 1> error,
               orv::MArray<double, 1> nchi);
    // With the name of each point's source file (nchi 0).
    Lightcurve(orv::MArray<double, 1> jd, orv::MArray<double, 1> flux, orv::MArray<double, 1> error,
               orv::MArray<std::string, 1> filename);
    // With both.
    Lightcurve(orv::MArray<double, 1> jd, orv::MArray<double, 1> flux, orv::MArray<double, 1> error,
               orv::MArray<double, 1> nchi, orv::MArray<std::string, 1> filename);

    // Copies share the arrays, assignment as well as construction (an
    // orv::MArray assignment would copy elements into the existing storage).
    Lightcurve(const Lightcurve &) = default;
    Lightcurve &operator=(const Lightcurve &other);

    // ---- accessors (Lightcurve.cc) ------------------------------------------
    // Indexed getters refuse an index outside their array with
    // "error: number(i) out of range (1,n)!" and return -1.

    int getLength() const;
    double getPeriod() const;
    double getTau() const;
    double getT0() const;
    double getSNR() const;
    double getDrop() const;
    bool isFolded() const;
    bool isWeighted() const;
    bool isBoxfitted() const;

    // Box-search results of peak i (1..10).
    double getSDE(int i) const;
    double getPeriod_box(int i) const;
    // (out-of-transit level - in-transit level) / out-of-transit level; -1
    // with "no boxed-lightcurve available!" before a box search.
    double getDrop_box(int i) const;
    double getT0_box(int i) const;
    double getTau_box(int i) const;

    // Points inside each transit of a simulation.
    int getPoints_per_transit(int i) const;
    // Points inside transits; -1 while not counted.
    int getNumber_transit_points() const;
    // The same, with "number of points in-transit not available!" while not
    // counted.
    int getNumber_transit_box() const;
    // Number of transits; 0 with "number of transits not available!" while
    // not counted. The two are the same.
    int getNumber_transits() const;
    int getNumber_box() const;

    orv::MArray<double, 1> getJD() const;
    orv::MArray<double, 1> getFlux() const;
    orv::MArray<double, 1> getError() const;
    orv::MArray<double, 1> getNchi() const;
    orv::MArray<double, 1> getBoxval() const;
    orv::MArray<double, 1> getPhase() const;
    orv::MArray<double, 1> getPhased_Flux() const;
    orv::MArray<double, 1> getPhased_Error() const;
    orv::MArray<double, 1> getPhased_Nchi() const;
    orv::MArray<double, 1> getPhased_Boxval() const;
    orv::MArray<double, 1> getSDE() const;
    orv::MArray<double, 1> getPeriod_box() const;
    orv::MArray<std::string, 1> getFilename() const;
    orv::MArray<std::string, 1> getPhased_Filename() const;
    orv::MArray<int, 1> getPoints_per_transit() const;

    // ---- editing and normalisation (editing.cc) ------------------------------
    // All work on points 1..getLength(). Magnitudes are -2.5 log10(flux).

    // Dilutes an analytic transit in fluxes: every flux f below 1 becomes
    // f + c (1 - f).
    void blend(double c);
    // Multiplies fluxes by s and errors by |s|.
    void scale(double s);
    // Multiplies each error by its nchi.
    void nchi_scale();
    // weights = (1/error^2) / sum of all 1/error^2 over the points that
    // count (1 / their number without noise); 0 for the others.
    void calc_weights();
    // Subtracts the weighted mean flux and keeps it; needs calc_weights.
    void renorm();
    // Adds the kept mean back, also to the box search's flux levels.
    void upscale();
    // Adds x to the flux of point n.
    void manipulate(int n, double x);
    // Removes point n (the last one for n beyond the end); later points move
    // down by one.
    void remove_point(int n);
    // Orders the points by time; points of equal time keep their order,
    // points without a time (NaN) their places.
    void sort();
    // Divides fluxes and errors by the median flux (of the points that count;
    // refused without one).
    void normalize();
    // The same, refused for magnitudes.
    void normalize_flux();
    // Magnitudes to fluxes, then normalize_flux (median flux 1).
    void convert2flux();
    // Fluxes to magnitudes whose median (over the points that count with a
    // flux above 0; refused without one) is the zero point z.
    void convert2mag(double z);

    // ---- folding and phase binning (folding.cc) -------------------------------
    // A fold at period P and epoch T puts T + kP at phase 0.5 and every time
    // into [0, 1); an epoch of exactly 0 stands for the time of the first
    // point that counts plus P/2, which puts that point at phase 0. The fold
    // keeps P and the epoch used as the light curve's period and t0 and holds
    // every per-point array in phase order (points of equal phase in their
    // order, points without a finite time, which have no phase, last) as new
    // phased arrays. Refused without points, with a period that is not
    // positive and finite or an epoch that is not finite, and for the epoch 0
    // without a point that counts (the earlier fold stays).

    void fold_quick(double P, double T);
    void fold_quick(double P);
    // At the light curve's own period and t0.
    void fold_quick();
    // The same as fold_quick.
    void fold(double P, double T);
    void fold(double P);
    void fold();
    // Replaces the folded light curve (phases, fluxes, errors) by its means in
    // N equal phase bins, each entry that counts weighted by 1/error^2; the
    // error of a bin is 1/sqrt(sum of the weights) (0 without noise). Bins
    // without weight are dropped. The other phased arrays keep their
    // per-point content.
    void binning_phased(int N);
    // phased_weights = (1/phased_error^2) / sum of all 1/phased_error^2 over
    // the entries that count; 0 for the others.
    void calc_phased_weights();

    // ---- box-shaped transit search (boxsearch.cc) -----------------------------
    // Searches nf trial frequencies evenly spaced from 1/plong to 1/pshort for
    // periodic box-shaped dips whose width, a fraction of the period, lies in
    // [qmin, qmax]. At each frequency the light curve is folded (and binned
    // into nbins phase bins, 0 for none) and every run of consecutive entries,
    // or its complement through phase 0, is scored by its signal residue. The
    // ten strongest frequencies more than five steps apart become the peaks
    // 1..10 with their period, epoch of mid-transit, width, flux levels and
    // signal detection efficiency (0 when the spectrum is flat to within
    // rounding); slots without a peak read 0. The fluxes keep their values;
    // the light curve is left weighted and folded (and binned) at the last
    // trial frequency with its mean flux subtracted.
    //
    // Refused, with a message and the results of an earlier search kept,
    // without points, with nf < 1, with periods that are not positive and
    // finite, unless 0 <= qmin <= qmax < 1, with qmin = qmax > 0 (a box width
    // is a difference of phases, which one value is essentially never), with
    // nbins negative or 1, and without a point that counts. A search in which
    // no box qualified at any trial frequency says so on standard output.
    void boxfitting(int nf, double pshort, double plong, double qmin, double qmax, int nbins);
    // Transits of peak c with at least K points within half a box width of
    // their middle; -1 without a search.
    int getNumber_box(int c, int K) const;
    // Points inside the box of peak c (folds at the peak); -1 without a
    // search.
    int getNumber_transit_box(int c);
    // Mean squared normalised residual of the box model of peak c (folds at
    // the peak); -1 without a search.
    double getNchi_box(int c);
    // Relative depth of peak c over the error of the mean in-transit flux; -1
    // without a search or without a point in transit.
    double getSNR_box(int c) const;
    // Scatter of the flux without transits around 1; -1 without it or with
    // fewer than two points.
    double getRms_removed() const;

    // ---- transit masking and clipping (clipping.cc) ---------------------------
    // Each removes points; the others keep their order and their weights.
    // Refused without points; the clippings also refuse a kappa that is not
    // positive (returning 0).

    // Removes the points whose phase in a fold at period P and epoch T (used
    // as it is, 0 included) lies within 0.4999 - q/2 .. 0.5001 + q/2; the
    // arrays become new ones. Refuses, as fold does, a period that is not
    // positive and finite and an epoch that is not finite, and a width that
    // is not finite or is negative ("error: box width must be finite and not
    // negative!"); a width of 1 or more removes every point.
    void maskTransit(double P, double T, double q);
    // Removes the points whose flux lies kappa standard deviations or more
    // from the median flux, prints the median and the standard deviation
    // (both of the points that count), then weighs the rest and subtracts
    // their weighted mean (calc_weights, renorm). Points that do not count are
    // removed too. Returns the number removed.
    int clipping(double kappa);
    // The same for errors kappa root-mean-square deviations or more above the
    // median error.
    int error_clipping(double kappa);

private:
    // The clipping of the fluxes, or of the errors when errors is set.
    int clipAbout(bool errors, double kappa);

public:
    // ---- red-noise analysis (rednoise.cc) -----------------------------------
    // The scatter of the means of k neighbouring points against the white-
    // noise expectation rms/sqrt(k), k = 1, 2, ... Each needs at least two
    // points in ascending time, and takes the points that count alone, as if
    // the light curve had no others.

    // Windows of time width W sliding along the light curve in steps of a
    // fifth of the smallest time step. Row k: k, the scatter of the means of
    // the windows of k points about the median flux, rms/sqrt(k) (both
    // divided by the median) and the number of such windows; rows of sizes
    // with fewer than two windows hold 0. Prints the median and rms/median.
    // A window that would need 2^62 steps or more to pass the light curve is
    // refused with "error: too many window steps!".
    orv::MArray<double, 2> analyze_rednoise2(double W) const;
    // The windows of all pairs of points whose time distance lies in each of
    // N lag intervals up to L. Row i: the mean red-noise amplitude
    // sqrt(scatter^2 - rms^2/k) over the sizes k with at least M windows (and
    // a positive amplitude), divided by the median flux, and the number of
    // those sizes. Prints a line per size and per interval and leaves the
    // precision of standard output at 10.
    orv::MArray<double, 2> analyze_rednoise(double L, int N, int M) const;
    // Windows of at most the time span D over the flux without transits: per
    // size k, the mean and scatter of the window means against the white-
    // noise expectation error[1]/sqrt(k) (of the first point; points without
    // a finite flux without transits are left out too), printed (leaving the
    // precision of standard output at 3) and, as 2k and the red-noise
    // amplitude, written to "corrspec.tbl" (a file that cannot be written is
    // reported on standard error).
    void analyse_rednoise(double D) const;

    // ---- simulated light curves and added noise (simulation.cc) -------------
    // The random numbers come from ran3 and rangau through the seed; a
    // negative seed restarts their sequence, so a simulation started with it
    // repeats. A simulation replaces the data (times are copied) and forgets
    // whatever was derived from the old data: folds, weights, box-search
    // results, transit counts and the kept mean. There is one draw per time
    // given; the noise is the mean noise level (error) of the points that
    // count, and only those are counted in transits. Fewer noise levels than
    // times are refused with "error: fewer noise levels than times!".

    // Flux 1 plus Gaussian noise of level sigma[i] at each time t[i], minus
    // depth in the box-shaped transits of width q (a fraction of the period)
    // around the epoch t0 and its repetitions; removed_flux keeps the noisy
    // flux without transits and nonoise_flux the noise-free model. Counts the
    // points in transit and the transits.
    void simulate(double period, double t0, double q, double depth, orv::MArray<double, 1> t,
                  orv::MArray<double, 1> sigma, long &seed);
    // The same with one noise level of percent per cent for every point.
    void simulate(double period, double t0, double q, double depth, orv::MArray<double, 1> t,
                  double percent, long &seed);
    // The same at n times drawn uniformly over the first `periods` periods
    // after time 0, in ascending order.
    void simulate(double period, double t0, double q, double depth, double percent, int periods,
                  int n, long &seed);
    // Flux 1 plus Gaussian noise of level sigma[i] at each time t[i]; no
    // transits, so removed_flux and nonoise_flux are not valid.
    void simulate_noise(orv::MArray<double, 1> t, orv::MArray<double, 1> sigma, long &seed);
    // The same with the level sigma (not in per cent) for every point.
    void simulate_noise(orv::MArray<double, 1> t, double sigma, long &seed);
    // Adds Gaussian noise of level s to every flux; errors e become
    // sqrt(e^2 + s^2).
    void add_whitenoise(double s, long &seed);
    // Adds sum_j amplitude[j] sin(omega[j] jd + phase[j]) to every flux (and to
    // removed_flux while it is valid). A phase of 0 is drawn at random, and
    // drawn again for every observing segment: a new one begins after a gap of
    // more than 0.25 or once the current one has lasted 1 (times in days: a
    // night), both among the points that count. Fewer frequencies or phases
    // than amplitudes are refused with "error: fewer frequencies or phases
    // than amplitudes!".
    void add_rednoise(orv::MArray<double, 1> amplitude, orv::MArray<double, 1> omega,
                      orv::MArray<double, 1> phase, long &seed);

    // ---- analytic transit (analytical.cc) -----------------------------------
    // A planet of r_planet Jupiter radii on a circular orbit of the period
    // (days) and inclination (degrees, 90 edge-on) around a star of m_star
    // solar masses and r_star solar radii, in mid-transit at t0 (days, on the
    // scale of jd); quadratic limb darkening
    // I(mu) = 1 - gamma1 (1 - mu) - gamma2 (1 - mu)^2.

    // Adds the transit to flux (removed_flux keeps the flux before the call,
    // nonoise_flux is no longer valid), then weights, folds at the period and
    // t0, and sets tau (transit duration over the period; NaN when the
    // planet's centre misses the disc), drop (the squared radius ratio), the
    // points in transit, the transits with the points of each, and snr. An
    // epoch of 0 is a mid-transit like any other (not the fold's default
    // epoch). small_planet selects the small-planet approximation (warned
    // about beyond a radius ratio of 0.1) instead of the exact formulas. The
    // seed is not used.
    void add_analytical(double period, double t0, double inclination, double m_star, double r_star,
                        double r_planet, double gamma1, double gamma2, bool small_planet,
                        long &seed);

    // ---- analytic transit simulation (analytical_simulation.cc) -------------
    // Replaces the data by flux 1 plus Gaussian noise of level error[i] at the
    // times t[i] (one rangau draw per point, in order) with the analytic
    // transit added, keeping the noisy flux without transit in removed_flux
    // and the noise-free model in nonoise_flux. Then weights, folds the
    // renormalised flux at the period and t0, and sets tau, drop, the transit
    // counts and snr as add_analytical does. Like the other simulations it
    // forgets results derived from the old data and refuses fewer errors than
    // times.
    void simulate_analytical(double period, double t0, double inclination, double m_star,
                             double r_star, double r_planet, double gamma1, double gamma2,
                             orv::MArray<double, 1> t, orv::MArray<double, 1> error,
                             bool small_planet, long &seed);
    // The same with one error for every point.
    void simulate_analytical(double period, double t0, double inclination, double m_star,
                             double r_star, double r_planet, double gamma1, double gamma2,
                             orv::MArray<double, 1> t, double error, bool small_planet, long &seed);

    // ---- ASCII and raw files (files.cc) --------------------------------------
    // A reader replaces the light curve by the one in the file: every per-
    // point array is new (storage shared with a caller's arrays is released,
    // not overwritten) and whatever was derived from the old data is gone,
    // as after a constructor. The magnitude switch declares that the file
    // holds magnitudes; the name is kept as the source file. A file that
    // cannot be read leaves the light curve without data.
    //
    // Writers replace the file; they refuse with a message on standard
    // output when the light curve lacks what they write, and report on
    // standard error a file that cannot be created or written. Numbers are
    // written as printf's %W.Pg, W and P given per column; a writer's
    // magnitude switch converts on output through flux2mag.

    // A text table of white-space separated columns, "#" starting a comment:
    // time, flux and error in columns 1 to 3, nchi, boxval and file names in
    // the columns given (0: absent; nchi and boxval then 0, every file name
    // "no file information"). Without a third column in any line the errors
    // are 1. The non-finite values that write writes (nan, inf, -inf, in any
    // case) are read as such. A line lacking a column (blanks or a CR after
    // the last column are no column; the message names the line, counted in
    // the file, and the column), a column number below 0, or a value that is
    // no number as a whole (1.5abc, the Fortran 1.01D2), raises
    // orv::IOException, as does a file that cannot be opened or a folder.
    // noise becomes the scatter of the fluxes of the points that count about
    // their median.
    void read(std::string file, bool magnitudes, int nchi_column, int boxval_column,
              int filename_column);
    // Raw records of time, flux and error as three doubles (24 bytes) or
    // three floats (12 bytes) in host byte order; a trailing partial record
    // is ignored. nchi and boxval become 0, every file name
    // "no file information".
    void read_binary(std::string file, bool magnitudes);
    void read_binary_float(std::string file, bool magnitudes);
    // Rows of time (%16.14g), flux and error (%10.8g), then the nchi and
    // boxval (%10.8g) and file-name (34 characters) columns switched on,
    // under a column line; with `parameters` first a header of the transit
    // parameters and what is known of the transits.
    void write(std::string file, bool with_nchi, bool with_boxval, bool with_filename,
               bool parameters);
    // Rows of time (%10.18g) and noise-free flux (%10.8g).
    void write_nonoise(std::string file, bool magnitudes, bool unused);
    // Rows of time (%10.18g), flux without transits and error (%10.8g); in
    // magnitudes the error is half the magnitude difference of flux - error
    // and flux + error.
    void write_removed(std::string file, bool magnitudes, bool unused);
    // Rows of trial frequency and signal residue of the box search (%16.10g).
    void write_SR(std::string file, bool unused);
    // The folded light curve as write writes the light curve (the phase
    // %10.8g in place of the time), without the parameter header.
    void write_folded(std::string file, bool with_nchi, bool with_boxval, bool with_filename,
                      bool unused);

    // ---- FITS binary tables (fitstables.cc) ---------------------------------
    // One binary table "TABLE_BINARY" per file, an existing regular file
    // that may be written replaced: one column per quantity with unit
    // "none", "JD" as double and every other column as float. Refusals as
    // the text writers; a file that cannot be created, or a name whose file
    // may not be replaced (a folder, a write-protected file, a name with an
    // extension or section such as "x.fits[1]"), prints "error: cannot open
    // file <name> for writing" on standard error and ends the process with
    // status 255 (write_binary, write_SR_binary, write_nonoise_binary,
    // write_removed_binary) or the same with " fits for writing"
    // (write_folded_binary). A table that cannot be written wholly is
    // reported with "error: cannot write file <name>".

    // "JD", "flux", "error", then "nchi" and "boxval" when switched on.
    void write_binary(std::string file, bool with_nchi, bool with_boxval, bool unused1,
                      bool unused2);
    // "phase", "flux", "error", then "nchi" and "boxval" of the fold.
    void write_folded_binary(std::string file, bool with_nchi, bool with_boxval, bool unused1,
                             bool unused2);
    // "1/p" and "SR" of the box search.
    void write_SR_binary(std::string file, bool unused);
    // "JD" and the noise-free "flux".
    void write_nonoise_binary(std::string file, bool unused1, bool unused2);
    // "JD", the "flux" without transits and "error".
    void write_removed_binary(std::string file, bool unused1, bool unused2);

    // ---- box-fit result files (boxfiles.cc) ---------------------------------
    // The light curve folded at peak c (1..10) of the box search and binned
    // in `bins` phase bins (0: not binned), with the peak's box model: the
    // in-transit level within 0.4999 - tau/2 .. 0.5001 + tau/2 in phase, the
    // out-of-transit level elsewhere. The light curve stays folded (and
    // binned) at the peak, phased_boxval holding the box model when asked
    // for. The magnitude switch converts the written flux, error and box
    // values (not the light curve) and needs the boxval switch; without it
    // fluxes are written, with a message. A slot without a peak is refused
    // with "error: no peak in slot c!" and nothing changes.

    // Rows of phase, flux and error, then the nchi, boxval and file-name
    // columns switched on, as write_folded; with `parameters` first a line of
    // the peak's SDE, period, epoch, width and the source file.
    void write_boxed(std::string file, int c, bool magnitudes, bool with_nchi, bool with_filename,
                     bool with_boxval, int bins, bool parameters);
    // The same as a table of "phase", "flux", "error", "nchi" and "boxval"
    // as write_folded_binary writes it, timed by a stopwatch whose status
    // box is printed.
    void write_boxed_binary(std::string file, int c, bool magnitudes, bool with_nchi,
                            bool with_filename, bool with_boxval, int bins, bool parameters);

private:
    // Prints the message of a guard that needs data; true when there are.
    bool checkData() const;
    // The points that count, in ascending order: those with a finite time
    // and flux and an error that weighs them (weights.h). Any other point
    // enters no sum, mean, median, weight or search, so that it changes
    // nothing about the rest: they end as they would without it. Where no
    // error weighs and some are 0 (a light curve without noise, as a
    // simulation at noise level 0 makes), the points of error 0 count and
    // weigh alike; alike, when given, tells which.
    std::vector<int> countedPoints(bool *alike = nullptr) const;
    // The first such point; 0 when there is none.
    int firstCountedPoint() const;
    // The same for the entries of the folded light curve: a finite phase and
    // flux and an error that weighs them.
    std::vector<int> countedEntries(bool *alike = nullptr) const;
    // The elements of a at the points that count, in order, indexed from 1.
    orv::MArray<double, 1> atCountedPoints(const orv::MArray<double, 1> &a) const;
    // A light curve of the given points alone: their times, fluxes, errors
    // and, while valid, fluxes without transits.
    Lightcurve pointsOnly(const std::vector<int> &points) const;
    // The mean error of the points that count, as countedPoints lists them
    // (the noise of a simulation).
    double meanCountedError(const std::vector<int> &points) const;
    // Divides fluxes and errors by the median flux of the points that count.
    void divideByMedian();
    // The fold at period P and epoch T, both usable, T taken as it is.
    void foldAt(double P, double T);

    // ---- simulation helpers (simulation.cc) ---------------------------------
    // Whether there is a noise level for each of n points; prints the
    // refusal when not.
    static bool levelsCover(const orv::MArray<double, 1> &levels, int n);
    // Replaces the data by the points at the times t with the noise levels
    // as errors (flux and noise not yet set), and forgets the results derived
    // from the old data.
    void startSimulation(const orv::MArray<double, 1> &t, const orv::MArray<double, 1> &levels);

    // ---- analytic transit helpers (analytical.cc) ---------------------------
    // Stores the model of the analytic transit.
    void setTransitModel(double period, double t0, double inclination, double m_star, double r_star,
                         double r_planet, double gamma1, double gamma2);
    // Keeps flux in a new removed_flux, then adds the transit of the stored
    // model to flux, and to nonoise_flux as well when asked.
    void addTransit(bool small_planet, bool to_nonoise);
    // fold_quick at the model's period and mid-transit epoch.
    void foldAtTransit();
    // tau and drop of the stored model.
    void setTransitShape();
    // The points in transit, the transits with the points of each, and snr.
    void countTransits();

    // ---- file helpers (files.cc, boxfiles.cc) -------------------------------
    // Becomes the light curve `points` as read from file.
    void replaceBy(const Lightcurve &points, const std::string &file, bool mags);
    // Reads raw records of three numbers of type Number.
    template <class Number>
    void readRecords(const std::string &file, bool mags);
    // Whether peak c can be written in `bins` phase bins (0: unbinned); the
    // refusal is printed when not, before any file is made.
    bool boxedReady(int c, bool magnitudes, bool with_boxval, int bins) const;
    // The box model of peak c in phased_boxval (when with_boxval) and the
    // flux, error and box values to be written, converted to magnitudes when
    // asked for.
    void boxedValues(int c, bool magnitudes, bool with_boxval, orv::MArray<double, 1> &f,
                     orv::MArray<double, 1> &e, orv::MArray<double, 1> &bv);

    // Per point (1..length) and folded (1..phased_length).
    orv::MArray<std::string, 1> filename;
    orv::MArray<std::string, 1> phased_filename;
    orv::MArray<double, 1> jd;
    orv::MArray<double, 1> flux; // magnitudes when `magnitudes` is set
    orv::MArray<double, 1> error;
    orv::MArray<double, 1> weights;
    orv::MArray<double, 1> nchi;
    orv::MArray<double, 1> boxval;
    orv::MArray<double, 1> phase;
    orv::MArray<double, 1> phased_flux;
    orv::MArray<double, 1> phased_error;
    orv::MArray<double, 1> phased_weights;
    orv::MArray<double, 1> phased_nchi;
    orv::MArray<double, 1> phased_boxval;
    orv::MArray<double, 1> removed_flux; // valid when transits_removed
    orv::MArray<double, 1> nonoise_flux; // valid when nonoise
    // Box search: per trial frequency, then per peak (1..10).
    orv::MArray<double, 1> sr;
    orv::MArray<double, 1> frequency;
    orv::MArray<double, 1> sde;
    orv::MArray<double, 1> period_box;
    orv::MArray<double, 1> reserved_box;
    orv::MArray<double, 1> out_level_box;
    orv::MArray<double, 1> in_level_box;
    orv::MArray<double, 1> tau_box;
    orv::MArray<double, 1> t0_box;
    orv::MArray<int, 1> points_per_transit; // 1..number_transits

    bool has_data = false;
    bool weighted = false;
    bool folded = false;
    bool boxfitted = false;
    bool transits_removed = false;
    bool nonoise = false;
    bool magnitudes = false;
    bool analytical = false;

    int length = 0;
    int phased_length = 0;
    int number_transit_points = -1; // -1: not counted
    int number_transits = -1;

    double rednoise = 0; // of a simulation
    double noise = 0;
    double norm = 0; // weighted mean removed by renorm
    double period = 0;
    double tau = 0; // fractional transit length
    double t0 = 0;
    double drop = 0;
    double snr = 0;
    // Orbit and star of the analytic transit model.
    double inclination = 0;
    double m_star = 0;
    double r_star = 0;
    double r_planet = 0;
    double gamma1 = 0;
    double gamma2 = 0;

    std::string source_file;
};

#endif
