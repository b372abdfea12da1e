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
// The operations are grouped by topic; each group is defined in a source
// file of its own (named at the group), so that further groups add their
// declarations here and their definitions beside the others.
#ifndef LIGHTCURVE_LIGHTCURVE_H
#define LIGHTCURVE_LIGHTCURVE_H

#include <string>

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
    Lightcurve(orv::MArray<double, 1> jd, orv::MArray<double, 1> flux, orv::MArray<double, 1> error);
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
    Lightcurve(const Lightcurve&) = default;
    Lightcurve& operator=(const Lightcurve& other);

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
    // Multiplies fluxes and errors by s.
    void scale(double s);
    // Multiplies each error by its nchi.
    void nchi_scale();
    // weights = (1/error^2) / sum of all 1/error^2.
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
    // Divides fluxes and errors by the median flux.
    void normalize();
    // The same, refused for magnitudes.
    void normalize_flux();
    // Magnitudes to fluxes, then normalize_flux (median flux 1).
    void convert2flux();
    // Fluxes to magnitudes whose median is the zero point z.
    void convert2mag(double z);

    // ---- folding and phase binning (folding.cc) -------------------------------
    // A fold at period P and epoch T puts T + kP at phase 0.5 and every time
    // into [0, 1); an epoch of exactly 0 stands for jd[1] + P/2, which puts
    // the first point at phase 0. The fold keeps P and the epoch used as the
    // light curve's period and t0 and holds every per-point array in phase
    // order (points of equal phase in their order) as new phased arrays.
    // Refused without points.

    void fold_quick(double P, double T);
    void fold_quick(double P);
    // At the light curve's own period and t0.
    void fold_quick();
    // The same as fold_quick.
    void fold(double P, double T);
    void fold(double P);
    void fold();
    // Replaces the folded light curve (phases, fluxes, errors) by its means in
    // N equal phase bins, each point weighted by 1/error^2; the error of a bin
    // is 1/sqrt(sum of the weights). Bins without weight are dropped. The
    // other phased arrays keep their per-point content.
    void binning_phased(int N);
    // phased_weights = (1/phased_error^2) / sum of all 1/phased_error^2.
    void calc_phased_weights();

    // ---- box-shaped transit search (boxsearch.cc) -----------------------------
    // Searches nf trial frequencies evenly spaced from 1/plong to 1/pshort for
    // periodic box-shaped dips whose width, a fraction of the period, lies in
    // [qmin, qmax]. At each frequency the light curve is folded (and binned
    // into nbins phase bins, 0 for none) and every run of consecutive entries,
    // or its complement through phase 0, is scored by its signal residue. The
    // ten strongest frequencies more than five steps apart become the peaks
    // 1..10 with their period, epoch of mid-transit, width, flux levels and
    // signal detection efficiency; slots without a peak read 0. The fluxes
    // keep their values; the light curve is left weighted and folded (and
    // binned) at the last trial frequency with its mean flux subtracted.
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
    // Refused without points.

    // Removes the points whose phase in a fold at period P and epoch T (used
    // as it is, 0 included) lies within 0.4999 - q/2 .. 0.5001 + q/2; the
    // arrays become new ones.
    void maskTransit(double P, double T, double q);
    // Removes the points whose flux lies kappa standard deviations or more
    // from the median flux, prints the median and the standard deviation,
    // then weighs the rest and subtracts their weighted mean (calc_weights,
    // renorm). Returns the number removed.
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
    // points in ascending time.

    // Windows of time width W sliding along the light curve in steps of a
    // fifth of the smallest time step. Row k: k, the scatter of the means of
    // the windows of k points about the median flux, rms/sqrt(k) (both
    // divided by the median) and the number of such windows; rows of sizes
    // with fewer than two windows hold 0. Prints the median and rms/median.
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
    // noise expectation error[1]/sqrt(k), printed (leaving the precision of
    // standard output at 3) and, as 2k and the red-noise amplitude, written
    // to "corrspec.tbl".
    void analyse_rednoise(double D) const;

private:
    // Points 1..length of a per-point array, as a view.
    orv::MArray<double, 1> points(const orv::MArray<double, 1>& a) const;
    // Prints the message of a guard that needs data; true when there are.
    bool checkData() const;
    // Divides fluxes and errors by the median flux.
    void divideByMedian();

    // Per point (1..length) and folded (1..phased_length).
    orv::MArray<std::string, 1> filename;
    orv::MArray<std::string, 1> phased_filename;
    orv::MArray<double, 1> jd;
    orv::MArray<double, 1> flux;  // magnitudes when `magnitudes` is set
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
    orv::MArray<double, 1> removed_flux;  // valid when transits_removed
    orv::MArray<double, 1> nonoise_flux;  // valid when nonoise
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
    orv::MArray<int, 1> points_per_transit;  // 1..number_transits

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
    int number_transit_points = -1;  // -1: not counted
    int number_transits = -1;

    double rednoise = 0;  // of a simulation
    double noise = 0;
    double norm = 0;  // weighted mean removed by renorm
    double period = 0;
    double tau = 0;  // fractional transit length
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
